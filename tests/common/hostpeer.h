#pragma once

#include <QList>
#include <QStringList>
#include <QUrl>
#include <QWebSocket>
#include <QWebSocketServer>

// A real WebSocket host on loopback that records what the panel sends and how it closes.
class HostPeer : public QObject {
public:
    HostPeer()
        : server("test host", QWebSocketServer::NonSecureMode) {
        connect(&server, &QWebSocketServer::newConnection, this, [this] {
            while (QWebSocket* socket = server.nextPendingConnection()) {
                socket->setParent(this);
                clients << socket;
                connect(socket, &QWebSocket::textMessageReceived, this,
                        [this](const QString& text) { received << text; });
                connect(socket, &QWebSocket::disconnected, this,
                        [this, socket] { closeCodes << static_cast<int>(socket->closeCode()); });
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
    QUrl url() const { return QUrl(QString("ws://127.0.0.1:%1").arg(port())); }
    void send(const QString& text) { clients.last()->sendTextMessage(text); }
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
