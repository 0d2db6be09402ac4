// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>

class HSSoundCard;
struct CardConfig;
struct PlaybackDue;
class HSUDPAudioSocket;
class QTimer;

// Runs the audio path of one connection in a thread of its own: every datagram from the host is
// queued for playback as it arrives, and every capture block is sent to the host. It watches
// the sound devices, reports one that is missing or stopped working and when all are back, and
// has the card look for the missing ones when the link says so, so the GUI never waits on a
// device.
class HSAudioWorker : public QObject {
    Q_OBJECT

public:
    explicit HSAudioWorker(HSSoundCard* soundCard, QObject* parent = nullptr);
    ~HSAudioWorker() override;

public slots:
    void init(QString remoteHost, ushort remotePort, ushort localPort,
              bool acceptAnySender = false);
    void stop();
    // Stops what runs and starts the sound card's streams from `config` on this thread; false
    // when the card cannot play it.
    bool startAudio(const CardConfig& config);
    // The missing devices looked for by name; those found join the running streams.
    void lookForMissingDevices();
    // Called on the worker's own thread as it starts: it runs ahead of ordinary work where the
    // system allows (audioplatform.h), and says so in the log.
    void runAhead();

public:
    // Any thread: the bytes received from the host and handed to it since the last call. Counted
    // here rather than announced per datagram, so the audio path wakes no other thread.
    quint32 takeBytesReceived() { return bytesIn.exchange(0); }
    quint32 takeBytesTransmitted() { return bytesOut.exchange(0); }

signals:
    void stopped();
    // The local port could not be bound: nothing will be received until the next init.
    void udpBindFailed(quint16 port, const QString& reason);
    // A sound device the streams want is missing (or stopped working), and every one plays again.
    void soundDeviceLost(const QString& device);
    void soundDevicesBack();

private slots:
    void onMicDataReady();
    void onUdpDataReceived(QByteArray& dataIn);

private:
    void checkSoundDevices();
    void servicePlayback();
    void schedulePlayback(const PlaybackDue& due);

    HSSoundCard* soundCard;
    HSUDPAudioSocket* udpSocket;
    std::atomic<bool> running;
    std::atomic<quint32> bytesIn{0};
    std::atomic<quint32> bytesOut{0};
    // The devices are checked as often as this timer's interval, by a datagram that comes when a
    // check is due, and by the timer only where none does: each wake of the worker costs more
    // than the check.
    QTimer* soundWatchdog;
    QElapsedTimer sinceDevicesChecked;
    // Fires when the playback streams want feeding next, between datagrams.
    QTimer* playbackTimer;
    // The instant the playback timer is set for (steady clock, ns).
    std::int64_t playbackAtNs = -1;
};
