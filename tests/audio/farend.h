#pragma once

// Test support: the other ends of the audio server's cables, reached through PortAudio like any
// other software on the machine would, and a tone detector.

#include <QByteArray>
#include <QCoreApplication>
#include <QProcess>
#include <QString>
#include <QtGlobal>

#include <portaudio.h>

#include <atomic>
#include <cmath>
#include <vector>

namespace farend {

constexpr double kRate = 96000.0;

// Index of the ALSA device called `name` with channels in the given direction, or -1.
inline int deviceIndex(const char* name, bool capture) {
    for (int i = 0; i < Pa_GetDeviceCount(); ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (info && qstrcmp(info->name, name) == 0 &&
            (capture ? info->maxInputChannels : info->maxOutputChannels) > 0)
            return i;
    }
    return -1;
}

// Records interleaved 16-bit frames from a capture device into a buffer sized in advance.
class Recorder {
public:
    Recorder(const char* device, int channels, double seconds)
        : channels(channels)
        , samples(static_cast<size_t>(seconds * kRate) * channels) {
        PaStreamParameters in{};
        in.device = deviceIndex(device, true);
        in.channelCount = channels;
        in.sampleFormat = paInt16;
        in.suggestedLatency =
            in.device >= 0 ? Pa_GetDeviceInfo(in.device)->defaultLowInputLatency : 0.0;
        if (in.device >= 0 && Pa_OpenStream(&stream, &in, nullptr, kRate, 1024, paClipOff,
                                            &Recorder::callback, this) == paNoError)
            Pa_StartStream(stream);
    }
    ~Recorder() { stop(); }
    bool isRecording() const { return stream != nullptr; }
    void stop() {
        if (stream) {
            Pa_StopStream(stream);
            Pa_CloseStream(stream);
            stream = nullptr;
        }
    }
    int frames() const { return written.load() / channels; }
    // Samples of one channel, from frame `from` on.
    std::vector<qint16> channel(int index, int from = 0) const {
        std::vector<qint16> out;
        for (int f = from; f < frames(); ++f)
            out.push_back(samples[static_cast<size_t>(f * channels + index)]);
        return out;
    }

private:
    static int callback(const void* input, void*, unsigned long frameCount,
                        const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* user) {
        auto* self = static_cast<Recorder*>(user);
        const auto* in = static_cast<const qint16*>(input);
        const int at = self->written.load();
        const int n = std::min<int>(static_cast<int>(frameCount) * self->channels,
                                    static_cast<int>(self->samples.size()) - at);
        std::copy(in, in + n, self->samples.begin() + at);
        self->written.store(at + n);
        return paContinue;
    }

    int channels;
    std::vector<qint16> samples;
    std::atomic<int> written{0};
    PaStream* stream = nullptr;
};

// Plays a mono sine to a playback device until destroyed.
class TonePlayer {
public:
    TonePlayer(const char* device, double frequency, double amplitude)
        : step(2.0 * M_PI * frequency / kRate)
        , amplitude(amplitude) {
        PaStreamParameters out{};
        out.device = deviceIndex(device, false);
        out.channelCount = 1;
        out.sampleFormat = paInt16;
        out.suggestedLatency =
            out.device >= 0 ? Pa_GetDeviceInfo(out.device)->defaultLowOutputLatency : 0.0;
        if (out.device >= 0 && Pa_OpenStream(&stream, nullptr, &out, kRate, 1024, paClipOff,
                                             &TonePlayer::callback, this) == paNoError)
            Pa_StartStream(stream);
    }
    ~TonePlayer() {
        if (stream) {
            Pa_StopStream(stream);
            Pa_CloseStream(stream);
        }
    }
    bool isPlaying() const { return stream != nullptr; }

private:
    static int callback(const void*, void* output, unsigned long frameCount,
                        const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* user) {
        auto* self = static_cast<TonePlayer*>(user);
        auto* out = static_cast<qint16*>(output);
        for (unsigned long i = 0; i < frameCount; ++i, self->phase += self->step)
            out[i] = static_cast<qint16>(std::lround(self->amplitude * std::sin(self->phase)));
        self->phase = std::fmod(self->phase, 2.0 * M_PI);
        return paContinue;
    }

    double step;
    double amplitude;
    double phase = 0.0;
    PaStream* stream = nullptr;
};

// Amplitude of the component at `frequency` (Goertzel), in sample units.
inline double toneAmplitude(const std::vector<qint16>& samples, double frequency, double rate) {
    if (samples.empty())
        return 0.0;
    const double coefficient = 2.0 * std::cos(2.0 * M_PI * frequency / rate);
    double s1 = 0.0;
    double s2 = 0.0;
    for (qint16 x : samples) {
        const double s0 = x + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return 2.0 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(samples.size());
}

// Ports this process holds open on the JACK server: what its ALSA streams leave behind.
inline int jackPortsOfThisProcess() {
    QProcess lsp;
    lsp.start("jack_lsp", {});
    if (!lsp.waitForFinished(5000))
        return -1;
    const QString marker = QString(".%1.").arg(QCoreApplication::applicationPid());
    int count = 0;
    for (const QByteArray& line : lsp.readAllStandardOutput().split('\n'))
        count += QString::fromUtf8(line).contains(marker) ? 1 : 0;
    return count;
}

} // namespace farend
