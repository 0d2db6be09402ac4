// SPDX-License-Identifier: GPL-3.0-or-later

#include "hsportaudio.h"
#include "logcapture.h"

#include <QtTest>

static const QString kCable = "Line Volume (2- UMX VAC)";
static const QString kCapture = "Line In (UMX VAC)";
static const StreamFormat kFormat = streamFormatForHost(48000, 1024);

// Ports this process holds on the audio server: two per playback stream, one for the capture.
static int serverPorts() {
    QProcess lsp;
    lsp.start("jack_lsp", {});
    lsp.waitForFinished();
    return QString(lsp.readAll()).count(QString(".%1.").arg(QCoreApplication::applicationPid()));
}

// Looks the three devices up (building the catalogue); a wrong capture device is a playback one.
static void choose(HSPortAudio& card, bool wrongCapture = false) {
    card.findOutputDevice(kCable);
    card.findSpeakerDevice("UMX Speaker");
    card.findInputDevice(wrongCapture ? kCable : kCapture);
}

// The real sound card on the project's audio server (scripts/audio-server start).
class TestHSPortAudio : public QObject {
    Q_OBJECT

private slots:
    // The cable's devices are listed; the streams start, also over running ones, the speaker's
    // only while it is on, and capture blocks come reduced to half the buffer's samples.
    void cableDevicesStreamAndCapture() {
        HSPortAudio card;
        choose(card);
        const QStringList in = card.captureDeviceNames(), out = card.playbackDeviceNames();
        QVERIFY(in.contains(kCapture) && out.contains(kCable) && out.contains("UMX Speaker"));
        QObject worker;
        QSet<int> sizes;
        connect(
            &card, &HSSoundCard::inDataReady, &worker,
            [&] { sizes << card.latestCapturedData().size(); }, Qt::QueuedConnection);
        QVERIFY(card.StartAudio(kFormat) && card.StartAudio(kFormat));
        QCOMPARE(serverPorts(), 3);
        QByteArray block(4 * kFormat.frameSizeOut, '\0');
        for (const bool on : {true, false}) {
            card.setSpeakerOn(on);
            card.StreamOut(block);
            QCOMPARE(serverPorts(), on ? 5 : 3);
        }
        QTRY_VERIFY_WITH_TIMEOUT(card.inputLatency() != 0.0f && !sizes.isEmpty(), 10000);
        card.StopAudio();
        QCOMPARE(serverPorts(), 0);
        QCOMPARE(sizes, QSet<int>{4096}); // 4096 frames captured (the minimum), half of them sent
    }

    void failedStartLeavesNothingOpen_data() {
        QTest::addColumn<bool>("wrongCapture");
        QTest::addColumn<int>("hostRate");
        QTest::addColumn<QString>("log"); // what the Error lines name
        QTest::newRow("playback device as capture") << true << 48000 << "";
        QTest::newRow("rate no device plays") << false << 50 << "Error opening AUDIO output";
        QTest::newRow("no rate") << false << 0 << "Audio configuration refused: sampleRate 0";
    }
    void failedStartLeavesNothingOpen() {
        QFETCH(bool, wrongCapture);
        QFETCH(int, hostRate);
        HSPortAudio card;
        choose(card, wrongCapture);
        LogCapture capture;
        QVERIFY(!card.StartAudio(streamFormatForHost(hostRate, 1024)));
        QStringList errors = capture.lines().filter(" Error: PortAudio: ");
        QTEST(errors.replaceInStrings(QRegularExpression("^.* PortAudio: "), "").join('\n'), "log");
        QCOMPARE(serverPorts(), 0);
        choose(card);
        QVERIFY(card.StartAudio(kFormat));
        QCOMPARE(serverPorts(), 3);
    }
};

QTEST_GUILESS_MAIN(TestHSPortAudio)
#include "tst_hsportaudio.moc"
