#pragma once

#include "controlmessages.h"

#include <QAbstractSocket>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>

// The panel's client for the control channel to the remote host: one WebSocket, a keep-alive
// with a pong watchdog, and reconnection with a doubling delay after an established connection
// is lost. Lives in the GUI thread.
class HSRemoteController : public QObject {
    Q_OBJECT

public:
    static constexpr int kKeepAlivePeriodMs = 30000;
    static constexpr int kPongTimeoutMs = 5000;
    static constexpr int kFirstReconnectDelayMs = 1000;
    static constexpr int kReconnectDelayCapMs = 30000;

    explicit HSRemoteController(QObject* parent = nullptr);
    ~HSRemoteController() override;

    // The control socket is connecting, connected or still closing.
    bool socketOpen() const { return webSocket.state() != QAbstractSocket::UnconnectedState; }

    // Parses a host text; on "hostInfo" overwrites the host description and returns true.
    bool parseHostMessage(const QString& text);

    // Local endpoint, written by the connection flow before each connect.
    QString localAddress;
    qint32 localPort = 2476;

    // Host description, written only by parseHostMessage.
    QString protocol;
    qint32 channel = 0;
    qint32 sampleRate = 0;
    qint32 sampleSize = 0;
    qint32 frameSize = 0;
    quint16 udpInPort = 0;
    bool input = false;
    bool output = false;
    QString codec;
    QString callSign;

    // The host's URL as last given to HostStartSent.
    QUrl hostUrl;

signals:
    void hostReadyToSent();
    void hostDisconnected();
    void hostConnectionError();
    void reconnecting(int delayMs);

public slots:
    void HostStartSent(QUrl& host);
    void HostStopSent();

private slots:
    void wsOnConnected();
    void wsOnDisconnected();
    void wsOnError(QAbstractSocket::SocketError error);
    void wsOnTextMessageReceived(const QString& message);
    void sentMessageToHost(LocaMsgType msg);

private:
    void closeWS(bool isExit);
    void scheduleReconnect();
    void sendKeepAlive();
    void onPongTimeout();
    void attemptReconnect();

    bool isBusy = false;
    QWebSocket webSocket;
    QTimer pingTimer;
    QTimer pongTimer;
    QTimer reconnectTimer;
    qint32 reconnectDelayMs = kFirstReconnectDelayMs;
    bool userInitiated = false;
    bool hasConnectedOnce = false;
};
