#include "hsportaudio.h"

#include "audioplatform.h"
#include "devicecatalogue.h"
#include "hsvumeter.h"
#include "log.h"
#include "portaudiowarmup.h"
#include "samplemath.h"

#include <QVector>

#include <cstring>

namespace {

constexpr int kPlaybackChannels = 2;
constexpr int kCaptureChannels = 1;

// Largest capture buffer of the design (frameSizeIn x frameInMult); no single block, capture or
// playback, may exceed it either.
constexpr long long kMaxBufferFrames = 65536;
// Largest playback buffer: the largest block times the deepest buffer multiplier offered (x8).
constexpr long long kMaxPlaybackBufferFrames = kMaxBufferFrames * 8;

QVector<DeviceDescription> describeDevices(int count) {
    QVector<DeviceDescription> devices(count);
    for (int i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (!info)
            continue;
        DeviceDescription& device = devices[i];
        device.name = QString::fromUtf8(info->name);
        if (const PaHostApiInfo* hostApi = Pa_GetHostApiInfo(info->hostApi))
            device.hostApiName = QString::fromUtf8(hostApi->name);
        device.maxInputChannels = info->maxInputChannels;
        device.maxOutputChannels = info->maxOutputChannels;
        device.defaultSampleRate = info->defaultSampleRate;
    }
    return devices;
}

PaError initialisePortAudio() {
    routePlatformAudioDiagnostics();
    awaitPortAudioWarmUp();
    return Pa_Initialize();
}

bool refuse(const char* what, long long value) {
    HSLOG(LogLevel::Error, "PortAudio") << "Audio configuration refused: " << what << " " << value;
    return false;
}

} // namespace

HSPortAudio::HSPortAudio(QObject* parent)
    : QObject(parent)
    , paInitError(paNotInitialized)
    , vuMeterOut(new HSVUMeter(this))
    , vuMeterIn(new HSVUMeter(this)) {
    if (!portAudioWarmUpPending())
        finishInitialisation();
}

HSPortAudio::~HSPortAudio() {
    HSLOG(LogLevel::Info, "PortAudio") << "Terminate audio";
    if (initialisationPending) {
        // Never needed PortAudio, so it holds no reference; the probe must not outlive it.
        awaitPortAudioWarmUp();
        return;
    }
    if (paInitError == paNoError) {
        closeStreams();
        inputLatency = 0.0f;
    }
    Pa_Terminate();
}

void HSPortAudio::finishInitialisation() {
    if (!initialisationPending)
        return;
    initialisationPending = false;
    paInitError = initialisePortAudio();
}

void HSPortAudio::EnumerateAudioDevices() {
    finishInitialisation();
    catalogued = true;
    const int count = Pa_GetDeviceCount();
    if (paInitError != paNoError)
        return;
    inputDevices.clear();
    outputDevices.clear();
    if (count < 1)
        return;
    DeviceCatalogue catalogue =
        catalogueDevices(describeDevices(count), QString::fromLatin1(kHostApiPattern));
    inputDevices = std::move(catalogue.inputDevices);
    outputDevices = std::move(catalogue.outputDevices);
    HSLOG(LogLevel::Info, "PortAudio") << "Audio devices: " << inputDevices.size() << " capture, "
                                       << outputDevices.size() << " playback";
}

void HSPortAudio::ensureCatalogue() {
    if (!catalogued)
        EnumerateAudioDevices();
}

int HSPortAudio::findOutputDevice(const QString& name) {
    ensureCatalogue();
    outputDeviceIndex = outputDevices.value(name, -1);
    return outputDeviceIndex;
}

int HSPortAudio::findSpeakerDevice(const QString& name) {
    ensureCatalogue();
    speakerDeviceIndex = outputDevices.value(name, -1);
    return speakerDeviceIndex;
}

int HSPortAudio::findInputDevice(const QString& name) {
    ensureCatalogue();
    inputDeviceIndex = inputDevices.value(name, -1);
    return inputDeviceIndex;
}

