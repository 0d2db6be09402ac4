// SPDX-License-Identifier: GPL-3.0-or-later

#include "hsriglink.h"

#include "hsaudioworker.h"
#include "hsremotecontroller.h"
#include "hssoundcard.h"
#include "linkrules.h"
#include "log.h"

#include <QMetaEnum>
#include <QThread>
#include <QTimer>

using LinkStateMachine::Action;
using LinkStateMachine::Event;

namespace {

constexpr const char* kCategory = "MainWindow";
// The playout's counts go to the log at most once a minute, and only when they have changed.
constexpr quint32 kStatsLogTicks = 60000 / HSRigLink::kStatusIntervalMs;

template <typename Enum>
const char* nameOf(Enum value) {
    return QMetaEnum::fromType<Enum>().valueToKey(static_cast<int>(value));
}

} // namespace

HSRigLink::HSRigLink(HSSoundCard* soundCard, QObject* parent)
    : QObject(parent)
    , soundCard(soundCard)
    , remoteController(new HSRemoteController(this))
    , workerThread(new QThread(this))
    , audioWorker(new HSAudioWorker(soundCard))
    , statusTimer(new QTimer(this))
    , answerTimer(singleShotTimer("answerTimer"))
    , reconnectTimer(singleShotTimer("reconnectTimer"))
    , deviceRetryTimer(singleShotTimer("deviceRetryTimer"))
    , host(std::make_unique<HostDescription>()) {
    connectTimers();
    connectControlChannel();
    startWorker();
}

void HSRigLink::connectTimers() {
    answerTimer->setInterval(kAnswerMs);
    connect(answerTimer, &QTimer::timeout, this, [this] {
        HSLOG(LogLevel::Warning, kCategory) << "No stream description from " << rigUrl.toString()
                                            << " within " << kAnswerMs / 1000 << " s";
        handle(Event::AnswerTimeout);
    });
    connect(reconnectTimer, &QTimer::timeout, this, [this] {
        HSLOG(LogLevel::Notice, kCategory) << "Reconnect attempt — opening " << rigUrl.toString()
                                           << ", delay was " << reconnectTimer->interval() << "ms";
        handle(Event::ReconnectTimeout);
    });
    connect(deviceRetryTimer, &QTimer::timeout, this,
            [this] { handle(Event::DeviceRetryTimeout); });
    statusTimer->setObjectName(QStringLiteral("statusTimer"));
    connect(statusTimer, &QTimer::timeout, this, &HSRigLink::onTick);
    statusTimer->start(kStatusIntervalMs);
}

void HSRigLink::connectControlChannel() {
    connect(remoteController, &HSRemoteController::hostReadyToSent, this,
            [this](const HostDescription& described) {
                HSLOG(LogLevel::Notice, kCategory) << "host ready to sent";
                *host = described;
                handle(Event::Described);
            });
    connect(remoteController, &HSRemoteController::hostDisconnected, this, [this] {
        HSLOG(LogLevel::Notice, kCategory) << "host disconnected main";
        handle(Event::ControlLost);
    });
    connect(remoteController, &HSRemoteController::hostConnectionError, this,
            [this] { handle(Event::ControlFailed); });
    connect(remoteController, &HSRemoteController::closed, this, &HSRigLink::closed);
}

// The worker's reports cross from its thread by queued connections.
void HSRigLink::startWorker() {
    audioWorker->moveToThread(workerThread);
    connect(workerThread, &QThread::finished, audioWorker, &QObject::deleteLater);
    connect(audioWorker, &HSAudioWorker::udpBindFailed, this, &HSRigLink::udpBindFailed,
            Qt::QueuedConnection);
    connect(
        audioWorker, &HSAudioWorker::soundDeviceLost, this,
        [this](const QString& device) {
            unavailableDevice = device;
            handle(Event::DeviceFailed);
        },
        Qt::QueuedConnection);
    connect(
        audioWorker, &HSAudioWorker::soundDevicesBack, this,
        [this] { handle(Event::DeviceReopened); }, Qt::QueuedConnection);
    // Levels measured before the worker stopped are queued to the meters ahead of this.
    connect(audioWorker, &HSAudioWorker::stopped, this, &HSRigLink::audioStopped,
            Qt::QueuedConnection);
    connect(workerThread, &QThread::started, audioWorker, &HSAudioWorker::runAhead,
            Qt::DirectConnection);
    workerThread->start(QThread::InheritPriority);
}

