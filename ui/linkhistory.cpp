// SPDX-License-Identifier: GPL-3.0-or-later

#include "linkhistory.h"

#include <QDateTime>

#include <algorithm>
#include <cstdlib>

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

QString plural(quint64 count, const char* one, const char* many) {
    return QString("%1 %2").arg(count).arg(count == 1 ? one : many);
}

} // namespace

LinkHistory::LinkHistory()
    : ring(kCapacity) {}

void LinkHistory::record(qint64 timeMs, const LinkReading& reading) {
    const PlayoutStats& p = reading.playout;
    LinkSample& s = ring[(first + count) % kCapacity];
    s = {timeMs,    reading.streaming,      p.delayMs + p.cardLatencyMs, p.jitterMs,
         p.skewPpm, double(reading.rxKbit), double(reading.txKbit)};
    if (count < kCapacity)
        ++count;
    else
        first = (first + 1) % kCapacity;

    const std::pair<LinkEventKind, quint64> counts[] = {
        {LinkEventKind::Underruns, grown(p.underruns, lastCounts.underruns)},
        {LinkEventKind::LateDatagrams, grown(p.lateDatagrams, lastCounts.lateDatagrams)},
        {LinkEventKind::LostDatagrams, grown(p.lostDatagrams, lastCounts.lostDatagrams)},
    };
    for (const auto& [kind, n] : counts) {
        if (n > 0)
            eventList.push_back({timeMs, kind, n, {}});
    }
    lastCounts = p;
    dropOlderThan(timeMs - kSpanMs);
}

void LinkHistory::mark(qint64 timeMs, LinkEventKind kind, const QString& device) {
    eventList.push_back({timeMs, kind, 1, device});
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

double figureValue(const LinkSample& s, LinkFigure figure) {
    switch (figure) {
    case LinkFigure::Latency:
        return s.latencyMs;
    case LinkFigure::Jitter:
        return s.jitterMs;
    case LinkFigure::Skew:
        return s.skewPpm;
    case LinkFigure::Received:
        return s.rxKbit;
    case LinkFigure::Transmitted:
        return s.txKbit;
    }
    return 0.0;
}

QString figureTitle(LinkFigure figure) {
    switch (figure) {
    case LinkFigure::Latency:
        return QStringLiteral("Latency (ms)");
    case LinkFigure::Jitter:
        return QStringLiteral("Arrival jitter (ms)");
    case LinkFigure::Skew:
        return QStringLiteral("Clock skew (ppm)");
    case LinkFigure::Received:
        return QStringLiteral("Received (KBit/s)");
    case LinkFigure::Transmitted:
        return QStringLiteral("Transmitted (KBit/s)");
    }
    return {};
}

FigureSummary summarize(const LinkHistory& history, LinkFigure figure) {
    std::vector<double> values;
    values.reserve(history.size());
    for (int i = 0; i < history.size(); ++i) {
        if (history.sample(i).streaming)
            values.push_back(figureValue(history.sample(i), figure));
    }
    if (values.empty())
        return {};
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    const double median = values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2.0;
    return {int(values.size()), values.front(), median, values.back()};
}

QString eventText(const LinkEvent& e) {
    switch (e.kind) {
    case LinkEventKind::Underruns:
        return plural(e.count, "underrun", "underruns");
    case LinkEventKind::LateDatagrams:
        return plural(e.count, "late datagram", "late datagrams");
    case LinkEventKind::LostDatagrams:
        return plural(e.count, "lost datagram", "lost datagrams");
    case LinkEventKind::Streaming:
        return QStringLiteral("Streaming");
    case LinkEventKind::Reconnecting:
        return QStringLiteral("Reconnecting");
    case LinkEventKind::Disconnected:
        return QStringLiteral("Disconnected");
    case LinkEventKind::DeviceUnavailable:
        return QString("Sound device \"%1\" unavailable").arg(e.device);
    case LinkEventKind::DevicesBack:
        return QStringLiteral("Sound devices working again");
    }
    return {};
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
    const FigureSummary withAudio = summarize(history, LinkFigure::Latency);
    lines << QString("From %1 to %2 (%3), %4 s with audio of %5 s recorded")
                 .arg(timeText(from, header.utcOffsetS), timeText(to, header.utcOffsetS),
                      offsetText(header.utcOffsetS))
                 .arg(withAudio.seconds)
                 .arg(history.size());
    lines << "" << QString("%1 %2 %3 %4").arg("", -21).arg("min", 8).arg("median", 8).arg("max", 8);
    for (int f = 0; f < kLinkFigureCount; ++f) {
        const FigureSummary s = summarize(history, LinkFigure(f));
        const auto column = [&s](double value) {
            return s.seconds > 0 ? QString::number(value, 'f', 1) : QStringLiteral("-");
        };
        lines << QString("%1 %2 %3 %4")
                     .arg(figureTitle(LinkFigure(f)), -21)
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
