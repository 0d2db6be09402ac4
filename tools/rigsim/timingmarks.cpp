// SPDX-License-Identifier: GPL-3.0-or-later

#include "timingmarks.h"

#include <QtEndian>

#include <cmath>

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kFullScale = 32767.0;

} // namespace

TimingMarks::TimingMarks(int sampleRate_)
    : sampleRate(sampleRate_)
    , burstFrames(std::llround(kBurstSeconds * sampleRate_)) {}

qint64 TimingMarks::apply(QByteArray* block, qint64 firstFrame) const {
    const int frames = block->size() / 4;
    char* right = block->data() + 2;
    qint64 begun = -1;
    for (int i = 0; i < frames; ++i, right += 4) {
        const qint64 frame = firstFrame + i;
        const qint64 intoSecond = frame % sampleRate;
        double value = 0.0;
        if (intoSecond < burstFrames)
            value = kAmplitude * std::cos(kTwoPi * kBurstHz * static_cast<double>(intoSecond) /
                                          static_cast<double>(sampleRate));
        if (intoSecond == 0)
            begun = frame / sampleRate;
        qToLittleEndian<qint16>(static_cast<qint16>(std::lround(value * kFullScale)), right);
    }
    return begun;
}
