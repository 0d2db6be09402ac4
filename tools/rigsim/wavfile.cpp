// SPDX-License-Identifier: GPL-3.0-or-later

#include "wavfile.h"

#include <QtEndian>

namespace {

constexpr int kHeaderBytes = 44;
constexpr int kChunkHeaderBytes = 8;
constexpr int kFmtMinBytes = 16;
constexpr quint16 kFormatPcm = 1;
constexpr quint16 kBitsPerSample = 16;

quint16 u16At(const QByteArray& data, int offset) {
    return qFromLittleEndian<quint16>(data.constData() + offset);
}

quint32 u32At(const QByteArray& data, int offset) {
    return qFromLittleEndian<quint32>(data.constData() + offset);
}

void putU16(QByteArray& out, quint16 value) {
    char bytes[2];
    qToLittleEndian(value, bytes);
    out.append(bytes, 2);
}

void putU32(QByteArray& out, quint32 value) {
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

std::optional<WavAudio> fail(QString* error, const QString& reason) {
    if (error != nullptr)
        *error = reason;
    return std::nullopt;
}

} // namespace

std::optional<WavAudio> parseWav(const QByteArray& file, QString* error) {
    if (file.size() < 12 || !file.startsWith("RIFF") || file.mid(8, 4) != "WAVE")
        return fail(error, QStringLiteral("not a RIFF/WAVE file"));
    WavAudio audio;
    bool haveFormat = false;
    qint64 offset = 12;
    while (offset + kChunkHeaderBytes <= file.size()) {
        const QByteArray id = file.mid(static_cast<int>(offset), 4);
        const qint64 size = u32At(file, static_cast<int>(offset) + 4);
        const qint64 body = offset + kChunkHeaderBytes;
        const qint64 available = std::min<qint64>(size, file.size() - body);
        if (id == "fmt ") {
            if (available < kFmtMinBytes)
                return fail(error, QStringLiteral("format chunk too short"));
            const int at = static_cast<int>(body);
            if (u16At(file, at) != kFormatPcm || u16At(file, at + 14) != kBitsPerSample)
                return fail(error, QStringLiteral("only 16-bit PCM is supported"));
            audio.channels = u16At(file, at + 2);
            audio.sampleRate = static_cast<int>(u32At(file, at + 4));
            if (audio.channels < 1 || audio.channels > 2)
                return fail(error, QStringLiteral("only mono or stereo is supported"));
            haveFormat = true;
        } else if (id == "data") {
            if (!haveFormat)
                return fail(error, QStringLiteral("data chunk before format chunk"));
            const qint64 frameBytes = 2 * audio.channels;
            audio.samples = file.mid(static_cast<int>(body),
                                     static_cast<int>(available / frameBytes * frameBytes));
            return audio;
        }
        // Chunks are padded to an even length.
        offset = body + size + (size & 1);
    }
    return fail(error, QStringLiteral("no audio data"));
}

QByteArray toStereo(const WavAudio& audio) {
    if (audio.channels == 2)
        return audio.samples;
    QByteArray stereo;
    stereo.reserve(audio.samples.size() * 2);
    for (int i = 0; i + 1 < audio.samples.size(); i += 2) {
        stereo.append(audio.samples.constData() + i, 2);
        stereo.append(audio.samples.constData() + i, 2);
    }
    return stereo;
}

QByteArray wavHeader(int sampleRate, int channels, quint32 dataBytes) {
    const quint16 blockAlign = static_cast<quint16>(channels * 2);
    QByteArray header;
    header.reserve(kHeaderBytes);
    header.append("RIFF");
    putU32(header, dataBytes + kHeaderBytes - 8);
    header.append("WAVEfmt ");
    putU32(header, kFmtMinBytes);
    putU16(header, kFormatPcm);
    putU16(header, static_cast<quint16>(channels));
    putU32(header, static_cast<quint32>(sampleRate));
    putU32(header, static_cast<quint32>(sampleRate) * blockAlign);
    putU16(header, blockAlign);
    putU16(header, kBitsPerSample);
    header.append("data");
    putU32(header, dataBytes);
    return header;
}

WavWriter::WavWriter(const QString& path, int sampleRate_, int channels_)
    : file(path)
    , sampleRate(sampleRate_)
    , channels(channels_) {
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(wavHeader(sampleRate, channels, 0));
}

WavWriter::~WavWriter() {
    finish();
}

void WavWriter::append(const QByteArray& samples) {
    if (!file.isOpen())
        return;
    // Only whole samples, so the file stays well-formed whatever arrives.
    const int whole = samples.size() & ~1;
    file.write(samples.constData(), whole);
    written += static_cast<quint32>(whole);
}

void WavWriter::finish() {
    if (!file.isOpen())
        return;
    file.seek(0);
    file.write(wavHeader(sampleRate, channels, written));
    file.close();
}
