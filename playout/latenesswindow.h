// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "movingquantile.h"

#include <cstddef>
#include <vector>

// The datagrams' lateness over the last 10 s (20 blocks of half a second), each counted once it is
// known whether it follows a loss not yet placed. A datagram that may (the loss finder says which
// surely do not) waits, with those after it, until one that surely follows none comes: then they
// are counted, a period less late for each loss placed meanwhile, in the blocks they came in. So a
// loss is never taken for jitter, neither by the target nor by the loss finder's tests. At most a
// block's worth of the shortest datagrams waits; beyond that they are counted as they come.
//
// Pure: no clock, no I/O, no allocation after reset(); one thread.
class LatenessWindow {
public:
    struct Config {
        MovingQuantile::Config counts;
        // The usual lateness: what the target covers and the loss finder takes for jitter.
        double quantile = 0.99;
        std::size_t unsureDatagrams = 256;
    };

    LatenessWindow();
    explicit LatenessWindow(const Config& config);
    void reset();

    // A datagram's lateness; `sure`: it surely follows no loss not yet placed.
    void count(double latenessNs, bool sure) {
        if (!sure && unsure.size() < config.unsureDatagrams) {
            unsure.push_back({latenessNs, counts.openBlock()});
            return;
        }
        countUnsure();
        counts.add(latenessNs, counts.openBlock());
    }
    // The stream moved on for a loss: the datagrams waiting were a period less late than they
    // seemed (and may yet follow another).
    void lossPlaced(double periodNs);
    // The datagrams counted in the block `back` blocks before the open one followed losses not
    // placed then (before the schedule could count them) that made them seem `byNs` later.
    void lossesFound(int back, double byNs) { counts.lowerBlock(back, byNs); }
    void closeBlock();

    // The usual lateness over the window, and over the block `back` blocks before the open one.
    double usualNs() const { return counts.window().quantile(config.quantile); }
    double usualNs(int back) const { return counts.block(back).quantile(config.quantile); }
    // The latest lateness over the window.
    double latestNs() const { return counts.window().quantile(1.0); }
    // The lateness counted, by block, and how many blocks the window holds (the open one too).
    const MovingQuantile& counted() const { return counts; }
    int blocks() const { return config.counts.blocks; }

private:
    struct Unsure {
        double latenessNs = 0.0;
        int block = 0;
    };
    void countUnsure();

    Config config;
    MovingQuantile counts;
    // The datagrams since the last one that surely followed no loss not yet placed.
    std::vector<Unsure> unsure;
};
