#pragma once

#include <QByteArray>
#include <QVector>

// One channel of interleaved 16-bit little-endian PCM, scaled to [-1, 1).
QVector<double> channelOf(const QByteArray& interleaved, int channels, int channel);

// Amplitude (peak, full scale 1.0) of the component at `hz` (Goertzel over the whole block,
// Hann-windowed so a neighbouring tone does not leak into it).
double toneAmplitude(const QVector<double>& samples, double hz, int sampleRate);

// The frequency with the strongest component between `lowHz` and `highHz`, in `stepHz` steps.
double dominantHz(const QVector<double>& samples, int sampleRate, double lowHz, double highHz,
                  double stepHz);

// Root mean square, full scale 1.0.
double rms(const QVector<double>& samples);

// The `length` samples with the highest energy, in whole `length` windows: where a tone that was
// played for a while sits in a longer recording.
QVector<double> loudestStretch(const QVector<double>& samples, int length);
