// SPDX-License-Identifier: GPL-3.0-or-later

#include "hsudpaudiosocket.h"

#include <QNetworkDatagram>
#include <QtTest>

class TestHSUDPAudioSocket : public QObject {
    Q_OBJECT

private slots:
    // A block one byte over a datagram's 1460 bytes goes out whole, in two.
    void blocksGoOutInSlices() {
        QUdpSocket host;
        QVERIFY(host.bind(QHostAddress::LocalHost, 0));
        HSUDPAudioSocket socket(nullptr, "127.0.0.1", host.localPort(), 0);
        QByteArray block =
            QByteArray("0123456789abcdefghijklmnopqrstuvwxyz").repeated(41).left(1461);
        socket.outData(block);
        QByteArray joined;
        QList<int> sizes;
        while (host.hasPendingDatagrams() || host.waitForReadyRead(200)) {
            const QByteArray datagram = host.receiveDatagram().data();
            joined += datagram;
            sizes << datagram.size();
        }
        QCOMPARE(sizes, (QList<int>{1460, 1}));
        QCOMPARE(joined, block);
    }

    // Datagrams queue up while playing each one waits for the sound card (after the audio server
    // stalled, say): work queued to the socket's thread meanwhile, a capture block to send or the
    // sound watchdog's check, runs before the backlog has drained, which at the card's pace it
    // never does. The datagrams still come in order, and only the host's own, until any sender is
    // accepted.
    void aBacklogLeavesTheThreadItsTurn() {
        QUdpSocket probe;
        QVERIFY(probe.bind(QHostAddress::LocalHost, 0));
        const quint16 port = probe.localPort();
        probe.close();
        HSUDPAudioSocket socket(nullptr, "127.0.0.1", 0, port);
        QVERIFY(socket.bindError().isEmpty());
        QStringList order;
        connect(&socket, &HSUDPAudioSocket::inDataReady, this, [&](QByteArray& data) {
            order << QString(data);
            if (order.size() == 1)
                QMetaObject::invokeMethod(
                    this, [&] { order << "queued"; }, Qt::QueuedConnection);
        });
        QUdpSocket stranger;
        QVERIFY(stranger.bind(QHostAddress("127.0.0.2"), 0));
        stranger.writeDatagram("x", 1, QHostAddress::LocalHost, port);
        QUdpSocket host;
        for (const char* payload : {"1", "2", "3", "4"})
            host.writeDatagram(payload, 1, QHostAddress::LocalHost, port);
        QTRY_COMPARE(order.size(), 5);
        QVERIFY2(order.indexOf("queued") < order.indexOf("4"), qPrintable(order.join(' ')));
        order.removeOne("queued");
        QCOMPARE(order, (QStringList{"1", "2", "3", "4"}));
        socket.acceptAnySender(true);
        stranger.writeDatagram("y", 1, QHostAddress::LocalHost, port);
        QTRY_COMPARE(order.last(), QString("y"));
    }
};

QTEST_GUILESS_MAIN(TestHSUDPAudioSocket)
#include "tst_hsudpaudiosocket.moc"
