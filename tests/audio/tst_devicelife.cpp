// SPDX-License-Identifier: GPL-3.0-or-later

// A sound device's life: every state against every event, with the state it leads to (and whether
// that counts as missing) and the actions in their order.
#include "devicelife.h"
#include "transitionrows.h"

using namespace DeviceLife;
using S = State;
using E = Event;

class DeviceLifeTest : public QObject {
    Q_OBJECT

private slots:
    void transitions_data() {
        QTest::addColumn<State>("from");
        QTest::addColumn<Event>("event");
        QTest::addColumn<State>("to");
        QTest::addColumn<QString>("actions");

        // The start opens the cable and the capture itself, or finds one not listed.
        rows({S::Closed}, {E::Opened}, S::Open, "Attach");
        rows({S::Closed}, {E::NotOpened}, S::Missing, "SayMissing");
        rows({S::Closed}, {E::SpeakerOn}, S::Opening, "Feed Open");
        rows({S::Missing}, {E::Search}, S::Searching, "Feed Open");
        rows({S::Opening, S::Searching}, {E::Opened}, S::Open, "Attach SayFound");
        // A search that fails leaves the device missing, to be looked for again.
        rows({S::Opening, S::Searching}, {E::NotOpened}, S::Missing, "SayNotOpened");
        rows({S::Open, S::Missing}, {E::SpeakerOff}, S::Closing, "Detach Close");
        rows({S::Open}, {E::StoppedWorking}, S::Failing, "SayStopped Detach Close");
        rows({S::Closing}, {E::Closed}, S::Closed, "SaySpeakerOff");
        rows({S::Failing}, {E::Closed}, S::Missing, "");

        // Every other event leaves the device where it is, doing nothing: a switch, a search or a
        // fault while an opening or closing is under way is followed once it has ended.
        rows.rest();
    }
    void transitions() {
        QFETCH(State, from);
        QFETCH(Event, event);
        const Transition t = transition(from, event);
        QTEST(t.next, "to");
        // Missing until it plays again, also while it is looked for or closed after a fault.
        QCOMPARE(lost(t.next), (QList{S::Missing, S::Searching, S::Failing}.contains(t.next)));
        QStringList actions;
        for (const Action action : t.actions)
            actions << nameOf(action);
        QTEST(actions.join(' '), "actions");
    }

private:
    TransitionRows<State, Event> rows;
};

QTEST_GUILESS_MAIN(DeviceLifeTest)
#include "tst_devicelife.moc"
