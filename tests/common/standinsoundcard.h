// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "hssoundcard.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QTimer>
#include <QVector>

#include <array>
#include <atomic>
#include <cmath>

// How many stereo frames of `played` (16-bit stereo) pass `test(left, right)`.
template <typename Test>
int framesWhere(const QByteArray& played, Test test) {
    const auto* samples = reinterpret_cast<const qint16*>(played.constData());
    int count = 0;
    for (int i = 0; i + 1 < played.size() / 2; i += 2)
        count += test(samples[i], samples[i + 1]) ? 1 : 0;
    return count;
}

// The index of the first stereo frame of `played` that passes `test(left, right)`; -1: none.
template <typename Test>
int firstFrameWhere(const QByteArray& played, Test test) {
    const auto* samples = reinterpret_cast<const qint16*>(played.constData());
    for (int i = 0; i + 1 < played.size() / 2; i += 2)
        if (test(samples[i], samples[i + 1]))
            return i / 2;
    return -1;
}

// A sound card in memory, standing in for the real one where a test is about logic. Its playback
// streams run on a simulated clock: each datagram that arrives moves the clock on by the
// datagram's length at the host's rate, and while `idleClock` is on, time that passes with no
// datagram moves it on as it passes (by the worker's look between datagrams). Each playback
// stream is a buffer the playout writes; the card empties it a host block at the streams' rate at
// a time, on the clock, looks at the playout just before each of those cycles (as a timely worker
// would), and records what it played. It captures silence every 40 ms while its streams run (as
// a live capture does), lets a test push its own captured samples, and can be made to lose any of
// its devices (a capture then stops capturing, a playback stream stops taking audio) and have it
// plugged back, the capture under another index. Like PortAudio it lists its devices as they were
// at its last restart, and like ALSA it opens a device by its name wherever it is now.
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
            if (captureOpen && present(CardDevice::Capture))
                pushCapture(QVector<qint16>(1024)); // silence
        });
        wallClock.start(kCaptureTickMs);
        wall.start();
        listed = listedNow();
    }

    QByteArray played() const { return cable.playedSoFar(); }
    QByteArray speakerPlayed() const { return speaker.playedSoFar(); }
    bool running() const { return streamsOpen(); }
    // The format its streams were opened with last.
    StreamFormat format() const { return value(streams); }
    qint64 datagrams() const { return value(arrivals); }

    // Openings of the cable's stream, and of the speaker's.
    std::atomic<int> opened{0};
    std::atomic<int> speakerOpened{0};
    // Which devices are plugged in, by CardDevice; a playback device pulled out stops taking audio
    // (it hangs) while the clock goes on.
    std::array<std::atomic<bool>, 3> plugged{{{true}, {true}, {true}}};
    std::atomic<bool>& present(CardDevice device) { return plugged[std::size_t(device)]; }
    std::atomic<bool> idleClock{true};
    // How long the speaker's stream takes nothing after it opens, on the card's clock: a busy
    // sound server links a new stream late.
    std::atomic<std::int64_t> speakerLinkedAfterNs{0};
    std::atomic<int> captureIndex{0};
    std::atomic<int> restarts{0};
    // The index of the capture device opened last, and the index the speaker was opened under
    // last (-1: by its name).
    std::atomic<int> openedCapture{-1};
    std::atomic<int> speakerIndex{-1};

    // Starts the streams on its own devices.
    bool startOnItsDevices(CardConfig config) {
        config.settings.outputDevice = kCable;
        config.settings.audioDevice = kSpeaker;
        config.settings.inputDevice = kCapture;
        return StartAudio(config);
    }

    // A datagram of `hostFrames` that the link lost: its time passes on the card, nothing comes.
    void loseDatagram(int hostFrames) { runUntil(clockNs + hostFramesNs(hostFrames)); }

    // As the capture thread delivers: mono samples at the streams' rate.
    void pushCapture(const QVector<qint16>& samples) {
        deliverCapture(samples.constData(), samples.size(), 0.0f);
    }

protected:
    DeviceCatalogue listDevices() override { return value(listed); }
    void restartSoundSystem() override {
        ++restarts;
        const QMutexLocker guard(&mutex);
        listed = listedNow();
    }
    bool available() override { return true; }
    bool openStream(CardDevice device, const CardConfig& config, int index,
                    const QString&) override {
        const QMutexLocker guard(&mutex);
        if (!present(device))
            return false;
        if (!streamsOpen())
            nextCycleNs = clockNs;
        streams = config.format;
        if (device == CardDevice::Capture)
            openedCapture = captureIndex.load();
        else
            ++(device == CardDevice::Cable ? opened : speakerOpened);
        if (device == CardDevice::Speaker) {
            speakerIndex = index;
            speakerLinkedNs = clockNs + speakerLinkedAfterNs;
        }
        setOpen(device, true);
        return true;
    }
    void closeStream(CardDevice device) override { setOpen(device, false); }
    PlaybackSink* cableSink() override { return &cable; }
    PlaybackSink* speakerSink() override { return &speaker; }
    // At once, on the thread that asks, one at a time: a scenario sees a switch by the next
    // datagram.
    void switchDevice(std::function<void()> job) override {
        const QMutexLocker guard(&mutex);
        job();
    }
    bool streamsOpen() const override {
        const QMutexLocker guard(&mutex);
        return captureOpen || cable.isRunning() || speaker.isRunning();
    }
    std::int64_t arrivalNs(int hostFrames) override {
        {
            const QMutexLocker guard(&mutex);
            ++arrivals;
        }
        lastArrivalWallNs = lastAdvanceWallNs = wall.nsecsElapsed();
        runUntil(clockNs + hostFramesNs(hostFrames));
        return clockNs;
    }
    // Idle time moves the clock on as it passes, but never by more than 40 ms a look: a slow
    // machine (or a sanitizer) then plays the card slower than the wall clock rather than
    // falling ever further behind it.
    std::int64_t nowNs() override {
        const std::int64_t wallNs = wall.nsecsElapsed();
        if (idleClock && wallNs - lastArrivalWallNs > kIdleNs)
            runUntil(clockNs + std::min(wallNs - lastAdvanceWallNs, kIdleNs));
        if (wallNs - lastArrivalWallNs > kIdleNs)
            lastAdvanceWallNs = wallNs;
        return clockNs;
    }

