// SPDX-License-Identifier: GPL-3.0-or-later

#include "soundwatchdog.h"

#include <algorithm>
#include <chrono>

namespace {

// A stream is judged stopped after this many of its buffers of silence.
constexpr std::int64_t kSilentBuffers = 4;
// How often the open devices are asked whether the sound system still knows them.
constexpr std::int64_t kPresenceCheckNs = 2'000'000'000;

} // namespace

bool stalled(std::int64_t lastNs, std::int64_t nowNs, std::int64_t bufferFrames, int sampleRate,
             std::int64_t minimumMs) {
    const std::int64_t bufferNs = bufferFrames * 1'000'000'000 / std::max(sampleRate, 1);
    return lastNs >= 0 &&
           nowNs - lastNs > std::max(kSilentBuffers * bufferNs, minimumMs * 1'000'000);
}

std::int64_t steadyClockNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool SoundWatchdog::presenceDue(std::int64_t nowNs) {
    if (nowNs - presenceAskedNs < kPresenceCheckNs)
        return false;
    presenceAskedNs = nowNs;
    return true;
}

std::optional<QString> SoundWatchdog::report(const QString& missing) {
    if (missing == reported)
        return std::nullopt;
    reported = missing;
    return missing;
}
