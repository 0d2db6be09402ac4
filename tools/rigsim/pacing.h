// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QtGlobal>

// When each audio datagram is due, counted from the start of a stream. Datagram k is due at
// k * frameSize / sampleRate seconds, computed exactly in integers, so a stream paced from a
// monotonic clock keeps its average rate over hours instead of accumulating timer error.
class PacingSchedule {
public:
    PacingSchedule(int sampleRate, int frameSize);

    // Nanoseconds from the stream's start at which datagram k is due.
    qint64 dueNs(qint64 k) const;

    // How many datagrams are due by elapsedNs after the start (datagram 0 is due at 0).
    qint64 dueCount(qint64 elapsedNs) const;

    double datagramsPerSecond() const;

private:
    qint64 sampleRate;
    qint64 frameSize;
};
