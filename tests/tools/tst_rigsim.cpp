#include "rigprocess.h"
#include "rigsimoptions.h"
#include "rigsimprotocol.h"
#include "wavfile.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QWebSocket>
#include <QtTest>

namespace {

// The panel's side of the control channel, scripted.
class ScriptedPanel {
public:
    ScriptedPanel() {
        QObject::connect(&socket, &QWebSocket::textMessageReceived,
                         [this](const QString& text) { received << text; });
        QObject::connect(&socket, &QWebSocket::pong, [this] { ++pongs; });
    }
    bool open(const QUrl& url) {
        socket.open(url);
        return QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::ConnectedState; },
                               RigProcess::kStartTimeoutMs);
    }
    void send(const QJsonObject& message) {
        socket.sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson()));
    }
    // Announces the panel's audio port and waits for the host's answer.
    QJsonObject introduce(quint16 audioPort) {
        send({{"message", "localInfo"}, {"localAddress", "127.0.0.1"}, {"localPort", audioPort}});
        if (!QTest::qWaitFor([this] { return !received.isEmpty(); }, RigProcess::kStartTimeoutMs))
            return {};
        return QJsonDocument::fromJson(received.last().toUtf8()).object();
    }

    QWebSocket socket;
    QStringList received;
    int pongs = 0;
};

QJsonObject bare(const char* message) {
    return {{"message", message}};
}

// Datagrams that arrive within the given time.
QList<QByteArray> collect(QUdpSocket& socket, int ms) {
    QList<QByteArray> out;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QTest::qWait(10);
        while (socket.hasPendingDatagrams())
            out << socket.receiveDatagram().data();
    }
    return out;
}

// What a rig started with these switches first answers a panel's introduction, and its UDP port.
std::pair<QString, quint16> firstAnswer(const QStringList& switches) {
    RigProcess rig(switches);
    ScriptedPanel panel;
    if (!rig.waitReady() || !panel.open(rig.url))
        return {};
    panel.introduce(2476);
    return {panel.received.value(0), rig.udpIn};
}

QJsonObject json(const QString& text) {
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

} // namespace

