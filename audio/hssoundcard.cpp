// SPDX-License-Identifier: GPL-3.0-or-later

#include "hssoundcard.h"

#include "audioplatform.h"
#include "log.h"
#include "samplemath.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>

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

CardConfig cardConfigFor(int hostSampleRate, int hostFrameSize, const CardSettings& settings) {
    return {streamFormatForHost(hostSampleRate, hostFrameSize), settings};
}

HSSoundCard::HSSoundCard(QObject* parent)
    : QObject(parent) {
    speakerSwitches.setMaxThreadCount(1);
}

void HSSoundCard::switchSpeaker(std::function<void()> job) {
    speakerSwitches.start(std::move(job));
}

void HSSoundCard::awaitSpeakerSwitch() {
    speakerSwitches.waitForDone();
}

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

bool HSSoundCard::StartAudio(const CardConfig& start) {
    const QMutexLocker guard(&deviceLock);
    if (!available())
        return false;
    if (streamsOpen()) {
        HSLOG(LogLevel::Info, kCategory) << "Audio streams still open, stopping them first";
        StopAudio();
    }
    if (!configurationIsPlayable(start))
        return false;
    config = start;
    speaker = start.settings.speakerOn;
    receiver = start.settings.audioOutMode;
    speakerStream = SpeakerStream::Closed;
    lastCaptureMs = steadyMs();
    if (!openStreams(config, devices)) {
        closeStreams();
        return false;
    }
    const StreamFormat& f = config.format;
    // "Auto" (one block) asks for the smallest target that works; deeper buffers set its floor.
    const int floorFrames =
        config.settings.frameOutMult > 1 ? config.settings.frameOutMult * f.frameSizeOut / 2 : 0;
    playback.start({f.sampleRate / 2, f.sampleRate, f.frameSizeOut / 2, floorFrames}, cableSink());
    latency = 0.0f;
    captureFaulted = false;
    started = true;
    followSpeakerSwitch();
    return true;
}

// A switch still under way is followed up when it has ended, by the next datagram or service. The
// speaker's playout joins the stream when its opening is asked for, so that it starts with the
// latest audio, and its stream is written once it is open.
void HSSoundCard::followSpeakerSwitch() {
    const bool wanted = speaker;
    switch (speakerStream.load()) {
    case SpeakerStream::Closed:
        if (wanted) {
            playback.startSpeaker();
            speakerWritten = false;
            speakerStream = SpeakerStream::Opening;
            switchSpeaker([this] { attachSpeaker(); });
        }
        return;
    case SpeakerStream::Open:
        if (!speakerWritten) {
            playback.attachSpeaker(speakerSink());
            speakerWritten = true;
        }
        [[fallthrough]];
    case SpeakerStream::Refused:
        if (!wanted) {
            playback.stopSpeaker();
            speakerStream = SpeakerStream::Closing;
            switchSpeaker([this] { detachSpeaker(); });
        }
        return;
    case SpeakerStream::Opening:
    case SpeakerStream::Closing:
        return;
    }
}

// The switch's thread. Streams stopped meanwhile have closed the speaker with them.
void HSSoundCard::attachSpeaker() {
    const QMutexLocker guard(&deviceLock);
    if (speakerStream != SpeakerStream::Opening)
        return;
    const bool opened = devices.speaker >= 0 && openSpeaker(config.format, devices.speaker);
    speakerStream = opened ? SpeakerStream::Open : SpeakerStream::Refused;
    if (opened)
        HSLOG(LogLevel::Info, kCategory) << "Speaker on: \"" << deviceNames.speaker << "\"";
    else
        HSLOG(LogLevel::Warning, kCategory) << "Speaker \"" << deviceNames.speaker
                                            << "\" cannot be opened; the virtual cable plays on";
}

void HSSoundCard::detachSpeaker() {
    const QMutexLocker guard(&deviceLock);
    if (speakerStream != SpeakerStream::Closing)
        return;
    closeSpeaker();
    speakerStream = SpeakerStream::Closed;
    HSLOG(LogLevel::Info, kCategory) << "Speaker off";
}

bool HSSoundCard::RestartAudio() {
    awaitSpeakerSwitch();
    const QMutexLocker guard(&deviceLock);
    StopAudio();
    EnumerateAudioDevices();
    return StartAudio(config);
}

// Asked on the worker's thread: while another thread opens or closes a stream the devices are
// judged at the next check, rather than the worker waiting for the sound system.
QString HSSoundCard::failedDevice() {
    std::unique_lock<QRecursiveMutex> guard(deviceLock, std::try_to_lock);
    if (!guard.owns_lock())
        return {};
    if (captureFaulted || stalled(lastCaptureMs, captureBufferFrames(config.format.frameSizeIn,
                                                                     config.settings.frameInMult)))
        return deviceNames.input;
    const std::int64_t now = nowNs();
    if (playback.cableFailed() || playbackStalled(playback.cableTakenNs(), now))
        return deviceNames.output;
    if (speakerStream == SpeakerStream::Open &&
        (playback.speakerFailed() || playbackStalled(playback.speakerTakenNs(), now)))
        return deviceNames.speaker;
    return {};
}