private:
    static constexpr int kCaptureTickMs = 40;
    static constexpr std::int64_t kIdleNs = 40'000'000;
    // The worker looks this long before each cycle.
    static constexpr std::int64_t kLookAheadNs = 1'000'000;

    // A playback stream's buffer, emptied by the card's cycles into what it played.
    struct StandInSink : PlaybackSink {
        static constexpr long kCapacity = 96000;
        long writable() override {
            const QMutexLocker guard(&lock);
            return running ? kCapacity - static_cast<long>(held.size() / 4) : -1;
        }
        void write(const std::int16_t* frames, long count) override {
            const QMutexLocker guard(&lock);
            held.append(reinterpret_cast<const char*>(frames), static_cast<int>(count * 4));
        }
        // One cycle: `frames` frames played, silence for any the buffer lacks.
        void cycle(int frames) {
            const QMutexLocker guard(&lock);
            if (!running)
                return;
            const int bytes = frames * 4;
            played.append(held.left(bytes));
            played.append(QByteArray(std::max(0, bytes - held.size()), '\0'));
            held.remove(0, std::min(bytes, held.size()));
        }
        bool isRunning() const {
            const QMutexLocker guard(&lock);
            return running;
        }
        QByteArray playedSoFar() const {
            const QMutexLocker guard(&lock);
            return played;
        }
        void reset(bool run) {
            const QMutexLocker guard(&lock);
            running = run;
            held.clear();
        }
        mutable QMutex lock;
        QByteArray held;
        QByteArray played;
        bool running = false;
    };

    void setOpen(CardDevice device, bool open) {
        const QMutexLocker guard(&mutex);
        if (device == CardDevice::Capture)
            captureOpen = open;
        else
            (device == CardDevice::Cable ? cable : speaker).reset(open);
    }
    DeviceCatalogue listedNow() const {
        DeviceCatalogue catalogue;
        if (plugged[std::size_t(CardDevice::Capture)])
            catalogue.inputDevices.insert(kCapture, captureIndex);
        if (plugged[std::size_t(CardDevice::Cable)])
            catalogue.outputDevices.insert(kCable, 1);
        if (plugged[std::size_t(CardDevice::Speaker)])
            catalogue.outputDevices.insert(kSpeaker, 2);
        return catalogue;
    }
    template <typename T>
    T value(const T& member) const {
        const QMutexLocker guard(&mutex);
        return member;
    }
    // How long `hostFrames` last at the host's rate (half the streams').
    std::int64_t hostFramesNs(int hostFrames) const {
        return std::llround(1e9 * hostFrames / (streams.sampleRate / 2));
    }
    // The cycles due up to `ns` (worker thread), each looked at just before it comes.
    void runUntil(std::int64_t ns) {
        const int frames = streams.frameSizeOut;
        const std::int64_t periodNs = 1000000000LL * frames / std::max(streams.sampleRate, 1);
        for (; streamsOpen() && frames > 0 && nextCycleNs <= ns; nextCycleNs += periodNs) {
            clockNs = nextCycleNs - kLookAheadNs;
            servicePlaybackAt(clockNs);
            if (present(CardDevice::Cable))
                cable.cycle(frames);
            if (present(CardDevice::Speaker) && clockNs >= speakerLinkedNs)
                speaker.cycle(frames);
        }
        clockNs = ns;
    }

    mutable QRecursiveMutex mutex;
    QTimer wallClock;
    QElapsedTimer wall;
    StandInSink cable;
    StandInSink speaker;
    StreamFormat streams;
    // The simulated clock and the card's next cycle on it (worker thread).
    std::int64_t clockNs = 0;
    std::int64_t nextCycleNs = 0;
    std::int64_t speakerLinkedNs = 0;
    // Wall-clock moments of the latest datagram and of the latest move of the clock by idle time.
    std::int64_t lastArrivalWallNs = 0;
    std::int64_t lastAdvanceWallNs = 0;
    qint64 arrivals = 0;
    DeviceCatalogue listed;
    bool captureOpen = false;
};
