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
        QTest::addColumn<int>("levelSignals");
        QTest::newRow("8 samples") << 8 << QByteArray::fromHex("ff7fff7fff7fff7f") << 1;
        QTest::newRow("5 samples") << 5 << QByteArray::fromHex("ff7fff7fff7f0000") << 1;
        QTest::newRow("no samples") << 0 << QByteArray() << 0;
    }
    void captureCallbackPublishesThenMeters() {
        QFETCH(int, frameCount);
        QFETCH(QByteArray, expectedBlock);
        QFETCH(int, levelSignals);
        HSPortAudio audio(nullptr);
        QStringList order;
        connect(&audio, &HSPortAudio::inDataReady, this, [&] { order << "block"; });
        connect(audio.vuMeterIn, &HSVUMeter::valueUpdated, this,
                [&](float v) { order << QString("level %1").arg(double(v), 0, 'f', 1); });
        const std::vector<qint16> samples(8, 32767);
        PaStreamCallbackTimeInfo time{};
        const int result = HSPortAudio::captureCallback(
            samples.data(), nullptr, static_cast<unsigned long>(frameCount), &time, 0, &audio);
        QCOMPARE(result, int(paContinue));
        QStringList expectedOrder{"block"};
        if (levelSignals)
            expectedOrder << "level -9.0";
        QCOMPARE(order, expectedOrder);
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
