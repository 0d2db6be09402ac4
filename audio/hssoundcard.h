// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "capturehandover.h"
#include "cardsettings.h"
#include "devicecatalogue.h"
#include "hsvumeter.h"
#include "playoutstats.h"
#include "receiver.h"
#include "receivermode.h"

#include <QByteArray>
#include <QObject>
#include <QRecursiveMutex>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <atomic>
#include <cstdint>
#include <functional>

// The streams' format: twice the host's sample rate and frame size (received audio is resampled
// to twice the host's rate, every second pair of captured samples is sent).
struct StreamFormat {
    int sampleRate = 0;
    int frameSizeOut = 0;
    int frameSizeIn = 0;
};

StreamFormat streamFormatForHost(int hostSampleRate, int hostFrameSize);

// What the card starts from, handed over whole with the start: the streams' format and the
// operator's choices for the card as they stand (the "RX buffer", frameOutMult, is the least the
// playout holds in host blocks, 1 being "Auto": as little as works; the "TX buffer", frameInMult,
// the capture's buffer in host blocks). The speaker and the receiver may change while the streams
// run (setSpeakerOn, setReceiverMode); nothing else does until the next start.
struct CardConfig {
    StreamFormat format;
    CardSettings settings;
};

CardConfig cardConfigFor(int hostSampleRate, int hostFrameSize, const CardSettings& settings);

// What the audio worker and the connection need of a sound card: the catalogue of devices by
// name, the three streams of an audio connection (virtual-cable playback, speaker playback,
// capture), the received audio, the latest captured block, the levels, the capture latency and
// the playout's counts.
//
// This class holds what every sound card shares: the lookups, the Receiver that places the
// received audio and writes it to the playback streams, metering and speaker copies of received
// blocks, the capture hand-over and the watch on the streams. A derived class supplies the device
// list and the streams: the playback streams as PlaybackSinks the receiver writes, the capture
// stream whose callback calls deliverCapture.
//
// Threads: the GUI thread enumerates, looks devices up and calls StartAudio; the audio worker's
// thread calls StreamOut, ServicePlayback, StopAudio and RestartAudio and takes the capture block
// after inDataReady(); the capture's callback thread delivers. The connection orders StartAudio
// before the worker's use of the streams and StopAudio after it. Enumerations, lookups, starts,
// stops, restarts and the speaker's switches take one lock, so the sound system is never restarted
// while another thread opens or closes a stream; the audio's own paths never take it. The
// speaker is opened and closed on a thread of its own (switchSpeaker): opening a stream can take a
// sound server a tenth of a second, which the worker spends feeding the cable instead.
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
    // Each lookup records its device for the next StartAudio and returns its index, -1 if unknown.
    int findOutputDevice(const QString& name);
    int findSpeakerDevice(const QString& name);
    int findInputDevice(const QString& name);

    // Opens and starts the streams on the devices found last, the speaker's only while the
    // speaker is on; true when the cable and the capture run. A speaker that cannot be opened is
    // logged and leaves the others running.
    bool StartAudio(const CardConfig& config);
    void StopAudio();
    // A datagram of interleaved stereo frames at the host's rate, as it arrives: placed in the
    // stream and written to the cable and, while the speaker is on, the chosen receiver to the
    // speaker; never waits. A speaker switched on or off since the last datagram is opened or
    // closed alone, off this thread; the cable and the capture run on untouched.
    void StreamOut(const QByteArray& datagram);
    // Keeps the playback streams fed between datagrams; returns the milliseconds until it wants to
    // be called again.
    int ServicePlayback();
    // Worker thread, after inDataReady(): the newest complete capture block, intact until the next
    // call.
    const QByteArray& latestCapturedData();

    // The device that stopped working, or an empty text while every stream is healthy: a stream
    // that has taken nothing (playback) or delivered nothing (capture) for four of its buffers, at
    // least 500 ms, or that reported an error.
    QString failedDevice();
    // Opens the streams again as last started, the device list read anew after they were closed
    // and the devices looked up again by name (a device plugged back in may have a new index).
    bool RestartAudio();
    // The streams were started and not stopped since.
    bool isStarted() const { return started; }

    // The speaker's switch and its receiver, at once.
    void setSpeakerOn(bool on) { speaker = on; }
    void setReceiverMode(ReceiverMode mode) { receiver = mode; }
    // Seconds from the capture of the latest block to its delivery.
    float inputLatency() const { return latency; }
    // The virtual cable's playout since the streams were started; any thread.
    PlayoutStats playoutStats() const { return playback.stats(); }
    StreamFormat format() const { return config.format; }

    const HSVUMeter* playbackMeter() const { return &vuMeterOut; }
    const HSVUMeter* captureMeter() const { return &vuMeterIn; }

