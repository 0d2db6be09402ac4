#include "wavfile.h"

#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

namespace {

QByteArray samples(std::initializer_list<qint16> values) {
    QByteArray out;
    for (qint16 value : values) {
        char bytes[2];
        qToLittleEndian(value, bytes);
        out.append(bytes, 2);
    }
    return out;
}

} // namespace

class TestWavFile : public QObject {
    Q_OBJECT

private slots:
    void headerIsCanonical() {
        // Sizes 9600 + 36 and 9600; format chunk of 16: PCM, mono, 48000 Hz, 96000 bytes/s,
        // 2 bytes per frame, 16 bits.
        QCOMPARE(wavHeader(48000, 1, 9600).toHex(' '),
                 (QByteArray("RIFF") + QByteArray::fromHex("a4250000") + "WAVEfmt " +
                  QByteArray::fromHex("10000000 0100 0100 80bb0000 00770100 0200 1000") + "data" +
                  QByteArray::fromHex("80250000"))
                     .toHex(' '));
    }

    void writtenFileReadsBack() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("rec.wav"));
        {
            WavWriter writer(path, 8000, 1);
            QVERIFY(writer.isOpen());
            writer.append(samples({1, -2, 3}));
            writer.append(QByteArray("\x04\x00\x05", 3)); // the stray byte is dropped
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QString error;
        const std::optional<WavAudio> audio = parseWav(file.readAll(), &error);
        QVERIFY2(audio, qPrintable(error));
        QCOMPARE(audio->sampleRate, 8000);
        QCOMPARE(audio->channels, 1);
        QCOMPARE(audio->samples, samples({1, -2, 3, 4}));
    }

    void monoIsSpreadToBothChannels() {
        WavAudio mono{8000, 1, samples({7, -7})};
        QCOMPARE(toStereo(mono), samples({7, 7, -7, -7}));
        WavAudio stereo{8000, 2, samples({1, 2})};
        QCOMPARE(toStereo(stereo), samples({1, 2}));
    }

    void skipsUnknownChunksAndTrimsPartialFrames() {
        QByteArray file = wavHeader(44100, 2, 0).left(36);
        file.append("LIST");
        file.append(QByteArray("\x03\x00\x00\x00"
                               "abc\x00",
                               8)); // odd size, padded
        file.append("data");
        file.append(QByteArray("\x06\x00\x00\x00", 4));
        file.append(samples({1, 2, 3}));
        QString error;
        const std::optional<WavAudio> audio = parseWav(file, &error);
        QVERIFY2(audio, qPrintable(error));
        QCOMPARE(audio->channels, 2);
        QCOMPARE(audio->samples, samples({1, 2}));
    }

    void rejectsWhatItCannotPlay_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("reason");
        QByteArray floatFormat = wavHeader(48000, 2, 0);
        floatFormat[20] = 3; // IEEE float
        QByteArray eightBit = wavHeader(48000, 2, 0);
        eightBit[34] = 8; // bits per sample
        QByteArray sixChannels = wavHeader(48000, 6, 0);
        QTest::newRow("empty") << QByteArray() << "not a RIFF/WAVE file";
        QTest::newRow("text") << QByteArray("hello world, not audio") << "not a RIFF/WAVE file";
        QTest::newRow("float") << floatFormat << "only 16-bit PCM is supported";
        QTest::newRow("8 bit") << eightBit << "only 16-bit PCM is supported";
        QTest::newRow("6 channels") << sixChannels << "only mono or stereo is supported";
        QTest::newRow("no data") << wavHeader(48000, 2, 0).left(36) << "no audio data";
        QTest::newRow("data first")
            << QByteArray("RIFF\0\0\0\0WAVEdata\0\0\0\0", 20) << "data chunk before format chunk";
    }
    void rejectsWhatItCannotPlay() {
        QFETCH(QByteArray, file);
        QString error;
        QVERIFY(!parseWav(file, &error));
        QTEST(error, "reason");
    }
};

QTEST_APPLESS_MAIN(TestWavFile)
#include "tst_wavfile.moc"
