// SPDX-License-Identifier: GPL-3.0-or-later

#include "cardclock.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double kNsPerSecond = 1e9;
// The cycles' length is measured over at least 200 of them, and a new span begun every 20 s: long
// enough that the cycles' moments, each known to a millisecond or two, make a few ppm of it, short
// enough to follow a card whose clock wanders.
constexpr std::int64_t kMeasureCycles = 200;
constexpr double kSpanNs = 20e9;
// The clock is measured once the looks' brackets span this long, and bound its cycles' length to
// within this share of it; until then it is taken as the system's, give or take what a card's
// clock is off by: a hundred ppm or so.
constexpr double kLeastBoundSpanNs = 5e9;
constexpr double kLoosest = 100e-6;
constexpr double kUnmeasuredPpm = 100.0;
// A measured length more than 0.5 % off the nominal one is not a clock.
constexpr double kMostOff = 0.005;
// After a server's stop, the looks that find the cycles again may be a period apart: the cycles'
// times are judged afresh for a few cycles before they measure the clock again.
constexpr std::int64_t kSettleCycles = 8;
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
        const std::int64_t dueNs = seenCycleNs + n * periodNs();
        cycleNs = std::clamp(predicted, lastLookNs + 1, nowNs);
        measure(dueNs, n, lastLookNs, nowNs);
        seenCycleNs = cycleNs;
        cycles += n;
    } else if (cycles > 0 && nextCycleNs() <= nowNs) {
        // Not yet come though due: it comes after this look.
        cycleNs = nowNs + 1 - periodNs();
    }
    lastLookNs = nowNs;
    lastTaken = takenNow;
}

// A clock is off by some ppm, microseconds a cycle: a cycle half a period or more off its time is a
// server that stopped for a while, or caught up after a hiccup, and neither is the card's clock.
// The cycles' length is measured over the pieces between such steps, each a few cycles after one.
void CardClock::measure(std::int64_t dueNs, std::int64_t n, std::int64_t afterNs,
                        std::int64_t byNs) {
    const std::int64_t at = cycles + n;
    if (cycles == 0) {
        beginPiece(at);
        return;
    }
    if (2 * std::abs(cycleNs - dueNs) >= periodNs()) {
        ++jumpCount;
        if (resumeAtCycles < 0) {
            spanNs += seenCycleNs - pieceNs;
            spanCycles += cycles - pieceCycles;
            bounds.breakPiece();
        }
        resumeAtCycles = at + kSettleCycles;
        return;
    }
    if (resumeAtCycles >= 0) {
        if (at >= resumeAtCycles)
            beginPiece(at);
        return;
    }
    bounds.add(at, afterNs, byNs);
    const double ns = double(spanNs + cycleNs - pieceNs);
    const std::int64_t counted = spanCycles + at - pieceCycles;
    if (counted >= kMeasureCycles)
        measuredPeriodNs = ns / double(counted);
    if (ns >= kSpanNs) {
        spanNs = spanCycles = 0;
        beginPiece(at);
    }
}

// A piece of the span measured from the latest cycle, the `at`th.
void CardClock::beginPiece(std::int64_t at) {
    pieceNs = cycleNs;
    pieceCycles = at;
    resumeAtCycles = -1;
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

double CardClock::clockPpm() const {
    const CycleBounds::Length length = measured();
    return length.ns > 0.0 ? (nominalPeriodNs() / length.ns - 1.0) * 1e6 : 0.0;
}

double CardClock::clockErrorPpm() const {
    const CycleBounds::Length length = measured();
    return length.ns > 0.0 ? length.within / length.ns / 2.0 * 1e6 : kUnmeasuredPpm;
}

// The cycles' length (the middle of the lengths that fit) and how far either way it may be, where
// the looks bound it closely enough; else nothing.
CycleBounds::Length CardClock::measured() const {
    const CycleBounds::Length length = bounds.length(kLeastBoundSpanNs);
    const bool close = length.within >= 0.0 && length.within <= kLoosest * length.ns;
    return close && plausible(length.ns) ? length : CycleBounds::Length{};
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
