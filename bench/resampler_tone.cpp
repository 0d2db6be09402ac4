// SPDX-License-Identifier: GPL-3.0-or-later

// Writes what a candidate resampler makes of a 1 kHz tone at -6 dBFS (48 kHz -> 96 kHz x 1.001,
// the ratio held or steered at every 1024-frame callback) to standard output as 16-bit stereo
// PCM, for bench/resampler-quality to measure.
//
//   resampler_tone CANDIDATE steady|steered SECONDS
#include "resamplers.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: resampler_tone CANDIDATE steady|steered SECONDS\n");
        return 2;
    }
    const bool steered = std::strcmp(argv[2], "steered") == 0;
    const long callbacks =
        std::atol(argv[3]) * static_cast<long>(bench::kStreamRate) / bench::kCallbackFrames;
    for (const bench::Candidate& candidate : bench::candidates()) {
        if (std::strcmp(candidate.name, argv[1]) != 0)
            continue;
        auto resampler = candidate.make(bench::ratioAt(steered, 0));
        bench::ToneSource tone(1000, 0.5);
        std::vector<float> out(bench::kCallbackFrames * bench::kChannels);
        std::vector<std::int16_t> pcm(out.size());
        for (long k = 0; k < callbacks; ++k) {
            resampler->setRatio(bench::ratioAt(steered, k));
            resampler->produce(out.data(), bench::kCallbackFrames, tone);
            for (size_t i = 0; i < out.size(); ++i)
                pcm[i] = static_cast<std::int16_t>(
                    std::clamp(std::lround(out[i] * 32768.0f), -32768L, 32767L));
            std::fwrite(pcm.data(), sizeof pcm[0], pcm.size(), stdout);
        }
        return 0;
    }
    std::fprintf(stderr, "unknown candidate %s\n", argv[1]);
    return 2;
}
