// SPDX-License-Identifier: GPL-3.0-or-later

#include "hssoundcard.h"

#include "audioplatform.h"
#include "log.h"
#include "samplemath.h"

#include <algorithm>
#include <chrono>

namespace {

constexpr const char* kCategory = "PortAudio";

using DeviceLife::Action;
using DeviceLife::Event;
using DeviceLife::State;

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
    switchDevice([this] { readDeviceList(); });
    awaitDeviceSwitches();
}

int HSSoundCard::findOutputDevice(const QString& name) const {
    return list.indexOf(CardDevice::Cable, name);
}

int HSSoundCard::findSpeakerDevice(const QString& name) const {
    return list.indexOf(CardDevice::Speaker, name);
}

int HSSoundCard::findInputDevice(const QString& name) const {
    return list.indexOf(CardDevice::Capture, name);
}

// The streams are started on the device thread while this one waits, after the closings the
// last stop asked for: the capture hand-over is reserved while no capture runs.
bool HSSoundCard::StartAudio(const CardConfig& start) {
    if (started) {
        HSLOG(LogLevel::Info, kCategory) << "Audio streams still open, stopping them first";
        StopAudio();
    }
    if (!configurationIsPlayable(start))
        return false;
    awaitDeviceSwitches();
    capture.prepare(static_cast<int>(
        captureBufferFrames(start.format.frameSizeIn, start.settings.frameInMult)));
    bool opened = false;
    std::array<int, 3> outcome{};
    switchDevice([&] { opened = openForStart(start, outcome); });
    awaitDeviceSwitches();
    if (!opened)
        return false;
    config = start;
    speaker = config.settings.speakerOn;
    receiver = config.settings.audioOutMode;
    for (std::atomic<int>& stale : outcomes)
        stale = kNoOutcome;
    states.fill(State::Closed);
    playback.start(receiverSetup(config));
    watchdog.reset();
    capture.clearLatency();
    started = true;
    for (const CardDevice device : {CardDevice::Cable, CardDevice::Capture})
        handle(device, Event(outcome[std::size_t(device)]));
    followDevices();
    return true;
}

