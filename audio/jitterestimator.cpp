// SPDX-License-Identifier: GPL-3.0-or-later

#include "jitterestimator.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kNsPerSecond = 1e9;
// Arrivals are grouped in blocks of half a second: the schedule's points and the lateness
// window move on block by block.
constexpr std::int64_t kBlockNs = 500'000'000;
// The schedule is fitted to the earliest arrivals of the last 32 calm blocks (16 s when the
// network is calm): under 50 ms of jitter a block's earliest arrival still scatters by a
// millisecond or so, which over 16 s tilts the line by no more than tens of ppm, and a clock's
// skew moves far slower than that. Jitter with the datagrams' order kept lifts the earliest
// arrival of a whole block by many milliseconds, so a fit through such blocks would tilt; through
// the calm ones before a burst it holds. A block is calm when it brought at least half its time's
// worth of audio (not a few stragglers between two bunches) and either reached the floor (its
// earliest datagram within 1 ms of the lower envelope of every block of the last 24 s) or kept
// its datagrams together (90 % within 2 ms of its earliest: a clock whose skew changed drifts off
// the line, but not apart). The floor is judged against that envelope, not against the fitted
// line: a line that came out tilted (from the few blocks at a start under jitter) would otherwise
// find no block calm again and never straighten. A floor lifted for longer than 24 s is the
// network's new quickest.
constexpr size_t kFitBlocks = 32;
constexpr size_t kEnvelopeBlocks = 48;
constexpr double kCalmFill = 0.5;
constexpr double kCalmFloorNs = 1'000'000.0;
constexpr double kCalmSpreadNs = 2'000'000.0;
constexpr double kCalmShare = 0.9;
// Lateness is judged over the last 20 blocks (10 s).
constexpr int kWindowBlocks = 20;
constexpr double kBinNs = 500'000.0;
constexpr double kQuantile = 0.99;
// Covers what lateness does not measure: the callback's own scheduling and the drift
// controller's small error around the target.
constexpr double kMarginNs = 2'000'000.0;
// After it last grew, the target holds for 5 s, then shrinks by at most 2 ms per second, which
// the drift controller follows by resampling within its correction clamp.
constexpr std::int64_t kShrinkHoldNs = 5'000'000'000;
constexpr double kShrinkPerSecond = 0.002;
// A step in the lateness floor counts as lost datagrams when, for half a second, the floor stays
// within a quarter period of the same whole number of periods, and nearly every datagram (all but
// 10 %) arrives within a quarter period of it, as on a calm network. Jitter lifts the floor too,
// but spreads the datagrams far above it. Half a second is short because at 1 % loss of 10 ms
// datagrams the next loss comes a second or so later, and a step is judged on at least its first
// quarter second; the fitted schedule takes several blocks to follow a step, so it stays put.
constexpr std::int64_t kLossConfirmNs = 500'000'000;
constexpr double kLossTolerance = 0.25; // periods
constexpr double kLossStraggling = 0.1; // of the datagrams

} // namespace

JitterEstimator::JitterEstimator() {
    reset(rate, 0);
}

void JitterEstimator::reset(int hostRate, int floorFrames, std::int64_t position) {
    rate = hostRate;
    nsPerFrame = kNsPerSecond / hostRate;
    floor = floorFrames;
    next = position;
    firstPosition = position;
    started = false;
    calmMinima.clear();
    calmMinima.reserve(kFitBlocks);
    latestMinima.clear();
    latestMinima.reserve(kEnvelopeBlocks);
    openHasPoint = false;
    schedule = Line();
    loss = LossCandidate();
    histograms.assign(kWindowBlocks, Histogram{});
    windowCounts.fill(0);
    windowTotal = 0;
    openBlock = 0;
    blockFrames = 0;
    target = 0.0;
}

JitterEstimator::Placement JitterEstimator::arrival(std::int64_t arrivalNs, int frames) {
    if (frames <= 0)
        return {next, arrivalNs, static_cast<int>(std::lround(target))};
    if (!started) {
        started = true;
        firstNs = blockStartNs = lastGrowthNs = lastArrivalNs = arrivalNs;
    }
    const double periodNs = frames * nsPerFrame;
    Point p = pointFor(next + frames, arrivalNs);
    record(p);
    refit();
    double lateness = std::max(p.y - schedule.at(p.x), 0.0);
    if (const int lost = detectLoss(arrivalNs, lateness, periodNs)) {
        moveOn(lost, frames);
        p = pointFor(next + frames, arrivalNs);
        lateness = std::max(p.y - schedule.at(p.x), 0.0);
    }
    countLateness(lateness);
    blockFrames += frames;
    updateTarget(arrivalNs, lateness, frames);

    Placement placed;
    placed.position = next;
    placed.dueNs = firstNs + std::llround(p.x * nsPerFrame + schedule.at(p.x));
    placed.target = static_cast<int>(std::lround(target));
    next += frames;
    lastArrivalNs = arrivalNs;
    closeBlockIfDue(arrivalNs);
    return placed;
}

