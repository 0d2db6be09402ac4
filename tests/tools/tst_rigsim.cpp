#include "rigsimoptions.h"
#include "rigsimprotocol.h"
#include "wavfile.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QWebSocket>
#include <QtTest>

namespace {

constexpr int kStartTimeoutMs = 5000;

// umx-rigsim run as a separate process, as operators and scripts run it.
class RigProcess {
public:
    explicit RigProcess(QStringList arguments) {
        process.setProgram(qEnvironmentVariable("UMX_BIN_DIR") + QStringLiteral("/umx-rigsim"));
        process.setArguments(QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                                         QStringLiteral("--udp-in-port"), QStringLiteral("0")} +
                             arguments);
        process.start();
    }
    ~RigProcess() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
    bool waitReady() {
        if (!process.waitForStarted())
            return false;
        // Notes about fault switches may come first; the ready line ends the start-up.
        const QRegularExpression readyLine(
            QStringLiteral("^ready ws://([0-9.]+:\\d+) udp-in (\\d+)\n$"));
        while (process.canReadLine() || process.waitForReadyRead(kStartTimeoutMs)) {
            while (process.canReadLine()) {
                const QRegularExpressionMatch match =
                    readyLine.match(QString::fromUtf8(process.readLine()));
                if (match.hasMatch()) {
                    url = QUrl(QStringLiteral("ws://") + match.captured(1));
                    udpIn = static_cast<quint16>(match.captured(2).toUInt());
                    return true;
                }
            }
        }
        return false;
    }
    // Stops it the way an operator does and returns everything it printed.
    QString terminate() {
        process.terminate();
        process.waitForFinished(kStartTimeoutMs);
        return QString::fromUtf8(process.readAllStandardOutput());
    }

    QProcess process;
    QUrl url;
    quint16 udpIn = 0;
};

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
                               kStartTimeoutMs);
    }
    void send(const QJsonObject& message) {
        socket.sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson()));
    }
    QJsonObject lastReceived() const {
        return QJsonDocument::fromJson(received.last().toUtf8()).object();
    }

    QWebSocket socket;
    QStringList received;
    int pongs = 0;
};

QJsonObject localInfo(quint16 port) {
    return {{QStringLiteral("message"), QStringLiteral("localInfo")},
            {QStringLiteral("localAddress"), QStringLiteral("127.0.0.1")},
            {QStringLiteral("localPort"), port}};
}

