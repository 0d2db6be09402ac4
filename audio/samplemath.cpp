// SPDX-License-Identifier: GPL-3.0-or-later

#include "samplemath.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

// Linear level that stands for digital silence (kSilentRms / kFullScale).
constexpr float kSilentLinearLevel = 3.051851e-13f;

// Squares are summed as exact 64-bit integers: for the block sizes of this system (at most 65,536
// samples) that is the same sum a double would give, and it lets the compiler vectorise the loop.
float levelFromSumOfSquares(std::int64_t sumOfSquares, int count) {
    const float rms = static_cast<float>(std::sqrt(static_cast<double>(sumOfSquares) / count));
    const float linear = rms < kSilentRms ? kSilentLinearLevel : rms / kFullScale;
    return 20.0f * std::log10(linear);
}

std::int64_t sumOfSquares(const qint16* samples, int count) {
    std::int64_t sum = 0;
    for (int i = 0; i < count; ++i) {
        const std::int32_t x = samples[i];
        sum += x * x;
    }
    return sum;
}

// Writes the chosen sample of each frame to both channels of the copy; `keepFirst` picks the left.
void copyOneReceiver(const char* in, int byteCount, bool keepFirst, char* out) {
    const int whole = byteCount / kBytesPerStereoFrame;
    const int offset = keepFirst ? 0 : kBytesPerSample;
    for (int f = 0; f < whole; ++f) {
        const char* sample = in + f * kBytesPerStereoFrame + offset;
        char* frame = out + f * kBytesPerStereoFrame;
        std::memcpy(frame, sample, kBytesPerSample);
        std::memcpy(frame + kBytesPerSample, sample, kBytesPerSample);
    }
    const int rest = byteCount - whole * kBytesPerStereoFrame;
    if (rest > 0) {
        char last[kBytesPerStereoFrame] = {};
        std::memcpy(last, in + whole * kBytesPerStereoFrame, rest);
        char* frame = out + whole * kBytesPerStereoFrame;
        std::memcpy(frame, last + offset, kBytesPerSample);
        std::memcpy(frame + kBytesPerSample, last + offset, kBytesPerSample);
    }
}

} // namespace

float blockLevelDb(const qint16* samples, int count) {
    return levelFromSumOfSquares(sumOfSquares(samples, count), count);
}

StereoLevels stereoBlockLevelDb(const qint16* frames, int frameCount) {
    std::int64_t left = 0;
    std::int64_t right = 0;
    for (int f = 0; f < frameCount; ++f) {
        const std::int32_t l = frames[2 * f];
        const std::int32_t r = frames[2 * f + 1];
        left += l * l;
        right += r * r;
    }
    return {levelFromSumOfSquares(left, frameCount), levelFromSumOfSquares(right, frameCount)};
}

float smoothLevel(float stored, float level, float riseFactor, float fallFactor) {
    const float factor = level > stored ? riseFactor : fallFactor;
    return stored + factor * (level - stored);
}

bool copyForSpeaker(const char* in, int byteCount, ReceiverMode mode, char* out) {
    switch (mode) {
    case ReceiverMode::RX1:
        copyOneReceiver(in, byteCount, false, out);
        return true;
    case ReceiverMode::RX2:
        copyOneReceiver(in, byteCount, true, out);
        return true;
    case ReceiverMode::Both:
        break;
    }
    return false;
}

int reduceCapture(const qint16* in, int frameCount, char* out) {
    const int bytes = reducedCaptureBytes(frameCount);
    const int whole = frameCount / 4;
    for (int g = 0; g < whole; ++g)
        std::memcpy(out + 4 * g, in + 4 * g, 2 * kBytesPerSample);
    const int rest = frameCount - whole * 4;
    if (rest > 0) {
        qint16 last[2] = {0, 0};
        std::memcpy(last, in + 4 * whole, std::min(rest, 2) * kBytesPerSample);
        std::memcpy(out + 4 * whole, last, sizeof last);
    }
    return bytes;
}
