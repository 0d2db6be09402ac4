// SPDX-License-Identifier: GPL-3.0-or-later

#include "hsaudioworker.h"

#include "audioplatform.h"
#include "hssoundcard.h"
#include "hsudpaudiosocket.h"
#include "log.h"
#include "soundwatchdog.h"

#include <QTimer>

namespace {
constexpr const char* kCategory = "AudioWorker";
} // namespace

HSAudioWorker::HSAudioWorker(HSSoundCard* soundCard, QObject* parent)
    : QObject(parent)
    , soundCard(soundCard)
    , udpSocket(nullptr)
    , running(false)
    , soundWatchdog(new QTimer(this))
    , playbackTimer(new QTimer(this)) {
    soundWatchdog->setObjectName(QStringLiteral("soundWatchdog"));
    soundWatchdog->setInterval(kDeviceCheckMs);
    connect(soundWatchdog, &QTimer::timeout, this, &HSAudioWorker::checkSoundDevices);
    playbackTimer->setObjectName(QStringLiteral("playbackTimer"));
    playbackTimer->setSingleShot(true);
    playbackTimer->setTimerType(Qt::PreciseTimer);
    connect(playbackTimer, &QTimer::timeout, this, &HSAudioWorker::servicePlayback);
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
    sinceDevicesChecked.start();
    soundWatchdog->start();
    servicePlayback();
    HSLOG(LogLevel::Notice, kCategory) << "Audio worker initialized";
}

void HSAudioWorker::stop() {
    running = false;
    soundWatchdog->stop();
    playbackTimer->stop();
    if (udpSocket) {
        HSLOG(LogLevel::Info, kCategory) << "Stopping audio worker";
        disconnect(soundCard, &HSSoundCard::inDataReady, this, &HSAudioWorker::onMicDataReady);
        delete udpSocket;
        udpSocket = nullptr;
    }
    soundCard->StopAudio();
    emit stopped();
}

bool HSAudioWorker::startAudio(const CardConfig& config) {
    stop();
    return soundCard->StartAudio(config);
}

void HSAudioWorker::onMicDataReady() {
    if (!running || !udpSocket)
        return;
    QByteArray block = soundCard->latestCapturedData();
    // An announcement from before the streams were restarted finds no block.
    if (block.isEmpty())
        return;
    bytesOut += static_cast<quint32>(block.size());
    udpSocket->outData(block);
    // A capture block comes right after one of its server's cycles: where the cards play on the
    // same server, this look sees their cycle as closely as the timer's look after it would, and
    // spares that wake.
    servicePlayback();
}

// Counted as it arrives, before it is played, so that the speed read for a window covers every
// datagram the card has seen. What it brings may spare the cards a look before their next cycle,
// or want one at once.
void HSAudioWorker::onUdpDataReceived(QByteArray& dataIn) {
    bytesIn += static_cast<quint32>(dataIn.size());
    soundCard->StreamOut(dataIn);
    schedulePlayback(soundCard->playbackDue());
    if (sinceDevicesChecked.hasExpired(kDeviceCheckMs))
        checkSoundDevices();
}

// The playback streams are written as datagrams come; between them, this keeps the cards fed
// before their cycles.
void HSAudioWorker::servicePlayback() {
    schedulePlayback(soundCard->ServicePlayback());
}

// Most datagrams and capture blocks leave the next look where it was: the timer is set again only
// when it moves, as each setting removes the timer and inserts it anew.
void HSAudioWorker::schedulePlayback(const PlaybackDue& due) {
    if (due.inMs < 0 || (due.atNs == playbackAtNs && playbackTimer->isActive()))
        return;
    playbackAtNs = due.atNs;
    playbackTimer->start(due.inMs);
}

void HSAudioWorker::checkSoundDevices() {
    sinceDevicesChecked.start();
    soundWatchdog->start();
    const std::optional<QString> change = soundCard->deviceChange();
    if (!change)
        return;
    if (change->isEmpty()) {
        HSLOG(LogLevel::Notice, kCategory) << "Sound devices all playing";
        emit soundDevicesBack();
    } else {
        emit soundDeviceLost(*change);
    }
}

void HSAudioWorker::runAhead() {
    const QString why = raiseAudioThreadPriority();
    if (why.isEmpty())
        HSLOG(LogLevel::Info, kCategory) << "Audio worker at real-time priority";
    else
        HSLOG(LogLevel::Notice, kCategory) << "Audio worker at ordinary priority: " << why;
}

void HSAudioWorker::lookForMissingDevices() {
    soundCard->lookForMissingDevices();
}
