// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of a log statement below the level (one comparison) and of a line written to a file.
#include "log.h"

#include <benchmark/benchmark.h>

#include <QDir>

#include <cstdio>
#include <unistd.h>

static void BM_SuppressedStatement(benchmark::State& state) {
    currentLogLevel = static_cast<int>(LogLevel::Error);
    int value = 42;
    for (auto _ : state) {
        HSLOG(LogLevel::Debug, "AudioWorker") << "datagram of " << value << " bytes";
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_SuppressedStatement);

static void BM_LineToFile(benchmark::State& state) {
    currentLogLevel = static_cast<int>(LogLevel::Info);
    const std::string path = QDir::tempPath().toStdString() + "/umx-bench-log.txt";
    logFile().open(path, std::ios::out | std::ios::trunc);
    logToFile = logFile().is_open();
    // Standard error goes to /dev/null so the figure is the line's own cost, not a terminal's.
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    std::FILE* devnull = std::freopen("/dev/null", "w", stderr);
    int n = 0;
    for (auto _ : state)
        HSLOG(LogLevel::Info, "UDPSocket") << "UDP input socket bound on port " << ++n;
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    logToFile = false;
    logFile().close();
    std::remove(path.c_str());
    if (!devnull)
        state.SkipWithError("cannot redirect standard error");
}
BENCHMARK(BM_LineToFile);

BENCHMARK_MAIN();
