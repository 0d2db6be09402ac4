// SPDX-License-Identifier: GPL-3.0-or-later

#include "jitterestimator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace {

constexpr double kNsPerSecond = 1e9;
// Arrivals are grouped in blocks of half a second: the schedule's points, the losses and the
// lateness window move on block by block.
constexpr std::int64_t kBlockNs = 500'000'000;
// The phase's slope is the one, among those a real pair of clocks can have, that gathers the most
// blocks' earliest arrivals of the last 24 s within a quarter period of one phase (the narrowest
// such gathering among equals), searched in steps of 10 ppm and then of 1 ppm, once the blocks
// span 4 s. While the schedule is locked the host's clock is where it was half a second before,
// give or take what a real clock drifts: the search keeps within 50 ppm of the last slope, and
// looks over the whole range only every 10 s (a search costs a thirteenth). The schedule is locked
// to that phase while it gathers three quarters of the blocks, and let go when it gathers fewer
// than half: a queue that keeps the datagrams late for longer than a block (heavy jitter over short
// datagrams) scatters the earliest arrivals over periods, and then no loss can be told from jitter.
// Unlocked, the stream is numbered by count alone.
constexpr double kMaxSkewPpm = 2000.0;
constexpr double kCoarseStepPpm = 10.0;
constexpr double kFineStepPpm = 1.0;
constexpr double kNearPpm = 50.0;
constexpr int kWideSearchBlocks = 20;
constexpr double kPhaseWidth = 0.25; // periods
constexpr double kMinSpanSeconds = 4.0;
constexpr std::size_t kLockBlocks = 24;
constexpr std::size_t kAnchorBlocks = 4;
constexpr double kLockShare = 0.75;
constexpr double kUnlockShare = 0.5;
// The line itself is fitted to the earliest arrivals of the last 64 calm blocks (32 s when the
// network is calm): its slope by least squares (the earliest arrivals scatter by a millisecond
// or so, which over 32 s moves the slope by a few ppm), its offset the lowest of them. A block is
// calm when it brought at least half its time's worth of audio and its earliest arrival lies at
// the schedule's phase. Jitter with the datagrams' order kept can lift a whole block's earliest
// arrival by many milliseconds; a fit through such blocks would tilt, through the calm ones it
// holds. A floor lifted for most of 48 s is the network's new quickest.
constexpr std::size_t kFitBlocks = 64;
constexpr std::size_t kKeptBlocks = 96;
constexpr double kCalmFill = 0.5;
// A block's earliest datagram three quarters of a period or more above the line counts a loss:
// jitter alone rarely keeps every datagram of half a second that late, and two blocks in a row
// must agree before the stream moves on.
constexpr double kLossFraction = 0.75;
// Losses are found only once the phase has held for two seconds.
constexpr int kSettleBlocks = 4;
// A datagram less late than this share of its period surely follows no loss not yet placed (the
// line may lie a little off the floor).
constexpr double kSureFraction = 0.75;
// Where the lateness (its 99th percentile) reaches half a period and more, a loss hides in the
// jitter from the blocks for a second or more, and the audio after it plays a period early
// meanwhile. There the datagrams themselves show it: after a loss every datagram comes at least a
// period late as numbered, after a burst of jitter only those queued behind the late one do. So
// the stream moves on at once (and back, should a datagram then come a quarter period before the
// line within a block) when either
// - a datagram comes later by a quarter period than any the window has seen: at once where the
//   jitter's tail is light (its latest within a quarter period of its 99th percentile), and where
//   it is heavy once the datagrams a period on are still unsure (a heavy tail makes such a
//   datagram now and then, but not the ones after it), or
// - the unsure datagrams have run for longer than the latest lateness (the queue behind it) and
//   as many periods more as make such a run of jitter one in 10 000, from the share of lateness
//   that is unsure (over the window or its latest second, at least a half: jitter comes in
//   spells).
// On a calmer link three datagrams in a row as late as whole periods, each to within a tenth of a
// period and the window's latest lateness, show the loss.
constexpr double kJitteryFraction = 0.5;
constexpr double kBeyondFraction = 0.25;
constexpr double kRunOdds = 1e-4;
constexpr double kLeastUnsureShare = 0.5;
constexpr double kWholeSlack = 0.1;
constexpr int kWholeRun = 3;

// A moment long before any stream, for what has not happened yet.
constexpr std::int64_t kLongAgoNs = std::numeric_limits<std::int64_t>::min() / 2;

