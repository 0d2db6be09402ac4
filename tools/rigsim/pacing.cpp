// SPDX-License-Identifier: GPL-3.0-or-later

#include "pacing.h"

#include <cmath>

namespace {

constexpr qint64 kNsPerSecond = 1000000000;
constexpr qint64 kRateScale = 1000000000;
constexpr double kPpmScale = 1000.0; // kRateScale / 1e6
__extension__ typedef __int128 Wide;

} // namespace

PacingSchedule::PacingSchedule(int sampleRate, int frameSize_, double clockPpm)
    : frameSize(frameSize_)
    , scaledRate(static_cast<qint64>(sampleRate) *
                 (kRateScale + static_cast<qint64>(std::llround(clockPpm * kPpmScale)))) {}

qint64 PacingSchedule::frameNs(qint64 f) const {
    // 128 bits keep frames * 1e18 exact for any stream a process can live through.
    const Wide scaled = static_cast<Wide>(f) * kNsPerSecond * kRateScale;
    return static_cast<qint64>(scaled / scaledRate);
}
