// SPDX-License-Identifier: GPL-3.0-or-later

#include "resampler.h"

#include <zita-resampler/vresampler.h>

#include <algorithm>
#include <cmath>

namespace {
constexpr float kToFloat = 1.0f / 32768.0f;
// Room enough for whatever output the priming zeros make.
constexpr unsigned kPrimeOutputRoom = 1u << 16;
} // namespace

Resampler::Resampler()
    : filter(std::make_unique<VResampler>()) {}

Resampler::~Resampler() = default;

void Resampler::setup(double ratio, int hostRate) {
    setupRatio = ratio;
    halfLength = hostRate >= kShortFilterFromRate ? kShortHalfLength : kLongHalfLength;
    filter->setup(ratio, kChannels, static_cast<unsigned>(halfLength));
    // Zeros up to the filter's middle (null data is zeros in, output dropped), so that the output
    // starts at the first input frame, a half filter length after it came in.
    filter->inp_data = nullptr;
    filter->inp_count = static_cast<unsigned>(filter->inpsize() / 2 - 1);
    filter->out_data = nullptr;
    filter->out_count = kPrimeOutputRoom;
    filter->process();
}

void Resampler::setRatio(double ratio) {
    filter->set_rratio(ratio / setupRatio);
}

double Resampler::inputAhead() const {
    return filter->inp_count + filter->inpdist();
}

void Resampler::produce(std::int16_t* out, int frames, Input& source) {
    while (frames > 0) {
        const int chunk = std::min(frames, kOutputChunk);
        filter->out_data = output.data();
        filter->out_count = static_cast<unsigned>(chunk);
        while (filter->out_count > 0) {
            if (filter->inp_count == 0)
                takeInput(source);
            filter->process();
        }
        for (int i = 0; i < chunk * kChannels; ++i)
            out[i] = static_cast<std::int16_t>(
                std::clamp(std::lrint(output[i] * 32768.0f), -32768L, 32767L));
        out += chunk * kChannels;
        frames -= chunk;
    }
}

void Resampler::takeInput(Input& source) {
    source.read(raw.data(), kInputChunk);
    std::transform(raw.begin(), raw.end(), input.begin(),
                   [](std::int16_t s) { return s * kToFloat; });
    filter->inp_data = input.data();
    filter->inp_count = kInputChunk;
}