bool HSPortAudio::StartAudio() {
    finishInitialisation();
    if (paInitError != paNoError)
        return false;
    if (outputStream || speakerStream || inputStream) {
        HSLOG(LogLevel::Info, "PortAudio") << "Audio streams still open, stopping them first";
        StopAudio();
    }
    if (!configurationIsPlayable())
        return false;
    if (!openPlayback(&outputStream, outputDeviceIndex, "Error opening AUDIO output"))
        return failStart();
    if (!openPlayback(&speakerStream, speakerDeviceIndex, "Error opening AUDIO SPK output"))
        return failStart();
    if (!openCapture())
        return failStart();
    if (Pa_StartStream(outputStream) != paNoError || Pa_StartStream(speakerStream) != paNoError ||
        Pa_StartStream(inputStream) != paNoError)
        return failStart();
    inputLatency = 0.0f;
    return true;
}

// A hostile or broken host description must not reach PortAudio or the buffers sized from it.
bool HSPortAudio::configurationIsPlayable() {
    if (sampleRate <= 0)
        return refuse("sampleRate", sampleRate);
    if (frameSizeOut <= 0 || frameSizeOut > kMaxBufferFrames)
        return refuse("frameSizeOut", frameSizeOut);
    if (frameSizeIn <= 0 || frameSizeIn > kMaxBufferFrames)
        return refuse("frameSizeIn", frameSizeIn);
    if (frameOutMult <= 0)
        return refuse("frameOutMult", frameOutMult);
    if (frameInMult <= 0)
        return refuse("frameInMult", frameInMult);
    const long long captureFrames = captureBufferFrames(frameSizeIn, frameInMult);
    if (captureFrames > kMaxBufferFrames)
        return refuse("capture buffer frames", captureFrames);
    const long long playbackFrames = static_cast<long long>(frameSizeOut) * frameOutMult;
    if (playbackFrames > kMaxPlaybackBufferFrames)
        return refuse("playback buffer frames", playbackFrames);
    return true;
}

bool HSPortAudio::openPlayback(PaStream** stream, int deviceIndex, const char* failureText) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(deviceIndex);
    if (!info)
        return false;
    outputParameters.device = deviceIndex;
    outputParameters.channelCount = kPlaybackChannels;
    outputParameters.sampleFormat = paInt16;
    outputParameters.suggestedLatency = info->defaultLowOutputLatency;
    outputParameters.hostApiSpecificStreamInfo = nullptr;
    const PaError error = Pa_OpenStream(stream, nullptr, &outputParameters, sampleRate,
                                        static_cast<unsigned long>(frameSizeOut) * frameOutMult,
                                        paClipOff, nullptr, nullptr);
    if (error != paNoError) {
        *stream = nullptr;
        HSLOG(LogLevel::Error, "PortAudio") << failureText;
        return false;
    }
    return true;
}

bool HSPortAudio::openCapture() {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(inputDeviceIndex);
    if (!info)
        return false;
    inputParameters.device = inputDeviceIndex;
    inputParameters.channelCount = kCaptureChannels;
    inputParameters.sampleFormat = paInt16;
    inputParameters.suggestedLatency = info->defaultLowInputLatency;
    inputParameters.hostApiSpecificStreamInfo = nullptr;
    const auto bufferFrames =
        static_cast<unsigned long>(captureBufferFrames(frameSizeIn, frameInMult));
    // The callback's buffers are reserved before it can run; the worker starts from no block.
    captureHandOver.prepare(reducedCaptureBytes(static_cast<int>(bufferFrames)));
    capturedData = QByteArray();
    const PaError error =
        Pa_OpenStream(&inputStream, &inputParameters, nullptr, sampleRate, bufferFrames, paClipOff,
                      &HSPortAudio::captureCallback, this);
    if (error != paNoError) {
        inputStream = nullptr;
        HSLOG(LogLevel::Error, "PortAudio") << "Error opening AUDIO input";
        return false;
    }
    return true;
}

bool HSPortAudio::failStart() {
    closeStreams();
    return false;
}

