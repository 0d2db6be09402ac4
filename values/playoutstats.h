// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cmath>
#include <cstdint>

// What a playout tells about its stream since it was last reset: the faults, each kept small and
// counted, and where the stream stands. Plain C++: the receive path makes it, the window shows it.
struct PlayoutStats {
    // Times the card found the audio it needed missing (a run of them counts once); the frames
    // are host frames played as silence because they had not arrived.
    std::uint64_t underruns = 0;
    std::uint64_t underrunFrames = 0;
    // Host frames that came and were never played: too late for their place in the stream, or
    // refused for want of room.
    std::uint64_t droppedFrames = 0;
    // Host frames filled with audio continued from before a loss or an underrun.
    std::uint64_t concealedFrames = 0;
    // Host frames by which splices moved the latency, taken or given back without changing pitch.
    std::uint64_t scaledFrames = 0;
    // Link stalls, each counted once: those ridden out as outages, and those the target was raised
    // to cover because stalls kept coming within a minute.
    std::uint64_t stalls = 0;
    std::uint64_t stallsCovered = 0;
    // Datagrams that came after the playout had passed (part of) their place in the stream.
    std::uint64_t lateDatagrams = 0;
    // Datagrams that never came: the gaps in the stream positions pushed.
    std::uint64_t lostDatagrams = 0;
    // The received audio's delay from the host's schedule to the card taking it, smoothed, in
    // milliseconds.
    double delayMs = 0.0;
    // How much faster the host's clock runs than the card's, in parts per million.
    double skewPpm = 0.0;
    // The host's frames per second, by which the frame counts above are times.
    int hostRate = 0;
    // The datagrams' arrival jitter the playout covers (the lateness it holds audio for), in
    // milliseconds.
    double jitterMs = 0.0;
    // What the sound system adds after it has taken the audio, in milliseconds: with delayMs, the
    // received audio's latency at the card's output.
    double cardLatencyMs = 0.0;
    // How much faster than nominal the host's frames are taken (the resampler's correction: the
    // clocks as measured), in parts per million.
    double correctionPpm = 0.0;

    std::int64_t underrunMs() const { return framesToMs(underrunFrames); }
    std::int64_t droppedMs() const { return framesToMs(droppedFrames); }
    std::int64_t concealedMs() const { return framesToMs(concealedFrames); }
    std::int64_t scaledMs() const { return framesToMs(scaledFrames); }

private:
    std::int64_t framesToMs(std::uint64_t frames) const {
        return hostRate > 0 ? std::llround(static_cast<double>(frames) * 1000.0 / hostRate) : 0;
    }
};
