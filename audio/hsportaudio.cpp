// SPDX-License-Identifier: GPL-3.0-or-later

#include "hsportaudio.h"

#include "audioplatform.h"
#include "log.h"
#include "portaudiowarmup.h"

#include <QVector>

#include <algorithm>
#include <climits>

namespace {

constexpr const char* kCategory = "PortAudio";
constexpr int kPlaybackChannels = 2;
constexpr int kCaptureChannels = 1;

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
    const PaError result = Pa_Initialize();
    releasePortAudioWarmUp();
    return result;
}

} // namespace

HSPortAudio::HSPortAudio(QObject* parent)
    : HSSoundCard(parent) {
    if (!portAudioWarmUpPending())
        finishInitialisation();
}

HSPortAudio::~HSPortAudio() {
    HSLOG(LogLevel::Info, kCategory) << "Terminate audio";
    // A speaker switch still running would call into this object from its thread.
    awaitSpeakerSwitch();
    if (initialisationPending) {
        // Never needed PortAudio, so it holds no reference; the probe must not outlive it.
        awaitPortAudioWarmUp();
        return;
    }
    if (paInitError == paNoError)
        closeStreams();
    Pa_Terminate();
}

void HSPortAudio::finishInitialisation() {
    if (!initialisationPending)
        return;
    initialisationPending = false;
    paInitError = initialisePortAudio();
}

bool HSPortAudio::available() {
    finishInitialisation();
    return paInitError == paNoError;
}

// PortAudio reads the sound system's devices only when it is initialised.
void HSPortAudio::restartSoundSystem() {
    if (available())
        Pa_Terminate();
    paInitError = Pa_Initialize();
    HSLOG(LogLevel::Info, kCategory) << "PortAudio restarted to read the sound devices again";
    if (paInitError != paNoError)
        HSLOG(LogLevel::Error, kCategory)
            << "PortAudio cannot start: " << Pa_GetErrorText(paInitError);
    releaseAudioProbeLeftovers();
}

DeviceCatalogue HSPortAudio::listDevices() {
    if (!available())
        return {};
    const int count = Pa_GetDeviceCount();
    if (count < 1)
        return {};
    return catalogueDevices(describeDevices(count), QString::fromLatin1(kHostApiPattern));
}

bool HSPortAudio::openStreams(const CardConfig& config, const DeviceChoice& devices) {
    if (!openPlayback(cable, devices.output, config.format, "Error opening AUDIO output"))
        return false;
    return openCapture(devices.input, config.format, config.settings.frameInMult) &&
           Pa_StartStream(cable.stream) == paNoError && Pa_StartStream(inputStream) == paNoError;
}

bool HSPortAudio::openSpeaker(const StreamFormat& format, int device) {
    if (!openPlayback(speaker, device, format, "Error opening AUDIO SPK output"))
        return false;
    if (Pa_StartStream(speaker.stream) == paNoError)
        return true;
    closeSpeaker();
    return false;
}

void HSPortAudio::closeSpeaker() {
    closePlayback(speaker);
}

// Aborted rather than stopped: what it still holds is of no use once the stream ends, and
// waiting for it to play out would hold the worker.
void HSPortAudio::closePlayback(StreamSink& sink) {
    if (!sink.stream)
        return;
    Pa_AbortStream(sink.stream);
    Pa_CloseStream(sink.stream);
    sink.stream = nullptr;
}

// A blocking stream with room for the playout's largest target: the receiver writes it as audio
// comes and keeps it nearly empty, so its room is never the limit and the audio waits in it only
// for the card's next cycle and the jitter margin.
bool HSPortAudio::openPlayback(StreamSink& sink, int deviceIndex, const StreamFormat& format,
                               const char* failureText) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(deviceIndex);
    if (!info)
        return false;
    PaStreamParameters parameters{};
    parameters.device = deviceIndex;
    parameters.channelCount = kPlaybackChannels;
    parameters.sampleFormat = paInt16;
    parameters.suggestedLatency = std::max(info->defaultLowOutputLatency, kPlaybackBufferSeconds);
    preparePlaybackStream();
    const PaError error = Pa_OpenStream(&sink.stream, nullptr, &parameters, format.sampleRate,
                                        paFramesPerBufferUnspecified, paClipOff, nullptr, nullptr);
    prepareCaptureStream();
    if (error != paNoError) {
        sink.stream = nullptr;
        HSLOG(LogLevel::Error, kCategory) << failureText;
        return false;
    }
    return true;
}

long HSPortAudio::StreamSink::writable() {
    return stream ? Pa_GetStreamWriteAvailable(stream) : -1;
}

// Within what writable() said, so it never waits; an underflow the card reported is already
// behind it.
void HSPortAudio::StreamSink::write(const std::int16_t* frames, long count) {
    if (stream)
        Pa_WriteStream(stream, frames, static_cast<unsigned long>(count));
}

bool HSPortAudio::openCapture(int deviceIndex, const StreamFormat& format, int captureBlocks) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(deviceIndex);
    if (!info)
        return false;
    PaStreamParameters parameters{};
    parameters.device = deviceIndex;
    parameters.channelCount = kCaptureChannels;
    parameters.sampleFormat = paInt16;
    parameters.suggestedLatency = info->defaultLowInputLatency;
    const auto bufferFrames = captureBufferFrames(format.frameSizeIn, captureBlocks);
    prepareCapture(static_cast<int>(bufferFrames));
    const PaError error = Pa_OpenStream(&inputStream, &parameters, nullptr, format.sampleRate,
                                        static_cast<unsigned long>(bufferFrames), paClipOff,
                                        &HSPortAudio::captureCallback, this);
    if (error != paNoError) {
        inputStream = nullptr;
        HSLOG(LogLevel::Error, kCategory) << "Error opening AUDIO input";
        return false;
    }
    return true;
}

void HSPortAudio::closeStreams() {
    if (inputStream) {
        Pa_StopStream(inputStream);
        Pa_CloseStream(inputStream);
        inputStream = nullptr;
    }
    closePlayback(cable);
    closePlayback(speaker);
}

bool HSPortAudio::streamsOpen() const {
    return cable.stream || speaker.stream || inputStream;
}

int HSPortAudio::captureCallback(const void* input, void* /*output*/, unsigned long frameCount,
                                 const PaStreamCallbackTimeInfo* timeInfo,
                                 PaStreamCallbackFlags /*statusFlags*/, void* userData) {
    auto* self = static_cast<HSPortAudio*>(userData);
    if (input && frameCount <= static_cast<unsigned long>(INT_MAX)) {
        const auto latency =
            static_cast<float>(timeInfo->inputBufferAdcTime - Pa_GetStreamTime(self->inputStream));
        self->deliverCapture(static_cast<const std::int16_t*>(input), static_cast<int>(frameCount),
                             latency);
    }
    return paContinue;
}