// Phases in [0, period), sorted here; the arc of `width` that holds the most of them, the
// narrowest among equals: its count, its width and where it starts.
struct Gathering {
    int count = 0;
    double width = 0.0;
    double start = 0.0;
    bool betterThan(const Gathering& other) const {
        return count > other.count || (count == other.count && width < other.width);
    }
};

template <std::size_t N>
Gathering gather(std::array<double, N>& phases, std::size_t n, double period, double width) {
    std::sort(phases.begin(), phases.begin() + static_cast<std::ptrdiff_t>(n));
    auto at = [&](std::size_t k) {
        return k < n ? phases[k] : phases[k - n] + period;
    };
    Gathering best;
    std::size_t j = 0;
    for (std::size_t i = 0; i < n; ++i) {
        j = std::max(j, i + 1);
        while (j < i + n && at(j) - phases[i] <= width)
            ++j;
        const Gathering g{static_cast<int>(j - i), at(j - 1) - phases[i], phases[i]};
        if (g.betterThan(best))
            best = g;
    }
    return best;
}

double phaseOf(double y, double periodNs) {
    const double phase = std::fmod(y, periodNs);
    return phase < 0.0 ? phase + periodNs : phase;
}

} // namespace

JitterEstimator::JitterEstimator() {
    reset(rate, 0);
}

void JitterEstimator::reset(int hostRate, int floorFrames, std::int64_t position) {
    rate = hostRate;
    nsPerFrame = kNsPerSecond / hostRate;
    next = position;
    firstPosition = position;
    started = false;
    moved = pendingMoves = 0;
    lastLossNs = lastQuickMoveNs = kLongAgoNs;
    forgetRuns();
    locked = false;
    lockedBlocks = blocksSinceWideSearch = 0;
    lastPhaseSlope = 0.0;
    blocks.clear();
    blocks.reserve(kKeptBlocks);
    openHasPoint = false;
    schedule = Line();
    window.reset();
    policy.reset(hostRate, floorFrames);
    blockFrames = 0;
}

JitterEstimator::Placement JitterEstimator::arrival(std::int64_t arrivalNs, int frames) {
    if (frames <= 0)
        return {next, arrivalNs, policy.frames()};
    if (!started) {
        started = true;
        firstNs = blockStartNs = arrivalNs;
    }
    // One datagram's move at a time, so that each loss leaves a gap of its own.
    if (pendingMoves != 0) {
        const int step = pendingMoves > 0 ? 1 : -1;
        moveOn(step, frames);
        pendingMoves -= step;
    }
    Point p = pointFor(next + frames, arrivalNs);
    const double periodNs = frames * nsPerFrame;
    if (placingLosses()) {
        const double late = p.y - schedule.at(p.x);
        if (lossShown(arrivalNs, late, periodNs)) {
            moveOn(1, frames);
            lastLossNs = lastQuickMoveNs = arrivalNs;
        } else if (late < -kBeyondFraction * periodNs && arrivalNs - lastQuickMoveNs < kBlockNs) {
            moveOn(-1, frames);
            lastQuickMoveNs = kLongAgoNs;
        }
        p = pointFor(next + frames, arrivalNs);
    } else {
        // A run of late datagrams begun before the phase was let go says nothing once it holds.
        forgetRuns();
    }
    if (!openHasPoint || p.y - schedule.at(p.x) < openEarliest.y - schedule.at(openEarliest.x)) {
        openEarliest = p;
        openMovedAt = moved;
        openFrames = frames;
    }
    openHasPoint = true;
    if (blocks.empty())
        schedule = Line{openEarliest.y - schedule.slope * openEarliest.x, schedule.slope};
    const double lateness = std::max(p.y - schedule.at(p.x), 0.0);
    window.count(lateness, lateness < kSureFraction * periodNs);
    blockFrames += frames;
    policy.update(arrivalNs, lateness, frames, window.usualNs(), lastLossNs);

    Placement placed;
    placed.position = next;
    placed.dueNs = firstNs + std::llround(p.x * nsPerFrame + schedule.at(p.x));
    placed.target = policy.frames();
    next += frames;
    closeBlockIfDue(arrivalNs);
    return placed;
}

double JitterEstimator::skewPpm() const {
    return -schedule.slope / nsPerFrame * 1e6;
}

double JitterEstimator::latenessMs() const {
    return window.usualNs() / 1e6;
}

