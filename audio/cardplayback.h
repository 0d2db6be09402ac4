// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "cardconfig.h"
#include "hsvumeter.h"
#include "playoutstats.h"
#include "receiver.h"
#include "receivermode.h"

#include <QByteArray>

#include <cstdint>

// The received audio's way to the playback streams, on the audio worker's thread: each datagram
// placed in the stream by the receive path (Receiver), with the speaker's copy of the chosen
// receiver, its level on the playback meter; the streams kept fed between datagrams. Which streams
// the receiver writes follows each device's life (HSSoundCard); a capture has none here. The
// playout's figures and the level are read by any thread.
class CardPlayback {
public:
    // A new stream, no playback stream written yet; and every one let go.
    void start(const Receiver::Setup& setup) { receiver.start(setup, nullptr); }
    void stop() { receiver.start({}, nullptr); }
    // The speaker's playout joins the stream where the next datagram goes.
    void feed(CardDevice device);
    // The receiver writes the device's open stream (the cable's playout afresh from where the next
    // datagram goes); and lets go of it (the speaker's playout ends).
    void attach(CardDevice device, PlaybackSink* sink);
    void detach(CardDevice device);

    // A datagram of `frames` whole stereo frames at the host's rate, arrived at `arrivalNs`.
    void datagram(const QByteArray& datagram, int frames, ReceiverMode speakerReceiver,
                  std::int64_t arrivalNs);
    std::int64_t service(std::int64_t nowNs) { return receiver.service(nowNs); }
    std::int64_t nextServiceNs(std::int64_t nowNs) const { return receiver.nextServiceNs(nowNs); }

    // A written stream reported an error, when it last took audio (-1: not yet looked at), and
    // whether it has taken any since it opened.
    bool failed(CardDevice device) const;
    std::int64_t takenNs(CardDevice device) const;
    bool hasTaken(CardDevice device) const;

    PlayoutStats stats() const { return receiver.stats(); }
    const HSVUMeter* meter() const { return &vuMeter; }

private:
    Receiver receiver;
    // Grown to the largest datagram: the speaker's copy for one receiver.
    QByteArray speakerCopy;
    HSVUMeter vuMeter;
};
