// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QStringList>
#include <QUdpSocket>
#include <QWebSocket>
#include <QWebSocketServer>

// A real rig host on loopback: answers "localInfo" with "hostInfo" (unless told otherwise), records
// the names of the messages the panel sends and how it closes, and sends audio to the port the
// panel announced (its own UDP input port, where the panel's audio goes, is never read).
class HostPeer : public QObject {
public:
    HostPeer()
        : server("test host", QWebSocketServer::NonSecureMode) {
        server.listen(QHostAddress::LocalHost);
        audioIn.bind(QHostAddress::LocalHost, 0);
        connect(&server, &QWebSocketServer::newConnection, this, [this] {
            while (QWebSocket* socket = server.nextPendingConnection()) {
                socket->setParent(this);
                clients << socket;
                connect(socket, &QWebSocket::textMessageReceived, this,
                        [this, socket](const QString& text) { answer(socket, text); });
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
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(server.serverPort()); }
    void sendAudio(const QByteArray& datagram) {
        audioOut.writeDatagram(datagram, QHostAddress::LocalHost, panelPort);
    }

    QString reply;                        // sent instead of "hostInfo" when set
    bool silent = false;                  // accepts, but never describes its stream
    static constexpr int frameSize = 256; // host frames in each of its datagrams
    QStringList received;
    QList<int> closeCodes;
    quint16 panelPort = 0;

private:
    void answer(QWebSocket* socket, const QString& text) {
        const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
        received << message.value("message").toString();
        if (received.last() != "localInfo" || silent)
            return;
        panelPort = static_cast<quint16>(message.value("localPort").toInt());
        const QJsonObject info{{"message", "hostInfo"},
                               {"sampleRate", 48000},
                               {"frameSize", frameSize},
                               {"udpInPort", audioIn.localPort()}};
        socket->sendTextMessage(reply.isEmpty() ? QJsonDocument(info).toJson() : reply);
    }

    QWebSocketServer server;
    QList<QWebSocket*> clients;
    QUdpSocket audioIn;
    QUdpSocket audioOut;
};
