// SPDX-License-Identifier: GPL-3.0-or-later

#include "fillkeeper.h"

#include <algorithm>
#include <cmath>

FillKeeper::FillKeeper()
    : FillKeeper(Config{}) {}

FillKeeper::FillKeeper(const Config& c)
    : config(c) {
    reset(48000);
}

void FillKeeper::reset(int hostRate) {
    threshold = config.thresholdSeconds * hostRate;
    step = config.stepSeconds * hostRate;
    judgedTarget = 0.0;
    moved();
}

int FillKeeper::update(double error, double target, double seconds) {
    errors[static_cast<std::size_t>(seen % kMostCycles)] = error;
    ++seen;
    span += seconds;
    const int way = error > step ? 1 : (error < -step ? -1 : 0);
    stepRun = way != 0 && way * stepRun >= 0 ? stepRun + way : 0;
    if (std::abs(stepRun) >= config.stepCycles)
        return moveBy(std::min(seen, config.stepCycles));
    if (span < config.windowSeconds)
        return 0;
    const double median = medianOf(std::min(seen, kMostCycles));
    moved();
    const bool shrinking = target < judgedTarget - threshold / 8;
    judgedTarget = target;
    const bool over =
        median > (shrinking ? std::max(threshold, config.shrinkingShare * target) : threshold);
    return over || median < -threshold ? static_cast<int>(std::lround(median)) : 0;
}

void FillKeeper::moved() {
    seen = 0;
    span = 0.0;
    stepRun = 0;
}

// The median of the latest `n` errors.
double FillKeeper::medianOf(int n) {
    std::array<double, kMostCycles> latest{};
    for (int i = 0; i < n; ++i)
        latest[static_cast<std::size_t>(i)] =
            errors[static_cast<std::size_t>((seen - 1 - i + kMostCycles) % kMostCycles)];
    const auto middle = latest.begin() + n / 2;
    std::nth_element(latest.begin(), middle, latest.begin() + n);
    return *middle;
}

int FillKeeper::moveBy(int n) {
    const double median = medianOf(n);
    moved();
    return static_cast<int>(std::lround(median));
}
