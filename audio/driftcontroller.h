#pragma once

// Keeps a playout's fill at its target by steering the rate at which the playback takes host
// frames, as adaptive resamplers do: a PI controller on the fill's error, low-passed over the
// callbacks. The correction is the relative rate at which host frames are taken, so the
// resampling ratio is the nominal one divided by (1 + correction); held steady, its integral part
// is how much faster the host's clock runs than the card's.
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
    // The fill was just brought to the target by other means (priming, a drop): forget the
    // smoothed error, keep the measured skew.
    void settle();

    double correction() const { return current; }
    double skewPpm() const { return integral * 1e6; }
    // The smoothed fill, in host frames.
    double smoothedFill() const { return smoothedTarget + smoothedError * rate; }

private:
    double bandwidth() const;

    double rate = 48000.0;
    bool smoothing = false;
    double smoothedError = 0.0; // seconds of audio
    double smoothedTarget = 0.0;
    double integral = 0.0;
    double playedSeconds = 0.0;
    double targetHeldSeconds = 0.0;
    double current = 0.0;
};
