// SPDX-License-Identifier: GPL-3.0-or-later

// Cost of the candidate resamplers per second of stereo audio at the stream's rate (96 kHz), in
// 1024-frame callbacks with the ratio set before each, held at 2 x 1.001 or steered. The
// "core_%" counter is the share of one core the conversion takes in real time.
#include "coreshare.h"
#include "resamplers.h"

namespace {

constexpr long kCallbacksPerSecond = static_cast<long>(bench::kStreamRate) / bench::kCallbackFrames;

void convertOneSecond(benchmark::State& state, const bench::Candidate& candidate, bool steered) {
    auto resampler = candidate.make(bench::ratioAt(steered, 0));
    bench::ToneSource tone(1000, 0.5);
    std::vector<float> out(bench::kCallbackFrames * bench::kChannels);
    long k = 0;
    const double cpuStart = bench::threadCpuSeconds();
    for (auto _ : state) {
        for (long c = 0; c < kCallbacksPerSecond; ++c, ++k) {
            resampler->setRatio(bench::ratioAt(steered, k));
            resampler->produce(out.data(), bench::kCallbackFrames, tone);
            benchmark::DoNotOptimize(out.data());
        }
    }
    bench::reportCoreShare(state, bench::threadCpuSeconds() - cpuStart,
                           static_cast<double>(k) * bench::kCallbackFrames / bench::kStreamRate);
}

} // namespace

int main(int argc, char** argv) {
    for (const bench::Candidate& candidate : bench::candidates())
        for (bool steered : {false, true})
            benchmark::RegisterBenchmark(
                (std::string(candidate.name) + (steered ? "/steered" : "/held")).c_str(),
                [&candidate, steered](benchmark::State& s) {
                    convertOneSecond(s, candidate, steered);
                })
                ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
