// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "capturehandover.h"
#include "devicecatalogue.h"
#include "hsvumeter.h"
#include "samplemath.h"

#include <QByteArray>
#include <QObject>
#include <QRecursiveMutex>
#include <QString>
#include <QStringList>

#include <atomic>

// The streams' format: twice the host's sample rate and frame size (every received frame is
// played twice, every second pair of captured samples is sent).
struct StreamFormat {
    int sampleRate = 0;
    int frameSizeOut = 0;
    int frameSizeIn = 0;
};

StreamFormat streamFormatForHost(int hostSampleRate, int hostFrameSize);

// What the audio worker and the connection need of a sound card: the catalogue of devices by
// name, the three streams of an audio connection (virtual-cable playback, speaker playback,
// capture), the playback writes, the latest captured block, the levels and the capture latency.
//
// This class holds what every sound card shares: the configuration, the lookups, the padding,
// metering and speaker copies of playback blocks, and the capture hand-over. A derived class
// supplies the device list and the streams.
//
// Threads: the GUI thread configures, enumerates, looks devices up and calls StartAudio; the audio
// worker's thread calls StreamOut, StopAudio and RestartAudio and takes the capture block after
// inDataReady(); the implementation's capture thread calls deliverCapture. The connection orders
// StartAudio before the worker's use of the streams and StopAudio after it. Enumerations, lookups,
// starts, stops and restarts take one lock, so the sound system is never restarted while another
// thread opens or closes a stream; the streams' own paths never take it.
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
    // Plays one block of interleaved stereo frames (one write of frameSizeOut frames) to the
    // virtual cable and, while the speaker is on, the chosen receiver to the speaker. After the
    // speaker was switched on or off it first opens the streams again with or without it: a
    // stream added beside a running capture may stall the capture on some sound servers.
    void StreamOut(QByteArray& dataIn);
    // Worker thread, after inDataReady(): the newest complete capture block, intact until the next
    // call.
    const QByteArray& latestCapturedData();

    // The device that stopped working, or an empty text while every stream is healthy: a capture
    // that has delivered nothing for four of its buffers (at least 500 ms), or a stream that
    // reported an error.
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
    // The cable and the capture, and the speaker when `devices.speaker` is not -1; true when the
    // cable and the capture run.
    virtual bool openStreams(const StreamFormat& format, const DeviceChoice& devices) = 0;
    virtual void closeStreams() = 0;
    virtual bool speakerOpen() const = 0;
    virtual bool streamsOpen() const = 0;
    virtual void writePlayback(const char* frames, int frameCount) = 0;
    virtual void writeSpeaker(const char* frames, int frameCount) = 0;

    int playbackBufferFrames() const { return streamFormat.frameSizeOut * playbackMult; }
    enum class Stream { Cable, Speaker, Capture };
    // Worker thread: a stream failed.
    void reportStreamFault(Stream stream);
    // Reserves the capture hand-over for buffers of `bufferFrames` before the capture can run.
    void prepareCapture(int bufferFrames);
    // Capture thread: reduces the samples to a transmit block, publishes it, announces it and
    // meters the samples.
    void deliverCapture(const qint16* samples, int frameCount, float latencySeconds);

private:
    bool configurationIsPlayable(const StreamFormat& format) const;
    const char* playableBlock(const QByteArray& dataIn, int frames);
    void playToSpeaker(const char* block, int frames);
    bool openAll(const StreamFormat& format);
    int lookUp(const QMap<QString, int>& direction, const QString& name, QString& chosenName,
               int& chosenIndex);
    void meterPlayback(const char* block, int frames);

    mutable QRecursiveMutex deviceLock;
    DeviceCatalogue catalogue;
    bool catalogued = false;
    DeviceChoice devices;
    struct {
        QString output;
        QString speaker;
        QString input;
    } deviceNames;
    // Steady-clock milliseconds of the latest capture block (or of the start).
    std::atomic<qint64> lastCaptureMs{0};
    std::atomic<bool> faulted{false};
    std::atomic<bool> started{false};
    QString faultedDevice;
    StreamFormat streamFormat;
    int playbackMult = 1;
    int captureMult = 1;
    std::atomic<bool> speaker{false};
    // The speaker switch as the streams were last opened.
    bool speakerWanted = false;
    std::atomic<ReceiverMode> receiver{ReceiverMode::Both};
    std::atomic<float> latency{0.0f};
    HSVUMeter vuMeterOut;
    HSVUMeter vuMeterIn;
    CaptureHandOver captureHandOver;
    QByteArray capturedData;
    // Worker-thread scratch blocks, grown once to the write size: a short block padded with
    // silence, and the speaker's copy for one receiver.
    QByteArray paddedBlock;
    QByteArray speakerCopy;
};
