// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "cardcapture.h"
#include "cardconfig.h"
#include "cardplayback.h"
#include "devicecatalogue.h"
#include "hsvumeter.h"
#include "playoutstats.h"
#include "receiver.h"
#include "receivermode.h"
#include "soundwatchdog.h"

#include <QByteArray>
#include <QObject>
#include <QRecursiveMutex>
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
// This class holds what every sound card shares: the lookups, the received audio's way to the
// playback streams (CardPlayback), the captured audio's way to the worker (CardCapture) and the
// watch on the devices. A derived class supplies the device list and the streams: the playback
// streams as PlaybackSinks the receiver writes, the capture stream whose callback calls
// deliverCapture.
//
// Each device comes and goes on its own: one that is missing at the start, or that stops working
// (its stream alone is closed), is looked for again by name (lookForMissingDevices) while the
// others play on, and joins them once it opens.
//
// Threads: the GUI thread enumerates, looks devices up and calls StartAudio; the audio worker's
// thread calls StreamOut, ServicePlayback, StopAudio, missingDevice and lookForMissingDevices and
// takes the capture block after inDataReady(); the capture's callback thread delivers. The
// connection orders StartAudio before the worker's use of the streams and StopAudio after it.
// Enumerations, lookups, starts, stops and every device's opening and closing take one lock, so
// the sound system is never restarted while another thread opens or closes a stream; the audio's
// own paths never take it. A device is opened and closed while the streams run on a thread of its
// own (switchDevice): opening a stream can take a sound server a tenth of a second, which the
// worker spends feeding the cable instead.
class HSSoundCard : public QObject {
    Q_OBJECT

public:
    explicit HSSoundCard(QObject* parent = nullptr);

    // Reads the device list. While no stream is open the sound system is restarted first (but not
    // for the first list, which it has just read), so that a device plugged in since, or plugged
    // back under another index, is listed; the devices chosen last are looked up again by name.
    void EnumerateAudioDevices();
    QStringList captureDeviceNames() const;
    QStringList playbackDeviceNames() const;
    // A device's index in the list read last, -1 if it is not there.
    int findOutputDevice(const QString& name) const;
    int findSpeakerDevice(const QString& name) const;
    int findInputDevice(const QString& name) const;

    // Opens and starts the streams on the devices `config` names, the speaker's only while the
    // speaker is on; false when the configuration is refused or a device that is listed cannot be
    // opened (nothing is left open then). A device that is not listed is missing: the others run
    // without it.
    bool StartAudio(const CardConfig& config);
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
    // Worker thread, after inDataReady(): the newest complete capture block, intact until the next
    // call.
    const QByteArray& latestCapturedData() { return capture.latest(); }

    // Worker thread, every kDeviceCheckMs: the first device the streams want that does not play
    // (missing, or stopped working) when that changed since the last answer, an empty text when
    // every one plays again; nothing while none changed or the streams are stopped. A stream that
    // has taken nothing (playback) or delivered nothing (capture) for four of its buffers, at
    // least 500 ms, or that reported an error, has stopped working: it is closed alone and its
    // device missing.
    std::optional<QString> deviceChange();
    // Worker thread: the missing devices are looked for by name, off this thread (a device plugged
    // back in may have a new index); those found join the running streams.
    void lookForMissingDevices();

    // The speaker's switch and its receiver, at once.
    void setSpeakerOn(bool on) { speaker = on; }
    void setReceiverMode(ReceiverMode mode) { receiver = mode; }
    // Seconds from the capture of the latest block to its delivery.
    float inputLatency() const { return capture.latency(); }
    // The virtual cable's playout since the streams were started; any thread.
    PlayoutStats playoutStats() const { return playback.stats(); }
    StreamFormat format() const { return config.format; }

    const HSVUMeter* playbackMeter() const { return playback.meter(); }
    const HSVUMeter* captureMeter() const { return capture.meter(); }

signals:
    void inDataReady();

protected:
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
    // Whether the sound system no longer knows the device called `name` (asked of open devices
    // now and then, off the worker's thread).
    virtual bool deviceGone(const QString& /*name*/) { return false; }
    // The open playback streams as the receiver writes them.
    virtual PlaybackSink* cableSink() = 0;
    virtual PlaybackSink* speakerSink() = 0;
    // Runs the opening or closing of a device away from the audio worker's thread; one at a time.
    virtual void switchDevice(std::function<void()> job);
    // Waits for a switch still running.
    void awaitDeviceSwitches();
    // Closes every stream.
    void closeStreams();
    virtual bool streamsOpen() const = 0;
    // Now, on the clock the playback streams are timed by (ns): the steady clock; a card running a
    // clock of its own gives that.
    virtual std::int64_t nowNs();
    // When a datagram of `hostFrames` frames arrives, on that clock.
    virtual std::int64_t arrivalNs(int hostFrames);
    // Keeps the playback streams fed at `atNs` (worker thread).
    std::int64_t servicePlaybackAt(std::int64_t atNs);

    // Capture thread: reduces the samples to a transmit block, publishes it, announces it and
    // meters the samples.
    void deliverCapture(const std::int16_t* samples, int frameCount, float latencySeconds);

private:
    // A device's stream: the worker moves it from Closed (or Missing) to Opening and from Open to
    // Closing, or to Failing when it stopped working; the switch's thread ends each move, a
    // failed opening and a closing after a failure in Missing.
    enum class DeviceState { Closed, Opening, Open, Missing, Closing, Failing };
    struct DeviceInUse {
        // The name the settings give, and its index in the list read last (under the lock).
        QString name;
        int index = -1;
        std::atomic<DeviceState> state{DeviceState::Closed};
        // The sound system no longer knows the device, though its stream may run on.
        std::atomic<bool> gone{false};
        // Missing since it last played: a search under way does not make it found.
        std::atomic<bool> lost{false};
        // The worker has handed its playback stream to the receiver.
        bool written = false;
    };

    DeviceInUse& use(CardDevice device) { return inUse[static_cast<std::size_t>(device)]; }
    bool wanted(CardDevice device) const;
    void followDevices();
    void followSpeakerSwitch();
    void openDevice(CardDevice device);
    void closeDevice(CardDevice device, DeviceState from, DeviceState to);
    void checkPresence();
    bool stoppedWorking(CardDevice device);
    void letGo(CardDevice device);
    // The devices of the list read last that `device` may be: playback or capture.
    const QMap<QString, int>& listFor(CardDevice device) const;
    int lookUp(const QString& name, CardDevice device) const;
    void lookUpDevices(const CardSettings& settings);
    // Every device closed and none missing.
    void forgetDevices();

    mutable QRecursiveMutex deviceLock;
    DeviceCatalogue catalogue;
    bool catalogued = false;
    std::array<DeviceInUse, 3> inUse;
    SoundWatchdog watchdog;
    std::atomic<bool> started{false};
    CardConfig config;
    std::atomic<bool> speaker{false};
    QThreadPool deviceSwitches;
    std::atomic<ReceiverMode> receiver{ReceiverMode::Both};
    CardCapture capture;
    // The worker's thread; its figures and level any thread's.
    CardPlayback playback;
};
