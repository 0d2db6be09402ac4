// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "audiostreamer.h"
#include "rigsimoptions.h"
#include "rxmeter.h"
#include "wavfile.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>
#include <QUdpSocket>
#include <QWebSocketServer>

#include <atomic>
#include <memory>

class QWebSocket;
class QWebSocketCorsAuthenticator;

// One panel connected to the simulator: its control channel and the audio sent to it.
class RigSession : public QObject {
    Q_OBJECT

public:
    RigSession(QWebSocket* socket, const RigSimOptions& options, quint16 announcedPort,
               const AudioStreamer::Source& source, QObject* parent);
    ~RigSession() override;

    void pauseAudio();
    void resumeAudio();

signals:
    void hangRequested();
    void finished(RigSession* session);

private:
    void onText(const QString& text);
    void startAudio();
    void stopAudio(const QString& why);

    QWebSocket* socket;
    const RigSimOptions& options;
    quint16 announcedPort;
    QString peer;
    QHostAddress destination;
    int destinationPort = -1;
    AudioStreamer streamer;
    bool audioWanted = false;
    QTimer silentTimer;
};

// The simulated remote host: WebSocket control server, UDP audio in, sessions with audio out.
class RigSimulator : public QObject {
    Q_OBJECT

public:
    RigSimulator(const RigSimOptions& options, QByteArray stereoLoop, QObject* parent = nullptr);
    ~RigSimulator() override;

    // Listens and binds; false with a reason when a port cannot be had.
    bool start(QString* error);
    QString readyLine() const;

    // Set from a signal handler; a hang gives up early when it is set.
    static std::atomic<bool> shutdownRequested;

private:
    void onNewConnection();
    void onOrigin(QWebSocketCorsAuthenticator* authenticator);
    void onUdpReadyRead();
    void reportReceived();
    void hang();

    RigSimOptions options;
    AudioStreamer::Source source;
    QWebSocketServer server;
    QUdpSocket udpIn;
    quint16 announcedPort = 0;
    QList<RigSession*> sessions;
    RxMeter meter;
    QTimer statsTimer;
    QElapsedTimer statsClock;
    bool receiving = false;
    std::unique_ptr<WavWriter> recorder;
};

// One line of the simulator's own output on standard output, flushed at once.
void say(const QString& line);
