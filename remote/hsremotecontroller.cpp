#include "hsremotecontroller.h"

#include "log.h"

#include <QMetaType>
#include <QWebSocketProtocol>

namespace {

constexpr const char* kCategory = "RemoteCtrl";
// Anything at or above this after doubling is held at the cap.
constexpr int kReconnectDelayCeilingMs = 29999;
// A host description is a few hundred bytes. The socket refuses anything far beyond that (closing
// with 1009, "message too big") before buffering it, so a broken or hostile host cannot make the
// panel hold, parse and log megabytes.
constexpr quint64 kMaxHostMessageBytes = 64 * 1024;

} // namespace

HSRemoteController::HSRemoteController(QObject* parent)
    : QObject(parent)
    , webSocket(QString(), QWebSocketProtocol::Version13)
    , pingTimer(this)
    , pongTimer(this)
    , reconnectTimer(this) {
    qRegisterMetaType<QAbstractSocket::SocketError>("QAbstractSocket::SocketError");

    // Named so that the schedule can be looked up from outside without waiting it out.
    pingTimer.setObjectName(QStringLiteral("pingTimer"));
    pongTimer.setObjectName(QStringLiteral("pongTimer"));
    reconnectTimer.setObjectName(QStringLiteral("reconnectTimer"));
    pingTimer.setInterval(kKeepAlivePeriodMs);
    pongTimer.setInterval(kPongTimeoutMs);
    pongTimer.setSingleShot(true);
    reconnectTimer.setSingleShot(true);
    webSocket.setMaxAllowedIncomingMessageSize(kMaxHostMessageBytes);
    webSocket.setMaxAllowedIncomingFrameSize(kMaxHostMessageBytes);

    connect(&webSocket, &QWebSocket::connected, this, &HSRemoteController::wsOnConnected);
    connect(&webSocket, &QWebSocket::disconnected, this, &HSRemoteController::wsOnDisconnected);
    // QWebSocket in Qt 5.15 has no errorOccurred; its error signal is overloaded with the getter.
    connect(&webSocket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
            &HSRemoteController::wsOnError);
    connect(&webSocket, &QWebSocket::textMessageReceived, this,
            &HSRemoteController::wsOnTextMessageReceived);
    connect(&pingTimer, &QTimer::timeout, this, &HSRemoteController::sendKeepAlive);
    connect(&pongTimer, &QTimer::timeout, this, &HSRemoteController::onPongTimeout);
    connect(&webSocket, &QWebSocket::pong, &pongTimer, &QTimer::stop);
    connect(&reconnectTimer, &QTimer::timeout, this, &HSRemoteController::attemptReconnect);
}

HSRemoteController::~HSRemoteController() {
    reconnectTimer.stop();
    reconnectDelayMs = kFirstReconnectDelayMs;
    closeWS(true);
}

void HSRemoteController::HostStartSent(QUrl& host) {
    HSLOG(LogLevel::Notice, kCategory)
        << "HostStartSent — url=" << host.toString() << ", isBusy=" << isBusy;
    hostUrl = host;
    userInitiated = false;
    hasConnectedOnce = false;
    if (!isBusy) {
        isBusy = true;
        webSocket.open(hostUrl);
        return;
    }
    HSLOG(LogLevel::Warning, kCategory) << "HostStartSent — skipped, already busy";
}

void HSRemoteController::HostStopSent() {
    HSLOG(LogLevel::Notice, kCategory) << "HostStopSent — user initiated disconnect";
    userInitiated = true;
    reconnectTimer.stop();
    reconnectDelayMs = kFirstReconnectDelayMs;
    sentMessageToHost(StopOutput);
    closeWS(false);
}

void HSRemoteController::wsOnConnected() {
    HSLOG(LogLevel::Notice, kCategory)
        << "ws connected — url=" << hostUrl.toString()
        << ", peerAddr=" << webSocket.peerAddress().toString() << ":" << webSocket.peerPort();
    hasConnectedOnce = true;
    reconnectTimer.stop();
    reconnectDelayMs = kFirstReconnectDelayMs;
    pingTimer.start();
    sentMessageToHost(LocalInfo);
}

void HSRemoteController::wsOnDisconnected() {
    HSLOG(LogLevel::Notice, kCategory)
        << "ws disconnected — closeCode=" << static_cast<int>(webSocket.closeCode())
        << ", closeReason=" << webSocket.closeReason();
    closeWS(false);
}

void HSRemoteController::wsOnError(QAbstractSocket::SocketError error) {
    HSLOG(LogLevel::Error, kCategory)
        << "ws error — code=" << static_cast<int>(error) << ", msg=" << webSocket.errorString()
        << ", hasConnectedOnce=" << hasConnectedOnce;
    closeWS(false);
    if (!hasConnectedOnce)
        emit hostConnectionError();
}

