#include "hsaudioworker.h"

#include "framedoubling.h"
#include "hssoundcard.h"
#include "hsudpaudiosocket.h"
#include "log.h"

#include <QTimer>

#include <algorithm>
#include <iterator>

namespace {
constexpr const char* kCategory = "AudioWorker";
constexpr int kWatchdogPeriodMs = 100;
// Reopening a failed sound device: after 0.5, 1 and 2 s, then every 5 s.
constexpr int kRetryDelaysMs[] = {500, 1000, 2000, 5000};
} // namespace

HSAudioWorker::HSAudioWorker(HSSoundCard* soundCard, QObject* parent)
    : QObject(parent)
    , soundCard(soundCard)
    , udpSocket(nullptr)
    , running(false)
    , soundWatchdog(new QTimer(this))
    , soundRetry(new QTimer(this)) {
    soundWatchdog->setObjectName(QStringLiteral("soundWatchdog"));
    soundWatchdog->setInterval(kWatchdogPeriodMs);
    connect(soundWatchdog, &QTimer::timeout, this, &HSAudioWorker::checkSoundDevices);
    soundRetry->setObjectName(QStringLiteral("soundRetry"));
    soundRetry->setSingleShot(true);
    connect(soundRetry, &QTimer::timeout, this, &HSAudioWorker::retrySoundDevices);
    HSLOG(LogLevel::Info, kCategory) << "HSAudioWorker created";
}

HSAudioWorker::~HSAudioWorker() {
    stop();
    HSLOG(LogLevel::Info, kCategory) << "HSAudioWorker destroyed";
}

void HSAudioWorker::init(QString remoteHost, ushort remotePort, ushort localPort,
                         bool acceptAnySender) {
    HSLOG(LogLevel::Info, kCategory) << "Initializing audio worker: host=" << remoteHost
                                     << " remotePort=" << remotePort << " localPort=" << localPort;
    if (udpSocket) {
        HSLOG(LogLevel::Warning, kCategory) << "UDP socket already exists, stopping first";
        stop();
    }
    udpSocket = new HSUDPAudioSocket(this, remoteHost, remotePort, localPort);
    udpSocket->acceptAnySender(acceptAnySender);
    if (!udpSocket->bindError().isEmpty())
        emit udpBindFailed(localPort, udpSocket->bindError());
    // The capture signal comes from the sound card's callback thread.
    connect(soundCard, &HSSoundCard::inDataReady, this, &HSAudioWorker::onMicDataReady,
            Qt::QueuedConnection);
    connect(udpSocket, &HSUDPAudioSocket::inDataReady, this, &HSAudioWorker::onUdpDataReceived);
    running = true;
    soundWatchdog->start();
    HSLOG(LogLevel::Notice, kCategory) << "Audio worker initialized";
}

void HSAudioWorker::stop() {
    running = false;
    soundWatchdog->stop();
    soundRetry->stop();
    if (udpSocket) {
        HSLOG(LogLevel::Info, kCategory) << "Stopping audio worker";
        disconnect(soundCard, &HSSoundCard::inDataReady, this, &HSAudioWorker::onMicDataReady);
        delete udpSocket;
        udpSocket = nullptr;
    }
    soundCard->StopAudio();
    emit stopped();
}

void HSAudioWorker::onMicDataReady() {
    if (!running || !udpSocket)
        return;
    QByteArray block = soundCard->latestCapturedData();
    bytesOut += static_cast<quint32>(block.size());
    udpSocket->outData(block);
}

void HSAudioWorker::onUdpDataReceived(QByteArray& dataIn) {
    QByteArray playback = doubleFrames(dataIn);
    soundCard->StreamOut(playback);
    bytesIn += static_cast<quint32>(dataIn.size());
}

// Runs while the connection is up and its streams were started; a device that has stopped is
// reopened with a growing delay, and the connection stays up meanwhile.
void HSAudioWorker::checkSoundDevices() {
    if (soundRetry->isActive() || !soundCard->isStarted())
        return;
    const QString device = soundCard->failedDevice();
    if (device.isEmpty())
        return;
    HSLOG(LogLevel::Warning, kCategory)
        << "Sound device \"" << device << "\" stopped working, reopening it";
    emit soundDeviceLost(device);
    soundCard->StopAudio();
    retryStep = 0;
    soundRetry->start(kRetryDelaysMs[0]);
}

void HSAudioWorker::retrySoundDevices() {
    if (soundCard->RestartAudio()) {
        HSLOG(LogLevel::Notice, kCategory) << "Sound devices reopened";
        emit soundDeviceBack();
        return;
    }
    retryStep = std::min(retryStep + 1, static_cast<int>(std::size(kRetryDelaysMs)) - 1);
    soundRetry->start(kRetryDelaysMs[retryStep]);
}
