// SPDX-License-Identifier: GPL-3.0-or-later
// Throughput of the sound-card layer's sample arithmetic: level of a block, the speaker's
// receiver copies and the 2:1 reduction of captured audio.
#include "samplemath.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

std::vector<qint16> noise(size_t count) {
    std::vector<qint16> samples(count);
    unsigned state = 12345;
    for (qint16& s : samples) {
        state = state * 1103515245u + 12345u;
        s = static_cast<qint16>(state >> 16);
    }
    return samples;
}

} // namespace

static void BM_BlockLevelDb(benchmark::State& state) {
    const auto samples = noise(static_cast<size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(blockLevelDb(samples.data(), static_cast<int>(samples.size())));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BlockLevelDb)->Arg(1024)->Arg(8192);

static void BM_StereoBlockLevelDb(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    const auto samples = noise(static_cast<size_t>(frames) * 2);
    for (auto _ : state) {
        const StereoLevels levels = stereoBlockLevelDb(samples.data(), frames);
        benchmark::DoNotOptimize(levels);
    }
    state.SetItemsProcessed(state.iterations() * frames * 2);
}
BENCHMARK(BM_StereoBlockLevelDb)->Arg(1024)->Arg(2048);

static void BM_SpeakerCopy(benchmark::State& state) {
    const auto mode = static_cast<ReceiverMode>(state.range(0));
    const int bytes = static_cast<int>(state.range(1)) * kBytesPerStereoFrame;
    const auto samples = noise(static_cast<size_t>(bytes / kBytesPerSample));
    std::vector<char> out(static_cast<size_t>(speakerCopyBytes(bytes)));
    for (auto _ : state) {
        copyForSpeaker(reinterpret_cast<const char*>(samples.data()), bytes, mode, out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_SpeakerCopy)->ArgNames({"mode", "frames"})->Args({1, 2048})->Args({2, 2048});

static void BM_ReduceCapture(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    const auto samples = noise(static_cast<size_t>(frames));
    std::vector<char> out(static_cast<size_t>(reducedCaptureBytes(frames)));
    for (auto _ : state) {
        reduceCapture(samples.data(), frames, out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * frames * kBytesPerSample);
}
BENCHMARK(BM_ReduceCapture)->Arg(4096)->Arg(8192);

BENCHMARK_MAIN();
