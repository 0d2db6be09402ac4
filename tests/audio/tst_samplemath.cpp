// SPDX-License-Identifier: GPL-3.0-or-later

#include "audioplatform.h"
#include "devicecatalogue.h"
#include "hsvumeter.h"
#include "samplemath.h"
#include "standinsoundcard.h"

#include <QtTest>

using Samples = QVector<qint16>;
Q_DECLARE_METATYPE(StreamFormat)

static const QString kWasapi = ".*(WASAPI).*";

class TestSampleMath : public QObject {
    Q_OBJECT

private slots:
    void speakerCopy_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("out"); // hex, or the untouched "z"s when nothing is copied
        QTest::newRow("RX1: right sample") << 1 << QByteArray("0304030400000000");
        QTest::newRow("RX2: left sample") << 2 << QByteArray("0102010205000500");
        QTest::newRow("RX1+RX2: no copy") << 0 << QByteArray("zzzzzzzz");
    }
    void speakerCopy() {
        QFETCH(int, mode);
        const QByteArray in = QByteArray::fromHex("0102030405"); // a frame and a partial one
        QByteArray copy(speakerCopyBytes(in.size()), 'z');
        const bool copied =
            copyForSpeaker(in.constData(), in.size(), ReceiverMode(mode), copy.data());
        QTEST(copied ? copy.toHex() : copy, "out");
    }

    void captureReduction_data() {
        QTest::addColumn<Samples>("in");
        QTest::addColumn<Samples>("out");
        QTest::newRow("8 samples") << Samples{1, 2, 3, 4, 5, 6, 7, 8} << Samples{1, 2, 5, 6};
        QTest::newRow("6 samples: both of a partial group")
            << Samples{1, 2, 3, 4, 5, 6} << Samples{1, 2, 5, 6};
        QTest::newRow("5 samples: zero-completed")
            << Samples{1, 2, 3, 4, -5} << Samples{1, 2, -5, 0};
    }
    void captureReduction() {
        QFETCH(Samples, in);
        Samples out(reducedCaptureBytes(in.size()) / 2, 0x5a5a);
        reduceCapture(in.constData(), in.size(), reinterpret_cast<char*>(out.data()));
        QTEST(out, "out");
    }

    // From -30 dB: the playback meter smooths the RMS levels of the left and right samples of one
    // write (left first: silence, which reads -250.31 dB, falling by half; full scale rising by
    // 70 %); the capture meter the samples before the 2:1 reduction (every other pair full scale,
    // -3.01 dB), which here keeps only silent ones, and hands that block over to the worker.
    void soundCardMetersItsBlocks() {
        StandInSoundCard card;
        QVERIFY(card.startOnItsDevices({streamFormatForHost(48000, 128), {}}));
        card.StreamOut(QByteArray::fromHex("0000ff7f").repeated(256));
        card.pushCapture(Samples{0, 0, 32767, 32767, 0, 0, 32767, 32767});
        QStringList readings;
        for (float level :
             {card.playbackMeter()->valueLeft.load(), card.playbackMeter()->valueRight.load(),
              card.captureMeter()->value.load()})
            readings << QString::number(level, 'f', 1);
        QCOMPARE(readings, QStringList({"-140.2", "-9.0", "-11.1"}));
        QCOMPARE(card.latestCapturedData(), QByteArray(8, '\0'));
    }

    // A datagram whose length is not a whole number of frames: its whole frames are played in
    // their place, the odd bytes are dropped, and the next datagram follows it with its channels
    // where they were (the left a steady 1000, the right counting the host's frames).
    void aDatagramWithAPartialFrame() {
        StandInSoundCard card;
        QVERIFY(card.startOnItsDevices({streamFormatForHost(48000, 128), {}}));
        for (int d = 0, n = 0; d < 400; ++d) {
            Samples frames;
            for (int i = 0; i < 128; ++i, ++n)
                frames << 1000 << qint16(n % 20000);
            QByteArray datagram(reinterpret_cast<const char*>(frames.constData()), 512);
            card.StreamOut(d == 300 ? datagram + "\x7f\x7f" : datagram);
        }
        const QByteArray played = card.played();
        const auto* samples = reinterpret_cast<const qint16*>(played.constData());
        int steps = 0;
        // From the middle of what was played (well after the audio started), until the datagrams
        // end; the resampler rings within a few percent.
        for (int i = played.size() / 8 * 2; i < played.size() / 2 && samples[i] != 0; i += 2) {
            QVERIFY2(std::abs(samples[i] - 1000) <= 50, qPrintable(QString::number(samples[i])));
            steps += samples[i + 1] == samples[i - 1] + 1 ? 1 : 0;
        }
        QVERIFY2(steps > 15000, qPrintable(QString::number(steps)));
    }

    // A host's description sizes the card's buffers: one beyond the bounds is refused, as is one
    // with no rate.
    void cardBuffers_data() {
        QTest::addColumn<StreamFormat>("format");
        QTest::addColumn<int>("multiplier"); // of both buffers
        QTest::addColumn<bool>("accepted");
        QTest::newRow("largest capture buffer") << StreamFormat{96000, 8, 65536} << 1 << true;
        QTest::newRow("capture buffer over") << StreamFormat{96000, 8, 32769} << 2 << false;
        QTest::newRow("largest playback buffer") << StreamFormat{96000, 65536, 8} << 8 << true;
        QTest::newRow("playback block over") << StreamFormat{96000, 65537, 8} << 1 << false;
        QTest::newRow("no rate") << StreamFormat{0, 2048, 2048} << 1 << false;
    }
    void cardBuffers() {
        QFETCH(StreamFormat, format);
        QFETCH(int, multiplier);
        CardSettings buffers;
        buffers.frameOutMult = buffers.frameInMult = multiplier;
        StandInSoundCard card;
        QTEST(card.startOnItsDevices({format, buffers}), "accepted");
    }

    // The sound system is restarted to read its device list again, so that a device plugged back
    // in under another index is opened by its name, but never under open streams, and not for the
    // first list, which it has just read.
    void deviceListReadAgain_data() {
        QTest::addColumn<bool>("streaming");
        QTest::addColumn<int>("restarts");
        QTest::addColumn<int>("opened"); // the capture's index at the next start
        QTest::newRow("no stream open") << false << 1 << 5;
        QTest::newRow("streams open") << true << 0 << 0;
    }
    void deviceListReadAgain() {
        QFETCH(bool, streaming);
        const CardConfig format{streamFormatForHost(48000, 128), {}};
        StandInSoundCard card;
        card.findOutputDevice(card.kCable);
        card.findInputDevice(card.kCapture);
        QVERIFY(!streaming || card.StartAudio(format));
        card.captureIndex = 5;
        card.EnumerateAudioDevices();
        QTEST(card.restarts.load(), "restarts");
        card.StopAudio();
        QVERIFY(card.startOnItsDevices(format));
        QTEST(card.openedCapture.load(), "opened");
    }

    void captureBuffer_data() {
        QTest::addColumn<int>("frameSizeIn");
        QTest::addColumn<int>("multiplier");
        QTest::addColumn<long long>("frames");
        QTest::newRow("raised to the minimum") << 1024 << 1 << 4096LL;
        QTest::newRow("above the minimum") << 2048 << 3 << 6144LL;
        QTest::newRow("raised in whole frames") << 1000 << 2 << 5000LL;
        QTest::newRow("no frames") << 0 << 4 << 0LL;
    }
    void captureBuffer() {
        QFETCH(int, frameSizeIn);
        QFETCH(int, multiplier);
        QTEST(captureBufferFrames(frameSizeIn, multiplier), "frames");
    }

    void oneDevice_data() {
        QTest::addColumn<QString>("hostApi");
        QTest::addColumn<int>("in");
        QTest::addColumn<int>("out");
        QTest::addColumn<double>("rate");
        QTest::addColumn<QString>("indices"); // in the capture list, in the playback list
        QTest::newRow("no output channels") << "WASAPI" << 2 << 0 << 48000.0 << "0 -1";
        QTest::newRow("no input channels") << "WASAPI" << 0 << 8 << 96000.0 << "-1 0";
        QTest::newRow("no channels at all") << "WASAPI" << 0 << 0 << 48000.0 << "0 0";
        QTest::newRow("duplex") << "WASAPI" << 2 << 2 << 48000.0 << "-1 -1";
        QTest::newRow("playback at 44.1 kHz") << "WASAPI" << 0 << 2 << 44100.0 << "-1 -1";
        QTest::newRow("capture below 48 kHz") << "WASAPI" << 1 << 0 << 47999.9 << "-1 -1";
        QTest::newRow("host API in lower case") << "Windows wasapi" << 0 << 2 << 48e3 << "-1 0";
        QTest::newRow("another host API") << "MME" << 0 << 2 << 48000.0 << "-1 -1";
    }
    void oneDevice() {
        QFETCH(QString, hostApi);
        QFETCH(int, in);
        QFETCH(int, out);
        QFETCH(double, rate);
        const DeviceCatalogue c = catalogueDevices({{"D", hostApi, in, out, rate}}, kWasapi);
        QTEST(
            QString("%1 %2").arg(c.inputDevices.value("D", -1)).arg(c.outputDevices.value("D", -1)),
            "indices");
    }

    // A device's index is its position; a later device of the same (case-sensitive) name wins.
    void laterDeviceOfOneNameWins() {
        const DeviceDescription same{"Same", "WASAPI", 0, 2, 48000.0};
        const DeviceCatalogue c =
            catalogueDevices({same, {"same", "WASAPI", 0, 2, 48e3}, same}, kWasapi);
        QCOMPARE(c.outputDevices, (QMap<QString, int>{{"Same", 2}, {"same", 1}}));
    }
};

QTEST_GUILESS_MAIN(TestSampleMath)
#include "tst_samplemath.moc"
