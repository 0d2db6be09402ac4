// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QtGlobal>

// What a playout tells about its stream since it was last reset: the faults, each kept small and
// counted, and where the stream stands.
struct PlayoutStats {
    // Callbacks in a row that found audio missing count as one underrun; the frames are host
    // frames played as silence because they had not arrived.
    quint64 underruns = 0;
    quint64 underrunFrames = 0;
    // Host frames thrown away: the oldest audio when the buffer ran past its bound, and blocks
    // refused for want of room.
    quint64 droppedFrames = 0;
    // Datagrams that came after the playout had passed (part of) their place in the stream.
    quint64 lateDatagrams = 0;
    // Datagrams that never came: the gaps in the stream positions pushed.
    quint64 lostDatagrams = 0;
    // The audio buffered ahead of the card, smoothed, in milliseconds.
    double delayMs = 0.0;
    // How much faster the host's clock runs than the card's, in parts per million.
    double skewPpm = 0.0;
    // The host's frames per second, by which the frame counts above are times.
    int hostRate = 0;
    // The datagrams' arrival jitter the playout covers (the lateness it holds audio for), in
    // milliseconds.
    double jitterMs = 0.0;
    // What the sound system adds after the playout has handed its audio over, in milliseconds:
    // with delayMs, the received audio's latency at the card.
    double cardLatencyMs = 0.0;

    qint64 underrunMs() const { return framesToMs(underrunFrames); }
    qint64 droppedMs() const { return framesToMs(droppedFrames); }

private:
    qint64 framesToMs(quint64 frames) const {
        return hostRate > 0 ? qRound64(frames * 1000.0 / hostRate) : 0;
    }
};
