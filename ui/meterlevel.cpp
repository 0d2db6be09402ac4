// SPDX-License-Identifier: GPL-3.0-or-later

#include "meterlevel.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr float bottomOutPeakDb = -55.0f;
}

MeterLevel::MeterLevel(float minDb, float maxDb)
    : bottom(minDb)
    , top(maxDb)
    , current(minDb)
    , peakDb(minDb) {}

void MeterLevel::setDb(float v, qint64 nowMs) {
    // A broken reading (NaN) shows as silence rather than poisoning the peak.
    v = std::isnan(v) ? bottom : std::clamp(v, bottom, top);
    current = v;
    if (v >= peakDb) {
        peakDb = v;
        peakRaisedMs = nowMs;
        peakHold = true;
    } else if (peakHold) {
        if (nowMs - peakRaisedMs > peakHoldMs)
            peakHold = false;
    } else {
        peakDb = peakDb + (bottom - peakDb) * peakFallFraction;
        if (peakDb < bottom + peakSnapDb)
            peakDb = bottom;
    }
}

void MeterLevel::resetPeak() {
    peakHold = false;
    peakDb = bottom;
}

void MeterLevel::toBottom(qint64 nowMs) {
    setDb(bottom, nowMs);
    peakDb = std::clamp(bottomOutPeakDb, bottom, top);
}
