// SPDX-License-Identifier: GPL-3.0-or-later

#include "levelsource.h"

#include <QTimer>
#include <QtMath>

namespace {
constexpr double speechRateHz = 0.35; // slow swell of the programme
constexpr double syllableRateHz = 3.1;
constexpr float middleDb = -26.0f;
constexpr float swellDb = 20.0f;
constexpr float syllableDb = 6.0f;
constexpr float jitterDb = 2.0f;
constexpr double rightPhase = 1.9;
constexpr double capturedPhase = 4.1;
} // namespace

LevelSource::LevelSource(int readingsPerSecond)
    : timer(new QTimer(this))
    , intervalMs(qMax(1, 1000 / qMax(1, readingsPerSecond)))
    , secondsPerTick(intervalMs / 1000.0) {
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, &LevelSource::tick);
}

void LevelSource::start() {
    timer->start(intervalMs);
}

void LevelSource::stop() {
    timer->stop();
}

float LevelSource::levelAt(double seconds, double phase) {
    const double swell = std::sin(2.0 * M_PI * speechRateHz * seconds + phase);
    const double syllable = std::sin(2.0 * M_PI * syllableRateHz * seconds + 2.0 * phase);
    const double jitter = random.generateDouble() * 2.0 - 1.0;
    return middleDb + swellDb * static_cast<float>(swell) +
           syllableDb * static_cast<float>(syllable) + jitterDb * static_cast<float>(jitter);
}

void LevelSource::tick() {
    const double t = static_cast<double>(++ticks) * secondsPerTick;
    emit left(levelAt(t, 0.0));
    emit right(levelAt(t, rightPhase));
    emit captured(levelAt(t, capturedPhase) - 8.0f);
}
