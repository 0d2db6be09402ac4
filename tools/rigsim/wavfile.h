// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <optional>

// 16-bit PCM audio as read from a WAV file.
struct WavAudio {
    int sampleRate = 0;
    int channels = 0;
    QByteArray samples; // interleaved 16-bit little-endian
};

// The PCM content of a RIFF/WAVE file holding 16-bit mono or stereo; nothing for anything else,
// with the reason in `error`.
std::optional<WavAudio> parseWav(const QByteArray& file, QString* error);

// Interleaved stereo frames: stereo data as is, mono data with each sample on both channels.
QByteArray toStereo(const WavAudio& audio);

// The 44-byte header of a 16-bit PCM WAV file with dataBytes of samples.
QByteArray wavHeader(int sampleRate, int channels, quint32 dataBytes);

// Writes a 16-bit PCM WAV file; the header's sizes are brought up to date on finish().
class WavWriter {
public:
    WavWriter(const QString& path, int sampleRate, int channels);
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    bool isOpen() const { return file.isOpen(); }
    QString errorString() const { return file.errorString(); }
    void append(const QByteArray& samples);
    void finish();
    quint32 dataBytes() const { return written; }

private:
    QFile file;
    int sampleRate;
    int channels;
    quint32 written = 0;
};