JitterEstimator::Point JitterEstimator::pointFor(std::int64_t endPosition,
                                                 std::int64_t arrivalNs) const {
    Point p;
    p.x = static_cast<double>(endPosition - firstPosition);
    p.y = static_cast<double>(arrivalNs - firstNs) - p.x * nsPerFrame;
    return p;
}

// A block's earliest arrival where it belongs: moved on by the losses before it that the stream
// had not yet been moved on by when it came.
JitterEstimator::Point JitterEstimator::corrected(std::size_t i) const {
    const Block& b = blocks[i];
    const double shift = static_cast<double>(b.lostBefore - b.movedAt) * b.frames;
    return {b.earliest.x + shift, b.earliest.y - shift * nsPerFrame};
}

// The slope (ns per frame over the nominal period) that gathers the blocks' earliest arrivals
// best at one phase of the datagram's period, and the share of them it gathers.
JitterEstimator::PhaseFit JitterEstimator::phaseSlope(double periodNs, double centrePpm,
                                                      double spanPpm) const {
    if (blocks.back().earliest.x - blocks.front().earliest.x < kMinSpanSeconds * rate)
        return {0.0, -1.0};
    std::array<double, kKeptBlocks> phases;
    std::size_t n = 0;
    auto gatheringAt = [&](double ppm) {
        const double slope = -ppm * 1e-6 * nsPerFrame;
        n = 0;
        for (const Block& b : blocks)
            if (b.full)
                phases[n++] = phaseOf(b.earliest.y - slope * b.earliest.x, periodNs);
        return gather(phases, n, periodNs, kPhaseWidth * periodNs);
    };
    double bestPpm = 0.0;
    Gathering best;
    auto search = [&](double from, double to, double step) {
        for (double ppm = from; ppm <= to + step / 2; ppm += step) {
            const Gathering g = gatheringAt(ppm);
            if (g.betterThan(best)) {
                best = g;
                bestPpm = ppm;
            }
        }
    };
    search(std::max(centrePpm - spanPpm, -kMaxSkewPpm), std::min(centrePpm + spanPpm, kMaxSkewPpm),
           kCoarseStepPpm);
    const double coarse = bestPpm;
    search(coarse - kCoarseStepPpm, coarse + kCoarseStepPpm, kFineStepPpm);
    return {-bestPpm * 1e-6 * nsPerFrame, n > 0 ? static_cast<double>(best.count) / n : 0.0};
}

// The line of that slope through the phase where the earliest arrivals gather, as many periods
// up or down as keeps it where the schedule was at the newest block, so that the count of losses
// carries on; or, before anything is counted, just under the lowest of the last blocks' earliest
// arrivals (one lifted by jitter would put the line a period too high).
JitterEstimator::Line JitterEstimator::phaseLine(double slope, double periodNs,
                                                 bool counting) const {
    std::array<double, kKeptBlocks> phases;
    std::size_t n = 0;
    for (const Block& b : blocks)
        if (b.full || blocks.size() == 1)
            phases[n++] = phaseOf(b.earliest.y - slope * b.earliest.x, periodNs);
    if (n == 0)
        return schedule;
    const Gathering g = gather(phases, n, periodNs, kPhaseWidth * periodNs);
    const Point& newest = blocks.back().earliest;
    double lowest = newest.y - slope * newest.x;
    for (std::size_t i = blocks.size() > kAnchorBlocks ? blocks.size() - kAnchorBlocks : 0;
         i < blocks.size(); ++i)
        lowest = std::min(lowest, blocks[i].earliest.y - slope * blocks[i].earliest.x);
    const double anchor =
        counting ? schedule.at(newest.x) - slope * newest.x : lowest - 0.25 * periodNs;
    const double periods = std::round((anchor - g.start) / periodNs);
    return {g.start + periods * periodNs, slope};
}

// Unlocked: no block shows a loss, every block that brought its audio is a point of the fit, and
// its least-squares slope sees through the earliest arrivals' scatter (stationary, under jitter
// that keeps them from the floor) better than an envelope could.
void JitterEstimator::judgeUnlocked() {
    for (Block& b : blocks) {
        b.lostBefore = b.movedAt;
        b.calm = b.full;
    }
}

