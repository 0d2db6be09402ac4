// SPDX-License-Identifier: GPL-3.0-or-later

#include "schedulefit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace {

constexpr double kNsPerSecond = 1e9;

// Phases in [0, period), sorted here; the arc of `width` that holds the most of them, those in its
// first quarter counted twice (the floor: jitter only delays, so the right slope packs the calm
// blocks' earliest arrivals there, where a slope off by a few hundred ppm still holds them in the
// arc over 20 s and may hold more of the lifted ones of a burst of jitter besides), the narrowest
// among equals: its count, its width and where it starts.
struct Gathering {
    int count = 0;
    int floor = 0;
    double width = 0.0;
    double start = 0.0;
    bool betterThan(const Gathering& other) const {
        const int score = count + floor, otherScore = other.count + other.floor;
        return score > otherScore || (score == otherScore && width < other.width);
    }
};

template <std::size_t N>
Gathering gather(std::array<double, N>& phases, std::size_t n, double period, double width) {
    std::sort(phases.begin(), phases.begin() + static_cast<std::ptrdiff_t>(n));
    auto at = [&](std::size_t k) {
        return k < n ? phases[k] : phases[k - n] + period;
    };
    Gathering best;
    std::size_t j = 0, k = 0;
    for (std::size_t i = 0; i < n; ++i) {
        j = std::max(j, i + 1);
        while (j < i + n && at(j) - phases[i] <= width)
            ++j;
        k = std::max(k, i + 1);
        while (k < j && at(k) - phases[i] <= width / 4)
            ++k;
        const Gathering g{static_cast<int>(j - i), static_cast<int>(k - i), at(j - 1) - phases[i],
                          phases[i]};
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

ScheduleFit::ScheduleFit()
    : ScheduleFit(Config{}) {}

ScheduleFit::ScheduleFit(const Config& config)
    : config(config) {
    reset(rate, blockNs, firstPosition);
}

void ScheduleFit::reset(int hostRate, std::int64_t blockLengthNs, std::int64_t position) {
    rate = hostRate;
    nsPerFrame = kNsPerSecond / hostRate;
    blockNs = blockLengthNs;
    firstPosition = position;
    firstNs = 0;
    kept.clear();
    kept.reserve(kKeptBlocks);
    openHasPoint = false;
    blockFrames = 0;
    schedule = Line();
    locked = false;
    skewError = std::numeric_limits<double>::infinity();
    lockedBlocks = blocksSinceWideSearch = 0;
    lastPhaseSlope = 0.0;
}

void ScheduleFit::start(std::int64_t firstArrivalNs) {
    firstNs = firstArrivalNs;
}

double ScheduleFit::skewPpm() const {
    return -schedule.slope / nsPerFrame * 1e6;
}

void ScheduleFit::add(const Point& p, std::int64_t moved, int frames) {
    if (!openHasPoint || lateNs(p) < lateNs(openEarliest)) {
        openEarliest = p;
        openMovedAt = moved;
        openFrames = frames;
    }
    openHasPoint = true;
    if (kept.empty())
        schedule = Line{openEarliest.y - schedule.slope * openEarliest.x, schedule.slope};
    blockFrames += frames;
}

void ScheduleFit::closeBlock() {
    if (kept.size() == kKeptBlocks)
        kept.erase(kept.begin());
    Block closed;
    closed.earliest = openEarliest;
    closed.movedAt = openMovedAt;
    closed.frames = openFrames;
    closed.full = blockFrames >= config.calmFill * rate * blockNs / kNsPerSecond;
    kept.push_back(closed);
    const double periodNs = openFrames * nsPerFrame;
    const bool near = locked && ++blocksSinceWideSearch < config.wideSearchBlocks;
    if (!near)
        blocksSinceWideSearch = 0;
    const PhaseFit phase =
        near ? phaseSlope(periodNs, -lastPhaseSlope / nsPerFrame * 1e6, config.nearPpm)
             : phaseSlope(periodNs, 0.0, config.maxSkewPpm);
    lastPhaseSlope = phase.slope;
    const auto full = static_cast<std::size_t>(
        std::count_if(kept.begin(), kept.end(), [](const Block& b) { return b.full; }));
    const bool wasLocked = locked;
    locked = phase.share >= (locked ? config.unlockShare : config.lockShare) &&
             full >= (locked ? config.lockBlocks / 2 : config.lockBlocks);
    lockedBlocks = locked && wasLocked ? lockedBlocks + 1 : 0;
    if (locked) {
        judgeBlocks(phaseLine(phase.slope, periodNs, wasLocked));
        schedule = fitSchedule();
    } else if (phase.share >= config.unlockShare || phase.share < 0.0) {
        // Not yet locked, but the phase already says the slope, whatever was lost (or, over the
        // first seconds, the slope is taken as nominal).
        judgeUnlocked();
        schedule = phaseLine(phase.slope, periodNs, false);
    } else {
        judgeUnlocked();
        schedule = fitSchedule();
    }
    const double spanNs = (kept.back().earliest.x - kept.front().earliest.x) * nsPerFrame;
    skewError = locked                            ? slopeError()
                : phase.share >= config.lockShare ? phase.width / spanNs * 1e6
                                                  : std::numeric_limits<double>::infinity();
    blockFrames = 0;
    openHasPoint = false;
}

// A block's earliest arrival where it belongs: moved on by the losses before it that the stream
// had not yet been moved on by when it came.
ScheduleFit::Point ScheduleFit::corrected(std::size_t i) const {
    const Block& b = kept[i];
    const double shift = static_cast<double>(b.lostBefore - b.movedAt) * b.frames;
    return {b.earliest.x + shift, b.earliest.y - shift * nsPerFrame};
}

// The slope (ns per frame over the nominal period) that gathers the blocks' earliest arrivals
// best at one phase of the datagram's period, and the share of them it gathers.
ScheduleFit::PhaseFit ScheduleFit::phaseSlope(double periodNs, double centrePpm,
                                              double spanPpm) const {
    if (kept.back().earliest.x - kept.front().earliest.x < config.minSpanSeconds * rate)
        return {0.0, -1.0};
    std::array<double, kKeptBlocks> phases;
    std::size_t n = 0;
    auto gatheringAt = [&](double ppm) {
        const double slope = -ppm * 1e-6 * nsPerFrame;
        n = 0;
        for (const Block& b : kept)
            if (b.full)
                phases[n++] = phaseOf(b.earliest.y - slope * b.earliest.x, periodNs);
        return gather(phases, n, periodNs, config.phaseWidth * periodNs);
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
    search(std::max(centrePpm - spanPpm, -config.maxSkewPpm),
           std::min(centrePpm + spanPpm, config.maxSkewPpm), config.coarseStepPpm);
    const double coarse = bestPpm;
    search(coarse - config.coarseStepPpm, coarse + config.coarseStepPpm, config.fineStepPpm);
    return {-bestPpm * 1e-6 * nsPerFrame, n > 0 ? static_cast<double>(best.count) / n : 0.0,
            best.width};
}

// The line of that slope through the phase where the earliest arrivals gather, as many periods
// up or down as keeps it where the schedule was at the newest block, so that the count of losses
// carries on; or, before anything is counted, just under the lowest of the last blocks' earliest
// arrivals (one lifted by jitter would put the line a period too high).
ScheduleFit::Line ScheduleFit::phaseLine(double slope, double periodNs, bool counting) const {
    std::array<double, kKeptBlocks> phases;
    std::size_t n = 0;
    for (const Block& b : kept)
        if (b.full || kept.size() == 1)
            phases[n++] = phaseOf(b.earliest.y - slope * b.earliest.x, periodNs);
    if (n == 0)
        return schedule;
    const Gathering g = gather(phases, n, periodNs, config.phaseWidth * periodNs);
    const Point& newest = kept.back().earliest;
    double lowest = newest.y - slope * newest.x;
    for (std::size_t i = kept.size() > config.anchorBlocks ? kept.size() - config.anchorBlocks : 0;
         i < kept.size(); ++i)
        lowest = std::min(lowest, kept[i].earliest.y - slope * kept[i].earliest.x);
    const double anchor =
        counting ? schedule.at(newest.x) - slope * newest.x : lowest - 0.25 * periodNs;
    const double periods = std::round((anchor - g.start) / periodNs);
    return {g.start + periods * periodNs, slope};
}

// Unlocked: no block shows a loss, every block that brought its audio is a point of the fit, and
// its least-squares slope sees through the earliest arrivals' scatter (stationary, under jitter
// that keeps them from the floor) better than an envelope could.
void ScheduleFit::judgeUnlocked() {
    for (Block& b : kept) {
        b.lostBefore = b.movedAt;
        b.calm = b.full;
    }
}

// Each block's losses before it (the whole periods its earliest arrival lies above the line, from
// three quarters of one up) and whether it lies at the line's phase.
void ScheduleFit::judgeBlocks(const Line& line) {
    for (Block& b : kept) {
        const double lift = (b.earliest.y - line.at(b.earliest.x)) / (b.frames * nsPerFrame);
        const double periods = lift >= 0.0 ? std::floor(lift + 1.0 - config.lossFraction)
                                           : (lift < -0.5 ? std::round(lift) : 0.0);
        b.lostBefore = b.movedAt + static_cast<std::int64_t>(periods);
        const double rest = lift - periods;
        b.calm = b.full && rest > -0.05 && rest < config.phaseWidth + 0.05;
    }
}

ScheduleFit::CalmSums ScheduleFit::calmSums() const {
    CalmSums s;
    s.first = kept.size();
    for (std::size_t taken = 0; s.first > 0 && taken < config.fitBlocks; --s.first)
        taken += kept[s.first - 1].calm ? 1 : 0;
    for (std::size_t i = s.first; i < kept.size(); ++i) {
        if (!kept[i].calm)
            continue;
        const Point p = corrected(i);
        s.n += 1;
        s.sx += p.x;
        s.sy += p.y;
        s.sxx += p.x * p.x;
        s.sxy += p.x * p.y;
        s.syy += p.y * p.y;
    }
    return s;
}

// The standard error of a least-squares slope through the blocks the line is fitted through, in
// ppm: their scatter about such a line, over the spread of their positions.
double ScheduleFit::slopeError() const {
    const auto [first, n, sx, sy, sxx, sxy, syy] = calmSums();
    const double spread = sxx - sx * sx / n;
    if (n < 3 || spread <= 0.0)
        return std::numeric_limits<double>::infinity();
    const double b = (sxy - sx * sy / n) / spread;
    const double residual = std::max(0.0, syy - sy * sy / n - b * (sxy - sx * sy / n));
    return std::sqrt(residual / (n - 2) / spread) / nsPerFrame * 1e6;
}

// Through the last calm blocks' corrected earliest arrivals: the least-squares slope (within the
// bound of real clocks), and the offset that puts the line under every one of them.
ScheduleFit::Line ScheduleFit::fitSchedule() const {
    const auto [first, n, sx, sy, sxx, sxy, syy] = calmSums();
    if (n == 0)
        return schedule;
    const double spread = sxx - sx * sx / n;
    const double bound = config.maxSkewPpm * 1e-6 * nsPerFrame;
    const double slope =
        spread > 0.0 ? std::clamp((sxy - sx * sy / n) / spread, -bound, bound) : schedule.slope;
    double lowest = std::numeric_limits<double>::infinity();
    for (std::size_t i = first; i < kept.size(); ++i) {
        if (kept[i].calm) {
            const Point p = corrected(i);
            lowest = std::min(lowest, p.y - slope * p.x);
        }
    }
    return {lowest, slope};
}
