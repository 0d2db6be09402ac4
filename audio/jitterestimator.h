// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// Places each datagram from the host in the stream and says how much audio the playouts should
// hold, from nothing but the datagrams' arrival times (steady clock, ns) and frame counts: the
// host's datagrams carry no sequence numbers or times.
//
// Schedule: the host sends a datagram whenever it has a block, at its own clock's pace. The
// estimator fits a line to the arrivals against their stream positions: the lower envelope of the
// earliest arrival of each calm half second over the last 16 s, so its slope is the host's frame
// period as seen on this machine's clock (a skewed clock is not jitter) and its offset the
// quickest the network delivers. A datagram's lateness is how far it arrived after that line.
//
// Target: the fill the playouts should hold ahead of their reads, in host frames: one datagram,
// plus the 99th percentile of lateness over a sliding window, plus a margin; never below the
// operator's floor and within [one datagram, 500 ms]. It grows at once to cover any datagram that
// came close to underrunning, and shrinks only after a hold and at a limited rate, so the
// playouts give the excess back by resampling rather than by dropping audio.
//
// Loss: a lost datagram makes every later one look a datagram period late, a step in the
// lateness floor that stays. Once the floor has stayed on the same whole number of periods for
// the confirmation time with the datagrams close above it (jitter lifts the floor too, but
// spreads the datagrams; a skew that is still being fitted makes a ramp, not a step), the stream
// position moves on by those datagrams, leaving a gap of their length. A further step before
// then (a second loss) ends the watch early: the first step is judged on the time it had, and the
// second is watched on its own. Under jitter a loss is found once the network calms; until then
// the target covers the period it is short, and losses that keep coming under jitter that lasts
// are taken for a host clock that runs slow.
//
// Pure: no clock, no I/O, no allocation after reset(); one thread (the audio worker's).
class JitterEstimator {
public:
    struct Placement {
        // Where the datagram's first frame goes in the stream.
        std::int64_t position = 0;
        // When the datagram was due on the fitted schedule (steady clock, ns): its lateness is the
        // arrival time minus this.
        std::int64_t dueNs = 0;
        // The fill the playouts should hold, in host frames.
        int target = 0;
    };

    // The largest target, in seconds of audio.
    static constexpr double kMaxTargetSeconds = 0.5;

    JitterEstimator();

    // A new stream from the host at `hostRate` frames per second, whose first datagram goes to
    // `position`; `floorFrames` is the least target the operator asked for (0: as small as works).
    void reset(int hostRate, int floorFrames, std::int64_t position = 0);
    Placement arrival(std::int64_t arrivalNs, int frames);

    // Where the next datagram goes if none is lost before it.
    std::int64_t nextPosition() const { return next; }
    // The host's clock against this machine's, from the fitted schedule, in parts per million.
    double skewPpm() const;

private:
    // The earliest arrival of a half second: x is its stream end relative to the first datagram
    // (frames), y its arrival time less that of the first datagram and less x nominal frame periods
    // (ns), so that the points of an unskewed clock lie on a level line.
    struct Point {
        double x = 0.0;
        double y = 0.0;
        std::int64_t atNs = 0;
    };
    struct Line {
        double y0 = 0.0;
        double slope = 0.0; // ns per frame, over the nominal period
        double at(double x) const { return y0 + slope * x; }
    };
    struct LossCandidate {
        bool active = false;
        std::int64_t sinceNs = 0;
        double earlyFloor = 0.0;
        double lateFloor = 0.0;
        int arrivals = 0;
        int straggling = 0;
    };

    // Lateness in bins of 0.5 ms up to 500 ms, the last one holding everything later.
    static constexpr int kLatenessBins = 1001;
    using Histogram = std::array<std::uint32_t, kLatenessBins>;

    Point pointFor(std::int64_t endPosition, std::int64_t arrivalNs) const;
    void record(const Point& p);
    Line fitSchedule(const std::vector<Point>& minima, bool withOpenBlock) const;
    int detectLoss(std::int64_t arrivalNs, double lateness, double periodNs);
    int confirmLoss(double periodNs, bool cutShort);
    void moveOn(int datagrams, int frames);
    void refit();
    void countLateness(double latenessNs);
    void closeBlockIfDue(std::int64_t arrivalNs);
    static void keepLatest(std::vector<Point>& minima, const Point& p, std::size_t blocks);
    bool blockIsCalm(const Histogram& block, bool reachedFloor) const;
    double latenessQuantileNs() const;
    void updateTarget(std::int64_t arrivalNs, double latenessNs, int frames);

    int rate = 48000;
    double nsPerFrame = 0.0;
    int floor = 0;
    std::int64_t next = 0;
    bool started = false;
    std::int64_t firstPosition = 0;
    std::int64_t firstNs = 0;
    std::int64_t blockStartNs = 0;
    // The earliest arrivals of the latest calm blocks and of the latest blocks, oldest first, and
    // of the open block.
    std::vector<Point> calmMinima;
    std::vector<Point> latestMinima;
    Point openMinimum;
    bool openHasPoint = false;
    Line schedule;
    LossCandidate loss;
    // Lateness histograms of the blocks in the window (a ring, the open block at `openBlock`) and
    // their sum.
    std::vector<Histogram> histograms;
    Histogram windowCounts{};
    std::uint64_t windowTotal = 0;
    int openBlock = 0;
    std::int64_t blockFrames = 0;
    double target = 0.0;
    std::int64_t lastGrowthNs = 0;
    std::int64_t lastArrivalNs = 0;
};
