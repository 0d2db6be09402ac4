#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>

class HSSoundCard;
class HSUDPAudioSocket;
class QTimer;

// Runs the audio path of one connection in a thread of its own: every datagram from the host is
// played with each frame written twice, and every capture block is sent to the host.
class HSAudioWorker : public QObject {
    Q_OBJECT

public:
    explicit HSAudioWorker(HSSoundCard* soundCard, QObject* parent = nullptr);
    ~HSAudioWorker() override;

public slots:
    void init(QString remoteHost, ushort remotePort, ushort localPort,
              bool acceptAnySender = false);
    void stop();

signals:
    void bytesReceived(uint bytes);
    void bytesTransmitted(uint bytes);
    void stopped();
    // The local port could not be bound: nothing will be received until the next init.
    void udpBindFailed(quint16 port, const QString& reason);
    // A sound device stopped working; the streams are being reopened until it works again.
    void soundDeviceLost(const QString& device);
    void soundDeviceBack();

private slots:
    void onMicDataReady();
    void onUdpDataReceived(QByteArray& dataIn);

private:
    void checkSoundDevices();
    void retrySoundDevices();

    HSSoundCard* soundCard;
    HSUDPAudioSocket* udpSocket;
    std::atomic<bool> running;
    QTimer* soundWatchdog;
    QTimer* soundRetry;
    int retryStep = 0;
};
