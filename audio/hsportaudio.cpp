// SPDX-License-Identifier: GPL-3.0-or-later

#include "hsportaudio.h"

#include "audioplatform.h"
#include "log.h"
#include "portaudiowarmup.h"

#include <QVector>

#include <chrono>
#include <climits>

namespace {

constexpr const char* kCategory = "PortAudio";
constexpr int kPlaybackChannels = 2;
constexpr int kCaptureChannels = 1;

std::int64_t steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
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

bool HSPortAudio::openStreams(const StreamFormat& format, const DeviceChoice& devices) {
    if (!openPlayback(&outputStream, devices.output, format,
                      &HSPortAudio::playbackCallback<&HSPortAudio::pullCable>,
                      "Error opening AUDIO output"))
        return false;
    return openCapture(devices.input, format) && Pa_StartStream(outputStream) == paNoError &&
           Pa_StartStream(inputStream) == paNoError;
}

bool HSPortAudio::openSpeaker(const StreamFormat& format, int device) {
    if (!openPlayback(&speakerStream, device, format,
                      &HSPortAudio::playbackCallback<&HSPortAudio::pullSpeaker>,
                      "Error opening AUDIO SPK output"))
        return false;
    if (Pa_StartStream(speakerStream) == paNoError)
        return true;
    closeSpeaker();
    return false;
}

// Aborted rather than stopped: what it still holds is of no use once the speaker is off, and
// waiting for it to play out would hold the worker.
void HSPortAudio::closeSpeaker() {
    if (!speakerStream)
        return;
    Pa_AbortStream(speakerStream);
    Pa_CloseStream(speakerStream);
    speakerStream = nullptr;
}

// One host block at the streams' rate per callback: the playout's target, not the card's buffer,
// holds the received audio's margin.
bool HSPortAudio::openPlayback(PaStream** stream, int deviceIndex, const StreamFormat& format,
                               PaStreamCallback* callback, const char* failureText) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(deviceIndex);
    if (!info)
        return false;
    PaStreamParameters parameters{};
    parameters.device = deviceIndex;
    parameters.channelCount = kPlaybackChannels;
    parameters.sampleFormat = paInt16;
    parameters.suggestedLatency = info->defaultLowOutputLatency;
    const PaError error =
        Pa_OpenStream(stream, nullptr, &parameters, format.sampleRate,
                      static_cast<unsigned long>(format.frameSizeOut), paClipOff, callback, this);
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

template <void (HSSoundCard::*pull)(qint16*, int, std::int64_t)>
int HSPortAudio::playbackCallback(const void* /*input*/, void* output, unsigned long frameCount,
                                  const PaStreamCallbackTimeInfo* /*timeInfo*/,
                                  PaStreamCallbackFlags /*statusFlags*/, void* userData) {
    if (frameCount <= static_cast<unsigned long>(INT_MAX))
        (static_cast<HSPortAudio*>(userData)->*pull)(static_cast<qint16*>(output),
                                                     static_cast<int>(frameCount), steadyNs());
    return paContinue;
}
