#include "driftcontroller.h"

#include <algorithm>
#include <cmath>

namespace {

// A type-2 loop (the fill integrates the rate error, the controller integrates the fill error),
// critically damped so that it does not ring when the target steps; its natural frequency sets
// how fast it settles (within a few times 1 / omega) against how much the fill's noise moves the
// ratio. It runs wide while it acquires the skew (the first 20 s of a stream, and whenever the
// fill is 2 ms or more off its target): a skew anywhere in +-1000 ppm is then taken up within
// about 15 s. Once the fill sits within 0.5 ms of its target it runs narrow, so that the fill's
// per-callback noise moves the ratio by well under a ppm; in between it is graded.
constexpr double kWideOmega = 0.5;   // rad/s
constexpr double kNarrowOmega = 0.1; // rad/s
constexpr double kDamping = 1.0;
constexpr double kAcquireSeconds = 20.0;
constexpr double kNarrowWithinSeconds = 0.0005;
constexpr double kWideBeyondSeconds = 0.002;
// The fill is low-passed over a quarter of the loop's time constant: enough to calm the
// per-callback steps of the fill without a lag that would cost the loop its damping.
constexpr double kSmoothingPerOmega = 0.25;
// The correction never passes +-0.5 %: a clock skew of up to +-1000 ppm plus room to move the fill
// by 4 ms of audio per second (a target that shrinks after a burst of jitter, 2 ms per second),
// while staying far below an audible pitch change.
constexpr double kClamp = 0.005;
// The skew is learned only near a target that has held for a second: far from it, or while it
// moves (it shrinks as a ramp after a burst of jitter), the error is the target's doing, which the
// proportional part takes up alone. Learned, it would stay in the integral as a false skew when
// the target stops and drive the fill past it.
constexpr double kIntegrateWithinSeconds = 0.005;
constexpr double kSteadyTargetSeconds = 1.0;

} // namespace

DriftController::DriftController(int hostRate) {
    reset(hostRate);
}

void DriftController::reset(int hostRate) {
    rate = hostRate;
    smoothing = false;
    smoothedError = smoothedTarget = integral = current = playedSeconds = targetHeldSeconds = 0.0;
}

double DriftController::update(double fill, double pulled, double target) {
    const double dt = pulled / rate;
    const double error = (fill - target) / rate;
    if (!smoothing) {
        smoothing = true;
        smoothedError = error;
    }
    const double omega = bandwidth();
    smoothedError += (error - smoothedError) * std::min(1.0, dt * omega / kSmoothingPerOmega);
    targetHeldSeconds = target == smoothedTarget ? targetHeldSeconds + dt : 0.0;
    smoothedTarget = target;
    playedSeconds += dt;
    if (std::abs(smoothedError) < kIntegrateWithinSeconds &&
        targetHeldSeconds >= kSteadyTargetSeconds)
        integral = std::clamp(integral + omega * omega * smoothedError * dt, -kClamp, kClamp);
    current = std::clamp(2.0 * kDamping * omega * smoothedError + integral, -kClamp, kClamp);
    return current;
}

double DriftController::bandwidth() const {
    if (playedSeconds < kAcquireSeconds)
        return kWideOmega;
    const double off = (std::abs(smoothedError) - kNarrowWithinSeconds) /
                       (kWideBeyondSeconds - kNarrowWithinSeconds);
    return kNarrowOmega + (kWideOmega - kNarrowOmega) * std::clamp(off, 0.0, 1.0);
}

void DriftController::settle() {
    smoothing = false;
}
