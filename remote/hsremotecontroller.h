// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "controlmessages.h"

#include <QAbstractSocket>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>

// The panel's client for the control channel to the remote host: one WebSocket, a keep-alive with
// a pong watchdog, and the host's messages. It opens, sends and closes when told and reports what
// became of a connection; whether and when to try again is the link's. Lives in the GUI thread.
class HSRemoteController : public QObject {
    Q_OBJECT

public:
    static constexpr int kKeepAlivePeriodMs = 30000;
    static constexpr int kPongTimeoutMs = 5000;

    explicit HSRemoteController(QObject* parent = nullptr);
    ~HSRemoteController() override;

    // The control socket is connecting, connected or still closing.
    bool socketOpen() const { return webSocket.state() != QAbstractSocket::UnconnectedState; }

    void sentMessageToHost(LocaMsgType msg);
    // Ends the current connection: closes it with 1000 when it is open, drops an attempt still
    // connecting. Nothing more is reported about it but the socket's closed().
    void closeWS();

signals:
    // The host described its stream.
    void hostReadyToSent(const HostDescription& host);
    // An open connection went down: the host closed it, the socket failed, no pong came, or the
    // host sent something that is not a stream description.
    void hostDisconnected();
    // An attempt could not open the connection.
    void hostConnectionError();
    // The socket is closed: nothing open and nothing closing.
    void closed();

public slots:
    // Opens a connection to `host`, ending any other first, and announces `local` once it is open.
    void HostStartSent(const QUrl& host, const LocalEndpoint& local);

private slots:
    void wsOnConnected();
    void wsOnDisconnected();
    void wsOnError(QAbstractSocket::SocketError error);
    void wsOnTextMessageReceived(const QString& message);

private:
    void dropConnection();
    void sendKeepAlive();
    void onPongTimeout();

    // The host's URL and the local endpoint as last given to HostStartSent.
    QUrl hostUrl;
    LocalEndpoint localEndpoint;
    // A connection is held: its end is reported.
    bool isBusy = false;
    // The connection held has opened.
    bool isOpen = false;
    QWebSocket webSocket;
    QTimer pingTimer;
    QTimer pongTimer;
};
