// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "schedulefit.h"

#include <cstdint>
#include <vector>

class LatenessWindow;

// Where datagrams were lost, from nothing but how late each comes after the schedule's line as
// numbered by count: a lost one makes every later datagram look one period later than it is. It
// says when the stream moves on by a datagram (or back, for one that came twice), one datagram at
// a time, so that each loss leaves a gap of its own length; the caller moves it.
//
// - Blocks: two blocks in a row at the schedule's phase that show the same losses (or more) move
//   the stream on by them; jitter alone rarely lifts one half second's earliest arrival by whole
//   periods, to the phase, and hardly ever two in a row.
// - Jittery links (the lateness's usual reaching half a period): after a loss every datagram comes
//   at least a period late, after a burst of jitter only those queued behind the late one do. The
//   stream moves on at once when a datagram comes later by a quarter period than any the window
//   has seen (where the jitter's tail is heavy, once the datagrams a period on are still unsure),
//   or when the unsure datagrams have run for longer than jitter makes but once in 10 000.
// - Calm links: three datagrams in a row as late as the same whole periods.
//
// Pure: no clock, no I/O, no allocation; one thread.
class LossFinder {
public:
    struct Config {
        // A datagram less late than this share of its period surely follows no loss not yet
        // placed (the line may lie a little off the floor).
        double sureFraction = 0.75;
        // The jittery-link rules, where the lateness's usual reaches half a period: a datagram
        // later by a quarter period than the window's latest shows a loss at once where the
        // jitter's tail is light (its latest within a quarter period of its usual), and a period
        // on where it is heavy (a heavy tail makes such a datagram now and then, but not the ones
        // after it). Else a run of unsure datagrams longer than the latest lateness (the queue
        // behind it) and as many periods more as make such a run of jitter one in 10 000, from the
        // share of lateness that is unsure (over the window or its latest second, at least a half:
        // jitter comes in spells), once the two blocks before have been jittery.
        double jitteryFraction = 0.5;
        double beyondFraction = 0.25;
        double runOdds = 1e-4;
        double leastUnsureShare = 0.5;
        // A datagram a quarter period before the line within half a second of a move that a
        // datagram showed takes the stream back.
        std::int64_t backWithinNs = 500'000'000;
        // The calm-link rule: so many datagrams in a row as late as whole periods, each to within
        // a tenth of a period and the window's latest lateness.
        double wholeSlack = 0.1;
        int wholeRun = 3;
    };

    LossFinder();
    explicit LossFinder(const Config& config);
    void reset();

    // Whether a datagram `lateNs` after the line surely follows no loss not yet placed.
    bool sure(double lateNs, double periodNs) const {
        return lateNs < config.sureFraction * periodNs;
    }

    // The move before the next datagram (1 on, -1 back, 0 none) of those the rules have found.
    int takeMove();
    // A datagram `lateNs` after the line as numbered, of `periodNs`: the move it shows at once.
    int datagram(std::int64_t arrivalNs, double lateNs, double periodNs,
                 const LatenessWindow& window);
    // A block has closed at `arrivalNs`: the moves the last two of `blocks` agree on are to come.
    void blocksClosed(const std::vector<ScheduleFit::Block>& blocks, std::int64_t arrivalNs);
    // No datagram since the last sure one is to be judged with those that come next.
    void forgetRuns();
    // The stream moved on for a loss found otherwise (in the audio) with a datagram at
    // `arrivalNs`.
    void lossShown(std::int64_t arrivalNs) {
        latestLossNs = lastQuickMoveNs = arrivalNs;
        move(1);
    }
    // The stream jumped on by `datagrams` after a pause (not losses to be found).
    void jumped(int datagrams) {
        movedBy += datagrams;
        forgetRuns();
    }

    // The datagrams the stream has been moved on by, and when the latest loss was found.
    std::int64_t moved() const { return movedBy; }
    std::int64_t lastLossNs() const { return latestLossNs; }

private:
    int move(int step);
    bool lossShown(std::int64_t arrivalNs, double lateNs, double periodNs,
                   const LatenessWindow& window);
    bool runShown(std::int64_t arrivalNs, double latestNs, double periodNs,
                  const LatenessWindow& window) const;
    bool calmLossShown(double lateNs, double latestNs, double periodNs);

    Config config;
    double logRunOdds;
    // Datagrams the stream has been moved on by, and those still to move.
    std::int64_t movedBy = 0;
    std::int64_t pendingMoves = 0;
    std::int64_t latestLossNs = 0;
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
