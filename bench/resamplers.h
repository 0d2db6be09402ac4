// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// The two variable-ratio resamplers the playout was chosen between, behind one small interface,
// driven the way a playback callback drives them: a fixed number of output frames per call, the
// input taken from a source in small chunks as the resampler asks for it, the ratio set anew
// before every call. Used by bench_resamplers (cost) and resampler_tone (quality).

#include <samplerate.h>
#include <zita-resampler/vresampler.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace bench {

constexpr int kChannels = 2;
// Input frames handed to the resampler at a time, as the playout does.
constexpr int kChunkFrames = 32;
constexpr double kHostRate = 48000.0;
constexpr double kStreamRate = 96000.0;
constexpr int kCallbackFrames = 1024;

// Where input comes from: a tone of a whole number of hertz, quantised to 16 bits as the host
// sends it, read from a one-second table so that its synthesis costs next to nothing.
class ToneSource {
public:
    ToneSource(int hz, double amplitude)
        : table(static_cast<size_t>(kHostRate)) {
        for (size_t n = 0; n < table.size(); ++n)
            table[n] = static_cast<float>(
                std::round(amplitude * 32767.0 * std::sin(2.0 * M_PI * hz * n / kHostRate)) /
                32768.0);
    }
    void read(float* out, int frames) {
        for (int f = 0; f < frames; ++f) {
            out[2 * f] = out[2 * f + 1] = table[n];
            n = n + 1 == table.size() ? 0 : n + 1;
        }
    }

private:
    std::vector<float> table;
    size_t n = 0;
};

class VariableResampler {
public:
    virtual ~VariableResampler() = default;
    virtual void setRatio(double ratio) = 0;
    virtual void produce(float* out, int frames, ToneSource& source) = 0;
};

// zita-resampler's VResampler: a polyphase sinc filter of 2 x halfLength taps, interpolated
// between its phases.
class Zita : public VariableResampler {
public:
    Zita(double ratio, int halfLength)
        : base(ratio) {
        resampler.setup(ratio, kChannels, static_cast<unsigned>(halfLength));
        resampler.inp_count = 0;
    }
    void setRatio(double ratio) override { resampler.set_rratio(ratio / base); }
    void produce(float* out, int frames, ToneSource& source) override {
        resampler.out_data = out;
        resampler.out_count = static_cast<unsigned>(frames);
        while (resampler.out_count > 0) {
            if (resampler.inp_count == 0) {
                source.read(chunk, kChunkFrames);
                resampler.inp_data = chunk;
                resampler.inp_count = kChunkFrames;
            }
            resampler.process();
        }
    }

private:
    double base;
    VResampler resampler;
    float chunk[kChunkFrames * kChannels];
};

// libsamplerate's sinc converters; src_process glides from the previous ratio to the new one
// over each call.
class SampleRate : public VariableResampler {
public:
    SampleRate(double ratio, int converter)
        : ratio(ratio) {
        int error = 0;
        state = src_new(converter, kChannels, &error);
    }
    ~SampleRate() override { src_delete(state); }
    void setRatio(double r) override { ratio = r; }
    void produce(float* out, int frames, ToneSource& source) override {
        SRC_DATA data{};
        data.data_out = out;
        data.output_frames = frames;
        data.src_ratio = ratio;
        while (data.output_frames > 0) {
            if (staged == 0) {
                source.read(chunk, kChunkFrames);
                next = chunk;
                staged = kChunkFrames;
            }
            data.data_in = next;
            data.input_frames = staged;
            src_process(state, &data);
            next += data.input_frames_used * kChannels;
            staged -= static_cast<int>(data.input_frames_used);
            data.data_out += data.output_frames_gen * kChannels;
            data.output_frames -= data.output_frames_gen;
        }
    }

private:
    double ratio;
    SRC_STATE* state = nullptr;
    float chunk[kChunkFrames * kChannels];
    const float* next = chunk;
    int staged = 0;
};

struct Candidate {
    const char* name;
    std::unique_ptr<VariableResampler> (*make)(double ratio);
};

inline const std::vector<Candidate>& candidates() {
    static const std::vector<Candidate> all = {
        {"zita-8",
         [](double r) -> std::unique_ptr<VariableResampler> {
             return std::make_unique<Zita>(r, 8);
         }},
        {"zita-16",
         [](double r) -> std::unique_ptr<VariableResampler> {
             return std::make_unique<Zita>(r, 16);
         }},
        {"zita-32",
         [](double r) -> std::unique_ptr<VariableResampler> {
             return std::make_unique<Zita>(r, 32);
         }},
        {"zita-48",
         [](double r) -> std::unique_ptr<VariableResampler> {
             return std::make_unique<Zita>(r, 48);
         }},
        {"src-fastest",
         [](double r) -> std::unique_ptr<VariableResampler> {
             return std::make_unique<SampleRate>(r, SRC_SINC_FASTEST);
         }},
        {"src-medium",
         [](double r) -> std::unique_ptr<VariableResampler> {
             return std::make_unique<SampleRate>(r, SRC_SINC_MEDIUM_QUALITY);
         }},
        {"src-linear",
         [](double r) -> std::unique_ptr<VariableResampler> {
             return std::make_unique<SampleRate>(r, SRC_LINEAR);
         }},
    };
    return all;
}

// The ratio for callback k: 2 x 1.001 held, or steered as a drift controller would, and harder:
// a +-500 ppm swing over 3 s around 1.001 (steps of up to 11 ppm from one callback to the next)
// plus a random step of up to +-2 ppm at every callback. Larger random steps would spread the
// tone itself beyond the measurement's notch: that is frequency modulation, not distortion.
inline double ratioAt(bool steered, long k) {
    constexpr double kBase = 2.0 * 1.001;
    if (!steered)
        return kBase;
    const double t = k * kCallbackFrames / kStreamRate;
    const auto hash = static_cast<std::uint32_t>(k * 2654435761u);
    const double step = (static_cast<double>(hash >> 8) / (1 << 24) - 0.5) * 4e-6;
    return kBase * (1.0 + 500e-6 * std::sin(2.0 * M_PI * t / 3.0) + step);
}

} // namespace bench
