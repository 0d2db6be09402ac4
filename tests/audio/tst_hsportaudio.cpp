// SPDX-License-Identifier: GPL-3.0-or-later

#include "hsportaudio.h"
#include "portaudiowarmup.h"

#include <QtTest>

static const QString kCable = "Line Volume (2- UMX VAC)";
static const QString kCapture = "Line In (UMX VAC)";
static const CardConfig kFormat{streamFormatForHost(48000, 1024), {}};

// Ports this process holds on the audio server: two per playback stream, one for the capture.
static int serverPorts() {
    QProcess lsp;
    lsp.start("jack_lsp", {});
    lsp.waitForFinished();
    return QString(lsp.readAll()).count(QString(".%1.").arg(QCoreApplication::applicationPid()));
}

// The real sound card on the project's audio server (scripts/audio-server start).
class TestHSPortAudio : public QObject {
    Q_OBJECT

    // Devices "plugged in" while the test runs: ALSA reads this file after its own configuration.
    QTemporaryDir dir;
    QString lateDevices() const { return dir.filePath("late-devices.conf"); }

private slots:
    void initTestCase() {
        QFile(lateDevices()).open(QIODevice::WriteOnly);
        const QByteArray path = qgetenv("ALSA_CONFIG_PATH");
        qputenv("ALSA_CONFIG_PATH",
                (path.isEmpty() ? QByteArray("/usr/share/alsa/alsa.conf") : path) + ':' +
                    lateDevices().toUtf8());
    }

    // A start that fails halfway (a playback device chosen as the capture) leaves nothing open.
    // PortAudio reads the device list only when it starts: the card restarts it to list a device
    // plugged in later, even after the panel's warm-up, and opens streams after it. The streams
    // start, also over running ones, the speaker's only while it is on, and capture blocks come
    // reduced to half the buffer's samples.
    void theCardOnTheAudioServer() {
        PortAudioWarmUp warmUp;
        HSPortAudio card;
        card.findOutputDevice(kCable);
        card.findSpeakerDevice("UMX Speaker");
        card.findInputDevice(kCable); // a playback device: the capture fails once the cable is open
        QVERIFY(!card.StartAudio(kFormat));
        QCOMPARE(serverPorts(), 0);
        card.findInputDevice(kCapture);
        QFile plugged(lateDevices());
        QVERIFY(plugged.open(QIODevice::Append));
        plugged.write("pcm.\"UMX Late Capture\" { type plug; slave.pcm \"Line In (UMX VAC)\"; "
                      "hint.description \"x\" }\n");
        plugged.close();
        card.EnumerateAudioDevices();
        QVERIFY(card.captureDeviceNames().contains("UMX Late Capture"));
        QObject worker;
        QSet<int> sizes;
        connect(
            &card, &HSSoundCard::inDataReady, &worker,
            [&] { sizes << card.latestCapturedData().size(); }, Qt::QueuedConnection);
        QVERIFY(card.StartAudio(kFormat) && card.StartAudio(kFormat));
        QCOMPARE(serverPorts(), 3);
        QByteArray block(4 * kFormat.format.frameSizeOut, '\0');
        // The speaker's stream opens and closes on a thread of its own, after a datagram.
        const auto portsWhileStreaming = [&] {
            card.StreamOut(block);
            return serverPorts();
        };
        for (const bool on : {true, false}) {
            card.setSpeakerOn(on);
            QTRY_COMPARE(portsWhileStreaming(), on ? 5 : 3);
        }
        QTRY_VERIFY_WITH_TIMEOUT(card.inputLatency() != 0.0f && !sizes.isEmpty(), 10000);
        card.StopAudio();
        QCOMPARE(serverPorts(), 0);
        QCOMPARE(sizes, QSet<int>{4096}); // 4096 frames captured (the minimum), half of them sent
    }
};

QTEST_GUILESS_MAIN(TestHSPortAudio)
#include "tst_hsportaudio.moc"
