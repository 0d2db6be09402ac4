#include "hsriglink.h"

#include "hsaudioworker.h"
#include "hsremotecontroller.h"
#include "hssoundcard.h"
#include "linkrules.h"
#include "log.h"

#include <QThread>
#include <QTimer>

namespace {
constexpr const char* kCategory = "MainWindow";
} // namespace

HSRigLink::HSRigLink(HSSoundCard* soundCard, QObject* parent)
    : QObject(parent)
    , soundCard(soundCard)
    , remoteController(new HSRemoteController(this))
    , workerThread(new QThread(this))
    , audioWorker(new HSAudioWorker(soundCard))
    , statusTimer(new QTimer(this))
    , firstAnswerTimer(new QTimer(this)) {
    connect(remoteController, &HSRemoteController::hostReadyToSent, this, &HSRigLink::onHostReady);
    connect(remoteController, &HSRemoteController::hostDisconnected, this,
            &HSRigLink::onHostDisconnected);
    connect(remoteController, &HSRemoteController::hostConnectionError, this,
            &HSRigLink::onConnectionError);
    connect(remoteController, &HSRemoteController::reconnecting, this, &HSRigLink::onReconnecting);

    audioWorker->moveToThread(workerThread);
    connect(workerThread, &QThread::finished, audioWorker, &QObject::deleteLater);
    connect(audioWorker, &HSAudioWorker::udpBindFailed, this, &HSRigLink::udpBindFailed,
            Qt::QueuedConnection);
    connect(audioWorker, &HSAudioWorker::soundDeviceLost, this, &HSRigLink::soundDeviceUnavailable,
            Qt::QueuedConnection);
    connect(audioWorker, &HSAudioWorker::soundDeviceBack, this, &HSRigLink::soundDeviceAvailable,
            Qt::QueuedConnection);
    // Levels measured before the worker stopped are queued to the meters ahead of this.
    connect(audioWorker, &HSAudioWorker::stopped, this, &HSRigLink::audioStopped,
            Qt::QueuedConnection);
    workerThread->start(QThread::InheritPriority);

    statusTimer->setObjectName(QStringLiteral("statusTimer"));
    connect(statusTimer, &QTimer::timeout, this, &HSRigLink::onTick);
    statusTimer->start(kStatusIntervalMs);

    firstAnswerTimer->setObjectName(QStringLiteral("firstAnswerTimer"));
    firstAnswerTimer->setSingleShot(true);
    firstAnswerTimer->setInterval(kFirstAnswerMs);
    connect(firstAnswerTimer, &QTimer::timeout, this, &HSRigLink::onNoFirstAnswer);
}

HSRigLink::~HSRigLink() {
    workerThread->quit();
    workerThread->wait();
}

void HSRigLink::setSettings(const LinkSettings& settings) {
    linkSettings = settings;
    soundCard->setSpeakerOn(settings.speakerOn);
    soundCard->setReceiverMode(settings.audioOutMode);
    soundCard->setBufferMultipliers(settings.frameOutMult, settings.frameInMult);
}

bool HSRigLink::controlChannelOpen() const {
    return remoteController->socketOpen();
}

AudioLevels HSRigLink::levels() const {
    const HSVUMeter* playback = soundCard->playbackMeter();
    return {playback->valueLeft, playback->valueRight, soundCard->captureMeter()->value};
}

SoundDevices HSRigLink::soundDevices() {
    soundCard->EnumerateAudioDevices();
    return {soundCard->playbackDeviceNames(), soundCard->captureDeviceNames()};
}

bool HSRigLink::active() const {
    return linkState == State::Connecting || linkState == State::Streaming ||
           linkState == State::Reconnecting;
}

bool HSRigLink::connectToRig(const QString& rigAddress) {
    if (const QString problem = rigAddressProblem(rigAddress); !problem.isEmpty()) {
        HSLOG(LogLevel::Warning, kCategory) << "Rig address refused: " << problem;
        emit addressRefused(problem);
        return false;
    }
    HSLOG(LogLevel::Notice, kCategory) << "start connect, UDP port: " << linkSettings.inUDPPort;
    lowRateTicks = 0;
    rigUrl = QUrl("ws://" + rigAddress, QUrl::TolerantMode);
    remoteController->localPort = linkSettings.inUDPPort;
    remoteController->localAddress = linkSettings.localIP;
    setState(State::Connecting);
    firstAnswerTimer->start();
    remoteController->HostStartSent(rigUrl);
    return true;
}

