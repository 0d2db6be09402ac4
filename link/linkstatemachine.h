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
    DeviceLost,   // a sound device is missing and looked for; the others and the connection stay up
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
    AudioStarted,       // the audio path runs (with the devices that are there)
    CardFailed,         // the sound card's streams could not be started
    DeviceFailed,       // a sound device is missing, or stopped working
    DeviceReopened,     // every device plays again
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
    ReopenDevices,       // the missing devices looked for by name
    ScheduleDeviceRetry, // the device retry timer with `delayMs`
    ReportStreaming,
    ReportRefused,           // "Unable connect to remote Rig"
    ReportCardFailed,        // "Unable to configure audio card"
    ReportLost,              // "Lost connection with Rig"
    ReportDeviceUnavailable, // the missing device, named in the status line
};
Q_ENUM_NS(Action)

struct Step {
    Action action;
    int delayMs = 0; // for the two schedules only
};

// Where the link stands: its state and how far the reconnection schedule has gone.
struct Position {
    State state = State::Idle;
    int reconnects = 0; // reconnections scheduled since the connection was lost
};

struct Transition {
    Position next;
    std::vector<Step> steps; // carried out in order; a report, which may open a box, comes last
};

Transition transition(const Position& from, Event event);

// The delay before the reconnection that follows `reconnects` earlier ones: 1, 2, 4, 8, 16 s, then
// every 30 s.
int reconnectDelayMs(int reconnects);
// A missing device is looked for this often: one that appears plays within it and the time its
// stream takes to open.
inline constexpr int kDeviceRetryMs = 2000;

} // namespace LinkStateMachine
