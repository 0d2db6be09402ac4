// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <array>

// The resampling ratio's correction: how much faster the host's clock runs than the card's. A
// decoder on the far side of the cable hears every change of the ratio as a change of pitch of the
// whole band, so the correction follows the two clocks as they are measured (the host's from the
// estimator's schedule, the card's from its cycles), smoothly, and nothing else: the fill is moved
// by splices (FillKeeper), never by the ratio.
//
// A real clock drifts by a ppm or so over minutes: what a measure does faster than that (the
// schedule under jitter, a card's cycles bounded ever more closely) is its error. So the
// correction holds while the measure's standard error is large (jitter from the start), follows
// it quickly while the stream starts, and where
// it lies further off than its error explains and has held there (a card's clock first measured;
// not a schedule that slides back after a burst of jitter), and slowly otherwise.
//
// The correction is the relative rate at which host frames are taken: the resampling ratio is the
// nominal one divided by (1 + correction).
//
// Pure: called once per card cycle with numbers only; real-time safe.
class DriftController {
public:
    struct Config {
        // A measure whose standard error passes this says nothing yet: the correction holds.
        double holdBeyondPpm = 150.0;
        // Quickly: through a low-pass of `quickSeconds`, by at most `quickSlewPpmPerSecond`,
        // for the first `acquireSeconds` of a stream, and where the measure lies beyond three
        // standard errors and `farPpm` of the correction, having moved by no more than that over
        // the last `steadySeconds`, until it lies within `nearPpm`; else through a low-pass of
        // `smoothingSeconds`, by at most `slewPpmPerSecond`.
        double acquireSeconds = 15.0;
        double quickSeconds = 0.25;
        double quickSlewPpmPerSecond = 5000.0;
        double farPpm = 30.0;
        int steadySeconds = 5;
        double nearPpm = 2.0;
        double smoothingSeconds = 30.0;
        double slewPpmPerSecond = 2.0;
    };

    explicit DriftController(int hostRate = 48000);
    DriftController(int hostRate, const Config& config);

    // A new stream: nothing followed yet.
    void reset(int hostRate);
    // After a card cycle: `pulled` the host frames' worth of time the cycle played, and the
    // clocks' skew as measured (host against card, relative) with its standard error. Returns the
    // correction.
    double update(double pulled, double measuredSkew, double measuredError);

    double correction() const { return current; }

private:
    static constexpr int kMostSteadySeconds = 8;

    // How far the measure has ranged over the last `steadySeconds` (whole seconds, and this one).
    double ranged(double measuredSkew, double dt);

    Config config;
    double rate = 48000.0;
    double played = 0.0;
    double current = 0.0;
    bool catchingUp = false;
    // The measure's lowest and highest in each of the latest seconds, the current one at `second`.
    std::array<double, kMostSteadySeconds> lows{};
    std::array<double, kMostSteadySeconds> highs{};
    int second = 0;
    double inSecond = 0.0;
};
