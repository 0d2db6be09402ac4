// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <array>
#include <cstdint>
#include <vector>

// Where, among a few datagram boundaries, the audio breaks: a lost datagram's neighbours came one
// after the other, so a tone (or a band of them) jumps in phase at the boundary between them, and
// a short linear predictor fitted to the audio before the first boundary (surely whole) misses
// there by orders of magnitude more than anywhere else. Where no boundary stands out, the break is
// taken to lie after the audio given (the loss just before the datagram that showed it).
//
// Pure: no I/O, no allocation after reset(); one thread.
class SeamLocator {
public:
    struct Config {
        // The predictor's order and the stretch it is fitted to (frames at the host's rate), and
        // the frames after a boundary its misses are summed over.
        int order = 16;
        int fitFrames = 1024;
        int window = 16;
        // A boundary stands out where its misses exceed the median of the others' by this much;
        // a single datagram's start, against the stretches within it, by `breaksBy`.
        double standsOut = 10.0;
        double breaksBy = 30.0;
    };

    SeamLocator();
    explicit SeamLocator(const Config& config);
    // Room for up to `frames` stereo frames after the fit's stretch (allocates).
    void reset(int frames);
    int fitFrames() const { return config.fitFrames; }

    // `frames`: the fit's stretch of interleaved stereo frames, then `count` more whose boundaries
    // lie every `step` frames from the first (0, step, ...). Returns the boundary's index among
    // them where the audio breaks, or count / step (after the last) where none stands out.
    int locate(const std::int16_t* frames, int count, int step);
    // `frames`: the fit's stretch, then `count` more that came after it: whether the audio breaks
    // where they begin (a datagram lost between them).
    bool breaks(const std::int16_t* frames, int count);

private:
    void fit(const std::int16_t* frames, int channel);
    double missesAt(const std::int16_t* frames, int from) const;
    double misses(const std::int16_t* frames, int channel, int from, int count) const;

    Config config;
    std::vector<double> coefficients;
    std::vector<double> work;
    std::vector<double> scores;
    // Each channel's mean square over the fit's stretch.
    std::array<double, 2> power{};
};
