// SPDX-License-Identifier: GPL-3.0-or-later
// The rules a connection goes by: which rig addresses can carry audio, what counts as a low
// receive rate, the status line's texts, and where the window goes at start and when closed.
#include "linkrules.h"
#include "statusline.h"
#include "windowbehaviour.h"

#include <QtTest>

class LinkRules : public QObject {
    Q_OBJECT

private slots:
    void rigAddresses_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("problem");
        const QString notIp = "\"%1\" is not an IP address with a port (host names are not used "
                              "for audio)";
        QTest::newRow("ipv4 with port") << "192.168.1.20:4590" << QString();
        QTest::newRow("ipv6 with port") << "[::1]:4590" << QString();
        QTest::newRow("empty") << QString() << "no rig address is given";
        QTest::newRow("no port") << "10.0.0.1" << QString("\"10.0.0.1\" has no port");
        QTest::newRow("port zero")
            << "10.0.0.1:0" << QString("the port 0 is not between 1 and 65535");
        QTest::newRow("octet 256") << "10.0.0.256:80" << notIp.arg("10.0.0.256:80");
        QTest::newRow("bad ipv6") << "[1::2::3]:80" << QString("1::2::3 is not an IPv6 address");
    }
    void rigAddresses() {
        QFETCH(QString, address);
        QTEST(rigAddressProblem(address), "problem");
    }

    void rates_data() {
        QTest::addColumn<quint32>("bytes");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("low");
        QTest::newRow("199 KBit is low") << 51199u << "Speed: 199/0 KBit|Latency: 0.000 s" << true;
        QTest::newRow("200 KBit is not") << 51200u << "Speed: 200/0 KBit|Latency: 0.000 s" << false;
        QTest::newRow("wraps in 16 bits")
            << 8388608u << "Speed: 32768/0 KBit|Latency: 0.000 s" << true;
    }
    void rates() {
        QFETCH(quint32, bytes);
        QTEST(statusLineText(bytes, 0, 0.0f), "status");
        QTEST(isLowReceiveRate(bytes), "low");
    }

    void notices() {
        QCOMPARE(statusLineText(0, 4096, -0.0427146f),
                 QString("Speed: 0/16 KBit|Latency: 0.043 s"));
        QCOMPARE(reconnectNoticeText(1999), QString("Reconnecting in 1s..."));
        const PlayoutStats faults{3, 1440, 96000, 4800, 960, 2, 1, 5, 2, 23.6, -101.4, 48000};
        QCOMPARE(
            playoutToolTipText(faults),
            QString("Playout:\ndelay 24 ms\nskew -101 ppm\n3 underruns (30 ms of silence)\n"
                    "5 late and 2 lost datagrams\n100 ms concealed\n20 ms time-scaled\n"
                    "2000 ms dropped\n2 stalls ridden out and 1 covered by raising the latency"));
    }

    // Closing the window by what the panel is doing (connecting, visible, connected, tray: 1 or
    // 0), and where it starts (--hidden asked, tray): S stays, T goes to the tray, D asks for a
    // disconnect first, Q asks to quit; H starts hidden, W shows the window.
    void closingAndStarting() {
        const auto on = [](const char* flags, int i) {
            return flags[i] == '1';
        };
        QString steps;
        for (const char* c : {"1101", "1111", "0111", "0011", "0101", "0110"})
            steps += "STDQ"[int(closeStep(on(c, 0), on(c, 1), on(c, 2), on(c, 3)))];
        for (const char* h : {"11", "10", "01"})
            steps += startsHidden(on(h, 0), on(h, 1)) ? 'H' : 'W';
        QCOMPARE(steps, "SSTDQQHWW");
    }
};

QTEST_GUILESS_MAIN(LinkRules)
#include "tst_linkrules.moc"