QJsonObject bare(const char* message) {
    return {{QStringLiteral("message"), QLatin1String(message)}};
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

    void hostInfoCarriesTheOptions() {
        RigSimOptions options;
        options.sampleRate = 44100;
        options.frameSize = 441;
        options.callSign = QStringLiteral("DL0XYZ");
        const QJsonObject host = QJsonDocument::fromJson(composeHostInfo(options, 5555)).object();
        QCOMPARE(host.value(QStringLiteral("message")).toString(), QStringLiteral("hostInfo"));
        QCOMPARE(host.value(QStringLiteral("sampleRate")).toInt(), 44100);
        QCOMPARE(host.value(QStringLiteral("frameSize")).toInt(), 441);
        QCOMPARE(host.value(QStringLiteral("udpInPort")).toInt(), 5555);
        QCOMPARE(host.value(QStringLiteral("channel")).toInt(), 2);
        QCOMPARE(host.value(QStringLiteral("callSign")).toString(), QStringLiteral("DL0XYZ"));
        QVERIFY(QJsonDocument::fromJson(malformedHostText()).isNull());

        options.oversizedBytes = 3 * 1024 * 1024;
        const QByteArray big = composeHostInfo(options, 5555);
        QVERIFY(big.size() >= options.oversizedBytes);
        const QJsonObject padded = QJsonDocument::fromJson(big).object();
        QCOMPARE(padded.value(QStringLiteral("message")).toString(), QStringLiteral("hostInfo"));
        QCOMPARE(padded.value(QStringLiteral("frameSize")).toInt(), 441);
        QCOMPARE(parsePanelMessage(QString::fromUtf8(unexpectedHostText())).message,
                 QStringLiteral("rigStatus"));
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
        QTest::newRow("garbage") << "}{"
                                 << "" << -1;
    }
    void readsPanelMessages() {
        QFETCH(QString, text);
        const PanelMessage parsed = parsePanelMessage(text);
        QTEST(parsed.message, "message");
        QTEST(parsed.localPort, "port");
    }

    void streamsBetweenStartAndStopOutput() {
        QTemporaryDir dir;
        const QString recording = dir.filePath(QStringLiteral("panel.wav"));
        RigProcess rig({QStringLiteral("--frame-size"), QStringLiteral("480"),
                        QStringLiteral("--record"), recording});
        QVERIFY(rig.waitReady());
        QUdpSocket audio;
        QVERIFY(audio.bind(QHostAddress::LocalHost, 0));
        ScriptedPanel panel;
        QVERIFY(panel.open(rig.url));

        panel.send(localInfo(audio.localPort()));
        QTRY_COMPARE(panel.received.size(), 1);
        const QJsonObject host = panel.lastReceived();
        QCOMPARE(host.value(QStringLiteral("message")).toString(), QStringLiteral("hostInfo"));
        QCOMPARE(host.value(QStringLiteral("sampleRate")).toInt(), 48000);
        QCOMPARE(host.value(QStringLiteral("frameSize")).toInt(), 480);
        QCOMPARE(host.value(QStringLiteral("udpInPort")).toInt(), int(rig.udpIn));
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
        QVERIFY2(said.contains(QRegularExpression(QStringLiteral(
                     "\nrx \\d+ samples/s, [0-9.]+ datagrams/s, largest 960 bytes"))),
                 qPrintable(said));
        QVERIFY(said.contains(QStringLiteral("audio stopped (stopOutput)")));
        QVERIFY(said.endsWith(QStringLiteral("stopped\n")));
        QFile file(recording);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const std::optional<WavAudio> recorded = parseWav(file.readAll(), nullptr);
        QVERIFY(recorded);
        QCOMPARE(recorded->channels, 1);
        QCOMPARE(recorded->samples, block.repeated(50));
    }

    void faultSwitches() {
        {
            RigProcess rig({QStringLiteral("--send-unexpected")});
            QVERIFY(rig.waitReady());
            ScriptedPanel panel;
            QVERIFY(panel.open(rig.url));
            panel.send(localInfo(2476));
            QTRY_COMPARE(panel.received.size(), 1);
            QCOMPARE(panel.lastReceived().value(QStringLiteral("message")).toString(),
                     QStringLiteral("rigStatus"));
        }
        {
            RigProcess rig({QStringLiteral("--announce-dead-port")});
            QVERIFY(rig.waitReady());
            ScriptedPanel panel;
            QVERIFY(panel.open(rig.url));
            panel.send(localInfo(2476));
            QTRY_COMPARE(panel.received.size(), 1);
            const int announced = panel.lastReceived().value(QStringLiteral("udpInPort")).toInt();
            QVERIFY(announced > 0 && announced != rig.udpIn);
        }
        {
            RigProcess rig({QStringLiteral("--refuse")});
            QVERIFY(rig.waitReady());
            ScriptedPanel panel;
            QSignalSpy failed(&panel.socket,
                              qOverload<QAbstractSocket::SocketError>(&QWebSocket::error));
            panel.socket.open(rig.url);
            QTRY_VERIFY(failed.count() >= 1);
            QVERIFY(panel.socket.state() != QAbstractSocket::ConnectedState);
        }
        {
            RigProcess rig({QStringLiteral("--drop-after"), QStringLiteral("0")});
            QVERIFY(rig.waitReady());
            ScriptedPanel panel;
            QSignalSpy dropped(&panel.socket, &QWebSocket::disconnected);
            panel.socket.open(rig.url);
            QTRY_COMPARE(dropped.count(), 1);
            QVERIFY(rig.terminate().contains(QStringLiteral("fault: dropping client")));
        }
        {
            // A hung host answers no ping until the hang is over.
            RigProcess rig({QStringLiteral("--hang-after"), QStringLiteral("1"),
                            QStringLiteral("--hang-for"), QStringLiteral("2")});
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
            RigProcess rig({QStringLiteral("--hang-after"), QStringLiteral("1"),
                            QStringLiteral("--hang-for"), QStringLiteral("2"),
                            QStringLiteral("--hang-keeps-audio")});
            QVERIFY(rig.waitReady());
            QUdpSocket audio;
            QVERIFY(audio.bind(QHostAddress::LocalHost, 0));
            ScriptedPanel panel;
            QVERIFY(panel.open(rig.url));
            panel.send(localInfo(audio.localPort()));
            panel.send(bare("startOutput"));
            QTRY_COMPARE(panel.received.size(), 1);
            QTest::qWait(1300);
            panel.socket.ping();
            while (audio.hasPendingDatagrams())
                audio.receiveDatagram();
            const QList<QByteArray> during = collect(audio, 500);
            QCOMPARE(panel.pongs, 0);
            // 93.75 datagrams per second keep coming while the control side is dead.
            QVERIFY2(during.size() >= 30, qPrintable(QString::number(during.size())));
            QTRY_COMPARE_WITH_TIMEOUT(panel.pongs, 1, 3000);
            QVERIFY(rig.terminate().contains(QStringLiteral("audio keeps flowing")));
        }
    }

    void clearErrorsWhenItCannotStart() {
        RigProcess first({});
        QVERIFY(first.waitReady());
        QProcess second;
        second.start(
            qEnvironmentVariable("UMX_BIN_DIR") + QStringLiteral("/umx-rigsim"),
            {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(first.url.port())});
        QVERIFY(second.waitForFinished(kStartTimeoutMs));
        QCOMPARE(second.exitCode(), 1);
        QVERIFY(second.readAllStandardOutput().isEmpty());
        const QString error = QString::fromUtf8(second.readAllStandardError());
        QVERIFY2(error.startsWith(QStringLiteral("umx-rigsim: error: cannot serve the control "
                                                 "channel on 127.0.0.1:")),
                 qPrintable(error));

        QProcess bad;
        bad.start(qEnvironmentVariable("UMX_BIN_DIR") + QStringLiteral("/umx-rigsim"),
                  {QStringLiteral("--sample-rate"), QStringLiteral("0")});
        QVERIFY(bad.waitForFinished(kStartTimeoutMs));
        QCOMPARE(bad.exitCode(), 2);
        QVERIFY(QString::fromUtf8(bad.readAllStandardError())
                    .contains(QStringLiteral("--sample-rate")));
    }
};

QTEST_GUILESS_MAIN(TestRigSim)
#include "tst_rigsim.moc"
