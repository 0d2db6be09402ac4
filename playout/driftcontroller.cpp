// SPDX-License-Identifier: GPL-3.0-or-later

#include "driftcontroller.h"

#include <algorithm>
#include <cmath>

namespace {

// A type-2 loop (the fill integrates the rate error, the controller integrates the fill error); its
// natural frequency omega sets how fast it settles (within a few times 1 / omega) against how much
// the fill's noise moves the ratio. While it acquires the skew (the first 40 s of a stream: under
// heavy jitter the host's schedule takes that long to steady) it runs wide and critically damped: a
// skew anywhere in +-1000 ppm is taken up within about 15 s. After that the integral (the skew,
// which drifts only slowly) runs narrow, and so does the proportional part while the fill sits
// within 0.5 ms of its target, so that the fill's per-callback noise moves the ratio by well under
// a ppm; a fill 2 ms or more off (a disturbance) is taken up by the wide proportional part,
// overdamped; in between its gain is graded.
constexpr double kWideOmega = 0.5;   // rad/s
constexpr double kNarrowOmega = 0.1; // rad/s
constexpr double kDamping = 1.0;
constexpr double kAcquireSeconds = 40.0;
constexpr double kNarrowWithinSeconds = 0.0005;
constexpr double kWideBeyondSeconds = 0.002;
// The fill is low-passed over a quarter of the loop's time constant: enough to calm the
// per-callback steps of the fill without a lag that would cost the loop its damping.
constexpr double kSmoothingPerOmega = 0.25;
// The correction never passes +-0.5 %: a clock skew of up to +-1000 ppm plus room to move the fill
// by 4 ms of audio per second, while staying far below an audible pitch change.
constexpr double kClamp = 0.005;
// The reference moves towards the target by at most 4 ms of audio per second: what the clamp
// leaves beside the largest skew (the target itself shrinks by at most 2 ms per second).
constexpr double kReferenceRate = 0.004;
// The skew is learned only near the reference: a fill far off it is a disturbance (a drop, a
// stall), not the clocks.
constexpr double kIntegrateWithinSeconds = 0.005;

} // namespace

DriftController::DriftController(int hostRate) {
    reset(hostRate);
}

void DriftController::reset(int hostRate) {
    rate = hostRate;
    settled = false;
    reference = smoothedError = integral = current = playedSeconds = 0.0;
}

double DriftController::update(double fill, double pulled, double target) {
    const double dt = pulled / rate;
    const double feedForward = followTarget(fill, pulled, target);
    const double error = (fill - reference) / rate;
    const double omega = proportionalOmega();
    const double integralOmega = playedSeconds < kAcquireSeconds ? kWideOmega : kNarrowOmega;
    smoothedError += (error - smoothedError) * std::min(1.0, dt * omega / kSmoothingPerOmega);
    playedSeconds += dt;
    if (std::abs(smoothedError) < kIntegrateWithinSeconds)
        integral = std::clamp(integral + integralOmega * integralOmega * smoothedError * dt,
                              -kClamp, kClamp);
    current = std::clamp(2.0 * kDamping * omega * smoothedError + integral + feedForward, -kClamp,
                         kClamp);
    return current;
}

void DriftController::settle() {
    settled = false;
}

// Moves the reference towards the target; returns the correction that moves the fill with it.
double DriftController::followTarget(double fill, double pulled, double target) {
    if (!settled) {
        settled = true;
        reference = fill;
        smoothedError = 0.0;
    }
    const double most = kReferenceRate * pulled;
    const double step = std::clamp(target - reference, -most, most);
    reference += step;
    return -step / pulled;
}

double DriftController::proportionalOmega() const {
    if (playedSeconds < kAcquireSeconds)
        return kWideOmega;
    const double off = (std::abs(smoothedError) - kNarrowWithinSeconds) /
                       (kWideBeyondSeconds - kNarrowWithinSeconds);
    return kNarrowOmega + (kWideOmega - kNarrowOmega) * std::clamp(off, 0.0, 1.0);
}
