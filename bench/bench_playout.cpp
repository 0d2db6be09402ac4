// SPDX-License-Identifier: GPL-3.0-or-later

// Cost of a playout per second of audio, as the share of one core: the callback's pull (ring,
// resampler and drift controller, from 48 kHz to 96 kHz for a host 1000 ppm fast) in callbacks of
// 256 and 1024 frames, and the audio worker's jitter estimator for 200 datagrams a second.
#include "coreshare.h"
#include "jitterestimator.h"
#include "playout.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr int kHostRate = 48000;
constexpr int kStreamRate = 96000;
constexpr int kDatagram = 240;
constexpr int kDatagramsPerSecond = kHostRate / kDatagram;
constexpr double kSkew = 1000e-6;

// A host's second of datagrams, a 1 kHz tone, arriving on its 1000 ppm fast clock.
class Host {
public:
    Host()
        : block(2 * kDatagram) {
        for (int i = 0; i < kDatagram; ++i)
            block[2 * i] = block[2 * i + 1] = static_cast<qint16>(
                std::lround(16384 * std::sin(2 * M_PI * 1000.0 * i / kHostRate)));
        estimator.reset(kHostRate, 0);
    }
    std::int64_t arrivalNs() const {
        return std::llround((sent + 1) * kDatagram * 1e9 / (kHostRate * (1.0 + kSkew)));
    }
    // Pushes every datagram that has arrived by `nowNs`.
    void deliver(Playout& playout, std::int64_t nowNs) {
        for (; arrivalNs() <= nowNs; ++sent) {
            const auto placed = estimator.arrival(arrivalNs(), kDatagram);
            playout.push(placed.position, block.data(), kDatagram, placed.dueNs);
            playout.setTarget(placed.target);
        }
    }

private:
    std::vector<qint16> block;
    JitterEstimator estimator;
    std::int64_t sent = 0;
};

void BM_PlayoutPull(benchmark::State& state) {
    const int callback = static_cast<int>(state.range(0));
    const int callbacksPerSecond = kStreamRate / callback;
    Playout playout;
    playout.reset(kHostRate, kStreamRate, kDatagram, 0);
    Host host;
    std::vector<qint16> out(2 * callback);
    std::int64_t c = 0;
    double cpu = 0.0;
    for (auto _ : state) {
        for (int k = 0; k < callbacksPerSecond; ++k, ++c) {
            const std::int64_t nowNs = c * callback * 1'000'000'000LL / kStreamRate;
            state.PauseTiming();
            host.deliver(playout, nowNs);
            state.ResumeTiming();
            const double start = bench::threadCpuSeconds();
            playout.pull(out.data(), callback, nowNs);
            cpu += bench::threadCpuSeconds() - start;
            benchmark::DoNotOptimize(out.data());
        }
    }
    bench::reportCoreShare(state, cpu, static_cast<double>(c) * callback / kStreamRate);
}
BENCHMARK(BM_PlayoutPull)->Arg(256)->Arg(1024)->Unit(benchmark::kMillisecond);

void BM_JitterEstimator(benchmark::State& state) {
    JitterEstimator estimator;
    estimator.reset(kHostRate, 0);
    std::int64_t k = 0;
    const double start = bench::threadCpuSeconds();
    for (auto _ : state)
        for (int d = 0; d < kDatagramsPerSecond; ++d, ++k) {
            // 0-20 ms of jitter, order kept: a busy network.
            const std::int64_t jitterNs = (k * 7919 % 20) * 1'000'000;
            benchmark::DoNotOptimize(estimator.arrival(
                k * kDatagram * 1'000'000'000LL / kHostRate + jitterNs, kDatagram));
        }
    bench::reportCoreShare(state, bench::threadCpuSeconds() - start,
                           static_cast<double>(k) / kDatagramsPerSecond);
}
BENCHMARK(BM_JitterEstimator)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
