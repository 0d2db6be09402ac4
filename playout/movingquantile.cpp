// SPDX-License-Identifier: GPL-3.0-or-later

#include "movingquantile.h"

#include <algorithm>
#include <cmath>

MovingQuantile::Histogram::Histogram(double binWidth)
    : binWidth(binWidth) {}

void MovingQuantile::Histogram::remove(const Histogram& part) {
    for (int b = 0; b < kBins; ++b)
        bins[b] -= part.bins[b];
    count -= part.count;
    while (highest > 0 && bins[highest] == 0)
        --highest;
}

void MovingQuantile::Histogram::include(const Histogram& part) {
    for (int b = 0; b < kBins; ++b)
        bins[b] += part.bins[b];
    count += part.count;
    highest = std::max(highest, part.highest);
}

void MovingQuantile::Histogram::lower(double by) {
    const int shift = static_cast<int>(std::lround(by / binWidth));
    if (shift <= 0)
        return;
    for (int b = 0; b <= highest; ++b) {
        const std::uint32_t n = bins[b];
        bins[b] = 0;
        bins[std::max(0, b - shift)] += n;
    }
    highest = std::max(0, highest - shift);
}

void MovingQuantile::Histogram::clear() {
    bins.fill(0);
    count = 0;
    highest = 0;
}

double MovingQuantile::Histogram::quantile(double quantile) const {
    const double allowedAbove = (1.0 - quantile) * static_cast<double>(count);
    std::uint64_t above = 0;
    for (int b = highest; b >= 0; --b) {
        above += bins[b];
        if (static_cast<double>(above) > allowedAbove)
            return (b + 1) * binWidth;
    }
    return 0.0;
}

std::uint64_t MovingQuantile::Histogram::countFrom(double value) const {
    std::uint64_t from = 0;
    for (int b = std::clamp(static_cast<int>(value / binWidth), 0, kBins); b <= highest; ++b)
        from += bins[b];
    return from;
}

MovingQuantile::MovingQuantile()
    : MovingQuantile(Config{}) {}

MovingQuantile::MovingQuantile(const Config& config)
    : config(config)
    , sum(config.binWidth) {
    reset();
}

void MovingQuantile::reset() {
    blocks.assign(static_cast<std::size_t>(config.blocks), Histogram(config.binWidth));
    sum.clear();
    open = 0;
}

void MovingQuantile::lowerBlock(int back, double by) {
    Histogram& part =
        blocks[static_cast<std::size_t>((open + config.blocks - back) % config.blocks)];
    sum.remove(part);
    part.lower(by);
    sum.include(part);
}

void MovingQuantile::closeBlock() {
    open = (open + 1) % config.blocks;
    sum.remove(blocks[static_cast<std::size_t>(open)]);
    blocks[static_cast<std::size_t>(open)].clear();
}
