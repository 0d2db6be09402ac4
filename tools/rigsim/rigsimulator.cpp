// SPDX-License-Identifier: GPL-3.0-or-later

#include "rigsimulator.h"

#include "rigsimprotocol.h"

#include <QNetworkDatagram>
#include <QThread>
#include <QWebSocket>
#include <QWebSocketCorsAuthenticator>

#include <cstdio>

namespace {

constexpr int kMsPerSecond = 1000;
constexpr int kStatsPeriodMs = 1000;
constexpr int kHangSliceMs = 50;

QString endpoint(const QHostAddress& address, int port) {
    if (address.protocol() == QAbstractSocket::IPv6Protocol)
        return QStringLiteral("[%1]:%2").arg(address.toString()).arg(port);
    return QStringLiteral("%1:%2").arg(address.toString()).arg(port);
}

// A v4 peer on a dual-stack socket shows up as ::ffff:a.b.c.d; UDP wants the plain form.
QHostAddress plainAddress(const QHostAddress& address) {
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4) : address;
}

} // namespace

std::atomic<bool> RigSimulator::shutdownRequested{false};

void say(const QString& line) {
    // One call per line: the audio thread's lines never break into another's.
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stdout);
    std::fflush(stdout);
}

RigSession::RigSession(QWebSocket* socket_, const RigSimOptions& options_, quint16 announcedPort_,
                       const AudioStreamer::Source& source, QObject* parent)
    : QObject(parent)
    , socket(socket_)
    , options(options_)
    , announcedPort(announcedPort_)
    , peer(endpoint(plainAddress(socket_->peerAddress()), socket_->peerPort()))
    , streamer(options_.sampleRate, options_.frameSize, source,
               AudioStreamer::Path{options_.clockPpm, options_.network})
    , silentTimer(this) {
    socket->setParent(this);
    say(QStringLiteral("client %1 connected").arg(peer));
    connect(socket, &QWebSocket::textMessageReceived, this, &RigSession::onText);
    connect(socket, &QWebSocket::binaryMessageReceived, this, [this](const QByteArray& data) {
        say(QStringLiteral("client %1: ignored a binary message of %2 bytes")
                .arg(peer)
                .arg(data.size()));
    });
    connect(socket, &QWebSocket::disconnected, this, [this] {
        say(QStringLiteral("client %1 disconnected (close code %2)")
                .arg(peer)
                .arg(static_cast<int>(socket->closeCode())));
        stopAudio(QStringLiteral("client gone"));
        emit finished(this);
    });

    silentTimer.setSingleShot(true);
    connect(&silentTimer, &QTimer::timeout, this, [this] {
        say(QStringLiteral("fault: going silent, control channel stays up"));
        stopAudio(QStringLiteral("silent"));
    });
    if (options.dropAfterS >= 0) {
        QTimer::singleShot(options.dropAfterS * kMsPerSecond, this, [this] {
            say(QStringLiteral("fault: dropping client %1").arg(peer));
            socket->abort();
        });
    }
    if (options.hangAfterS >= 0)
        QTimer::singleShot(options.hangAfterS * kMsPerSecond, this, &RigSession::hangRequested);
}

RigSession::~RigSession() {
    stopAudio(QStringLiteral("shutting down"));
    if (socket->state() == QAbstractSocket::ConnectedState)
        socket->close(QWebSocketProtocol::CloseCodeGoingAway);
}

