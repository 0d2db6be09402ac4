// The connection's recovery: every state against every event, with the state it leads to and the
// actions in their order. Each row starts with two reconnections and two device retries behind it,
// so a row shows which delay a schedule takes next.
#include "linkstatemachine.h"

#include <QMetaEnum>
#include <QSet>
#include <QtTest>

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
        const QString attempt = "OpenChannel StartAnswerTimer";
        const QString hangUp = "StopTimers SendStopOutput CloseChannel StopAudio";
        const QString cardFailed = hangUp + " ReportCardFailed";
        const QString start = "StopTimers StartAudio";
        const QString started = "SendStartOutput ReportStreaming";
        const QString lost = "StopTimers StopAudio ScheduleReconnect:1000";   // the schedule afresh
        const QString failed = "StopTimers StopAudio ScheduleReconnect:4000"; // its third delay

        const QMetaEnum events = QMetaEnum::fromType<Event>();
        for (const S rest : {S::Idle, S::GivenUp}) {
            row(rest, E::Connect, S::Connecting, attempt);
            for (int i = 0; i < events.keyCount(); ++i)
                if (events.value(i) != static_cast<int>(E::Connect))
                    unchanged(rest, {static_cast<Event>(events.value(i))});
        }

        row(S::Connecting, E::Disconnect, S::Idle, hangUp);
        row(S::Connecting, E::Described, S::Connecting, start);
        row(S::Connecting, E::AudioStarted, S::Streaming, started);
        row(S::Connecting, E::CardFailed, S::Idle, cardFailed);
        row(S::Connecting, E::ControlLost, S::Reconnecting, lost);
        row(S::Connecting, E::ControlFailed, S::Idle, "StopTimers ReportRefused");
        row(S::Connecting, E::AnswerTimeout, S::Idle, "CloseChannel ReportRefused");
        unchanged(S::Connecting, {E::Connect, E::ReconnectTimeout, E::LowRate, E::DeviceFailed,
                                  E::DeviceReopened, E::DeviceReopenFailed, E::DeviceRetryTimeout});

        row(S::Reconnecting, E::Disconnect, S::Idle, hangUp);
        row(S::Reconnecting, E::Described, S::Reconnecting, start);
        row(S::Reconnecting, E::AudioStarted, S::Streaming, started);
        row(S::Reconnecting, E::CardFailed, S::Idle, cardFailed);
        row(S::Reconnecting, E::ControlLost, S::Reconnecting, failed);
        row(S::Reconnecting, E::ControlFailed, S::Reconnecting, failed);
        row(S::Reconnecting, E::AnswerTimeout, S::Reconnecting,
            "CloseChannel ScheduleReconnect:4000");
        row(S::Reconnecting, E::ReconnectTimeout, S::Reconnecting, attempt);
        unchanged(S::Reconnecting, {E::Connect, E::LowRate, E::DeviceFailed, E::DeviceReopened,
                                    E::DeviceReopenFailed, E::DeviceRetryTimeout});

        row(S::Streaming, E::Disconnect, S::Idle, hangUp);
        row(S::Streaming, E::Described, S::Streaming, start);
        row(S::Streaming, E::AudioStarted, S::Streaming, started);
        row(S::Streaming, E::CardFailed, S::Idle, cardFailed);
        row(S::Streaming, E::ControlLost, S::Reconnecting, lost);
        row(S::Streaming, E::ControlFailed, S::Reconnecting, lost);
        row(S::Streaming, E::LowRate, S::GivenUp, hangUp + " ReportLost");
        row(S::Streaming, E::DeviceFailed, S::DeviceLost,
            "StopCard ScheduleDeviceRetry:500 ReportDeviceUnavailable");
        unchanged(S::Streaming, {E::Connect, E::AnswerTimeout, E::ReconnectTimeout,
                                 E::DeviceReopened, E::DeviceReopenFailed, E::DeviceRetryTimeout});

        row(S::DeviceLost, E::Disconnect, S::Idle, hangUp);
        row(S::DeviceLost, E::Described, S::DeviceLost, start);
        row(S::DeviceLost, E::AudioStarted, S::Streaming, started);
        row(S::DeviceLost, E::CardFailed, S::Idle, cardFailed);
        row(S::DeviceLost, E::ControlLost, S::Reconnecting, lost);
        row(S::DeviceLost, E::ControlFailed, S::Reconnecting, lost);
        row(S::DeviceLost, E::DeviceReopened, S::Streaming, "");
        row(S::DeviceLost, E::DeviceReopenFailed, S::DeviceLost, "ScheduleDeviceRetry:2000");
        row(S::DeviceLost, E::DeviceRetryTimeout, S::DeviceLost, "ReopenDevices");
        unchanged(S::DeviceLost,
                  {E::Connect, E::AnswerTimeout, E::ReconnectTimeout, E::LowRate, E::DeviceFailed});

        QCOMPARE(rows.size(), QMetaEnum::fromType<State>().keyCount() * events.keyCount());
    }
    void transitions() {
        QFETCH(State, from);
        QFETCH(Event, event);
        const Transition t = transition({from, 2, 2}, event);
        QTEST(t.next.state, "to");
        QStringList steps;
        for (const Step& step : t.steps)
            steps << QMetaEnum::fromType<Action>().valueToKey(static_cast<int>(step.action)) +
                         (step.delayMs ? QString(":%1").arg(step.delayMs) : QString());
        QTEST(steps.join(' '), "steps");
    }

private:
    void row(State from, Event event, State to, const QString& steps) {
        const QString name = QString("%1 x %2").arg(
            QMetaEnum::fromType<State>().valueToKey(static_cast<int>(from)),
            QMetaEnum::fromType<Event>().valueToKey(static_cast<int>(event)));
        rows << name;
        QTest::newRow(qPrintable(name)) << from << event << to << steps;
    }
    void unchanged(State state, std::initializer_list<Event> events) {
        for (const Event event : events)
            row(state, event, state, "");
    }

    QSet<QString> rows;
};

QTEST_GUILESS_MAIN(LinkStateMachineTest)
#include "tst_linkstatemachine.moc"
