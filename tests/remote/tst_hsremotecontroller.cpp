#include "hsremotecontroller.h"
#include "log.h"
#include "logcapture.h"

#include <QCryptographicHash>
#include <QNetworkDatagram>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QWebSocket>
#include <QWebSocketServer>
#include <QtTest>

#include <iostream>
#include <memory>
#include <sstream>

namespace {

constexpr int kShortWaitMs = 300;

// A real WebSocket host on loopback that records what the panel sends.
class HostPeer : public QObject {
public:
    HostPeer()
        : server(QStringLiteral("test host"), QWebSocketServer::NonSecureMode) {
        QObject::connect(&server, &QWebSocketServer::newConnection, this, [this] {
            while (QWebSocket* socket = server.nextPendingConnection()) {
                socket->setParent(this);
                clients << socket;
                QObject::connect(socket, &QWebSocket::textMessageReceived, this,
                                 [this](const QString& text) { received << text; });
                QObject::connect(socket, &QWebSocket::disconnected, this, [this, socket] {
                    closeCodes << static_cast<int>(socket->closeCode());
                });
            }
        });
    }
    // The sockets would outlive the lists their handlers write to: let them go first.
    ~HostPeer() override {
        for (QWebSocket* socket : qAsConst(clients))
            socket->disconnect(this);
        qDeleteAll(clients);
    }
    bool listen(quint16 port = 0) { return server.listen(QHostAddress::LocalHost, port); }
    quint16 port() const { return server.serverPort(); }
    QUrl url() const { return QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port())); }
    QWebSocket* last() const { return clients.isEmpty() ? nullptr : clients.last(); }
    void send(const QString& text) { last()->sendTextMessage(text); }
    // Goes away completely: the connection is dropped and nobody listens on the port.
    void vanish() {
        server.close();
        for (QWebSocket* socket : qAsConst(clients))
            socket->abort();
    }

    QWebSocketServer server;
    QList<QWebSocket*> clients;
    QStringList received;
    QList<int> closeCodes;
};

// Stand-in for a host that has stopped responding: it completes the WebSocket handshake by hand
// and then never writes another byte, so pings go unanswered (Qt's own server always answers).
class SilentWebSocketHostStandIn : public QObject {
public:
    SilentWebSocketHostStandIn() {
        QObject::connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                socket->setParent(this);
                QObject::connect(socket, &QTcpSocket::readyRead, this,
                                 [this, socket] { onData(socket); });
            }
        });
        server.listen(QHostAddress::LocalHost, 0);
    }
    QUrl url() const { return QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(server.serverPort())); }
    int framesAfterHandshake = 0;

private:
    void onData(QTcpSocket* socket) {
        if (upgraded) {
            framesAfterHandshake += socket->readAll().isEmpty() ? 0 : 1;
            return;
        }
        request += socket->readAll();
        if (!request.contains("\r\n\r\n"))
            return;
        const QRegularExpression keyLine(QStringLiteral("Sec-WebSocket-Key: *([^\r]+)"),
                                         QRegularExpression::CaseInsensitiveOption);
        const QByteArray key = keyLine.match(QString::fromLatin1(request)).captured(1).toLatin1();
        const QByteArray accept =
            QCryptographicHash::hash(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11",
                                     QCryptographicHash::Sha1)
                .toBase64();
        socket->write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                      "Connection: Upgrade\r\nSec-WebSocket-Accept: " +
                      accept + "\r\n\r\n");
        upgraded = true;
    }

    QTcpServer server;
    QByteArray request;
    bool upgraded = false;
};

QTimer* timerOf(HSRemoteController& controller, const char* name) {
    return controller.findChild<QTimer*>(QLatin1String(name));
}

// Lets a timer's timeout happen now without waiting through its interval.
void fire(QTimer* timer) {
    timer->stop();
    QMetaObject::invokeMethod(timer, "timeout");
}

QString exactText(const char* message) {
    return QStringLiteral("{\n    \"message\": \"%1\"\n}\n").arg(QLatin1String(message));
}

const QString kHostInfoNoCodec = QStringLiteral(
    R"({"message":"hostInfo","channel":2,"sampleRate":48000,"sampleSize":16,"frameSize":512,)"
    R"("udpInPort":70000})");

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

