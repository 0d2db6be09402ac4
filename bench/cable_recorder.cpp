// SPDX-License-Identifier: GPL-3.0-or-later
// The recording end of bench/playout: captures the virtual cable's far end ("UMX VAC RX Out",
// 96000 Hz stereo int16) for SECONDS, or until SIGINT or SIGTERM, and prints what the analysis
// needs:
//
//   cable_recorder [--raw FILE] SECONDS [DEVICE]
//
// DEVICE is another stereo capture end to record instead (the speaker's, "UMX Speaker Monitor").
// --raw FILE also keeps the audio itself, as captured: interleaved int16 stereo, native byte
// order, no header; frame n of it is the frame the callback lines count, so every sample can be
// placed in monotonic time.
//
//   cb NS FRAMES       one per capture callback: CLOCK_MONOTONIC when it ran, frames captured
//                      up to the end of its block (the sample clock, mapped to time later)
//   silence FROM TO    a run of frames [FROM, TO) in which the left channel stays below the
//                      silence level, at least kMinSilenceFrames long: a gap (or the time before
//                      the first sound)
//   onset FRAME        the first frame of a timing mark on the right channel: the first sample at
//                      or above the mark level after at least half a second without one
//   frames N           frames captured in all
//   reopened NS FRAMES the capture had delivered nothing for kStuckNs, so it was opened again at
//                      CLOCK_MONOTONIC NS, FRAMES captured by then: the time between the last
//                      callback before and the first after went unrecorded
//   watched            the machine was watched for its own stalls (below); without the line, it
//                      was not (the system refused the priority)
//   stall NS US        a wake of the watcher US microseconds late, at CLOCK_MONOTONIC NS
//
// The watcher is a thread at real-time priority 90 (above the audio server's and the panel's)
// that wakes every millisecond; a wake 2 ms late or more is one only a machine stopped as a whole
// makes (a virtual machine's host running something else), and the server and the panel stop
// with it.
//
// The callback only compares samples and writes into storage allocated before the stream
// starts; everything is printed after it stops.
#include <pa_linux_alsa.h>
#include <portaudio.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr int kCableRate = 96000;
constexpr int kCableChannels = 2;
constexpr int kFramesPerBuffer = 256;
constexpr int kCallbacksPerSecond = kCableRate / kFramesPerBuffer + 1;
// -44 dBFS: far below the -6 dBFS test tone, whose samples pass below it only for a fraction of
// a sample at each zero crossing, and far above what a resampler leaves in silence.
constexpr int kSilenceLevel = 200;
constexpr int64_t kMinSilenceFrames = kCableRate / 2000; // 0.5 ms
// Half the marks' -6 dBFS: the burst starts at its peak, so its first sample passes it.
constexpr int kMarkLevel = 8192;
constexpr int64_t kMarkSpacingFrames = kCableRate / 2;
constexpr std::size_t kMaxRuns = 1 << 20;
constexpr std::size_t kMaxOnsets = 1 << 16;
constexpr const char* kCableFarEnd = "UMX VAC RX Out";
constexpr double kMinDeliveredShare = 0.9;
constexpr int kWatcherPriority = 90;
constexpr int64_t kWatchNs = 1000000;
constexpr int64_t kStallNs = 2000000;
constexpr std::size_t kMaxStalls = 1 << 16;
// A capture that delivered nothing for this long, while the recorder itself ran, is stuck: after
// an overrun on a stalling machine the ALSA jack plugin's stream sometimes never calls back again.
constexpr int64_t kStuckNs = 2000000000;
constexpr int64_t kSliceNs = 50000000;

std::atomic<bool> stopRequested{false};

void onSignal(int) {
    stopRequested = true;
}

int64_t monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

struct Recording {
    explicit Recording(std::size_t maxCallbacks)
        : callbackNs(maxCallbacks)
        , framesAfter(maxCallbacks) {}
    std::vector<int64_t> callbackNs;
    std::vector<int64_t> framesAfter;
    std::size_t callbacks = 0;
    std::atomic<std::uint64_t> delivered{0}; // callbacks, for the main thread to watch
    std::vector<int64_t> runFrom = std::vector<int64_t>(kMaxRuns);
    std::vector<int64_t> runTo = std::vector<int64_t>(kMaxRuns);
    std::size_t runs = 0;
    std::vector<int64_t> onsets = std::vector<int64_t>(kMaxOnsets);
    std::size_t onsetCount = 0;
    int64_t frames = 0;
    // The audio itself when it is kept (--raw), else empty; frames past its end are not kept.
    std::vector<int16_t> audio;
    int64_t silentSince = 0; // -1 while the left channel sounds
    int64_t lastOnset = -kMarkSpacingFrames;

    void endSilence(int64_t at) {
        if (silentSince >= 0 && at - silentSince >= kMinSilenceFrames && runs < kMaxRuns) {
            runFrom[runs] = silentSince;
            runTo[runs] = at;
            ++runs;
        }
        silentSince = -1;
    }
};

