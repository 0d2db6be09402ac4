// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>

#include <array>
#include <atomic>

// Lock-free hand-over of the latest capture block from PortAudio's callback thread (one producer)
// to the audio worker's thread (one consumer): a triple buffer of byte arrays. The producer fills
// its own buffer and publishes it by swapping it with the spare one in a single atomic exchange;
// the consumer takes the newest published buffer the same way. Neither side ever touches a buffer
// the other one owns, so the consumer always sees one complete block, and nobody waits.
//
// The buffers are reserved in advance, so the producer's writes allocate nothing as long as the
// blocks fit and the consumer keeps no copy of a block it has handed back (a kept copy would make
// the producer's next write copy-on-write, which is safe but allocates).
class CaptureHandOver {
public:
    CaptureHandOver();

    // Reserves room for blocks of `bytes` bytes and forgets any published block. Neither side may
    // run concurrently (streams stopped).
    void prepare(int bytes);

    // Producer: the buffer to fill, then publish() to make it the latest block.
    QByteArray& writeBuffer() { return buffers[producer]; }
    void publish();

    // Consumer: makes `view` share the newest published block if one arrived since the last call,
    // and tells whether it changed. `view` must be the same array at every call: it gives up its
    // share of the previous block before that buffer goes back to the producer.
    bool take(QByteArray& view);

private:
    // The spare buffer's index, with kFresh set while it holds a block the consumer has not taken.
    static constexpr int kFresh = 4;
    static constexpr int kIndexMask = 3;

    std::array<QByteArray, 3> buffers;
    int producer = 0;
    int consumer = 1;
    std::atomic<int> spare{2};
};
