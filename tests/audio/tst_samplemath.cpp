// SPDX-License-Identifier: GPL-3.0-or-later

#include "audioplatform.h"
#include "cardconfig.h"
#include "devicecatalogue.h"
#include "hsvumeter.h"
#include "samplemath.h"

#include <QtTest>

using Samples = QVector<qint16>;

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

    // The "RX buffer" is the least the playout holds, in host frames: "Auto" (x1) asks for none.
    void receiverSetup_data() {
        QTest::addColumn<int>("hostFrameSize");
        QTest::addColumn<int>("multiplier");
        QTest::addColumn<bool>("conceal");
        QTest::addColumn<int>("floorFrames");
        QTest::newRow("Auto: no floor") << 256 << 1 << true << 0;
        QTest::newRow("x2 of 256-frame blocks") << 256 << 2 << true << 512;
        QTest::newRow("x4 of 512-frame blocks, silence for losses") << 512 << 4 << false << 2048;
    }
    void receiverSetup() {
        QFETCH(int, hostFrameSize);
        QFETCH(int, multiplier);
        QFETCH(bool, conceal);
        CardSettings settings;
        settings.frameOutMult = multiplier;
        settings.concealLostAudio = conceal;
        const Receiver::Setup setup =
            ::receiverSetup(cardConfigFor(48000, hostFrameSize, settings));
        QTEST(setup.floorFrames, "floorFrames");
        QCOMPARE(setup.conceal, conceal);
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
