// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

// The host's schedule as seen on this machine's clock: a line through the arrivals against their
// stream positions, fitted block by block (half a second) to each block's earliest arrival, which
// jitter (it only ever delays) leaves on the line but for the whole periods lost before it.
//
// The slope comes from what losses cannot move: the blocks' earliest arrivals taken modulo the
// datagram's period. Of the slopes a real pair of clocks can have, the one that gathers the most of
// the kept blocks (48 s) at one phase is the host's, and the schedule is locked to that phase while
// it gathers enough of them. Locked, the whole periods a block's earliest arrival lies above the
// line are the losses before it; each block enters the fit corrected by them (least squares over
// the last 64 calm blocks, 32 s on a calm network; offset the lowest of them), so losses never tilt
// the line and never read as a slow clock. Unlocked (a queue that scatters the earliest arrivals
// over periods), every block that brought its audio is a point of the fit and none shows a loss.
//
// Pure: no clock, no I/O, no allocation after reset(); one thread.
class ScheduleFit {
public:
    // The closed blocks kept, 48 s: the phase is searched over them and the fit's calm blocks are
    // taken from them (a fixed number: the search sorts their phases on the stack).
    static constexpr std::size_t kKeptBlocks = 96;

    struct Config {
        // The phase's slope is the one, among those a real pair of clocks can have, that gathers
        // the most blocks' earliest arrivals within a quarter period of one phase (the narrowest
        // such gathering among equals), searched in steps of 10 ppm and then of 1 ppm, once the
        // blocks span a second (a skewed host is heard off pitch until then). While the schedule
        // is locked the host's clock is where it was half a second before, give or take what a
        // real clock drifts: the search keeps within 50 ppm of the last slope, and looks over the
        // whole range only every 10 s (a search costs a thirteenth).
        double maxSkewPpm = 2000.0;
        double coarseStepPpm = 10.0;
        double fineStepPpm = 1.0;
        double nearPpm = 50.0;
        int wideSearchBlocks = 20;
        double phaseWidth = 0.25; // periods
        double minSpanSeconds = 1.0;
        // The schedule is locked to the phase while it gathers three quarters of the blocks (24
        // at least), and let go when it gathers fewer than half: a queue that keeps the datagrams
        // late for longer than a block (heavy jitter over short datagrams) scatters the earliest
        // arrivals over periods, and then no loss can be told from jitter. Before anything is
        // counted the line goes just under the lowest of the last 4 blocks' earliest arrivals.
        std::size_t lockBlocks = 24;
        std::size_t anchorBlocks = 4;
        double lockShare = 0.75;
        double unlockShare = 0.5;
        // The line is fitted to the earliest arrivals of the last 64 calm blocks (32 s when the
        // network is calm): its slope by least squares (the earliest arrivals scatter by a
        // millisecond or so, which over 32 s moves the slope by a few ppm), its offset the lowest
        // of them. A block is calm when it brought at least half its time's worth of audio and its
        // earliest arrival lies at the schedule's phase: jitter with the datagrams' order kept can
        // lift a whole block's earliest arrival by many milliseconds, and a fit through such
        // blocks would tilt. The phase is searched over the blocks kept (kKeptBlocks), so a
        // floor lifted for most of that is the network's new quickest.
        std::size_t fitBlocks = 64;
        double calmFill = 0.5;
        // A block's earliest datagram three quarters of a period or more above the line counts
        // a loss: jitter alone rarely keeps every datagram of half a second that late.
        double lossFraction = 0.75;
        // The line says how many periods a datagram lost once the phase has held for two
        // seconds: before, a datagram's lateness says nothing of them.
        int settleBlocks = 4;
    };

    // A block's earliest arrival: x is its stream end relative to the first datagram (frames), y
    // its arrival time less that of the first datagram and less x nominal frame periods (ns), so
    // that the points of an unskewed clock lie on a level line.
    struct Point {
        double x = 0.0;
        double y = 0.0;
    };
    struct Line {
        double y0 = 0.0;
        double slope = 0.0; // ns per frame, over the nominal period
        double at(double x) const { return y0 + slope * x; }
    };
    // A closed block: its earliest arrival as numbered by count, the datagrams the stream had been
    // moved on by then, the losses before it that its own earliest arrival shows (in all, from
    // the stream's start) and its datagrams' size.
    struct Block {
        Point earliest;
        std::int64_t movedAt = 0;
        std::int64_t lostBefore = 0;
        int frames = 0;
        // It brought at least half its time's worth of audio; and, besides, its earliest arrival
        // lies at the schedule's phase: a point of the fit.
        bool full = false;
        bool calm = false;
    };