class TestRigSim : public QObject {
    Q_OBJECT

private slots:
    void readsItsOptions_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("detail");
        const int run = static_cast<int>(OptionsOutcome::Run);
        const int error = static_cast<int>(OptionsOutcome::Error);
        QTest::newRow("defaults") << QStringList() << run << "127.0.0.1:4590 48000 512 4591";
        QTest::newRow("all set") << QStringList{"--listen",      "0.0.0.0:7000", "--sample-rate",
                                                "96000",         "--frame-size", "1024",
                                                "--udp-in-port", "7001"}
                                 << run << "0.0.0.0:7000 96000 1024 7001";
        QTest::newRow("ipv6") << QStringList{"--listen", "[::1]:7000"} << run
                              << "::1:7000 48000 512 4591";
        QTest::newRow("no port") << QStringList{"--listen", "127.0.0.1"} << error << "--listen";
        QTest::newRow("name not address")
            << QStringList{"--listen", "localhost:80"} << error << "--listen";
        QTest::newRow("port too big")
            << QStringList{"--udp-in-port", "65536"} << error << "--udp-in-port";
        QTest::newRow("zero frames") << QStringList{"--frame-size", "0"} << error << "--frame-size";
        QTest::newRow("rate not a number")
            << QStringList{"--sample-rate", "fast"} << error << "--sample-rate";
        QTest::newRow("negative tone")
            << QStringList{"--tone-left", "-5"} << error << "--tone-left";
        QTest::newRow("unknown") << QStringList{"--frobnicate"} << error << "frobnicate";
        QTest::newRow("stray") << QStringList{"extra"} << error << "extra";
        QTest::newRow("two bad replies")
            << QStringList{"--send-malformed", "--send-unexpected"} << error << "exclude";
        QTest::newRow("audio through a hang without a hang")
            << QStringList{"--hang-keeps-audio"} << error << "--hang-after";
        QTest::newRow("help") << QStringList{"--help"} << static_cast<int>(OptionsOutcome::ShowHelp)
                              << "--announce-dead-port";
    }
    void readsItsOptions() {
        QFETCH(QStringList, arguments);
        QFETCH(int, outcome);
        QFETCH(QString, detail);
        const ParsedOptions parsed =
            parseRigSimOptions(QStringList{QStringLiteral("umx-rigsim")} + arguments);
        QCOMPARE(static_cast<int>(parsed.outcome), outcome);
        if (parsed.outcome != OptionsOutcome::Run) {
            QVERIFY2(parsed.text.contains(detail), qPrintable(parsed.text));
            return;
        }
        const RigSimOptions& o = parsed.options;
        QCOMPARE(QStringLiteral("%1:%2 %3 %4 %5")
                     .arg(o.listenAddress.toString())
                     .arg(o.listenPort)
                     .arg(o.sampleRate)
                     .arg(o.frameSize)
                     .arg(o.udpInPort),
                 detail);
    }

    void readsPanelMessages_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("port");
        QTest::newRow("localInfo")
            << R"({"message":"localInfo","localAddress":"","localPort":2476})"
            << "localInfo" << 2476;
        QTest::newRow("port zero") << R"({"message":"localInfo","localPort":0})"
                                   << "localInfo" << -1;
        QTest::newRow("port text") << R"({"message":"localInfo","localPort":"2476"})"
                                   << "localInfo" << -1;
        QTest::newRow("startOutput") << R"({"message":"startOutput"})"
                                     << "startOutput" << -1;
        QTest::newRow("garbage") << "}{" << QString() << -1;
    }
    void readsPanelMessages() {
        QFETCH(QString, text);
        const PanelMessage parsed = parsePanelMessage(text);
        QTEST(parsed.message, "message");
        QTEST(parsed.localPort, "port");
    }

    void streamsBetweenStartAndStopOutput() {
        QTemporaryDir dir;
        const QString recording = dir.filePath("panel.wav");
        RigProcess rig({"--frame-size", "480", "--record", recording});
        QVERIFY(rig.waitReady());
        QUdpSocket audio;
        QVERIFY(audio.bind(QHostAddress::LocalHost, 0));
        ScriptedPanel panel;
        QVERIFY(panel.open(rig.url));
        const QJsonObject host = panel.introduce(audio.localPort());
        QCOMPARE(host["message"].toString(), "hostInfo");
        QCOMPARE(host["sampleRate"].toInt(), 48000);
        QCOMPARE(host["frameSize"].toInt(), 480);
        QCOMPARE(host["udpInPort"].toInt(), int(rig.udpIn));
        QVERIFY(collect(audio, 200).isEmpty());

        panel.send(bare("startOutput"));
        const QList<QByteArray> datagrams = collect(audio, 1000);
        // 100 per second at 48000/480; a loose window, the exact rate is a benchmark's business.
        QVERIFY2(datagrams.size() >= 80 && datagrams.size() <= 110,
                 qPrintable(QString::number(datagrams.size())));
        for (const QByteArray& datagram : datagrams)
            QCOMPARE(datagram.size(), 480 * 4);

        // The panel's audio goes the other way and is metered and recorded.
        QUdpSocket mic;
        const QByteArray block(960, '\x10');
        for (int i = 0; i < 50; ++i)
            mic.writeDatagram(block, QHostAddress::LocalHost, rig.udpIn);

        panel.send(bare("stopOutput"));
        collect(audio, 200);
        QVERIFY(collect(audio, 300).isEmpty());

        const QString said = rig.terminate();
        QCOMPARE(rig.process.exitCode(), 0);
        QVERIFY2(said.contains(QRegularExpression(
                     "\nrx \\d+ samples/s, [0-9.]+ datagrams/s, largest 960 bytes")),
                 qPrintable(said));
        QVERIFY(said.contains("audio stopped (stopOutput)"));
        QVERIFY(said.endsWith("stopped\n"));
        QFile file(recording);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const std::optional<WavAudio> recorded = parseWav(file.readAll(), nullptr);
        QVERIFY(recorded);
        QCOMPARE(recorded->channels, 1);
        QCOMPARE(recorded->samples, block.repeated(50));
    }

    void faultSwitches() {
        QCOMPARE(json(firstAnswer({"--send-unexpected"}).first)["message"].toString(), "rigStatus");
        const QString malformed = firstAnswer({"--send-malformed"}).first;
        QVERIFY(!malformed.isEmpty() && QJsonDocument::fromJson(malformed.toUtf8()).isNull());
        // A padded description still carries the options.
        const QString big = firstAnswer({"--send-oversized", "300000", "--sample-rate", "44100",
                                         "--call-sign", "DL0XYZ"})
                                .first;
        QVERIFY2(big.size() >= 300000, qPrintable(QString::number(big.size())));
        const QJsonObject padded = json(big);
        QCOMPARE(QString("%1 %2 %3 %4")
                     .arg(padded["message"].toString())
                     .arg(padded["sampleRate"].toInt())
                     .arg(padded["channel"].toInt())
                     .arg(padded["callSign"].toString()),
                 "hostInfo 44100 2 DL0XYZ");
        const auto [dead, udpIn] = firstAnswer({"--announce-dead-port"});
        const int announced = json(dead)["udpInPort"].toInt();
        QVERIFY(announced > 0 && announced != udpIn);
        {
            RigProcess rig({"--refuse"});
            QVERIFY(rig.waitReady());
            ScriptedPanel panel;
            QSignalSpy failed(&panel.socket,
                              qOverload<QAbstractSocket::SocketError>(&QWebSocket::error));
            panel.socket.open(rig.url);
            QTRY_VERIFY(failed.count() >= 1);
            QVERIFY(panel.socket.state() != QAbstractSocket::ConnectedState);
        }
        {
            RigProcess rig({"--drop-after", "0"});
            QVERIFY(rig.waitReady());
            ScriptedPanel panel;
            QSignalSpy dropped(&panel.socket, &QWebSocket::disconnected);
            panel.socket.open(rig.url);
            QTRY_COMPARE(dropped.count(), 1);
            QVERIFY(rig.terminate().contains("fault: dropping client"));
        }
        {
            // A hung host answers no ping until the hang is over.
            RigProcess rig({"--hang-after", "1", "--hang-for", "2"});
            QVERIFY(rig.waitReady());
            ScriptedPanel panel;
            QVERIFY(panel.open(rig.url));
            panel.socket.ping();
            QTRY_COMPARE(panel.pongs, 1);
            QTest::qWait(1300);
            panel.socket.ping();
            QTest::qWait(500);
            QCOMPARE(panel.pongs, 1);
            QTRY_COMPARE_WITH_TIMEOUT(panel.pongs, 2, 3000);
        }
        {
            // A host whose control side hangs while its audio keeps flowing.
            RigProcess rig({"--hang-after", "1", "--hang-for", "2", "--hang-keeps-audio"});
            QVERIFY(rig.waitReady());
            QUdpSocket audio;
            QVERIFY(audio.bind(QHostAddress::LocalHost, 0));
            ScriptedPanel panel;
            QVERIFY(panel.open(rig.url));
            QCOMPARE(panel.introduce(audio.localPort())["message"].toString(), "hostInfo");
            panel.send(bare("startOutput"));
            QTest::qWait(1300);
            panel.socket.ping();
            while (audio.hasPendingDatagrams())
                audio.receiveDatagram();
            const QList<QByteArray> during = collect(audio, 500);
            QCOMPARE(panel.pongs, 0);
            // 93.75 datagrams per second keep coming while the control side is dead.
            QVERIFY2(during.size() >= 30, qPrintable(QString::number(during.size())));
            QTRY_COMPARE_WITH_TIMEOUT(panel.pongs, 1, 3000);
            QVERIFY(rig.terminate().contains("audio keeps flowing"));
        }
    }

    void clearErrorsWhenItCannotStart() {
        RigProcess first({});
        QVERIFY(first.waitReady());
        QProcess second;
        second.start(RigProcess::program(),
                     {"--listen", "127.0.0.1:" + QString::number(first.url.port())});
        QVERIFY(second.waitForFinished(RigProcess::kStartTimeoutMs));
        QCOMPARE(second.exitCode(), 1);
        QVERIFY(second.readAllStandardOutput().isEmpty());
        const QString error = QString::fromUtf8(second.readAllStandardError());
        QVERIFY2(
            error.startsWith("umx-rigsim: error: cannot serve the control channel on 127.0.0.1:"),
            qPrintable(error));

        QProcess bad;
        bad.start(RigProcess::program(), {"--sample-rate", "0"});
        QVERIFY(bad.waitForFinished(RigProcess::kStartTimeoutMs));
        QCOMPARE(bad.exitCode(), 2);
        QVERIFY(bad.readAllStandardError().contains("--sample-rate"));
    }
};

QTEST_GUILESS_MAIN(TestRigSim)
#include "tst_rigsim.moc"
