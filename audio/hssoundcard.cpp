// SPDX-License-Identifier: GPL-3.0-or-later

#include "hssoundcard.h"

#include "audioplatform.h"
#include "log.h"

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
    // "Auto" (one block) asks for the smallest target that works; deeper buffers set its floor.
    const int floorFrames = playbackMult > 1 ? playbackMult * format.frameSizeOut / 2 : 0;
    estimator.reset(format.sampleRate / 2, floorFrames);
    resetPlayout(cable);
    speakerStream = SpeakerStream::Closed;
    const qint64 now = steadyMs();
    lastCaptureMs = lastCableMs = now;
    if (!openStreams(streamFormat, devices)) {
        closeStreams();
        return false;
    }
    latency = 0.0f;
    faulted = false;
    started = true;
    followSpeakerSwitch();
    return true;
}

// A playout joins the stream where the next datagram goes, so a speaker attached to a running
// stream starts with the cable's next audio.
void HSSoundCard::resetPlayout(Playout& playout) {
    playout.reset(streamFormat.sampleRate / 2, streamFormat.sampleRate,
                  streamFormat.frameSizeOut / 2, estimator.nextPosition());
}

// A switch still under way is followed up when it has ended, by the next datagram. The speaker's
// playout is reset only while its stream is closed, so never under a running callback.
void HSSoundCard::followSpeakerSwitch() {
    const bool wanted = speaker;
    switch (speakerStream.load()) {
    case SpeakerStream::Closed:
        if (wanted) {
            resetPlayout(speakerPlayout);
            speakerStream = SpeakerStream::Opening;
            switchSpeaker([this] { attachSpeaker(); });
        }
        return;
    case SpeakerStream::Open:
    case SpeakerStream::Refused:
        if (!wanted) {
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
    lastSpeakerMs = steadyMs();
    const bool opened = devices.speaker >= 0 && openSpeaker(streamFormat, devices.speaker);
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
    return StartAudio(streamFormat);
}

// Asked on the worker's thread: while another thread opens or closes a stream the devices are
// judged at the next check, rather than the worker waiting for the sound system.
QString HSSoundCard::failedDevice() const {
    std::unique_lock<QRecursiveMutex> guard(deviceLock, std::try_to_lock);
    if (!guard.owns_lock())
        return {};
    if (faulted)
        return faultedDevice;
    if (stalled(lastCaptureMs, captureBufferFrames(streamFormat.frameSizeIn, captureMult)))
        return deviceNames.input;
    if (stalled(lastCableMs, streamFormat.frameSizeOut))
        return deviceNames.output;
    if (speakerStream == SpeakerStream::Open && stalled(lastSpeakerMs, streamFormat.frameSizeOut))
        return deviceNames.speaker;
    return {};
}

bool HSSoundCard::stalled(const std::atomic<qint64>& lastMs, qint64 bufferFrames) const {
    const qint64 bufferMs = bufferFrames * 1000 / std::max(streamFormat.sampleRate, 1);
    return steadyMs() - lastMs > std::max(kSilentBuffers * bufferMs, kMinSilenceMs);
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
    speakerStream = SpeakerStream::Closed;
    latency = 0.0f;
}

std::int64_t HSSoundCard::arrivalNs(int /*hostFrames*/) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A trailing partial frame is left out: a frame is only played whole.
void HSSoundCard::StreamOut(const QByteArray& datagram) {
    if (!started)
        return;
    followSpeakerSwitch();
    const int frames = datagram.size() / kBytesPerStereoFrame;
    if (frames <= 0)
        return;
    const auto* block = reinterpret_cast<const qint16*>(datagram.constData());
    const JitterEstimator::Placement at = estimator.arrival(arrivalNs(frames), frames);
    cable.push(at.position, block, frames, at.dueNs);
    cable.setTarget(at.target);
    // Queued from the moment the speaker's stream is asked for: it starts with the latest audio.
    const SpeakerStream speakerState = speakerStream;
    if (speakerState == SpeakerStream::Opening || speakerState == SpeakerStream::Open)
        queueForSpeaker(block, frames, at);
    meterPlayback(block, frames);
}

void HSSoundCard::meterPlayback(const qint16* block, int frames) {
    const StereoLevels levels = stereoBlockLevelDb(block, frames);
    HSVUMeter& m = vuMeterOut;
    m.valueLeft = smoothLevel(m.valueLeft, levels.left, m.riseFactor, m.fallFactor);
    m.valueRight = smoothLevel(m.valueRight, levels.right, m.riseFactor, m.fallFactor);
}

void HSSoundCard::queueForSpeaker(const qint16* block, int frames,
                                  const JitterEstimator::Placement& at) {
    const int bytes = frames * kBytesPerStereoFrame;
    if (speakerCopy.size() < bytes)
        speakerCopy.resize(bytes);
    const bool copied =
        copyForSpeaker(reinterpret_cast<const char*>(block), bytes, receiver, speakerCopy.data());
    speakerPlayout.push(at.position,
                        copied ? reinterpret_cast<const qint16*>(speakerCopy.constData()) : block,
                        frames, at.dueNs);
    speakerPlayout.setTarget(at.target);
}

void HSSoundCard::pullCable(qint16* out, int frames, std::int64_t nowNs) {
    cable.pull(out, frames, nowNs);
    lastCableMs.store(steadyMs(), std::memory_order_relaxed);
}

void HSSoundCard::pullSpeaker(qint16* out, int frames, std::int64_t nowNs) {
    speakerPlayout.pull(out, frames, nowNs);
    lastSpeakerMs.store(steadyMs(), std::memory_order_relaxed);
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
