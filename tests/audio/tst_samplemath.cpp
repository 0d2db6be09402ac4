#include "samplemath.h"

#include <QtTest>

#include <cmath>
#include <vector>

namespace {

QByteArray samplesToBytes(const std::vector<qint16>& samples) {
    return QByteArray(reinterpret_cast<const char*>(samples.data()),
                      static_cast<int>(samples.size() * sizeof(qint16)));
}

std::vector<qint16> sine(int count, double amplitude, double cyclesPerSample) {
    std::vector<qint16> samples(count);
    for (int i = 0; i < count; ++i)
        samples[i] = static_cast<qint16>(
            std::lround(amplitude * std::sin(2.0 * M_PI * cyclesPerSample * i)));
    return samples;
}

} // namespace

class TestSampleMath : public QObject {
    Q_OBJECT

private slots:
    void speakerGetsTheChosenReceiver_data() {
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray frame = QByteArray::fromHex("01020304");
        QTest::newRow("both receivers") << frame << 0 << frame;
        QTest::newRow("RX1: right on both") << frame << 1 << QByteArray::fromHex("03040304");
        QTest::newRow("RX2: left on both") << frame << 2 << QByteArray::fromHex("01020102");
        QTest::newRow("mode 5: nothing") << frame << 5 << QByteArray();
        QTest::newRow("mode -1: nothing") << frame << -1 << QByteArray();
        QTest::newRow("two frames, RX1") << QByteArray::fromHex("0102030405060708") << 1
                                         << QByteArray::fromHex("0304030407080708");
        QTest::newRow("two frames, RX2") << QByteArray::fromHex("0102030405060708") << 2
                                         << QByteArray::fromHex("0102010205060506");
        QTest::newRow("partial frame, RX1 reads zeros")
            << QByteArray::fromHex("01020304050607") << 1
            << QByteArray::fromHex("0304030407000700");
        QTest::newRow("partial frame, RX2")
            << QByteArray::fromHex("0102030405") << 2 << QByteArray::fromHex("0102010205000500");
        QTest::newRow("empty block") << QByteArray() << 1 << QByteArray();
    }
    void speakerGetsTheChosenReceiver() {
        QFETCH(QByteArray, block);
        QFETCH(int, mode);
        QFETCH(QByteArray, expected);
        QCOMPARE(speakerBlock(block, mode).toHex(), expected.toHex());
    }

    void blockLevels_data() {
        QTest::addColumn<QByteArray>("samples");
        QTest::addColumn<float>("expectedDb");
        QTest::addColumn<float>("tolerance");
        QTest::newRow("silence") << samplesToBytes(std::vector<qint16>(1024, 0)) << -250.3f
                                 << 0.05f;
        QTest::newRow("full scale")
            << samplesToBytes(std::vector<qint16>(1024, 32767)) << 0.0f << 1e-5f;
        QTest::newRow("negative full scale is above 0 dB")
            << samplesToBytes(std::vector<qint16>(1024, -32768)) << 0.000265f << 1e-5f;
        QTest::newRow("sine 16384")
            << samplesToBytes(sine(4800, 16384, 1000.0 / 48000)) << -9.03f << 0.02f;
        QTest::newRow("one sample of 3277") << samplesToBytes({3277}) << -20.0f << 0.01f;
        QTest::newRow("tiny but not silent") << samplesToBytes({1}) << -90.31f << 0.01f;
    }
    void blockLevels() {
        QFETCH(QByteArray, samples);
        QFETCH(float, expectedDb);
        QFETCH(float, tolerance);
        const float level =
            blockLevelDb(reinterpret_cast<const qint16*>(samples.constData()), samples.size() / 2);
        QVERIFY2(std::fabs(level - expectedDb) <= tolerance,
                 qPrintable(QString("level %1 dB, expected %2").arg(level).arg(expectedDb)));
    }

    void stereoAndStridedLevels() {
        const std::vector<qint16> mono = sine(9600, 16384, 1000.0 / 48000);
        std::vector<qint16> stereo;
        for (qint16 s : mono)
            stereo.insert(stereo.end(), {s, 32767});
        const int frames = static_cast<int>(mono.size());
        QCOMPARE(blockLevelDb(stereo.data(), frames, 2), blockLevelDb(mono.data(), frames));
        const StereoLevels levels = stereoBlockLevelDb(stereo.data(), frames);
        QCOMPARE(levels.left, blockLevelDb(mono.data(), frames));
        QCOMPARE(levels.right, 0.0f);
    }

    void smoothingRisesAndFallsAtTheirOwnPace_data() {
        QTest::addColumn<float>("stored");
        QTest::addColumn<float>("level");
        QTest::addColumn<float>("expected");
        QTest::newRow("silence from -30") << -30.0f << -250.3f << -140.15f;
        QTest::newRow("full scale from -30") << -30.0f << 0.0f << -9.0f;
        QTest::newRow("equal level stays") << -20.0f << -20.0f << -20.0f;
        QTest::newRow("small rise") << -20.0f << -10.0f << -13.0f;
        QTest::newRow("small fall") << -10.0f << -20.0f << -15.0f;
    }
    void smoothingRisesAndFallsAtTheirOwnPace() {
        QFETCH(float, stored);
        QFETCH(float, level);
        QFETCH(float, expected);
        const float smoothed = smoothLevel(stored, level, 0.7f, 0.5f);
        QVERIFY2(std::fabs(smoothed - expected) < 0.01f, qPrintable(QString::number(smoothed)));
    }
};

QTEST_APPLESS_MAIN(TestSampleMath)
#include "tst_samplemath.moc"
