// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "receivermode.h"

#include <QByteArray>
#include <QtGlobal>

// Sample-level arithmetic of the sound-card layer: level metering, the speaker's receiver choice
// and the 2:1 reduction of captured audio. Blocks are 16-bit signed little-endian PCM; stereo
// frames are 4 bytes (left, right).

inline constexpr int kBytesPerSample = 2;
inline constexpr int kBytesPerStereoFrame = 4;

// Level floor: an RMS below this counts as this much, so silence reads about -250.3 dB.
inline constexpr float kSilentRms = 1e-8f;
inline constexpr float kFullScale = 32767.0f;

// Level in dB relative to full scale of `count` samples (count >= 1).
float blockLevelDb(const qint16* samples, int count);

struct StereoLevels {
    float left;
    float right;
};

// Levels of the left and right samples of `frames` interleaved stereo frames, in one pass.
StereoLevels stereoBlockLevelDb(const qint16* frames, int frameCount);

// Moves a stored level towards a new block level: by `riseFactor` of the difference when the new
// level is higher, by `fallFactor` otherwise.
float smoothLevel(float stored, float level, float riseFactor, float fallFactor);

// Size of the speaker copy of a block of `byteCount` bytes: whole frames, the last one completed.
inline int speakerCopyBytes(int byteCount) {
    return (byteCount + kBytesPerStereoFrame - 1) / kBytesPerStereoFrame * kBytesPerStereoFrame;
}

// Writes the one-receiver copy of RX1 or RX2 for `byteCount` bytes of `in` into `out`, which has
// room for speakerCopyBytes(byteCount) bytes; bytes past the end of `in` read as 0. Returns false
// (and writes nothing) for Both, which plays the block itself.
bool copyForSpeaker(const char* in, int byteCount, ReceiverMode mode, char* out);

// Size of the transmit block made from `frameCount` mono samples: 4 bytes per started group of 4.
inline int reducedCaptureBytes(int frameCount) {
    return frameCount <= 0 ? 0 : (frameCount + 3) / 4 * 4;
}

// Keeps samples 0 and 1 of every group of 4 captured samples, completing the last group with
// zeros; writes reducedCaptureBytes(frameCount) bytes to `out` and returns that count.
int reduceCapture(const qint16* in, int frameCount, char* out);