// Wakes every kWatchNs at real-time priority and notes each wake kStallNs late or more.
class MachineWatcher {
public:
    MachineWatcher() {
        thread = std::thread([this] { run(); });
        sched_param param{};
        param.sched_priority = kWatcherPriority;
        watched = pthread_setschedparam(thread.native_handle(), SCHED_FIFO, &param) == 0;
    }
    ~MachineWatcher() { stop(); }
    void stop() {
        done = true;
        if (thread.joinable())
            thread.join();
    }
    void print() const {
        if (!watched)
            return;
        std::printf("watched\n");
        for (const auto& [atNs, lateUs] : stalls)
            std::printf("stall %lld %lld\n", static_cast<long long>(atNs),
                        static_cast<long long>(lateUs));
    }

private:
    void run() {
        stalls.reserve(kMaxStalls);
        int64_t due = monotonicNs() + kWatchNs;
        while (!done.load()) {
            const timespec at{static_cast<time_t>(due / 1000000000),
                              static_cast<long>(due % 1000000000)};
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
            const int64_t now = monotonicNs();
            if (now - due >= kStallNs && stalls.size() < kMaxStalls)
                stalls.emplace_back(now, (now - due) / 1000);
            due = std::max(due + kWatchNs, now + kWatchNs / 2);
        }
    }

    std::thread thread;
    std::atomic<bool> done{false};
    bool watched = false;
    std::vector<std::pair<int64_t, int64_t>> stalls; // when the late wake came, how late (us)
};

int captureCallback(const void* input, void*, unsigned long frameCount,
                    const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* userData) {
    auto* r = static_cast<Recording*>(userData);
    const int64_t now = monotonicNs();
    const auto* samples = static_cast<const int16_t*>(input);
    for (unsigned long i = 0; i < frameCount; ++i) {
        const int64_t frame = r->frames + static_cast<int64_t>(i);
        const int left = samples ? std::abs(samples[2 * i]) : 0;
        const int right = samples ? std::abs(samples[2 * i + 1]) : 0;
        if (left < kSilenceLevel) {
            if (r->silentSince < 0)
                r->silentSince = frame;
        } else {
            r->endSilence(frame);
        }
        if (right >= kMarkLevel) {
            if (frame - r->lastOnset >= kMarkSpacingFrames && r->onsetCount < kMaxOnsets)
                r->onsets[r->onsetCount++] = frame;
            r->lastOnset = frame;
        }
    }
    const auto room = static_cast<int64_t>(r->audio.size()) / kCableChannels - r->frames;
    const int64_t kept = std::min<int64_t>(room, static_cast<int64_t>(frameCount));
    if (samples && kept > 0)
        std::memcpy(r->audio.data() + r->frames * kCableChannels, samples,
                    static_cast<std::size_t>(kept) * kCableChannels * sizeof(int16_t));
    r->frames += static_cast<int64_t>(frameCount);
    if (r->callbacks < r->callbackNs.size()) {
        r->callbackNs[r->callbacks] = now;
        r->framesAfter[r->callbacks] = r->frames;
        ++r->callbacks;
    }
    r->delivered.fetch_add(1, std::memory_order_relaxed);
    return paContinue;
}

PaDeviceIndex findCapture(const char* name) {
    for (PaDeviceIndex i = 0; i < Pa_GetDeviceCount(); ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (info && std::strcmp(info->name, name) == 0 && info->maxInputChannels >= kCableChannels)
            return i;
    }
    return paNoDevice;
}

// Opened and started, at real-time priority where it is an ALSA stream; nullptr where it fails.
PaStream* startCapture(PaDeviceIndex device, Recording* recording) {
    const PaStreamParameters parameters{device, kCableChannels, paInt16,
                                        Pa_GetDeviceInfo(device)->defaultLowInputLatency, nullptr};
    PaStream* stream = nullptr;
    if (Pa_OpenStream(&stream, &parameters, nullptr, kCableRate, kFramesPerBuffer, paClipOff,
                      captureCallback, recording) != paNoError)
        return nullptr;
    // At the ordinary priority, on a loaded machine, the capture could fall so far behind that
    // the stream never delivered again. PortAudio takes any stream for an ALSA one here.
    if (Pa_GetHostApiInfo(Pa_GetDeviceInfo(device)->hostApi)->type == paALSA)
        PaAlsa_EnableRealtimeScheduling(stream, 1);
    if (Pa_StartStream(stream) != paNoError) {
        Pa_CloseStream(stream);
        return nullptr;
    }
    return stream;
}

