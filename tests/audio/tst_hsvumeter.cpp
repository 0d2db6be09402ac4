#include "hsportaudio.h"
#include "hsvumeter.h"

#include <QtTest>

#include <cmath>
#include <vector>

namespace {

// Stereo frames with a constant left and right sample.
QByteArray frames(int count, qint16 left, qint16 right) {
    std::vector<qint16> samples;
    for (int f = 0; f < count; ++f) {
        samples.push_back(left);
        samples.push_back(right);
    }
    return QByteArray(reinterpret_cast<const char*>(samples.data()), count * 4);
}

} // namespace

// The meters as the sound-card layer drives them, with no stream open: playback levels come from
// StreamOut, the capture level from the capture callback.
class TestHSVUMeter : public QObject {
    Q_OBJECT

private slots:
    // Holding PortAudio open spares each object under test the device scan of its start-up.
    void initTestCase() { QCOMPARE(Pa_Initialize(), paNoError); }
    void cleanupTestCase() { Pa_Terminate(); }

    void playbackMovesLeftAndRightInOneCallLeftFirst() {
        HSPortAudio audio(nullptr);
        audio.frameSizeOut = 256;
        QStringList order;
        connect(audio.vuMeterOut, &HSVUMeter::valueUpdatedLeft, this,
                [&](float v) { order << QString("L %1").arg(double(v), 0, 'f', 1); });
        connect(audio.vuMeterOut, &HSVUMeter::valueUpdatedRight, this,
                [&](float v) { order << QString("R %1").arg(double(v), 0, 'f', 1); });
        QSignalSpy mono(audio.vuMeterOut, &HSVUMeter::valueUpdated);
        QByteArray block = frames(256, 0, 32767);
        audio.StreamOut(block);
        QCOMPARE(order, QStringList({"L -140.2", "R -9.0"}));
        QCOMPARE(mono.count(), 0);
        QCOMPARE(audio.vuMeterIn->value, -30.0f);
    }

    void playbackMetersOnlyTheWrittenFrames_data() {
        QTest::addColumn<int>("frameSize");
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<int>("readings");
        QTest::addColumn<float>("expectedLeft");
        // Twice the write size with a loud second half: only the first half counts.
        QTest::newRow("long block")
            << 256 << (frames(256, 0, 0) + frames(256, 32767, 32767)) << 1 << -140.15f;
        // One loud frame of 256: the rest is silence added by the padding, never bytes past
        // the end of the block (RMS 32767 / 16 is -24.08 dB, smoothed from -30 to -25.86).
        QTest::newRow("short block padded with silence")
            << 256 << frames(1, 32767, 0) << 1 << -25.86f;
        QTest::newRow("empty block") << 256 << QByteArray() << 1 << -140.15f;
        QTest::newRow("no frames to write") << 0 << frames(4, 100, 100) << 0 << -30.0f;
    }
    void playbackMetersOnlyTheWrittenFrames() {
        QFETCH(int, frameSize);
        QFETCH(QByteArray, block);
        QFETCH(float, expectedLeft);
        HSPortAudio audio(nullptr);
        audio.frameSizeOut = frameSize;
        QSignalSpy left(audio.vuMeterOut, &HSVUMeter::valueUpdatedLeft);
        audio.StreamOut(block);
        QTEST(int(left.count()), "readings");
        QVERIFY2(std::fabs(audio.vuMeterOut->valueLeft - expectedLeft) < 0.02f,
                 qPrintable(QString::number(audio.vuMeterOut->valueLeft)));
    }

    void captureCallbackPublishesThenMeters_data() {
        QTest::addColumn<int>("frameCount");
        QTest::addColumn<QByteArray>("expectedBlock");
        QTest::addColumn<QString>("level"); // the meter reading that follows the block
        // Samples s0..s7 are 0x1111, 0x2222, ... : every other pair is kept, a partial pair is
        // completed with zeros.
        QTest::newRow("8 samples") << 8 << QByteArray::fromHex("1111222255556666") << "-11.6";
        QTest::newRow("6 samples") << 6 << QByteArray::fromHex("1111222255556666") << "-13.0";
        QTest::newRow("5 samples") << 5 << QByteArray::fromHex("1111222255550000") << "-14.0";
        QTest::newRow("4 samples") << 4 << QByteArray::fromHex("11112222") << "-15.1";
        QTest::newRow("1 sample") << 1 << QByteArray::fromHex("11110000") << "-21.3";
        QTest::newRow("no samples") << 0 << QByteArray() << QString();
    }
    void captureCallbackPublishesThenMeters() {
        QFETCH(int, frameCount);
        QFETCH(QByteArray, expectedBlock);
        QFETCH(QString, level);
        HSPortAudio audio(nullptr);
        QStringList order;
        connect(&audio, &HSPortAudio::inDataReady, this, [&] { order << "block"; });
        connect(audio.vuMeterIn, &HSVUMeter::valueUpdated, this,
                [&](float v) { order << QString("level %1").arg(double(v), 0, 'f', 1); });
        std::vector<qint16> samples;
        for (int i = 0; i < 8; ++i)
            samples.push_back(static_cast<qint16>(0x1111 * (i + 1)));
        PaStreamCallbackTimeInfo time{};
        const int result = HSPortAudio::captureCallback(
            samples.data(), nullptr, static_cast<unsigned long>(frameCount), &time, 0, &audio);
        QCOMPARE(result, int(paContinue));
        const QStringList expected{"block", "level " + level};
        QCOMPARE(order, level.isEmpty() ? QStringList{"block"} : expected);
        QCOMPARE(audio.latestCapturedData().toHex(), expectedBlock.toHex());
        QCOMPARE(audio.capturedData.toHex(), expectedBlock.toHex());
    }

    void silenceFallsToTheSmoothedFloor() {
        HSPortAudio audio(nullptr);
        const std::vector<qint16> silence(1024, 0);
        PaStreamCallbackTimeInfo time{};
        HSPortAudio::captureCallback(silence.data(), nullptr, 1024, &time, 0, &audio);
        QVERIFY(std::fabs(audio.vuMeterIn->value + 140.15f) < 0.02f);
        // The meter keeps its value; it is not reset by the streams.
        audio.StopAudio();
        QVERIFY(std::fabs(audio.vuMeterIn->value + 140.15f) < 0.02f);
    }
};

QTEST_GUILESS_MAIN(TestHSVUMeter)
#include "tst_hsvumeter.moc"
