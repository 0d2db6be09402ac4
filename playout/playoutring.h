// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <vector>

// Received audio on its way to a playback stream: a ring of interleaved stereo 16-bit frames at
// the host's rate, addressed by 64-bit stream positions that only grow. The audio worker writes
// each datagram at its own position and reads the stream on towards the card, one thread.
//
// The positions keep the stream's timeline through every fault: a block is written at its own
// position, so audio the reader has already passed is skipped (never played late) and a position
// nobody wrote is played as silence, and said to be missing, so that it can be filled in. A read
// advances by what it was asked for, but that it may wait for a few frames not yet written rather
// than pass them.
class PlayoutRing {
public:
    // What became of a block's frames in write(): played late would be stale, so skipped; the
    // positions between the write end and the block (a lost datagram) were filled with silence;
    // frames beyond the room in front of the reader were refused.
    struct Written {
        int late = 0;
        int silent = 0;
        int refused = 0;
    };

    // Room for at least `capacityFrames` frames (allocates when that room changes); the stream
    // starts at `position`.
    void reset(int capacityFrames, std::int64_t position);

    // Writes `count` frames of `frames` at stream position `position`, without ever taking room
    // from audio not yet read.
    Written write(std::int64_t position, const std::int16_t* frames, int count);

    // Fills `out` with `count` frames from the read position on, silence for any not yet written,
    // and advances the read position by `count` less up to `wait` of those not written (they are
    // read when they come). Returns the frames of audio; `present`, where given, gets for each
    // frame whether it came (0 for a lost datagram's silence and for what has not come yet).
    int read(std::int16_t* out, int count, int wait = 0, std::uint8_t* present = nullptr);
    // The frames from the read position on that came, in a row, up to `most`; the first `count`
    // frames from the read position on, without reading them; and `count` frames passed over.
    int presentAhead(int most) const;
    // The frames from the read position on that did not come (or have not yet), in a row, up to
    // `most`.
    int missingAhead(int most) const;
    void peek(std::int16_t* out, int count) const;
    // Whether the `count` frames from `position` on all came and are still stored, read or not.
    bool cameAll(std::int64_t position, int count) const;
    // `count` frames as stored from `position` on, read or not (what was written there last
    // within the ring's room).
    void peekAt(std::int64_t position, std::int16_t* out, int count) const {
        copyOut(position, out, count);
    }
    void skip(int count);
    // Discards the oldest frames so that at most `keep` remain; returns how many went.
    int discardOldest(std::int64_t keep);

    // Frames written and not yet read.
    std::int64_t fill() const { return writeEnd > readPos ? writeEnd - readPos : 0; }
    std::int64_t readPosition() const { return readPos; }
    std::int64_t writePosition() const { return writeEnd; }
    int capacity() const { return static_cast<int>(mask + 1); }

private:
    void copyIn(std::int64_t position, const std::int16_t* frames, std::int64_t count);
    void silence(std::int64_t position, std::int64_t count);
    void copyOut(std::int64_t position, std::int16_t* out, int count) const;
    void mark(std::int64_t position, std::int64_t count, std::uint8_t came);

    std::vector<std::int16_t> samples;
    std::vector<std::uint8_t> came;
    std::int64_t mask = 0;
    std::int64_t writeEnd = 0;
    std::int64_t readPos = 0;
    // Where the stream began: storage before it holds an earlier stream's frames.
    std::int64_t startPos = 0;
};
