// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <array>
#include <cstdint>
#include <memory>

class VResampler;

// Converts interleaved stereo 16-bit frames from the host's rate to the stream's at a ratio that
// may change before every call, without a click: zita-resampler's variable-ratio polyphase
// filter. It is pulled by its output, as a playback callback is: each call makes the frames asked
// for and takes the input they need from an Input in small chunks.
//
// Real-time safe after setup(): no lock, no allocation, no system call.
class Resampler {
    // Half the filter's length in input frames, short for the cost and long enough to be flat
    // over a receiver's audio: 8 is flat to a fifth of the host's rate (within 0.15 dB; -0.7 dB
    // at a quarter), 10 kHz for a 48 kHz host, and costs a quarter less than 16, which is flat to
    // 0.3 of it. Both keep a 1 kHz tone at the 16-bit floor.
    static constexpr int kShortHalfLength = 8;
    static constexpr int kLongHalfLength = 16;
    // Below this host rate the short filter's flat band would not reach 10 kHz.
    static constexpr int kShortFilterFromRate = 48000;
    // Input frames taken at a time: small, so that it reads little past what it needs.
    static constexpr int kInputChunk = 8;

public:
    // Where the input comes from: fills `frames` with the next `count` frames.
    class Input {
    public:
        virtual void read(std::int16_t* frames, int count) = 0;

    protected:
        ~Input() = default;
    };

    Resampler();
    ~Resampler();

    // Prepares for output frames per input frame around `ratio` from a host at `hostRate`
    // (allocates) and forgets all past input.
    void setup(double ratio, int hostRate);
    // The ratio from the next output frame on: anything within 1/16 to 16 times the set-up one.
    void setRatio(double ratio);
    void produce(std::int16_t* out, int frames, Input& input);
    // How far the input already taken reaches past the next output frame, in input frames: the
    // next output frame stands for the position of the next frame to take less this.
    double inputAhead() const;
    // The input frames it may take beyond an output frame's position: the filter's half length
    // and one more, and a chunk.
    int lookahead() const { return halfLength + 1 + kInputChunk; }

private:
    static constexpr int kChannels = 2;
    static constexpr int kOutputChunk = 256;

    void takeInput(Input& input);

    std::unique_ptr<VResampler> filter;
    double setupRatio = 1.0;
    int halfLength = kLongHalfLength;
    std::array<std::int16_t, kInputChunk * kChannels> raw{};
    std::array<float, kInputChunk * kChannels> input{};
    std::array<float, kOutputChunk * kChannels> output{};
};
