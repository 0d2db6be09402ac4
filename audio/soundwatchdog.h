// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>

#include <cstdint>
#include <optional>

// How often the audio worker has the card's devices checked (SoundWatchdog), in milliseconds.
inline constexpr int kDeviceCheckMs = 100;

// Whether a stream that last took or delivered audio at `lastNs` (-1: not yet looked at) has
// stopped working by `nowNs`, on the stream's own clock: it has done nothing for four of its
// buffers of `bufferFrames` at `sampleRate`, and for no less than `minimumMs`.
bool stalled(std::int64_t lastNs, std::int64_t nowNs, std::int64_t bufferFrames, int sampleRate,
             std::int64_t minimumMs);

// The steady clock, in nanoseconds: the capture's clock for stalled().
std::int64_t steadyClockNs();

// The watch on the card's devices, on the audio worker's thread: when the sound system is asked
// again whether the open devices are still there, and the device missing reported once per
// change.
class SoundWatchdog {
public:
    // A stream silent for this long since its latest block has stopped working; one that has not
    // yet taken or delivered any is given kFirstDeliveryMs since it opened (a sound server that
    // is busy links a new stream late).
    static constexpr std::int64_t kMinSilenceMs = 500;
    static constexpr std::int64_t kFirstDeliveryMs = 2000;

    // True every 2 s, on the steady clock.
    bool presenceDue(std::int64_t nowNs);
    // `missing` (the first device the streams want that does not play, empty while every one
    // plays) when it is not the one reported last.
    std::optional<QString> report(const QString& missing);
    // A new start: nothing reported yet.
    void reset() { reported.clear(); }

private:
    std::int64_t presenceAskedNs = 0;
    QString reported;
};
