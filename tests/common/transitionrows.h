// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QMetaEnum>
#include <QtTest>

#include <optional>

// An enum value's name, for a Q_ENUM_NS enum.
template <typename Enum>
const char* nameOf(Enum value) {
    return QMetaEnum::fromType<Enum>().valueToKey(static_cast<int>(value));
}

// The rows of a pure transition function's table test, (state, event) -> (state, actions): each
// row is named "State x Event" and holds the state, the event, the state it leads to and the
// actions as one text. Every pair not given a row of its own (rest()) leaves the state as it is,
// doing nothing.
template <typename State, typename Event>
class TransitionRows {
public:
    // A row for each state and event given, all leading to `to`, or staying.
    void operator()(const QList<State>& from, const QList<Event>& events, std::optional<State> to,
                    const QString& actions) {
        for (const State state : from)
            for (const Event event : events) {
                names << QString("%1 x %2").arg(nameOf(state), nameOf(event));
                QTest::newRow(qPrintable(names.last()))
                    << state << event << to.value_or(state) << actions;
            }
    }
    void rest() {
        const QMetaEnum states = QMetaEnum::fromType<State>(),
                        events = QMetaEnum::fromType<Event>();
        for (int i = 0; i < states.keyCount(); ++i)
            for (int j = 0; j < events.keyCount(); ++j)
                if (!names.contains(QString("%1 x %2").arg(states.key(i), events.key(j))))
                    (*this)({State(states.value(i))}, {Event(events.value(j))}, std::nullopt, "");
    }

private:
    QStringList names;
};
