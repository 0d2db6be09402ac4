// SPDX-License-Identifier: GPL-3.0-or-later

#include "linkhistory.h"

#include <QDateTime>

#include <algorithm>
#include <cstdlib>
#include <iterator>

namespace {

// How many more of a count there are than last time; a count that went down started again.
quint64 grown(quint64 now, quint64 last) {
    return now >= last ? now - last : now;
}

QString timeText(qint64 timeMs, int utcOffsetS) {
    return QDateTime::fromMSecsSinceEpoch(timeMs, Qt::OffsetFromUTC, utcOffsetS)
        .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
}

QString offsetText(int utcOffsetS) {
    const int minutes = std::abs(utcOffsetS) / 60;
    return QString("UTC%1%2:%3")
        .arg(utcOffsetS < 0 ? '-' : '+')
        .arg(minutes / 60, 2, 10, QChar('0'))
        .arg(minutes % 60, 2, 10, QChar('0'));
}

// How each change of the link reads, and where and in which colour it is marked.
struct ChangeLook {
    const char* text; // "%1" is the device
    const char* lane;
    FigureHue hue;
};
constexpr ChangeLook kChanges[] = {
    {"Streaming", "Link", FigureHue::Green},
    {"Reconnecting", "Link", FigureHue::Orange},
    {"Disconnected", "Link", FigureHue::Grey},
    {"Sound device \"%1\" unavailable", "Devices", FigureHue::Red},
    {"Sound devices working again", "Devices", FigureHue::Green},
};
constexpr int kChangeCount = int(std::size(kChanges));

// The lanes' titles, and each count's and each change's lane among them.
struct Lanes {
    QStringList titles;
    std::array<int, kLinkFigureCount> ofFigure{};
    std::array<int, kChangeCount> ofChange{};
};

const Lanes& lanes() {
    static const Lanes all = [] {
        Lanes l;
        const auto laneOf = [&l](const char* title) {
            if (!l.titles.contains(title))
                l.titles << title;
            return int(l.titles.indexOf(title));
        };
        for (int f = 0; f < kLinkFigureCount; ++f) {
            if (kLinkFigures[f].kind == LinkFigure::Kind::Count && kLinkFigures[f].lane)
                l.ofFigure[f] = laneOf(kLinkFigures[f].lane);
        }
        for (int c = 0; c < kChangeCount; ++c)
            l.ofChange[c] = laneOf(kChanges[c].lane);
        return l;
    }();
    return all;
}

} // namespace

LinkHistory::LinkHistory()
    : ring(kCapacity) {}

void LinkHistory::record(qint64 timeMs, const LinkReading& reading) {
    LinkSample& s = ring[(first + count) % kCapacity];
    s.timeMs = timeMs;
    s.streaming = reading.streaming;
    for (int f = 0; f < kLinkFigureCount; ++f)
        s.values[f] = kLinkFigures[f].read(reading);
    if (count < kCapacity)
        ++count;
    else
        first = (first + 1) % kCapacity;

    for (int f = 0; f < kLinkFigureCount; ++f) {
        if (kLinkFigures[f].kind != LinkFigure::Kind::Count || !kLinkFigures[f].lane)
            continue;
        const quint64 n = grown(quint64(s.values[f]), quint64(lastValues[f]));
        if (n > 0)
            eventList.push_back({timeMs, f, {}, n, {}});
    }
    lastValues = s.values;
    dropOlderThan(timeMs - kSpanMs);
}

void LinkHistory::mark(qint64 timeMs, LinkChange change, const QString& device) {
    eventList.push_back({timeMs, -1, change, 1, device});
    dropOlderThan(timeMs - kSpanMs);
}

const LinkSample& LinkHistory::sample(int index) const {
    return ring[(first + index) % kCapacity];
}

void LinkHistory::dropOlderThan(qint64 timeMs) {
    while (count > 0 && ring[first].timeMs <= timeMs) {
        first = (first + 1) % kCapacity;
        --count;
    }
    while (!eventList.empty() &&
           (eventList.front().timeMs <= timeMs || int(eventList.size()) > kMaxEvents))
        eventList.pop_front();
}

FigureSummary summarize(const LinkHistory& history, int figure) {
    std::vector<double> values;
    values.reserve(history.size());
    for (int i = 0; i < history.size(); ++i) {
        if (history.sample(i).streaming)
            values.push_back(history.sample(i).values[figure]);
    }
    if (values.empty())
        return {};
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    const double median = values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2.0;
    return {int(values.size()), values.front(), median, values.back()};
}

QString countText(quint64 count, const char* one, const char* many) {
    return QString("%1 %2").arg(count).arg(count == 1 ? one : many);
}

QString eventText(const LinkEvent& e) {
    if (e.figure >= 0)
        return countText(e.count, kLinkFigures[e.figure].one, kLinkFigures[e.figure].many);
    const QString text = kChanges[int(e.change)].text;
    return e.change == LinkChange::DeviceUnavailable ? text.arg(e.device) : text;
}

const QStringList& eventLanes() {
    return lanes().titles;
}

int eventLane(const LinkEvent& e) {
    return e.figure >= 0 ? lanes().ofFigure[e.figure] : lanes().ofChange[int(e.change)];
}

FigureHue eventHue(const LinkEvent& e) {
    return e.figure >= 0 ? kLinkFigures[e.figure].hue : kChanges[int(e.change)].hue;
}

QString linkReportText(const LinkReportHeader& header, const LinkHistory& history) {
    QStringList lines{header.panel, "Host: " + header.host,
                      "Devices: " + header.devices.join(", ")};
    if (history.size() == 0) {
        lines << "Nothing recorded yet.";
        return lines.join('\n') + '\n';
    }
    const qint64 from = history.sample(0).timeMs;
    const qint64 to = history.sample(history.size() - 1).timeMs;
    // Every figure's summary counts the same seconds with audio.
    const FigureSummary withAudio = summarize(history, 0);
    lines << QString("From %1 to %2 (%3), %4 s with audio of %5 s recorded")
                 .arg(timeText(from, header.utcOffsetS), timeText(to, header.utcOffsetS),
                      offsetText(header.utcOffsetS))
                 .arg(withAudio.seconds)
                 .arg(history.size());
    lines << "" << QString("%1 %2 %3 %4").arg("", -21).arg("min", 8).arg("median", 8).arg("max", 8);
    for (int f = 0; f < kLinkFigureCount; ++f) {
        if (!kLinkFigures[f].reported)
            continue;
        const FigureSummary s = summarize(history, f);
        const auto column = [&s](double value) {
            return s.seconds > 0 ? QString::number(value, 'f', 1) : QStringLiteral("-");
        };
        lines << QString("%1 %2 %3 %4")
                     .arg(QString("%1 (%2)").arg(kLinkFigures[f].reported, kLinkFigures[f].unit),
                          -21)
                     .arg(column(s.min), 8)
                     .arg(column(s.median), 8)
                     .arg(column(s.max), 8);
    }
    lines << "";
    if (history.events().empty())
        lines << "Events: none";
    else
        lines << "Events:";
    for (const LinkEvent& e : history.events())
        lines << timeText(e.timeMs, header.utcOffsetS) + "  " + eventText(e);
    return lines.join('\n') + '\n';
}