signals:
    void inDataReady();

protected:
    struct DeviceChoice {
        int output = -1;
        int speaker = -1;
        int input = -1;
    };

    // The devices of this sound system, by direction.
    virtual DeviceCatalogue listDevices() = 0;
    // Restarts the sound system so that its device list is read again; only while no stream is
    // open.
    virtual void restartSoundSystem() = 0;
    // False when the sound system could not be initialised: nothing is played or opened then.
    virtual bool available() = 0;
    // Opens and starts the cable's and the capture's streams; true when both run.
    virtual bool openStreams(const CardConfig& config, const DeviceChoice& devices) = 0;
    // Closes every stream, the speaker's too.
    virtual void closeStreams() = 0;
    // Opens and starts the speaker's stream beside the running ones, or closes it alone.
    virtual bool openSpeaker(const StreamFormat& format, int device) = 0;
    virtual void closeSpeaker() = 0;
    // The open playback streams as the receiver writes them.
    virtual PlaybackSink* cableSink() = 0;
    virtual PlaybackSink* speakerSink() = 0;
    // Runs a switch of the speaker's stream away from the audio worker's thread; one at a time.
    virtual void switchSpeaker(std::function<void()> job);
    // Waits for a switch still running.
    void awaitSpeakerSwitch();
    virtual bool streamsOpen() const = 0;
    // Now, on the clock the playback streams are timed by (ns): the steady clock; a card running a
    // clock of its own gives that.
    virtual std::int64_t nowNs();
    // When a datagram of `hostFrames` frames arrives, on that clock.
    virtual std::int64_t arrivalNs(int hostFrames);
    // Keeps the playback streams fed at `atNs` (worker thread).
    std::int64_t servicePlaybackAt(std::int64_t atNs);

    // Any thread: a stream failed.
    void reportCaptureFault();
    // Reserves the capture hand-over for buffers of `bufferFrames` before the capture can run.
    void prepareCapture(int bufferFrames);
    // Capture thread: reduces the samples to a transmit block, publishes it, announces it and
    // meters the samples.
    void deliverCapture(const std::int16_t* samples, int frameCount, float latencySeconds);

private:
    bool configurationIsPlayable(const CardConfig& config) const;
    void followSpeakerSwitch();
    void attachSpeaker();
    void detachSpeaker();
    bool playbackStalled(std::int64_t lastTakenNs, std::int64_t now) const;
    bool stalled(const std::atomic<qint64>& lastMs, qint64 bufferFrames) const;
    int lookUp(const QMap<QString, int>& direction, const QString& name, QString& chosenName,
               int& chosenIndex);
    void meterPlayback(const std::int16_t* block, int frames);

    mutable QRecursiveMutex deviceLock;
    DeviceCatalogue catalogue;
    bool catalogued = false;
    DeviceChoice devices;
    struct {
        QString output;
        QString speaker;
        QString input;
    } deviceNames;
    // Steady-clock milliseconds of the capture's latest callback (or of its start).
    std::atomic<qint64> lastCaptureMs{0};
    std::atomic<bool> captureFaulted{false};
    std::atomic<bool> started{false};
    CardConfig config;
    std::atomic<bool> speaker{false};
    // The speaker's stream: the worker moves it from Closed to Opening and from Open (or Refused)
    // to Closing; the switch's thread ends each move. The receiver feeds the speaker's playout
    // from Opening on and writes the stream once it is Open.
    enum class SpeakerStream { Closed, Opening, Open, Refused, Closing };
    std::atomic<SpeakerStream> speakerStream{SpeakerStream::Closed};
    bool speakerWritten = false;
    QThreadPool speakerSwitches;
    std::atomic<ReceiverMode> receiver{ReceiverMode::Both};
    std::atomic<float> latency{0.0f};
    HSVUMeter vuMeterOut;
    HSVUMeter vuMeterIn;
    CaptureHandOver captureHandOver;
    QByteArray capturedData;
    // Owned by the worker's thread.
    Receiver playback;
    // Worker-thread scratch block, grown to the largest datagram: the speaker's copy for one
    // receiver.
    QByteArray speakerCopy;
};
