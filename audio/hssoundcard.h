// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "cardcapture.h"
#include "cardconfig.h"
#include "cardplayback.h"
#include "devicelife.h"
#include "devicelist.h"
#include "playoutstats.h"
#include "receivermode.h"
#include "soundwatchdog.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

// When the playback streams want looking at again: the instant (steady clock, ns) and the
// milliseconds to it, rounded down; both -1 while the streams are stopped.
struct PlaybackDue {
    std::int64_t atNs = -1;
    int inMs = -1;
};

// What the audio worker and the connection need of a sound card: the catalogue of devices by
// name, the three streams of an audio connection (virtual-cable playback, speaker playback,
// capture), the received audio, the latest captured block, the levels, the capture latency and
// the playout's counts.
//
// This class carries out each device's life (DeviceLife's table) and joins the parts every sound
// card shares: the device list, the received audio's way to the playback streams (CardPlayback),
// the captured audio's way to the worker (CardCapture) and the watch on the devices
// (SoundWatchdog). A derived class supplies the sound system: its device list and the streams,
// the playback streams as PlaybackSinks the receiver writes, the capture stream whose callback
// calls deliverCapture.
//
// Each device comes and goes on its own: one that is missing at the start, or that stops working
// (its stream alone is closed), is looked for again by name (lookForMissingDevices) while the
// others play, and joins them once it opens.
//
// Threads, each with what it owns:
// - the audio worker's thread runs the streams: StartAudio (which waits for the streams it opens),
//   StopAudio, StreamOut, ServicePlayback, deviceChange and lookForMissingDevices, and after
//   inDataReady() takes the capture block. The configuration of the run, each device's state, the
//   watchdog and the receiver are its alone.
// - the device thread (switchDevice: one job at a time, at the ordinary priority) owns the sound
//   system: it reads the device list, opens and closes the streams and asks whether the open
//   devices are still there. Each outcome crosses to the worker's thread as one atomic per device,
//   and becomes that device's event at the worker's next look. A playback stream is the
//   receiver's from its opening's outcome to the worker's letting go of it, which comes before
//   its closing is asked for. No lock is held across an opening; the worker's thread takes none.
// - the GUI thread reads the device list (EnumerateAudioDevices waits for its reading on the
//   device thread; the names are copied out under the list's own lock), switches the speaker and
//   its receiver, and reads the levels, the playout's figures and the capture latency, which are
//   atomics.
// - the capture's callback thread delivers through the capture's lock-free hand-over.
class HSSoundCard : public QObject {
    Q_OBJECT

public:
    explicit HSSoundCard(QObject* parent = nullptr);

    // Reads the device list. While no stream is open the sound system is restarted first (but not
    // for the first list, which it has just read), so that a device plugged in since, or plugged
    // back under another index, is listed.
    void EnumerateAudioDevices();
    QStringList captureDeviceNames() const { return list.captureNames(); }
    QStringList playbackDeviceNames() const { return list.playbackNames(); }
    // A device's index in the list read last, -1 if it is not there.
    int findOutputDevice(const QString& name) const;
    int findSpeakerDevice(const QString& name) const;
    int findInputDevice(const QString& name) const;

    // Opens and starts the streams on the devices `config` names, the speaker's only while the
    // speaker is on; false when the configuration is refused or a device that is listed cannot be
    // opened (nothing is left open then). A device that is not listed is missing: the others run
    // without it. Streams still running are stopped first.
    bool StartAudio(const CardConfig& config);
    // Lets go of the streams at once; the device thread closes them.
    void StopAudio();
    // A datagram of interleaved stereo frames at the host's rate, as it arrives: placed in the
    // stream and written to the cable and, while the speaker is on, the chosen receiver to the
    // speaker; never waits. A speaker switched on or off since the last datagram is opened or
    // closed alone, off this thread; the cable and the capture run on untouched.
    void StreamOut(const QByteArray& datagram);
    // Keeps the playback streams fed between datagrams; returns when it wants to be called again.
    PlaybackDue ServicePlayback();
    // When ServicePlayback wants calling, as the streams stand (after a datagram).
    PlaybackDue playbackDue();
    // After inDataReady(): the newest complete capture block, intact until the next call.
    const QByteArray& latestCapturedData() { return capture.latest(); }

    // Every kDeviceCheckMs: the first device the streams want that does not play (missing, or
    // stopped working) when that changed since the last answer, an empty text when every one
    // plays again; nothing while none changed or the streams are stopped. A stream that has taken
    // nothing (playback) or delivered nothing (capture) for four of its buffers, at least 500 ms,
    // or that reported an error, or whose device the sound system no longer knows (asked every
    // 2 s), has stopped working: it is closed alone and its device missing.
    std::optional<QString> deviceChange();
    // The missing devices are looked for by name, off this thread (a device plugged back in may
    // have a new index); those found join the running streams.
    void lookForMissingDevices();

