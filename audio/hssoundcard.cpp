// SPDX-License-Identifier: GPL-3.0-or-later

#include "hssoundcard.h"

#include "audioplatform.h"
#include "log.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

constexpr const char* kCategory = "PortAudio";

// Largest capture buffer (frameSizeIn x frameInMult); no single block, capture or playback, may
// exceed it either.
constexpr long long kMaxBufferFrames = 65536;
// Largest playback buffer: the largest block times the deepest buffer multiplier offered (x8).
constexpr long long kMaxPlaybackBufferFrames = kMaxBufferFrames * 8;

// A capture is judged silent after this many of its buffers, and never sooner than kMinSilenceMs.
constexpr qint64 kSilentBuffers = 4;
constexpr qint64 kMinSilenceMs = 500;

qint64 steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool refuse(const char* what, long long value) {
    HSLOG(LogLevel::Error, kCategory) << "Audio configuration refused: " << what << " " << value;
    return false;
}

} // namespace

StreamFormat streamFormatForHost(int hostSampleRate, int hostFrameSize) {
    return {2 * hostSampleRate, 2 * hostFrameSize, 2 * hostFrameSize};
}

HSSoundCard::HSSoundCard(QObject* parent)
    : QObject(parent) {}

void HSSoundCard::EnumerateAudioDevices() {
    const QMutexLocker guard(&deviceLock);
    if (catalogued && !streamsOpen())
        restartSoundSystem();
    catalogue = listDevices();
    catalogued = true;
    devices.output = catalogue.outputDevices.value(deviceNames.output, -1);
    devices.speaker = catalogue.outputDevices.value(deviceNames.speaker, -1);
    devices.input = catalogue.inputDevices.value(deviceNames.input, -1);
    HSLOG(LogLevel::Info, kCategory)
        << "Audio devices: " << catalogue.inputDevices.size() << " capture, "
        << catalogue.outputDevices.size() << " playback";
}

QStringList HSSoundCard::captureDeviceNames() const {
    const QMutexLocker guard(&deviceLock);
    return catalogue.inputDevices.keys();
}

QStringList HSSoundCard::playbackDeviceNames() const {
    const QMutexLocker guard(&deviceLock);
    return catalogue.outputDevices.keys();
}

// A lookup before any enumeration (a connect pressed while the device probe still ran) builds the
// catalogue first. The name is kept for reopening the device later, when its index may differ.
int HSSoundCard::lookUp(const QMap<QString, int>& direction, const QString& name,
                        QString& chosenName, int& chosenIndex) {
    const QMutexLocker guard(&deviceLock);
    if (!catalogued)
        EnumerateAudioDevices();
    chosenName = name;
    chosenIndex = direction.value(name, -1);
    return chosenIndex;
}

int HSSoundCard::findOutputDevice(const QString& name) {
    return lookUp(catalogue.outputDevices, name, deviceNames.output, devices.output);
}

int HSSoundCard::findSpeakerDevice(const QString& name) {
    return lookUp(catalogue.outputDevices, name, deviceNames.speaker, devices.speaker);
}

int HSSoundCard::findInputDevice(const QString& name) {
    return lookUp(catalogue.inputDevices, name, deviceNames.input, devices.input);
}

void HSSoundCard::setBufferMultipliers(int playback, int capture) {
    playbackMult = playback;
    captureMult = capture;
}

bool HSSoundCard::StartAudio(const StreamFormat& format) {
    const QMutexLocker guard(&deviceLock);
    if (!available())
        return false;
    if (streamsOpen()) {
        HSLOG(LogLevel::Info, kCategory) << "Audio streams still open, stopping them first";
        StopAudio();
    }
    if (!configurationIsPlayable(format))
        return false;
    streamFormat = format;
    if (!openAll(streamFormat)) {
        closeStreams();
        return false;
    }
    latency = 0.0f;
    faulted = false;
    lastCaptureMs = steadyMs();
    started = true;
    return true;
}

bool HSSoundCard::openAll(const StreamFormat& format) {
    speakerWanted = speaker;
    DeviceChoice chosen = devices;
    if (!speakerWanted)
        chosen.speaker = -1;
    if (!openStreams(format, chosen))
        return false;
    if (speakerWanted && !speakerOpen())
        HSLOG(LogLevel::Warning, kCategory) << "Speaker \"" << deviceNames.speaker
                                            << "\" cannot be opened; the virtual cable plays on";
    return true;
}

bool HSSoundCard::RestartAudio() {
    const QMutexLocker guard(&deviceLock);
    StopAudio();
    EnumerateAudioDevices();
    return StartAudio(streamFormat);
}

