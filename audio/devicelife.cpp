// SPDX-License-Identifier: GPL-3.0-or-later

#include "devicelife.h"

namespace DeviceLife {

namespace {

using A = Action;

Transition stay(State at) {
    return {at, {}};
}

bool opening(State state) {
    return state == State::Opening || state == State::Searching;
}

} // namespace

// The receiver lets go of a stream before the device thread closes it, and takes it only once it
// is open: a playback stream is the worker's between the two.
Transition transition(State from, Event event) {
    switch (event) {
    case Event::SpeakerOn:
        return from == State::Closed ? Transition{State::Opening, {A::Feed, A::Open}} : stay(from);
    case Event::SpeakerOff:
        return from == State::Open || from == State::Missing
                   ? Transition{State::Closing, {A::Detach, A::Close}}
                   : stay(from);
    case Event::Search:
        return from == State::Missing ? Transition{State::Searching, {A::Feed, A::Open}}
                                      : stay(from);
    case Event::Opened:
        if (from == State::Closed) // with the start
            return {State::Open, {A::Attach}};
        return opening(from) ? Transition{State::Open, {A::Attach, A::SayFound}} : stay(from);
    case Event::NotOpened:
        if (from == State::Closed)
            return {State::Missing, {A::SayMissing}};
        return opening(from) ? Transition{State::Missing, {A::SayNotOpened}} : stay(from);
    case Event::Closed:
        if (from == State::Closing)
            return {State::Closed, {A::SaySpeakerOff}};
        return from == State::Failing ? Transition{State::Missing, {}} : stay(from);
    case Event::StoppedWorking:
        return from == State::Open
                   ? Transition{State::Failing, {A::SayStopped, A::Detach, A::Close}}
                   : stay(from);
    }
    return stay(from);
}

bool lost(State state) {
    return state == State::Missing || state == State::Searching || state == State::Failing;
}

} // namespace DeviceLife