    // Any thread: the speaker's switch and its receiver, followed at the worker's next look.
    void setSpeakerOn(bool on) { speaker = on; }
    void setReceiverMode(ReceiverMode mode) { receiver = mode; }
    // Any thread: seconds from the capture of the latest block to its delivery.
    float inputLatency() const { return capture.latency(); }
    // Any thread: the virtual cable's playout since the streams were started.
    PlayoutStats playoutStats() const { return playback.stats(); }

    const HSVUMeter* playbackMeter() const { return playback.meter(); }
    const HSVUMeter* captureMeter() const { return capture.meter(); }

signals:
    void inDataReady();

protected:
    // The sound system, called on the device thread only (and by a derived class's destructor
    // once the device thread is done).
    // The devices of this sound system, by direction.
    virtual DeviceCatalogue listDevices() = 0;
    // Restarts the sound system so that its device list is read again; only while no stream is
    // open.
    virtual void restartSoundSystem() = 0;
    // False when the sound system could not be initialised: nothing is played or opened then.
    virtual bool available() = 0;
    // Opens and starts one device's stream beside the running ones: the device at `index` in the
    // list read last, or, when that fails or `index` is -1, the device called `name` where the
    // sound system can open one it has not listed; true when it runs.
    virtual bool openStream(CardDevice device, const CardConfig& config, int index,
                            const QString& name) = 0;
    // Closes one device's stream, if open.
    virtual void closeStream(CardDevice device) = 0;
    // Whether the sound system no longer knows the device called `name`.
    virtual bool deviceGone(const QString& /*name*/) { return false; }
    virtual bool streamsOpen() const = 0;
    // The playback streams as the receiver writes them (the worker's thread, while open).
    virtual PlaybackSink* cableSink() = 0;
    virtual PlaybackSink* speakerSink() = 0;

    // Runs a job on the device thread: away from the audio worker's thread, one at a time.
    virtual void switchDevice(std::function<void()> job);
    // Waits until the device thread has done every job given to it.
    void awaitDeviceSwitches();
    // Closes every stream.
    void closeStreams();
    // Now, on the clock the playback streams are timed by (ns): the steady clock; a card running a
    // clock of its own gives that.
    virtual std::int64_t nowNs();
    // When a datagram of `hostFrames` frames arrives, on that clock.
    virtual std::int64_t arrivalNs(int hostFrames);
    // Keeps the playback streams fed at `atNs` (worker thread).
    std::int64_t servicePlaybackAt(std::int64_t atNs) { return playback.service(atNs); }

    // Capture thread: reduces the samples to a transmit block, publishes it, announces it and
    // meters the samples.
    void deliverCapture(const std::int16_t* samples, int frameCount, float latencySeconds);

private:
    // No outcome from the device thread since the worker's last look.
    static constexpr int kNoOutcome = -1;

    // The worker's thread: each device's life carried out.
    void followDevices();
    void handle(CardDevice device, DeviceLife::Event event);
    void perform(CardDevice device, DeviceLife::Action action);
    void say(CardDevice device, DeviceLife::Action action) const;
    bool stoppedWorking(CardDevice device);
    DeviceLife::State& state(CardDevice device) { return states[std::size_t(device)]; }
    bool wanted(CardDevice device) const { return device != CardDevice::Speaker || speaker; }

    // The device thread.
    void readDeviceList();
    bool listed(const CardSettings& settings) const;
    bool openForStart(const CardConfig& config, std::array<int, 3>& outcome);
    void openDevice(CardDevice device, const CardConfig& config);
    void closeDevice(CardDevice device);
    void askWhetherGone(const std::array<QString, 3>& openDevices);
    void report(CardDevice device, DeviceLife::Event outcome);

    QThreadPool deviceSwitches;
    // Replaced on the device thread, read by any.
    DeviceList list;
    // From the device thread to the worker's, for each device: the latest outcome of an opening
    // or closing (a DeviceLife::Event, kNoOutcome once taken), and the sound system's word that
    // its device is gone.
    std::array<std::atomic<int>, 3> outcomes{{{kNoOutcome}, {kNoOutcome}, {kNoOutcome}}};
    std::array<std::atomic<bool>, 3> gone{};
    // From the GUI thread.
    std::atomic<bool> speaker{false};
    std::atomic<ReceiverMode> receiver{ReceiverMode::Both};
    // The worker's thread alone.
    CardConfig config;
    bool started = false;
    std::array<DeviceLife::State, 3> states{};
    SoundWatchdog watchdog;
    // The worker's thread; its figures and level any thread's.
    CardPlayback playback;
    // From the capture's callback thread to the worker's.
    CardCapture capture;
};
