// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of the control messages: parsing the host's "hostInfo" and composing "localInfo".
#include "controlmessages.h"

#include <benchmark/benchmark.h>

namespace {

const QString kTypicalHostInfo = QStringLiteral(
    R"({"message":"hostInfo","protocol":"umx-rigsim","channel":2,"sampleRate":48000,)"
    R"("sampleSize":16,"frameSize":512,"udpInPort":4591,"input":true,"output":true,)"
    R"("codec":"pcm16","callSign":"DL1ABC"})");

void BM_ParseHostInfo(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(parseHostInfo(kTypicalHostInfo));
}
BENCHMARK(BM_ParseHostInfo);

void BM_ComposeLocalInfo(benchmark::State& state) {
    const QString address = QStringLiteral("192.168.1.20");
    for (auto _ : state)
        benchmark::DoNotOptimize(composeLocaMessage(LocalInfo, address, 2476));
}
BENCHMARK(BM_ComposeLocalInfo);

} // namespace

BENCHMARK_MAIN();
