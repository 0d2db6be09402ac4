// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <atomic>

// The smoothed levels of one direction, in dB. The sound card's audio thread for that direction
// writes them as blocks pass; the window reads the latest at its own frame rate, so no reading is
// queued anywhere.
class HSVUMeter {
public:
    static constexpr float kStartLevel = -30.0f;

    std::atomic<float> value{kStartLevel};      // mono (the capture)
    std::atomic<float> valueLeft{kStartLevel};  // playback, left
    std::atomic<float> valueRight{kStartLevel}; // playback, right
    float riseFactor = 0.7f;
    float fallFactor = 0.5f;
};
