// SPDX-License-Identifier: GPL-3.0-or-later

#include "seamlocator.h"

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

SeamLocator::SeamLocator()
    : SeamLocator(Config{}) {}

SeamLocator::SeamLocator(const Config& config)
    : config(config) {}

void SeamLocator::reset(int frames) {
    coefficients.assign(std::size_t(kChannels * (config.order + 1)), 0.0);
    work.assign(std::size_t(2 * (config.order + 1)), 0.0);
    scores.assign(std::size_t(frames / std::max(1, config.window) + 2), 0.0);
}

int SeamLocator::locate(const std::int16_t* frames, int count, int step) {
    const int boundaries = step > 0 ? count / step : 0;
    const int after = boundaries;
    if (boundaries == 0 || count < config.window || std::size_t(boundaries) > scores.size())
        return after;
    for (int c = 0; c < kChannels; ++c)
        fit(frames, c);
    const auto missesAt = [&](int from) {
        return this->missesAt(frames, from);
    };
    // The others: stretches in the middle of each datagram, where nothing breaks.
    int n = 0;
    for (int k = 0; k < boundaries && n < int(scores.size()); ++k)
        if (k * step + step / 2 + config.window <= count)
            scores[std::size_t(n++)] = missesAt(k * step + step / 2);
    if (n == 0)
        return after;
    std::nth_element(scores.begin(), scores.begin() + n / 2, scores.begin() + n);
    const double usual = scores[std::size_t(n / 2)];
    int best = after;
    double bestMisses = config.standsOut * usual;
    for (int k = 0; k < boundaries; ++k) {
        if (k * step + config.window > count)
            break;
        const double m = missesAt(k * step);
        if (m > bestMisses) {
            bestMisses = m;
            best = k;
        }
    }
    return best;
}

// Each channel with audio in it must break: one that carries on (a tone where the other channel
// had a click, a step, a burst beginning) says nothing was lost.
bool SeamLocator::breaks(const std::int16_t* frames, int count) {
    const int stretches = count / config.window - 1;
    if (stretches < 3 || std::size_t(stretches) > scores.size())
        return false;
    const std::int16_t* tail = frames + kChannels * config.fitFrames;
    int heard = 0;
    for (int c = 0; c < kChannels; ++c) {
        fit(frames, c);
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

// The predictor's misses on both channels over a window from `from` frames after the fit's
// stretch.
double SeamLocator::missesAt(const std::int16_t* frames, int from) const {
    const std::int16_t* tail = frames + kChannels * config.fitFrames;
    return misses(tail, 0, from, config.window) + misses(tail, 1, from, config.window);
}

// Levinson-Durbin on the stretch's autocorrelation: a predictor of `order` taps, stable whatever
// the audio.
void SeamLocator::fit(const std::int16_t* frames, int channel) {
    const int p = config.order;
    double* a = &coefficients[std::size_t(channel * (p + 1))];
    double* r = work.data();
    double* next = work.data() + p + 1;
    for (int lag = 0; lag <= p; ++lag) {
        double sum = 0.0;
        for (int i = config.fitFrames - 1; i >= lag; i -= kStride)
            sum +=
                double(frames[kChannels * i + channel]) * frames[kChannels * (i - lag) + channel];
        r[lag] = sum;
    }
    power[std::size_t(channel)] = r[0] * kStride / config.fitFrames;
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
double SeamLocator::misses(const std::int16_t* frames, int channel, int from, int count) const {
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
