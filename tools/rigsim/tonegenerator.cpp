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

} // namespace

ToneGenerator::ToneGenerator(double leftHz, double rightHz, int sampleRate, double amplitude_)
    : leftStep(kTwoPi * leftHz / sampleRate)
    , rightStep(kTwoPi * rightHz / sampleRate)
    , amplitude(amplitude_) {}

QByteArray ToneGenerator::nextFrames(int frames) {
    QByteArray block(frames * 4, Qt::Uninitialized);
    char* out = block.data();
    for (int i = 0; i < frames; ++i, out += 4) {
        putSample(out, amplitude * std::sin(leftPhase));
        putSample(out + 2, amplitude * std::sin(rightPhase));
        // Wrapping keeps the phase small, so precision does not decay over a long run.
        leftPhase = std::fmod(leftPhase + leftStep, kTwoPi);
        rightPhase = std::fmod(rightPhase + rightStep, kTwoPi);
    }
    return block;
}
