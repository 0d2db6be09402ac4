// SPDX-License-Identifier: GPL-3.0-or-later
// The transmit path: a capture block leaving as 1460-byte datagrams on loopback.
#include "hsudpaudiosocket.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QUdpSocket>

// A 1 MB block sent to a host on loopback; the host does not read, so the figure is the
// sender's own cost (the kernel drops what overflows the receiver's buffer).
static void BM_SendBlock(benchmark::State& state) {
    QUdpSocket host;
    host.bind(QHostAddress::LocalHost, 0);
    QUdpSocket probe;
    probe.bind(QHostAddress::AnyIPv4, 0);
    const quint16 localPort = probe.localPort();
    probe.close();
    HSUDPAudioSocket socket(nullptr, "127.0.0.1", host.localPort(), localPort);
    QByteArray block(static_cast<int>(state.range(0)), '\x22');
    for (auto _ : state)
        socket.outData(block);
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SendBlock)->Arg(1 << 20)->UseRealTime();

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
