// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "hssoundcard.h"

#include <QMutex>
#include <QTimer>
#include <QVector>

#include <atomic>
#include <cmath>

// A sound card in memory, standing in for the real one where a test is about logic. Its streams
// run on a simulated clock: each datagram that arrives moves the clock on by the datagram's length
// at the host's rate, and while `idleClock` is on, 40 ms of wall clock with no datagram move it on
// by 40 ms. Its playback callbacks pull one host block at the streams' rate whenever the clock
// passes their time, and it records what they played. It captures silence every 40 ms while its
// streams run (as a live capture does), lets a test push its own captured samples, and can be made
// to lose its capture device (which then stops capturing) and have it plugged back under another
// index. Like PortAudio it lists its devices as they were at its last restart.
class StandInSoundCard : public HSSoundCard {
public:
    static inline const QString kCapture = QStringLiteral("Stand-in capture");
    static inline const QString kCable = QStringLiteral("Stand-in cable");
    static inline const QString kSpeaker = QStringLiteral("Stand-in speaker");

    StandInSoundCard() {
        // Under the lock, so that a restart in the worker's thread never reserves the capture
        // hand-over while a block is being delivered.
        connect(&wallClock, &QTimer::timeout, this, [this] {
            const QMutexLocker guard(&mutex);
            if (open && capturePresent)
                pushCapture(QVector<qint16>(1024)); // silence
            if (open && idleClock && !arrivedSinceTick)
                runUntil(nowNs + kWallTickMs * 1000000LL);
            arrivedSinceTick = false;
        });
        wallClock.start(kWallTickMs);
        listed = plugged();
    }

    QByteArray played() const { return value(cable); }
    QByteArray speakerPlayed() const { return value(speaker); }
    bool running() const { return streamsOpen(); }
    qint64 datagrams() const { return value(arrivals); }

    // Openings of the cable's and the capture's streams, and of the speaker's.
    std::atomic<int> opened{0};
    std::atomic<int> speakerOpened{0};
    std::atomic<bool> capturePresent{true};
    std::atomic<bool> idleClock{true};
    std::atomic<int> captureIndex{0};
    std::atomic<int> restarts{0};
    // The capture device the streams were opened on last.
    std::atomic<int> openedCapture{-1};

    // As the capture thread delivers: mono samples at the streams' rate.
    void pushCapture(const QVector<qint16>& samples) {
        deliverCapture(samples.constData(), samples.size(), 0.0f);
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
        open = devices.output >= 0 && devices.input >= 0;
        opened += open ? 1 : 0;
        streams = format;
        nextCableNs = nowNs;
        openedCapture = devices.input;
        return open;
    }
    void closeStreams() override {
        const QMutexLocker guard(&mutex);
        open = speakerRunning = false;
    }
    bool openSpeaker(const StreamFormat&, int) override {
        const QMutexLocker guard(&mutex);
        speakerRunning = open;
        speakerOpened += speakerRunning ? 1 : 0;
        return speakerRunning;
    }
    void closeSpeaker() override {
        const QMutexLocker guard(&mutex);
        speakerRunning = false;
    }
    // At once, on the worker's thread: a scenario sees a switch by the next datagram.
    void switchSpeaker(std::function<void()> job) override { job(); }
    bool streamsOpen() const override { return value(open); }
    std::int64_t arrivalNs(int hostFrames) override {
        const QMutexLocker guard(&mutex);
        ++arrivals;
        arrivedSinceTick = true;
        runUntil(nowNs + std::llround(1e9 * hostFrames / (streams.sampleRate / 2)));
        return nowNs;
    }

private:
    static constexpr int kWallTickMs = 40;

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
    // The callbacks due up to `ns`, each one host block at the streams' rate; the speaker's come
    // with the cable's.
    void runUntil(std::int64_t ns) {
        nowNs = ns;
        const int frames = streams.frameSizeOut;
        const std::int64_t periodNs = 1000000000LL * frames / streams.sampleRate;
        block.resize(2 * frames);
        for (; open && nextCableNs <= nowNs; nextCableNs += periodNs) {
            pullCable(block.data(), frames, nextCableNs);
            cable.append(reinterpret_cast<const char*>(block.constData()), frames * 4);
            if (speakerRunning) {
                pullSpeaker(block.data(), frames, nextCableNs);
                speaker.append(reinterpret_cast<const char*>(block.constData()), frames * 4);
            }
        }
    }

    mutable QMutex mutex;
    QTimer wallClock;
    QByteArray cable;
    QByteArray speaker;
    QVector<qint16> block;
    StreamFormat streams;
    std::int64_t nowNs = 0;
    std::int64_t nextCableNs = 0;
    qint64 arrivals = 0;
    bool arrivedSinceTick = false;
    DeviceCatalogue listed;
    bool open = false;
    bool speakerRunning = false;
};
