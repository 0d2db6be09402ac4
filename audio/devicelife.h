// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QObject>

#include <vector>

// One sound device's life while the streams run, as one pure transition function: what the card
// does next with the device, given where the device stands and what just happened. HSSoundCard
// feeds it the events on the audio worker's thread and carries out the actions; no stream, thread
// or receiver is touched here. The three devices share the table: only the speaker is switched,
// and the card says what an action is for each (the capture has no receiver to be written by).
namespace DeviceLife {
Q_NAMESPACE

enum class State {
    Closed,    // no stream, none wanted (or the streams not yet started)
    Opening,   // switched on: its opening asked of the device thread
    Open,      // its stream runs (a playback stream written by the receiver)
    Missing,   // wanted but not there: looked for at the next search
    Searching, // missing, its opening asked of the device thread
    Closing,   // switched off: its closing asked of the device thread
    Failing,   // stopped working: its closing asked of the device thread
};
Q_ENUM_NS(State)

enum class Event {
    SpeakerOn,      // at a look, the speaker's switch is on (the speaker only)
    SpeakerOff,     // at a look, the speaker's switch is off (the speaker only)
    Search,         // the missing devices are looked for
    Opened,         // the device thread opened the stream (or the start did)
    NotOpened,      // it could not (or the start found the device not listed)
    Closed,         // the device thread closed the stream
    StoppedWorking, // the stream does nothing, reported an error, or its device is gone
};
Q_ENUM_NS(Event)

enum class Action {
    Open,          // the device thread opens the stream, by the name the settings give
    Close,         // the device thread closes the stream
    Feed,          // the speaker's playout joins the stream where the next datagram goes
    Attach,        // the receiver writes the playback stream (the cable's playout afresh)
    Detach,        // the receiver stops writing it (and feeding the speaker's playout)
    SayMissing,    // Warning: not there at the start, the others play on
    SayFound,      // Notice "found and opened" (Info "Speaker on" for the speaker)
    SayNotOpened,  // Debug "still missing" (Warning "cannot be opened" for the speaker)
    SayStopped,    // Warning "stopped working, reopening it"
    SaySpeakerOff, // Info "Speaker off"
};
Q_ENUM_NS(Action)

struct Transition {
    State next;
    std::vector<Action> actions; // carried out in order
};

Transition transition(State from, Event event);

// Whether a device in `state` is missing where the streams want it, so reported until it plays
// again: a search under way does not make it found.
bool lost(State state);

} // namespace DeviceLife
