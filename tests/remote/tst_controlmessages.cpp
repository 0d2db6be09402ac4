// SPDX-License-Identifier: GPL-3.0-or-later

#include "controlmessages.h"

#include <QJsonDocument>
#include <QtTest>

static QString described(const std::optional<HostDescription>& h) {
    if (!h)
        return "refused";
    const QVariantList members{h->protocol,  h->channel, h->sampleRate, h->sampleSize, h->frameSize,
                               h->udpInPort, h->input,   h->output,     h->codec,      h->callSign};
    return QVariant(members).toStringList().join(' ');
}

class TestControlMessages : public QObject {
    Q_OBJECT

private slots:
    void hostInfo_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("stored"); // every member, or "refused"
        const QString full = R"({"message":"hostInfo","protocol":"p1","channel":2,"sampleRate":%1,)"
                             R"("sampleSize":16,"frameSize":512,"udpInPort":%2,"input":true,)"
                             R"("output":true,"codec":"opus","callSign":"DL1ABC","extra":[1]})";
        const QString stored = "p1 2 %1 16 512 %2 true true opus DL1ABC";
        const QString defaults = " 0 0 0 0 0 false false  ", refused = "refused";
        QTest::newRow("complete") << full.arg(48000).arg(4591) << stored.arg(48000).arg(4591);
        QTest::newRow("port keeps 16 bits") << full.arg(1).arg(70000) << stored.arg(1).arg(4464);
        QTest::newRow("every member mistyped")
            << R"({"message":"hostInfo","protocol":1,"channel":"2","sampleRate":48000.5,)"
               R"("sampleSize":true,"frameSize":null,"udpInPort":"4591","input":1,)"
               R"("output":"true","codec":[],"callSign":{}})"
            << defaults;
        QTest::newRow("not JSON") << "hostInfo" << refused;
        QTest::newRow("other message") << R"({"message":"startOutput"})" << refused;
    }
    void hostInfo() {
        QFETCH(QString, text);
        QTEST(described(parseHostInfo(text)), "stored");
    }

    // "localInfo" carries the panel's end of the audio channel; the others only their name.
    void composing() {
        const QByteArray local =
            R"({"localAddress": "10.0.0.2","localPort": 2476,"message": "localInfo"})";
        QCOMPARE(composeLocaMessage(LocalInfo, "10.0.0.2", 2476),
                 QJsonDocument::fromJson(local).toJson());
        QCOMPARE(composeLocaMessage(StartOutput, "10.0.0.2", 2476),
                 QByteArray("{\n    \"message\": \"startOutput\"\n}\n"));
    }
};

QTEST_APPLESS_MAIN(TestControlMessages)
#include "tst_controlmessages.moc"
