// SPDX-License-Identifier: GPL-3.0-or-later

#include "hssoundcard.h"

#include "audioplatform.h"
#include "log.h"
#include "samplemath.h"
#include "soundwatchdog.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>

namespace {

constexpr const char* kCategory = "PortAudio";

// The milliseconds rounded down, never later than asked: a timer fires no earlier than it is set
// for.
PlaybackDue dueAt(std::int64_t atNs, std::int64_t nowNs) {
    return {atNs, static_cast<int>(std::clamp<std::int64_t>((atNs - nowNs) / 1'000'000, 0, 1000))};
}

} // namespace

HSSoundCard::HSSoundCard(QObject* parent)
    : QObject(parent) {
    deviceSwitches.setMaxThreadCount(1);
}

// The pool's thread is started by the audio worker's, whose priority it would otherwise keep.
void HSSoundCard::switchDevice(std::function<void()> job) {
    deviceSwitches.start([job = std::move(job)] {
        runAtOrdinaryPriority();
        job();
    });
}

void HSSoundCard::awaitDeviceSwitches() {
    deviceSwitches.waitForDone();
}

void HSSoundCard::EnumerateAudioDevices() {
    const QMutexLocker guard(&deviceLock);
    if (catalogued && !streamsOpen())
        restartSoundSystem();
    catalogue = listDevices();
    catalogued = true;
    for (const CardDevice device : kCardDevices)
        use(device).index = listFor(device).value(use(device).name, -1);
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

const QMap<QString, int>& HSSoundCard::listFor(CardDevice device) const {
    return device == CardDevice::Capture ? catalogue.inputDevices : catalogue.outputDevices;
}

int HSSoundCard::lookUp(const QString& name, CardDevice device) const {
    const QMutexLocker guard(&deviceLock);
    return listFor(device).value(name, -1);
}

int HSSoundCard::findOutputDevice(const QString& name) const {
    return lookUp(name, CardDevice::Cable);
}

int HSSoundCard::findSpeakerDevice(const QString& name) const {
    return lookUp(name, CardDevice::Speaker);
}

int HSSoundCard::findInputDevice(const QString& name) const {
    return lookUp(name, CardDevice::Capture);
}

// The devices the settings name. A start before any list was read (a connect pressed while the
// device probe still ran) reads the first; a name missing from the list read last may belong to a
// device plugged in since, so the list is read again once (no stream is open here). A device
// still missing is looked for while the others play.
void HSSoundCard::lookUpDevices(const CardSettings& settings) {
    if (!catalogued)
        EnumerateAudioDevices();
    for (const CardDevice device : kCardDevices) {
        use(device).name = deviceName(settings, device);
        use(device).index = lookUp(use(device).name, device);
    }
    const bool listed = use(CardDevice::Cable).index >= 0 && use(CardDevice::Capture).index >= 0 &&
                        (use(CardDevice::Speaker).index >= 0 || !settings.speakerOn);
    if (!listed)
        EnumerateAudioDevices();
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
    lookUpDevices(config.settings);
    speaker = start.settings.speakerOn;
    receiver = start.settings.audioOutMode;
    const StreamFormat& f = config.format;
    capture.prepare(
        static_cast<int>(captureBufferFrames(f.frameSizeIn, config.settings.frameInMult)));
    watchdog.reset();
    forgetDevices();
    for (const CardDevice device : {CardDevice::Cable, CardDevice::Capture}) {
        DeviceInUse& chosen = use(device);
        chosen.lost = chosen.index < 0;
        if (chosen.index < 0) {
            chosen.state = DeviceState::Missing;
            HSLOG(LogLevel::Warning, kCategory)
                << "Sound device \"" << chosen.name << "\" is missing; the other devices play on";
        } else if (openStream(device, config, chosen.index, chosen.name)) {
            chosen.state = DeviceState::Open;
        } else {
            closeStreams();
            forgetDevices();
            return false;
        }
    }
    DeviceInUse& cable = use(CardDevice::Cable);
    cable.written = cable.state == DeviceState::Open;
    playback.start(receiverSetup(config));
    if (cable.written)
        playback.attach(CardDevice::Cable, cableSink());
    capture.clearLatency();
    started = true;
    followDevices();
    return true;
}

bool HSSoundCard::wanted(CardDevice device) const {
    return started && (device != CardDevice::Speaker || speaker);
}

// The cable found again plays from where the stream is then.
void HSSoundCard::followDevices() {
    followSpeakerSwitch();
    DeviceInUse& cable = use(CardDevice::Cable);
    if (cable.state == DeviceState::Open && !cable.written) {
        playback.attach(CardDevice::Cable, cableSink());
        cable.written = true;
    }
}

// A switch still under way is followed up when it has ended, by the next datagram or service. The
// speaker's playout joins the stream when its opening is asked for, so that it starts with the
// latest audio, and its stream is written once it is open.
void HSSoundCard::followSpeakerSwitch() {
    const bool on = speaker;
    DeviceInUse& chosen = use(CardDevice::Speaker);
    switch (chosen.state.load()) {
    case DeviceState::Closed:
        if (on) {
            playback.feed(CardDevice::Speaker);
            chosen.written = false;
            chosen.state = DeviceState::Opening;
            switchDevice([this] { openDevice(CardDevice::Speaker); });
        }
        return;
    case DeviceState::Open:
        if (!chosen.written) {
            playback.attach(CardDevice::Speaker, speakerSink());
            chosen.written = true;
        }
        [[fallthrough]];
    case DeviceState::Missing:
        if (!on) {
            playback.detach(CardDevice::Speaker);
            chosen.state = DeviceState::Closing;
            switchDevice([this] {
                closeDevice(CardDevice::Speaker, DeviceState::Closing, DeviceState::Closed);
            });
        }
        return;
    case DeviceState::Opening:
    case DeviceState::Closing:
    case DeviceState::Failing:
        return;
    }
}

void HSSoundCard::lookForMissingDevices() {
    for (const CardDevice device : kCardDevices) {
        DeviceInUse& chosen = use(device);
        if (!wanted(device) || chosen.state != DeviceState::Missing)
            continue;
        if (device == CardDevice::Speaker) {
            playback.feed(device);
            chosen.written = false;
        }
        chosen.state = DeviceState::Opening;
        switchDevice([this, device] { openDevice(device); });
    }
}

// The switch's thread. A device missing from the list read last is looked for in a list read
// anew when no stream would be cut by that, and else by its name. Streams stopped meanwhile have
// ended the move.
void HSSoundCard::openDevice(CardDevice device) {
    const QMutexLocker guard(&deviceLock);
    DeviceInUse& chosen = use(device);
    if (chosen.state != DeviceState::Opening)
        return;
    if (chosen.index < 0 && !streamsOpen())
        EnumerateAudioDevices();
    const bool opened = openStream(device, config, chosen.index, chosen.name);
    if (device == CardDevice::Capture && opened) {
        capture.opened();
    }
    chosen.gone = false;
    chosen.lost = !opened;
    chosen.state = opened ? DeviceState::Open : DeviceState::Missing;
    if (device == CardDevice::Speaker && opened)
        HSLOG(LogLevel::Info, kCategory) << "Speaker on: \"" << chosen.name << "\"";
    else if (opened)
        HSLOG(LogLevel::Notice, kCategory)
            << "Sound device \"" << chosen.name << "\" found and opened";
    else if (device == CardDevice::Speaker)
        HSLOG(LogLevel::Warning, kCategory)
            << "Speaker \"" << chosen.name << "\" cannot be opened; the virtual cable plays on";
    else
        HSLOG(LogLevel::Debug, kCategory) << "Sound device \"" << chosen.name << "\" still missing";
}

void HSSoundCard::closeDevice(CardDevice device, DeviceState from, DeviceState to) {
    const QMutexLocker guard(&deviceLock);
    if (use(device).state != from)
        return;
    closeStream(device);
    use(device).lost = to == DeviceState::Missing;
    use(device).state = to;
    if (device == CardDevice::Speaker && to == DeviceState::Closed)
        HSLOG(LogLevel::Info, kCategory) << "Speaker off";
}

void HSSoundCard::closeStreams() {
    for (const CardDevice device : kCardDevices)
        closeStream(device);
}

void HSSoundCard::checkPresence() {
    const QMutexLocker guard(&deviceLock);
    for (DeviceInUse& chosen : inUse)
        if (chosen.state == DeviceState::Open && deviceGone(chosen.name))
            chosen.gone = true;
}

// A stream that stopped working is closed alone; the others play on.
std::optional<QString> HSSoundCard::deviceChange() {
    if (!started)
        return std::nullopt;
    if (watchdog.presenceDue(steadyClockNs()))
        switchDevice([this] { checkPresence(); });
    QString missing;
    for (const CardDevice device : {CardDevice::Capture, CardDevice::Cable, CardDevice::Speaker}) {
        DeviceInUse& chosen = use(device);
        if (chosen.state == DeviceState::Open && stoppedWorking(device)) {
            HSLOG(LogLevel::Warning, kCategory)
                << "Sound device \"" << chosen.name << "\" stopped working, reopening it";
            letGo(device);
            chosen.lost = true;
            chosen.state = DeviceState::Failing;
            switchDevice([this, device] {
                closeDevice(device, DeviceState::Failing, DeviceState::Missing);
            });
        }
        if (missing.isEmpty() && wanted(device) && chosen.lost)
            missing = chosen.name;
    }
    return watchdog.report(missing);
}

bool HSSoundCard::stoppedWorking(CardDevice device) {
    if (use(device).gone.exchange(false))
        return true;
    const std::int64_t now = nowNs();
    const StreamFormat& f = config.format;
    switch (device) {
    case CardDevice::Capture:
        return stalled(
            capture.lastNs(), steadyClockNs(),
            captureBufferFrames(f.frameSizeIn, config.settings.frameInMult), f.sampleRate,
            capture.delivered() ? SoundWatchdog::kMinSilenceMs : SoundWatchdog::kFirstDeliveryMs);
    case CardDevice::Cable:
        return use(device).written &&
               (playback.failed(device) || stalled(playback.takenNs(device), now, f.frameSizeOut,
                                                   f.sampleRate, SoundWatchdog::kMinSilenceMs));
    case CardDevice::Speaker:
        return use(device).written &&
               (playback.failed(device) || stalled(playback.takenNs(device), now, f.frameSizeOut,
                                                   f.sampleRate, SoundWatchdog::kMinSilenceMs));
    }
    return false;
}

// The receiver stops writing a stream that is to be closed.
void HSSoundCard::letGo(CardDevice device) {
    playback.detach(device);
    use(device).written = false;
}

void HSSoundCard::StopAudio() {
    const QMutexLocker guard(&deviceLock);
    started = false;
    if (!available())
        return;
    closeStreams();
    playback.stop();
    forgetDevices();
    capture.clearLatency();
}

void HSSoundCard::forgetDevices() {
    for (DeviceInUse& chosen : inUse) {
        chosen.state = DeviceState::Closed;
        chosen.written = false;
        chosen.lost = false;
    }
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
    followDevices();
    const int frames = datagram.size() / kBytesPerStereoFrame;
    if (frames > 0)
        playback.datagram(datagram, frames, receiver, arrivalNs(frames));
}

PlaybackDue HSSoundCard::ServicePlayback() {
    if (!started)
        return {};
    followDevices();
    const std::int64_t now = nowNs();
    return dueAt(servicePlaybackAt(now), now);
}

PlaybackDue HSSoundCard::playbackDue() {
    if (!started)
        return {};
    const std::int64_t now = nowNs();
    return dueAt(playback.nextServiceNs(now), now);
}

std::int64_t HSSoundCard::servicePlaybackAt(std::int64_t atNs) {
    return playback.service(atNs);
}

void HSSoundCard::deliverCapture(const std::int16_t* samples, int frameCount,
                                 float latencySeconds) {
    if (capture.deliver(samples, frameCount, latencySeconds))
        emit inDataReady();
}
