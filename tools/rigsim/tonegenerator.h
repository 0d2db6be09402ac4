// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>

// Two independent sine tones, one per channel, as interleaved 16-bit little-endian stereo frames.
// Distinct frequencies make a left/right mix-up audible and measurable at the receiving end.
class ToneGenerator {
public:
    static constexpr double kDefaultLeftHz = 1000.0;
    static constexpr double kDefaultRightHz = 1500.0;
    static constexpr double kDefaultAmplitude = 0.5; // -6 dBFS

    // Level movement like speech: each tone swells and fades this many times a second, between
    // the full amplitude and about 26 dB below it.
    static constexpr double kMovingLeftHz = 3.0;
    static constexpr double kMovingRightHz = 4.3;

    ToneGenerator(double leftHz, double rightHz, int sampleRate,
                  double amplitude = kDefaultAmplitude);

    // Moves each tone's level with the given rate (0: a steady level).
    void setLevelMovement(double leftHz, double rightHz);

    // The next `frames` frames, continuing the phase of the previous call (4 bytes per frame).
    QByteArray nextFrames(int frames);

private:
    double leftStep;
    double rightStep;
    double amplitude;
    double leftPhase = 0.0;
    double rightPhase = 0.0;
    double leftEnvelopeStep = 0.0;
    double rightEnvelopeStep = 0.0;
    double leftEnvelope = 0.0;
    double rightEnvelope = 0.0;
    double sampleRate;
};
