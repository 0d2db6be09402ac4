// SPDX-License-Identifier: GPL-3.0-or-later
// Measuring probe for the audio path's latency and start-up, with its own PortAudio streams:
//
//   click_probe udp PORT [CLICKS] [INTERVAL_S]   paces silence datagrams (48000 Hz host, 512
//                                                frames, stereo int16) to 127.0.0.1:PORT with one
//                                                click datagram every INTERVAL_S seconds
//   click_probe direct [CLICKS] [INTERVAL_S] [FRAMES_PER_BUFFER]
//                                                writes the same audio, frames doubled to 96000 Hz,
//                                                straight into the cable's playback end with the
//                                                panel's stream parameters (the floor)
//   click_probe first-sound [TIMEOUT_S] [DEVICE] prints when the first non-silent sample arrives
//                                                (at DEVICE, a capture end, if given)
//   click_probe pa-init                          times Pa_Initialize and the device enumeration
//
// Every mode but pa-init captures the cable's far end ("UMX VAC RX Out", 96000 Hz stereo). A
// capture callback arrives some time after its last sample entered the cable, so the sample
// clock is mapped to wall time by the earliest (callback time - frames so far / rate) seen around
// each event: scheduling delays only ever add to that difference. Times are CLOCK_REALTIME, so
// they compare with the shell's $EPOCHREALTIME.
#include <portaudio.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kHostRate = 48000;
constexpr int kHostFrameSize = 512;
constexpr int kCableRate = 2 * kHostRate;
constexpr int kCableChannels = 2;
constexpr int kCaptureFramesPerBuffer = 256;
constexpr int16_t kClickLevel = 30000;
constexpr int kClickHostFrames = 4;
constexpr int kClickThreshold = 8000;
constexpr int kSoundThreshold = 1000;
constexpr double kWarmUpSeconds = 2.5;
// A capture stream delivers what it had buffered in a burst when it starts, which would make the
// sample clock look ahead of the wall clock; the fit ignores its first second.
constexpr double kCaptureSettleSeconds = 1.0;
// The audio server's default period: 2048 frames at 96000 Hz.
constexpr double kServerPeriodSeconds = 2048.0 / kCableRate;
constexpr double kFitWindowSeconds = 1.0;
constexpr double kMaxClockJumpSeconds = 0.002;
constexpr std::size_t kMaxCallbacks = 1 << 16;
constexpr std::size_t kMaxEvents = 1024;
constexpr const char* kCableFarEnd = "UMX VAC RX Out";
constexpr const char* kCablePlayback = "Line Volume (2- UMX VAC)";

double now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void sleepUntil(double t) {
    const double whole = std::floor(t);
    timespec ts{static_cast<time_t>(whole), static_cast<long>((t - whole) * 1e9)};
    clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &ts, nullptr);
}

// What the capture callback records; written by the callback thread only, read after the atomic
// counters say an entry is complete.
struct Capture {
    std::vector<double> callbackTime = std::vector<double>(kMaxCallbacks);
    std::vector<int64_t> framesAfter = std::vector<int64_t>(kMaxCallbacks);
    std::atomic<std::size_t> callbacks{0};
    std::vector<int64_t> eventFrame = std::vector<int64_t>(kMaxEvents);
    // When the callback that held the event ran: later than the sample clock says by the delivery
    // delay, but never before the click was sent, so pairing by it cannot slip by a whole click.
    std::vector<double> eventArrival = std::vector<double>(kMaxEvents);
    std::atomic<std::size_t> events{0};
    int64_t frames = 0;
    int64_t lastEvent = -kCableRate;
    int threshold = kClickThreshold;
    int64_t deadFrames = kCableRate / 4;

