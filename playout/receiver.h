// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "jitterestimator.h"
#include "playout.h"

#include <atomic>
#include <cstdint>

class PlaybackSink;

// The received audio on its way from the host's datagrams to the playback cards: the one
// JitterEstimator that places every datagram in the stream, and the playouts of the virtual cable
// and of the speaker, each writing its own card and following its own card's clock. The speaker's
// playout joins the stream where the next datagram goes, is fed from then on, and starts playing
// when its card is there.
//
// Threads: the audio worker's for everything but stats(), which any thread may call.
class Receiver {
public:
    struct Setup {
        int hostRate = 48000;
        int streamRate = 96000;
        int datagramFrames = 0;
        // The least fill the operator asked for, in host frames (0: as small as works).
        int floorFrames = 0;
        // What never came is filled with audio continued from before it, not silence.
        bool conceal = true;
    };

    // A new stream, played on `cable` (none: it is kept until startCable).
    void start(const Setup& setup, PlaybackSink* cable);
    // The cable's playout afresh, from where the next datagram goes, on `cable`; and its end.
    void startCable(PlaybackSink* cable);
    void stopCable();
    // The speaker's playout from the next datagram on, its card when it is open, and its end.
    void startSpeaker();
    void attachSpeaker(PlaybackSink* speaker);
    void stopSpeaker();
    bool speakerFed() const { return speakerOn; }

    // A datagram of `count` stereo frames at the host's rate, arrived at `nowNs` (steady clock);
    // `speakerFrames` is the speaker's copy (the chosen receiver), null for the datagram itself.
    void datagram(const std::int16_t* frames, int count, const std::int16_t* speakerFrames,
                  std::int64_t nowNs);
    // Keeps the cards fed between datagrams; returns when it wants to be called again.
    std::int64_t service(std::int64_t nowNs);
    // When it wants service() called, as it stands at `nowNs` (after a datagram).
    std::int64_t nextServiceNs(std::int64_t nowNs) const;

    // A card's stream failed, when each card last took audio (-1: not yet looked at), and whether
    // it has taken any yet.
    bool cableFailed() const { return cable.failed(); }
    bool speakerFailed() const { return speakerOn && speaker.failed(); }
    std::int64_t cableTakenNs() const { return cable.lastTakenNs(); }
    std::int64_t speakerTakenNs() const { return speakerOn ? speaker.lastTakenNs() : -1; }
    bool cableHasTaken() const { return cable.hasTaken(); }
    bool speakerHasTaken() const { return speakerOn && speaker.hasTaken(); }

    // The virtual cable's playout since the start, and the jitter it covers; any thread.
    PlayoutStats stats() const;

private:
    Setup current;
    JitterEstimator estimator;
    Playout cable;
    Playout speaker;
    bool speakerOn = false;
    std::atomic<double> jitterMs{0.0};
    std::atomic<double> hostPpm{0.0};
    std::atomic<std::uint64_t> stalls{0};
    std::atomic<std::uint64_t> stallsCovered{0};
};