// Each block's losses before it (the whole periods its earliest arrival lies above the line, from
// three quarters of one up) and whether it lies at the line's phase.
void JitterEstimator::judgeBlocks(const Line& line) {
    for (Block& b : blocks) {
        const double lift = (b.earliest.y - line.at(b.earliest.x)) / (b.frames * nsPerFrame);
        const double periods = lift >= 0.0 ? std::floor(lift + 1.0 - kLossFraction)
                                           : (lift < -0.5 ? std::round(lift) : 0.0);
        b.lostBefore = b.movedAt + static_cast<std::int64_t>(periods);
        const double rest = lift - periods;
        b.calm = b.full && rest > -0.05 && rest < kPhaseWidth + 0.05;
    }
}

// Through the last calm blocks' corrected earliest arrivals: the least-squares slope (within the
// bound of real clocks), and the offset that puts the line under every one of them.
JitterEstimator::Line JitterEstimator::fitSchedule() const {
    std::size_t first = blocks.size();
    for (std::size_t taken = 0; first > 0 && taken < kFitBlocks; --first)
        taken += blocks[first - 1].calm ? 1 : 0;
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (std::size_t i = first; i < blocks.size(); ++i) {
        if (!blocks[i].calm)
            continue;
        const Point p = corrected(i);
        n += 1;
        sx += p.x;
        sy += p.y;
        sxx += p.x * p.x;
        sxy += p.x * p.y;
    }
    if (n == 0)
        return schedule;
    const double spread = sxx - sx * sx / n;
    const double bound = kMaxSkewPpm * 1e-6 * nsPerFrame;
    const double slope =
        spread > 0.0 ? std::clamp((sxy - sx * sy / n) / spread, -bound, bound) : schedule.slope;
    double lowest = std::numeric_limits<double>::infinity();
    for (std::size_t i = first; i < blocks.size(); ++i) {
        if (blocks[i].calm) {
            const Point p = corrected(i);
            lowest = std::min(lowest, p.y - slope * p.x);
        }
    }
    return {lowest, slope};
}

void JitterEstimator::closeBlockIfDue(std::int64_t arrivalNs) {
    if (arrivalNs - blockStartNs < kBlockNs)
        return;
    blockStartNs = arrivalNs;
    if (blocks.size() == kKeptBlocks)
        blocks.erase(blocks.begin());
    Block closed;
    closed.earliest = openEarliest;
    closed.movedAt = openMovedAt;
    closed.frames = openFrames;
    closed.full = blockFrames >= kCalmFill * rate * kBlockNs / kNsPerSecond;
    blocks.push_back(closed);
    const double periodNs = openFrames * nsPerFrame;
    const bool near = locked && ++blocksSinceWideSearch < kWideSearchBlocks;
    if (!near)
        blocksSinceWideSearch = 0;
    const PhaseFit phase = near ? phaseSlope(periodNs, -lastPhaseSlope / nsPerFrame * 1e6, kNearPpm)
                                : phaseSlope(periodNs, 0.0, kMaxSkewPpm);
    lastPhaseSlope = phase.slope;
    const auto full = static_cast<std::size_t>(
        std::count_if(blocks.begin(), blocks.end(), [](const Block& b) { return b.full; }));
    const bool wasLocked = locked;
    locked = phase.share >= (locked ? kUnlockShare : kLockShare) &&
             full >= (locked ? kLockBlocks / 2 : kLockBlocks);
    lockedBlocks = locked && wasLocked ? lockedBlocks + 1 : 0;
    if (locked) {
        judgeBlocks(phaseLine(phase.slope, periodNs, wasLocked));
        confirmLosses(arrivalNs);
        schedule = fitSchedule();
    } else if (phase.share >= kUnlockShare || phase.share < 0.0) {
        // Not yet locked, but the phase already says the slope, whatever was lost (or, over the
        // first seconds, the slope is taken as nominal).
        judgeUnlocked();
        schedule = phaseLine(phase.slope, periodNs, false);
    } else {
        judgeUnlocked();
        schedule = fitSchedule();
    }
    blockFrames = 0;
    openHasPoint = false;
    window.closeBlock();
}

