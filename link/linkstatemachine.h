// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QObject>

#include <vector>

// The connection's recovery as one pure transition function: what the link does next, given where
// it stands and what just happened. HSRigLink feeds it the events and carries out the actions; no
// timer, socket or sound device is touched here.
namespace LinkStateMachine {
Q_NAMESPACE

enum class State {
    Idle,
    Connecting,   // a first attempt: waiting for the host to describe its stream
    Streaming,    // audio flows both ways
    Reconnecting, // a lost connection: waiting out the back-off, or an attempt waiting for its
                  // answer
    DeviceLost,   // a sound device stopped working and is being reopened; the connection stays up
    GivenUp,      // too little audio arrived; the operator was told
};
Q_ENUM_NS(State)

enum class Event {
    Connect,            // the operator
    Disconnect,         // the operator
    Described,          // the host described its stream
    ControlLost,        // an open control connection went down (host, socket, pong, bad message)
    ControlFailed,      // an attempt could not open the control connection
    AnswerTimeout,      // an attempt brought no stream description in time
    ReconnectTimeout,   // the back-off delay is over
    LowRate,            // the fifth low-rate check of a stream
    AudioStarted,       // the audio path runs (or goes without audio: no device was found)
    CardFailed,         // the sound card's streams could not be started
    DeviceFailed,       // a running sound device stopped working
    DeviceReopened,     // the streams were reopened
    DeviceReopenFailed, // the streams could not be reopened
    DeviceRetryTimeout, // the device retry delay is over
};
Q_ENUM_NS(Event)

enum class Action {
    OpenChannel,         // the control channel to the rig ("localInfo" goes when it opens)
    CloseChannel,        // close 1000, or abort an attempt still connecting
    SendStartOutput,     // "startOutput"
    SendStopOutput,      // "stopOutput"
    StartAnswerTimer,    // the attempt's answer timer
    StopTimers,          // the answer, reconnect and device retry timers
    ScheduleReconnect,   // the reconnect timer with `delayMs`, announced to the operator
    StartAudio,          // look the devices up, start the streams and the UDP socket
    StopAudio,           // the UDP socket and the streams
    StopCard,            // the streams only: a device failed, the connection stays
    ReopenDevices,       // the streams again, the devices looked up by name
    ScheduleDeviceRetry, // the device retry timer with `delayMs`
    ReportStreaming,
    ReportRefused,           // "Unable connect to remote Rig"
    ReportCardFailed,        // "Unable to configure audio card"
    ReportLost,              // "Lost connection with Rig"
    ReportDeviceUnavailable, // the failed device, named in the status line
};
Q_ENUM_NS(Action)

struct Step {
    Action action;
    int delayMs = 0; // for the two schedules only
    bool operator==(const Step& other) const {
        return action == other.action && delayMs == other.delayMs;
    }
};

// Where the link stands: its state and how far the two retry schedules have gone.
struct Position {
    State state = State::Idle;
    int reconnects = 0;    // reconnections scheduled since the connection was lost
    int deviceRetries = 0; // device retries scheduled since the device failed
};

struct Transition {
    Position next;
    std::vector<Step> steps; // carried out in order; a report, which may open a box, comes last
};

Transition transition(const Position& from, Event event);

// The delay before the reconnection that follows `reconnects` earlier ones: 1, 2, 4, 8, 16 s, then
// every 30 s.
int reconnectDelayMs(int reconnects);
// The delay before the device retry that follows `retries` earlier ones: 0.5, 1, 2 s, then every 5
// s.
int deviceRetryDelayMs(int retries);

} // namespace LinkStateMachine
