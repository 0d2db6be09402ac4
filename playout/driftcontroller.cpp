// SPDX-License-Identifier: GPL-3.0-or-later

#include "driftcontroller.h"

#include <algorithm>
#include <cmath>
#include <limits>

DriftController::DriftController(int hostRate)
    : DriftController(hostRate, Config{}) {}

DriftController::DriftController(int hostRate, const Config& c)
    : config(c) {
    reset(hostRate);
}

void DriftController::reset(int hostRate) {
    rate = hostRate;
    played = current = inSecond = 0.0;
    catchingUp = false;
    second = 0;
    lows.fill(std::numeric_limits<double>::infinity());
    highs.fill(-std::numeric_limits<double>::infinity());
}

double DriftController::ranged(double measuredSkew, double dt) {
    const int seconds = std::clamp(config.steadySeconds, 1, kMostSteadySeconds);
    inSecond += dt;
    if (inSecond >= 1.0) {
        inSecond = 0.0;
        second = (second + 1) % seconds;
        lows[std::size_t(second)] = std::numeric_limits<double>::infinity();
        highs[std::size_t(second)] = -std::numeric_limits<double>::infinity();
    }
    lows[std::size_t(second)] = std::min(lows[std::size_t(second)], measuredSkew);
    highs[std::size_t(second)] = std::max(highs[std::size_t(second)], measuredSkew);
    const auto n = static_cast<std::ptrdiff_t>(seconds);
    return *std::max_element(highs.begin(), highs.begin() + n) -
           *std::min_element(lows.begin(), lows.begin() + n);
}

double DriftController::update(double pulled, double measuredSkew, double measuredError) {
    const double dt = pulled / rate;
    const bool acquiring = played < config.acquireSeconds;
    played += dt;
    const double range = ranged(measuredSkew, dt);
    if (!(measuredError <= config.holdBeyondPpm * 1e-6))
        return current;
    const double off = measuredSkew - current;
    const double far = 3.0 * measuredError + config.farPpm * 1e-6;
    catchingUp =
        catchingUp ? std::abs(off) > config.nearPpm * 1e-6 : std::abs(off) > far && range <= far;
    const bool quick = acquiring || catchingUp;
    const double smoothing = quick ? config.quickSeconds : config.smoothingSeconds;
    const double slewPpm = quick ? config.quickSlewPpmPerSecond : config.slewPpmPerSecond;
    const double most = slewPpm * 1e-6 * dt;
    current += std::clamp(off * std::min(1.0, dt / smoothing), -most, most);
    return current;
}