// Records until `end` or a signal, opening the capture again whenever it is stuck; the stream
// it ends with (nullptr where a reopening failed).
PaStream* record(PaStream* stream, PaDeviceIndex device, Recording& recording, int64_t end,
                 std::vector<std::pair<int64_t, int64_t>>& reopened) {
    const timespec slice{0, kSliceNs};
    std::uint64_t seen = 0;
    int64_t quietNs = 0;
    int64_t tick = monotonicNs();
    while (stream && !stopRequested.load() && tick < end) {
        nanosleep(&slice, nullptr);
        const int64_t now = monotonicNs();
        const std::uint64_t count = recording.delivered.load(std::memory_order_relaxed);
        // Only the time this loop itself ran counts: a machine that stopped the recorder as a
        // whole stopped its capture too.
        quietNs = count != seen ? 0 : quietNs + std::min(now - tick, 2 * kSliceNs);
        seen = count;
        tick = now;
        if (quietNs < kStuckNs)
            continue;
        Pa_AbortStream(stream);
        Pa_CloseStream(stream);
        reopened.emplace_back(monotonicNs(), recording.frames);
        stream = startCapture(device, &recording);
        quietNs = 0;
    }
    return stream;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string rawPath;
    if (arguments.size() >= 2 && arguments[0] == "--raw") {
        rawPath = arguments[1];
        arguments.erase(arguments.begin(), arguments.begin() + 2);
    }
    const double seconds = arguments.empty() ? 0.0 : std::atof(arguments[0].c_str());
    if (arguments.empty() || arguments.size() > 2 || !(seconds > 0.0)) {
        std::fprintf(stderr, "usage: cable_recorder [--raw FILE] SECONDS [DEVICE]\n");
        return 2;
    }
    const char* farEnd = arguments.size() > 1 ? arguments[1].c_str() : kCableFarEnd;
    std::FILE* raw = rawPath.empty() ? nullptr : std::fopen(rawPath.c_str(), "wb");
    if (!rawPath.empty() && !raw) {
        std::fprintf(stderr, "cable_recorder: cannot write %s\n", rawPath.c_str());
        return 1;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    Recording recording(static_cast<std::size_t>((seconds + 10.0) * kCallbacksPerSecond));
    // Allocated (and zeroed, so every page is there) before the stream starts.
    if (raw)
        recording.audio.resize(static_cast<std::size_t>((seconds + 10.0) * kCableRate) *
                               kCableChannels);
    if (Pa_Initialize() != paNoError)
        return 1;
    const PaDeviceIndex device = findCapture(farEnd);
    if (device == paNoDevice) {
        std::fprintf(stderr, "cable_recorder: no capture device \"%s\"\n", farEnd);
        Pa_Terminate();
        return 1;
    }
    PaStream* stream = startCapture(device, &recording);
    if (!stream) {
        std::fprintf(stderr, "cable_recorder: cannot open \"%s\"\n", farEnd);
        Pa_Terminate();
        return 1;
    }
    MachineWatcher machine;
    std::printf("started %lld\n", static_cast<long long>(monotonicNs()));
    std::fflush(stdout);
    const int64_t begun = monotonicNs();
    const int64_t end = begun + static_cast<int64_t>(seconds * 1e9);
    std::vector<std::pair<int64_t, int64_t>> reopened;
    stream = record(stream, device, recording, end, reopened);
    const double recordedS = static_cast<double>(monotonicNs() - begun) / 1e9;
    if (stream) {
        Pa_StopStream(stream);
        Pa_CloseStream(stream);
    } else {
        std::fprintf(stderr, "cable_recorder: cannot open \"%s\" again\n", farEnd);
    }
    Pa_Terminate();
    machine.stop();
    recording.endSilence(recording.frames);
    for (std::size_t i = 0; i < recording.callbacks; ++i)
        std::printf("cb %lld %lld\n", static_cast<long long>(recording.callbackNs[i]),
                    static_cast<long long>(recording.framesAfter[i]));
    for (std::size_t i = 0; i < recording.runs; ++i)
        std::printf("silence %lld %lld\n", static_cast<long long>(recording.runFrom[i]),
                    static_cast<long long>(recording.runTo[i]));
    for (std::size_t i = 0; i < recording.onsetCount; ++i)
        std::printf("onset %lld\n", static_cast<long long>(recording.onsets[i]));
    std::printf("frames %lld\n", static_cast<long long>(recording.frames));
    for (const auto& [atNs, frames] : reopened)
        std::printf("reopened %lld %lld\n", static_cast<long long>(atNs),
                    static_cast<long long>(frames));
    machine.print();
    if (raw) {
        const auto kept = std::min<std::size_t>(
            recording.audio.size(), static_cast<std::size_t>(recording.frames) * kCableChannels);
        const bool written =
            std::fwrite(recording.audio.data(), sizeof(int16_t), kept, raw) == kept;
        if (std::fclose(raw) != 0 || !written) {
            std::fprintf(stderr, "cable_recorder: cannot write %s\n", rawPath.c_str());
            return 1;
        }
    }
    // A capture that stopped delivering (a stream stuck after an overrun) is not a recording of
    // the cable; a server stopped for a moment costs a fraction of a per cent.
    if (static_cast<double>(recording.frames) < kMinDeliveredShare * recordedS * kCableRate) {
        std::fprintf(stderr, "cable_recorder: the capture delivered %lld frames in %.1f s\n",
                     static_cast<long long>(recording.frames), recordedS);
        return 3;
    }
    return 0;
}
