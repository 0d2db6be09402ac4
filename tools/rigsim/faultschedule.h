// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QtGlobal>

#include <random>

// What the network between the host and the panel does to the audio datagrams.
struct NetworkFaults {
    int jitterMs = 0;    // each datagram held back by a random 0..jitterMs
    int jitterForS = -1; // jitter only for datagrams due in the stream's first seconds (<0: always)
    double lossPercent = 0.0;
    quint64 seed = 1;
    // Instead of jitterMs: held back by an exponential delay of this mean, the heavy tail of a
    // radio link (now and then many times the mean), at most a second.
    double tailMeanMs = 0.0;
    // Every stallEveryS seconds of the stream (0: never) the link delivers nothing for stallForMs,
    // then the backlog at once, nothing lost: a mobile link's handover.
    int stallEveryS = 0;
    int stallForMs = 0;
};

// Decides, datagram by datagram and reproducibly from the seed, which ones are lost and when the
// others leave. A datagram never leaves before the one ahead of it: a held-back datagram holds
// back the ones behind it, as one queue on a slow path does.
class FaultSchedule {
public:
    struct Decision {
        bool dropped = false;
        qint64 sendNs = 0;       // when it leaves, in the stream's time (never before it is due)
        qint64 stallFromNs = -1; // when it falls due in a stall: the stall's start, else -1
    };

    explicit FaultSchedule(const NetworkFaults& faults);

    // For the next datagram in order, due dueNs after the stream's start.
    Decision next(qint64 dueNs);

private:
    qint64 delayFor(quint64 draw) const;
    qint64 stallStart(qint64 dueNs) const;

    NetworkFaults faults;
    std::mt19937_64 random;
    qint64 lastSendNs = 0;
};