    ScheduleFit();
    explicit ScheduleFit(const Config& config);

    // A new stream at `hostRate` frames per second, in blocks of `blockNs`, whose first datagram
    // goes to `position`; `start()` with its arrival.
    void reset(int hostRate, std::int64_t blockNs, std::int64_t position);
    void start(std::int64_t firstArrivalNs);

    // The point of a datagram that ends at `endPosition` and came at `arrivalNs`.
    Point pointFor(std::int64_t endPosition, std::int64_t arrivalNs) const {
        const double x = static_cast<double>(endPosition - firstPosition);
        return {x, static_cast<double>(arrivalNs - firstNs) - x * nsPerFrame};
    }
    // How far the point lies above the line (ns), and when it was due on it (steady clock, ns).
    double lateNs(const Point& p) const { return p.y - schedule.at(p.x); }
    std::int64_t dueNs(const Point& p) const {
        return firstNs + std::llround(p.x * nsPerFrame + schedule.at(p.x));
    }

    // A datagram of `frames` at `p`, numbered with the stream moved on by `moved` datagrams.
    void add(const Point& p, std::int64_t moved, int frames);
    // The open block closes: the phase is searched, the blocks judged and the line fitted again.
    void closeBlock();

    // The line has held its phase long enough to count the periods a datagram lost.
    bool settled() const { return locked && lockedBlocks >= config.settleBlocks; }
    // The blocks closed since the schedule locked to the phase (the latest first), less one.
    int lockedFor() const { return locked ? lockedBlocks : -1; }
    // The closed blocks, oldest first.
    const std::vector<Block>& blocks() const { return kept; }
    // The host's clock against this machine's, in parts per million, and how far off that may be:
    // locked, the standard error of the least-squares slope (the blocks' scatter about it over
    // their span); before, how closely the phase gathers the blocks over their span; infinite
    // where neither says (a jitter that scatters the earliest arrivals over periods).
    double skewPpm() const;
    double skewErrorPpm() const { return skewError; }

private:
    // The slope, the share of blocks it gathers and how close (ns); a negative share before the
    // blocks span enough to tell.
    struct PhaseFit {
        double slope = 0.0;
        double share = 0.0;
        double width = 0.0;
    };
    Point corrected(std::size_t block) const;
    // Searched within `spanPpm` of `centrePpm`.
    PhaseFit phaseSlope(double periodNs, double centrePpm, double spanPpm) const;
    Line phaseLine(double slope, double periodNs, bool counting) const;
    // The least-squares sums over the calm blocks among the last fitBlocks of them, which start
    // at kept[first].
    struct CalmSums {
        std::size_t first = 0;
        double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0, syy = 0;
    };
    CalmSums calmSums() const;
    Line fitSchedule() const;
    double slopeError() const;
    void judgeBlocks(const Line& line);
    void judgeUnlocked();

    Config config;
    int rate = 48000;
    double nsPerFrame = 0.0;
    std::int64_t blockNs = 500'000'000;
    std::int64_t firstPosition = 0;
    std::int64_t firstNs = 0;
    std::vector<Block> kept;
    // The open block's earliest arrival, and the frames it has brought.
    Point openEarliest;
    std::int64_t openMovedAt = 0;
    int openFrames = 0;
    bool openHasPoint = false;
    std::int64_t blockFrames = 0;
    Line schedule;
    // The schedule follows the phase of the earliest arrivals, for so many blocks.
    bool locked = false;
    int lockedBlocks = 0;
    double skewError = 0.0;
    // The phase's latest slope, and the blocks since it was last searched for over the whole range.
    double lastPhaseSlope = 0.0;
    int blocksSinceWideSearch = 0;
};
