#include "controlmessages.h"

#include <QtTest>

class TestControlMessages : public QObject {
    Q_OBJECT

private slots:
    void composesEachTypeExactly_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("port");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("localInfo never set")
            << 0 << QString() << 2476
            << QByteArray("{\n    \"localAddress\": \"\",\n    \"localPort\": 2476,\n"
                          "    \"message\": \"localInfo\"\n}\n");
        QTest::newRow("localInfo set")
            << 0 << QStringLiteral("192.168.1.20") << 50000
            << QByteArray("{\n    \"localAddress\": \"192.168.1.20\",\n    \"localPort\": 50000,\n"
                          "    \"message\": \"localInfo\"\n}\n");
        QTest::newRow("startInput") << 1 << QStringLiteral("10.0.0.1") << 1
                                    << QByteArray("{\n    \"message\": \"startInput\"\n}\n");
        QTest::newRow("stopInput")
            << 2 << QString() << 1 << QByteArray("{\n    \"message\": \"stopInput\"\n}\n");
        QTest::newRow("startOutput")
            << 3 << QString() << 1 << QByteArray("{\n    \"message\": \"startOutput\"\n}\n");
        QTest::newRow("stopOutput")
            << 4 << QString() << 1 << QByteArray("{\n    \"message\": \"stopOutput\"\n}\n");
        QTest::newRow("5 is unknown") << 5 << QString() << 1 << QByteArray();
        QTest::newRow("-1 is unknown") << -1 << QString() << 1 << QByteArray();
    }
    void composesEachTypeExactly() {
        QFETCH(int, type);
        QFETCH(QString, address);
        QFETCH(int, port);
        QFETCH(QByteArray, expected);
        QCOMPARE(composeLocaMessage(static_cast<LocaMsgType>(type), address, port), expected);
    }

    void nonAsciiAddressIsUtf8() {
        const QByteArray text = composeLocaMessage(LocalInfo, QString::fromUtf8("h\u00f6st"), 7);
        QVERIFY(text.contains("\"localAddress\": \"h\xc3\xb6st\""));
    }

    void parsesHostInfoMembers_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("sampleRate");
        QTest::addColumn<int>("frameSize");
        QTest::addColumn<int>("udpInPort");
        QTest::addColumn<int>("channel");
        QTest::addColumn<QString>("codec");
        QTest::addColumn<bool>("output");

        const QString typical = QStringLiteral(
            R"({"message":"hostInfo","protocol":"p1","channel":2,"sampleRate":48000,)"
            R"("sampleSize":16,"frameSize":512,"udpInPort":%1,"input":true,"output":true,)"
            R"("codec":"opus","callSign":"DL1ABC"})");
        QTest::newRow("typical") << typical.arg(4591) << true << 48000 << 512 << 4591 << 2 << "opus"
                                 << true;
        QTest::newRow("udpInPort keeps its low 16 bits")
            << typical.arg(70000) << true << 48000 << 512 << 4464 << 2 << "opus" << true;
        QTest::newRow("negative port")
            << typical.arg(-1) << true << 48000 << 512 << 65535 << 2 << "opus" << true;
        QTest::newRow("port beyond 32 bits")
            << typical.arg(5000000000LL) << true << 48000 << 512 << 0 << 2 << "opus" << true;
        QTest::newRow("sampleRate as digits")
            << R"({"message":"hostInfo","sampleRate":"48000","frameSize":256})" << true << 0 << 256
            << 0 << 0 << "" << false;
        QTest::newRow("sampleRate as fraction")
            << R"({"message":"hostInfo","sampleRate":48000.5,"frameSize":256.0})" << true << 0
            << 256 << 0 << 0 << "" << false;
        QTest::newRow("booleans and null are not numbers")
            << R"({"message":"hostInfo","sampleRate":true,"channel":null,"frameSize":-512})" << true
            << 0 << -512 << 0 << 0 << "" << false;
        QTest::newRow("largest and beyond 32-bit")
            << R"({"message":"hostInfo","sampleRate":2147483647,"frameSize":2147483648})" << true
            << 2147483647 << 0 << 0 << 0 << "" << false;
        QTest::newRow("flags only from booleans")
            << R"({"message":"hostInfo","output":1,"codec":7})" << true << 0 << 0 << 0 << 0 << ""
            << false;
        QTest::newRow("bare hostInfo")
            << R"({"message":"hostInfo"})" << true << 0 << 0 << 0 << 0 << "" << false;
        QTest::newRow("capital H") << R"({"message":"HostInfo","sampleRate":48000})" << false << 0
                                   << 0 << 0 << 0 << "" << false;
        QTest::newRow("other message")
            << R"({"message":"startOutput"})" << false << 0 << 0 << 0 << 0 << "" << false;
        QTest::newRow("message not a string")
            << R"({"message":1})" << false << 0 << 0 << 0 << 0 << "" << false;
        QTest::newRow("no message")
            << R"({"sampleRate":48000})" << false << 0 << 0 << 0 << 0 << "" << false;
        QTest::newRow("not JSON") << "hostInfo" << false << 0 << 0 << 0 << 0 << "" << false;
        QTest::newRow("array") << R"(["hostInfo"])" << false << 0 << 0 << 0 << 0 << "" << false;
        QTest::newRow("truncated") << R"({"message":"hostInfo","sampleRate":48)" << false << 0 << 0
                                   << 0 << 0 << "" << false;
        QTest::newRow("empty") << "" << false << 0 << 0 << 0 << 0 << "" << false;
    }
    void parsesHostInfoMembers() {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        const std::optional<HostDescription> host = parseHostInfo(text);
        QCOMPARE(host.has_value(), accepted);
        if (!accepted)
            return;
        QTEST(host->sampleRate, "sampleRate");
        QTEST(host->frameSize, "frameSize");
        QTEST(int(host->udpInPort), "udpInPort");
        QTEST(host->channel, "channel");
        QTEST(host->codec, "codec");
        QTEST(host->output, "output");
    }

    void typicalHostInfoFillsEveryMember() {
        const std::optional<HostDescription> host = parseHostInfo(QStringLiteral(
            R"({"message":"hostInfo","protocol":"p1","channel":2,"sampleRate":48000,)"
            R"("sampleSize":16,"frameSize":512,"udpInPort":4591,"input":true,"output":false,)"
            R"("codec":"opus","callSign":"DL1ABC","extra":[1,2]})"));
        QVERIFY(host);
        QCOMPARE(host->protocol, QStringLiteral("p1"));
        QCOMPARE(host->sampleSize, 16);
        QCOMPARE(host->input, true);
        QCOMPARE(host->output, false);
        QCOMPARE(host->callSign, QStringLiteral("DL1ABC"));
    }

    void integralValuesWithin32Bits_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("expected");
        QTest::newRow("zero") << 0.0 << 0;
        QTest::newRow("minimum") << -2147483648.0 << int(-2147483647 - 1);
        QTest::newRow("below minimum") << -2147483649.0 << 0;
        QTest::newRow("fraction") << 0.5 << 0;
        QTest::newRow("negative fraction") << -3.25 << 0;
        QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << 0;
        QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN() << 0;
    }
    void integralValuesWithin32Bits() {
        QFETCH(double, value);
        QTEST(jsonInt32(value), "expected");
    }
};

QTEST_APPLESS_MAIN(TestControlMessages)
#include "tst_controlmessages.moc"
