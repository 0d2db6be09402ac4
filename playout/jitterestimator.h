// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "latenesswindow.h"
#include "lossfinder.h"
#include "outagefinder.h"
#include "schedulefit.h"
#include "targetpolicy.h"

#include <cstdint>

// Places each datagram from the host in the stream and says how much audio the playouts should
// hold, from nothing but the datagrams' arrival times (steady clock, ns) and frame counts: the
// host's datagrams carry no sequence numbers or times. Arrivals are taken in blocks of half a
// second, and its parts do the work:
//
// - `ScheduleFit`: the host's schedule, a line through each block's earliest arrival against its
//   stream position, its slope found from the phase of those arrivals modulo the datagram's period
//   (which losses cannot move) and fitted over the last 64 calm blocks (32 s); a datagram's
//   lateness is how far it arrived after that line.
// - `LossFinder`: the losses, from blocks in a row at the phase that agree on them, and sooner
//   from the datagrams themselves (on a jittery link a datagram later than the window has seen or
//   a long run of late ones, on a calm link three in a row late by whole periods). The stream
//   moves on by one datagram at a time, so each loss leaves a gap of its own length. A loss the
//   audio shows at once (the caller hears it) moves the stream on by `lossBefore()`.
// - `LatenessWindow`: the lateness over the last 10 s, each datagram's counted once it is known
//   whether it follows a loss not yet placed (a period less for each placed meanwhile).
// - `TargetPolicy`: the fill to hold, from the window's 99th percentile of lateness and the
//   lateness that recurs, grown at once and given back slowly.
// - `OutageFinder`: arrivals that stop for longer than the fill covers, and what came after: a
//   stall's backlog (kept out of the lateness, the losses and the target unless stalls keep coming)
//   or the stream resumed after a pause (moved on at once to where it now is).
//
// Pure: no clock, no I/O, no allocation after reset(); one thread (the audio worker's).
class JitterEstimator {
public:
    struct Placement {
        // Where the datagram's first frame goes in the stream.
        std::int64_t position = 0;
        // When the datagram was due on the fitted schedule (steady clock, ns): its lateness is the
        // arrival time minus this.
        std::int64_t dueNs = 0;
        // The fill the playouts should hold, in host frames.
        int target = 0;
    };

    // The largest target, in seconds of audio.
    static constexpr double kMaxTargetSeconds = TargetPolicy::Config{}.maxSeconds;

    JitterEstimator();

    // A new stream from the host at `hostRate` frames per second, whose first datagram goes to
    // `position`; `floorFrames` is the least target the operator asked for (0: as small as works).
    void reset(int hostRate, int floorFrames, std::int64_t position = 0);
    Placement arrival(std::int64_t arrivalNs, int frames);

    // Where the next datagram goes if none is lost before it.
    std::int64_t nextPosition() const { return next; }
    // The datagram last placed came late as if a loss not yet placed were before it, or came
    // while the line cannot yet count losses.
    bool mayFollowLoss() const { return unsure; }
    // The audio shows a loss just before the datagram last placed (one that may follow a loss),
    // which came at `arrivalNs`: the stream moves on by it, and that datagram's placement.
    Placement lossBefore(std::int64_t arrivalNs, int frames);
    // The host's clock against this machine's, from the fitted schedule, in parts per million,
    // and its standard error.
    double skewPpm() const { return schedule.skewPpm(); }
    double skewErrorPpm() const { return schedule.skewErrorPpm(); }
    // The lateness the target covers (its 99th percentile over the window), in ms.
    double latenessMs() const { return window.usualNs() / 1e6; }
    // The link's stalls ridden out, and those the target covered because they kept coming.
    std::uint64_t stalls() const { return outages.stalls(); }
    std::uint64_t stallsCovered() const { return outages.stallsCovered(); }

private:
    void moveOn(int step, int frames);
    void jumpOn(int datagrams, int frames);
    void closeBlock(std::int64_t arrivalNs);
    void discountUnplacedLosses();

    ScheduleFit schedule;
    LossFinder losses;
    OutageFinder outages;
    LatenessWindow window;
    TargetPolicy policy;
    double nsPerFrame = 0.0;
    std::int64_t next = 0;
    bool started = false;
    std::int64_t blockStartNs = 0;
    Placement lastPlaced;
    bool unsure = false;
};
