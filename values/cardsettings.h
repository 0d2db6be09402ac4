// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "receivermode.h"

#include <QString>

// The deepest "RX buffer" and "TX buffer" the operator may choose, in blocks.
inline constexpr int kMaxBufferBlocks = 8;

// The operator's choices for the sound card: the three devices by name and the audio options.
struct CardSettings {
    QString outputDevice; // virtual-cable playback
    QString audioDevice;  // speaker
    QString inputDevice;  // capture
    bool speakerOn = false;
    ReceiverMode audioOutMode = ReceiverMode::Both;
    // The playback ("RX") and capture ("TX") buffer depths in blocks.
    int frameOutMult = 1;
    int frameInMult = 1;
    // A lost datagram's place filled with audio continued from before it, not with silence.
    bool concealLostAudio = true;
};