QString HSSoundCard::failedDevice() const {
    const QMutexLocker guard(&deviceLock);
    if (faulted)
        return faultedDevice;
    const qint64 bufferMs = captureBufferFrames(streamFormat.frameSizeIn, captureMult) * 1000 /
                            std::max(streamFormat.sampleRate, 1);
    if (steadyMs() - lastCaptureMs > std::max(kSilentBuffers * bufferMs, kMinSilenceMs))
        return deviceNames.input;
    return {};
}

void HSSoundCard::reportStreamFault(Stream stream) {
    if (faulted)
        return;
    faultedDevice = stream == Stream::Cable     ? deviceNames.output
                    : stream == Stream::Speaker ? deviceNames.speaker
                                                : deviceNames.input;
    faulted = true;
}

// A hostile or broken host description must not reach the sound system or the buffers sized
// from it.
bool HSSoundCard::configurationIsPlayable(const StreamFormat& f) const {
    if (f.sampleRate <= 0)
        return refuse("sampleRate", f.sampleRate);
    if (f.frameSizeOut <= 0 || f.frameSizeOut > kMaxBufferFrames)
        return refuse("frameSizeOut", f.frameSizeOut);
    if (f.frameSizeIn <= 0 || f.frameSizeIn > kMaxBufferFrames)
        return refuse("frameSizeIn", f.frameSizeIn);
    if (playbackMult <= 0)
        return refuse("frameOutMult", playbackMult);
    if (captureMult <= 0)
        return refuse("frameInMult", captureMult);
    const long long captureFrames = captureBufferFrames(f.frameSizeIn, captureMult);
    if (captureFrames > kMaxBufferFrames)
        return refuse("capture buffer frames", captureFrames);
    const long long playbackFrames = static_cast<long long>(f.frameSizeOut) * playbackMult;
    if (playbackFrames > kMaxPlaybackBufferFrames)
        return refuse("playback buffer frames", playbackFrames);
    return true;
}

void HSSoundCard::StopAudio() {
    const QMutexLocker guard(&deviceLock);
    started = false;
    if (!available())
        return;
    closeStreams();
    latency = 0.0f;
}

void HSSoundCard::StreamOut(QByteArray& dataIn) {
    if (!available())
        return;
    const int frames = streamFormat.frameSizeOut;
    if (frames <= 0 || frames > kMaxBufferFrames)
        return;
    const char* block = playableBlock(dataIn, frames);
    writePlayback(block, frames);
    meterPlayback(block, frames);
    if (speaker != speakerWanted)
        RestartAudio();
    if (speakerOpen())
        playToSpeaker(block, frames);
}

// A block shorter than one write is padded with silence, so no write reads past its end.
const char* HSSoundCard::playableBlock(const QByteArray& dataIn, int frames) {
    const int bytes = frames * kBytesPerStereoFrame;
    if (dataIn.size() >= bytes)
        return dataIn.constData();
    paddedBlock.resize(bytes);
    std::memcpy(paddedBlock.data(), dataIn.constData(), dataIn.size());
    std::memset(paddedBlock.data() + dataIn.size(), 0, bytes - dataIn.size());
    return paddedBlock.constData();
}

void HSSoundCard::meterPlayback(const char* block, int frames) {
    const StereoLevels levels = stereoBlockLevelDb(reinterpret_cast<const qint16*>(block), frames);
    HSVUMeter& m = vuMeterOut;
    m.valueLeft = smoothLevel(m.valueLeft, levels.left, m.riseFactor, m.fallFactor);
    m.valueRight = smoothLevel(m.valueRight, levels.right, m.riseFactor, m.fallFactor);
}

void HSSoundCard::playToSpeaker(const char* block, int frames) {
    const int bytes = frames * kBytesPerStereoFrame;
    if (speakerCopy.size() < bytes)
        speakerCopy.resize(bytes);
    if (copyForSpeaker(block, bytes, receiver, speakerCopy.data()))
        writeSpeaker(speakerCopy.constData(), frames);
    else
        writeSpeaker(block, frames);
}

void HSSoundCard::prepareCapture(int bufferFrames) {
    captureHandOver.prepare(reducedCaptureBytes(bufferFrames));
    capturedData = QByteArray();
}

const QByteArray& HSSoundCard::latestCapturedData() {
    captureHandOver.take(capturedData);
    return capturedData;
}

void HSSoundCard::deliverCapture(const qint16* samples, int frameCount, float latencySeconds) {
    if (frameCount < 0 || frameCount > kMaxBufferFrames)
        return;
    QByteArray& block = captureHandOver.writeBuffer();
    block.resize(reducedCaptureBytes(frameCount));
    reduceCapture(samples, frameCount, block.data());
    captureHandOver.publish();
    emit inDataReady();

    if (frameCount > 0) {
        HSVUMeter& m = vuMeterIn;
        m.value =
            smoothLevel(m.value, blockLevelDb(samples, frameCount), m.riseFactor, m.fallFactor);
    }
    latency = latencySeconds;
    lastCaptureMs = steadyMs();
}