// Two blocks in a row at the schedule's phase that show the same losses (or more) move the stream
// on by them (a floor lifted by a queue lies off the phase, and moves nothing; jitter alone rarely
// lifts one half second's earliest arrival by whole periods, to the phase, and hardly ever two in
// a row); the same back for a stream counted ahead (a datagram that came twice), judged only on
// blocks counted wholly since the stream last moved.
void JitterEstimator::confirmLosses(std::int64_t arrivalNs) {
    if (blocks.size() < 2 || !placingLosses())
        return;
    const Block& a = blocks[blocks.size() - 2];
    const Block& b = blocks.back();
    if (!a.calm || !b.calm)
        return;
    const std::int64_t counted = moved + pendingMoves;
    if (a.lostBefore > counted && b.lostBefore > counted) {
        pendingMoves += std::min(a.lostBefore, b.lostBefore) - counted;
        lastLossNs = arrivalNs;
    } else if (a.lostBefore < counted && b.lostBefore < counted && a.movedAt == counted &&
               b.movedAt == counted)
        pendingMoves += std::max(a.lostBefore, b.lostBefore) - counted;
}

// The stream moves on (or back) by a datagram; moving on, the datagrams since the last one that
// surely followed no loss were a period less late than they seemed (and may yet follow another).
void JitterEstimator::moveOn(int step, int frames) {
    next += step * static_cast<std::int64_t>(frames);
    moved += step;
    forgetRuns();
    if (step > 0) {
        window.lossPlaced(frames * nsPerFrame);
        policy.lossPlaced();
    }
}

// Whether the datagrams up to this one, `lateNs` after the line as numbered, show a loss not yet
// placed (where the link is jittery).
bool JitterEstimator::lossShown(std::int64_t arrivalNs, double lateNs, double periodNs) {
    if (lateNs < kSureFraction * periodNs) {
        forgetRuns();
        return false;
    }
    if (unsureSinceNs == kLongAgoNs)
        unsureSinceNs = arrivalNs;
    const double usual = window.usualNs();
    const double latest = window.latestNs();
    if (usual < kJitteryFraction * periodNs)
        return calmLossShown(lateNs, latest, periodNs);
    if (suspectNs == kLongAgoNs && lateNs >= latest + kBeyondFraction * periodNs)
        suspectNs = arrivalNs;
    const bool heavyTail = latest - usual >= kBeyondFraction * periodNs;
    if (suspectNs != kLongAgoNs && (!heavyTail || arrivalNs - suspectNs >= periodNs))
        return true;
    // The run's odds, from the share of unsure lateness over the window and over the last second,
    // once the two blocks before have been jittery: where jitter has just set in, the window is
    // calm, and the datagrams of the run itself are not yet counted.
    for (int back = 1; back <= 2; ++back)
        if (window.usualNs(back) < kJitteryFraction * periodNs)
            return false;
    const MovingQuantile::Histogram& all = window.counted().window();
    const MovingQuantile::Histogram& open = window.counted().block(0);
    const MovingQuantile::Histogram& before = window.counted().block(1);
    const double unsureNs = kSureFraction * periodNs;
    const auto share = [](std::uint64_t part, std::uint64_t whole) {
        return whole > 0 ? static_cast<double>(part) / static_cast<double>(whole) : 1.0;
    };
    const double unsureShare = std::max(share(all.countFrom(unsureNs), all.total()),
                                        share(open.countFrom(unsureNs) + before.countFrom(unsureNs),
                                              open.total() + before.total()));
    const double runPeriods =
        std::ceil(std::log(kRunOdds) / std::log(std::clamp(unsureShare, kLeastUnsureShare, 0.99)));
    return arrivalNs - unsureSinceNs >= latest + runPeriods * periodNs;
}

// On a calm link a loss makes the datagrams after it come whole periods late, each to within the
// link's own lateness; jitter setting in makes them late by any amount. So a few in a row as late
// by the same whole periods move the stream on by them.
bool JitterEstimator::calmLossShown(double lateNs, double latestNs, double periodNs) {
    const double periods = std::round(lateNs / periodNs);
    const double rest = lateNs - periods * periodNs;
    const bool whole = rest >= -kWholeSlack * periodNs && rest <= latestNs + kWholeSlack * periodNs;
    wholeRun = whole && periods == wholePeriods ? wholeRun + 1 : (whole ? 1 : 0);
    wholePeriods = periods;
    if (wholeRun < kWholeRun)
        return false;
    pendingMoves += static_cast<std::int64_t>(periods) - 1;
    return true;
}

// No datagram since the last sure one is to be judged with those that come next.
void JitterEstimator::forgetRuns() {
    suspectNs = unsureSinceNs = kLongAgoNs;
    wholeRun = 0;
}

// Losses are placed once the phase has held a while: before, a datagram's lateness says nothing
// of the periods it may have lost.
bool JitterEstimator::placingLosses() const {
    return locked && lockedBlocks >= kSettleBlocks;
}