class TestHSRemoteController : public QObject {
    Q_OBJECT

private slots:
    void init() { currentLogLevel = static_cast<int>(LogLevel::Debug); }
    void cleanup() { currentLogLevel = static_cast<int>(LogLevel::Error); }

    void announcesLocalEndpointOnConnect_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("expected");
        QTest::newRow("never set") << QString() << -1
                                   << "{\n    \"localAddress\": \"\",\n    \"localPort\": 2476,\n"
                                      "    \"message\": \"localInfo\"\n}\n";
        QTest::newRow("set") << "192.168.7.3" << 50123
                             << "{\n    \"localAddress\": \"192.168.7.3\",\n    \"localPort\": "
                                "50123,\n    \"message\": \"localInfo\"\n}\n";
    }
    void announcesLocalEndpointOnConnect() {
        QFETCH(QString, address);
        QFETCH(int, port);
        QFETCH(QString, expected);
        HostPeer host;
        QVERIFY(host.listen());
        HSRemoteController controller;
        if (port >= 0) {
            controller.localAddress = address;
            controller.localPort = port;
        }
        LogCapture log;
        QUrl url = host.url();
        controller.HostStartSent(url);
        QTRY_COMPARE(host.received.size(), 1);
        QCOMPARE(host.received.first(), expected);
        QCOMPARE(controller.hostUrl, url);
        const QStringList notices = log.messages("Notice", "RemoteCtrl");
        QCOMPARE(notices.value(0),
                 QStringLiteral("HostStartSent \u2014 url=%1, isBusy=0").arg(url.toString()));
        QVERIFY(notices.value(1).startsWith(
            QStringLiteral("ws connected \u2014 url=%1, peerAddr=127.0.0.1:%2")
                .arg(url.toString())
                .arg(host.port())));
        QCOMPARE(notices.value(2), QStringLiteral("sentMessageToHost \u2014 type=0"));
        // The keep-alive runs on the specified period once connected.
        QTimer* ping = timerOf(controller, "pingTimer");
        QVERIFY(ping && ping->isActive());
        QCOMPARE(ping->interval(), HSRemoteController::kKeepAlivePeriodMs);
    }

    void hostInfoStartsOutputEachTime() {
        HostPeer host;
        QVERIFY(host.listen());
        HSRemoteController controller;
        QSignalSpy ready(&controller, &HSRemoteController::hostReadyToSent);
        QUrl url = host.url();
        controller.HostStartSent(url);
        QTRY_COMPARE(host.received.size(), 1);

        // The audio path must be up before the host is told to start: while the connection flow
        // handles the signal, no startOutput may reach the host.
        int startOutputsSeenDuringSignal = -1;
        connect(&controller, &HSRemoteController::hostReadyToSent, this, [&] {
            QTest::qWait(kShortWaitMs);
            startOutputsSeenDuringSignal = host.received.count(exactText("startOutput"));
        });

        LogCapture log;
        host.send(kHostInfoNoCodec);
        QTRY_COMPARE(host.received.size(), 2);
        QCOMPARE(startOutputsSeenDuringSignal, 0);
        QCOMPARE(host.received.at(1), exactText("startOutput"));
        QCOMPARE(ready.count(), 1);
        QCOMPARE(controller.sampleRate, 48000);
        QCOMPARE(controller.frameSize, 512);
        QCOMPARE(controller.channel, 2);
        QCOMPARE(controller.sampleSize, 16);
        QCOMPARE(int(controller.udpInPort), 4464);
        QVERIFY(controller.codec.isEmpty());
        const QStringList notices = log.messages("Notice", "RemoteCtrl");
        QCOMPARE(notices.value(0), QStringLiteral("ws received \u2014 ") + kHostInfoNoCodec);
        QCOMPARE(notices.value(1), QStringLiteral("ws hostInfo parsed \u2014 sampleRate=48000, "
                                                  "frameSize=512, channels=2, codec=, "
                                                  "udpInPort=4464"));
        QCOMPARE(notices.value(2), QStringLiteral("sentMessageToHost \u2014 type=3"));

        host.send(QStringLiteral(R"({"message":"hostInfo","sampleRate":96000,"codec":"opus"})"));
        QTRY_COMPARE(host.received.size(), 3);
        QCOMPARE(host.received.at(2), exactText("startOutput"));
        QCOMPARE(ready.count(), 2);
        QCOMPARE(controller.sampleRate, 96000);
        // Absent members are reset, not kept from the first description.
        QCOMPARE(controller.frameSize, 0);
        QCOMPARE(int(controller.udpInPort), 0);
        QCOMPARE(controller.codec, QStringLiteral("opus"));
    }

    void parseHostMessageChangesNothingOnRejection() {
        HSRemoteController controller;
        QVERIFY(controller.parseHostMessage(kHostInfoNoCodec));
        QVERIFY(!controller.parseHostMessage(QStringLiteral(R"({"message":"HostInfo"})")));
        QVERIFY(!controller.parseHostMessage(QStringLiteral("{")));
        QCOMPARE(controller.sampleRate, 48000);
        QCOMPARE(int(controller.udpInPort), 4464);
    }

    void rejectedTextClosesAndReconnects_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("not JSON") << "hello host";
        QTest::newRow("capital H") << R"({"message":"HostInfo","sampleRate":48000})";
        QTest::newRow("message not a string") << R"({"message":true})";
    }
    void rejectedTextClosesAndReconnects() {
        QFETCH(QString, text);
        HostPeer host;
        QVERIFY(host.listen());
        HSRemoteController controller;
        QSignalSpy ready(&controller, &HSRemoteController::hostReadyToSent);
        QSignalSpy disconnected(&controller, &HSRemoteController::hostDisconnected);
        QSignalSpy reconnecting(&controller, &HSRemoteController::reconnecting);
        QUrl url = host.url();
        controller.HostStartSent(url);
        QTRY_COMPARE(host.received.size(), 1);

        LogCapture log;
        host.send(text);
        QTRY_COMPARE(host.closeCodes, QList<int>{1000});
        QCOMPARE(ready.count(), 0);
        QCOMPARE(log.messages("Error", "RemoteCtrl"),
                 QStringList{QStringLiteral("ws parse failed \u2014 closing, message=") + text});
        QTRY_COMPARE(disconnected.count(), 1);
        QCOMPARE(reconnecting.count(), 1);
        QCOMPARE(reconnecting.first().first().toInt(), 1000);
        QVERIFY(log.messages("Notice", "RemoteCtrl")
                    .contains(QStringLiteral(
                        "closeWS \u2014 emitting hostDisconnected, willReconnect=1")));

        // The scheduled attempt opens a fresh connection that announces itself again.
        fire(timerOf(controller, "reconnectTimer"));
        QTRY_COMPARE(host.received.size(), 2);
        QCOMPARE(host.received.at(1), host.received.at(0));
        QCOMPARE(host.clients.size(), 2);
        // The late disconnect of the closed socket must not have been counted twice.
        QCOMPARE(disconnected.count(), 1);
    }

    void reconnectionDelaysDoubleToTheCapAndReset() {
        HostPeer host;
        QVERIFY(host.listen());
        const quint16 port = host.port();
        HSRemoteController controller;
        QSignalSpy disconnected(&controller, &HSRemoteController::hostDisconnected);
        QSignalSpy reconnecting(&controller, &HSRemoteController::reconnecting);
        QSignalSpy connectionError(&controller, &HSRemoteController::hostConnectionError);
        QUrl url = host.url();
        controller.HostStartSent(url);
        QTRY_COMPARE(host.received.size(), 1);
        QTimer* retry = timerOf(controller, "reconnectTimer");
        QVERIFY(retry);

        LogCapture log;
        host.vanish();
        QTRY_COMPARE(reconnecting.count(), 1);
        QList<int> intervals{retry->interval()};
        const QList<int> expected{1000, 2000, 4000, 8000, 16000, 30000, 30000};
        while (reconnecting.count() < expected.size()) {
            QVERIFY(retry->isActive());
            const int before = reconnecting.count();
            fire(retry);
            QTRY_COMPARE(reconnecting.count(), before + 1);
            intervals << retry->interval();
        }
        QList<int> announced;
        for (const QList<QVariant>& args : qAsConst(reconnecting))
            announced << args.first().toInt();
        QCOMPARE(announced, expected);
        QCOMPARE(intervals, expected);
        // Every failed attempt tears down once; a loss after success is never an error report.
        QCOMPARE(disconnected.count(), expected.size());
        QCOMPARE(connectionError.count(), 0);
        QVERIFY(
            log.messages("Notice", "RemoteCtrl")
                .contains(QStringLiteral("Reconnect attempt \u2014 opening %1, delay was 16000ms")
                              .arg(url.toString())));
        QVERIFY(log.messages("Notice", "RemoteCtrl")
                    .contains(QStringLiteral("scheduleReconnect \u2014 delay=30000ms, url=%1")
                                  .arg(url.toString())));

        // The host comes back: the next attempt succeeds and the next loss starts over at 1000.
        HostPeer again;
        QVERIFY(again.listen(port));
        fire(retry);
        QTRY_COMPARE(again.received.size(), 1);
        again.vanish();
        QTRY_COMPARE(reconnecting.count(), expected.size() + 1);
        QCOMPARE(reconnecting.last().first().toInt(), 1000);
        QCOMPARE(retry->interval(), 1000);
        controller.HostStopSent();
    }

    void stopWhileReconnectPendingEmitsNothing() {
        HostPeer host;
        QVERIFY(host.listen());
        HSRemoteController controller;
        QSignalSpy disconnected(&controller, &HSRemoteController::hostDisconnected);
        QSignalSpy reconnecting(&controller, &HSRemoteController::reconnecting);
        QUrl url = host.url();
        controller.HostStartSent(url);
        QTRY_COMPARE(host.received.size(), 1);
        host.vanish();
        QTRY_COMPARE(reconnecting.count(), 1);
        QTimer* retry = timerOf(controller, "reconnectTimer");
        QVERIFY(retry->isActive());

        LogCapture log;
        controller.HostStopSent();
        QVERIFY(!retry->isActive());
        QTest::qWait(kShortWaitMs);
        QCOMPARE(disconnected.count(), 1);
        QCOMPARE(reconnecting.count(), 1);
        QCOMPARE(log.messages("Notice", "RemoteCtrl"),
                 (QStringList{QStringLiteral("HostStopSent \u2014 user initiated disconnect"),
                              QStringLiteral("sentMessageToHost \u2014 type=4"),
                              QStringLiteral("closeWS \u2014 isExit=0, isBusy=0, wsState=0, "
                                             "userInitiated=1")}));
    }

    void operatorDisconnectSendsStopOutputAndCloses() {
        HostPeer host;
        QVERIFY(host.listen());
        HSRemoteController controller;
        QSignalSpy disconnected(&controller, &HSRemoteController::hostDisconnected);
        QSignalSpy reconnecting(&controller, &HSRemoteController::reconnecting);
        QUrl url = host.url();
        controller.HostStartSent(url);
        QTRY_COMPARE(host.received.size(), 1);

        LogCapture log;
        controller.HostStopSent();
        QCOMPARE(disconnected.count(), 1);
        QTRY_COMPARE(host.closeCodes, QList<int>{1000});
        QCOMPARE(host.received.value(1), exactText("stopOutput"));
        QTest::qWait(kShortWaitMs);
        QCOMPARE(reconnecting.count(), 0);
        QCOMPARE(disconnected.count(), 1);
        QVERIFY(!timerOf(controller, "pingTimer")->isActive());
        QVERIFY(log.messages("Notice", "RemoteCtrl")
                    .contains(QStringLiteral(
                        "closeWS \u2014 emitting hostDisconnected, willReconnect=0")));
        // An operator disconnect does not even consider reconnecting.
        QVERIFY(log.messages("Notice", "RemoteCtrl")
                    .filter(QStringLiteral("scheduleReconnect"))
                    .isEmpty());
    }

    void destructionClosesQuietly() {
        HostPeer host;
        QVERIFY(host.listen());
        auto controller = std::make_unique<HSRemoteController>();
        QSignalSpy disconnected(controller.get(), &HSRemoteController::hostDisconnected);
        QSignalSpy reconnecting(controller.get(), &HSRemoteController::reconnecting);
        QUrl url = host.url();
        controller->HostStartSent(url);
        QTRY_COMPARE(host.received.size(), 1);
        LogCapture log;
        controller.reset();
        QTRY_COMPARE(host.closeCodes, QList<int>{1000});
        QCOMPARE(disconnected.count(), 0);
        QCOMPARE(reconnecting.count(), 0);
        const QStringList notices = log.messages("Notice", "RemoteCtrl");
        QCOMPARE(notices.value(0),
                 QStringLiteral("closeWS \u2014 isExit=1, isBusy=1, wsState=3, userInitiated=0"));
        QVERIFY(notices.filter(QStringLiteral("emitting hostDisconnected")).isEmpty());
        QVERIFY(notices.filter(QStringLiteral("scheduleReconnect")).isEmpty());
    }

    void refusedFirstConnectionIsReportedNotRetried() {
        HSRemoteController controller;
        QStringList order;
        connect(&controller, &HSRemoteController::hostDisconnected, this,
                [&] { order << QStringLiteral("disconnected"); });
        connect(&controller, &HSRemoteController::hostConnectionError, this,
                [&] { order << QStringLiteral("connectionError"); });
        QSignalSpy reconnecting(&controller, &HSRemoteController::reconnecting);
        QUrl url(QStringLiteral("ws://127.0.0.1:%1").arg(freePort()));
        LogCapture log;
        controller.HostStartSent(url);
        QTRY_COMPARE(order.size(), 2);
        QCOMPARE(order,
                 (QStringList{QStringLiteral("disconnected"), QStringLiteral("connectionError")}));
        QTest::qWait(kShortWaitMs);
        QCOMPARE(order.size(), 2);
        QCOMPARE(reconnecting.count(), 0);
        QVERIFY(!timerOf(controller, "reconnectTimer")->isActive());
        const QStringList errors = log.messages("Error", "RemoteCtrl");
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().startsWith(QStringLiteral("ws error \u2014 code=0, msg=")),
                 qPrintable(errors.first()));
        QVERIFY(errors.first().endsWith(QStringLiteral(", hasConnectedOnce=0")));
        QVERIFY(log.messages("Notice", "RemoteCtrl")
                    .contains(QStringLiteral("scheduleReconnect \u2014 skipped, userInitiated=0, "
                                             "hasConnectedOnce=0, urlEmpty=0")));
    }

    void startWhileBusyOnlyReplacesTheUrl() {
        HostPeer host;
        QVERIFY(host.listen());
        HSRemoteController controller;
        QSignalSpy reconnecting(&controller, &HSRemoteController::reconnecting);
        QUrl url = host.url();
        controller.HostStartSent(url);
        QTRY_COMPARE(host.received.size(), 1);
        LogCapture log;
        QUrl other(QStringLiteral("ws://127.0.0.1:1"));
        controller.HostStartSent(other);
        QCOMPARE(controller.hostUrl, other);
        QCOMPARE(log.messages("Warning", "RemoteCtrl"),
                 QStringList{QStringLiteral("HostStartSent \u2014 skipped, already busy")});
        // The replaced start cleared the success flag, so losing this connection is final.
        host.vanish();
        QTest::qWait(kShortWaitMs);
        QCOMPARE(reconnecting.count(), 0);
        QCOMPARE(host.clients.size(), 1);
    }

    void answeredPingKeepsTheConnection() {
        HostPeer host;
        QVERIFY(host.listen());
        HSRemoteController controller;
        QSignalSpy disconnected(&controller, &HSRemoteController::hostDisconnected);
        QUrl url = host.url();
        controller.HostStartSent(url);
        QTRY_COMPARE(host.received.size(), 1);
        QTimer* pong = timerOf(controller, "pongTimer");
        QCOMPARE(pong->interval(), HSRemoteController::kPongTimeoutMs);
        QVERIFY(pong->isSingleShot());
        pong->setInterval(kShortWaitMs);
        fire(timerOf(controller, "pingTimer"));
        QVERIFY(pong->isActive());
        QTRY_VERIFY(!pong->isActive());
        QTest::qWait(kShortWaitMs * 2);
        QCOMPARE(disconnected.count(), 0);
        QVERIFY(host.closeCodes.isEmpty());
    }

    void unansweredPingTearsDown() {
        SilentWebSocketHostStandIn host;
        HSRemoteController controller;
        QSignalSpy disconnected(&controller, &HSRemoteController::hostDisconnected);
        QSignalSpy reconnecting(&controller, &HSRemoteController::reconnecting);
        QUrl url = host.url();
        controller.HostStartSent(url);
        QTRY_VERIFY(timerOf(controller, "pingTimer")->isActive());
        QTRY_COMPARE(host.framesAfterHandshake, 1); // localInfo

        QTimer* pong = timerOf(controller, "pongTimer");
        QCOMPARE(pong->interval(), HSRemoteController::kPongTimeoutMs);
        pong->setInterval(kShortWaitMs);
        LogCapture log;
        fire(timerOf(controller, "pingTimer"));
        QTRY_COMPARE(host.framesAfterHandshake, 2); // the ping
        QCOMPARE(disconnected.count(), 0);
        QTRY_COMPARE(disconnected.count(), 1);
        QCOMPARE(log.messages("Warning", "RemoteCtrl"),
                 QStringList{QStringLiteral("Pong timeout \u2014 forcing disconnect")});
        QCOMPARE(reconnecting.count(), 1);
        QCOMPARE(reconnecting.first().first().toInt(), 1000);
        controller.HostStopSent();
    }

    void talksToTheRigSimulator() {
        QUdpSocket audio;
        QVERIFY(audio.bind(QHostAddress::LocalHost, 0));
        QProcess rig;
        rig.setProgram(qEnvironmentVariable("UMX_BIN_DIR") + QStringLiteral("/umx-rigsim"));
        rig.setArguments({QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                          QStringLiteral("--udp-in-port"), QStringLiteral("0"),
                          QStringLiteral("--frame-size"), QStringLiteral("256"),
                          QStringLiteral("--call-sign"), QStringLiteral("TEST1")});
        rig.start();
        QVERIFY2(rig.waitForStarted(), qPrintable(rig.errorString()));
        QVERIFY(rig.waitForReadyRead(5000));
        const QRegularExpressionMatch ready =
            QRegularExpression(QStringLiteral("^ready ws://([0-9.:]+) udp-in (\\d+)\n"))
                .match(QString::fromUtf8(rig.readLine()));
        QVERIFY(ready.hasMatch());

        HSRemoteController controller;
        controller.localAddress = QStringLiteral("127.0.0.1");
        controller.localPort = audio.localPort();
        QSignalSpy readySpy(&controller, &HSRemoteController::hostReadyToSent);
        QUrl url(QStringLiteral("ws://") + ready.captured(1));
        controller.HostStartSent(url);
        QTRY_COMPARE(readySpy.count(), 1);
        QCOMPARE(controller.sampleRate, 48000);
        QCOMPARE(controller.frameSize, 256);
        QCOMPARE(controller.channel, 2);
        QCOMPARE(controller.callSign, QStringLiteral("TEST1"));
        QCOMPARE(int(controller.udpInPort), ready.captured(2).toInt());

        QTRY_VERIFY(audio.hasPendingDatagrams());
        QCOMPARE(audio.pendingDatagramSize(), qint64(256 * 4));
        controller.HostStopSent();
        QTest::qWait(kShortWaitMs);
        while (audio.hasPendingDatagrams())
            audio.receiveDatagram();
        QTest::qWait(kShortWaitMs);
        QVERIFY(!audio.hasPendingDatagrams());

        rig.terminate();
        QVERIFY(rig.waitForFinished(5000));
        QCOMPARE(rig.exitStatus(), QProcess::NormalExit);
        QCOMPARE(rig.exitCode(), 0);
        const QString said = QString::fromUtf8(rig.readAll());
        QVERIFY2(said.contains(QStringLiteral("<- { \"message\": \"stopOutput\" }")),
                 qPrintable(said));
    }
};

QTEST_GUILESS_MAIN(TestHSRemoteController)
#include "tst_hsremotecontroller.moc"
