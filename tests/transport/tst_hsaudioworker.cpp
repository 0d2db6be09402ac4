// The audio worker in a thread of its own, with the real sound-card layer on the project's audio
// server and real UDP on loopback.
#include "audioplatform.h"
#include "hsaudioworker.h"
#include "hsportaudio.h"
#include "log.h"
#include "logcapture.h"

#include <QNetworkDatagram>
#include <QSemaphore>
#include <QThread>
#include <QUdpSocket>
#include <QtTest>

#include <optional>

namespace {

constexpr int kHostFrameSize = 256;
// Generous: under a thread sanitizer every step of the worker runs several times slower.
constexpr int kSlowMs = 20000;

quint16 freePort() {
    QUdpSocket probe;
    probe.bind(QHostAddress::AnyIPv4, 0);
    return probe.localPort();
}

} // namespace

class TestHSAudioWorker : public QObject {
    Q_OBJECT

    HSPortAudio* portAudio = nullptr;
    QThread* thread = nullptr;
    HSAudioWorker* worker = nullptr;
    QList<uint> received;
    QList<uint> transmitted;
    int stoppedCount = 0;
    std::optional<LogCapture> log;

    void invoke(const char* method) {
        QMetaObject::invokeMethod(worker, method, Qt::QueuedConnection);
    }
    void init(quint16 remotePort, quint16 localPort) {
        QMetaObject::invokeMethod(worker, "init", Qt::QueuedConnection, Q_ARG(QString, "127.0.0.1"),
                                  Q_ARG(ushort, remotePort), Q_ARG(ushort, localPort));
    }
    void startAudio() {
        QVERIFY(portAudio->findOutputDevice("Line Volume (2- UMX VAC)") >= 0);
        QVERIFY(portAudio->findSpeakerDevice("Line Volume (2- UMX VAC)") >= 0);
        QVERIFY(portAudio->findInputDevice("Line In (UMX VAC)") >= 0);
        portAudio->sampleRate = 96000;
        portAudio->frameSizeOut = 2 * kHostFrameSize;
        portAudio->frameSizeIn = 2 * kHostFrameSize;
        portAudio->frameOutMult = 2;
        portAudio->frameInMult = 2;
        QVERIFY(portAudio->StartAudio());
    }

private slots:
    void initTestCase() {
        log.emplace();
        currentLogLevel = static_cast<int>(LogLevel::Info);
        portAudio = new HSPortAudio(this);
        portAudio->EnumerateAudioDevices();
        if (!portAudio->outputDevices.contains("Line Volume (2- UMX VAC)"))
            QSKIP("the audio server's virtual cable is not running (scripts/audio-server start)");
    }
    void cleanupTestCase() {
        currentLogLevel = static_cast<int>(LogLevel::Error);
        log.reset();
    }
    void init() {
        received.clear();
        transmitted.clear();
        stoppedCount = 0;
        thread = new QThread(this);
        worker = new HSAudioWorker(portAudio);
        worker->moveToThread(thread);
        connect(thread, &QThread::finished, worker, &QObject::deleteLater);
        connect(worker, &HSAudioWorker::bytesReceived, this, [this](uint n) { received << n; });
        connect(worker, &HSAudioWorker::bytesTransmitted, this,
                [this](uint n) { transmitted << n; });
        connect(worker, &HSAudioWorker::stopped, this, [this] { ++stoppedCount; });
        thread->start();
    }
    void cleanup() {
        // The worker's destructor stops once more; its queued signals must not reach the next test.
        disconnect(worker, nullptr, this, nullptr);
        thread->quit();
        thread->wait();
        delete thread;
        QVERIFY(portAudio->outputStream == nullptr && portAudio->inputStream == nullptr);
    }

