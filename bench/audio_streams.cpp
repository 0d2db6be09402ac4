// Runs the panel's three streams on the audio server and measures them.
//
//   bench_audio_streams callback [seconds] [frames]
//       Capture at 96000 Hz with `frames` per buffer while both playback streams are fed, and
//       prints the duration of each run of HSPortAudio's capture callback (median, 99th
//       percentile, maximum) and the callback rate. The stream is opened by StartAudio and then
//       reopened on the same device with a wrapper around the static callback that times it.
//   bench_audio_streams idle [seconds]
//       Opens the three streams and leaves them idle (no playback data, capture consumed as the
//       audio worker would); prints "running" once they run and exits after `seconds`. The
//       bench/audio-idle-cpu script measures the processes' CPU time around it.
#include "hsportaudio.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr int kRate = 96000;
const char kCableOut[] = "Line Volume (2- UMX VAC)";
const char kSpeaker[] = "UMX Speaker";
const char kCableIn[] = "Line In (UMX VAC)";

struct Timing {
    HSPortAudio* audio;
    std::vector<double> micros;
    std::atomic<size_t> count{0};
};

int timedCallback(const void* input, void* output, unsigned long frameCount,
                  const PaStreamCallbackTimeInfo* timeInfo, PaStreamCallbackFlags flags,
                  void* userData) {
    auto* timing = static_cast<Timing*>(userData);
    const auto start = std::chrono::steady_clock::now();
    const int result =
        HSPortAudio::captureCallback(input, output, frameCount, timeInfo, flags, timing->audio);
    const auto end = std::chrono::steady_clock::now();
    const size_t n = timing->count.load(std::memory_order_relaxed);
    if (n < timing->micros.size()) {
        timing->micros[n] = std::chrono::duration<double, std::micro>(end - start).count();
        timing->count.store(n + 1, std::memory_order_release);
    }
    return result;
}

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
    audio.sampleRate = kRate;
    audio.frameSizeOut = frames;
    audio.frameSizeIn = frames;
    audio.frameOutMult = 1;
    audio.frameInMult = 1;
    audio.speakerOn = true;
    return audio.StartAudio();
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const size_t at = std::min(values.size() - 1, static_cast<size_t>(p * values.size()));
    return values[at];
}

int measureCallback(HSPortAudio& audio, int seconds, int frames) {
    if (!startStreams(audio, frames))
        return 1;
    Timing timing{&audio, std::vector<double>(static_cast<size_t>(seconds) * kRate / frames + 64)};
    Pa_StopStream(audio.inputStream);
    Pa_CloseStream(audio.inputStream);
    audio.inputStream = nullptr;
    PaStream* stream = nullptr;
    if (Pa_OpenStream(&stream, &audio.inputParameters, nullptr, kRate,
                      static_cast<unsigned long>(frames), paClipOff, timedCallback,
                      &timing) != paNoError) {
        std::fprintf(stderr, "cannot reopen the capture stream\n");
        return 1;
    }
    audio.inputStream = stream;

    QThread workerThread;
    Consumer consumer(&audio);
    consumer.moveToThread(&workerThread);
    QObject::connect(
        &audio, &HSPortAudio::inDataReady, &consumer, [&] { consumer.take(); },
        Qt::QueuedConnection);
    workerThread.start();
    std::atomic<bool> feeding{true};
    std::thread feeder([&] {
        QByteArray silence(frames * 4, '\0');
        while (feeding.load())
            audio.StreamOut(silence);
    });

    Pa_StartStream(stream);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    feeding = false;
    feeder.join();
    audio.StopAudio();
    workerThread.quit();
    workerThread.wait();

    const size_t n = timing.count.load(std::memory_order_acquire);
    if (n < 2) {
        std::fprintf(stderr, "no capture callbacks\n");
        return 1;
    }
    // The first callbacks warm the caches and reserve nothing new; they are left out.
    std::vector<double> values(timing.micros.begin() + 2, timing.micros.begin() + n);
    std::printf("capture callback at %d Hz, %d frames, %d s: %zu callbacks (%.2f/s, expected "
                "%.2f/s)\n",
                kRate, frames, seconds, n, double(n) / seconds, double(kRate) / frames);
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
        &audio, &HSPortAudio::inDataReady, &consumer, [&] { consumer.take(); },
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
