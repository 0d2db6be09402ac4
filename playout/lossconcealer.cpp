// SPDX-License-Identifier: GPL-3.0-or-later

#include "lossconcealer.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float kToFloat = 1.0f / 32768.0f;
// The low-pass that takes the stream down to the fit's rate and back: a Blackman-windowed sinc
// of 24 taps a step, cut off at 0.45 of the fit's rate (3.6 kHz at 8 kHz), flat to 2.7 kHz:
// the band a receiver's audio fills.
constexpr int kTapsPerStep = 24;
constexpr double kCutoffShare = 0.47;
// The predictor's poles drawn in a hair, so that a tone it puts on the unit circle neither grows
// nor rings on; a continuation that would still grow is held to twice the stretch's peak.
constexpr double kDamping = 0.99995;
constexpr double kGrowthBound = 2.0;
// The normal equations' diagonal raised by this share of the stretch's power: they stay
// solvable over silence or a single tone.
constexpr double kRidge = 1e-9;

int framesOf(double seconds, int rate) {
    return std::max(1, static_cast<int>(std::lround(seconds * rate)));
}

std::int16_t toSample(float value) {
    return static_cast<std::int16_t>(std::clamp(std::lrint(value * 32768.0f), -32768L, 32767L));
}

} // namespace

LossConcealer::LossConcealer()
    : LossConcealer(Config{}) {}

LossConcealer::LossConcealer(const Config& c)
    : config(c) {
    reset(48000, true);
}

void LossConcealer::reset(int rate, bool on) {
    enabled = on;
    step = std::max(1, static_cast<int>(std::lround(double(rate) / config.fitRate)));
    const int length = step > 1 ? kTapsPerStep * step + 1 : 1;
    const int middle = length / 2;
    taps.assign(static_cast<std::size_t>(length), 1.0);
    if (step > 1) {
        const double cutoff = kCutoffShare / step; // of the stream's rate
        double sum = 0.0;
        for (int k = 0; k < length; ++k) {
            const double x = k - middle;
            const double sinc = x == 0 ? 2 * cutoff : std::sin(2 * M_PI * cutoff * x) / (M_PI * x);
            const double w = 0.42 - 0.5 * std::cos(2 * M_PI * k / (length - 1)) +
                             0.08 * std::cos(4 * M_PI * k / (length - 1));
            taps[static_cast<std::size_t>(k)] = sinc * w;
            sum += sinc * w;
        }
        for (double& t : taps)
            t /= sum;
    }
    fitLength = std::max(8, framesOf(config.historySeconds, rate) / step);
    order = std::clamp(config.order, 1, fitLength / 4);
    fullFrames = framesOf(config.fullSeconds, rate);
    fadeFrames = framesOf(config.fadeSeconds, rate);
    crossfadeFrames = framesOf(config.crossfadeSeconds, rate);
    std::size_t size = 1;
    while (size < static_cast<std::size_t>(fitLength * step + length))
        size *= 2;
    for (auto& channel : history)
        channel.assign(size, 0.0f);
    historyAt = 0;
    const int filled = fullFrames + fadeFrames + crossfadeFrames;
    for (auto& channel : fill)
        channel.assign(static_cast<std::size_t>(filled), 0.0f);
    low.assign(static_cast<std::size_t>(fitLength + (filled + length) / step + 2), 0.0);
    coefficients.assign(static_cast<std::size_t>(order), 0.0);
    normal.assign(static_cast<std::size_t>(order * order), 0.0);
    right.assign(static_cast<std::size_t>(order), 0.0);
    // The stream starts as if from a continuation already faded out: its first audio fades in.
    run = fullFrames + fadeFrames;
    concealing = false;
    crossfadeLeft = crossfadeFrames;
    concealed = 0;
}

void LossConcealer::process(std::int16_t* frames, const std::uint8_t* present, int count) {
    for (int i = 0; i < count; ++i) {
        std::int16_t* frame = frames + kChannels * i;
        float out[kChannels] = {frame[0] * kToFloat, frame[1] * kToFloat};
        if (!present[i] && enabled) {
            if (!concealing)
                begin();
            const float g = gain();
            for (int c = 0; c < kChannels; ++c)
                out[c] = continuation(c, run) * g;
            concealed += g > 0.0f ? 1 : 0;
            ++run;
            crossfadeLeft = crossfadeFrames;
        } else if (crossfadeLeft > 0 && enabled) {
            const float g = gain();
            const float w = static_cast<float>(crossfadeFrames - crossfadeLeft + 1) /
                            static_cast<float>(crossfadeFrames + 1);
            for (int c = 0; c < kChannels; ++c)
                out[c] = w * out[c] + (1.0f - w) * continuation(c, run) * g;
            ++run;
            --crossfadeLeft;
            concealing = false;
        } else {
            concealing = false;
        }
        frame[0] = toSample(out[0]);
        frame[1] = toSample(out[1]);
        remember(out);
    }
}

void LossConcealer::preview(std::int16_t* frames, int count) const {
    for (int i = 0; i < count; ++i)
        for (int c = 0; c < kChannels; ++c)
            frames[kChannels * i + c] = toSample(continuation(c, run + i));
}

// A continuation begins from what played last: each channel's, worked out whole.
void LossConcealer::begin() {
    for (int c = 0; c < kChannels; ++c)
        continueChannel(c);
    run = 0;
    concealing = true;
}