HSRigLink::~HSRigLink() {
    workerThread->quit();
    workerThread->wait();
}

// Named so that a test can find it, read its interval and fire it by hand.
QTimer* HSRigLink::singleShotTimer(const char* name) {
    auto* timer = new QTimer(this);
    timer->setObjectName(name);
    timer->setSingleShot(true);
    return timer;
}

void HSRigLink::setSettings(const LinkSettings& settings) {
    linkSettings = settings;
    soundCard->setSpeakerOn(settings.card.speakerOn);
    soundCard->setReceiverMode(settings.card.audioOutMode);
}

bool HSRigLink::controlChannelOpen() const {
    return remoteController->socketOpen();
}

AudioLevels HSRigLink::levels() const {
    const HSVUMeter* playback = soundCard->playbackMeter();
    return {playback->valueLeft, playback->valueRight, soundCard->captureMeter()->value};
}

PlayoutStats HSRigLink::playoutStats() const {
    return soundCard->playoutStats();
}

QString HSRigLink::hostDescription() const {
    if (!host || host->sampleRate == 0)
        return {};
    const HostDescription& described = *host;
    // What the host left out is left out here too.
    QStringList parts{rigUrl.toString()};
    const auto add = [&parts](bool given, const QString& text) {
        if (given)
            parts << text;
    };
    add(!described.callSign.isEmpty(), "call sign \"" + described.callSign + "\"");
    add(true, QString("%1 Hz").arg(described.sampleRate));
    add(described.channel > 0, QString("%1 channels").arg(described.channel));
    add(described.sampleSize > 0, QString("%1-bit samples").arg(described.sampleSize));
    add(described.frameSize > 0, QString("%1 frames a datagram").arg(described.frameSize));
    add(!described.codec.isEmpty(), "codec \"" + described.codec + "\"");
    add(!described.protocol.isEmpty(), "protocol \"" + described.protocol + "\"");
    return parts.join(", ");
}

SoundDevices HSRigLink::soundDevices() {
    soundCard->EnumerateAudioDevices();
    return {soundCard->playbackDeviceNames(), soundCard->captureDeviceNames()};
}

bool HSRigLink::active() const {
    return state() != State::Idle && state() != State::GivenUp;
}

bool HSRigLink::connectToRig(const QString& rigAddress) {
    if (const QString problem = rigAddressProblem(rigAddress); !problem.isEmpty()) {
        HSLOG(LogLevel::Warning, kCategory) << "Rig address refused: " << problem;
        emit addressRefused(problem);
        return false;
    }
    HSLOG(LogLevel::Notice, kCategory) << "start connect, UDP port: " << linkSettings.inUDPPort;
    rigUrl = QUrl("ws://" + rigAddress, QUrl::TolerantMode);
    handle(Event::Connect);
    return true;
}

void HSRigLink::disconnectFromRig() {
    handle(Event::Disconnect);
}

// One event at a time: an event raised while the actions of another are carried out (a socket
// that fails as it is opened, for instance) is taken when they are done.
void HSRigLink::handle(Event event) {
    pending.enqueue(event);
    if (handling)
        return;
    handling = true;
    while (!pending.isEmpty())
        take(pending.dequeue());
    handling = false;
}

void HSRigLink::take(Event event) {
    const LinkStateMachine::Transition transition = LinkStateMachine::transition(position, event);
    const State before = position.state;
    position = transition.next;
    if (position.state != before) {
        HSLOG(LogLevel::Info, kCategory) << "Link " << nameOf(before) << " -> "
                                         << nameOf(position.state) << " on " << nameOf(event);
        emit stateChanged(position.state);
    }
    for (const LinkStateMachine::Step& step : transition.steps)
        perform(step);
}

