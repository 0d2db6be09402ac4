// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cmath>
#include <cstdint>

// The fill the playouts should hold ahead of the card, in host frames, from each datagram's
// lateness and the usual lateness of the window: one datagram, plus the usual lateness, plus a
// margin and room for scheduling hiccups (a datagram more while losses are being found); never
// below the operator's floor and within [one datagram, 500 ms]. It grows at once to cover lateness
// beyond that once it recurs (a lone outlier has played by the time it is seen), and shrinks only
// after a hold and at a limited rate, so that jitter that comes back finds it still there.
//
// Pure: no clock, no I/O, no allocation; one thread.
class TargetPolicy {
public:
    struct Config {
        // The largest target, in seconds of audio.
        double maxSeconds = 0.5;
        // Covers what lateness does not measure: the audio still to come in the millisecond or
        // two between the worker's last look and the card's cycle, the resampler's look-ahead, and
        // the fill's scatter around the target.
        double marginNs = 3'000'000.0;
        // Room in the steady target for the hiccups of the sender's and this machine's scheduling:
        // a thread woken a few milliseconds late now and then (on a virtual machine even at
        // real-time priority), a datagram as late, which neither underruns nor moves the target.
        double headroomNs = 3'000'000.0;
        // After it last grew, the target holds for 10 s (the lateness window: lateness that keeps
        // coming, as losses still to be placed do, holds it steady), then shrinks by at most 2 ms
        // per second. An episode of late datagrams recurs when it begins within the hold of the
        // last.
        std::int64_t shrinkHoldNs = 10'000'000'000;
        double shrinkPerSecond = 0.002;
        // The target keeps room for a loss not yet placed for this long after the latest one.
        std::int64_t lossMarginNs = 10'000'000'000;
    };

    TargetPolicy();
    explicit TargetPolicy(const Config& config);

    // A new stream at `hostRate` frames per second; `floorFrames` is the least target the operator
    // asked for (0: as small as works).
    void reset(int hostRate, int floorFrames);
    // A datagram of `frames` came at `arrivalNs`, `latenessNs` after the schedule, when the usual
    // lateness was `usualNs` and the latest loss had been found at `lastLossNs`.
    void update(std::int64_t arrivalNs, double latenessNs, int frames, double usualNs,
                std::int64_t lastLossNs);
    // A loss has been placed: what the target grew by for the lateness it caused goes back from
    // now on.
    void lossPlaced();

    int frames() const { return static_cast<int>(std::lround(target)); }

private:
    Config config;
    int rate = 48000;
    double nsPerFrame = 0.0;
    int floor = 0;
    bool started = false;
    double target = 0.0;
    std::int64_t lastGrowthNs = 0;
    std::int64_t lastArrivalNs = 0;
    // Datagrams in a row later than the target covered: when the latest such episode began, how
    // long the queue behind its first datagram lasts, whether it has outlasted that queue, its
    // highest lateness, and the lateness it repeats of the episode before (within the hold).
    bool inEpisode = false;
    bool episodeOutlasted = false;
    std::int64_t episodeStartNs = 0;
    double episodeQueueNs = 0.0;
    double episodePeakNs = 0.0;
    double recurringNs = 0.0;
};
