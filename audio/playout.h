// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "driftcontroller.h"
#include "playoutring.h"
#include "playoutstats.h"
#include "resampler.h"

#include <QtGlobal>

#include <atomic>
#include <cstdint>

// One playback stream's playout: the host's audio pushed by the audio worker into a PlayoutRing,
// pulled by the stream's callback through a Resampler from the host's rate to the stream's, at a
// ratio the DriftController steers so that the fill stays at the target.
//
// The fill it steers is measured against the host's schedule, not against the datagrams as they
// happen to arrive: each push says when its block was due (JitterEstimator), so between pushes
// the audio the host has sent by now is known to the frame, and neither the datagrams' size nor
// their jitter moves the ratio. Jitter is what the target is for.
//
// It starts silent and plays silence until the fill first reaches the target (priming); audio
// beyond the target before anything has been heard is only delay (a stream that starts after its
// datagrams, as a speaker switched on does) and is skipped, so the stream starts at its target. An
// underrun plays silence for exactly the frames missing and keeps the timeline; the playout then
// primes again, so that a target grown to cover the late audio is filled at once rather than
// by a string of underruns. Audio past the fill's bound is dropped, oldest first, down to the
// target.
//
// Threads: reset() while the stream is stopped; push() and setTarget() on the audio worker's
// thread; pull() in the stream's callback: no lock, no allocation, no logging, bounded time;
// stats() anywhere.
class Playout {
public:
    Playout();

    // A stream of host frames at `hostRate` played at `streamRate`, in datagrams of about
    // `datagramFrames`; the next push is expected at stream position `position`. Allocates.
    void reset(int hostRate, int streamRate, int datagramFrames, std::int64_t position);

    // Audio worker: a datagram's `count` frames for stream position `position`, due at `dueNs`
    // (steady clock), and the fill to hold, in host frames.
    void push(std::int64_t position, const qint16* frames, int count, std::int64_t dueNs);
    void setTarget(int frames);

    // Callback: `frames` frames at the stream's rate into `out`; `nowNs` is the steady clock now.
    void pull(qint16* out, int frames, std::int64_t nowNs);

    PlayoutStats stats() const;

private:
    struct RingInput : Resampler::Input {
        void read(qint16* frames, int count) override;
        PlayoutRing* ring = nullptr;
        int missing = 0;
    };

    double scheduledFill(std::int64_t nowNs) const;
    double cardBurst(std::int64_t nowNs, int frames);
    int primingFrames(std::int64_t nowNs, double wanted, int frames);
    void skipToTarget(std::int64_t nowNs, double keep);
    void dropPastBound(double target);
    void countUnderrun(int missing);
    void steer(double target);

    PlayoutRing ring;
    Resampler resampler;
    DriftController controller;
    RingInput input;
    int hostRate = 48000;
    double nsPerFrame = 0.0;
    double streamFramesPerHostFrame = 1.0;
    std::int64_t pushedEnd = 0;
    bool priming = true;
    bool heard = false;
    bool underrunning = false;
    // The card's pulls that come at one moment (one period of its sound server handed out in
    // several callbacks): the frames of the current one and the largest lately, in host frames.
    std::int64_t lastPullNs = 0;
    int burstFrames = 0;
    double burstHold = 0.0;
    // What the callbacks since the last steering took and left, in host frames.
    double pulledSinceSteer = 0.0;
    double fillAfterPull = 0.0;
    double overdueAfterPull = 0.0;

    std::atomic<int> target{0};
    // When stream position 0 was due on the latest schedule (steady clock, ns); kNoSchedule
    // before the first push.
    std::atomic<std::int64_t> scheduleOriginNs{0};
    std::atomic<quint64> underruns{0};
    std::atomic<quint64> underrunFrames{0};
    std::atomic<quint64> refusedFrames{0};
    std::atomic<quint64> discardedFrames{0};
    std::atomic<quint64> lateDatagrams{0};
    std::atomic<quint64> lostDatagrams{0};
    std::atomic<double> delayMs{0.0};
    std::atomic<double> skewPpm{0.0};
    // The host's rate as stats() gives it, which any thread may call while the worker resets.
    std::atomic<int> statsRate{0};
};
