// SPDX-License-Identifier: GPL-3.0-or-later
// The duration of HSPortAudio's capture callback: called at the pace of a 96000 Hz capture with
// `frames` per buffer, in a thread of its own, with a consumer taking the blocks as the audio
// worker does; prints the median, 99th percentile and maximum of the calls.
//
//   bench_capture_callback [seconds (60)] [frames (4096)]
#include "hsportaudio.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr int kRate = 96000;

// Reads each capture block the way the audio worker does, in a thread of its own.
class Consumer : public QObject {
public:
    explicit Consumer(HSPortAudio* audio)
        : audio(audio) {}
    void take() { bytes += static_cast<size_t>(audio->latestCapturedData().size()); }
    HSPortAudio* audio;
    size_t bytes = 0;
};

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const size_t at = std::min(values.size() - 1, static_cast<size_t>(p * values.size()));
    return values[at];
}

// The capture callback at the capture's pace in a thread of its own, with a consumer taking each
// block as the audio worker does; the pauses between calls leave the caches as cold as in use.
int measureCallback(HSPortAudio& audio, int seconds, int frames) {
    std::vector<qint16> input(static_cast<size_t>(frames));
    for (size_t i = 0; i < input.size(); ++i)
        input[i] = static_cast<qint16>((i * 7919) % 20000 - 10000);
    QThread workerThread;
    Consumer consumer(&audio);
    consumer.moveToThread(&workerThread);
    QObject::connect(
        &audio, &HSSoundCard::inDataReady, &consumer, [&] { consumer.take(); },
        Qt::QueuedConnection);
    workerThread.start();

    const size_t calls = static_cast<size_t>(seconds) * kRate / frames;
    const auto period = std::chrono::microseconds(1000000LL * frames / kRate);
    std::vector<double> micros;
    micros.reserve(calls);
    PaStreamCallbackTimeInfo timeInfo{};
    auto next = std::chrono::steady_clock::now();
    for (size_t n = 0; n < calls; ++n) {
        next += period;
        std::this_thread::sleep_until(next);
        const auto start = std::chrono::steady_clock::now();
        HSPortAudio::captureCallback(input.data(), nullptr, static_cast<unsigned long>(frames),
                                     &timeInfo, 0, &audio);
        const auto end = std::chrono::steady_clock::now();
        micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    workerThread.quit();
    workerThread.wait();
    if (micros.size() < 3) {
        std::fprintf(stderr, "too short a run\n");
        return 1;
    }
    // The first calls warm the caches and reserve nothing new; they are left out.
    std::vector<double> values(micros.begin() + 2, micros.end());
    std::printf("capture callback at %d Hz, %d frames, %d s: %zu calls\n", kRate, frames, seconds,
                micros.size());
    std::printf("duration: median %.1f us, p99 %.1f us, max %.1f us (target p99 < 100 us)\n",
                percentile(values, 0.5), percentile(values, 0.99), percentile(values, 1.0));
    std::printf("blocks read by the consumer: %zu bytes\n", consumer.bytes);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    HSPortAudio audio(nullptr);
    return measureCallback(audio, args.value(1, "60").toInt(), args.value(2, "4096").toInt());
}
