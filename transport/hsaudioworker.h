#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>

class HSPortAudio;
class HSUDPAudioSocket;

// Runs the audio path of one connection in a thread of its own: every datagram from the host is
// played with each frame written twice, and every capture block is sent to the host.
class HSAudioWorker : public QObject {
    Q_OBJECT

public:
    explicit HSAudioWorker(HSPortAudio* portAudio, QObject* parent = nullptr);
    ~HSAudioWorker() override;

public slots:
    void init(QString remoteHost, ushort remotePort, ushort localPort);
    void stop();

signals:
    void bytesReceived(uint bytes);
    void bytesTransmitted(uint bytes);
    void stopped();
    // The local port could not be bound: nothing will be received until the next init.
    void udpBindFailed(quint16 port, const QString& reason);

private slots:
    void onMicDataReady();
    void onUdpDataReceived(QByteArray& dataIn);

private:
    HSPortAudio* portAudio;
    HSUDPAudioSocket* udpSocket;
    std::atomic<bool> running;
};
