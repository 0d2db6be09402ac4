// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <vector>

// Moves a stream's latency without touching its pitch: a stretch of it is dropped, or played
// twice. The stretch's length is chosen near the one wanted where the audio on either side of the
// seam is most alike (the point of best similarity, as WSOLA splices), so that a tone, or a band
// of them, carries on across the seam nearly in phase; the seam itself is crossfaded.
//
// Over the frames from the seam on, x[0], x[1], ...: a stretch of length L dropped plays the
// crossfade from x[0..W) to x[L..L+W) and goes on from x[L+W], which wants x[0..W) like
// x[L..L+W). Over the frames handed on last, h[-1], h[-2], ...: a stretch of length L repeated
// plays the crossfade from x[0..W) to h[-L..-L+W), then h[-L+W..0), and goes on from x[0], which
// wants x[0..W) like h[-L..-L+W).
//
// Pure: no I/O, no allocation after reset(); one thread.
class Splicer {
public:
    struct Config {
        // The crossfade over the seam.
        double crossfadeSeconds = 0.005;
        // The stretch's length is searched for within this of the length wanted (either way), and
        // is never shorter than the least.
        double searchSeconds = 0.005;
        double leastSeconds = 0.001;
    };

    Splicer();
    explicit Splicer(const Config& config);

    // For a stream at `rate` frames per second (allocates).
    void reset(int rate);
    // The frames from the seam on that a stretch of about `wanted` frames needs to be chosen.
    int needs(int wanted) const;
    // The stretch's length, from `count` interleaved stereo frames from the seam on
    // (count >= needs(wanted)).
    int stretchFor(const std::int16_t* ahead, int count, int wanted) const;
    // The length of a stretch to repeat, ending at the seam: `behind` points just past the frames
    // handed on last (at least needs(wanted) of them), `ahead` at a crossfade's worth from the
    // seam on. The stretch starts where it is most like what comes next, and is never shorter
    // than the crossfade.
    int stretchBefore(const std::int16_t* behind, const std::int16_t* ahead, int wanted) const;
    // The seam: crossfadeFrames() frames from `from` into `to`, into `out`.
    void crossfade(const std::int16_t* from, const std::int16_t* to, std::int16_t* out) const;
    int crossfadeFrames() const { return seamFrames; }
    int searchFrames() const { return search; }
    // Where audio that comes again after a fill joins it, within half a search either way: the
    // frames of `coming` to pass over (or, negative, the frames the fill goes on for first) that
    // make a crossfade's worth of the two most alike, the fewest among those as good as the best.
    // Both `filled` (the fill's continuation) and `coming` hold rejoinFrames() frames from now.
    int rejoinAt(const std::int16_t* filled, const std::int16_t* coming) const;
    int rejoinFrames() const { return search / 2 + seamFrames; }

private:
    static constexpr int kChannels = 2;

    double similarity(const std::int16_t* a, const std::int16_t* b) const;
    double rejoinScore(const std::int16_t* filled, const std::int16_t* coming, int at) const;

    Config config;
    int seamFrames = 1;
    int search = 0;
    int leastFrames = 1;
    // The crossfade's weight of the audio after the seam, frame by frame.
    std::vector<float> ramp;
};
