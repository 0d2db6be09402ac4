#pragma once

#include "hssoundcard.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>

class HSUDPAudioSocket;
class QTimer;

// What the audio of one connection needs: the host's audio port, the local one, the devices by
// name and the streams' format.
struct AudioConnection {
    QString remoteHost;
    quint16 remotePort = 0;
    quint16 localPort = 0;
    bool acceptAnySender = false;
    QString outputDevice;
    QString speakerDevice;
    QString inputDevice;
    StreamFormat format;
};

// Runs the audio path of one connection in a thread of its own: every datagram from the host is
// played with each frame written twice, and every capture block is sent to the host. The sound
// card's streams are started, stopped and reopened here too, so the GUI never waits on the sound
// system. Each report carries the session its start was given, so that a report overtaken by a
// later start or stop can be told apart.
class HSAudioWorker : public QObject {
    Q_OBJECT

public:
    explicit HSAudioWorker(HSSoundCard* soundCard, QObject* parent = nullptr);
    ~HSAudioWorker() override;

public slots:
    // Looks the devices up, starts the streams and opens the socket, then reports audioStarted.
    // Without the cable or the capture among the devices no stream is started and the socket
    // opens all the same.
    void startAudio(const AudioConnection& connection, quint32 session);
    void init(QString remoteHost, ushort remotePort, ushort localPort,
              bool acceptAnySender = false);
    void stop();
    // A device failed: the streams stop, the socket stays.
    void stopCard();
    // The streams again, the devices looked up by name.
    void reopenCard();

public:
    // Any thread: the bytes received from the host and handed to it since the last call. Counted
    // here rather than announced per datagram, so the audio path wakes no other thread.
    quint32 takeBytesReceived() { return bytesIn.exchange(0); }
    quint32 takeBytesTransmitted() { return bytesOut.exchange(0); }

signals:
    // `ok` is false when the streams could not be started.
    void audioStarted(quint32 session, bool ok);
    void stopped();
    // The local port could not be bound: nothing will be received until the next init.
    void udpBindFailed(quint16 port, const QString& reason);
    // A running sound device stopped working; it is watched again once the streams are reopened.
    void soundDeviceLost(quint32 session, const QString& device);
    void soundDevicesReopened(quint32 session, bool ok);

private slots:
    void onMicDataReady();
    void onUdpDataReceived(QByteArray& dataIn);

private:
    bool soundDevicesFound(const AudioConnection& connection);
    void checkSoundDevices();

    HSSoundCard* soundCard;
    HSUDPAudioSocket* udpSocket;
    std::atomic<bool> running;
    std::atomic<quint32> bytesIn{0};
    std::atomic<quint32> bytesOut{0};
    QTimer* soundWatchdog;
    quint32 session = 0;
};