// The channel's latest stretch low-passed and taken down to the fit's rate (its newest sample
// stands half the low-pass's length before the newest frame), fitted and continued there, and
// brought back up to the stream's rate from the newest frame on.
void LossConcealer::continueChannel(int channel) {
    const auto& x = history[static_cast<std::size_t>(channel)];
    const std::size_t mask = x.size() - 1;
    const int length = static_cast<int>(taps.size());
    double peak = 0.0;
    for (int m = 0; m < fitLength; ++m) {
        const std::size_t newest =
            historyAt - 1 - static_cast<std::size_t>((fitLength - 1 - m) * step);
        double sum = 0.0;
        for (int j = 0; j < length; ++j)
            sum += taps[static_cast<std::size_t>(j)] *
                   x[(newest - static_cast<std::size_t>(j)) & mask];
        low[static_cast<std::size_t>(m)] = sum;
        peak = std::max(peak, std::abs(sum));
    }
    fitPredictor();
    const double bound = kGrowthBound * peak;
    for (std::size_t i = static_cast<std::size_t>(fitLength); i < low.size(); ++i) {
        double sum = 0.0;
        for (int j = 1; j <= order; ++j)
            sum += coefficients[static_cast<std::size_t>(j - 1)] *
                   low[i - static_cast<std::size_t>(j)];
        low[i] = std::clamp(sum, -bound, bound);
    }
    // Frame t after the newest lies 2 * (length / 2) + t + 1 frames after the newest low sample
    // began to count: the samples q steps on from it that the low-pass reaches weigh in.
    const int reach = length - 1;
    auto& out = fill[static_cast<std::size_t>(channel)];
    for (int t = 0; t < static_cast<int>(out.size()); ++t) {
        double sum = 0.0;
        for (int q = (t + step) / step; q * step <= t + 1 + reach; ++q)
            sum += low[static_cast<std::size_t>(fitLength - 1 + q)] *
                   taps[static_cast<std::size_t>(t + 1 + reach - q * step)];
        out[static_cast<std::size_t>(t)] = static_cast<float>(step * sum);
    }
}

// The predictor of the stretch `low` holds, by least squares over it (the covariance method: a
// steady tone's poles land on the unit circle, where a windowed autocorrelation would pull them
// in), through its normal equations and their Cholesky factor; then drawn in by kDamping.
void LossConcealer::fitPredictor() {
    const auto p = static_cast<std::size_t>(order);
    const auto n = static_cast<std::size_t>(fitLength);
    auto at = [&](std::size_t i, std::size_t j) -> double& {
        return normal[i * p + j];
    };
    for (std::size_t j = 0; j < p; ++j) {
        double sum = 0.0, rhs = 0.0;
        for (std::size_t k = p; k < n; ++k) {
            sum += low[k - 1] * low[k - 1 - j];
            rhs += low[k] * low[k - 1 - j];
        }
        at(0, j) = sum;
        right[j] = rhs;
    }
    for (std::size_t i = 0; i + 1 < p; ++i)
        for (std::size_t j = i; j + 1 < p; ++j)
            at(i + 1, j + 1) =
                at(i, j) + low[p - 2 - i] * low[p - 2 - j] - low[n - 2 - i] * low[n - 2 - j];
    const double ridge = kRidge * at(0, 0) + 1e-30;
    std::fill(coefficients.begin(), coefficients.end(), 0.0);
    if (at(0, 0) <= 1e-20)
        return;
    // Cholesky, the factor in the lower triangle.
    for (std::size_t j = 0; j < p; ++j) {
        double d = at(std::min<std::size_t>(0, j), j) * 0 + at(j <= 0 ? 0 : j, j);
        d = (j == 0 ? at(0, 0) : at(j, j)) + ridge;
        for (std::size_t k = 0; k < j; ++k)
            d -= at(j, k) * at(j, k);
        if (d <= 0.0)
            return;
        const double root = std::sqrt(d);
        at(j, j) = root;
        for (std::size_t i = j + 1; i < p; ++i) {
            double s = at(std::min(i, j), std::max(i, j));
            for (std::size_t k = 0; k < j; ++k)
                s -= at(i, k) * at(j, k);
            at(i, j) = s / root;
        }
    }
    for (std::size_t i = 0; i < p; ++i) {
        double s = right[i];
        for (std::size_t k = 0; k < i; ++k)
            s -= at(i, k) * coefficients[k];
        coefficients[i] = s / at(i, i);
    }
    for (std::size_t i = p; i-- > 0;) {
        double s = coefficients[i];
        for (std::size_t k = i + 1; k < p; ++k)
            s -= at(k, i) * coefficients[k];
        coefficients[i] = s / at(i, i);
    }
    double g = 1.0;
    for (double& a : coefficients)
        a *= (g *= kDamping);
}

float LossConcealer::continuation(int channel, int at) const {
    const auto& out = fill[static_cast<std::size_t>(channel)];
    return at < static_cast<int>(out.size()) ? out[static_cast<std::size_t>(at)] : 0.0f;
}

float LossConcealer::gain() const {
    if (run < fullFrames)
        return 1.0f;
    if (run >= fullFrames + fadeFrames)
        return 0.0f;
    return static_cast<float>(0.5 + 0.5 * std::cos(M_PI * (run - fullFrames) / fadeFrames));
}

void LossConcealer::remember(const float* frame) {
    const std::size_t mask = history[0].size() - 1;
    for (int c = 0; c < kChannels; ++c)
        history[static_cast<std::size_t>(c)][historyAt & mask] = frame[c];
    ++historyAt;
}
