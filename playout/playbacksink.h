// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>

// A playback stream as the playout writes it: a buffer the card empties at its own pace, written
// without ever waiting. The sound card implements it over a real stream; tests over a card in
// memory.
class PlaybackSink {
public:
    // Stereo frames that can be written now without waiting; negative when the stream failed.
    virtual long writable() = 0;
    // Writes `count` frames (no more than writable() said).
    virtual void write(const std::int16_t* frames, long count) = 0;

protected:
    ~PlaybackSink() = default;
};
