// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "cyclebounds.h"

#include <array>
#include <cstdint>

// When a playback card takes its audio, learned from nothing but how much it had taken at the
// moments it was looked at. A sound server hands a card's buffer over a period at a time (a JACK
// or PipeWire cycle, a WASAPI device period): the frames taken step by a period at each cycle,
// and the cycles come at the card's own clock, which need not be the system's.
//
// From the steps it learns the period in frames, and from the moments on either side of each step
// the cycles' times: a cycle came after the last look that had not seen it and no later than the
// first that had. The next cycle is due a period after the latest; looks on both sides of a
// cycle keep that within the time between them.
//
// Pure: no clock, no I/O, no allocation; one thread.
class CardClock {
public:
    // A card at `rate` frames per second, nothing taken yet.
    void reset(int rate);
    // The card had taken `taken` frames in all at `nowNs` (steady clock).
    void look(std::int64_t nowNs, std::int64_t taken);

    // A cycle has been seen, so the times below mean something; and enough of them that the
    // period is the card's, not what a starting card took of what it had.
    bool known() const { return cycles > 0; }
    bool settled() const { return cycles >= kSettledCycles; }
    // The frames a cycle takes (the most common step lately), 0 before any was seen.
    long periodFrames() const { return period; }
    std::int64_t periodNs() const;
    // How much faster the card's clock runs than the system's, in parts per million, from the
    // cycles' length as the looks bound it over the latest minute (from 5 s on), a server's stops
    // left out (0 until measured); and how far off that may be (half the bounds' width), or what
    // a card's clock is off by, unmeasured.
    double clockPpm() const;
    double clockErrorPpm() const;
    // The cycles seen (a look that missed some counts them too).
    std::int64_t cyclesSeen() const { return cycles; }
    // How often the cycles have left their schedule by half a period or more: a server that
    // stopped for a while, or woke late.
    std::int64_t jumps() const { return jumpCount; }
    // When the latest cycle came, and when the next one is due.
    std::int64_t lastCycleNs() const { return cycleNs; }
    std::int64_t nextCycleNs() const { return cycleNs + periodNs(); }
    // Frames taken in all at the latest look, and the first look that saw the latest of them.
    std::int64_t taken() const { return lastTaken; }
    std::int64_t takenSeenNs() const { return takenSeen; }

private:
    static constexpr std::int64_t kSettledCycles = 4;

    void learnPeriod(long step);
    // The `n` cycles up to the latest are in; it came after `afterNs`, by `byNs`.
    void measure(std::int64_t dueNs, std::int64_t n, std::int64_t afterNs, std::int64_t byNs);
    void beginPiece(std::int64_t at);
    double nominalPeriodNs() const;
    CycleBounds::Length measured() const;
    // A measured cycle length near enough the nominal one to be a clock.
    bool plausible(double lengthNs) const;

    int rate = 48000;
    std::int64_t lastLookNs = 0;
    std::int64_t lastTaken = 0;
    std::int64_t takenSeen = 0;
    bool looked = false;
    std::int64_t cycleNs = 0;
    // The latest cycle's time as first placed, before any look found the next one overdue.
    std::int64_t seenCycleNs = 0;
    std::int64_t cycles = 0;
    std::int64_t jumpCount = 0;
    long period = 0;
    // The latest steps, to learn the period from the most common one.
    std::array<long, 16> steps{};
    std::size_t stepCount = 0;
    // The cycles' length on the card's own clock, over spans of 20 s or so, each made of
    // the pieces between a server's stops: the time and cycles of the span's earlier pieces, where
    // the current piece began, and, after a stop, the cycle the next piece begins at.
    std::int64_t spanNs = 0;
    std::int64_t spanCycles = 0;
    std::int64_t pieceNs = 0;
    std::int64_t pieceCycles = 0;
    std::int64_t resumeAtCycles = -1;
    double measuredPeriodNs = 0.0;
    CycleBounds bounds;
};
