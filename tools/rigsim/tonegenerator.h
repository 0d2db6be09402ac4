#pragma once

#include <QByteArray>

// Two independent sine tones, one per channel, as interleaved 16-bit little-endian stereo frames.
// Distinct frequencies make a left/right mix-up audible and measurable at the receiving end.
class ToneGenerator {
public:
    static constexpr double kDefaultLeftHz = 1000.0;
    static constexpr double kDefaultRightHz = 1500.0;
    static constexpr double kDefaultAmplitude = 0.5; // -6 dBFS

    ToneGenerator(double leftHz, double rightHz, int sampleRate,
                  double amplitude = kDefaultAmplitude);

    // The next `frames` frames, continuing the phase of the previous call (4 bytes per frame).
    QByteArray nextFrames(int frames);

private:
    double leftStep;
    double rightStep;
    double amplitude;
    double leftPhase = 0.0;
    double rightPhase = 0.0;
};