void HSPortAudio::closeStreams() {
    for (PaStream** stream : {&inputStream, &outputStream, &speakerStream}) {
        if (*stream) {
            Pa_StopStream(*stream);
            Pa_CloseStream(*stream);
            *stream = nullptr;
        }
    }
}

void HSPortAudio::StopAudio() {
    if (paInitError != paNoError)
        return;
    closeStreams();
    inputLatency = 0.0f;
}

// A block shorter than one write is padded with silence, so no write reads past its end.
const char* HSPortAudio::playableBlock(const QByteArray& dataIn, int frames) {
    const int bytes = frames * kBytesPerStereoFrame;
    if (dataIn.size() >= bytes)
        return dataIn.constData();
    paddedBlock.resize(bytes);
    std::memcpy(paddedBlock.data(), dataIn.constData(), dataIn.size());
    std::memset(paddedBlock.data() + dataIn.size(), 0, bytes - dataIn.size());
    return paddedBlock.constData();
}

void HSPortAudio::StreamOut(QByteArray& dataIn) {
    if (paInitError != paNoError)
        return;
    const int frames = frameSizeOut;
    if (frames <= 0 || frames > kMaxBufferFrames)
        return;
    const char* block = playableBlock(dataIn, frames);
    if (outputStream)
        Pa_WriteStream(outputStream, block, static_cast<unsigned long>(frames));

    const StereoLevels levels = stereoBlockLevelDb(reinterpret_cast<const qint16*>(block), frames);
    vuMeterOut->valueLeft = smoothLevel(vuMeterOut->valueLeft, levels.left, vuMeterOut->riseFactor,
                                        vuMeterOut->fallFactor);
    vuMeterOut->valueRight = smoothLevel(vuMeterOut->valueRight, levels.right,
                                         vuMeterOut->riseFactor, vuMeterOut->fallFactor);
    emit vuMeterOut->valueUpdatedLeft(vuMeterOut->valueLeft);
    emit vuMeterOut->valueUpdatedRight(vuMeterOut->valueRight);

    if (speakerStream && speakerOn)
        writeSpeaker(block, frames);
}

void HSPortAudio::writeSpeaker(const char* block, int frames) {
    if (audioOutMode == static_cast<int>(SpeakerMode::BothReceivers)) {
        Pa_WriteStream(speakerStream, block, static_cast<unsigned long>(frames));
        return;
    }
    const int bytes = frames * kBytesPerStereoFrame;
    if (speakerCopy.size() < bytes)
        speakerCopy.resize(bytes);
    if (copyForSpeaker(block, bytes, audioOutMode, speakerCopy.data()))
        Pa_WriteStream(speakerStream, speakerCopy.constData(), static_cast<unsigned long>(frames));
}

const QByteArray& HSPortAudio::latestCapturedData() {
    captureHandOver.take(capturedData);
    return capturedData;
}

int HSPortAudio::captureCallback(const void* input, void* /*output*/, unsigned long frameCount,
                                 const PaStreamCallbackTimeInfo* timeInfo,
                                 PaStreamCallbackFlags /*statusFlags*/, void* userData) {
    auto* self = static_cast<HSPortAudio*>(userData);
    if (input && frameCount <= static_cast<unsigned long>(kMaxBufferFrames))
        self->handleCapture(static_cast<const qint16*>(input), static_cast<int>(frameCount),
                            timeInfo);
    return paContinue;
}

void HSPortAudio::handleCapture(const qint16* samples, int frameCount,
                                const PaStreamCallbackTimeInfo* timeInfo) {
    QByteArray& block = captureHandOver.writeBuffer();
    block.resize(reducedCaptureBytes(frameCount));
    reduceCapture(samples, frameCount, block.data());
    captureHandOver.publish();
    emit inDataReady();

    if (frameCount > 0) {
        vuMeterIn->value = smoothLevel(vuMeterIn->value, blockLevelDb(samples, frameCount),
                                       vuMeterIn->riseFactor, vuMeterIn->fallFactor);
        emit vuMeterIn->valueUpdated(vuMeterIn->value);
    }
    inputLatency = static_cast<float>(timeInfo->inputBufferAdcTime - Pa_GetStreamTime(inputStream));
}
