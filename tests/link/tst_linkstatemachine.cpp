// SPDX-License-Identifier: GPL-3.0-or-later

// The connection's recovery: every state against every event, with the state it leads to and the
// actions in their order. Each row starts with two reconnections behind it, so a row shows which
// delay the schedule takes next.
#include "linkstatemachine.h"
#include "transitionrows.h"

using namespace LinkStateMachine;
using S = State;
using E = Event;

class LinkStateMachineTest : public QObject {
    Q_OBJECT

private slots:
    void transitions_data() {
        QTest::addColumn<State>("from");
        QTest::addColumn<Event>("event");
        QTest::addColumn<State>("to");
        QTest::addColumn<QString>("steps");
        const auto same = std::nullopt;
        const QList<State> up{S::Connecting, S::Reconnecting, S::Streaming, S::DeviceLost};
        const QString attempt = "OpenChannel StartAnswerTimer";
        const QString hangUp = "StopTimers SendStopOutput CloseChannel StopAudio";
        const QString lost = "StopTimers StopAudio ScheduleReconnect:1000"; // the schedule afresh

        rows({S::Idle, S::GivenUp}, {E::Connect}, S::Connecting, attempt);

        rows(up, {E::Disconnect}, S::Idle, hangUp);
        rows(up, {E::CardFailed}, S::Idle, hangUp + " ReportCardFailed");
        rows(up, {E::Described}, same, "StopTimers StartAudio");
        rows(up, {E::AudioStarted}, S::Streaming, "SendStartOutput ReportStreaming");

        rows({S::Connecting}, {E::ControlLost}, S::Reconnecting, lost);
        rows({S::Connecting}, {E::ControlFailed}, S::Idle, "StopTimers ReportRefused");
        rows({S::Connecting}, {E::AnswerTimeout}, S::Idle, "CloseChannel ReportRefused");

        rows({S::Reconnecting}, {E::ControlLost, E::ControlFailed}, same,
             "StopTimers StopAudio ScheduleReconnect:4000"); // the third delay
        rows({S::Reconnecting}, {E::AnswerTimeout}, same, "CloseChannel ScheduleReconnect:4000");
        rows({S::Reconnecting}, {E::ReconnectTimeout}, same, attempt);

        rows({S::Streaming, S::DeviceLost}, {E::ControlLost, E::ControlFailed}, S::Reconnecting,
             lost);
        rows({S::Streaming, S::DeviceLost}, {E::LowRate}, S::GivenUp, hangUp + " ReportLost");
        rows({S::Streaming}, {E::DeviceFailed}, S::DeviceLost,
             "ScheduleDeviceRetry:2000 ReportDeviceUnavailable");
        rows({S::DeviceLost}, {E::DeviceFailed}, same, "ReportDeviceUnavailable");
        rows({S::DeviceLost}, {E::DeviceReopened}, S::Streaming, "");
        rows({S::DeviceLost}, {E::DeviceRetryTimeout}, same,
             "ReopenDevices ScheduleDeviceRetry:2000");

        // Every other event leaves the machine where it is, doing nothing.
        rows.rest();
    }
    void transitions() {
        QFETCH(State, from);
        QFETCH(Event, event);
        const Transition t = transition({from, 2}, event);
        QTEST(t.next.state, "to");
        QStringList steps;
        for (const Step& step : t.steps)
            steps << nameOf(step.action) +
                         (step.delayMs ? QString(":%1").arg(step.delayMs) : QString());
        QTEST(steps.join(' '), "steps");
    }

    // Failure after failure, the schedule doubles up to its last delay and stays there: the
    // machine walked through a lost connection that keeps failing.
    void schedule() {
        Position connection{S::Streaming};
        QList<int> reconnects;
        for (int n = 0; n < 7; ++n) {
            const Transition lost = transition(connection, E::ControlLost);
            reconnects << lost.steps.back().delayMs;
            connection = lost.next;
        }
        QCOMPARE(reconnects, (QList<int>{1000, 2000, 4000, 8000, 16000, 30000, 30000}));
    }

private:
    TransitionRows<State, Event> rows;
};

QTEST_GUILESS_MAIN(LinkStateMachineTest)
#include "tst_linkstatemachine.moc"
