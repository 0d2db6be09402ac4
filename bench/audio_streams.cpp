// SPDX-License-Identifier: GPL-3.0-or-later
// Measures the panel's capture path and its three streams on the audio server.
//
//   bench_audio_streams callback [seconds] [frames]
//       Runs HSPortAudio's capture callback at the pace of a 96000 Hz capture with `frames` per
//       buffer, in a thread of its own, with a consumer taking the blocks as the audio worker
//       does, and prints the duration of each run (median, 99th percentile, maximum).
//   bench_audio_streams idle [seconds]
//       Opens the three streams and leaves them idle (no playback data, capture consumed as the
//       audio worker would); prints "running" once they run and exits after `seconds`. The
//       bench/audio-idle-cpu script measures the processes' CPU time around it.
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
const char kCableOut[] = "Line Volume (2- UMX VAC)";
const char kSpeaker[] = "UMX Speaker";
const char kCableIn[] = "Line In (UMX VAC)";

// Reads each capture block the way the audio worker does, in a thread of its own.
class Consumer : public QObject {
public:
    explicit Consumer(HSPortAudio* audio)
        : audio(audio) {}
    void take() { bytes += static_cast<size_t>(audio->latestCapturedData().size()); }
    HSPortAudio* audio;
    size_t bytes = 0;
};

bool startStreams(HSPortAudio& audio, int frames) {
    audio.EnumerateAudioDevices();
    if (audio.findOutputDevice(kCableOut) < 0 || audio.findSpeakerDevice(kSpeaker) < 0 ||
        audio.findInputDevice(kCableIn) < 0) {
        std::fprintf(stderr,
                     "the audio server's devices are missing: run scripts/audio-server start\n");
        return false;
    }
    CardConfig config;
    config.format = {kRate, frames, frames};
    config.settings.speakerOn = true;
    return audio.StartAudio(config);
}

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

int runIdle(HSPortAudio& audio, int seconds) {
    if (!startStreams(audio, 4096))
        return 1;
    QThread workerThread;
    Consumer consumer(&audio);
    consumer.moveToThread(&workerThread);
    QObject::connect(
        &audio, &HSSoundCard::inDataReady, &consumer, [&] { consumer.take(); },
        Qt::QueuedConnection);
    workerThread.start();
    std::printf("running\n");
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    audio.StopAudio();
    workerThread.quit();
    workerThread.wait();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    HSPortAudio audio(nullptr);
    if (mode == "callback")
        return measureCallback(audio, args.value(2, "60").toInt(), args.value(3, "4096").toInt());
    if (mode == "idle")
        return runIdle(audio, args.value(2, "20").toInt());
    std::fprintf(stderr,
                 "usage: bench_audio_streams callback [seconds] [frames] | idle [seconds]\n");
    return 2;
}
