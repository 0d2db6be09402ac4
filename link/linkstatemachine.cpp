// SPDX-License-Identifier: GPL-3.0-or-later

#include "linkstatemachine.h"

#include <algorithm>

namespace LinkStateMachine {

namespace {

using A = Action;

constexpr int kReconnectDelaysMs[] = {1000, 2000, 4000, 8000, 16000, 30000};

// The schedule's delay at `index`; past its end, the last one again and again.
template <std::size_t N>
int delayAt(const int (&delays)[N], int index) {
    return delays[std::clamp(index, 0, static_cast<int>(N) - 1)];
}

Transition stay(const Position& at, std::vector<Step> steps = {}) {
    return {at, std::move(steps)};
}

Transition moveTo(Position at, State state, std::vector<Step> steps) {
    at.state = state;
    return {at, std::move(steps)};
}

// The operator's disconnect, a give-up and a card that cannot start end the same way: the host
// hears "stopOutput", the channel closes normally and the audio stops.
Transition hangUp(const Position& from, State to, std::vector<Step> report = {}) {
    std::vector<Step> steps{
        {A::StopTimers}, {A::SendStopOutput}, {A::CloseChannel}, {A::StopAudio}};
    steps.insert(steps.end(), report.begin(), report.end());
    return moveTo(from, to, std::move(steps));
}

// A failed reconnection waits the schedule's next delay; any other loss starts it from its first.
Transition reconnect(Position from, std::vector<Step> steps) {
    if (from.state != State::Reconnecting)
        from.reconnects = 0;
    steps.push_back({A::ScheduleReconnect, reconnectDelayMs(from.reconnects)});
    ++from.reconnects;
    return moveTo(from, State::Reconnecting, std::move(steps));
}

// Idle and GivenUp: only the operator's connect starts anything, with both schedules afresh.
Transition fromRest(const Position& from, Event event) {
    if (event != Event::Connect)
        return stay(from);
    return moveTo({}, State::Connecting, {{A::OpenChannel}, {A::StartAnswerTimer}});
}

} // namespace

int reconnectDelayMs(int reconnects) {
    return delayAt(kReconnectDelaysMs, reconnects);
}

Transition transition(const Position& from, Event event) {
    const State state = from.state;
    if (state == State::Idle || state == State::GivenUp)
        return fromRest(from, event);
    switch (event) {
    case Event::Connect:
        return stay(from);
    case Event::Disconnect:
        return hangUp(from, State::Idle);
    case Event::CardFailed:
        return hangUp(from, State::Idle, {{A::ReportCardFailed}});
    case Event::LowRate:
        return state == State::Streaming || state == State::DeviceLost
                   ? hangUp(from, State::GivenUp, {{A::ReportLost}})
                   : stay(from);
    case Event::Described:
        return stay(from, {{A::StopTimers}, {A::StartAudio}});
    case Event::AudioStarted:
        return moveTo(from, State::Streaming, {{A::SendStartOutput}, {A::ReportStreaming}});
    case Event::ControlFailed:
        // Nothing was ever reached: the first attempt is reported and not retried.
        if (state == State::Connecting)
            return moveTo(from, State::Idle, {{A::StopTimers}, {A::ReportRefused}});
        return reconnect(from, {{A::StopTimers}, {A::StopAudio}});
    case Event::ControlLost:
        return reconnect(from, {{A::StopTimers}, {A::StopAudio}});
    case Event::AnswerTimeout:
        if (state == State::Connecting)
            return moveTo(from, State::Idle, {{A::CloseChannel}, {A::ReportRefused}});
        return state == State::Reconnecting ? reconnect(from, {{A::CloseChannel}}) : stay(from);
    case Event::ReconnectTimeout:
        return state == State::Reconnecting ? stay(from, {{A::OpenChannel}, {A::StartAnswerTimer}})
                                            : stay(from);
    // Another device missing meanwhile is named instead; the look goes on as it was.
    case Event::DeviceFailed:
        if (state == State::DeviceLost)
            return stay(from, {{A::ReportDeviceUnavailable}});
        return state == State::Streaming ? moveTo(from, State::DeviceLost,
                                                  {{A::ScheduleDeviceRetry, kDeviceRetryMs},
                                                   {A::ReportDeviceUnavailable}})
                                         : stay(from);
    case Event::DeviceReopened:
        return state == State::DeviceLost ? moveTo(from, State::Streaming, {}) : stay(from);
    case Event::DeviceRetryTimeout:
        return state == State::DeviceLost
                   ? stay(from, {{A::ReopenDevices}, {A::ScheduleDeviceRetry, kDeviceRetryMs}})
                   : stay(from);
    }
    return stay(from);
}

} // namespace LinkStateMachine
