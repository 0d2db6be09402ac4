// SPDX-License-Identifier: GPL-3.0-or-later

#include "tonegenerator.h"

#include <cmath>
#include <cstdint>

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kFullScale = 32767.0;

void putSample(char* out, double value) {
    const auto sample = static_cast<std::int16_t>(std::lround(value * kFullScale));
    const auto bits = static_cast<std::uint16_t>(sample);
    out[0] = static_cast<char>(bits & 0xFF);
    out[1] = static_cast<char>(bits >> 8);
}

// 1 at the start and at the top of each swell, 0.05 at the bottom; a steady tone keeps phase 0.
double envelope(double phase) {
    return 0.525 + 0.475 * std::cos(phase);
}

} // namespace

ToneGenerator::ToneGenerator(double leftHz, double rightHz, int sampleRate, double amplitude_)
    : leftStep(kTwoPi * leftHz / sampleRate)
    , rightStep(kTwoPi * rightHz / sampleRate)
    , amplitude(amplitude_)
    , sampleRate(sampleRate) {}

void ToneGenerator::setLevelMovement(double leftHz, double rightHz) {
    leftEnvelopeStep = kTwoPi * leftHz / sampleRate;
    rightEnvelopeStep = kTwoPi * rightHz / sampleRate;
}

QByteArray ToneGenerator::nextFrames(int frames) {
    QByteArray block(frames * 4, Qt::Uninitialized);
    char* out = block.data();
    for (int i = 0; i < frames; ++i, out += 4) {
        putSample(out, amplitude * envelope(leftEnvelope) * std::sin(leftPhase));
        putSample(out + 2, amplitude * envelope(rightEnvelope) * std::sin(rightPhase));
        leftEnvelope = std::fmod(leftEnvelope + leftEnvelopeStep, kTwoPi);
        rightEnvelope = std::fmod(rightEnvelope + rightEnvelopeStep, kTwoPi);
        // Wrapping keeps the phase small, so precision does not decay over a long run.
        leftPhase = std::fmod(leftPhase + leftStep, kTwoPi);
        rightPhase = std::fmod(rightPhase + rightStep, kTwoPi);
    }
    return block;
}