double JitterEstimator::skewPpm() const {
    return -schedule.slope / nsPerFrame * 1e6;
}

JitterEstimator::Point JitterEstimator::pointFor(std::int64_t endPosition,
                                                 std::int64_t arrivalNs) const {
    Point p;
    p.x = static_cast<double>(endPosition - firstPosition);
    p.y = static_cast<double>(arrivalNs - firstNs) - p.x * nsPerFrame;
    p.atNs = arrivalNs;
    return p;
}

void JitterEstimator::record(const Point& p) {
    if (!openHasPoint || p.y < openMinimum.y)
        openMinimum = p;
    openHasPoint = true;
}

// The lower convex hull of the blocks' earliest arrivals, and of it the edge over their median
// position: the line below every point that follows most of them, and not a few blocks far
// apart in time (calm blocks on both sides of a long burst of jitter).
JitterEstimator::Line JitterEstimator::fitSchedule(const std::vector<Point>& minima,
                                                   bool withOpenBlock) const {
    std::array<Point, kEnvelopeBlocks + 1> hull;
    size_t size = 0;
    auto add = [&](const Point& p) {
        while (size >= 2) {
            const Point& o = hull[size - 2];
            const Point& a = hull[size - 1];
            if ((a.x - o.x) * (p.y - o.y) - (a.y - o.y) * (p.x - o.x) > 0.0)
                break;
            --size;
        }
        hull[size++] = p;
    };
    for (const Point& p : minima)
        add(p);
    if (withOpenBlock)
        add(openMinimum);
    if (size < 2)
        return size == 1 ? Line{hull[0].y, 0.0} : Line();
    // The points come in stream order, the open block's last.
    const size_t middle = (minima.size() + (withOpenBlock ? 1 : 0)) / 2;
    const double medianX = middle < minima.size() ? minima[middle].x : openMinimum.x;
    size_t edge = 0;
    while (edge + 2 < size && hull[edge + 1].x < medianX)
        ++edge;
    const Point& a = hull[edge];
    const Point& b = hull[edge + 1];
    const double slope = (b.y - a.y) / (b.x - a.x);
    return {a.y - slope * a.x, slope};
}

// The open block counts only when it reaches below the closed blocks' line (a host that speeds
// up): a block in a burst of jitter would otherwise tilt the line until its block closes.
void JitterEstimator::refit() {
    // Before two calm blocks (a stream that starts in a burst), the latest blocks stand in.
    const std::vector<Point>& minima = calmMinima.size() >= 2 ? calmMinima : latestMinima;
    schedule = fitSchedule(minima, false);
    const bool closedBlocks = !latestMinima.empty();
    if (openHasPoint && (!closedBlocks || openMinimum.y < schedule.at(openMinimum.x)))
        schedule = fitSchedule(minima, true);
}

// Returns the datagrams lost just before the floor's step, once it is confirmed.
int JitterEstimator::detectLoss(std::int64_t arrivalNs, double lateness, double periodNs) {
    if (lateness < periodNs / 2) {
        loss.active = false;
        return 0;
    }
    if (!loss.active)
        loss = {true, arrivalNs, lateness, std::numeric_limits<double>::infinity(), 0, 0};
    const std::int64_t age = arrivalNs - loss.sinceNs;
    const double tolerance = kLossTolerance * periodNs;
    const double lowest = std::min(loss.earlyFloor, loss.lateFloor);
    // A further loss before this one is confirmed: this one is judged on what it has, and the
    // next datagram begins the next step's watch.
    if (age >= kLossConfirmNs / 2 && lateness > lowest + periodNs - tolerance)
        return confirmLoss(periodNs, true);
    double& floorSoFar = age < kLossConfirmNs / 2 ? loss.earlyFloor : loss.lateFloor;
    floorSoFar = std::min(floorSoFar, lateness);
    ++loss.arrivals;
    if (lateness > lowest + tolerance)
        ++loss.straggling;
    return age < kLossConfirmNs ? 0 : confirmLoss(periodNs, false);
}