void HSRigLink::perform(const LinkStateMachine::Step& step) {
    switch (step.action) {
    case Action::OpenChannel:
        remoteController->HostStartSent(rigUrl, {linkSettings.localIP, linkSettings.inUDPPort});
        return;
    case Action::CloseChannel:
        remoteController->closeWS();
        return;
    case Action::SendStartOutput:
        remoteController->sentMessageToHost(StartOutput);
        return;
    case Action::SendStopOutput:
        remoteController->sentMessageToHost(StopOutput);
        return;
    case Action::StartAnswerTimer:
        answerTimer->start();
        return;
    case Action::StopTimers:
        for (QTimer* timer : {answerTimer, reconnectTimer, deviceRetryTimer})
            timer->stop();
        return;
    case Action::ScheduleReconnect:
        scheduleReconnect(step.delayMs);
        return;
    case Action::StartAudio:
        startAudio();
        return;
    case Action::StopAudio:
        stopAudio();
        return;
    case Action::ReopenDevices:
        QMetaObject::invokeMethod(audioWorker, &HSAudioWorker::lookForMissingDevices,
                                  Qt::QueuedConnection);
        return;
    case Action::ScheduleDeviceRetry:
        deviceRetryTimer->start(step.delayMs);
        return;
    case Action::ReportStreaming:
        emit streaming();
        return;
    case Action::ReportRefused:
        emit connectionRefused();
        return;
    case Action::ReportCardFailed:
        emit audioCardFailed();
        return;
    case Action::ReportLost:
        emit linkLost();
        return;
    case Action::ReportDeviceUnavailable:
        emit soundDeviceUnavailable(unavailableDevice);
        return;
    }
}

// Each stream is judged on its own rate. The streams run on the worker's thread, which starts
// them too: after a quick reconnection its queued stop may not have run yet, and a host may
// describe its stream again while audio runs, so the worker lets go of the socket and the streams
// before they are opened anew. The outcome is the machine's next event.
void HSRigLink::startAudio() {
    lowRateTicks = 0;
    const CardConfig config = cardConfigFor(host->sampleRate, host->frameSize, linkSettings.card);
    HSAudioWorker* worker = audioWorker;
    bool started = false;
    QMetaObject::invokeMethod(
        worker, [worker, config] { return worker->startAudio(config); },
        Qt::BlockingQueuedConnection, &started);
    if (!started) {
        handle(Event::CardFailed);
        return;
    }
    const QString hostAddress = rigUrl.host(QUrl::FullyDecoded);
    HSLOG(LogLevel::Info, kCategory) << "host: " << hostAddress;
    const ushort remotePort = host->udpInPort;
    const ushort localPort = linkSettings.inUDPPort;
    const bool anySender = linkSettings.acceptAnySender;
    QMetaObject::invokeMethod(
        worker,
        [worker, hostAddress, remotePort, localPort, anySender] {
            worker->init(hostAddress, remotePort, localPort, anySender);
        },
        Qt::QueuedConnection);
    handle(Event::AudioStarted);
}

void HSRigLink::stopAudio() {
    QMetaObject::invokeMethod(audioWorker, &HSAudioWorker::stop, Qt::QueuedConnection);
    audioWorker->takeBytesReceived();
    audioWorker->takeBytesTransmitted();
    emit statusMeasured(0, 0, soundCard->inputLatency());
    emit audioStopped();
}

void HSRigLink::scheduleReconnect(int delayMs) {
    HSLOG(LogLevel::Notice, kCategory) << "Reconnecting in " << delayMs << "ms";
    reconnectTimer->start(delayMs);
    emit reconnecting(delayMs);
}

// Only a link that is up and streaming is judged (a device missing meanwhile stops nothing else):
// while the control channel is being re-established no audio can arrive, and an outage of any
// length is ridden out.
void HSRigLink::onTick() {
    const quint32 rxBytes = audioWorker->takeBytesReceived();
    const quint32 txBytes = audioWorker->takeBytesTransmitted();
    if (state() == State::Streaming || state() == State::DeviceLost) {
        if (isLowReceiveRate(rxBytes))
            ++lowRateTicks;
        if (lowRateTicks > kLowRateLimit)
            handle(Event::LowRate);
        logPlayoutStats();
    }
    emit statusMeasured(rxBytes, txBytes, soundCard->inputLatency());
}

void HSRigLink::logPlayoutStats() {
    if (++ticksSinceStatsLog < kStatsLogTicks)
        return;
    ticksSinceStatsLog = 0;
    const QString line = "Playout: " + playoutFigures(soundCard->playoutStats()).join(", ");
    if (line == loggedStats)
        return;
    loggedStats = line;
    HSLOG(LogLevel::Info, kCategory) << line;
}
