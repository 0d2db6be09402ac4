#include "rigaddress.h"
#include "statusline.h"

#include <QtTest>

class TestStatusLine : public QObject {
    Q_OBJECT

private slots:
    void statusLine_data() {
        QTest::addColumn<quint32>("rx");
        QTest::addColumn<quint32>("tx");
        QTest::addColumn<float>("latency");
        QTest::addColumn<QString>("text");
        QTest::newRow("idle") << 0u << 0u << 0.0F << "Speed: 0/0 KBit|Latency: 0 s";
        QTest::newRow("100 kbit") << 25600u << 255u << -0.0213333F
                                  << "Speed: 100/0 KBit|Latency: -0.0213333 s";
        // Four times the counter wraps in 32 bits before the division.
        QTest::newRow("wraps") << 0x40000001u << 1024u << 1.5F << "Speed: 0/4 KBit|Latency: 1.5 s";
        QTest::newRow("small latency") << 512000u << 256000u << 0.000123456789F
                                       << "Speed: 2000/1000 KBit|Latency: 0.000123457 s";
    }
    void statusLine() {
        QFETCH(quint32, rx);
        QFETCH(quint32, tx);
        QFETCH(float, latency);
        QFETCH(QString, text);
        QCOMPARE(statusLineText(rx, tx, latency), text);
    }

    void lowRateThreshold() {
        QVERIFY(isLowReceiveRate(0));
        QVERIFY(isLowReceiveRate(50944 + 255)); // 199 KBit/s
        QVERIFY(!isLowReceiveRate(51200));      // 200 KBit/s
        QVERIFY(!isLowReceiveRate(8191 * 1024 / 4 * 4));
        // Read as a signed 16-bit number, 32768 KBit/s and above count as low.
        QVERIFY(isLowReceiveRate(32768u * 256u));
        QVERIFY(!isLowReceiveRate(32767u * 256u));
    }

    void reconnectNotice() {
        QCOMPARE(reconnectNoticeText(1000), QString("Reconnecting in 1s..."));
        QCOMPARE(reconnectNoticeText(16000), QString("Reconnecting in 16s..."));
        QCOMPARE(reconnectNoticeText(999), QString("Reconnecting in 0s..."));
    }

    void rigAddresses_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("problem");
        const QString notIp =
            "\"%1\" is not an IP address with a port (host names are not used for audio)";
        QTest::newRow("ipv4") << "192.168.1.20:4590" << QString();
        QTest::newRow("ipv6") << "[::1]:4590" << QString();
        QTest::newRow("empty") << "  " << QString("no rig address is given");
        QTest::newRow("no port") << "192.168.1.20" << QString("\"192.168.1.20\" has no port");
        QTest::newRow("port zero")
            << "10.0.0.1:0" << QString("the port 0 is not between 1 and 65535");
        QTest::newRow("port too big")
            << "10.0.0.1:70000" << QString("the port 70000 is not between 1 and 65535");
        for (const char* text : {"rig.local:4590", "10.0.0.256:4590", "[zz::1]:4590"})
            QTest::newRow(text) << text << notIp.arg(text);
    }
    void rigAddresses() {
        QFETCH(QString, text);
        QFETCH(QString, problem);
        QCOMPARE(rigAddressProblem(text), problem);
    }
};

QTEST_GUILESS_MAIN(TestStatusLine)
#include "tst_statusline.moc"
