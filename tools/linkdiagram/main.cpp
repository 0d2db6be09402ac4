// SPDX-License-Identifier: GPL-3.0-or-later

// Prints the connection's state machine as a Graphviz graph, taken from the transition function
// itself: an edge for every state and event that changes the state or does something, the events
// that lead from one state to the same next one on one edge. Events that change nothing are left
// out. Re-render the picture with the command in docs/architecture.md.
#include "linkstatemachine.h"

#include <QMap>
#include <QMetaEnum>
#include <QStringList>
#include <QTextStream>

using namespace LinkStateMachine;

namespace {

template <typename Enum>
QString nameOf(Enum value) {
    return QMetaEnum::fromType<Enum>().valueToKey(static_cast<int>(value));
}

template <typename Enum>
QList<Enum> allOf() {
    const QMetaEnum meta = QMetaEnum::fromType<Enum>();
    QList<Enum> values;
    for (int i = 0; i < meta.keyCount(); ++i)
        values << static_cast<Enum>(meta.value(i));
    return values;
}

} // namespace

int main() {
    QMap<QPair<State, State>, QStringList> edges;
    for (const State from : allOf<State>())
        for (const Event event : allOf<Event>()) {
            const Transition t = transition({from}, event);
            if (t.next.state != from || !t.steps.empty())
                edges[{from, t.next.state}] << nameOf(event);
        }
    QTextStream out(stdout);
    out << "digraph LinkStateMachine {\n"
        << "    node [shape=box, style=rounded, fontname=\"sans-serif\"];\n"
        << "    edge [fontname=\"sans-serif\", fontsize=10];\n";
    for (auto edge = edges.cbegin(); edge != edges.cend(); ++edge)
        out << "    " << nameOf(edge.key().first) << " -> " << nameOf(edge.key().second)
            << " [label=\"" << edge.value().join("\\n") << "\"];\n";
    out << "}\n";
    return 0;
}