void RigSession::onText(const QString& text) {
    const PanelMessage message = parsePanelMessage(text);
    say(QStringLiteral("<- %1").arg(QString(text).simplified()));
    if (message.message == QLatin1String("localInfo")) {
        const QHostAddress announced(message.localAddress);
        // A panel that does not know its own address leaves it empty: use where it came from.
        destination = announced.isNull() || announced.isEqual(QHostAddress::AnyIPv4)
                          ? plainAddress(socket->peerAddress())
                          : announced;
        destinationPort = message.localPort;
        if (destinationPort < 0)
            say(QStringLiteral("client %1: localInfo without a usable localPort").arg(peer));
        QByteArray reply = composeHostInfo(options, announcedPort);
        if (options.sendMalformed)
            reply = malformedHostText();
        else if (options.sendUnexpected)
            reply = unexpectedHostText();
        say(QStringLiteral("-> %1").arg(QString::fromUtf8(reply)));
        socket->sendTextMessage(QString::fromUtf8(reply));
    } else if (message.message == QLatin1String("startOutput")) {
        startAudio();
    } else if (message.message == QLatin1String("stopOutput")) {
        stopAudio(QStringLiteral("stopOutput"));
    } else if (message.message == QLatin1String("startInput") ||
               message.message == QLatin1String("stopInput")) {
        say(QStringLiteral("client %1: %2 noted").arg(peer, message.message));
    } else {
        say(QStringLiteral("client %1: unknown message ignored").arg(peer));
    }
}

void RigSession::startAudio() {
    if (destinationPort < 0) {
        say(QStringLiteral("client %1: startOutput before a usable localInfo, no audio").arg(peer));
        return;
    }
    audioWanted = true;
    streamer.start(destination, static_cast<quint16>(destinationPort));
    say(QStringLiteral("audio started to %1, %2 frames per datagram, %3 datagrams/s")
            .arg(endpoint(destination, destinationPort))
            .arg(options.frameSize)
            .arg(static_cast<double>(options.sampleRate) / options.frameSize, 0, 'f', 3));
    if (options.silentAfterS >= 0)
        silentTimer.start(options.silentAfterS * kMsPerSecond);
}

void RigSession::stopAudio(const QString& why) {
    if (!audioWanted)
        return;
    audioWanted = false;
    silentTimer.stop();
    streamer.stop();
    say(QStringLiteral("audio stopped (%1) after %2 datagrams, %3 dropped")
            .arg(why)
            .arg(streamer.datagramsSent())
            .arg(streamer.datagramsDropped()));
}

void RigSession::pauseAudio() {
    streamer.stop();
}

void RigSession::resumeAudio() {
    if (audioWanted)
        streamer.start(destination, static_cast<quint16>(destinationPort));
}

RigSimulator::RigSimulator(const RigSimOptions& options_, QByteArray stereoLoop, QObject* parent)
    : QObject(parent)
    , options(options_)
    , server(QStringLiteral("umx-rigsim"), QWebSocketServer::NonSecureMode)
    , statsTimer(this) {
    source.leftHz = options.leftHz;
    source.rightHz = options.rightHz;
    source.moving = options.moving;
    source.marks = options.marks;
    source.stereoLoop = std::move(stereoLoop);
    connect(&server, &QWebSocketServer::newConnection, this, &RigSimulator::onNewConnection);
    connect(&server, &QWebSocketServer::originAuthenticationRequired, this,
            &RigSimulator::onOrigin);
    connect(&udpIn, &QUdpSocket::readyRead, this, &RigSimulator::onUdpReadyRead);
    connect(&statsTimer, &QTimer::timeout, this, &RigSimulator::reportReceived);
}

RigSimulator::~RigSimulator() {
    // What arrived since the last report is not lost at shutdown.
    if (meter.datagrams() > 0)
        reportReceived();
    const QList<RigSession*> open = sessions;
    for (RigSession* session : open)
        delete session;
    server.close();
    if (recorder) {
        recorder->finish();
        say(QStringLiteral("recorded %1 bytes to %2")
                .arg(recorder->dataBytes())
                .arg(options.recordPath));
    }
}

