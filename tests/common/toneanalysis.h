// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QVector>
#include <QtEndian>

#include <algorithm>
#include <cmath>

// One channel of interleaved 16-bit little-endian PCM, scaled to [-1, 1).
inline QVector<double> channelOf(const QByteArray& interleaved, int channels, int channel) {
    QVector<double> samples;
    for (int at = 2 * channel; at + 1 < interleaved.size(); at += 2 * channels)
        samples << qFromLittleEndian<qint16>(interleaved.constData() + at) / 32768.0;
    return samples;
}

// Peak amplitude (full scale 1.0) of the component at `hz`: a Goertzel filter over the whole
// block, Hann-windowed so that a neighbouring tone does not leak into it. A tone reads at its
// amplitude only within about one 1/duration of `hz`, so this also measures its pitch.
inline double toneAmplitude(const QVector<double>& samples, double hz, int sampleRate) {
    const double coefficient = 2.0 * std::cos(2.0 * M_PI * hz / sampleRate);
    double s1 = 0.0;
    double s2 = 0.0;
    double windowSum = 0.0;
    for (int i = 0; i < samples.size(); ++i) {
        const double window = 0.5 - 0.5 * std::cos(2.0 * M_PI * i / samples.size());
        const double s0 = samples.at(i) * window + coefficient * s1 - s2;
        windowSum += window;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return windowSum > 0.0 ? 2.0 * std::sqrt(std::max(power, 0.0)) / windowSum : 0.0;
}

// The stretch of `length` samples, in steps of a tenth of it, where the tone at `hz` reads
// loudest: where a tone sits in a recording that also holds silence or a gap in the playback.
inline QVector<double> loudestStretch(const QVector<double>& samples, int length, double hz,
                                      int sampleRate) {
    QVector<double> loudest;
    for (int at = 0; at + length <= samples.size(); at += length / 10) {
        const QVector<double> stretch = samples.mid(at, length);
        if (toneAmplitude(stretch, hz, sampleRate) > toneAmplitude(loudest, hz, sampleRate))
            loudest = stretch;
    }
    return loudest;
}