    void datagramsArePlayedAndCaptureIsSent() {
        startAudio();
        QUdpSocket host;
        QVERIFY(host.bind(QHostAddress::LocalHost, 0));
        const quint16 localPort = freePort();
        init(host.localPort(), localPort);
        QTRY_VERIFY_WITH_TIMEOUT(log->text().contains("Audio worker initialized"), kSlowMs);

        QUdpSocket sender;
        const QByteArray datagram(4 * kHostFrameSize, '\x10');
        for (int i = 0; i < 10; ++i) {
            sender.writeDatagram(datagram, QHostAddress::LocalHost, localPort);
            QTest::qWait(5);
        }
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), 10, kSlowMs);
        for (uint n : received)
            QCOMPARE(n, uint(4 * kHostFrameSize));

        // The capture runs at twice the host's rate; its blocks leave as datagrams of at most
        // 1460 bytes, and the counted bytes are the blocks' lengths.
        QTRY_VERIFY_WITH_TIMEOUT(transmitted.size() >= 3, kSlowMs);
        for (uint n : transmitted)
            QCOMPARE(n, uint(captureBufferFrames(2 * kHostFrameSize, portAudio->frameInMult)));
        int bytes = 0;
        while (host.hasPendingDatagrams() || host.waitForReadyRead(200)) {
            const qint64 size = host.pendingDatagramSize();
            QVERIFY(size > 0 && size <= 1460);
            bytes += static_cast<int>(host.receiveDatagram().data().size());
            if (bytes >= 3 * int(transmitted[0]))
                break;
        }
        QVERIFY(bytes >= 3 * int(transmitted[0]));
        invoke("stop");
        QTRY_COMPARE_WITH_TIMEOUT(stoppedCount, 1, kSlowMs);
    }

    void initTwiceRebindsTheSamePort() {
        startAudio();
        const quint16 localPort = freePort();
        const int before = log->text().count("Stopping audio worker");
        const int initializedBefore = log->text().count("Audio worker initialized");
        init(9, localPort);
        init(9, localPort);
        // Both inits run to the end on the worker thread (slowly under ThreadSanitizer).
        QTRY_COMPARE_WITH_TIMEOUT(log->text().count("Audio worker initialized") - initializedBefore,
                                  2, kSlowMs);
        QTRY_COMPARE_WITH_TIMEOUT(stoppedCount, 1, kSlowMs);
        const QString text = log->text();
        QCOMPARE(text.count("Stopping audio worker") - before, 1);
        QVERIFY(text.contains("Warning: AudioWorker: UDP socket already exists, stopping first"));
        QVERIFY(
            !text.contains(QString("Failed to bind UDP input socket on port %1").arg(localPort)));
        QVERIFY(text.count(QString("UDP input socket bound on port %1").arg(localPort)) >= 2);
        // The first init's sound-card streams were stopped with the first socket.
        QVERIFY(portAudio->outputStream == nullptr);

        QUdpSocket sender;
        sender.writeDatagram(QByteArray(8, '\x01'), QHostAddress::LocalHost, localPort);
        QTRY_COMPARE_WITH_TIMEOUT(received, QList<uint>{8}, kSlowMs);
        invoke("stop");
        QTRY_COMPARE_WITH_TIMEOUT(stoppedCount, 2, kSlowMs);
    }

    void notificationsQueuedBehindStopAreIgnored() {
        init(9, freePort());
        QTRY_VERIFY_WITH_TIMEOUT(log->text().count("Audio worker initialized") >= 1, kSlowMs);
        // Hold the worker's thread so that stop and the notifications queue up behind it.
        QSemaphore hold;
        QMetaObject::invokeMethod(
            worker, [&hold] { hold.acquire(); }, Qt::QueuedConnection);
        invoke("stop");
        for (int i = 0; i < 5; ++i)
            emit portAudio->inDataReady();
        hold.release();
        QTRY_COMPARE_WITH_TIMEOUT(stoppedCount, 1, kSlowMs);
        QTest::qWait(100);
        QVERIFY(transmitted.isEmpty());
    }

    void stopWithoutSocketStillStopsTheSoundCard() {
        startAudio();
        const int before = log->text().count("Stopping audio worker");
        invoke("stop");
        QTRY_COMPARE_WITH_TIMEOUT(stoppedCount, 1, kSlowMs);
        QCOMPARE(log->text().count("Stopping audio worker"), before);
        QVERIFY(!portAudio->outputStream && !portAudio->speakerStream && !portAudio->inputStream);
    }

    void bindFailureIsReported() {
        QUdpSocket occupant;
        QVERIFY(occupant.bind(QHostAddress::AnyIPv4, 0));
        QList<quint16> failedPorts;
        connect(worker, &HSAudioWorker::udpBindFailed, this,
                [&failedPorts](quint16 port, const QString& reason) {
                    QVERIFY(!reason.isEmpty());
                    failedPorts << port;
                });
        init(9, occupant.localPort());
        QTRY_COMPARE_WITH_TIMEOUT(failedPorts, QList<quint16>{occupant.localPort()}, kSlowMs);
        QVERIFY(log->text().contains("Audio worker initialized"));
    }
};

QTEST_GUILESS_MAIN(TestHSAudioWorker)
#include "tst_hsaudioworker.moc"
