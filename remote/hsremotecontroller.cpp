// SPDX-License-Identifier: GPL-3.0-or-later

#include "hsremotecontroller.h"

#include "log.h"

#include <QMetaType>
#include <QWebSocketProtocol>

namespace {

constexpr const char* kCategory = "RemoteCtrl";
// A host description is a few hundred bytes. The socket refuses anything far beyond that (closing
// with 1009, "message too big") before buffering it, so a broken or hostile host cannot make the
// panel hold, parse and log megabytes.
constexpr quint64 kMaxHostMessageBytes = 64 * 1024;

} // namespace

HSRemoteController::HSRemoteController(QObject* parent)
    : QObject(parent)
    , webSocket(QString(), QWebSocketProtocol::Version13)
    , pingTimer(this)
    , pongTimer(this) {
    qRegisterMetaType<QAbstractSocket::SocketError>("QAbstractSocket::SocketError");

    // Named so that the schedule can be looked up from outside without waiting it out.
    pingTimer.setObjectName(QStringLiteral("pingTimer"));
    pongTimer.setObjectName(QStringLiteral("pongTimer"));
    pingTimer.setInterval(kKeepAlivePeriodMs);
    pongTimer.setInterval(kPongTimeoutMs);
    pongTimer.setSingleShot(true);
    webSocket.setMaxAllowedIncomingMessageSize(kMaxHostMessageBytes);
    webSocket.setMaxAllowedIncomingFrameSize(kMaxHostMessageBytes);

    connect(&webSocket, &QWebSocket::connected, this, &HSRemoteController::wsOnConnected);
    connect(&webSocket, &QWebSocket::disconnected, this, &HSRemoteController::wsOnDisconnected);
    // QWebSocket in Qt 5.15 has no errorOccurred; its error signal is overloaded with the getter.
    connect(&webSocket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
            &HSRemoteController::wsOnError);
    connect(&webSocket, &QWebSocket::textMessageReceived, this,
            &HSRemoteController::wsOnTextMessageReceived);
    connect(&webSocket, &QWebSocket::stateChanged, this,
            [this](QAbstractSocket::SocketState state) {
                if (state == QAbstractSocket::UnconnectedState)
                    emit closed();
            });
    connect(&pingTimer, &QTimer::timeout, this, &HSRemoteController::sendKeepAlive);
    connect(&pongTimer, &QTimer::timeout, this, &HSRemoteController::onPongTimeout);
    connect(&webSocket, &QWebSocket::pong, &pongTimer, &QTimer::stop);
}

// The owner hears nothing more: the socket's last signals would reach a link being destroyed.
HSRemoteController::~HSRemoteController() {
    webSocket.disconnect(this);
    closeWS();
}

void HSRemoteController::HostStartSent(const QUrl& host, const LocalEndpoint& local) {
    HSLOG(LogLevel::Notice, kCategory)
        << "HostStartSent — url=" << host.toString() << ", isBusy=" << isBusy;
    if (isBusy)
        closeWS();
    hostUrl = host;
    localEndpoint = local;
    isBusy = true;
    isOpen = false;
    webSocket.open(hostUrl);
}

void HSRemoteController::wsOnConnected() {
    HSLOG(LogLevel::Notice, kCategory)
        << "ws connected — url=" << hostUrl.toString()
        << ", peerAddr=" << webSocket.peerAddress().toString() << ":" << webSocket.peerPort();
    isOpen = true;
    pingTimer.start();
    sentMessageToHost(LocalInfo);
}

void HSRemoteController::wsOnDisconnected() {
    HSLOG(LogLevel::Notice, kCategory)
        << "ws disconnected — closeCode=" << static_cast<int>(webSocket.closeCode())
        << ", closeReason=" << webSocket.closeReason();
    dropConnection();
}

void HSRemoteController::wsOnError(QAbstractSocket::SocketError error) {
    HSLOG(LogLevel::Error, kCategory)
        << "ws error — code=" << static_cast<int>(error) << ", msg=" << webSocket.errorString()
        << ", isOpen=" << isOpen;
    dropConnection();
}

// A text that arrives after the connection was ended is parsed and logged, but reported to nobody.
void HSRemoteController::wsOnTextMessageReceived(const QString& message) {
    HSLOG(LogLevel::Notice, kCategory) << "ws received — " << message;
    const std::optional<HostDescription> host = parseHostInfo(message);
    if (!host) {
        HSLOG(LogLevel::Error, kCategory) << "ws parse failed — closing, message=" << message;
        dropConnection();
        return;
    }
    HSLOG(LogLevel::Notice, kCategory)
        << "ws hostInfo parsed — sampleRate=" << host->sampleRate
        << ", frameSize=" << host->frameSize << ", channels=" << host->channel
        << ", codec=" << host->codec << ", udpInPort=" << host->udpInPort;
    if (isBusy)
        emit hostReadyToSent(*host);
}

void HSRemoteController::sentMessageToHost(LocaMsgType msg) {
    HSLOG(LogLevel::Notice, kCategory) << "sentMessageToHost — type=" << static_cast<int>(msg);
    const QByteArray text = composeLocaMessage(msg, localEndpoint.address, localEndpoint.port);
    if (text.isEmpty())
        return;
    webSocket.sendTextMessage(QString::fromUtf8(text));
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
    dropConnection();
}

void HSRemoteController::closeWS() {
    HSLOG(LogLevel::Notice, kCategory)
        << "closeWS — isBusy=" << isBusy << ", wsState=" << static_cast<int>(webSocket.state());
    pingTimer.stop();
    pongTimer.stop();
    // Closing can emit disconnected() at once; with isBusy already clear it reports nothing.
    isBusy = false;
    if (webSocket.state() == QAbstractSocket::ConnectedState)
        webSocket.close(QWebSocketProtocol::CloseCodeNormal, QString());
    else if (webSocket.state() != QAbstractSocket::UnconnectedState)
        webSocket.abort();
}

// The end of a connection the owner did not ask for, reported once: an error and the disconnect
// that follows it are one loss.
void HSRemoteController::dropConnection() {
    if (!isBusy)
        return;
    const bool wasOpen = isOpen;
    closeWS();
    if (wasOpen)
        emit hostDisconnected();
    else
        emit hostConnectionError();
}
