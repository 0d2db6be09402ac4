// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "cardsettings.h"
#include "receiver.h"

// The streams' format: twice the host's sample rate and frame size (received audio is resampled
// to twice the host's rate, every second pair of captured samples is sent).
struct StreamFormat {
    int sampleRate = 0;
    int frameSizeOut = 0;
    int frameSizeIn = 0;
};

StreamFormat streamFormatForHost(int hostSampleRate, int hostFrameSize);

// What the card starts from, handed over whole with the start: the streams' format and the
// operator's choices for the card as they stand (the devices by name; the "RX buffer",
// frameOutMult, is the least the playout holds in host blocks, 1 being "Auto": as little as
// works; the "TX buffer", frameInMult, the capture's buffer in host blocks). The speaker and the
// receiver may change while the streams run (setSpeakerOn, setReceiverMode); nothing else does
// until the next start.
struct CardConfig {
    StreamFormat format;
    CardSettings settings;
};

CardConfig cardConfigFor(int hostSampleRate, int hostFrameSize, const CardSettings& settings);

// The card's three devices: the virtual cable and the speaker it plays to, the capture.
enum class CardDevice { Cable, Speaker, Capture };
inline constexpr CardDevice kCardDevices[] = {CardDevice::Cable, CardDevice::Speaker,
                                              CardDevice::Capture};

// The name the settings give the device.
const QString& deviceName(const CardSettings& settings, CardDevice device);

// Largest capture buffer (frameSizeIn x frameInMult); no single block, capture or playback, may
// exceed it either.
inline constexpr long long kMaxBufferFrames = 65536;

// Whether the sound system and the buffers sized from it may be given this configuration: a
// hostile or broken host description, or buffers beyond the bounds, are refused with an Error
// line that names the value.
bool configurationIsPlayable(const CardConfig& config);

// What the receive path starts a stream from.
Receiver::Setup receiverSetup(const CardConfig& config);
