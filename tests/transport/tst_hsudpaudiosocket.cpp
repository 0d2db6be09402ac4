// SPDX-License-Identifier: GPL-3.0-or-later

#include "hsudpaudiosocket.h"

#include <QNetworkDatagram>
#include <QtTest>

// The payloads that reached `socket`: at most `count` datagrams, waiting a little for each.
static QByteArrayList received(QUdpSocket& socket, int count) {
    QByteArrayList datagrams;
    while (datagrams.size() < count &&
           (socket.hasPendingDatagrams() || socket.waitForReadyRead(200)))
        datagrams << socket.receiveDatagram().data();
    return datagrams;
}

class TestHSUDPAudioSocket : public QObject {
    Q_OBJECT

private slots:
    void blocksGoOutInSlices_data() {
        QTest::addColumn<int>("bytes");
        QTest::addColumn<QList<int>>("sizes");
        QTest::newRow("empty block") << 0 << QList<int>{};
        QTest::newRow("one full datagram") << 1460 << QList<int>{1460};
        QTest::newRow("one byte over") << 1461 << QList<int>{1460, 1};
        QTest::newRow("three datagrams") << 3000 << QList<int>{1460, 1460, 80};
    }
    void blocksGoOutInSlices() {
        QFETCH(int, bytes);
        QUdpSocket host;
        QVERIFY(host.bind(QHostAddress::LocalHost, 0));
        HSUDPAudioSocket socket(nullptr, "127.0.0.1", host.localPort(), 0);
        QByteArray block =
            QByteArray("0123456789abcdefghijklmnopqrstuvwxyz").repeated(84).left(bytes);
        socket.outData(block);
        const QByteArrayList datagrams = received(host, 10);
        QList<int> sizes;
        for (const QByteArray& datagram : datagrams)
            sizes << datagram.size();
        QTEST(sizes, "sizes");
        QCOMPARE(datagrams.join(), block);
    }
};

QTEST_GUILESS_MAIN(TestHSUDPAudioSocket)
#include "tst_hsudpaudiosocket.moc"
