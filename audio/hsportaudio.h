#pragma once

#include "capturehandover.h"

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>

#include <portaudio.h>

#include <atomic>

class HSVUMeter;

// The panel's one object over PortAudio: the device catalogue (capture and playback devices by
// name), the three streams of an audio connection (virtual-cable playback, speaker playback,
// capture) and the level meters of both directions.
//
// Built while the panel's PortAudio warm-up is still probing, it completes its own initialisation
// when first needed (enumeration, a lookup, StartAudio) and otherwise at construction.
//
// Threads: the GUI thread constructs and destroys it, enumerates, looks devices up, writes the
// configuration and calls StartAudio; the audio worker's thread calls StreamOut and StopAudio and
// reads the capture block through latestCapturedData(); PortAudio's callback thread runs
// captureCallback. The connection flow orders StartAudio before the worker's use of the streams
// and StopAudio after it, so the stream handles need no lock. The capture block crosses from the
// callback thread to the worker through a lock-free triple buffer, the latency figure through an
// atomic.
class HSPortAudio : public QObject {
    Q_OBJECT

public:
    explicit HSPortAudio(QObject* parent = nullptr);
    ~HSPortAudio() override;

    int findOutputDevice(const QString& name);
    int findSpeakerDevice(const QString& name);
    int findInputDevice(const QString& name);

    // Worker thread, after inDataReady(): brings capturedData up to the newest complete capture
    // block and returns it. The block stays intact until the next call.
    const QByteArray& latestCapturedData();

    static int captureCallback(const void* input, void* output, unsigned long frameCount,
                               const PaStreamCallbackTimeInfo* timeInfo,
                               PaStreamCallbackFlags statusFlags, void* userData);

    // Seconds from the capture of the latest block to its handling; written by the capture
    // callback, read by the GUI thread.
    std::atomic<float> inputLatency{0.0f};
    int sampleRate = 48000;
    int frameSizeOut = 512;
    int frameSizeIn = 512;
    int frameInMult = 8;
    int frameOutMult = 8;
    int audioOutMode = 0;
    bool speakerOn = false;
    int paInitError;
    QMap<QString, int> inputDevices;
    QMap<QString, int> outputDevices;
    // The latest capture block as the worker sees it; refreshed by latestCapturedData().
    QByteArray capturedData;
    PaStream* outputStream = nullptr;
    PaStream* speakerStream = nullptr;
    PaStream* inputStream = nullptr;
    PaStreamParameters outputParameters{};
    PaStreamParameters inputParameters{};
    int outputDeviceIndex = -1;
    int speakerDeviceIndex = -1;
    int inputDeviceIndex = -1;
    HSVUMeter* vuMeterOut;
    HSVUMeter* vuMeterIn;

public slots:
    void EnumerateAudioDevices();
    bool StartAudio();
    void StopAudio();
    void StreamOut(QByteArray& dataIn);

signals:
    void inDataReady();

private:
    void finishInitialisation();
    // A lookup before any enumeration (the window was shown during the device probe) builds the
    // catalogue first.
    void ensureCatalogue();
    bool configurationIsPlayable();
    bool openPlayback(PaStream** stream, int deviceIndex, const char* failureText);
    bool openCapture();
    bool failStart();
    void closeStreams();
    void handleCapture(const qint16* samples, int frameCount,
                       const PaStreamCallbackTimeInfo* timeInfo);
    const char* playableBlock(const QByteArray& dataIn, int frames);
    void writeSpeaker(const char* block, int frames);

    CaptureHandOver captureHandOver;
    // Worker-thread scratch blocks, grown once to the write size: a short block padded with
    // silence, and the speaker's copy for one receiver.
    QByteArray paddedBlock;
    QByteArray speakerCopy;
    bool initialisationPending = true;
    bool catalogued = false;
};