void HSRigLink::disconnectFromRig() {
    firstAnswerTimer->stop();
    remoteController->HostStopSent();
    stopAudioPath();
    setState(State::Idle);
}

void HSRigLink::onHostReady() {
    HSLOG(LogLevel::Notice, kCategory) << "host ready to sent";
    firstAnswerTimer->stop();
    lowRateTicks = 0;
    // The worker writes to the streams from its own thread. After a quick reconnection its queued
    // stop may not have run yet, and a host may describe its stream again while audio runs: the
    // worker lets go of the socket and the streams before they are opened anew here.
    QMetaObject::invokeMethod(audioWorker, &HSAudioWorker::stop, Qt::BlockingQueuedConnection);
    if (soundDevicesFound() && !soundCard->StartAudio(streamFormatForHost(
                                   remoteController->sampleRate, remoteController->frameSize))) {
        emit audioCardFailed();
        disconnectFromRig();
        return;
    }
    const QString host = remoteController->hostUrl.host(QUrl::FullyDecoded);
    HSLOG(LogLevel::Info, kCategory) << "host: " << host;
    const ushort remotePort = remoteController->udpInPort;
    const ushort localPort = linkSettings.inUDPPort;
    const bool anySender = linkSettings.acceptAnySender;
    HSAudioWorker* worker = audioWorker;
    QMetaObject::invokeMethod(
        worker,
        [worker, host, remotePort, localPort, anySender] {
            worker->init(host, remotePort, localPort, anySender);
        },
        Qt::QueuedConnection);
    setState(State::Streaming);
    emit streaming();
}

// Resolves the stored names of the cable and the capture, stopping at the first that the sound
// card does not know: without both the connection goes on without audio, so the operator can see
// why in the log. The speaker is looked up too, but is not needed for audio to flow.
bool HSRigLink::soundDevicesFound() {
    soundCard->findSpeakerDevice(linkSettings.audioDevice);
    const struct {
        int (HSSoundCard::*find)(const QString&);
        const QString& name;
        const char* role;
    } lookups[] = {
        {&HSSoundCard::findOutputDevice, linkSettings.outputDevice, "UMX output"},
        {&HSSoundCard::findInputDevice, linkSettings.inputDevice, "UMX input"},
    };
    for (const auto& lookup : lookups) {
        if ((soundCard->*lookup.find)(lookup.name) == -1) {
            HSLOG(LogLevel::Warning, kCategory)
                << "No audio: the " << lookup.role << " device \"" << lookup.name
                << "\" is not among the sound devices";
            return false;
        }
    }
    return true;
}

void HSRigLink::onHostDisconnected() {
    HSLOG(LogLevel::Notice, kCategory) << "host disconnected main";
    stopAudioPath();
}

void HSRigLink::stopAudioPath() {
    QMetaObject::invokeMethod(audioWorker, &HSAudioWorker::stop, Qt::QueuedConnection);
    audioWorker->takeBytesReceived();
    audioWorker->takeBytesTransmitted();
    emit statusMeasured(0, 0, soundCard->inputLatency());
    emit audioStopped();
}

void HSRigLink::onConnectionError() {
    disconnectFromRig();
    emit connectionRefused();
}

void HSRigLink::onReconnecting(int delayMs) {
    HSLOG(LogLevel::Notice, kCategory) << "Reconnecting in " << delayMs << "ms";
    setState(State::Reconnecting);
    emit reconnecting(delayMs);
}

// Only a link that is up and streaming is judged: while the control channel is being re-established
// no audio can arrive, and an outage of any length is ridden out.
void HSRigLink::onTick() {
    const quint32 rxBytes = audioWorker->takeBytesReceived();
    const quint32 txBytes = audioWorker->takeBytesTransmitted();
    if (linkState == State::Streaming) {
        if (isLowReceiveRate(rxBytes))
            ++lowRateTicks;
        if (lowRateTicks > kLowRateLimit) {
            lowRateTicks = 0;
            disconnectFromRig();
            setState(State::GivenUp);
            emit linkLost();
        }
    }
    emit statusMeasured(rxBytes, txBytes, soundCard->inputLatency());
}

void HSRigLink::onNoFirstAnswer() {
    HSLOG(LogLevel::Warning, kCategory) << "No stream description from " << rigUrl.toString()
                                        << " within " << kFirstAnswerMs / 1000 << " s";
    disconnectFromRig();
    emit connectionRefused();
}

void HSRigLink::setState(State state) {
    if (linkState == state)
        return;
    linkState = state;
    emit stateChanged(state);
}
