#include "controlmessages.h"

#include <QtTest>

namespace {

// Every member of a parsed host description, or "rejected".
QString described(const std::optional<HostDescription>& h) {
    if (!h)
        return "rejected";
    return QString("%1 ch=%2 rate=%3 bits=%4 frame=%5 udp=%6 in=%7 out=%8 %9 %10")
        .arg(h->protocol)
        .arg(h->channel)
        .arg(h->sampleRate)
        .arg(h->sampleSize)
        .arg(h->frameSize)
        .arg(h->udpInPort)
        .arg(h->input)
        .arg(h->output)
        .arg(h->codec, h->callSign)
        .trimmed();
}

} // namespace

class TestControlMessages : public QObject {
    Q_OBJECT

private slots:
    void composesEachTypeExactly_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("port");
        QTest::addColumn<QByteArray>("expected");
        // localInfo as the controller sends it is compared on the wire; here its non-ASCII case.
        QTest::newRow("localInfo non-ASCII is UTF-8")
            << 0 << QString::fromUtf8("h\u00f6st") << 7
            << QByteArray("{\n    \"localAddress\": \"h\xc3\xb6st\",\n    \"localPort\": 7,\n"
                          "    \"message\": \"localInfo\"\n}\n");
        const char* names[] = {"startInput", "stopInput", "startOutput", "stopOutput"};
        for (int type = 1; type <= 4; ++type)
            QTest::newRow(names[type - 1])
                << type << "10.0.0.1" << 1
                << QByteArray("{\n    \"message\": \"") + names[type - 1] + "\"\n}\n";
        QTest::newRow("5 is unknown") << 5 << QString() << 1 << QByteArray();
        QTest::newRow("-1 is unknown") << -1 << QString() << 1 << QByteArray();
    }
    void composesEachTypeExactly() {
        QFETCH(int, type);
        QFETCH(QString, address);
        QFETCH(int, port);
        QTEST(composeLocaMessage(static_cast<LocaMsgType>(type), address, port), "expected");
    }

    void parsesHostInfoMembers_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const QString typical =
            R"({"message":"hostInfo","protocol":"p1","channel":2,"sampleRate":48000,)"
            R"("sampleSize":16,"frameSize":512,"udpInPort":%1,"input":true,"output":true,)"
            R"("codec":"opus","callSign":"DL1ABC","extra":[1,2]})";
        const QString all = "p1 ch=2 rate=48000 bits=16 frame=512 udp=%1 in=1 out=1 opus DL1ABC";
        QTest::newRow("typical") << typical.arg(4591) << all.arg(4591);
        QTest::newRow("udpInPort keeps its low 16 bits") << typical.arg(70000) << all.arg(4464);
        QTest::newRow("negative port") << typical.arg(-1) << all.arg(65535);
        QTest::newRow("port beyond 32 bits") << typical.arg(5000000000LL) << all.arg(0);
        const QString bare = "ch=0 rate=%1 bits=0 frame=%2 udp=0 in=0 out=0";
        QTest::newRow("sampleRate as digits")
            << R"({"message":"hostInfo","sampleRate":"48000","frameSize":256})"
            << bare.arg(0).arg(256);
        QTest::newRow("sampleRate as fraction")
            << R"({"message":"hostInfo","sampleRate":48000.5,"frameSize":256.0})"
            << bare.arg(0).arg(256);
        QTest::newRow("booleans and null are not numbers")
            << R"({"message":"hostInfo","sampleRate":true,"channel":null,"frameSize":-512})"
            << bare.arg(0).arg(-512);
        QTest::newRow("largest and beyond 32-bit")
            << R"({"message":"hostInfo","sampleRate":2147483647,"frameSize":2147483648})"
            << bare.arg(2147483647).arg(0);
        QTest::newRow("flags and texts only from their types")
            << R"({"message":"hostInfo","output":1,"codec":7,"protocol":false})"
            << bare.arg(0).arg(0);
        QTest::newRow("bare hostInfo") << R"({"message":"hostInfo"})" << bare.arg(0).arg(0);
        for (const char* text :
             {R"({"message":"HostInfo","sampleRate":48000})", R"({"message":"startOutput"})",
              R"({"message":1})", R"({"sampleRate":48000})", "hostInfo", R"(["hostInfo"])",
              R"({"message":"hostInfo","sampleRate":48)", ""})
            QTest::newRow(text) << text << "rejected";
    }
    void parsesHostInfoMembers() {
        QFETCH(QString, text);
        QTEST(described(parseHostInfo(text)), "expected");
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