bool RigSimulator::start(QString* error) {
    if (!server.listen(options.listenAddress, options.listenPort)) {
        *error =
            QStringLiteral("cannot serve the control channel on %1: %2")
                .arg(endpoint(options.listenAddress, options.listenPort), server.errorString());
        return false;
    }
    if (!udpIn.bind(options.listenAddress.protocol() == QAbstractSocket::IPv6Protocol
                        ? QHostAddress(QHostAddress::AnyIPv6)
                        : QHostAddress(QHostAddress::AnyIPv4),
                    options.udpInPort)) {
        *error = QStringLiteral("cannot receive audio on UDP port %1: %2")
                     .arg(options.udpInPort)
                     .arg(udpIn.errorString());
        return false;
    }
    announcedPort = udpIn.localPort();
    if (options.announceDeadPort) {
        // A port that was free a moment ago and that nobody holds any more.
        QUdpSocket probe;
        probe.bind(QHostAddress(QHostAddress::AnyIPv4), 0);
        announcedPort = probe.localPort();
        probe.close();
        say(QStringLiteral("fault: announcing UDP port %1 where nobody listens")
                .arg(announcedPort));
    }
    if (!options.recordPath.isEmpty()) {
        recorder = std::make_unique<WavWriter>(options.recordPath, options.sampleRate, 1);
        if (!recorder->isOpen()) {
            *error = QStringLiteral("cannot record to %1: %2")
                         .arg(options.recordPath, recorder->errorString());
            return false;
        }
    }
    statsClock.start();
    statsTimer.start(kStatsPeriodMs);
    return true;
}

QString RigSimulator::readyLine() const {
    return QStringLiteral("ready ws://%1 udp-in %2")
        .arg(endpoint(server.serverAddress(), server.serverPort()))
        .arg(udpIn.localPort());
}

void RigSimulator::onOrigin(QWebSocketCorsAuthenticator* authenticator) {
    if (!options.refuse)
        return;
    say(QStringLiteral("fault: refusing a connection"));
    authenticator->setAllowed(false);
}

void RigSimulator::onNewConnection() {
    while (QWebSocket* socket = server.nextPendingConnection()) {
        auto* session = new RigSession(socket, options, announcedPort, source, this);
        sessions.append(session);
        connect(session, &RigSession::finished, this, [this](RigSession* done) {
            sessions.removeOne(done);
            done->deleteLater();
        });
        connect(session, &RigSession::hangRequested, this, &RigSimulator::hang);
    }
}

void RigSimulator::hang() {
    if (options.hangKeepsAudio) {
        say(QStringLiteral("fault: hanging for %1 s, audio keeps flowing").arg(options.hangForS));
    } else {
        say(QStringLiteral("fault: hanging for %1 s, serving nothing").arg(options.hangForS));
        for (RigSession* session : qAsConst(sessions))
            session->pauseAudio();
    }
    // Blocking the only thread that services the sockets: no pongs, no control, no audio.
    QElapsedTimer hung;
    hung.start();
    while (hung.elapsed() < static_cast<qint64>(options.hangForS) * kMsPerSecond &&
           !shutdownRequested.load())
        QThread::msleep(kHangSliceMs);
    say(QStringLiteral("fault: hang over"));
    if (!options.hangKeepsAudio) {
        for (RigSession* session : qAsConst(sessions))
            session->resumeAudio();
    }
}

void RigSimulator::onUdpReadyRead() {
    while (udpIn.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = udpIn.receiveDatagram();
        meter.add(datagram.data());
        if (recorder)
            recorder->append(datagram.data());
    }
}

void RigSimulator::reportReceived() {
    const double seconds = static_cast<double>(statsClock.restart()) / kMsPerSecond;
    if (meter.datagrams() == 0) {
        if (receiving)
            say(QStringLiteral("rx idle"));
        receiving = false;
        return;
    }
    receiving = true;
    say(QStringLiteral("rx %1 samples/s, %2 datagrams/s, largest %3 bytes, rms %4 dBFS, peak "
                       "%5 dBFS")
            .arg(static_cast<double>(meter.samples()) / seconds, 0, 'f', 0)
            .arg(static_cast<double>(meter.datagrams()) / seconds, 0, 'f', 1)
            .arg(meter.largestDatagram())
            .arg(meter.rmsDbfs(), 0, 'f', 1)
            .arg(meter.peakDbfs(), 0, 'f', 1));
    meter.reset();
}
