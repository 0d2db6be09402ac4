// SPDX-License-Identifier: GPL-3.0-or-later

// Writes what the playout's resampler makes of a tone at -6 dBFS from a host at HOST_RATE,
// converted to twice that rate x 1.001 in 1024-frame calls with the ratio held or steered before
// every call, to standard output as 16-bit stereo PCM, for bench/resampler-quality to measure.
//
//   resampler_tone held|steered SECONDS [HZ (1000)] [HOST_RATE (48000)]
#include "resampler.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kCallFrames = 1024;

// A tone of a whole number of hertz, quantised to 16 bits as the host sends it, read from a
// one-second table.
class Tone final : public Resampler::Input {
public:
    Tone(int hz, int rate)
        : table(static_cast<size_t>(rate)) {
        for (size_t n = 0; n < table.size(); ++n)
            table[n] = static_cast<std::int16_t>(
                std::lround(0.5 * 32767.0 * std::sin(2.0 * M_PI * hz * n / rate)));
    }
    void read(std::int16_t* frames, int count) override {
        for (int f = 0; f < count; ++f) {
            frames[2 * f] = frames[2 * f + 1] = table[next];
            next = next + 1 == table.size() ? 0 : next + 1;
        }
    }

private:
    std::vector<std::int16_t> table;
    size_t next = 0;
};

// The ratio for call k: 2 x 1.001 held, or steered harder than a drift controller does: a
// +-500 ppm swing over 3 s around 1.001 plus a random step of up to +-2 ppm at every call.
// Larger random steps would spread the tone itself beyond the measurement's notch: that is
// frequency modulation, not distortion.
double ratioAt(bool steered, long k, double streamRate) {
    constexpr double kBase = 2.0 * 1.001;
    if (!steered)
        return kBase;
    const double t = k * kCallFrames / streamRate;
    const auto hash = static_cast<std::uint32_t>(k * 2654435761u);
    const double step = (static_cast<double>(hash >> 8) / (1 << 24) - 0.5) * 4e-6;
    return kBase * (1.0 + 500e-6 * std::sin(2.0 * M_PI * t / 3.0) + step);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 5 ||
        (std::strcmp(argv[1], "held") != 0 && std::strcmp(argv[1], "steered") != 0)) {
        std::fprintf(stderr, "usage: resampler_tone held|steered SECONDS [HZ] [HOST_RATE]\n");
        return 2;
    }
    const bool steered = std::strcmp(argv[1], "steered") == 0;
    const int hz = argc > 3 ? std::atoi(argv[3]) : 1000;
    const int hostRate = argc > 4 ? std::atoi(argv[4]) : 48000;
    const double streamRate = 2.0 * hostRate;
    const long calls = std::atol(argv[2]) * static_cast<long>(streamRate) / kCallFrames;

    Tone tone(hz, hostRate);
    Resampler resampler;
    resampler.setup(ratioAt(steered, 0, streamRate), hostRate);
    std::vector<std::int16_t> out(2 * kCallFrames);
    for (long k = 0; k < calls; ++k) {
        resampler.setRatio(ratioAt(steered, k, streamRate));
        resampler.produce(out.data(), kCallFrames, tone);
        std::fwrite(out.data(), sizeof out[0], out.size(), stdout);
    }
    return 0;
}
