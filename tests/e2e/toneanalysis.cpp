#include "toneanalysis.h"

#include <QtEndian>

#include <cmath>

namespace {

constexpr double kFullScale = 32768.0;
constexpr double kPi = 3.14159265358979323846;

} // namespace

QVector<double> channelOf(const QByteArray& interleaved, int channels, int channel) {
    QVector<double> out;
    const int frames = interleaved.size() / (2 * channels);
    out.reserve(frames);
    for (int i = 0; i < frames; ++i) {
        const char* at = interleaved.constData() + 2 * (i * channels + channel);
        out.append(qFromLittleEndian<qint16>(at) / kFullScale);
    }
    return out;
}

double toneAmplitude(const QVector<double>& samples, double hz, int sampleRate) {
    const int n = samples.size();
    if (n < 2)
        return 0.0;
    const double coefficient = 2.0 * std::cos(2.0 * kPi * hz / sampleRate);
    double s1 = 0.0;
    double s2 = 0.0;
    double windowSum = 0.0;
    for (int i = 0; i < n; ++i) {
        const double window = 0.5 - 0.5 * std::cos(2.0 * kPi * i / (n - 1));
        windowSum += window;
        const double s0 = samples.at(i) * window + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return 2.0 * std::sqrt(std::max(power, 0.0)) / windowSum;
}

double dominantHz(const QVector<double>& samples, int sampleRate, double lowHz, double highHz,
                  double stepHz) {
    double best = lowHz;
    double bestAmplitude = -1.0;
    for (double hz = lowHz; hz <= highHz; hz += stepHz) {
        const double amplitude = toneAmplitude(samples, hz, sampleRate);
        if (amplitude > bestAmplitude) {
            bestAmplitude = amplitude;
            best = hz;
        }
    }
    return best;
}

double rms(const QVector<double>& samples) {
    if (samples.isEmpty())
        return 0.0;
    double sum = 0.0;
    for (double s : samples)
        sum += s * s;
    return std::sqrt(sum / samples.size());
}

QVector<double> loudestStretch(const QVector<double>& samples, int length) {
    QVector<double> best;
    double bestEnergy = -1.0;
    for (int start = 0; start + length <= samples.size(); start += length) {
        const QVector<double> stretch = samples.mid(start, length);
        const double energy = rms(stretch);
        if (energy > bestEnergy) {
            bestEnergy = energy;
            best = stretch;
        }
    }
    return best;
}
