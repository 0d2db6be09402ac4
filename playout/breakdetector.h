// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <array>
#include <cstdint>
#include <vector>

// Whether a datagram's audio breaks off what came before it: the neighbours of a lost datagram
// came one after the other, so a tone (or a band of them) jumps in phase where the second begins,
// and a short linear predictor fitted to the audio before it misses there by orders of magnitude
// more than within it. Each channel with audio in it must break; one that carries on says nothing
// was lost.
//
// Pure: no I/O, no allocation after reset(); one thread.
class BreakDetector {
public:
    struct Config {
        // The predictor's order and the longest and shortest stretch it is fitted to (frames at the
        // host's rate), and the frames its misses are summed over.
        int order = 16;
        int fitFrames = 1024;
        int leastFitFrames = 240;
        int window = 16;
        // A datagram's start breaks off where the misses there exceed the median of those within
        // it by this much.
        double breaksBy = 30.0;
    };

    BreakDetector();
    explicit BreakDetector(const Config& config);
    // Room for datagrams of up to `frames` stereo frames (allocates).
    void reset(int frames);
    int fitFrames() const { return config.fitFrames; }

    // `frames`: a stretch of `fitFrames` interleaved stereo frames to fit (from the config's
    // leastFitFrames to its fitFrames), then `count` more that came after it: whether the audio
    // breaks where they begin (a datagram lost between them).
    bool breaks(const std::int16_t* frames, int fitFrames, int count);

private:
    void fit(const std::int16_t* frames, int fitFrames, int channel);
    double misses(const std::int16_t* frames, int channel, int from, int count) const;

    Config config;
    std::vector<double> coefficients;
    std::vector<double> work;
    std::vector<double> scores;
    // Each channel's mean square over the fit's stretch.
    std::array<double, 2> power{};
};
