// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// Keeps a playout's fill at its target by steering the rate at which the playback takes host
// frames, as adaptive resamplers do: a PI controller on the fill's error, low-passed over the
// callbacks. The correction is the relative rate at which host frames are taken, so the
// resampling ratio is the nominal one divided by (1 + correction); held steady, its integral part
// is how much faster the host's clock runs than the card's.
//
// A target that moves is not a step for the loop: the fill is led to it along a reference that
// moves at a limited rate, and the rate at which the reference moves is fed forward into the
// correction, so the loop's error (and what it learns as skew) stays the clocks' alone.
//
// Pure: called once per playback callback with numbers only; real-time safe.
class DriftController {
public:
    explicit DriftController(int hostRate = 48000);

    // A new stream: no smoothed error, no measured skew.
    void reset(int hostRate);
    // After a callback: `fill` host frames buffered ahead of the playback, `pulled` the host
    // frames' worth of time the callback played, `target` the fill wanted. Returns the correction.
    double update(double fill, double pulled, double target);
    // The fill was just brought to the target by other means (priming, a drop): the reference
    // starts again from the fill, the measured skew stays.
    void settle();

    double correction() const { return current; }
    // The smoothed fill, in host frames.
    double smoothedFill() const { return reference + smoothedError * rate; }

private:
    double proportionalOmega() const;
    double followTarget(double fill, double pulled, double target);

    double rate = 48000.0;
    bool settled = false;
    double reference = 0.0;     // host frames
    double smoothedError = 0.0; // seconds of audio
    double integral = 0.0;
    double playedSeconds = 0.0;
    double current = 0.0;
};
