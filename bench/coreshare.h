// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// The share of one core a piece of audio work takes in real time: CPU seconds of this thread per
// second of audio, as a Google Benchmark counter "core_%".
#include <benchmark/benchmark.h>

#include <time.h>

namespace bench {

inline double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

inline void reportCoreShare(benchmark::State& state, double cpuSeconds, double audioSeconds) {
    state.counters["core_%"] = 100.0 * cpuSeconds / audioSeconds;
}

} // namespace bench
