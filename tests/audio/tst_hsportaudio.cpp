// SPDX-License-Identifier: GPL-3.0-or-later

#include "hsportaudio.h"
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

private slots:
    void initTestCase() {
        QFile(lateDevices()).open(QIODevice::WriteOnly);
        const QByteArray path = qgetenv("ALSA_CONFIG_PATH");
        qputenv("ALSA_CONFIG_PATH",
                (path.isEmpty() ? QByteArray("/usr/share/alsa/alsa.conf") : path) + ':' +
                    lateDevices().toUtf8());
    }

    // A start that fails (a playback device chosen as the capture, a rate no device plays) leaves
    // nothing open. PortAudio reads the device list only when it starts: the card restarts it to
    // list a device plugged in later, even after the panel's warm-up, and opens streams after it.
    // The streams start, also over running ones, the speaker's only while it is on, and capture
    // blocks come reduced to half the buffer's samples.
    void theCardOnTheAudioServer() {
        PortAudioWarmUp warmUp;
        HSPortAudio card;
        const std::pair<bool, int> failing[] = {{true, 48000}, {false, 50}}; // wrong capture, rate
        for (const auto& [wrongCapture, rate] : failing) {
            choose(card, wrongCapture);
            QVERIFY(!card.StartAudio(streamFormatForHost(rate, 1024)));
            QCOMPARE(serverPorts(), 0);
        }
        choose(card);
        QFile plugged(lateDevices());
        QVERIFY(plugged.open(QIODevice::Append));
        plugged.write(QString("pcm.\"UMX Late Capture\" { type plug; slave.pcm \"%1\"; "
                              "hint.description \"x\" }\n")
                          .arg(kCapture)
                          .toUtf8());
        plugged.close();
        card.EnumerateAudioDevices();
        const QStringList in = card.captureDeviceNames(), out = card.playbackDeviceNames();
        QVERIFY(in.contains(kCapture) && in.contains("UMX Late Capture") && out.contains(kCable) &&
                out.contains("UMX Speaker"));
        QObject worker;
        QSet<int> sizes;
        connect(
            &card, &HSSoundCard::inDataReady, &worker,
            [&] { sizes << card.latestCapturedData().size(); }, Qt::QueuedConnection);
        QVERIFY(card.StartAudio(kFormat) && card.StartAudio(kFormat));
        QCOMPARE(serverPorts(), 3);
        QByteArray block(4 * kFormat.frameSizeOut, '\0');
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
