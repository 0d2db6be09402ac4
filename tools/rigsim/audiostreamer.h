// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "faultschedule.h"

#include <QByteArray>
#include <QHostAddress>

#include <atomic>
#include <thread>

// Sends stereo audio datagrams to one destination from a thread of its own, paced from the
// monotonic clock: datagram k is due at start + k * frameSize / sampleRate on the host's sample
// clock, which may run fast or slow, and leaves then or later, or not at all, as the network's
// faults say.
class AudioStreamer {
public:
    struct Source {
        double leftHz = 1000.0;
        bool moving = false;
        double rightHz = 1500.0;
        QByteArray stereoLoop; // when not empty, streamed in a loop instead of the tones
        bool marks = false;    // timing marks in the right channel, each logged with its time
    };
    struct Path {
        double clockPpm = 0.0; // the host's sample clock runs this fast (+) or slow (-)
        NetworkFaults faults;
    };

    AudioStreamer(int sampleRate, int frameSize, Source source, Path path);
    ~AudioStreamer();
    AudioStreamer(const AudioStreamer&) = delete;
    AudioStreamer& operator=(const AudioStreamer&) = delete;

    void start(const QHostAddress& address, quint16 port);
    void stop();
    bool isRunning() const { return worker.joinable(); }
    qint64 datagramsSent() const { return sent.load(); }
    qint64 datagramsDropped() const { return dropped.load(); }
    // Times the schedule was re-anchored because the thread was held up for too long.
    qint64 stalls() const { return stallCount.load(); }

private:
    void run(QHostAddress address, quint16 port);

    int sampleRate;
    int frameSize;
    Source source;
    Path path;
    std::thread worker;
    std::atomic<bool> stopRequested{false};
    std::atomic<qint64> sent{0};
    std::atomic<qint64> dropped{0};
    std::atomic<qint64> stallCount{0};
};
