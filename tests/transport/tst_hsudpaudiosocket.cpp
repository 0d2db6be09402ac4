#include "hsudpaudiosocket.h"
#include "log.h"
#include "logcapture.h"

#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

namespace {

// A free UDP port on this machine at the time of the call.
quint16 freePort() {
    QUdpSocket probe;
    probe.bind(QHostAddress::AnyIPv4, 0);
    return probe.localPort();
}

QList<QNetworkDatagram> receiveAll(QUdpSocket& socket, int expected) {
    QList<QNetworkDatagram> datagrams;
    QElapsedTimer clock;
    clock.start();
    while (datagrams.size() < expected && clock.elapsed() < 3000) {
        if (!socket.hasPendingDatagrams())
            socket.waitForReadyRead(100);
        while (socket.hasPendingDatagrams())
            datagrams << socket.receiveDatagram();
    }
    return datagrams;
}

} // namespace

class TestHSUDPAudioSocket : public QObject {
    Q_OBJECT

private slots:
    void init() { currentLogLevel = static_cast<int>(LogLevel::Debug); }

    void blocksAreSlicedIntoDatagrams_data() {
        QTest::addColumn<int>("blockSize");
        QTest::addColumn<QList<int>>("sizes");
        QTest::newRow("empty") << 0 << QList<int>{};
        QTest::newRow("one full") << 1460 << QList<int>{1460};
        QTest::newRow("one over") << 1461 << QList<int>{1460, 1};
        QTest::newRow("three") << 3000 << QList<int>{1460, 1460, 80};
    }
    void blocksAreSlicedIntoDatagrams() {
        QFETCH(int, blockSize);
        QFETCH(QList<int>, sizes);
        QUdpSocket host;
        QVERIFY(host.bind(QHostAddress::LocalHost, 0));
        const quint16 localPort = freePort();
        LogCapture capture;
        HSUDPAudioSocket socket(nullptr, "127.0.0.1", host.localPort(), localPort);

        QByteArray block(blockSize, Qt::Uninitialized);
        for (int i = 0; i < blockSize; ++i)
            block[i] = static_cast<char>(i * 7);
        socket.outData(block);

        const auto datagrams = receiveAll(host, sizes.size());
        QCOMPARE(datagrams.size(), sizes.size());
        int offset = 0;
        for (int i = 0; i < sizes.size(); ++i) {
            QCOMPARE(datagrams[i].data(), block.mid(offset, sizes[i]));
            QVERIFY(datagrams[i].senderPort() != localPort);
            QCOMPARE(datagrams[i].senderPort(), datagrams[0].senderPort());
            offset += sizes[i];
        }
        QTest::qWait(50);
        QVERIFY(!host.hasPendingDatagrams());
    }

    void queuedDatagramsAreDrainedInOrderFromAnySender() {
        const quint16 localPort = freePort();
        LogCapture capture;
        HSUDPAudioSocket socket(nullptr, "127.0.0.1", 9, localPort);
        QVERIFY(socket.bindError().isEmpty());
        QList<QByteArray> received;
        connect(&socket, &HSUDPAudioSocket::inDataReady, this,
                [&received](QByteArray& data) { received << data; });

        QUdpSocket host;
        QUdpSocket stranger;
        const QList<QByteArray> sent = {QByteArray("\x01\x02\x03\x04", 4), QByteArray(),
                                        QByteArray(2048, 'a'), QByteArray("odd", 3)};
        host.writeDatagram(sent[0], QHostAddress::LocalHost, localPort);
        host.writeDatagram(sent[1], QHostAddress::LocalHost, localPort);
        stranger.writeDatagram(sent[2], QHostAddress::LocalHost, localPort);
        host.writeDatagram(sent[3], QHostAddress::LocalHost, localPort);

        QTRY_COMPARE(received.size(), sent.size());
        QCOMPARE(received, sent);
        QVERIFY(received[1].isEmpty());
    }

    void portInUseIsLoggedAndSendingStillWorks() {
        QUdpSocket occupant;
        QVERIFY(occupant.bind(QHostAddress::AnyIPv4, 0));
        const quint16 taken = occupant.localPort();
        QUdpSocket host;
        QVERIFY(host.bind(QHostAddress::LocalHost, 0));

        LogCapture capture;
        {
            HSUDPAudioSocket socket(nullptr, "127.0.0.1", host.localPort(), taken);
            QVERIFY(!socket.bindError().isEmpty());
            QByteArray block(100, 'x');
            socket.outData(block);
            QCOMPARE(receiveAll(host, 1).size(), 1);
        }
        const QStringList lines = capture.lines();
        QCOMPARE(lines.size(), 3);
        QVERIFY2(lines[0].contains(QString("     Error: UDPSocket: Failed to bind UDP input socket "
                                           "on port %1: ")
                                       .arg(taken)),
                 qPrintable(lines[0]));
        QVERIFY(lines[1].endsWith(
            QString("Info: UDPSocket: Remote URL: 127.0.0.1, outPort: %1").arg(host.localPort())));
        QVERIFY(lines[2].endsWith("Info: UDPSocket: Closing UDP sockets"));
    }

    void hostNamesAreNeverResolved() {
        LogCapture capture;
        {
            HSUDPAudioSocket socket(nullptr, "localhost", 4000, freePort());
            QByteArray block(3000, 'x');
            socket.outData(block);
        }
        QCOMPARE(capture.lines().filter("Error: UDPSocket: UDP writeDatagram failed: ").size(), 3);
    }
};

QTEST_GUILESS_MAIN(TestHSUDPAudioSocket)
#include "tst_hsudpaudiosocket.moc"
