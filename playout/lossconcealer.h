// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <array>
#include <cstdint>
#include <vector>

// Fills the frames of a stream that never came (a lost datagram, audio too late for the card)
// with audio continued from what came before them, instead of silence. Each channel's latest
// 40 ms, low-passed and taken down to about 8 kHz, is fitted with a linear predictor (least
// squares), which carries a tone, or a band of them, on in phase; the continuation is brought back
// up to the stream's rate, plays at full level for 40 ms, then fades to silence over 10 ms. Where
// audio comes again it is crossfaded in from the continuation, so that neither edge clicks; the
// stream's first audio fades in the same way.
//
// The fit is made at the lower rate because a receiver's audio fills a few kHz of the 24 that
// 48 kHz allows: fitted over the whole of it, the predictor spends itself on the empty part and
// loses a band of tones within a millisecond.
//
// Pure: no I/O, no allocation after reset(); one thread.
class LossConcealer {
public:
    struct Config {
        // The rate the predictor is fitted at, the stretch it is fitted to, and its order (two
        // per tone it can carry on).
        int fitRate = 8000;
        double historySeconds = 0.04;
        int order = 32;
        // How long the continuation plays at full level, and how long it then takes to fade.
        double fullSeconds = 0.04;
        double fadeSeconds = 0.01;
        // How long audio that comes again takes to replace the continuation.
        double crossfadeSeconds = 0.0025;
    };

    LossConcealer();
    explicit LossConcealer(const Config& config);

    // A new stream at `rate` frames per second (allocates); with `enabled` false, what never came
    // stays silent, as the ring gives it.
    void reset(int rate, bool enabled);
    // `count` stereo frames, in place: frame i came where `present[i]` is non-zero; the others
    // are filled in.
    void process(std::int16_t* frames, const std::uint8_t* present, int count);

    // The next `count` frames a fill would give at full level, without giving them: what audio
    // that comes again is matched to.
    void preview(std::int16_t* frames, int count) const;

    // How long a fill plays before it has faded out, in frames.
    int fillFrames() const { return fullFrames + fadeFrames; }

    // Frames filled with continued audio (not the silence after its fade) since reset().
    std::uint64_t concealedFrames() const { return concealed; }

private:
    static constexpr int kChannels = 2;

    void begin();
    void continueChannel(int channel);
    void fitPredictor();
    float continuation(int channel, int at) const;
    float gain() const;
    void remember(const float* frame);

    Config config;
    bool enabled = true;
    // The stream's frames to one at the fit's rate, the low-pass's taps (at the stream's rate,
    // centred on the middle one) and the fit's stretch and order at its rate.
    int step = 1;
    std::vector<double> taps;
    int fitLength = 1;
    int order = 1;
    int fullFrames = 0;
    int fadeFrames = 1;
    int crossfadeFrames = 1;
    // What played, each channel's latest frames in a ring.
    std::array<std::vector<float>, kChannels> history;
    std::size_t historyAt = 0;
    // One channel at the fit's rate (the stretch, then what the predictor continues it with),
    // the predictor, and the normal equations that give it.
    std::vector<double> low;
    std::vector<double> coefficients;
    std::vector<double> normal;
    std::vector<double> right;
    // The continuation of each channel at the stream's rate, and how far it has played.
    std::array<std::vector<float>, kChannels> fill;
    int run = 0;
    bool concealing = false;
    int crossfadeLeft = 0;
    std::uint64_t concealed = 0;
};
