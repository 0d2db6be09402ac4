// SPDX-License-Identifier: GPL-3.0-or-later

#include "hsudpaudiosocket.h"

#include "log.h"

#include <QHostAddress>

#include <algorithm>

namespace {
constexpr const char* kCategory = "UDPSocket";
// The largest payload sent in one datagram; a multiple of 4, so no sample is ever split.
constexpr int kMaxDatagramBytes = 1460;
} // namespace

HSUDPAudioSocket::HSUDPAudioSocket(QObject* parent, const QString& remoteHost, quint16 outPort,
                                   quint16 localPort)
    : QObject(parent)
    , outPort(outPort)
    , remoteHost(remoteHost)
    , hostAddress(remoteHost) {
    if (inSocket.bind(QHostAddress::AnyIPv4, localPort)) {
        HSLOG(LogLevel::Info, kCategory) << "UDP input socket bound on port " << localPort;
    } else {
        bindErrorText = inSocket.errorString();
        HSLOG(LogLevel::Error, kCategory)
            << "Failed to bind UDP input socket on port " << localPort << ": " << bindErrorText;
    }
    connect(&inSocket, &QUdpSocket::readyRead, this, &HSUDPAudioSocket::readyRead);
    connect(&inSocket, &QUdpSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError error) {
                HSLOG(LogLevel::Error, kCategory)
                    << "UDP input socket error: " << static_cast<int>(error) << " - "
                    << inSocket.errorString();
            });
    connect(&outSocket, &QUdpSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError error) {
                HSLOG(LogLevel::Error, kCategory)
                    << "UDP output socket error: " << static_cast<int>(error) << " - "
                    << outSocket.errorString();
            });
    HSLOG(LogLevel::Info, kCategory) << "Remote URL: " << remoteHost << ", outPort: " << outPort;
}

HSUDPAudioSocket::~HSUDPAudioSocket() {
    HSLOG(LogLevel::Info, kCategory) << "Closing UDP sockets";
    if (dropped > 0)
        HSLOG(LogLevel::Info, kCategory)
            << "Dropped " << dropped << " datagrams from other senders than the rig";
    inSocket.close();
    outSocket.close();
}

// One datagram per notification: playing it may wait for the sound card, and the thread's other
// work (the capture going out, the sound watchdog) must have its turn in between, or a backlog
// that playback at the card's pace never drains holds the thread for good. The socket notifies
// again while datagrams are pending.
void HSUDPAudioSocket::readyRead() {
    // Its size says whether one is there: a look at the socket fewer for each datagram.
    const qint64 size = inSocket.pendingDatagramSize();
    if (size < 0)
        return;
    QByteArray buffer(static_cast<int>(size), 0);
    QHostAddress sender;
    quint16 senderPort = 0;
    if (inSocket.readDatagram(buffer.data(), buffer.size(), &sender, &senderPort) >= 0 &&
        (anySender || fromHost(sender)))
        emit inDataReady(buffer);
}

// Anyone who reaches the port could otherwise play into the cable.
bool HSUDPAudioSocket::fromHost(const QHostAddress& sender) {
    if (sender.isEqual(hostAddress, QHostAddress::ConvertV4MappedToIPv4))
        return true;
    ++dropped;
    const QString address = sender.toString();
    if (!foreignSenders.contains(address)) {
        foreignSenders << address;
        HSLOG(LogLevel::Warning, kCategory)
            << "Audio from " << address << " dropped: only the rig at " << remoteHost
            << " is played";
    }
    return false;
}

void HSUDPAudioSocket::outData(QByteArray& block) {
    // An address literal only: a host name is never resolved on the audio path.
    // Qt would send to a null address as if it were 0.0.0.0, that is to this machine.
    const QHostAddress& address = hostAddress;
    for (int offset = 0; offset < block.size(); offset += kMaxDatagramBytes) {
        const int n = std::min(kMaxDatagramBytes, block.size() - offset);
        if (address.isNull()) {
            HSLOG(LogLevel::Error, kCategory)
                << "UDP writeDatagram failed: " << remoteHost << " is not an IP address";
        } else if (outSocket.writeDatagram(block.constData() + offset, n, address, outPort) < 0) {
            HSLOG(LogLevel::Error, kCategory)
                << "UDP writeDatagram failed: " << outSocket.errorString();
        }
    }
}
