// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <array>
#include <cstdint>

// The link's outages, told from jitter: arrivals that stop for longer than the fill covers (and
// 100 ms). What comes next says which it was:
// - a burst, the datagrams the link held delivered at once: a stall (a mobile link's handover).
//   The stream goes on where it was; the backlog's lateness is the stall's, not jitter's, so it
//   neither moves the target nor shows a loss, and its audio, too late to play, is passed over:
//   one gap, and the latency as it was. Only where stalls keep coming (the fourth within 50 s) does
//   the target cover them, so that they play without a gap;
// - the stream carrying on at its pace: the host paused, or the link lost what it held. The
//   stream jumps on at once to where that datagram belongs, rather than a datagram at a time.
//
// Pure: no clock, no I/O, no allocation; one thread.
class OutageFinder {
public:
    struct Config {
        std::int64_t leastNs = 100'000'000;
        std::int64_t recurWithinNs = 50'000'000'000;
        int recurCount = 4;
    };

    // What becomes of a datagram: part of a stall's backlog (its lateness counted towards the
    // target only where stalls are covered), and the datagrams the stream jumps on by before it.
    struct Verdict {
        bool backlog = false;
        bool counted = true;
        int jump = 0;
    };

    OutageFinder();
    explicit OutageFinder(const Config& config);
    void reset();

    // A datagram of `periodNs` came at `arrivalNs`, `lateNs` after the schedule's line as
    // numbered, while the playouts held `heldNs` and the usual lateness was `usualNs`.
    Verdict datagram(std::int64_t arrivalNs, double lateNs, double periodNs, double heldNs,
                     double usualNs);

    // Stalls ridden out, and those the target covered.
    std::uint64_t stalls() const { return ridden; }
    std::uint64_t stallsCovered() const { return covered; }

private:
    enum class State { Flowing, AfterSilence, Backlog };

    bool stallsKeepComing(std::int64_t arrivalNs);

    Config config;
    State state = State::Flowing;
    bool started = false;
    bool covering = false;
    std::int64_t lastArrivalNs = 0;
    std::int64_t silenceEndNs = 0;
    std::array<std::int64_t, 8> stallTimes{};
    int stallCount = 0;
    std::uint64_t ridden = 0;
    std::uint64_t covered = 0;
};
