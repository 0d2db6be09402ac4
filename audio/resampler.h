// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QtGlobal>

#include <array>
#include <memory>

class VResampler;

// Converts interleaved stereo 16-bit frames from the host's rate to the stream's at a ratio that
// may change before every call, without a click: zita-resampler's variable-ratio polyphase
// filter. It is pulled by its output, as a playback callback is: each call makes the frames asked
// for and takes the input they need from an Input in small chunks.
//
// Real-time safe after setup(): no lock, no allocation, no system call.
class Resampler {
public:
    // Where the input comes from: fills `frames` with the next `count` frames.
    class Input {
    public:
        virtual void read(qint16* frames, int count) = 0;

    protected:
        ~Input() = default;
    };

    Resampler();
    ~Resampler();

    // Prepares for output frames per input frame around `ratio` (allocates) and forgets all past
    // input.
    void setup(double ratio);
    // The ratio from the next output frame on: anything within 1/16 to 16 times the set-up one.
    void setRatio(double ratio);
    void produce(qint16* out, int frames, Input& input);
    // Input frames taken from the Input but not yet consumed by the filter.
    int staged() const;

private:
    static constexpr int kChannels = 2;
    // Input frames taken at a time: small, so the input's fill moves in small steps.
    static constexpr int kInputChunk = 32;
    static constexpr int kOutputChunk = 256;

    void takeInput(Input& input);

    std::unique_ptr<VResampler> filter;
    double setupRatio = 1.0;
    std::array<qint16, kInputChunk * kChannels> raw{};
    std::array<float, kInputChunk * kChannels> input{};
    std::array<float, kOutputChunk * kChannels> output{};
};
