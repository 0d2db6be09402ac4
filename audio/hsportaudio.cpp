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
// A capture device that is not listed says nothing of its latency: a sound server's period.
constexpr double kCaptureLatencySeconds = 0.02;

// The texts of the streams' failures, as operators know them.
const char* openingFailure(CardDevice device) {
    switch (device) {
    case CardDevice::Cable:
        return "Error opening AUDIO output";
    case CardDevice::Speaker:
        return "Error opening AUDIO SPK output";
    case CardDevice::Capture:
        return "Error opening AUDIO input";
    }
    return "";
}

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

// Starts a stream Pa_OpenStream answered `opened` for; one that did not open or will not start
// leaves no handle.
bool startOpened(PaStream*& stream, PaError opened) {
    PaError error = opened;
    if (error == paNoError && (error = Pa_StartStream(stream)) != paNoError)
        Pa_CloseStream(stream);
    if (error != paNoError)
        stream = nullptr;
    return error == paNoError;
}

PaError initialisePortAudio() {
    awaitPortAudioWarmUp();
    const PaError result = startPortAudio();
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
    // A device switch still running would call into this object from its thread.
    awaitDeviceSwitches();
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
    paInitError = startPortAudio();
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

// The device by its index, or by its name when the index is unknown or no longer opens it (the
// device plugged back in elsewhere); -1 when neither addresses it.
bool HSPortAudio::openStream(CardDevice device, const CardConfig& config, int index,
                             const QString& name) {
    const bool capture = device == CardDevice::Capture;
    const auto tryOpen = [&](const PaStreamParameters& parameters) {
        if (capture)
            return openCapture(parameters, config.format, config.settings.frameInMult);
        return openPlayback(device == CardDevice::Cable ? cable : speaker, parameters,
                            config.format.sampleRate);
    };
    PaStreamParameters parameters{};
    parameters.channelCount = capture ? kCaptureChannels : kPlaybackChannels;
    parameters.sampleFormat = paInt16;
    parameters.suggestedLatency = capture ? kCaptureLatencySeconds : kPlaybackBufferSeconds;
    bool tried = false;
    if (const PaDeviceInfo* info = index >= 0 ? Pa_GetDeviceInfo(index) : nullptr) {
        parameters.device = index;
        if (capture)
            parameters.suggestedLatency = info->defaultLowInputLatency;
        if (tryOpen(parameters))
            return true;
        tried = true;
    }
    UnlistedDevice unlisted;
    if (unlisted.address(parameters, name)) {
        if (tryOpen(parameters))
            return true;
        tried = true;
    }
    // A device that is simply not there is the card's to report.
    if (tried)
        HSLOG(LogLevel::Error, kCategory) << openingFailure(device);
    return false;
}

void HSPortAudio::closeStream(CardDevice device) {
    switch (device) {
    case CardDevice::Cable:
        return closePlayback(cable);
    case CardDevice::Speaker:
        return closePlayback(speaker);
    case CardDevice::Capture:
        return closeCapture();
    }
}

bool HSPortAudio::deviceGone(const QString& name) {
    return definitions.undefined(name);
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
bool HSPortAudio::openPlayback(StreamSink& sink, const PaStreamParameters& device, double rate) {
    PaStreamParameters parameters = device;
    if (const PaDeviceInfo* info = Pa_GetDeviceInfo(device.device))
        parameters.suggestedLatency =
            std::max(info->defaultLowOutputLatency, kPlaybackBufferSeconds);
    preparePlaybackStream();
    const PaError opened = Pa_OpenStream(&sink.stream, nullptr, &parameters, rate,
                                         paFramesPerBufferUnspecified, paClipOff, nullptr, nullptr);
    prepareCaptureStream();
    return startOpened(sink.stream, opened);
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

bool HSPortAudio::openCapture(const PaStreamParameters& device, const StreamFormat& format,
                              int captureBlocks) {
    const auto bufferFrames = captureBufferFrames(format.frameSizeIn, captureBlocks);
    const PaError opened = Pa_OpenStream(&inputStream, &device, nullptr, format.sampleRate,
                                         static_cast<unsigned long>(bufferFrames), paClipOff,
                                         &HSPortAudio::captureCallback, this);
    if (opened == paNoError)
        raiseCallbackPriority(inputStream, device.device);
    return startOpened(inputStream, opened);
}

void HSPortAudio::closeCapture() {
    if (!inputStream)
        return;
    Pa_StopStream(inputStream);
    Pa_CloseStream(inputStream);
    inputStream = nullptr;
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
