// SPDX-License-Identifier: GPL-3.0-or-later

#include "cardclock.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double kNsPerSecond = 1e9;
// The cycles' length is measured over at least 200 of them, and a new reference taken every 1000
// (about 20 s at 1024 frames and 48 kHz): long enough that the moments' uncertainty is a few ppm,
// short enough to follow a card whose clock wanders.
constexpr std::int64_t kMeasureCycles = 200;
constexpr std::int64_t kReferenceCycles = 1000;
// A measured length more than 0.5 % off the nominal one is not a clock.
constexpr double kMostOff = 0.005;
} // namespace

void CardClock::reset(int framesPerSecond) {
    *this = CardClock();
    rate = framesPerSecond;
}

void CardClock::look(std::int64_t nowNs, std::int64_t takenNow) {
    if (!looked) {
        looked = true;
        lastLookNs = takenSeen = nowNs;
        lastTaken = takenNow;
        return;
    }
    const long step = static_cast<long>(takenNow - lastTaken);
    if (step > 0) {
        takenSeen = nowNs;
        learnPeriod(step);
        const std::int64_t n = std::max<std::int64_t>(1, std::lround(double(step) / period));
        const std::int64_t predicted = cycles > 0 ? cycleNs + n * periodNs() : nowNs;
        cycleNs = std::clamp(predicted, lastLookNs + 1, nowNs);
        if (cycles == 0 || cycles - referenceCycles >= kReferenceCycles) {
            if (cycles > 0)
                spanPeriodNs = double(cycleNs - referenceNs) / double(cycles + n - referenceCycles);
            referenceNs = cycleNs;
            referenceCycles = cycles + n;
        }
        cycles += n;
        if (cycles - referenceCycles >= kMeasureCycles)
            measuredPeriodNs = double(cycleNs - referenceNs) / double(cycles - referenceCycles);
    } else if (cycles > 0 && nextCycleNs() <= nowNs) {
        // Not yet come though due: it comes after this look.
        cycleNs = nowNs + 1 - periodNs();
    }
    lastLookNs = nowNs;
    lastTaken = takenNow;
}

std::int64_t CardClock::periodNs() const {
    return std::llround(plausible(measuredPeriodNs) ? measuredPeriodNs : nominalPeriodNs());
}

double CardClock::nominalPeriodNs() const {
    return period * kNsPerSecond / rate;
}

bool CardClock::plausible(double lengthNs) const {
    return std::abs(lengthNs / nominalPeriodNs() - 1.0) < kMostOff;
}

// Over the whole span between references, not the 200 cycles that may follow one: a cycle's
// moment is known to a millisecond or so, which over 200 cycles of 21 ms is 200 ppm.
double CardClock::clockPpm() const {
    return plausible(spanPeriodNs) ? (nominalPeriodNs() / spanPeriodNs - 1.0) * 1e6 : 0.0;
}

// The most common step of the latest sixteen (the smallest among equals): a look that missed a
// cycle sees two at once, and one that came as the card restarted sees part of one.
void CardClock::learnPeriod(long step) {
    steps[stepCount++ % steps.size()] = step;
    const std::size_t n = std::min(stepCount, steps.size());
    long best = step;
    std::size_t bestCount = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const auto count = static_cast<std::size_t>(
            std::count(steps.begin(), steps.begin() + static_cast<std::ptrdiff_t>(n), steps[i]));
        if (count > bestCount || (count == bestCount && steps[i] < best)) {
            best = steps[i];
            bestCount = count;
        }
    }
    if (best != period)
        measuredPeriodNs = 0.0;
    period = best;
}