    // Wall time of a sample frame, from the callbacks within the fit window around it.
    // How far the sample clock moved against the wall clock between the first and the last second
    // of the capture: frames lost or repeated by an overrun somewhere on the way make it jump, and
    // then no click time can be trusted.
    double clockJump() const {
        const std::size_t n = callbacks.load();
        if (n == 0)
            return 0;
        double first = 1e300;
        double last = 1e300;
        for (std::size_t i = 0; i < n; ++i) {
            const double age = callbackTime[i] - callbackTime[0];
            const double offset =
                callbackTime[i] - static_cast<double>(framesAfter[i]) / kCableRate;
            if (age >= kCaptureSettleSeconds && age < kCaptureSettleSeconds + kFitWindowSeconds)
                first = std::min(first, offset);
            if (callbackTime[n - 1] - callbackTime[i] < kFitWindowSeconds)
                last = std::min(last, offset);
        }
        // No callback in one of the two seconds: the capture stalled, which is no better.
        return first == 1e300 || last == 1e300 ? 1e300 : last - first;
    }

    double timeOfFrame(int64_t frame) const {
        const std::size_t n = callbacks.load();
        double best = 1e300;
        for (std::size_t i = 0; i < n; ++i) {
            if (callbackTime[i] - callbackTime[0] < kCaptureSettleSeconds)
                continue;
            const double offset =
                callbackTime[i] - static_cast<double>(framesAfter[i]) / kCableRate;
            const double sampleTime = offset + static_cast<double>(frame) / kCableRate;
            if (std::fabs(callbackTime[i] - sampleTime) < kFitWindowSeconds)
                best = std::min(best, offset);
        }
        return best + static_cast<double>(frame) / kCableRate;
    }
};

int captureCallback(const void* input, void*, unsigned long frameCount,
                    const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* userData) {
    const double t = now();
    auto* c = static_cast<Capture*>(userData);
    const auto* samples = static_cast<const int16_t*>(input);
    for (unsigned long i = 0; samples && i < frameCount; ++i) {
        const int64_t frame = c->frames + static_cast<int64_t>(i);
        if (std::abs(samples[i * kCableChannels]) > c->threshold &&
            frame - c->lastEvent > c->deadFrames) {
            const std::size_t e = c->events.load();
            if (e < kMaxEvents) {
                c->eventFrame[e] = frame;
                c->eventArrival[e] = t;
                c->events.store(e + 1);
            }
            c->lastEvent = frame;
        }
    }
    c->frames += static_cast<int64_t>(frameCount);
    const std::size_t n = c->callbacks.load();
    if (n < kMaxCallbacks) {
        c->callbackTime[n] = t;
        c->framesAfter[n] = c->frames;
        c->callbacks.store(n + 1);
    }
    return paContinue;
}

PaDeviceIndex findDevice(const char* name, bool input) {
    for (PaDeviceIndex i = 0; i < Pa_GetDeviceCount(); ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (info && std::strcmp(info->name, name) == 0 &&
            (input ? info->maxInputChannels : info->maxOutputChannels) >= kCableChannels)
            return i;
    }
    std::fprintf(stderr, "click_probe: no %s device \"%s\"\n", input ? "capture" : "playback",
                 name);
    return paNoDevice;
}

// Opens and starts a stereo int16 stream on the named cable end at the panel's stream rate, with
// the device's default low latency; nullptr (and a line on standard error) when it cannot.
PaStream* openCableStream(const char* name, bool input, int framesPerBuffer,
                          PaStreamCallback* callback, void* userData) {
    const PaDeviceIndex device = findDevice(name, input);
    if (device == paNoDevice)
        return nullptr;
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    PaStreamParameters parameters{
        device, kCableChannels, paInt16,
        input ? info->defaultLowInputLatency : info->defaultLowOutputLatency, nullptr};
    PaStream* stream = nullptr;
    if (Pa_OpenStream(&stream, input ? &parameters : nullptr, input ? nullptr : &parameters,
                      kCableRate, static_cast<unsigned long>(framesPerBuffer), paClipOff, callback,
                      userData) != paNoError ||
        Pa_StartStream(stream) != paNoError) {
        std::fprintf(stderr, "click_probe: cannot open \"%s\"\n", name);
        return nullptr;
    }
    return stream;
}

