// Frame doubling of one received datagram against a plain copy of its output size.
#include "framedoubling.h"

#include <benchmark/benchmark.h>

#include <cstring>

static void BM_DoubleFrames(benchmark::State& state) {
    const QByteArray datagram(static_cast<int>(state.range(0)), '\x11');
    for (auto _ : state) {
        QByteArray out = doubleFrames(datagram);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DoubleFrames)->Arg(2048);

// The floor: allocating and filling the 2n-byte output with one memcpy.
static void BM_MemcpyOutput(benchmark::State& state) {
    const QByteArray source(static_cast<int>(2 * state.range(0)), '\x11');
    for (auto _ : state) {
        QByteArray out(source.size(), Qt::Uninitialized);
        std::memcpy(out.data(), source.constData(), static_cast<size_t>(source.size()));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_MemcpyOutput)->Arg(2048);

BENCHMARK_MAIN();
