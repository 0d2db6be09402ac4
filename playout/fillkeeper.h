// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <array>

// Keeps a playout's fill at its target without touching the pitch. The fill moves away from the
// target in steps, never by the clocks (the ratio follows those): jitter given back as its target
// shrinks, a card whose server stopped for a while, a target grown for jitter setting in. Where
// the fill has stayed off the target by more than a few milliseconds over the last second (its
// median: a datagram's loss not yet placed dips it for a few cycles, and says nothing), the keeper
// asks for the difference to be spliced out (or in).
//
// Pure: numbers only; one thread.
class FillKeeper {
public:
    struct Config {
        // The fill's error is judged by its median over this long, and moved when that is this
        // far off: beyond what the fill's measurement scatters by. While the target shrinks
        // (jitter's, given back a little at a time) the excess waits until it holds, or passes
        // this share of it: each splice moves every tone's phase, so few large ones are better
        // than many small ones.
        double windowSeconds = 1.0;
        double thresholdSeconds = 0.004;
        double shrinkingShare = 0.5;
        // A fill this far off for this many cycles in a row is a step (a card's server that
        // stopped, a stall's backlog), not scatter: it is moved at once.
        double stepSeconds = 0.03;
        int stepCycles = 5;
    };

    FillKeeper();
    explicit FillKeeper(const Config& config);

    // A new stream of `hostRate` frames per second.
    void reset(int hostRate);
    // After a card cycle of `seconds`, the fill less its `target` (host frames): the latency to
    // move, in host frames to give back (positive) or take (negative), or 0.
    int update(double error, double target, double seconds);
    // The fill was moved: the errors seen before say nothing of it now.
    void moved();

private:
    static constexpr int kMostCycles = 512;

    double medianOf(int n);
    int moveBy(int n);

    Config config;
    double threshold = 0.0;
    double step = 0.0;
    std::array<double, kMostCycles> errors{};
    int seen = 0;
    double span = 0.0;
    // The latest errors in a row beyond a step, one way (sign) or the other.
    int stepRun = 0;
    // The target when the fill was last judged.
    double judgedTarget = 0.0;
};