PaStream* openCapture(Capture& capture, const char* farEnd = kCableFarEnd) {
    return openCableStream(farEnd, true, kCaptureFramesPerBuffer, captureCallback, &capture);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Pairs every click sent with the first click heard after it and prints the latencies.
int report(const char* what, const std::vector<double>& sent, const Capture& capture) {
    const double jump = capture.clockJump();
    if (std::fabs(jump) > kMaxClockJumpSeconds) {
        if (jump == 1e300)
            std::printf("%s: discarded, the capture stalled\n", what);
        else
            std::printf("%s: discarded, the sample clock jumped by %.1f ms against the wall clock "
                        "(an overrun on the way)\n",
                        what, jump * 1000);
        return 3;
    }
    std::vector<double> latencies;
    std::vector<double> arrivals;
    std::size_t next = 0;
    const std::size_t heard = capture.events.load();
    for (double s : sent) {
        while (next < heard && capture.eventArrival[next] < s)
            ++next;
        if (next == heard)
            break;
        const double latency = capture.timeOfFrame(capture.eventFrame[next]) - s;
        const double arrival = capture.eventArrival[next] - s;
        latencies.push_back(latency * 1000);
        arrivals.push_back(arrival * 1000);
        std::printf("click %2zu: %8.2f ms (arrival %.2f ms)\n", latencies.size(), latency * 1000,
                    arrival * 1000);
        ++next;
    }
    if (latencies.empty()) {
        std::printf("%s: no click arrived\n", what);
        return 1;
    }
    std::printf("%s: %zu of %zu clicks, median %.2f ms (min %.2f, max %.2f), arrival median "
                "%.2f ms\n",
                what, latencies.size(), sent.size(), median(latencies),
                *std::min_element(latencies.begin(), latencies.end()),
                *std::max_element(latencies.begin(), latencies.end()), median(arrivals));
    return latencies.size() == sent.size() ? 0 : 1;
}

// A random start within one audio server period, so that repeated runs see the clicks at every
// phase of the server's cycle rather than at whichever one the process start happened to give.
double randomPhase() {
    std::srand(static_cast<unsigned>(now() * 1e6));
    return kServerPeriodSeconds * std::rand() / RAND_MAX;
}

// Sends the host's datagrams at its pace; returns the send time of each click.
std::vector<double> sendDatagrams(int port, int clicks, double interval) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::vector<int16_t> silence(kHostFrameSize * kCableChannels, 0);
    std::vector<int16_t> click = silence;
    std::fill(click.begin(), click.begin() + kClickHostFrames * kCableChannels, kClickLevel);
    const double period = static_cast<double>(kHostFrameSize) / kHostRate;
    const auto perClick = static_cast<long>(std::lround(interval / period));
    const auto warmUp = static_cast<long>(std::lround(kWarmUpSeconds / period));
    std::vector<double> sent;
    const double start = now() + randomPhase();
    for (long k = 0; static_cast<int>(sent.size()) < clicks || (k - warmUp) % perClick; ++k) {
        sleepUntil(start + static_cast<double>(k) * period);
        const bool isClick =
            k >= warmUp && (k - warmUp) % perClick == 0 && static_cast<int>(sent.size()) < clicks;
        const auto& data = isClick ? click : silence;
        if (isClick)
            sent.push_back(now());
        sendto(fd, data.data(), data.size() * sizeof(int16_t), 0,
               reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    close(fd);
    return sent;
}

// Writes the same schedule into the cable as the panel would play it: every host frame twice.
std::vector<double> writeDirect(int clicks, double interval, int framesPerBuffer) {
    std::vector<double> sent;
    PaStream* stream = openCableStream(kCablePlayback, false, framesPerBuffer, nullptr, nullptr);
    if (!stream)
        return sent;
    const int blockFrames = 2 * kHostFrameSize;
    std::vector<int16_t> silence(static_cast<std::size_t>(blockFrames * kCableChannels), 0);
    std::vector<int16_t> click = silence;
    std::fill(click.begin(), click.begin() + 2 * kClickHostFrames * kCableChannels, kClickLevel);
    const double period = static_cast<double>(kHostFrameSize) / kHostRate;
    const auto perClick = static_cast<long>(std::lround(interval / period));
    const auto warmUp = static_cast<long>(std::lround(kWarmUpSeconds / period));
    const double start = now() + randomPhase();
    for (long k = 0; static_cast<int>(sent.size()) < clicks || (k - warmUp) % perClick; ++k) {
        sleepUntil(start + static_cast<double>(k) * period);
        const bool isClick =
            k >= warmUp && (k - warmUp) % perClick == 0 && static_cast<int>(sent.size()) < clicks;
        if (isClick)
            sent.push_back(now());
        Pa_WriteStream(stream, (isClick ? click : silence).data(), blockFrames);
    }
    Pa_StopStream(stream);
    Pa_CloseStream(stream);
    return sent;
}

int firstSound(double timeout, const char* farEnd) {
    Capture capture;
    capture.threshold = kSoundThreshold;
    PaStream* stream = openCapture(capture, farEnd);
    if (!stream)
        return 1;
    std::printf("listening\n");
    std::fflush(stdout);
    const double deadline = now() + timeout;
    while (capture.events.load() == 0 && now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    // Let a few more callbacks arrive so the sample clock fit covers the event.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Pa_StopStream(stream);
    Pa_CloseStream(stream);
    if (capture.events.load() == 0) {
        std::printf("no sound within %.0f s\n", timeout);
        return 1;
    }
    std::printf("first-sound %.6f\n", capture.timeOfFrame(capture.eventFrame[0]));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const auto arg = [&](int i, double fallback) {
        return argc > i ? std::atof(argv[i]) : fallback;
    };
    if (mode == "pa-init") {
        const double t0 = now();
        if (Pa_Initialize() != paNoError)
            return 1;
        int devices = 0;
        for (PaDeviceIndex i = 0; i < Pa_GetDeviceCount(); ++i)
            devices += Pa_GetDeviceInfo(i) != nullptr;
        for (PaHostApiIndex i = 0; i < Pa_GetHostApiCount(); ++i)
            Pa_GetHostApiInfo(i);
        const double t1 = now();
        std::printf("pa-init %.1f ms, %d devices\n", (t1 - t0) * 1000, devices);
        Pa_Terminate();
        return 0;
    }
    if (mode != "udp" && mode != "direct" && mode != "first-sound") {
        std::fprintf(stderr,
                     "usage: click_probe udp PORT [CLICKS] [INTERVAL_S] | direct [CLICKS] "
                     "[INTERVAL_S] [FRAMES_PER_BUFFER] | first-sound [TIMEOUT_S] [DEVICE] | "
                     "pa-init\n");
        return 2;
    }
    if (Pa_Initialize() != paNoError)
        return 1;
    int status = 0;
    if (mode == "first-sound") {
        status = firstSound(arg(2, 10), argc > 3 ? argv[3] : kCableFarEnd);
    } else {
        Capture capture;
        PaStream* stream = openCapture(capture);
        if (!stream) {
            Pa_Terminate();
            return 1;
        }
        const int base = mode == "udp" ? 3 : 2;
        const int clicks = static_cast<int>(arg(base, 15));
        const double interval = arg(base + 1, 0.6);
        const std::vector<double> sent =
            mode == "udp" ? sendDatagrams(static_cast<int>(arg(2, 16742)), clicks, interval)
                          : writeDirect(clicks, interval,
                                        static_cast<int>(arg(base + 2, 2 * kHostFrameSize)));
        // The last click needs time to travel through whatever buffers lie in its way.
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        Pa_StopStream(stream);
        Pa_CloseStream(stream);
        status = report(mode == "udp" ? "udp-to-cable" : "direct-to-cable", sent, capture);
    }
    Pa_Terminate();
    return status;
}
