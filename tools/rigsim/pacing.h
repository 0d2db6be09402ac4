// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QtGlobal>

// When each audio datagram is due, counted from the start of a stream. Datagram k is due at
// k * frameSize / (sampleRate * (1 + ppm * 1e-6)) seconds, computed exactly in integers, so a
// stream paced from a monotonic clock keeps its average rate over hours instead of accumulating
// timer error. A positive ppm is a host whose sample clock runs fast.
class PacingSchedule {
public:
    PacingSchedule(int sampleRate, int frameSize, double clockPpm = 0.0);

    // Nanoseconds from the stream's start at which sample frame f is produced.
    qint64 frameNs(qint64 f) const;

    // Nanoseconds from the stream's start at which datagram k is due.
    qint64 dueNs(qint64 k) const { return frameNs(k * frameSize); }

    int framesPerDatagram() const { return static_cast<int>(frameSize); }

    // The stream's start (monotonic ns) after the datagram due `sendNs` into it went at `nowNs`:
    // held up longer than `stallNs` (a hang, a suspended process), the schedule goes on from now
    // instead of sending the backlog in a burst.
    static qint64 startAfter(qint64 startNs, qint64 sendNs, qint64 nowNs, qint64 stallNs) {
        return nowNs - (startNs + sendNs) > stallNs ? nowNs - sendNs : startNs;
    }

private:
    qint64 frameSize;
    // The sample rate in units of 1e-9 frames per second: millionths of a ppm stay exact.
    qint64 scaledRate;
};
