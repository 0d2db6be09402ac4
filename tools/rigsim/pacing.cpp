// SPDX-License-Identifier: GPL-3.0-or-later

#include "pacing.h"

namespace {

constexpr qint64 kNsPerSecond = 1000000000;

} // namespace

PacingSchedule::PacingSchedule(int sampleRate_, int frameSize_)
    : sampleRate(sampleRate_)
    , frameSize(frameSize_) {}

qint64 PacingSchedule::dueNs(qint64 k) const {
    // Split into whole seconds and remainder so that the products stay far from overflow.
    const qint64 frames = k * frameSize;
    return frames / sampleRate * kNsPerSecond + frames % sampleRate * kNsPerSecond / sampleRate;
}

qint64 PacingSchedule::dueCount(qint64 elapsedNs) const {
    if (elapsedNs < 0)
        return 0;
    const qint64 seconds = elapsedNs / kNsPerSecond;
    const qint64 restNs = elapsedNs % kNsPerSecond;
    const qint64 frames = seconds * sampleRate + restNs * sampleRate / kNsPerSecond;
    qint64 count = frames / frameSize + 1;
    // The integer division above can round a due time down by a nanosecond; trust dueNs.
    while (count > 0 && dueNs(count - 1) > elapsedNs)
        --count;
    while (dueNs(count) <= elapsedNs)
        ++count;
    return count;
}

double PacingSchedule::datagramsPerSecond() const {
    return static_cast<double>(sampleRate) / static_cast<double>(frameSize);
}
