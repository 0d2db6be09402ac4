// SPDX-License-Identifier: GPL-3.0-or-later

#include "splicer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// Scores this close to the best are as good: the nearest of them is taken.
constexpr double kAsGood = 0.02;

int framesOf(double seconds, int rate) {
    return static_cast<int>(std::lround(seconds * rate));
}

} // namespace

Splicer::Splicer()
    : Splicer(Config{}) {}

Splicer::Splicer(const Config& c)
    : config(c) {
    reset(48000);
}

void Splicer::reset(int rate) {
    seamFrames = std::max(1, framesOf(config.crossfadeSeconds, rate));
    search = std::max(0, framesOf(config.searchSeconds, rate));
    leastFrames = std::max(1, framesOf(config.leastSeconds, rate));
    // Raised cosine: the seam's slope is gentlest where it meets the audio on either side.
    ramp.resize(static_cast<std::size_t>(seamFrames));
    for (int i = 0; i < seamFrames; ++i)
        ramp[static_cast<std::size_t>(i)] =
            static_cast<float>(0.5 - 0.5 * std::cos(M_PI * (i + 1) / (seamFrames + 1)));
}

int Splicer::needs(int wanted) const {
    return std::max(wanted, leastFrames) + search + seamFrames;
}

int Splicer::stretchFor(const std::int16_t* ahead, int count, int wanted) const {
    const int low = std::max(leastFrames, wanted - search);
    const int high = std::max(low, std::min(wanted + search, count - seamFrames));
    int best = std::clamp(wanted, low, high);
    double bestScore = -2.0;
    for (int length = low; length <= high; ++length) {
        const double score = similarity(ahead, ahead + kChannels * length);
        const bool nearer = std::abs(length - wanted) < std::abs(best - wanted);
        if (score > bestScore || (score == bestScore && nearer)) {
            bestScore = score;
            best = length;
        }
    }
    return best;
}

int Splicer::stretchBefore(const std::int16_t* behind, const std::int16_t* ahead,
                           int wanted) const {
    const int low = std::max({leastFrames, seamFrames, wanted - search});
    const int high = std::max(low, wanted + search);
    int best = std::clamp(wanted, low, high);
    double bestScore = -2.0;
    for (int length = low; length <= high; ++length) {
        const double score = similarity(ahead, behind - kChannels * length);
        if (score > bestScore ||
            (score == bestScore && std::abs(length - wanted) < std::abs(best - wanted))) {
            bestScore = score;
            best = length;
        }
    }
    return best;
}

int Splicer::rejoinAt(const std::int16_t* filled, const std::int16_t* coming) const {
    const int half = search / 2;
    double best = 0.0;
    for (int at = -half; at <= half; ++at)
        best = std::max(best, rejoinScore(filled, coming, at));
    for (int off = 0; off <= half; ++off)
        for (const int at : {off, -off})
            if (rejoinScore(filled, coming, at) >= best - kAsGood)
                return at;
    return 0;
}

double Splicer::rejoinScore(const std::int16_t* filled, const std::int16_t* coming, int at) const {
    return at >= 0 ? similarity(filled, coming + kChannels * at)
                   : similarity(filled - kChannels * at, coming);
}

void Splicer::crossfade(const std::int16_t* from, const std::int16_t* to, std::int16_t* out) const {
    for (int i = 0; i < seamFrames; ++i) {
        const float w = ramp[static_cast<std::size_t>(i)];
        for (int c = 0; c < kChannels; ++c) {
            const int k = kChannels * i + c;
            out[k] = static_cast<std::int16_t>(std::lrint((1.0f - w) * from[k] + w * to[k]));
        }
    }
}

// How alike two stretches of a seam's length are, both channels at once: their normalised
// correlation, 1 for the same waveform, 0 where either is silent.
double Splicer::similarity(const std::int16_t* a, const std::int16_t* b) const {
    double ab = 0.0, aa = 0.0, bb = 0.0;
    for (int k = 0; k < kChannels * seamFrames; ++k) {
        ab += double(a[k]) * b[k];
        aa += double(a[k]) * a[k];
        bb += double(b[k]) * b[k];
    }
    return aa > 0.0 && bb > 0.0 ? ab / std::sqrt(aa * bb) : 0.0;
}
