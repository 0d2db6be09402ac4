// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QtGlobal>

#include <atomic>
#include <cstdint>
#include <vector>

// The lock-free hand-over of received audio from the audio worker's thread (one producer) to a
// playback callback (one consumer): a ring of interleaved stereo 16-bit frames at the host's
// rate, addressed by 64-bit stream positions that only grow. The producer owns the write end, the
// consumer the read position; each publishes its own with a release store and reads the other's
// with an acquire load, so neither ever waits and neither touches frames the other may be using.
//
// The positions keep the stream's timeline through every fault: a block is written at its own
// position, so audio the consumer has already passed is skipped (never played late) and a
// position nobody wrote is played as silence; a read always advances by what it was asked for.
class PlayoutRing {
public:
    // What became of a block's frames in write(): played late would be stale, so skipped; the
    // positions between the write end and the block (a lost datagram) were filled with silence;
    // frames beyond the room in front of the consumer were refused.
    struct Written {
        int late = 0;
        int silent = 0;
        int refused = 0;
    };

    // Room for at least `capacityFrames` frames (allocates); the stream starts at `position`.
    // Neither side may run meanwhile.
    void reset(int capacityFrames, std::int64_t position);

    // Producer: writes `count` frames of `frames` at stream position `position`, without ever
    // taking room from audio the consumer has not read.
    Written write(std::int64_t position, const qint16* frames, int count);

    // Consumer: fills `out` with `count` frames from the read position on, silence for any not
    // yet written, and advances the read position by `count`. Returns the frames of audio.
    int read(qint16* out, int count);
    // Consumer: discards the oldest frames so that at most `keep` remain; returns how many went.
    int discardOldest(std::int64_t keep);

    // Frames written and not yet read (from the producer's side, a lower bound: the consumer may
    // have read more meanwhile).
    std::int64_t fill() const;
    std::int64_t readPosition() const { return readPos.load(std::memory_order_acquire); }
    int capacity() const { return static_cast<int>(mask + 1); }

private:
    void copyIn(std::int64_t position, const qint16* frames, std::int64_t count);
    void silence(std::int64_t position, std::int64_t count);
    void copyOut(std::int64_t position, qint16* out, int count) const;

    std::vector<qint16> samples;
    std::int64_t mask = 0;
    std::atomic<std::int64_t> writeEnd{0};
    std::atomic<std::int64_t> readPos{0};
};
