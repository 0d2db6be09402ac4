// SPDX-License-Identifier: GPL-3.0-or-later

#include "audioplatform.h"
#include "hsportaudio.h"
#include "portaudiowarmup.h"

#include <QtTest>

#include <sched.h>

#include <atomic>
#include <thread>

// Ports this process holds on the audio server: two per playback stream, one for the capture.
static int serverPorts() {
    QProcess lsp;
    lsp.start("jack_lsp", {});
    lsp.waitForFinished();
    return QString(lsp.readAll()).count(QString(".%1.").arg(QCoreApplication::applicationPid()));
}

// The server's port this process captures from; empty when there is none.
static QString captureSource() {
    QProcess lsp;
    lsp.start("jack_lsp", {"-c"});
    lsp.waitForFinished();
    // Each port, then the ports connected to it, indented.
    const QString mine = QString(".C.%1.").arg(QCoreApplication::applicationPid());
    QString port;
    for (const QString& line : QString(lsp.readAll()).split('\n')) {
        if (!line.startsWith(' '))
            port = line;
        else if (line.contains(mine) && !port.contains(mine))
            return port;
    }
    return {};
}

// Whether the system grants this process's threads real-time priority.
static bool realTimeGranted() {
    bool granted = false;
    std::thread probe([&] { granted = raiseAudioThreadPriority().isEmpty(); });
    probe.join();
    return granted;
}

// The real sound card on the project's audio server (scripts/audio-server start).
class TestHSPortAudio : public QObject {
    Q_OBJECT

    // Devices "plugged in" while the test runs: ALSA reads these files after its own
    // configuration.
    QTemporaryDir dir;
    void define(const char* file, const QByteArray& definitions) {
        QFile devices(dir.filePath(file));
        QVERIFY(devices.open(QIODevice::WriteOnly));
        devices.write(definitions);
    }

private slots:
    void initTestCase() {
        define("capture.conf", {});
        define("speaker.conf", {});
        const QByteArray path = qgetenv("ALSA_CONFIG_PATH");
        qputenv("ALSA_CONFIG_PATH",
                (path.isEmpty() ? QByteArray("/usr/share/alsa/alsa.conf") : path) + ':' +
                    dir.filePath("capture.conf").toUtf8() + ':' +
                    dir.filePath("speaker.conf").toUtf8());
    }

    // A start that fails halfway (a capture device that cannot be opened) leaves nothing open.
    // PortAudio, started without a JACK client of its own, reads the device list only when it
    // starts: the card restarts it to list a device plugged in later, even after the panel's
    // warm-up, and opens streams after it, each on the device chosen by its name. The streams
    // start, also over running ones, the speaker's only while it is on; a speaker missing while
    // they run is found by its name once it is plugged in and opened beside them; when its
    // definition is removed it is missing again (the definitions are read again only when ALSA's
    // files change), and plugged back it plays again. Capture blocks come reduced to half the
    // buffer's samples, on a thread at real-time priority where the system grants it.
    void theCardOnTheAudioServer() {
        PortAudioWarmUp warmUp;
        HSPortAudio card;
        card.EnumerateAudioDevices();
        // PortAudio's own JACK client, which the server would run every period, is not opened.
        QCOMPARE(Pa_HostApiTypeIdToHostApiIndex(paJACK), paHostApiNotFound);
        CardConfig config{streamFormatForHost(48000, 1024), {}};
        config.settings.outputDevice = "Line Volume (2- UMX VAC)";
        config.settings.audioDevice = "UMX Late Speaker";
        config.settings.inputDevice = "UMX Broken Capture";
        const QByteArray broken =
            "pcm.\"UMX Broken Capture\" { type asym; capture.pcm { type jack; "
            "capture_ports { 0 nowhere:output_1 } } }\n";
        define("capture.conf", broken);
        card.EnumerateAudioDevices();
        QVERIFY(!card.StartAudio(config));
        QCOMPARE(serverPorts(), 0);
        const QByteArray late =
            "pcm.\"UMX Late Capture\" { type plug; slave.pcm \"Line In (UMX VAC)\" }\n";
        define("capture.conf", broken + late);
        card.EnumerateAudioDevices();
        config.settings.inputDevice = "UMX Late Capture";
        // A device defined since, ahead of the chosen one in the list, takes its old place there.
        define("capture.conf",
               broken + "pcm.\"UMX Early Capture\" { type plug; slave.pcm \"UMX VAC RX Out\" }\n" +
                   late);
        card.EnumerateAudioDevices();
        QObject worker;
        QSet<int> sizes;
        connect(
            &card, &HSSoundCard::inDataReady, &worker,
            [&] {
                // An announcement from before a restart finds no block.
                if (const int bytes = card.latestCapturedData().size())
                    sizes << bytes;
            },
            Qt::QueuedConnection);
        std::atomic<int> capturePolicy{-1};
        connect(
            &card, &HSSoundCard::inDataReady, &worker,
            [&] { capturePolicy = sched_getscheduler(0); }, Qt::DirectConnection);
        QVERIFY(card.StartAudio(config) && card.StartAudio(config));
        QCOMPARE(serverPorts(), 3);
        QCOMPARE(captureSource(), "umx_tx:output_1"); // the chosen capture, found again by name
        QByteArray block(4 * config.format.frameSizeOut, '\0');
        // The speaker's stream opens and closes on a thread of its own, after a datagram; the
        // cards are kept fed between datagrams and the missing devices looked for, as the worker
        // and the link do. The ports held, and the device missing as the card reported it last.
        QString missing;
        const auto streaming = [&] {
            card.StreamOut(block);
            card.ServicePlayback();
            card.lookForMissingDevices();
            missing = card.deviceChange().value_or(missing);
            return QString("%1 %2").arg(serverPorts()).arg(missing);
        };
        card.setSpeakerOn(true);
        QTRY_COMPARE(streaming(), "3 UMX Late Speaker");
        const QByteArray speaker =
            "pcm.\"UMX Late Speaker\" { type asym; playback.pcm \"UMX Speaker\" }";
        // Held past a look for definitions, so that each answer is one given while it was there.
        const auto playsOn = [&] {
            QElapsedTimer held;
            held.start();
            while (held.elapsed() < 2500) {
                if (streaming() != "5 ")
                    return false;
                QTest::qWait(50);
            }
            return true;
        };
        for (int plugged = 0; plugged < 2; ++plugged) {
            define("speaker.conf", speaker);
            QTRY_COMPARE(streaming(), "5 ");
            QVERIFY(playsOn());
            define("speaker.conf", {});
            QTRY_COMPARE_WITH_TIMEOUT(streaming(), "3 UMX Late Speaker", 5000);
        }
        card.setSpeakerOn(false);
        QTRY_COMPARE(streaming(), "3 ");
        QTRY_VERIFY_WITH_TIMEOUT(card.inputLatency() != 0.0f && !sizes.isEmpty(), 10000);
        card.StopAudio(); // at once: the device thread closes the streams
        QTRY_COMPARE(serverPorts(), 0);
        QCOMPARE(sizes, QSet<int>{4096}); // 4096 frames captured (the minimum), half of them sent
        QCOMPARE(capturePolicy.load(), realTimeGranted() ? SCHED_FIFO : SCHED_OTHER);
    }
};

QTEST_GUILESS_MAIN(TestHSPortAudio)
#include "tst_hsportaudio.moc"