void HSSoundCard::StopAudio() {
    started = false;
    playback.stop();
    states.fill(State::Closed);
    capture.clearLatency();
    switchDevice([this] { closeStreams(); });
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

// A stream that stopped working is closed alone; the others play on.
std::optional<QString> HSSoundCard::deviceChange() {
    if (!started)
        return std::nullopt;
    followDevices();
    if (watchdog.presenceDue(steadyClockNs())) {
        std::array<QString, 3> open;
        for (const CardDevice device : kCardDevices)
            if (state(device) == State::Open)
                open[std::size_t(device)] = deviceName(config.settings, device);
        switchDevice([this, open] { askWhetherGone(open); });
    }
    QString missing;
    for (const CardDevice device : {CardDevice::Capture, CardDevice::Cable, CardDevice::Speaker}) {
        if (state(device) == State::Open && stoppedWorking(device))
            handle(device, Event::StoppedWorking);
        if (missing.isEmpty() && wanted(device) && DeviceLife::lost(state(device)))
            missing = deviceName(config.settings, device);
    }
    return watchdog.report(missing);
}

void HSSoundCard::lookForMissingDevices() {
    if (!started)
        return;
    followDevices();
    for (const CardDevice device : kCardDevices)
        handle(device, Event::Search);
}

void HSSoundCard::deliverCapture(const std::int16_t* samples, int frameCount,
                                 float latencySeconds) {
    if (capture.deliver(samples, frameCount, latencySeconds))
        emit inDataReady();
}

std::int64_t HSSoundCard::nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::int64_t HSSoundCard::arrivalNs(int /*hostFrames*/) {
    return nowNs();
}

// What the device thread has done since the last look, and where the speaker's switch stands,
// each as its device's event. A switch whose opening or closing is under way is followed once it
// has ended.
void HSSoundCard::followDevices() {
    for (const CardDevice device : kCardDevices)
        if (const int outcome = outcomes[std::size_t(device)].exchange(kNoOutcome);
            outcome != kNoOutcome)
            handle(device, Event(outcome));
    handle(CardDevice::Speaker, speaker ? Event::SpeakerOn : Event::SpeakerOff);
}

void HSSoundCard::handle(CardDevice device, Event event) {
    const DeviceLife::Transition step = DeviceLife::transition(state(device), event);
    state(device) = step.next;
    for (const Action action : step.actions)
        perform(device, action);
}

// An opening takes the configuration of the run with it, by value.
void HSSoundCard::perform(CardDevice device, Action action) {
    switch (action) {
    case Action::Open:
        switchDevice([this, device, run = config] { openDevice(device, run); });
        return;
    case Action::Close:
        switchDevice([this, device] { closeDevice(device); });
        return;
    case Action::Feed:
        playback.feed(device);
        return;
    case Action::Attach:
        if (device != CardDevice::Capture)
            playback.attach(device, device == CardDevice::Cable ? cableSink() : speakerSink());
        return;
    case Action::Detach:
        playback.detach(device);
        return;
    default:
        say(device, action);
    }
}

void HSSoundCard::say(CardDevice device, Action action) const {
    const QString& name = deviceName(config.settings, device);
    const bool isSpeaker = device == CardDevice::Speaker;
    if (action == Action::SayMissing)
        HSLOG(LogLevel::Warning, kCategory)
            << "Sound device \"" << name << "\" is missing; the other devices play on";
    else if (action == Action::SayFound && isSpeaker)
        HSLOG(LogLevel::Info, kCategory) << "Speaker on: \"" << name << "\"";
    else if (action == Action::SayFound)
        HSLOG(LogLevel::Notice, kCategory) << "Sound device \"" << name << "\" found and opened";
    else if (action == Action::SayNotOpened && isSpeaker)
        HSLOG(LogLevel::Warning, kCategory)
            << "Speaker \"" << name << "\" cannot be opened; the virtual cable plays on";
    else if (action == Action::SayNotOpened)
        HSLOG(LogLevel::Debug, kCategory) << "Sound device \"" << name << "\" still missing";
    else if (action == Action::SayStopped)
        HSLOG(LogLevel::Warning, kCategory)
            << "Sound device \"" << name << "\" stopped working, reopening it";
    else if (action == Action::SaySpeakerOff)
        HSLOG(LogLevel::Info, kCategory) << "Speaker off";
}

// A playback stream is judged on the clock it is timed by, the capture on the steady clock its
// callbacks are stamped with. A stream that has not yet begun is given longer: a busy sound server
// links a new stream late.
bool HSSoundCard::stoppedWorking(CardDevice device) {
    if (gone[std::size_t(device)].exchange(false))
        return true;
    const StreamFormat& f = config.format;
    if (device == CardDevice::Capture)
        return stalled(
            capture.lastNs(), steadyClockNs(),
            captureBufferFrames(f.frameSizeIn, config.settings.frameInMult), f.sampleRate,
            capture.delivered() ? SoundWatchdog::kMinSilenceMs : SoundWatchdog::kFirstDeliveryMs);
    return playback.failed(device) ||
           stalled(playback.takenNs(device), nowNs(), f.frameSizeOut, f.sampleRate,
                   playback.hasTaken(device) ? SoundWatchdog::kMinSilenceMs
                                             : SoundWatchdog::kFirstDeliveryMs);
}

// The device thread from here on.

void HSSoundCard::readDeviceList() {
    if (list.read() && !streamsOpen())
        restartSoundSystem();
    const DeviceCatalogue catalogue = listDevices();
    list.replace(catalogue);
    HSLOG(LogLevel::Info, kCategory)
        << "Audio devices: " << catalogue.inputDevices.size() << " capture, "
        << catalogue.outputDevices.size() << " playback";
}

bool HSSoundCard::listed(const CardSettings& settings) const {
    const auto isListed = [&](CardDevice device) {
        return list.indexOf(device, deviceName(settings, device)) >= 0;
    };
    return isListed(CardDevice::Cable) && isListed(CardDevice::Capture) &&
           (isListed(CardDevice::Speaker) || !settings.speakerOn);
}

// A start before any list was read (a connect pressed while the device probe still ran) reads the
// first; a device the list read last does not hold may have been plugged in since, so the list is
// read again once (no stream is open here). A device still missing is looked for while the others
// play; a listed one that cannot be opened fails the start, and nothing is left open.
bool HSSoundCard::openForStart(const CardConfig& start, std::array<int, 3>& outcome) {
    if (!available())
        return false;
    if (!list.read())
        readDeviceList();
    if (!listed(start.settings))
        readDeviceList();
    for (const CardDevice device : {CardDevice::Cable, CardDevice::Capture}) {
        const QString& name = deviceName(start.settings, device);
        const int index = list.indexOf(device, name);
        outcome[std::size_t(device)] = int(index < 0 ? Event::NotOpened : Event::Opened);
        if (index >= 0 && !openStream(device, start, index, name)) {
            closeStreams();
            return false;
        }
        gone[std::size_t(device)] = false;
    }
    return true;
}

// A device missing from the list read last is looked for in a list read anew when no stream
// would be cut by that, and else by its name.
void HSSoundCard::openDevice(CardDevice device, const CardConfig& run) {
    const QString& name = deviceName(run.settings, device);
    if (list.indexOf(device, name) < 0 && !streamsOpen())
        readDeviceList();
    const bool opened = openStream(device, run, list.indexOf(device, name), name);
    gone[std::size_t(device)] = false;
    if (opened && device == CardDevice::Capture)
        capture.opened();
    report(device, opened ? Event::Opened : Event::NotOpened);
}

void HSSoundCard::closeDevice(CardDevice device) {
    closeStream(device);
    report(device, Event::Closed);
}

void HSSoundCard::closeStreams() {
    for (const CardDevice device : kCardDevices)
        closeStream(device);
}

// Each device open when the question was asked, by name (empty for the others).
void HSSoundCard::askWhetherGone(const std::array<QString, 3>& openDevices) {
    for (const CardDevice device : kCardDevices) {
        const QString& name = openDevices[std::size_t(device)];
        if (!name.isEmpty() && deviceGone(name))
            gone[std::size_t(device)] = true;
    }
}

void HSSoundCard::report(CardDevice device, Event outcome) {
    outcomes[std::size_t(device)] = int(outcome);
}
