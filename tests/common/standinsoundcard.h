// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "hssoundcard.h"

#include <QMutex>
#include <QTimer>
#include <QVector>

#include <atomic>

// A sound card in memory, standing in for the real one where a test is about logic. It records
// every block played to the cable and the speaker, captures silence every 40 ms while its streams
// run (as a live capture does), lets a test push its own captured samples, and can be made to
// stop capturing, to fail opening, or to lose its capture device and have it plugged back under
// another index. Like PortAudio it lists its devices as they were at its last restart.
class StandInSoundCard : public HSSoundCard {
public:
    static inline const QString kCapture = QStringLiteral("Stand-in capture");
    static inline const QString kCable = QStringLiteral("Stand-in cable");
    static inline const QString kSpeaker = QStringLiteral("Stand-in speaker");

    StandInSoundCard() {
        // Under the lock, so that a restart in the worker's thread never reserves the capture
        // hand-over while a block is being delivered.
        connect(&captureClock, &QTimer::timeout, this, [this] {
            const QMutexLocker guard(&mutex);
            if (open && delivering)
                pushCapture(QVector<qint16>(kSilenceSamples));
        });
        captureClock.start(kCapturePeriodMs);
        listed = plugged();
    }

    QByteArray played() const { return value(cable); }
    QByteArray speakerPlayed() const { return value(speaker); }
    bool running() const { return streamsOpen(); }

    std::atomic<int> opened{0};
    std::atomic<bool> delivering{true};
    std::atomic<bool> failOpen{false};
    std::atomic<bool> capturePresent{true};
    std::atomic<int> captureIndex{0};
    std::atomic<int> restarts{0};
    // The capture device the streams were opened on last.
    std::atomic<int> openedCapture{-1};

    // As the capture thread delivers: mono samples at the streams' rate.
    void pushCapture(const QVector<qint16>& samples, float latency = 0.0f) {
        deliverCapture(samples.constData(), samples.size(), latency);
    }

protected:
    DeviceCatalogue listDevices() override { return value(listed); }
    void restartSoundSystem() override {
        ++restarts;
        const QMutexLocker guard(&mutex);
        listed = plugged();
    }
    bool available() override { return true; }
    bool openStreams(const StreamFormat& format, const DeviceChoice& devices) override {
        const QMutexLocker guard(&mutex);
        prepareCapture(format.frameSizeIn * frameInMult());
        open = !failOpen && devices.output >= 0 && devices.input >= 0;
        opened += open ? 1 : 0;
        openedCapture = devices.input;
        speakerRunning = open && devices.speaker >= 0;
        return open;
    }
    void closeStreams() override {
        const QMutexLocker guard(&mutex);
        open = speakerRunning = false;
    }
    bool speakerOpen() const override { return value(speakerRunning); }
    bool streamsOpen() const override { return value(open); }
    void writePlayback(const char* frames, int count) override { append(cable, frames, count); }
    void writeSpeaker(const char* frames, int count) override {
        const QMutexLocker guard(&mutex);
        if (speakerRunning)
            speaker.append(frames, count * kBytesPerStereoFrame);
    }

private:
    static constexpr int kCapturePeriodMs = 40;
    static constexpr int kSilenceSamples = 1024;

    DeviceCatalogue plugged() const {
        DeviceCatalogue catalogue;
        if (capturePresent)
            catalogue.inputDevices.insert(kCapture, captureIndex);
        catalogue.outputDevices.insert(kCable, 1);
        catalogue.outputDevices.insert(kSpeaker, 2);
        return catalogue;
    }
    template <typename T>
    T value(const T& member) const {
        const QMutexLocker guard(&mutex);
        return member;
    }
    void append(QByteArray& to, const char* frames, int count) {
        const QMutexLocker guard(&mutex);
        if (open)
            to.append(frames, count * kBytesPerStereoFrame);
    }

    mutable QMutex mutex;
    QTimer captureClock;
    QByteArray cable;
    QByteArray speaker;
    DeviceCatalogue listed;
    bool open = false;
    bool speakerRunning = false;
};