void HSRemoteController::wsOnTextMessageReceived(const QString& message) {
    HSLOG(LogLevel::Notice, kCategory) << "ws received — " << message;
    if (!parseHostMessage(message)) {
        HSLOG(LogLevel::Error, kCategory) << "ws parse failed — closing, message=" << message;
        closeWS(false);
        return;
    }
    HSLOG(LogLevel::Notice, kCategory)
        << "ws hostInfo parsed — sampleRate=" << sampleRate << ", frameSize=" << frameSize
        << ", channels=" << channel << ", codec=" << codec << ", udpInPort=" << udpInPort;
    emit hostReadyToSent();
    sentMessageToHost(StartOutput);
}

void HSRemoteController::sentMessageToHost(LocaMsgType msg) {
    HSLOG(LogLevel::Notice, kCategory) << "sentMessageToHost — type=" << static_cast<int>(msg);
    const QByteArray text = composeLocaMessage(msg, localAddress, localPort);
    if (text.isEmpty())
        return;
    webSocket.sendTextMessage(QString::fromUtf8(text));
}

bool HSRemoteController::parseHostMessage(const QString& text) {
    const std::optional<HostDescription> host = parseHostInfo(text);
    if (!host)
        return false;
    protocol = host->protocol;
    channel = host->channel;
    sampleRate = host->sampleRate;
    sampleSize = host->sampleSize;
    frameSize = host->frameSize;
    udpInPort = host->udpInPort;
    input = host->input;
    output = host->output;
    codec = host->codec;
    callSign = host->callSign;
    return true;
}

void HSRemoteController::sendKeepAlive() {
    if (webSocket.state() == QAbstractSocket::ConnectedState) {
        webSocket.ping();
        pongTimer.start();
        return;
    }
    HSLOG(LogLevel::Error, kCategory)
        << "Ping skipped — WS not connected, state=" << static_cast<int>(webSocket.state());
}

void HSRemoteController::onPongTimeout() {
    HSLOG(LogLevel::Warning, kCategory) << "Pong timeout — forcing disconnect";
    closeWS(false);
}

void HSRemoteController::closeWS(bool isExit) {
    HSLOG(LogLevel::Notice, kCategory) << "closeWS — isExit=" << isExit << ", isBusy=" << isBusy
                                       << ", wsState=" << static_cast<int>(webSocket.state())
                                       << ", userInitiated=" << userInitiated;
    if (!isBusy && !isExit)
        return;
    pingTimer.stop();
    pongTimer.stop();
    // Closing can emit disconnected() synchronously; with isBusy already clear, the teardown it
    // triggers finds nothing to do, so this one stays the only one.
    isBusy = false;
    if (webSocket.state() == QAbstractSocket::ConnectedState)
        webSocket.close(QWebSocketProtocol::CloseCodeNormal, QString());
    if (isExit)
        return;
    const bool willReconnect = !userInitiated && hasConnectedOnce;
    HSLOG(LogLevel::Notice, kCategory)
        << "closeWS — emitting hostDisconnected, willReconnect=" << willReconnect;
    emit hostDisconnected();
    if (!userInitiated)
        scheduleReconnect();
}

void HSRemoteController::scheduleReconnect() {
    if (!userInitiated && hasConnectedOnce && !hostUrl.isEmpty()) {
        HSLOG(LogLevel::Notice, kCategory)
            << "scheduleReconnect — delay=" << reconnectDelayMs << "ms, url=" << hostUrl.toString();
        emit reconnecting(reconnectDelayMs);
        reconnectTimer.start(reconnectDelayMs);
        const int doubled = reconnectDelayMs * 2;
        reconnectDelayMs = doubled > kReconnectDelayCeilingMs ? kReconnectDelayCapMs : doubled;
        return;
    }
    HSLOG(LogLevel::Notice, kCategory)
        << "scheduleReconnect — skipped, userInitiated=" << userInitiated
        << ", hasConnectedOnce=" << hasConnectedOnce << ", urlEmpty=" << hostUrl.isEmpty();
}

void HSRemoteController::attemptReconnect() {
    if (!userInitiated && !hostUrl.isEmpty()) {
        HSLOG(LogLevel::Notice, kCategory) << "Reconnect attempt — opening " << hostUrl.toString()
                                           << ", delay was " << reconnectTimer.interval() << "ms";
        isBusy = false;
        webSocket.open(hostUrl);
        isBusy = true;
        return;
    }
    HSLOG(LogLevel::Notice, kCategory) << "Reconnect skipped — userInitiated=" << userInitiated
                                       << ", hostURL=" << hostUrl.toString();
}
