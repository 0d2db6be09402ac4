// SPDX-License-Identifier: GPL-3.0-or-later

#include "seamlocator.h"

#include <algorithm>

namespace {
constexpr int kChannels = 2;
// A whisper of white noise in the autocorrelation keeps the fit of a few pure tones well posed.
constexpr double kRidge = 1e-9;
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
    const std::int16_t* tail = frames + kChannels * config.fitFrames;
    const auto missesAt = [&](int from) {
        return misses(tail, 0, from, config.window) + misses(tail, 1, from, config.window);
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

// Levinson-Durbin on the stretch's autocorrelation: a predictor of `order` taps, stable whatever
// the audio.
void SeamLocator::fit(const std::int16_t* frames, int channel) {
    const int p = config.order;
    double* a = &coefficients[std::size_t(channel * (p + 1))];
    double* r = work.data();
    double* next = work.data() + p + 1;
    for (int lag = 0; lag <= p; ++lag) {
        double sum = 0.0;
        for (int i = lag; i < config.fitFrames; ++i)
            sum +=
                double(frames[kChannels * i + channel]) * frames[kChannels * (i - lag) + channel];
        r[lag] = sum;
    }
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
