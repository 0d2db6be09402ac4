// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "lossconcealer.h"
#include "resampler.h"
#include "splicer.h"

#include <cstdint>
#include <vector>

class PlayoutRing;

// The host's stream as the resampler takes it from a playout's PlayoutRing: what has not come is
// filled in (LossConcealer), and, when asked, the latency moves by a stretch dropped or repeated at
// a seam of best similarity (Splicer), once the ring holds the audio that the seam needs.
//
// Real-time safe after reset(); one thread.
class RingReader : public Resampler::Input {
public:
    // Reads `ring`, a stream at `rate` frames per second; `conceal` fills what has not come with
    // continued audio rather than silence. Allocates.
    void reset(PlayoutRing* ring, int rate, bool conceal);
    void read(std::int16_t* frames, int count) override;

    // Asks for the latency to move by about `frames`: given back (positive: a stretch dropped) or
    // taken (negative: a stretch repeated); 0 asks for nothing. Carried out by splice().
    void moveLatency(int frames);
    // Makes the seam asked for, as far as the ring holds the audio for it, for the reads to hand
    // on next: best right after the card has taken a cycle, when the ring holds the most.
    void splice();
    bool moving() const { return asked != 0; }
    // The stream position of the next frame handed on: the ring's read position, less what a seam
    // still has to hand on (a repeat hands on audio from before it).
    std::int64_t position() const;
    // What the splices, the waits for late audio and the rejoins after a fill moved the latency by
    // since last asked: frames given back, less those taken.
    int takeMoved();

    // Frames read that had not come, and how many more of those the reads may wait for rather
    // than pass (they are read when they come).
    int missing = 0;
    int waitRoom = 0;

    std::uint64_t concealedFrames() const { return concealer.concealedFrames(); }
    // Frames by which the splices moved the latency, either way.
    std::uint64_t scaledFrames() const { return scaled; }

private:
    static constexpr int kChannels = 2;
    static constexpr int kPiece = 256;

    void remember(const std::int16_t* frames, int count);
    void keepTimeline();
    void rejoin();
    int readRing(std::int16_t* frames, std::uint8_t* present, int count);

    PlayoutRing* ring = nullptr;
    Splicer splicer;
    LossConcealer concealer;
    bool conceal = true;
    // The reads have waited for audio that had not come: when it comes, it rejoins the fill.
    bool afterGap = false;
    // Frames the fill goes on for before the audio that came rejoins it.
    int fillFirst = 0;
    // The frames handed on in a row that had not come, and those the reads waited for meanwhile.
    int gapRun = 0;
    int waitedInGap = 0;
    int largest = 0;
    int least = 0;
    int asked = 0;
    int moved = 0;
    std::uint64_t scaled = 0;
    // The frames from the seam on, and what the seam hands on before the ring is read again.
    std::vector<std::int16_t> ahead;
    std::vector<std::int16_t> seam;
    int seamAt = 0;
    int seamLeft = 0;
    std::vector<std::uint8_t> present;
    // The frames handed on latest, for a stretch to be repeated from.
    std::vector<std::int16_t> history;
    int historyFrames = 1;
    int historyAt = 0;
};
