// SPDX-License-Identifier: GPL-3.0-or-later

#include "hsportaudio.h"

#include "audioplatform.h"
#include "log.h"
#include "portaudiowarmup.h"

#include <QVector>

#include <algorithm>
#include <chrono>
#include <climits>
#include <thread>

namespace {

constexpr const char* kCategory = "PortAudio";
constexpr int kPlaybackChannels = 2;
constexpr int kCaptureChannels = 1;
// How long a playback write may wait for room: this many blocks, and never less than kMinWriteWait.
constexpr int kWriteWaitBlocks = 4;
constexpr std::chrono::microseconds kMinWriteWait(500000);

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

bool HSPortAudio::openStreams(const StreamFormat& format, const DeviceChoice& devices) {
    sampleRate = format.sampleRate;
    if (!openPlayback(&outputStream, devices.output, format, "Error opening AUDIO output"))
        return false;
    if (devices.speaker >= 0)
        openPlayback(&speakerStream, devices.speaker, format, "Error opening AUDIO SPK output");
    if (!openCapture(devices.input, format) || Pa_StartStream(outputStream) != paNoError)
        return false;
    if (speakerStream && Pa_StartStream(speakerStream) != paNoError) {
        Pa_CloseStream(speakerStream);
        speakerStream = nullptr;
    }
    return Pa_StartStream(inputStream) == paNoError;
}

bool HSPortAudio::speakerOpen() const {
    return speakerStream != nullptr;
}

bool HSPortAudio::openPlayback(PaStream** stream, int deviceIndex, const StreamFormat& format,
                               const char* failureText) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(deviceIndex);
    if (!info)
        return false;
    PaStreamParameters parameters{};
    parameters.device = deviceIndex;
    parameters.channelCount = kPlaybackChannels;
    parameters.sampleFormat = paInt16;
    parameters.suggestedLatency = info->defaultLowOutputLatency;
    const PaError error = Pa_OpenStream(stream, nullptr, &parameters, format.sampleRate,
                                        static_cast<unsigned long>(playbackBufferFrames()),
                                        paClipOff, nullptr, nullptr);
    if (error != paNoError) {
        *stream = nullptr;
        HSLOG(LogLevel::Error, kCategory) << failureText;
        return false;
    }
    return true;
}

bool HSPortAudio::openCapture(int deviceIndex, const StreamFormat& format) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(deviceIndex);
    if (!info)
        return false;
    PaStreamParameters parameters{};
    parameters.device = deviceIndex;
    parameters.channelCount = kCaptureChannels;
    parameters.sampleFormat = paInt16;
    parameters.suggestedLatency = info->defaultLowInputLatency;
    const auto bufferFrames = captureBufferFrames(format.frameSizeIn, frameInMult());
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
    for (PaStream** stream : {&inputStream, &outputStream, &speakerStream}) {
        if (*stream) {
            Pa_StopStream(*stream);
            Pa_CloseStream(*stream);
            *stream = nullptr;
        }
    }
}

bool HSPortAudio::streamsOpen() const {
    return outputStream || speakerStream || inputStream;
}

void HSPortAudio::writePlayback(const char* frames, int frameCount) {
    if (outputStream)
        writeWithin(outputStream, Stream::Cable, frames, frameCount);
}

void HSPortAudio::writeSpeaker(const char* frames, int frameCount) {
    if (speakerStream)
        writeWithin(speakerStream, Stream::Speaker, frames, frameCount);
}

// Waits for room as a blocking write would, which paces the worker at the device's rate, but
// never for longer than a device that still plays could need: a dead device must not hold the
// worker. Such a block is dropped and the stream reported.
void HSPortAudio::writeWithin(PaStream* stream, Stream role, const char* frames, int frameCount) {
    const auto blockTime = std::chrono::microseconds(1000000LL * frameCount / sampleRate);
    const auto deadline =
        std::chrono::steady_clock::now() + std::max(kWriteWaitBlocks * blockTime, kMinWriteWait);
    for (;;) {
        const long room = Pa_GetStreamWriteAvailable(stream);
        if (room < 0)
            break;
        if (room >= frameCount) {
            Pa_WriteStream(stream, frames, static_cast<unsigned long>(frameCount));
            return;
        }
        if (std::chrono::steady_clock::now() > deadline)
            break;
        const auto missing =
            std::chrono::microseconds(1000000LL * (frameCount - room) / sampleRate);
        std::this_thread::sleep_for(std::max(missing, std::chrono::microseconds(500)));
    }
    reportStreamFault(role);
}

int HSPortAudio::captureCallback(const void* input, void* /*output*/, unsigned long frameCount,
                                 const PaStreamCallbackTimeInfo* timeInfo,
                                 PaStreamCallbackFlags /*statusFlags*/, void* userData) {
    auto* self = static_cast<HSPortAudio*>(userData);
    if (input && frameCount <= static_cast<unsigned long>(INT_MAX)) {
        const auto latency =
            static_cast<float>(timeInfo->inputBufferAdcTime - Pa_GetStreamTime(self->inputStream));
        self->deliverCapture(static_cast<const qint16*>(input), static_cast<int>(frameCount),
                             latency);
    }
    return paContinue;
}
