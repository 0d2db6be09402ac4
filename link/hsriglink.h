// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "audiolevels.h"
#include "cardsettings.h"
#include "linkstatemachine.h"
#include "playoutstats.h"
#include "sounddevices.h"

#include <QObject>
#include <QQueue>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>

class QThread;
class QTimer;
class HSAudioWorker;
class HSRemoteController;
class HSSoundCard;
struct HostDescription;

// The operator's choices for a connection: the local endpoint, and the sound card's.
struct LinkSettings {
    QString localIP = QStringLiteral("127.0.0.1");
    quint16 inUDPPort = 16742;
    // Audio from any address, for a host whose audio comes from elsewhere than its control channel.
    bool acceptAnySender = false;
    CardSettings card;
};

// One connection to a rig: the control channel, the audio worker and its thread, the address
// check, the two-second speed and low-rate tick, and the state the operator sees. Its recovery is
// LinkStateMachine's: the link turns what happens into the machine's events and carries out the
// actions it returns, one event at a time. Tells the window what happened through signals with
// plain values. Lives in the GUI thread.
class HSRigLink : public QObject {
    Q_OBJECT

public:
    using State = LinkStateMachine::State;

    static constexpr int kStatusIntervalMs = 2000;
    // Low ticks tolerated before the link counts as lost: the fifth one gives it up.
    static constexpr quint32 kLowRateLimit = 4;
    // An attempt that brings no stream description within this has failed.
    static constexpr int kAnswerMs = 10000;

    explicit HSRigLink(HSSoundCard* soundCard, QObject* parent = nullptr);
    ~HSRigLink() override;

    // The speaker and the receiver take effect at once, everything else at the next connection.
    void setSettings(const LinkSettings& settings);
    const LinkSettings& settings() const { return linkSettings; }
    State state() const { return position.state; }
    bool active() const;
    // The control channel is open or still closing.
    bool controlChannelOpen() const;
    // Read by the window at its own frame rate; nothing is queued per block.
    AudioLevels levels() const;
    // The received audio's faults and where its playout stands, on the virtual cable.
    PlayoutStats playoutStats() const;
    // The rig's address and the host's description of its stream as an operator reads it; empty
    // before the first description.
    QString hostDescription() const;
    // The devices as the sound system lists them now.
    SoundDevices soundDevices();

public slots:
    // Refuses (addressRefused) an address the audio channel cannot send to; otherwise opens the
    // control channel.
    bool connectToRig(const QString& rigAddress);
    // The operator's disconnect: stopOutput, close 1000, audio stopped.
    void disconnectFromRig();

signals:
    void stateChanged(LinkStateMachine::State state);
    void addressRefused(const QString& problem);
    // The host described its stream and the audio path was started (or no device was found).
    void streaming();
    void connectionRefused();
    void audioCardFailed();
    void linkLost();
    void reconnecting(int delayMs);
    // The audio path stopped; the meters may be put to rest.
    void audioStopped();
    // One two-second window: bytes received and transmitted, and the capture latency.
    void statusMeasured(quint32 rxBytes, quint32 txBytes, float inputLatency);
    void udpBindFailed(quint16 port, const QString& reason);
    // A sound device stopped working and is being reopened; the connection stays up.
    void soundDeviceUnavailable(const QString& device);
    // The control channel is closed: nothing open and nothing closing.
    void closed();

private:
    QTimer* singleShotTimer(const char* name);
    void connectTimers();
    void connectControlChannel();
    void startWorker();
    void handle(LinkStateMachine::Event event);
    void take(LinkStateMachine::Event event);
    void perform(const LinkStateMachine::Step& step);
    void startAudio();
    void stopAudio();
    void scheduleReconnect(int delayMs);
    void onTick();
    void logPlayoutStats();

    HSSoundCard* soundCard;
    HSRemoteController* remoteController;
    QThread* workerThread;
    HSAudioWorker* audioWorker;
    QTimer* statusTimer;
    QTimer* answerTimer;
    QTimer* reconnectTimer;
    QTimer* deviceRetryTimer;
    LinkSettings linkSettings;
    QUrl rigUrl;
    // The host's latest stream description, which the audio path starts from.
    std::unique_ptr<HostDescription> host;
    LinkStateMachine::Position position;
    // Events that arrive while one is being handled wait their turn.
    QQueue<LinkStateMachine::Event> pending;
    bool handling = false;
    QString unavailableDevice;
    quint32 lowRateTicks = 0;
    quint32 ticksSinceStatsLog = 0;
    QString loggedStats;
};
