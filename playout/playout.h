// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "cardclock.h"
#include "driftcontroller.h"
#include "playbacksink.h"
#include "playoutring.h"
#include "playoutstats.h"
#include "resampler.h"

#include <atomic>
#include <cstdint>
#include <vector>

// One playback stream's playout: the host's audio pushed into a PlayoutRing at its place in the
// stream, resampled from the host's rate to the stream's at a ratio the DriftController steers,
// and written into the card as soon as it is there. The card's own buffer is the playout's: it
// holds the margin for jitter, and the audio spends no time waiting anywhere else.
//
// The fill it steers is measured against the host's schedule, not against the datagrams as they
// happen to arrive, and at the card's cycles: each push says when its block was due
// (JitterEstimator), so the audio the host has sent by any moment is known to the frame; the card
// takes its audio a period at a time (CardClock), and right after it has is where the fill is
// lowest. So neither the datagrams' size nor their jitter moves the ratio, and the ratio follows
// the card's own clock, whatever the system's does.
//
// Until the schedule says the target is there, the card is kept running on silence; the audio then
// starts where it leaves the fill at the target. Before each of the card's cycles the playout
// makes sure the card holds what the cycle takes: audio not yet come is played as silence for
// exactly the frames missing (an underrun). Up to a target's worth of it is waited for, so that
// the audio follows the silence and the fill is that much fuller at once: a datagram that came
// late rarely comes alone, and skipping what it brought would leave the next one short as well.
// Beyond that it is skipped when it comes, so the timeline holds. Audio past the fill's bound is
// dropped, oldest first.
//
// Threads: one (the audio worker's) for everything but stats(), which any thread may call.
class Playout {
public:
    Playout();

    // A stream of host frames at `hostRate` played at `streamRate`, in datagrams of about
    // `datagramFrames`; the next push is expected at stream position `position`. Allocates.
    void reset(int hostRate, int streamRate, int datagramFrames, std::int64_t position);
    // The card to write, from now on; none: the audio is kept for it.
    void attach(PlaybackSink* sink);

    // A datagram's `count` frames for stream position `position`, due at `dueNs` (steady clock),
    // arrived at `nowNs`, and the fill to hold, in host frames.
    void push(std::int64_t position, const std::int16_t* frames, int count, std::int64_t dueNs,
              std::int64_t nowNs);
    void setTarget(int frames);

    // Looks at the card, keeps it fed and steers; returns when it wants to be called again.
    std::int64_t service(std::int64_t nowNs);
    // When it wants service() called, from what it knows at `nowNs`: before the first of the
    // card's cycles that what the card holds does not cover, or that is due to be timed; at once
    // if that cycle's look is late. Asked again after each push, whose audio may put it off.
    std::int64_t nextServiceNs(std::int64_t nowNs) const;
    // The card refused to say how much it can take: its stream failed.
    bool failed() const { return cardFailed; }
    // When the card was first seen to have taken its latest audio, or first looked at before it
    // took any; -1 before that.
    std::int64_t lastTakenNs() const { return firstLookNs < 0 ? -1 : cardClock.takenSeenNs(); }

    PlayoutStats stats() const;
    // The card's clock against the system's, in ppm (0 until measured); any thread.
    double cardClockPpm() const { return cardPpm.load(std::memory_order_relaxed); }

private:
    struct RingInput : Resampler::Input {
        void read(std::int16_t* frames, int count) override;
        PlayoutRing* ring = nullptr;
        int missing = 0;
        // Missing frames the reads may still wait for.
        int waitRoom = 0;
    };

    double scheduledEnd(std::int64_t atNs) const;
    double hostAtOutput() const;
    double hostAtCard() const;
    void look(std::int64_t nowNs);
    void steer();
    void writeAudio();
    void keepCardFed(std::int64_t nowNs);
    void startAudio(std::int64_t nowNs);
    // The most the card is given to hold, what it may hold beyond the target and its period, and
    // the fill past which audio is dropped (host frames).
    double cardBound() const;
    double cardMargin() const;
    double fillBound() const;
    void dropPastBound(std::int64_t nowNs);
    void writeOut(long frames, bool audio);
    void countUnderrun(int missing);

    PlayoutRing ring;
    Resampler resampler;
    DriftController controller;
    CardClock cardClock;
    RingInput input;
    PlaybackSink* sink = nullptr;
    std::vector<std::int16_t> scratch;
    int hostRate = 48000;
    int streamRate = 96000;
    int datagram = 1;
    double nsPerFrame = 0.0;
    double nominalRatio = 2.0;
    double ratio = 2.0;
    int target = 0;
    // When stream position 0 was due on the latest schedule (steady clock, ns), and whether a push
    // has said so.
    std::int64_t scheduleOriginNs = 0;
    bool scheduled = false;
    std::int64_t lastDueNs = 0;
    // The card: what it holds when empty, what was written to it, the cycles steered on.
    long capacity = 0;
    std::int64_t written = 0;
    std::int64_t steeredCycleNs = 0;
    std::int64_t steeredTaken = 0;
    long fillNow = 0;
    // Silence to start the card on, and since when it has held that much without starting.
    long startFrames = 0;
    std::int64_t firstLookNs = -1;
    std::int64_t startHeldSinceNs = -1;
    bool cardFailed = false;
    // The card's jumps seen so far, whether one is yet to be answered by a drop, and the fill at
    // the latest cycle steered on.
    std::int64_t jumpsSeen = 0;
    bool jumped = false;
    double steeredFill = 0.0;
    // The audio has started: before, the card plays silence.
    bool playing = false;
    bool underrunning = false;

    std::atomic<std::uint64_t> underruns{0};
    std::atomic<std::uint64_t> underrunFrames{0};
    std::atomic<std::uint64_t> refusedFrames{0};
    std::atomic<std::uint64_t> discardedFrames{0};
    std::atomic<std::uint64_t> lateDatagrams{0};
    std::atomic<std::uint64_t> lostDatagrams{0};
    std::atomic<double> delayMs{0.0};
    std::atomic<double> cardPpm{0.0};
    std::atomic<double> periodMs{0.0};
    // The host's rate as stats() gives it, which any thread may call while the worker resets.
    std::atomic<int> statsRate{0};
    std::int64_t pushedEnd = 0;
};
