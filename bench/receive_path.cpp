// SPDX-License-Identifier: GPL-3.0-or-later
// Receive path latency: a sender thread sends host datagrams (48000 Hz, 240 frames: 200 a second,
// the rate the playback stream consumes them) to the panel's UDP socket; the receiving thread runs
// what the audio worker runs for each datagram (HSPortAudio::StreamOut, which places it in the
// stream and writes the real playback streams of the audio server) and notes the time from the
// datagram's send to the StreamOut call. Each datagram carries its send time in its first 8 bytes
// (one clock, one machine).
//
//   bench_receive_path [seconds] [playback buffer multiplier, default 1 ("Auto")]
#include "hsportaudio.h"
#include "hsudpaudiosocket.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kHostRate = 48000;
constexpr int kHostFrames = 240;

qint64 nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

quint16 freePort() {
    QUdpSocket probe;
    probe.bind(QHostAddress::AnyIPv4, 0);
    return probe.localPort();
}

void sendDatagrams(quint16 port, int seconds) {
    QUdpSocket sender;
    QByteArray datagram(4 * kHostFrames, '\0');
    const auto period = std::chrono::nanoseconds(1000000000LL * kHostFrames / kHostRate);
    const auto start = Clock::now();
    const int count = seconds * kHostRate / kHostFrames;
    for (int k = 0; k < count; ++k) {
        std::this_thread::sleep_until(start + k * period);
        const qint64 sent = nowNs();
        std::memcpy(datagram.data(), &sent, sizeof sent);
        sender.writeDatagram(datagram, QHostAddress::LocalHost, port);
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;

    HSPortAudio audio;
    audio.EnumerateAudioDevices();
    CardConfig config;
    config.settings.outputDevice = "Line Volume (2- UMX VAC)";
    config.settings.audioDevice = "UMX Speaker";
    config.settings.inputDevice = "Line In (UMX VAC)";
    if (audio.findOutputDevice(config.settings.outputDevice) < 0 ||
        audio.findSpeakerDevice(config.settings.audioDevice) < 0 ||
        audio.findInputDevice(config.settings.inputDevice) < 0) {
        std::fprintf(stderr, "receive_path: the audio server is not running\n");
        return 1;
    }
    config.format = streamFormatForHost(kHostRate, kHostFrames);
    config.settings.frameOutMult = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    if (!audio.StartAudio(config))
        return 1;

    const quint16 port = freePort();
    std::vector<double> micros;
    micros.reserve(static_cast<size_t>(seconds) * 250);
    QThread worker;
    worker.start();
    // The socket lives in the worker's thread, like the audio worker's own.
    QObject context;
    context.moveToThread(&worker);
    HSUDPAudioSocket* socket = nullptr;
    QMetaObject::invokeMethod(
        &context,
        [&] {
            socket = new HSUDPAudioSocket(nullptr, "127.0.0.1", 9, port);
            QObject::connect(socket, &HSUDPAudioSocket::inDataReady, [&](QByteArray& data) {
                qint64 sent = 0;
                std::memcpy(&sent, data.constData(), sizeof sent);
                micros.push_back(static_cast<double>(nowNs() - sent) / 1000.0);
                audio.StreamOut(data);
            });
        },
        Qt::BlockingQueuedConnection);

    std::thread sender(sendDatagrams, port, seconds);
    sender.join();
    QThread::msleep(200);
    QMetaObject::invokeMethod(
        &context, [&] { delete socket; }, Qt::BlockingQueuedConnection);
    worker.quit();
    worker.wait();
    audio.StopAudio();

    if (micros.empty()) {
        std::fprintf(stderr, "receive_path: nothing was received\n");
        return 1;
    }
    std::sort(micros.begin(), micros.end());
    const auto at = [&](double q) {
        return micros[static_cast<size_t>(q * (micros.size() - 1))];
    };
    std::printf("datagrams %zu of %d, send to StreamOut call: median %.1f us, p99 %.1f us, "
                "max %.1f us\n",
                micros.size(), seconds * kHostRate / kHostFrames, at(0.5), at(0.99), micros.back());
    return 0;
}
