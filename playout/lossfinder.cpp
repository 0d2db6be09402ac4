// SPDX-License-Identifier: GPL-3.0-or-later

#include "lossfinder.h"

#include "latenesswindow.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// A moment long before any stream, for what has not happened yet.
constexpr std::int64_t kLongAgoNs = std::numeric_limits<std::int64_t>::min() / 2;

} // namespace

LossFinder::LossFinder()
    : LossFinder(Config{}) {}

LossFinder::LossFinder(const Config& config)
    : config(config)
    , logRunOdds(std::log(config.runOdds)) {
    reset();
}

void LossFinder::reset() {
    movedBy = pendingMoves = 0;
    latestLossNs = lastQuickMoveNs = kLongAgoNs;
    wholePeriods = 0.0;
    forgetRuns();
}

int LossFinder::takeMove() {
    if (pendingMoves == 0)
        return 0;
    const int step = pendingMoves > 0 ? 1 : -1;
    pendingMoves -= step;
    return move(step);
}

int LossFinder::move(int step) {
    movedBy += step;
    forgetRuns();
    return step;
}

void LossFinder::forgetRuns() {
    suspectNs = unsureSinceNs = kLongAgoNs;
    wholeRun = 0;
}

int LossFinder::datagram(std::int64_t arrivalNs, double lateNs, double periodNs,
                         const LatenessWindow& window) {
    if (lossShown(arrivalNs, lateNs, periodNs, window)) {
        latestLossNs = lastQuickMoveNs = arrivalNs;
        return move(1);
    }
    if (lateNs < -config.beyondFraction * periodNs &&
        arrivalNs - lastQuickMoveNs < config.backWithinNs) {
        lastQuickMoveNs = kLongAgoNs;
        return move(-1);
    }
    return 0;
}

// The same back for a stream counted ahead (a datagram that came twice), judged only on blocks
// counted wholly since the stream last moved.
void LossFinder::blocksClosed(const std::vector<ScheduleFit::Block>& blocks,
                              std::int64_t arrivalNs) {
    if (blocks.size() < 2)
        return;
    const ScheduleFit::Block& a = blocks[blocks.size() - 2];
    const ScheduleFit::Block& b = blocks.back();
    if (!a.calm || !b.calm)
        return;
    const std::int64_t counted = movedBy + pendingMoves;
    if (a.lostBefore > counted && b.lostBefore > counted) {
        pendingMoves += std::min(a.lostBefore, b.lostBefore) - counted;
        latestLossNs = arrivalNs;
    } else if (a.lostBefore < counted && b.lostBefore < counted && a.movedAt == counted &&
               b.movedAt == counted)
        pendingMoves += std::max(a.lostBefore, b.lostBefore) - counted;
}

// Whether the datagrams up to this one, `lateNs` after the line as numbered, show a loss not yet
// placed.
bool LossFinder::lossShown(std::int64_t arrivalNs, double lateNs, double periodNs,
                           const LatenessWindow& window) {
    if (sure(lateNs, periodNs)) {
        forgetRuns();
        return false;
    }
    if (unsureSinceNs == kLongAgoNs)
        unsureSinceNs = arrivalNs;
    const double usual = window.usualNs();
    const double latest = window.latestNs();
    if (usual < config.jitteryFraction * periodNs)
        return calmLossShown(lateNs, latest, periodNs);
    if (suspectNs == kLongAgoNs && lateNs >= latest + config.beyondFraction * periodNs)
        suspectNs = arrivalNs;
    const bool heavyTail = latest - usual >= config.beyondFraction * periodNs;
    if (suspectNs != kLongAgoNs && (!heavyTail || arrivalNs - suspectNs >= periodNs))
        return true;
    return runShown(arrivalNs, latest, periodNs, window);
}

// The run's odds, from the share of unsure lateness over the window and over the last second,
// once the two blocks before have been jittery: where jitter has just set in, the window is calm,
// and the datagrams of the run itself are not yet counted.
bool LossFinder::runShown(std::int64_t arrivalNs, double latestNs, double periodNs,
                          const LatenessWindow& window) const {
    for (int back = 1; back <= 2; ++back)
        if (window.usualNs(back) < config.jitteryFraction * periodNs)
            return false;
    const MovingQuantile& counted = window.counted();
    const MovingQuantile::Histogram& all = counted.window();
    const MovingQuantile::Histogram& open = counted.block(0);
    const MovingQuantile::Histogram& before = counted.block(1);
    const double unsureNs = config.sureFraction * periodNs;
    const auto share = [](std::uint64_t part, std::uint64_t whole) {
        return whole > 0 ? static_cast<double>(part) / static_cast<double>(whole) : 1.0;
    };
    const double unsureShare = std::max(share(all.countFrom(unsureNs), all.total()),
                                        share(open.countFrom(unsureNs) + before.countFrom(unsureNs),
                                              open.total() + before.total()));
    const double runPeriods =
        std::ceil(logRunOdds / std::log(std::clamp(unsureShare, config.leastUnsureShare, 0.99)));
    return arrivalNs - unsureSinceNs >= latestNs + runPeriods * periodNs;
}

// On a calm link a loss makes the datagrams after it come whole periods late, each to within the
// link's own lateness; jitter setting in makes them late by any amount. So a few in a row as late
// by the same whole periods move the stream on by them.
bool LossFinder::calmLossShown(double lateNs, double latestNs, double periodNs) {
    const double periods = std::round(lateNs / periodNs);
    const double rest = lateNs - periods * periodNs;
    const bool whole =
        rest >= -config.wholeSlack * periodNs && rest <= latestNs + config.wholeSlack * periodNs;
    wholeRun = whole && periods == wholePeriods ? wholeRun + 1 : (whole ? 1 : 0);
    wholePeriods = periods;
    if (wholeRun < config.wholeRun)
        return false;
    pendingMoves += static_cast<std::int64_t>(periods) - 1;
    return true;
}
