// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "latenesswindow.h"
#include "targetpolicy.h"

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
// Loss: datagrams are numbered by count, and a lost one makes every later datagram look one
// period later than it is. Jitter only ever delays, so the earliest arrival of a half second sits
// on the line but for those whole periods. The line's slope is therefore found from the blocks'
// earliest arrivals taken modulo the datagram's period, which losses cannot move: of the slopes a
// real pair of clocks can have (within 2000 ppm), the one that gathers the most of them at one
// phase. The whole periods a block's earliest datagram then lies above the line (from three
// quarters of one up) are the losses before it; each block enters the fit corrected by the losses
// its neighbours agree on, so losses never tilt the line and never read as a slow clock, however
// much jitter hides when they happened. Two blocks in a row that agree on a loss move the stream
// position on by it, one datagram at a time, so each loss leaves a gap of its own length; until
// then the missing datagram is lateness the target covers. The datagrams themselves show most
// losses sooner: on a calm link three in a row late by the same whole periods; where the jitter is
// half a period or more, a datagram later than any the last 10 s have seen (by a quarter period),
// confirmed a period on where the jitter's tail is heavy, or a run of late datagrams longer than
// jitter makes but rarely. The lateness of the datagrams after a loss not yet placed is counted a
// period less, so that neither the target nor those tests take the loss for jitter.
//
// Target: the fill the playouts should hold ahead of the card, in host frames: one datagram, plus
// the 99th percentile of lateness over a sliding window, plus a margin and room for scheduling
// hiccups; never below the operator's floor and within [one datagram, 500 ms]. It grows at once to
// cover lateness beyond that once it recurs (a lone outlier has played by the time it is seen), and
// shrinks only after a hold and at a limited rate, so the playouts give the excess back by
// resampling rather than by dropping audio.
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
    static constexpr double kMaxTargetSeconds = TargetPolicy::Config{}.maxSeconds;

    JitterEstimator();

    // A new stream from the host at `hostRate` frames per second, whose first datagram goes to
    // `position`; `floorFrames` is the least target the operator asked for (0: as small as works).
    void reset(int hostRate, int floorFrames, std::int64_t position = 0);
    Placement arrival(std::int64_t arrivalNs, int frames);

    // Where the next datagram goes if none is lost before it.
    std::int64_t nextPosition() const { return next; }
    // The host's clock against this machine's, from the fitted schedule, in parts per million.
    double skewPpm() const;
    // The lateness the target covers (its 99th percentile over the window), in ms.
    double latenessMs() const;

private:
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
    // moved on by then, the losses before it that its own floor shows (in all, from the stream's
    // start) and its datagrams' size.
    struct Block {
        Point earliest;
        std::int64_t movedAt = 0;
        std::int64_t lostBefore = 0;
        int frames = 0;
        // It brought at least half its time's worth of audio, and its earliest arrival lies at
        // the schedule's phase: a point of the fit.
        bool full = false;
        bool calm = false;
    };

    Point pointFor(std::int64_t endPosition, std::int64_t arrivalNs) const;
    Point corrected(std::size_t block) const;
    // The slope and the share of blocks it gathers; a negative share before the blocks span
    // enough to tell.
    struct PhaseFit {
        double slope = 0.0;
        double share = 0.0;
    };
    // Searched within `spanPpm` of `centrePpm`.
    PhaseFit phaseSlope(double periodNs, double centrePpm, double spanPpm) const;
    Line phaseLine(double slope, double periodNs, bool counting) const;
    Line fitSchedule() const;
    void closeBlockIfDue(std::int64_t arrivalNs);
    void judgeBlocks(const Line& line);
    void judgeUnlocked();
    void confirmLosses(std::int64_t arrivalNs);
    void moveOn(int step, int frames);
    bool placingLosses() const;
    bool lossShown(std::int64_t arrivalNs, double lateNs, double periodNs);
    bool calmLossShown(double lateNs, double latestNs, double periodNs);
    void forgetRuns();

    LatenessWindow window;
    TargetPolicy policy;
    int rate = 48000;
    double nsPerFrame = 0.0;
    std::int64_t next = 0;
    bool started = false;
    std::int64_t firstPosition = 0;
    std::int64_t firstNs = 0;
    std::int64_t blockStartNs = 0;
    // Datagrams the stream has been moved on by for losses, and those still to move.
    std::int64_t moved = 0;
    std::int64_t pendingMoves = 0;
    // The latest closed blocks, oldest first, and the open block's earliest arrival.
    std::vector<Block> blocks;
    Point openEarliest;
    std::int64_t openMovedAt = 0;
    int openFrames = 0;
    bool openHasPoint = false;
    Line schedule;
    // The schedule follows the phase of the earliest arrivals, and losses are found.
    bool locked = false;
    int lockedBlocks = 0;
    // The phase's latest slope, and the blocks since it was last searched for over the whole range.
    double lastPhaseSlope = 0.0;
    int blocksSinceWideSearch = 0;
    std::int64_t blockFrames = 0;
    // When the latest loss was found.
    std::int64_t lastLossNs = 0;
    // When the stream last moved on at a datagram's own lateness.
    std::int64_t lastQuickMoveNs = 0;
    // When the latest datagram later than any in the window came, and when the datagrams began to
    // be unsure, while they still are.
    std::int64_t suspectNs = 0;
    std::int64_t unsureSinceNs = 0;
    // The datagrams in a row late by the same whole periods, and those periods.
    int wholeRun = 0;
    double wholePeriods = 0.0;
};
