// SPDX-License-Identifier: GPL-3.0-or-later

#include "audiostreamer.h"

#include "pacing.h"
#include "rigsimulator.h"
#include "timingmarks.h"
#include "tonegenerator.h"

#include <QUdpSocket>

#include <ctime>
#include <pthread.h>
#include <sched.h>

namespace {

constexpr qint64 kNsPerSecond = 1000000000;
// Held up longer than this (a hang, a suspended process), the stream restarts its schedule
// instead of sending the backlog in a burst.
constexpr qint64 kStallNs = 250000000;
// A modest real-time priority keeps the send times tight on a busy machine; without the
// privilege the stream runs at normal priority, only with more jitter.
constexpr int kRealtimePriority = 10;

void preferRealtime() {
    sched_param param{};
    param.sched_priority = kRealtimePriority;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

qint64 monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<qint64>(now.tv_sec) * kNsPerSecond + now.tv_nsec;
}

void sleepUntil(qint64 ns) {
    timespec at{};
    at.tv_sec = static_cast<time_t>(ns / kNsPerSecond);
    at.tv_nsec = static_cast<long>(ns % kNsPerSecond);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) != 0) {
    }
}

// Consecutive slices of a looped recording.
class LoopReader {
public:
    explicit LoopReader(const QByteArray& data_)
        : data(data_) {}
    QByteArray next(int bytes) {
        QByteArray out;
        out.reserve(bytes);
        while (out.size() < bytes) {
            const int take = std::min(bytes - out.size(), data.size() - position);
            out.append(data.constData() + position, take);
            position = (position + take) % data.size();
        }
        return out;
    }

private:
    QByteArray data;
    int position = 0;
};

} // namespace

AudioStreamer::AudioStreamer(int sampleRate_, int frameSize_, Source source_, Path path_)
    : sampleRate(sampleRate_)
    , frameSize(frameSize_)
    , source(std::move(source_))
    , path(path_) {}

AudioStreamer::~AudioStreamer() {
    stop();
}

void AudioStreamer::start(const QHostAddress& address, quint16 port) {
    stop();
    stopRequested = false;
    worker = std::thread([this, address, port] { run(address, port); });
}

void AudioStreamer::stop() {
    if (!worker.joinable())
        return;
    stopRequested = true;
    worker.join();
}

void AudioStreamer::run(QHostAddress address, quint16 port) {
    preferRealtime();
    QUdpSocket socket;
    ToneGenerator tones(source.leftHz, source.rightHz, sampleRate);
    if (source.moving)
        tones.setLevelMovement(ToneGenerator::kMovingLeftHz, ToneGenerator::kMovingRightHz);
    LoopReader loop(source.stereoLoop);
    const TimingMarks marks(sampleRate);
    const PacingSchedule schedule(sampleRate, frameSize, path.clockPpm);
    FaultSchedule faults(path.faults);
    const int bytes = frameSize * 4;
    qint64 start = monotonicNs();
    qint64 k = 0;
    qint64 stallLogged = -1;
    while (!stopRequested.load()) {
        const FaultSchedule::Decision decision = faults.next(schedule.dueNs(k));
        // Said as the stall begins, with when it began on the monotonic clock, so that what the
        // far end records can be placed against it.
        if (decision.stallFromNs >= 0 && decision.stallFromNs != stallLogged) {
            stallLogged = decision.stallFromNs;
            say(QStringLiteral("stall: %1 ms at %2 ns")
                    .arg(path.faults.stallForMs)
                    .arg(start + decision.stallFromNs));
        }
        sleepUntil(start + decision.sendNs);
        if (stopRequested.load())
            break;
        QByteArray datagram =
            source.stereoLoop.isEmpty() ? tones.nextFrames(frameSize) : loop.next(bytes);
        const qint64 mark =
            source.marks ? marks.apply(&datagram, k * frameSize) : static_cast<qint64>(-1);
        if (decision.dropped) {
            ++dropped;
            say(QStringLiteral("loss: datagram %1 dropped").arg(k));
        } else {
            socket.writeDatagram(datagram, address, port);
            ++sent;
        }
        // The mark's time is when the host's clock produced it, so the network's delay counts
        // as latency at the far end.
        if (mark >= 0)
            say(QStringLiteral("mark %1 at %2 ns")
                    .arg(mark)
                    .arg(start + schedule.frameNs(marks.markFrame(mark))));
        ++k;
        const qint64 resumed =
            PacingSchedule::startAfter(start, decision.sendNs, monotonicNs(), kStallNs);
        stallCount += resumed != start ? 1 : 0;
        start = resumed;
    }
}
