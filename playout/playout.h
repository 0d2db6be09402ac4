// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "breakdetector.h"
#include "cardclock.h"
#include "driftcontroller.h"
#include "fillkeeper.h"
#include "playbacksink.h"
#include "playoutring.h"
#include "playoutstats.h"
#include "resampler.h"
#include "ringreader.h"

#include <atomic>
#include <cstdint>
#include <vector>

// One playback stream's playout: the host's audio pushed into a PlayoutRing at its place in the
// stream, resampled from the host's rate to the stream's, and written into the card as soon as it
// is there. The card's own buffer is the playout's: it holds the margin for jitter, and the audio
// spends no time waiting anywhere else.
//
// Pitch first: the resampler's ratio follows the two clocks only, host against card, as they are
// measured (DriftController), so every tone keeps its pitch however the latency moves. The
// latency itself, the fill, is moved by splices that keep the pitch (FillKeeper, RingReader): a
// stretch of audio dropped or repeated at a seam of best similarity. What never came is filled
// with audio continued from before it (RingReader's LossConcealer).
//
// The fill is measured against the host's schedule, not against the datagrams as they happen to
// arrive, and at the card's cycles: each push says when its block was due (JitterEstimator), so
// the audio the host has sent by any moment is known to the frame; the card takes its audio a
// period at a time (CardClock), and right after it has is where the fill is lowest.
//
// Until the schedule says the target is there, the card is kept running on silence; the audio then
// starts where it leaves the fill at the target. Before each of the card's cycles the playout
// makes sure the card holds what the cycle takes: audio not yet come is filled in for exactly the
// frames missing (an underrun). Up to a target's worth of it is waited for, so that the audio
// follows the filling and the fill is that much fuller at once: a datagram that came late rarely
// comes alone, and skipping what it brought would leave the next one short as well. Beyond that
// it is skipped when it comes, so the timeline holds.
//
// Threads: one (the audio worker's) for everything but stats(), which any thread may call.
class Playout {
public:
    Playout();

    // A stream of host frames at `hostRate` played at `streamRate`, in datagrams of about
    // `datagramFrames`; the next push is expected at stream position `position`; `conceal` fills
    // what never came with continued audio rather than silence. Allocates.
    void reset(int hostRate, int streamRate, int datagramFrames, std::int64_t position,
               bool conceal = true);
    // The card to write, from now on; none: the audio is kept for it.
    void attach(PlaybackSink* sink);

    // A datagram's `count` frames for stream position `position`, due at `dueNs` (steady clock),
    // arrived at `nowNs`, and the fill to hold, in host frames.
    void push(std::int64_t position, const std::int16_t* frames, int count, std::int64_t dueNs,
              std::int64_t nowNs);
    void setTarget(int frames);
    // Whether `frames` (`count` of them) break off the audio that came just before stream position
    // `position`, as they would after a lost datagram (BreakDetector); false where too little of it
    // is at hand to tell.
    bool breaksAt(std::int64_t position, const std::int16_t* frames, int count);
    // The host's clock against the system's, as the schedule measures it, and the measure's
    // standard error, in ppm.
    void setHostClock(double ppm, double errorPpm) {
        hostPpm = ppm;
        hostErrorPpm = errorPpm;
    }

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
    // The card has taken audio since it was first looked at: its stream has begun to play.
    bool hasTaken() const { return firstLookNs >= 0 && cardClock.takenSeenNs() > firstLookNs; }

    PlayoutStats stats() const;
    // The card's clock against the system's, in ppm (0 until measured); any thread.
    double cardClockPpm() const { return cardPpm.load(std::memory_order_relaxed); }

private:
    double scheduledEnd(std::int64_t atNs) const;
    double hostAtOutput() const;
    double hostAtCard() const;
    void refindIfLost(std::int64_t position, int count, std::int64_t nowNs);
    void look(std::int64_t nowNs);
    void steer(std::int64_t nowNs);
    void followClocks(double pulled);
    void keepFill(double error, double pulled, std::int64_t nowNs);
    void writeAudio();
    void keepCardFed(std::int64_t nowNs);
    void startAudio(std::int64_t nowNs);
    // The most the card is given to hold: the target, the period it takes next, and a margin.
    double cardBound() const;
    void writeOut(long frames, bool audio);
    void countUnderrun(int missing);

    PlayoutRing ring;
    Resampler resampler;
    DriftController controller;
    FillKeeper keeper;
    CardClock cardClock;
    RingReader reader;
    BreakDetector breakDetector;
    std::vector<std::int16_t> checkedAudio;
    PlaybackSink* sink = nullptr;
    std::vector<std::int16_t> scratch;
    int hostRate = 48000;
    int streamRate = 96000;
    int datagram = 1;
    bool conceal = true;
    double nsPerFrame = 0.0;
    double nominalRatio = 2.0;
    double ratio = 2.0;
    int target = 0;
    double hostPpm = 0.0;
    double hostErrorPpm = 1e9;
    // The fill less its target at the latest cycle: what a wait for late audio may make up.
    double fillError = 0.0;
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
    // When the latency was last asked to move (a splice that the ring cannot give is let go).
    std::int64_t moveAskedNs = 0;
    // The audio has started: before, the card plays silence.
    bool playing = false;
    bool underrunning = false;
    // Since when every datagram has come wholly behind the audio already played; -1: none.
    std::int64_t behindSinceNs = -1;

    std::atomic<std::uint64_t> underruns{0};
    std::atomic<std::uint64_t> underrunFrames{0};
    std::atomic<std::uint64_t> droppedFrames{0};
    std::atomic<std::uint64_t> lateDatagrams{0};
    std::atomic<std::uint64_t> lostDatagrams{0};
    std::atomic<std::uint64_t> concealedFrames{0};
    std::atomic<std::uint64_t> scaledFrames{0};
    std::atomic<double> delayMs{0.0};
    std::atomic<double> cardPpm{0.0};
    std::atomic<double> correctionPpm{0.0};
    std::atomic<double> periodMs{0.0};
    // The host's rate as stats() gives it, which any thread may call while the worker resets.
    std::atomic<int> statsRate{0};
    std::int64_t pushedEnd = 0;
};
