// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "samplemath.h"

#include <atomic>

// The smoothed levels of one direction, in dB. The sound card's audio thread for that direction
// meters its blocks as they pass; the window reads the latest at its own frame rate, so no
// reading is queued anywhere.
class HSVUMeter {
public:
    static constexpr float kStartLevel = -30.0f;

    // A block of `frameCount` interleaved stereo frames (playback), and of `count` mono samples
    // (the capture), each moving its readings towards the block's levels.
    void meterStereo(const qint16* frames, int frameCount) {
        const StereoLevels levels = stereoBlockLevelDb(frames, frameCount);
        valueLeft = smoothLevel(valueLeft, levels.left, riseFactor, fallFactor);
        valueRight = smoothLevel(valueRight, levels.right, riseFactor, fallFactor);
    }
    void meterMono(const qint16* samples, int count) {
        value = smoothLevel(value, blockLevelDb(samples, count), riseFactor, fallFactor);
    }

    std::atomic<float> value{kStartLevel};      // mono (the capture)
    std::atomic<float> valueLeft{kStartLevel};  // playback, left
    std::atomic<float> valueRight{kStartLevel}; // playback, right
    float riseFactor = 0.7f;
    float fallFactor = 0.5f;
};
