// SPDX-License-Identifier: GPL-3.0-or-later

// Cost of the receive path per second of audio, as the share of one core: the receiver (jitter
// estimator, ring, resampler from 48 kHz to 96 kHz and drift controller) for 200 datagrams a
// second from a host 1000 ppm fast, writing a card that takes 256 or 1024 frames a cycle and is
// looked at twice a cycle, as the audio worker does; the jitter estimator alone; the check that
// hears a lost datagram in the audio, as if every datagram came late enough to be checked; and the
// resampler alone.
#include "breakdetector.h"
#include "coreshare.h"
#include "jitterestimator.h"
#include "playbacksink.h"
#include "receiver.h"
#include "resampler.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr int kHostRate = 48000;
constexpr int kStreamRate = 96000;
constexpr int kDatagram = 240;
constexpr int kDatagramsPerSecond = kHostRate / kDatagram;
constexpr double kSkew = 1000e-6;

// A card that takes `period` frames a cycle from what was written.
class Card : public PlaybackSink {
public:
    explicit Card(long period)
        : period(period) {}
    long writable() override { return kRoom - held; }
    void write(const std::int16_t*, long count) override { held += count; }
    void cycle() { held = held > period ? held - period : 0; }

private:
    static constexpr long kRoom = 96000;
    long period;
    long held = 0;
};

void BM_Receiver(benchmark::State& state) {
    const int period = static_cast<int>(state.range(0));
    const double cycleNs = 1e9 * period / kStreamRate;
    std::vector<std::int16_t> block(2 * kDatagram);
    for (int i = 0; i < kDatagram; ++i)
        block[2 * i] = block[2 * i + 1] = static_cast<std::int16_t>(
            std::lround(16384 * std::sin(2 * M_PI * 1000.0 * i / kHostRate)));
    Card card(period);
    Receiver receiver;
    receiver.start({kHostRate, kStreamRate, kDatagram, 0}, &card);
    std::int64_t sent = 0, cycles = 0;
    auto arrivalNs = [&] {
        return std::llround((sent + 1) * kDatagram * 1e9 / (kHostRate * (1.0 + kSkew)));
    };
    double cpu = 0.0, seconds = 0.0;
    for (auto _ : state) {
        const double start = bench::threadCpuSeconds();
        const std::int64_t until = std::llround((seconds + 1.0) * 1e9);
        while (std::llround(cycles * cycleNs) < until) {
            const auto nextCycle = std::llround(cycles * cycleNs);
            for (; arrivalNs() <= nextCycle; ++sent)
                receiver.datagram(block.data(), kDatagram, nullptr, arrivalNs());
            receiver.service(nextCycle - 1'000'000);
            card.cycle();
            ++cycles;
            receiver.service(nextCycle + 1'000'000);
        }
        cpu += bench::threadCpuSeconds() - start;
        seconds += 1.0;
    }
    bench::reportCoreShare(state, cpu, seconds);
}
BENCHMARK(BM_Receiver)->Arg(256)->Arg(1024)->Unit(benchmark::kMillisecond);

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

// Whether each datagram breaks off the audio before it: a band of ten tones on both channels, each
// datagram's 1024 frames before it fitted anew (the worst case: every datagram late enough to be
// checked).
void BM_BreakDetector(benchmark::State& state) {
    BreakDetector seams;
    seams.reset(kDatagram);
    const int n = seams.fitFrames() + kDatagram;
    std::vector<std::int16_t> audio(2 * static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        double band = 0;
        for (int k = 0; k < 10; ++k)
            band += std::sin(2 * M_PI * (310 + 237 * k) * i / kHostRate + k);
        audio[2 * std::size_t(i)] = audio[2 * std::size_t(i) + 1] =
            static_cast<std::int16_t>(std::lround(1600 * band));
    }
    std::int64_t k = 0;
    const double start = bench::threadCpuSeconds();
    for (auto _ : state)
        for (int d = 0; d < kDatagramsPerSecond; ++d, ++k)
            benchmark::DoNotOptimize(seams.breaks(audio.data(), seams.fitFrames(), kDatagram));
    bench::reportCoreShare(state, bench::threadCpuSeconds() - start,
                           static_cast<double>(k) / kDatagramsPerSecond);
}
BENCHMARK(BM_BreakDetector)->Unit(benchmark::kMillisecond);

// The resampler alone, 48 kHz to 96 kHz in 1024-frame calls, its ratio swung by +-500 ppm over
// 3 s as a drift controller might steer it.
void BM_Resampler(benchmark::State& state) {
    class Silence final : public Resampler::Input {
    public:
        void read(std::int16_t* frames, int count) override {
            std::fill(frames, frames + 2 * count, std::int16_t{0});
        }
    } input;
    constexpr int kCallFrames = 1024;
    constexpr double kRatio = 2.0 * (1.0 + kSkew);
    Resampler resampler;
    resampler.setup(kRatio, kHostRate);
    std::vector<std::int16_t> out(2 * kCallFrames);
    long calls = 0;
    const double start = bench::threadCpuSeconds();
    for (auto _ : state)
        for (int c = 0; c < kStreamRate / kCallFrames; ++c, ++calls) {
            const double t = static_cast<double>(calls) * kCallFrames / kStreamRate;
            resampler.setRatio(kRatio * (1.0 + 500e-6 * std::sin(2.0 * M_PI * t / 3.0)));
            resampler.produce(out.data(), kCallFrames, input);
            benchmark::DoNotOptimize(out.data());
        }
    bench::reportCoreShare(state, bench::threadCpuSeconds() - start,
                           static_cast<double>(calls) * kCallFrames / kStreamRate);
}
BENCHMARK(BM_Resampler)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
