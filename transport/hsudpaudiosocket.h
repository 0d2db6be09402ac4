// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUdpSocket>

// The panel's end of the audio channel: receives the host's stereo datagrams on the local port and
// sends capture blocks to the host's UDP input port. Carries bytes only, no header of any kind.
class HSUDPAudioSocket : public QObject {
    Q_OBJECT

public:
    HSUDPAudioSocket(QObject* parent, const QString& remoteHost, quint16 outPort,
                     quint16 localPort);
    ~HSUDPAudioSocket() override;

    // Empty when the receiving socket is bound; otherwise why the bind failed.
    QString bindError() const { return bindErrorText; }
    // Off by default: only datagrams from the host's own address are played.
    void acceptAnySender(bool accept) { anySender = accept; }

signals:
    // The reference is valid only during the emission: receivers are connected directly.
    void inDataReady(QByteArray& data);

public slots:
    void outData(QByteArray& block);

private slots:
    void readyRead();

private:
    bool fromHost(const QHostAddress& sender);

    QUdpSocket inSocket;
    QUdpSocket outSocket;
    quint16 outPort;
    QString remoteHost;
    QString bindErrorText;
    QHostAddress hostAddress;
    bool anySender = false;
    QStringList foreignSenders;
    quint64 dropped = 0;
};
