#include "hostpeer.h"
#include "hsremotecontroller.h"
#include "log.h"
#include "logcapture.h"

#include <QCryptographicHash>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

namespace {

constexpr int kShortWaitMs = 300;

// Stand-in for a host that has stopped responding: it completes the WebSocket handshake by hand
// and then never writes another byte, so pings go unanswered (Qt's own server always answers).
class SilentWebSocketHostStandIn : public QObject {
public:
    SilentWebSocketHostStandIn() {
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onData(socket); });
            }
        });
        server.listen(QHostAddress::LocalHost, 0);
    }
    QUrl url() const { return QUrl(QString("ws://127.0.0.1:%1").arg(server.serverPort())); }
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
        const QRegularExpression keyLine("Sec-WebSocket-Key: *([^\r]+)",
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

// A controller with spies on every signal it has, and the host it talks to.
struct Session {
    HostPeer host;
    std::unique_ptr<HSRemoteController> owned = std::make_unique<HSRemoteController>();
    HSRemoteController& controller = *owned;
    QSignalSpy ready{&controller, &HSRemoteController::hostReadyToSent};
    QSignalSpy disconnected{&controller, &HSRemoteController::hostDisconnected};
    QSignalSpy reconnecting{&controller, &HSRemoteController::reconnecting};
    QSignalSpy connectionError{&controller, &HSRemoteController::hostConnectionError};
    QUrl url;

    // Connects and waits for the panel's announcement of its local endpoint.
    bool open() {
        if (!host.listen())
            return false;
        url = host.url();
        controller.HostStartSent(url);
        return QTest::qWaitFor([this] { return host.received.size() == 1; });
    }
    QTimer* timer(const char* name) { return controller.findChild<QTimer*>(name); }
    QList<int> delays() const {
        QList<int> out;
        for (const QList<QVariant>& args : reconnecting)
            out << args.first().toInt();
        return out;
    }
};

// Lets a timer's timeout happen now without waiting through its interval.
void fire(QTimer* timer) {
    timer->stop();
    QMetaObject::invokeMethod(timer, "timeout");
}

QString exactText(const char* message) {
    return QString("{\n    \"message\": \"%1\"\n}\n").arg(message);
}

QString described(const HSRemoteController& c) {
    return QString("rate=%1 frame=%2 ch=%3 bits=%4 udp=%5 codec=%6 call=%7")
        .arg(c.sampleRate)
        .arg(c.frameSize)
        .arg(c.channel)
        .arg(c.sampleSize)
        .arg(c.udpInPort)
        .arg(c.codec, c.callSign);
}

const QString kHostInfoNoCodec =
    R"({"message":"hostInfo","channel":2,"sampleRate":48000,"sampleSize":16,"frameSize":512,)"
    R"("udpInPort":70000,"callSign":"DL1ABC"})";

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
        const QString text = "{\n    \"localAddress\": \"%1\",\n    \"localPort\": %2,\n"
                             "    \"message\": \"localInfo\"\n}\n";
        QTest::newRow("never set") << QString() << -1 << text.arg("").arg(2476);
        QTest::newRow("set") << "192.168.7.3" << 50123 << text.arg("192.168.7.3").arg(50123);
    }
    void announcesLocalEndpointOnConnect() {
        QFETCH(QString, address);
        QFETCH(int, port);
        Session s;
        if (port >= 0) {
            s.controller.localAddress = address;
            s.controller.localPort = port;
        }
        LogCapture log;
        QVERIFY(s.open());
        QTEST(s.host.received.first(), "expected");
        QCOMPARE(s.controller.hostUrl, s.url);
        const QStringList notices = log.messages("Notice", "RemoteCtrl");
        QCOMPARE(notices.value(0), "HostStartSent \u2014 url=" + s.url.toString() + ", isBusy=0");
        QVERIFY(
            notices.value(1).startsWith(QString("ws connected \u2014 url=%1, peerAddr=127.0.0.1:%2")
                                            .arg(s.url.toString())
                                            .arg(s.host.port())));
        QCOMPARE(notices.value(2), "sentMessageToHost \u2014 type=0");
        QTimer* ping = s.timer("pingTimer");
        QVERIFY(ping && ping->isActive());
        QCOMPARE(ping->interval(), HSRemoteController::kKeepAlivePeriodMs);
    }

    void hostInfoStartsOutputEachTime() {
        Session s;
        QVERIFY(s.open());
        // The audio path must be up before the host is told to start: while the connection flow
        // handles the signal, no startOutput may reach the host.
        int startOutputsSeenDuringSignal = -1;
        connect(&s.controller, &HSRemoteController::hostReadyToSent, this, [&] {
            QTest::qWait(kShortWaitMs);
            startOutputsSeenDuringSignal = s.host.received.count(exactText("startOutput"));
        });

        LogCapture log;
        s.host.send(kHostInfoNoCodec);
        QTRY_COMPARE(s.host.received.size(), 2);
        QCOMPARE(startOutputsSeenDuringSignal, 0);
        QCOMPARE(s.host.received.at(1), exactText("startOutput"));
        QCOMPARE(s.ready.count(), 1);
        QCOMPARE(described(s.controller),
                 "rate=48000 frame=512 ch=2 bits=16 udp=4464 codec= call=DL1ABC");
        QCOMPARE(log.messages("Notice", "RemoteCtrl"),
                 (QStringList{"ws received \u2014 " + kHostInfoNoCodec,
                              "ws hostInfo parsed \u2014 sampleRate=48000, frameSize=512, "
                              "channels=2, codec=, udpInPort=4464",
                              "sentMessageToHost \u2014 type=3"}));

        // Absent members are reset, not kept from the first description.
        s.host.send(R"({"message":"hostInfo","sampleRate":96000,"codec":"opus"})");
        QTRY_COMPARE(s.host.received.size(), 3);
        QCOMPARE(s.host.received.at(2), exactText("startOutput"));
        QCOMPARE(s.ready.count(), 2);
        QCOMPARE(described(s.controller), "rate=96000 frame=0 ch=0 bits=0 udp=0 codec=opus call=");

        // A rejected text leaves the description as it was.
        QVERIFY(!s.controller.parseHostMessage(R"({"message":"HostInfo"})"));
        QVERIFY(!s.controller.parseHostMessage("{"));
        QCOMPARE(described(s.controller), "rate=96000 frame=0 ch=0 bits=0 udp=0 codec=opus call=");
    }

    void rejectedTextClosesAndReconnects_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("not JSON") << "hello host";
        QTest::newRow("capital H") << R"({"message":"HostInfo","sampleRate":48000})";
        QTest::newRow("message not a string") << R"({"message":true})";
    }
    void rejectedTextClosesAndReconnects() {
        QFETCH(QString, text);
        Session s;
        QVERIFY(s.open());
        LogCapture log;
        s.host.send(text);
        QTRY_COMPARE(s.host.closeCodes, QList<int>{1000});
        QCOMPARE(s.ready.count(), 0);
        QCOMPARE(log.messages("Error", "RemoteCtrl"),
                 QStringList{"ws parse failed \u2014 closing, message=" + text});
        QTRY_COMPARE(s.disconnected.count(), 1);
        QCOMPARE(s.delays(), QList<int>{1000});
        QVERIFY(log.messages("Notice", "RemoteCtrl")
                    .contains("closeWS \u2014 emitting hostDisconnected, willReconnect=1"));

        // The scheduled attempt opens a fresh connection that announces itself again.
        fire(s.timer("reconnectTimer"));
        QTRY_COMPARE(s.host.received.size(), 2);
        QCOMPARE(s.host.received.at(1), s.host.received.at(0));
        QCOMPARE(s.host.clients.size(), 2);
        // The late disconnect of the closed socket must not have been counted twice.
        QCOMPARE(s.disconnected.count(), 1);
    }

    // A hostInfo padded past 64 KiB is refused by the socket itself: nothing is parsed or
    // started, the host sees "message too big", and the controller treats it as a lost link.
    void oversizedMessageIsRefusedAndTheLinkRetried() {
        Session s;
        QVERIFY(s.open());
        LogCapture log;
        s.host.send(
            QString(kHostInfoNoCodec)
                .replace("\"callSign\"",
                         QString("\"padding\":\"%1\",\"callSign\"").arg(QString(70000, 'x'))));
        QTRY_COMPARE(s.host.closeCodes, QList<int>{1009});
        QTRY_COMPARE(s.disconnected.count(), 1);
        QCOMPARE(s.ready.count(), 0);
        QCOMPARE(s.delays(), QList<int>{1000});
        QVERIFY(log.messages("Notice", "RemoteCtrl")
                    .filter("ws disconnected")
                    .join("|")
                    .contains("closeCode=1009"));
        QVERIFY(log.messages("Notice", "RemoteCtrl").filter("ws received").isEmpty());
    }

    void reconnectionDelaysDoubleToTheCapAndReset() {
        Session s;
        QVERIFY(s.open());
        const quint16 port = s.host.port();
        QTimer* retry = s.timer("reconnectTimer");
        QVERIFY(retry);

        LogCapture log;
        s.host.vanish();
        QTRY_COMPARE(s.reconnecting.count(), 1);
        QList<int> intervals{retry->interval()};
        const QList<int> expected{1000, 2000, 4000, 8000, 16000, 30000, 30000};
        while (s.reconnecting.count() < expected.size()) {
            QVERIFY(retry->isActive());
            const int before = s.reconnecting.count();
            fire(retry);
            QTRY_COMPARE(s.reconnecting.count(), before + 1);
            intervals << retry->interval();
        }
        QCOMPARE(s.delays(), expected);
        QCOMPARE(intervals, expected);
        // Every failed attempt tears down once; a loss after success is never an error report.
        QCOMPARE(s.disconnected.count(), expected.size());
        QCOMPARE(s.connectionError.count(), 0);
        const QStringList notices = log.messages("Notice", "RemoteCtrl");
        QVERIFY(notices.contains("Reconnect attempt \u2014 opening " + s.url.toString() +
                                 ", delay was 16000ms"));
        QVERIFY(
            notices.contains("scheduleReconnect \u2014 delay=30000ms, url=" + s.url.toString()));

        // The host comes back: the next attempt succeeds and the next loss starts over at 1000.
        HostPeer again;
        QVERIFY(again.listen(port));
        fire(retry);
        QTRY_COMPARE(again.received.size(), 1);
        again.vanish();
        QTRY_COMPARE(s.reconnecting.count(), expected.size() + 1);
        QCOMPARE(s.delays().last(), 1000);
        QCOMPARE(retry->interval(), 1000);
        s.controller.HostStopSent();
    }

    // The three ways a session ends without a reconnection: the operator's disconnect while
    // connected or while a reconnection waits, and the controller's destruction.
    void endingsAreQuietAndFinal_data() {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<int>("disconnects");
        QTest::addColumn<int>("reconnects");
        QTest::addColumn<QStringList>("notices");
        const QString stopped = "HostStopSent \u2014 user initiated disconnect";
        const QString stopOutput = "sentMessageToHost \u2014 type=4";
        // Closing reports the disconnect at once; the teardown it repeats finds nothing to do.
        const QString closed = "ws disconnected \u2014 closeCode=1000, closeReason=";
        const QString close = "closeWS \u2014 isExit=%1, isBusy=%2, wsState=%3, userInitiated=%4";
        QTest::newRow("operator disconnect")
            << "stop" << 1 << 0
            << QStringList{stopped,
                           stopOutput,
                           close.arg(0).arg(1).arg(3).arg(1),
                           closed,
                           close.arg(0).arg(0).arg(0).arg(1),
                           "closeWS \u2014 emitting hostDisconnected, willReconnect=0"};
        QTest::newRow("operator disconnect while retrying")
            << "lose, then stop" << 1 << 1
            << QStringList{stopped, stopOutput, close.arg(0).arg(0).arg(0).arg(1)};
        QTest::newRow("destruction") << "destroy" << 0 << 0
                                     << QStringList{close.arg(1).arg(1).arg(3).arg(0), closed,
                                                    close.arg(0).arg(0).arg(0).arg(0)};
    }
    void endingsAreQuietAndFinal() {
        QFETCH(QString, ending);
        Session s;
        QVERIFY(s.open());
        QTimer* retry = s.timer("reconnectTimer");
        QTimer* ping = s.timer("pingTimer");
        if (ending.startsWith("lose")) {
            s.host.vanish();
            QTRY_COMPARE(s.reconnecting.count(), 1);
            QVERIFY(retry->isActive());
        }
        LogCapture log;
        if (ending == "destroy") {
            s.owned.reset();
        } else {
            s.controller.HostStopSent();
            // The connection flow learns of the disconnect before HostStopSent returns.
            QTEST(int(s.disconnected.count()), "disconnects");
            QVERIFY(!retry->isActive() && !ping->isActive());
        }
        if (!ending.startsWith("lose")) {
            QTRY_COMPARE(s.host.closeCodes, QList<int>{1000});
            QCOMPARE(s.host.received.value(1),
                     ending == "stop" ? exactText("stopOutput") : QString());
        }
        QTest::qWait(kShortWaitMs);
        QTEST(int(s.disconnected.count()), "disconnects");
        QTEST(int(s.reconnecting.count()), "reconnects");
        QTEST(log.messages("Notice", "RemoteCtrl"), "notices");
    }

    void refusedFirstConnectionIsReportedNotRetried() {
        Session s;
        QStringList order;
        connect(&s.controller, &HSRemoteController::hostDisconnected, this,
                [&] { order << "disconnected"; });
        connect(&s.controller, &HSRemoteController::hostConnectionError, this,
                [&] { order << "connectionError"; });
        QVERIFY(s.host.listen());
        QUrl url = s.host.url();
        s.host.server.close(); // nobody listens there any more
        LogCapture log;
        s.controller.HostStartSent(url);
        QTRY_COMPARE(order.size(), 2);
        QTest::qWait(kShortWaitMs);
        QCOMPARE(order, (QStringList{"disconnected", "connectionError"}));
        QCOMPARE(s.reconnecting.count(), 0);
        QVERIFY(!s.timer("reconnectTimer")->isActive());
        const QStringList errors = log.messages("Error", "RemoteCtrl");
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().startsWith("ws error \u2014 code=0, msg=") &&
                     errors.first().endsWith(", hasConnectedOnce=0"),
                 qPrintable(errors.first()));
        QVERIFY(log.messages("Notice", "RemoteCtrl")
                    .contains("scheduleReconnect \u2014 skipped, userInitiated=0, "
                              "hasConnectedOnce=0, urlEmpty=0"));
    }

    void startWhileBusyOnlyReplacesTheUrl() {
        Session s;
        QVERIFY(s.open());
        LogCapture log;
        QUrl other("ws://127.0.0.1:1");
        s.controller.HostStartSent(other);
        QCOMPARE(s.controller.hostUrl, other);
        QCOMPARE(log.messages("Warning", "RemoteCtrl"),
                 QStringList{"HostStartSent \u2014 skipped, already busy"});
        // The replaced start cleared the success flag, so losing this connection is final.
        s.host.vanish();
        QTest::qWait(kShortWaitMs);
        QCOMPARE(s.reconnecting.count(), 0);
        QCOMPARE(s.host.clients.size(), 1);
    }

    void answeredPingKeepsTheConnection() {
        Session s;
        QVERIFY(s.open());
        QTimer* pong = s.timer("pongTimer");
        QCOMPARE(pong->interval(), HSRemoteController::kPongTimeoutMs);
        QVERIFY(pong->isSingleShot());
        pong->setInterval(kShortWaitMs);
        fire(s.timer("pingTimer"));
        QVERIFY(pong->isActive());
        QTRY_VERIFY(!pong->isActive());
        QTest::qWait(kShortWaitMs * 2);
        QCOMPARE(s.disconnected.count(), 0);
        QVERIFY(s.host.closeCodes.isEmpty());
    }

    void unansweredPingTearsDown() {
        SilentWebSocketHostStandIn host;
        Session s;
        QUrl url = host.url();
        s.controller.HostStartSent(url);
        QTRY_VERIFY(s.timer("pingTimer")->isActive());
        QTRY_COMPARE(host.framesAfterHandshake, 1); // localInfo

        QTimer* pong = s.timer("pongTimer");
        QCOMPARE(pong->interval(), HSRemoteController::kPongTimeoutMs);
        pong->setInterval(kShortWaitMs);
        LogCapture log;
        fire(s.timer("pingTimer"));
        QTRY_COMPARE(host.framesAfterHandshake, 2); // the ping
        QCOMPARE(s.disconnected.count(), 0);
        QTRY_COMPARE(s.disconnected.count(), 1);
        QCOMPARE(log.messages("Warning", "RemoteCtrl"),
                 QStringList{"Pong timeout \u2014 forcing disconnect"});
        QCOMPARE(s.delays(), QList<int>{1000});
        s.controller.HostStopSent();
    }
};

QTEST_GUILESS_MAIN(TestHSRemoteController)
#include "tst_hsremotecontroller.moc"
