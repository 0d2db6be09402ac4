// SPDX-License-Identifier: GPL-3.0-or-later

#include "breakdetector.h"

#include <algorithm>

namespace {
constexpr int kChannels = 2;
// A whisper of white noise in the autocorrelation keeps the fit of a few pure tones well posed.
constexpr double kRidge = 1e-9;
// The autocorrelation from every other frame: the same estimate, to a few parts in a thousand, at
// half the cost.
constexpr int kStride = 2;
// A channel quieter than this (its mean square, in 16-bit steps) carries nothing to go by.
constexpr double kQuiet = 100.0;
} // namespace

BreakDetector::BreakDetector()
    : BreakDetector(Config{}) {}

BreakDetector::BreakDetector(const Config& config)
    : config(config) {}

void BreakDetector::reset(int frames) {
    coefficients.assign(std::size_t(kChannels * (config.order + 1)), 0.0);
    work.assign(std::size_t(2 * (config.order + 1)), 0.0);
    scores.assign(std::size_t(frames / std::max(1, config.window) + 2), 0.0);
}

// Each channel with audio in it must break: one that carries on (a tone where the other channel
// had a click, a step, a burst beginning) says nothing was lost.
bool BreakDetector::breaks(const std::int16_t* frames, int fitFrames, int count) {
    const int stretches = count / config.window - 1;
    if (stretches < 3 || std::size_t(stretches) > scores.size() ||
        fitFrames < config.leastFitFrames || fitFrames > config.fitFrames)
        return false;
    const std::int16_t* tail = frames + kChannels * fitFrames;
    int heard = 0;
    for (int c = 0; c < kChannels; ++c) {
        fit(frames, fitFrames, c);
        if (power[std::size_t(c)] < kQuiet)
            continue;
        ++heard;
        for (int k = 0; k < stretches; ++k)
            scores[std::size_t(k)] = misses(tail, c, (k + 1) * config.window, config.window);
        std::nth_element(scores.begin(), scores.begin() + stretches / 2,
                         scores.begin() + stretches);
        if (misses(tail, c, 0, config.window) <=
            config.breaksBy * scores[std::size_t(stretches / 2)])
            return false;
    }
    return heard > 0;
}

// Levinson-Durbin on the stretch's autocorrelation: a predictor of `order` taps, stable whatever
// the audio.
void BreakDetector::fit(const std::int16_t* frames, int fitFrames, int channel) {
    const int p = config.order;
    double* a = &coefficients[std::size_t(channel * (p + 1))];
    double* r = work.data();
    double* next = work.data() + p + 1;
    for (int lag = 0; lag <= p; ++lag) {
        double sum = 0.0;
        for (int i = fitFrames - 1; i >= lag; i -= kStride)
            sum +=
                double(frames[kChannels * i + channel]) * frames[kChannels * (i - lag) + channel];
        r[lag] = sum;
    }
    power[std::size_t(channel)] = r[0] * kStride / fitFrames;
    r[0] = r[0] * (1.0 + kRidge) + 1.0;
    std::fill(a, a + p + 1, 0.0);
    a[0] = 1.0;
    double error = r[0];
    for (int m = 1; m <= p; ++m) {
        double acc = r[m];
        for (int i = 1; i < m; ++i)
            acc += a[i] * r[m - i];
        const double k = -acc / error;
        std::copy(a, a + p + 1, next);
        for (int i = 1; i < m; ++i)
            a[i] = next[i] + k * next[m - i];
        a[m] = k;
        error *= 1.0 - k * k;
    }
}

// The predictor's squared misses over `count` frames from `from` (the frames before `from` lie
// before it in memory, the fit's stretch at least).
double BreakDetector::misses(const std::int16_t* frames, int channel, int from, int count) const {
    const int p = config.order;
    const double* a = &coefficients[std::size_t(channel * (p + 1))];
    double sum = 0.0;
    for (int n = from; n < from + count; ++n) {
        double e = frames[kChannels * n + channel];
        for (int i = 1; i <= p; ++i)
            e += a[i] * frames[kChannels * (n - i) + channel];
        sum += e * e;
    }
    return sum;
}
