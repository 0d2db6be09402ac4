// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "capturehandover.h"
#include "devicecatalogue.h"
#include "hsvumeter.h"
#include "jitterestimator.h"
#include "playout.h"
#include "playoutstats.h"
#include "samplemath.h"

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

// What the audio worker and the connection need of a sound card: the catalogue of devices by
// name, the three streams of an audio connection (virtual-cable playback, speaker playback,
// capture), the received audio, the latest captured block, the levels, the capture latency and
// the playout's counts.
//
// This class holds what every sound card shares: the configuration, the lookups, the jitter
// estimator and the two playouts the playback callbacks pull from, metering and speaker copies of
// received blocks, and the capture hand-over. A derived class supplies the device list and the
// streams, whose callbacks call pullCable, pullSpeaker and deliverCapture.
//
// Threads: the GUI thread configures, enumerates, looks devices up and calls StartAudio; the audio
// worker's thread calls StreamOut, StopAudio and RestartAudio and takes the capture block after
// inDataReady(); the implementation's callback threads pull and deliver. The connection orders
// StartAudio before the worker's use of the streams and StopAudio after it. Enumerations, lookups,
// starts, stops, restarts and the speaker's switches take one lock, so the sound system is never
// restarted while another thread opens or closes a stream; the streams' own paths never take it.
// The speaker is opened and closed on a thread of its own (switchSpeaker): opening a stream can
// take a sound server a tenth of a second, which the worker spends feeding the cable instead.
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
    bool StartAudio(const StreamFormat& format);
    void StopAudio();
    // A datagram of interleaved stereo frames at the host's rate, as it arrives: placed in the
    // stream by the jitter estimator and queued for the cable and, while the speaker is on, the
    // chosen receiver for the speaker; never waits. A speaker switched on or off since the last
    // datagram is opened or closed alone, off this thread; the cable and the capture run on
    // untouched.
    void StreamOut(const QByteArray& datagram);
    // Worker thread, after inDataReady(): the newest complete capture block, intact until the next
    // call.
    const QByteArray& latestCapturedData();

    // The device that stopped working, or an empty text while every stream is healthy: a stream
    // whose callback has not run for four of its buffers (at least 500 ms), or that reported an
    // error.
    QString failedDevice() const;
    // Opens the streams again as last started, the device list read anew after they were closed
    // and the devices looked up again by name (a device plugged back in may have a new index).
    bool RestartAudio();
    // The streams were started and not stopped since.
    bool isStarted() const { return started; }

    void setBufferMultipliers(int playback, int capture);
    int frameOutMult() const { return playbackMult; }
    int frameInMult() const { return captureMult; }
    void setSpeakerOn(bool on) { speaker = on; }
    bool speakerOn() const { return speaker; }
    void setReceiverMode(ReceiverMode mode) { receiver = mode; }
    ReceiverMode receiverMode() const { return receiver; }
    // Seconds from the capture of the latest block to its delivery.
    float inputLatency() const { return latency; }
    // The virtual cable's playout since the streams were started; any thread.
    PlayoutStats playoutStats() const { return cable.stats(); }
    StreamFormat format() const { return streamFormat; }

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
    virtual bool openStreams(const StreamFormat& format, const DeviceChoice& devices) = 0;
    // Closes every stream, the speaker's too.
    virtual void closeStreams() = 0;
    // Opens and starts the speaker's stream beside the running ones, or closes it alone.
    virtual bool openSpeaker(const StreamFormat& format, int device) = 0;
    virtual void closeSpeaker() = 0;
    // Runs a switch of the speaker's stream away from the audio worker's thread; one at a time.
    virtual void switchSpeaker(std::function<void()> job);
    // Waits for a switch still running.
    void awaitSpeakerSwitch();
    virtual bool streamsOpen() const = 0;
    // When a datagram of `hostFrames` frames arrives, on the clock the pulls are given (ns). The
    // steady clock; a card running a clock of its own gives that.
    virtual std::int64_t arrivalNs(int hostFrames);

    enum class Stream { Cable, Speaker, Capture };
    // Any thread: a stream failed.
    void reportStreamFault(Stream stream);
    // Playback callbacks: `frames` stereo frames at the stream's rate into `out`, at `nowNs`. No
    // lock, no allocation, no log.
    void pullCable(qint16* out, int frames, std::int64_t nowNs);
    void pullSpeaker(qint16* out, int frames, std::int64_t nowNs);
    // Reserves the capture hand-over for buffers of `bufferFrames` before the capture can run.
    void prepareCapture(int bufferFrames);
    // Capture thread: reduces the samples to a transmit block, publishes it, announces it and
    // meters the samples.
    void deliverCapture(const qint16* samples, int frameCount, float latencySeconds);

private:
    bool configurationIsPlayable(const StreamFormat& format) const;
    void resetPlayout(Playout& playout);
    void followSpeakerSwitch();
    void attachSpeaker();
    void detachSpeaker();
    void queueForSpeaker(const qint16* block, int frames, const JitterEstimator::Placement& at);
    bool stalled(const std::atomic<qint64>& lastMs, qint64 bufferFrames) const;
    int lookUp(const QMap<QString, int>& direction, const QString& name, QString& chosenName,
               int& chosenIndex);
    void meterPlayback(const qint16* block, int frames);

    mutable QRecursiveMutex deviceLock;
    DeviceCatalogue catalogue;
    bool catalogued = false;
    DeviceChoice devices;
    struct {
        QString output;
        QString speaker;
        QString input;
    } deviceNames;
    // Steady-clock milliseconds of each stream's latest callback (or of its start).
    std::atomic<qint64> lastCaptureMs{0};
    std::atomic<qint64> lastCableMs{0};
    std::atomic<qint64> lastSpeakerMs{0};
    std::atomic<bool> faulted{false};
    std::atomic<bool> started{false};
    QString faultedDevice;
    StreamFormat streamFormat;
    int playbackMult = 1;
    int captureMult = 1;
    std::atomic<bool> speaker{false};
    // The speaker's stream: the worker moves it from Closed to Opening and from Open (or Refused)
    // to Closing; the switch's thread ends each move. Audio is queued for it while it is Opening
    // or Open.
    enum class SpeakerStream { Closed, Opening, Open, Refused, Closing };
    std::atomic<SpeakerStream> speakerStream{SpeakerStream::Closed};
    QThreadPool speakerSwitches;
    std::atomic<ReceiverMode> receiver{ReceiverMode::Both};
    std::atomic<float> latency{0.0f};
    HSVUMeter vuMeterOut;
    HSVUMeter vuMeterIn;
    CaptureHandOver captureHandOver;
    QByteArray capturedData;
    // Owned by the worker's thread, but for the playouts' pulls.
    JitterEstimator estimator;
    Playout cable;
    Playout speakerPlayout;
    // Worker-thread scratch block, grown to the largest datagram: the speaker's copy for one
    // receiver.
    QByteArray speakerCopy;
};
