#include "hsaudioworker.h"

#include "framedoubling.h"
#include "hsportaudio.h"
#include "hsudpaudiosocket.h"
#include "log.h"

namespace {
constexpr const char* kCategory = "AudioWorker";
} // namespace

HSAudioWorker::HSAudioWorker(HSPortAudio* portAudio, QObject* parent)
    : QObject(parent)
    , portAudio(portAudio)
    , udpSocket(nullptr)
    , running(false) {
    HSLOG(LogLevel::Info, kCategory) << "HSAudioWorker created";
}

HSAudioWorker::~HSAudioWorker() {
    stop();
    HSLOG(LogLevel::Info, kCategory) << "HSAudioWorker destroyed";
}

void HSAudioWorker::init(QString remoteHost, ushort remotePort, ushort localPort) {
    HSLOG(LogLevel::Info, kCategory) << "Initializing audio worker: host=" << remoteHost
                                     << " remotePort=" << remotePort << " localPort=" << localPort;
    if (udpSocket) {
        HSLOG(LogLevel::Warning, kCategory) << "UDP socket already exists, stopping first";
        stop();
    }
    udpSocket = new HSUDPAudioSocket(this, remoteHost, remotePort, localPort);
    if (!udpSocket->bindError().isEmpty())
        emit udpBindFailed(localPort, udpSocket->bindError());
    // The capture signal comes from the sound card's callback thread.
    connect(portAudio, &HSPortAudio::inDataReady, this, &HSAudioWorker::onMicDataReady,
            Qt::QueuedConnection);
    connect(udpSocket, &HSUDPAudioSocket::inDataReady, this, &HSAudioWorker::onUdpDataReceived);
    running = true;
    HSLOG(LogLevel::Notice, kCategory) << "Audio worker initialized";
}

void HSAudioWorker::stop() {
    running = false;
    if (udpSocket) {
        HSLOG(LogLevel::Info, kCategory) << "Stopping audio worker";
        disconnect(portAudio, &HSPortAudio::inDataReady, this, &HSAudioWorker::onMicDataReady);
        delete udpSocket;
        udpSocket = nullptr;
    }
    portAudio->StopAudio();
    emit stopped();
}

void HSAudioWorker::onMicDataReady() {
    if (!running || !udpSocket)
        return;
    QByteArray block = portAudio->latestCapturedData();
    emit bytesTransmitted(static_cast<uint>(block.size()));
    udpSocket->outData(block);
}

void HSAudioWorker::onUdpDataReceived(QByteArray& dataIn) {
    QByteArray playback = doubleFrames(dataIn);
    portAudio->StreamOut(playback);
    emit bytesReceived(static_cast<uint>(dataIn.size()));
}