bool HSSoundCard::playbackStalled(std::int64_t lastTakenNs, std::int64_t now) const {
    const qint64 bufferMs =
        config.format.frameSizeOut * 1000LL / std::max(config.format.sampleRate, 1);
    const qint64 limitMs = std::max(kSilentBuffers * bufferMs, kMinSilenceMs);
    return lastTakenNs >= 0 && now - lastTakenNs > limitMs * 1'000'000;
}

bool HSSoundCard::stalled(const std::atomic<qint64>& lastMs, qint64 bufferFrames) const {
    const qint64 bufferMs = bufferFrames * 1000 / std::max(config.format.sampleRate, 1);
    return steadyMs() - lastMs > std::max(kSilentBuffers * bufferMs, kMinSilenceMs);
}

void HSSoundCard::reportCaptureFault() {
    captureFaulted = true;
}

// A hostile or broken host description must not reach the sound system or the buffers sized
// from it.
bool HSSoundCard::configurationIsPlayable(const CardConfig& c) const {
    const StreamFormat& f = c.format;
    if (f.sampleRate <= 0)
        return refuse("sampleRate", f.sampleRate);
    if (f.frameSizeOut <= 0 || f.frameSizeOut > kMaxBufferFrames)
        return refuse("frameSizeOut", f.frameSizeOut);
    if (f.frameSizeIn <= 0 || f.frameSizeIn > kMaxBufferFrames)
        return refuse("frameSizeIn", f.frameSizeIn);
    const int playbackBlocks = c.settings.frameOutMult, captureBlocks = c.settings.frameInMult;
    if (playbackBlocks <= 0)
        return refuse("frameOutMult", playbackBlocks);
    if (captureBlocks <= 0)
        return refuse("frameInMult", captureBlocks);
    const long long captureFrames = captureBufferFrames(f.frameSizeIn, captureBlocks);
    if (captureFrames > kMaxBufferFrames)
        return refuse("capture buffer frames", captureFrames);
    const long long playbackFrames = static_cast<long long>(f.frameSizeOut) * playbackBlocks;
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
    playback.start({}, nullptr);
    speakerStream = SpeakerStream::Closed;
    latency = 0.0f;
}

std::int64_t HSSoundCard::nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::int64_t HSSoundCard::arrivalNs(int /*hostFrames*/) {
    return nowNs();
}

// A trailing partial frame is left out: a frame is only played whole.
void HSSoundCard::StreamOut(const QByteArray& datagram) {
    if (!started)
        return;
    followSpeakerSwitch();
    const int frames = datagram.size() / kBytesPerStereoFrame;
    if (frames <= 0)
        return;
    const auto* block = reinterpret_cast<const std::int16_t*>(datagram.constData());
    const std::int16_t* speakerBlock = nullptr;
    if (playback.speakerFed()) {
        const int bytes = frames * kBytesPerStereoFrame;
        if (speakerCopy.size() < bytes)
            speakerCopy.resize(bytes);
        if (copyForSpeaker(datagram.constData(), bytes, receiver, speakerCopy.data()))
            speakerBlock = reinterpret_cast<const std::int16_t*>(speakerCopy.constData());
    }
    playback.datagram(block, frames, speakerBlock, arrivalNs(frames));
    meterPlayback(block, frames);
}

int HSSoundCard::ServicePlayback() {
    if (!started)
        return -1;
    followSpeakerSwitch();
    const std::int64_t now = nowNs();
    const std::int64_t next = servicePlaybackAt(now);
    // Never later than asked: a timer fires no earlier than it is set for.
    return static_cast<int>(std::clamp<std::int64_t>((next - now) / 1'000'000, 0, 1000));
}

std::int64_t HSSoundCard::servicePlaybackAt(std::int64_t atNs) {
    return playback.service(atNs);
}

void HSSoundCard::meterPlayback(const std::int16_t* block, int frames) {
    const StereoLevels levels = stereoBlockLevelDb(block, frames);
    HSVUMeter& m = vuMeterOut;
    m.valueLeft = smoothLevel(m.valueLeft, levels.left, m.riseFactor, m.fallFactor);
    m.valueRight = smoothLevel(m.valueRight, levels.right, m.riseFactor, m.fallFactor);
}

void HSSoundCard::prepareCapture(int bufferFrames) {
    captureHandOver.prepare(reducedCaptureBytes(bufferFrames));
    capturedData = QByteArray();
}

const QByteArray& HSSoundCard::latestCapturedData() {
    captureHandOver.take(capturedData);
    return capturedData;
}

void HSSoundCard::deliverCapture(const std::int16_t* samples, int frameCount,
                                 float latencySeconds) {
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
