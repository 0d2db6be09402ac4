// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <array>
#include <cstdint>

// Where in the stream a loss belongs that is found a few datagrams after it happened. Until a loss
// is placed, the datagrams after it are numbered a datagram early and look a period late; the one
// before it surely is not. So the gap goes after the last datagram that was surely not late by a
// loss (or where the audio shows it broke), and the datagrams after it move on by the gap, a period
// less late than they seemed. `unsureFrom()` is where a gap could still go.
//
// Pure: no clock, no I/O, no allocation; one thread.
class GapLocator {
public:
    struct Config {
        // A datagram less late than this share of its period follows no loss not yet placed (the
        // same share as LossFinder's).
        double sureFraction = 0.75;
    };

    GapLocator();
    explicit GapLocator(const Config& config);

    // Nothing unsure: the next datagram goes to `position`.
    void reset(std::int64_t position);
    // A datagram numbered at `position`, of `frames`, that came `latePeriods` of its period after
    // the schedule's line as numbered.
    void datagram(std::int64_t position, int frames, double latePeriods);
    // A loss of `frames` placed now: where its gap goes. The datagrams after it move on by it.
    std::int64_t placeLoss(int frames) { return placeLossAt(sureEnd, frames); }
    // The same, where the gap is known to go at `position`: the datagrams before it surely came
    // before the loss.
    std::int64_t placeLossAt(std::int64_t position, int frames);
    // The earliest position a gap for a loss not yet placed could go to.
    std::int64_t unsureFrom() const { return sureEnd; }

private:
    struct Unsure {
        std::int64_t position = 0;
        int frames = 0;
        double latePeriods = 0.0;
    };
    // The unsure datagrams kept: a loss shows within a few, and a run longer than this is jitter
    // whose first datagrams have long been played.
    static constexpr int kKept = 64;

    Config config;
    std::int64_t sureEnd = 0;
    std::array<Unsure, kKept> unsure{};
    int count = 0;
};