// The candidate's verdict: the whole periods its floor stepped by, if the floor held level on
// them (over both halves of the watch, or the first when it was cut short) with the datagrams
// close above it.
int JitterEstimator::confirmLoss(double periodNs, bool cutShort) {
    loss.active = false;
    const double tolerance = kLossTolerance * periodNs;
    const long periods = std::lround(loss.earlyFloor / periodNs);
    auto onPeriods = [&](double floor) {
        return std::abs(floor - periods * periodNs) < tolerance;
    };
    const bool level = onPeriods(loss.earlyFloor) &&
                       ((cutShort && std::isinf(loss.lateFloor)) || onPeriods(loss.lateFloor));
    const bool calm = loss.straggling <= kLossStraggling * loss.arrivals;
    return level && calm ? static_cast<int>(periods) : 0;
}

// The datagrams since the step belonged `datagrams` further on: so do their points.
void JitterEstimator::moveOn(int datagrams, int frames) {
    const double frameShift = static_cast<double>(datagrams) * frames;
    next += datagrams * static_cast<std::int64_t>(frames);
    auto shift = [&](Point& p) {
        if (p.atNs >= loss.sinceNs) {
            p.x += frameShift;
            p.y -= frameShift * nsPerFrame;
        }
    };
    for (Point& p : calmMinima)
        shift(p);
    for (Point& p : latestMinima)
        shift(p);
    if (openHasPoint)
        shift(openMinimum);
    refit();
}

void JitterEstimator::countLateness(double latenessNs) {
    const auto bin = static_cast<size_t>(std::min(latenessNs / kBinNs, kLatenessBins - 1.0));
    ++histograms[openBlock][bin];
    ++windowCounts[bin];
    ++windowTotal;
}

void JitterEstimator::closeBlockIfDue(std::int64_t arrivalNs) {
    if (arrivalNs - blockStartNs < kBlockNs)
        return;
    blockStartNs = arrivalNs;
    keepLatest(latestMinima, openMinimum, kEnvelopeBlocks);
    const Line envelope = fitSchedule(latestMinima, false);
    const bool reachedFloor = openMinimum.y - envelope.at(openMinimum.x) < kCalmFloorNs;
    if (blockIsCalm(histograms[openBlock], reachedFloor))
        keepLatest(calmMinima, openMinimum, kFitBlocks);
    blockFrames = 0;
    openHasPoint = false;
    openBlock = (openBlock + 1) % kWindowBlocks;
    Histogram& oldest = histograms[openBlock];
    for (int b = 0; b < kLatenessBins; ++b) {
        windowCounts[b] -= oldest[b];
        windowTotal -= oldest[b];
    }
    oldest.fill(0);
}

void JitterEstimator::keepLatest(std::vector<Point>& minima, const Point& p, std::size_t blocks) {
    if (minima.size() == blocks)
        minima.erase(minima.begin());
    minima.push_back(p);
}

bool JitterEstimator::blockIsCalm(const Histogram& block, bool reachedFloor) const {
    if (blockFrames < kCalmFill * rate * kBlockNs / kNsPerSecond)
        return false;
    if (reachedFloor)
        return true;
    std::uint32_t total = 0;
    for (std::uint32_t count : block)
        total += count;
    int earliest = 0;
    while (block[earliest] == 0)
        ++earliest;
    const int calmBins = earliest + static_cast<int>(kCalmSpreadNs / kBinNs);
    std::uint32_t within = 0;
    for (int b = earliest; b < std::min(calmBins, kLatenessBins); ++b)
        within += block[b];
    return within >= kCalmShare * total;
}

// The upper edge of the bin holding the quantile: never below it.
double JitterEstimator::latenessQuantileNs() const {
    const double allowedAbove = (1.0 - kQuantile) * static_cast<double>(windowTotal);
    std::uint64_t above = 0;
    for (int b = kLatenessBins - 1; b >= 0; --b) {
        above += windowCounts[b];
        if (static_cast<double>(above) > allowedAbove)
            return (b + 1) * kBinNs;
    }
    return 0.0;
}

void JitterEstimator::updateTarget(std::int64_t arrivalNs, double latenessNs, int frames) {
    const double framesPerNs = rate / kNsPerSecond;
    auto bounded = [&](double fill) {
        return std::clamp(std::max(fill, static_cast<double>(floor)), static_cast<double>(frames),
                          std::max(rate * kMaxTargetSeconds, static_cast<double>(frames)));
    };
    const double steady = bounded(frames + (latenessQuantileNs() + kMarginNs) * framesPerNs);
    const double covering = bounded(frames + (latenessNs + kMarginNs) * framesPerNs);
    const double wanted = std::max(steady, covering);
    if (wanted > target) {
        target = wanted;
        lastGrowthNs = arrivalNs;
    } else if (arrivalNs - lastGrowthNs >= kShrinkHoldNs) {
        const double step = kShrinkPerSecond * rate * (arrivalNs - lastArrivalNs) / kNsPerSecond;
        target = std::max(wanted, target - step);
    }
}
