// SPDX-License-Identifier: GPL-3.0-or-later

#include "hsportaudio.h"
#include "logcapture.h"
#include "portaudiowarmup.h"

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

    // Devices "plugged in" while the test runs: ALSA reads this file after its own configuration.
    QTemporaryDir dir;
    QString lateDevices() const { return dir.filePath("late-devices.conf"); }
    void plugIn(const QString& capture) {
        QFile file(lateDevices());
        QVERIFY(file.open(QIODevice::Append));
        file.write(QString("pcm.\"%1\" { type plug; slave.pcm \"%2\"; hint.description \"x\" }\n")
                       .arg(capture, kCapture)
                       .toUtf8());
    }

private slots:
    void initTestCase() {
        QFile(lateDevices()).open(QIODevice::WriteOnly);
        const QByteArray path = qgetenv("ALSA_CONFIG_PATH");
        qputenv("ALSA_CONFIG_PATH",
                (path.isEmpty() ? QByteArray("/usr/share/alsa/alsa.conf") : path) + ':' +
                    lateDevices().toUtf8());
    }

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

    // PortAudio reads the device list only when it starts: the card restarts it to read the list
    // again while no stream is open (not for the first list), even after the panel's warm-up,
    // and starts the streams after it; under open streams the list stays as it was.
    void devicesPluggedInLaterAreListed() {
        PortAudioWarmUp warmUp;
        HSPortAudio card;
        choose(card);
        currentLogLevel = int(LogLevel::Info);
        LogCapture log;
        plugIn("UMX Late Capture");
        card.EnumerateAudioDevices();
        QVERIFY(card.captureDeviceNames().contains("UMX Late Capture"));
        QVERIFY(card.StartAudio(kFormat));
        QCOMPARE(serverPorts(), 3);
        plugIn("UMX Later Capture");
        card.EnumerateAudioDevices();
        QVERIFY(!card.captureDeviceNames().contains("UMX Later Capture"));
        currentLogLevel = int(LogLevel::Error);
        QCOMPARE(log.lines().filter("PortAudio restarted to read the sound devices again").size(),
                 1);
    }
};

QTEST_GUILESS_MAIN(TestHSPortAudio)
#include "tst_hsportaudio.moc"
