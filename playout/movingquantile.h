// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// Quantiles of the values counted over the last few blocks (the caller closes one block at a
// time): a histogram per block and their sum, so that a value costs a step, a quantile or a count
// a pass over the bins below the highest, and a block's close a pass over all of them; nothing is
// allocated after reset(). Values go in bins of a width from 0 up, the last bin holding everything
// beyond; a quantile is read as the upper edge of its bin.
class MovingQuantile {
public:
    struct Config {
        // The blocks counted: the open one and those closed before it.
        int blocks = 20;
        // With the 1001 bins, values up to 500 ms in steps of 0.5 ms.
        double binWidth = 500'000.0;
    };

    class Histogram {
    public:
        static constexpr int kBins = 1001;
        explicit Histogram(double binWidth);
        void add(double value) {
            const int bin = static_cast<int>(std::clamp(value / binWidth, 0.0, kBins - 1.0));
            ++bins[static_cast<std::size_t>(bin)];
            ++count;
            highest = std::max(highest, bin);
        }
        void remove(const Histogram& part);
        void include(const Histogram& part);
        // Every value counted made `by` less (those that would fall below 0 counted as 0).
        void lower(double by);
        void clear();
        // The upper edge of the bin holding the quantile (1: the highest value), never below it.
        double quantile(double quantile) const;
        // How many are at least `value` (from the bin that holds it on), and how many in all.
        std::uint64_t countFrom(double value) const;
        std::uint64_t total() const { return count; }

    private:
        std::array<std::uint32_t, kBins> bins{};
        double binWidth;
        std::uint64_t count = 0;
        // No bin above this one holds anything: quantiles are looked for from here down.
        int highest = 0;
    };

    MovingQuantile();
    explicit MovingQuantile(const Config& config);
    void reset();

    // The open block: what is added to it leaves the window `blocks` closes later.
    int openBlock() const { return open; }
    // Counts `value` in `block`, the open one or one still in the window (an earlier openBlock()).
    void add(double value, int block) {
        blocks[static_cast<std::size_t>(block)].add(value);
        sum.add(value);
    }
    // Opens the next block; the oldest leaves the window, and its slot is the open block's.
    void closeBlock();
    // Every value counted in the block `back` blocks before the open one made `by` less.
    void lowerBlock(int back, double by);

    // What the window holds, and what the block `back` blocks before the open one does.
    const Histogram& window() const { return sum; }
    const Histogram& block(int back) const {
        return blocks[static_cast<std::size_t>((open + config.blocks - back) % config.blocks)];
    }

private:
    Config config;
    std::vector<Histogram> blocks;
    Histogram sum;
    int open = 0;
};
