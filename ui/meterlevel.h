// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QtGlobal>

// A meter's reading and its peak marker. The peak is held for one second after it was last
// raised, then falls by 15 % of its distance to the bottom at every further reading below it.
// Time comes in from the caller as milliseconds of a monotonic clock, so the hold can be driven
// without waiting.
class MeterLevel {
public:
    static constexpr qint64 peakHoldMs = 999; // held while no more than this has passed
    static constexpr float peakFallFraction = 0.15f;
    static constexpr float peakSnapDb = 0.5f; // closer than this to the bottom snaps onto it

    MeterLevel(float minDb, float maxDb);

    // One reading, clamped to the scale.
    void setDb(float v, qint64 nowMs);
    void resetPeak();
    // Back to the bottom of the scale.
    void toBottom(qint64 nowMs);

    float value() const { return current; }
    float peak() const { return peakDb; }
    float minDb() const { return bottom; }
    float maxDb() const { return top; }

private:
    float bottom;
    float top;
    float current;
    float peakDb;
    bool peakHold = false;
    qint64 peakRaisedMs = 0;
};
