#include "rxmeter.h"
#include "tonegenerator.h"

#include <QtEndian>
#include <QtTest>

#include <cmath>
#include <vector>

namespace {

std::vector<double> channel(const QByteArray& frames, int which) {
    std::vector<double> out;
    for (int i = which * 2; i + 1 < frames.size(); i += 4)
        out.push_back(qFromLittleEndian<qint16>(frames.constData() + i));
    return out;
}

// Power of one frequency by correlation: how strongly `hz` is present in the samples.
double magnitudeAt(const std::vector<double>& samples, double hz, int sampleRate) {
    double re = 0.0;
    double im = 0.0;
    for (std::size_t n = 0; n < samples.size(); ++n) {
        const double phase = 2.0 * M_PI * hz * static_cast<double>(n) / sampleRate;
        re += samples[n] * std::cos(phase);
        im += samples[n] * std::sin(phase);
    }
    return 2.0 * std::hypot(re, im) / static_cast<double>(samples.size());
}

QByteArray monoOf(const QByteArray& stereo) {
    QByteArray mono;
    for (int i = 0; i + 3 < stereo.size(); i += 4)
        mono.append(stereo.constData() + i, 2);
    return mono;
}

} // namespace

class TestToneGenerator : public QObject {
    Q_OBJECT

private slots:
    void eachChannelCarriesItsOwnTone() {
        constexpr int rate = 48000;
        ToneGenerator tones(1000.0, 1500.0, rate);
        const QByteArray frames = tones.nextFrames(rate / 10);
        QCOMPARE(frames.size(), rate / 10 * 4);
        const std::vector<double> left = channel(frames, 0);
        const std::vector<double> right = channel(frames, 1);
        const double full = 0.5 * 32767.0;
        QVERIFY(std::abs(magnitudeAt(left, 1000.0, rate) - full) < 50.0);
        QVERIFY(std::abs(magnitudeAt(right, 1500.0, rate) - full) < 50.0);
        QVERIFY(magnitudeAt(left, 1500.0, rate) < 50.0);
        QVERIFY(magnitudeAt(right, 1000.0, rate) < 50.0);
    }

    void blocksJoinWithoutAPhaseJump() {
        ToneGenerator whole(440.0, 660.0, 8000);
        ToneGenerator pieces(440.0, 660.0, 8000);
        const QByteArray expected = whole.nextFrames(1000);
        QByteArray joined;
        for (int n : {1, 99, 512, 388})
            joined += pieces.nextFrames(n);
        QCOMPARE(joined, expected);
    }

    void meterReadsTheToneLevelAndCountsDatagrams() {
        ToneGenerator tones(1000.0, 1000.0, 48000, 0.5);
        RxMeter meter;
        meter.add(monoOf(tones.nextFrames(4800)));
        QCOMPARE(meter.samples(), qint64(4800));
        QCOMPARE(meter.datagrams(), qint64(1));
        // A sine at half scale: peak -6.0 dBFS, rms 3 dB lower.
        QVERIFY2(std::abs(meter.peakDbfs() - (-6.02)) < 0.05,
                 qPrintable(QString::number(meter.peakDbfs())));
        QVERIFY2(std::abs(meter.rmsDbfs() - (-9.03)) < 0.05,
                 qPrintable(QString::number(meter.rmsDbfs())));
        QCOMPARE(meter.largestDatagram(), 9600);
        meter.reset();
        QCOMPARE(meter.samples(), qint64(0));
        QCOMPARE(meter.largestDatagram(), 0);
        QVERIFY(std::isinf(meter.rmsDbfs()) && meter.rmsDbfs() < 0);

        // Empty and odd datagrams count; a stray byte is no sample.
        meter.add(QByteArray());
        meter.add(QByteArray("\xff\x7f\x00", 3)); // one whole sample and a stray byte
        meter.add(QByteArray(6, '\0'));
        QCOMPARE(meter.datagrams(), qint64(3));
        QCOMPARE(meter.samples(), qint64(4));
        QCOMPARE(meter.largestDatagram(), 6);
        QVERIFY(std::abs(meter.peakDbfs()) < 0.01);
    }
};

QTEST_APPLESS_MAIN(TestToneGenerator)
#include "tst_tonegenerator.moc"
