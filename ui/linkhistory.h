// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "playoutstats.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <deque>
#include <vector>

// What the link was like in one second.
struct LinkSample {
    qint64 timeMs = 0; // wall clock, milliseconds since the epoch
    // The figures below mean something only while audio flows.
    bool streaming = false;
    double latencyMs = 0.0; // the cable's: the playout's delay plus the card's own
    double jitterMs = 0.0;
    double skewPpm = 0.0;
    double rxKbit = 0.0;
    double txKbit = 0.0;
};

// What the window reads each second: whether audio flows, the playout's figures and counts, and
// the speeds of the latest two-second window.
struct LinkReading {
    bool streaming = false;
    PlayoutStats playout;
    quint32 rxKbit = 0;
    quint32 txKbit = 0;
};

enum class LinkEventKind {
    Underruns,
    LateDatagrams,
    LostDatagrams,
    Streaming,    // the host described its stream and audio started
    Reconnecting, // the control connection was lost and is being made again
    Disconnected, // the operator disconnected, or the link was given up
    DeviceUnavailable,
    DevicesBack, // the sound devices work again
};

// Something that happened, at the second it was seen: a fault count with how many there were in
// that second, or a change of the link with the device it concerns.
struct LinkEvent {
    qint64 timeMs = 0;
    LinkEventKind kind = LinkEventKind::Streaming;
    quint64 count = 1;
    QString device;
};

// The last 30 minutes of the link, one sample a second, and what happened meanwhile. Its memory is
// bounded at any uptime: a fixed ring of samples, and events no older than the oldest sample.
class LinkHistory {
public:
    static constexpr qint64 kSpanMs = 30 * 60 * 1000;
    static constexpr int kCapacity = 1800;
    // Counts come at most three a second; changes of the link are rarer by far.
    static constexpr int kMaxEvents = 4 * kCapacity;

    LinkHistory();

    // One second's reading: a sample, and an event for each fault count that grew since the last.
    // A count below the last one is a new stream's, counted from zero.
    void record(qint64 timeMs, const LinkReading& reading);
    // A change of the link (not a count), at the latest sample's time or later.
    void mark(qint64 timeMs, LinkEventKind kind, const QString& device = {});

    int size() const { return count; }
    // Oldest first.
    const LinkSample& sample(int index) const;
    const std::deque<LinkEvent>& events() const { return eventList; }

private:
    void dropOlderThan(qint64 timeMs);

    std::vector<LinkSample> ring;
    int first = 0;
    int count = 0;
    std::deque<LinkEvent> eventList;
    PlayoutStats lastCounts;
};

enum class LinkFigure { Latency, Jitter, Skew, Received, Transmitted };
constexpr int kLinkFigureCount = 5;

double figureValue(const LinkSample& sample, LinkFigure figure);
// "Latency (ms)", "Received (KBit/s)", ...
QString figureTitle(LinkFigure figure);

// A figure over the seconds with audio in the history; all zero when there were none.
struct FigureSummary {
    int seconds = 0;
    double min = 0.0;
    double median = 0.0;
    double max = 0.0;
};
FigureSummary summarize(const LinkHistory& history, LinkFigure figure);

// "3 underruns", "Reconnecting", "Sound device "X" unavailable", ...
QString eventText(const LinkEvent& event);

// What the report says about the panel and the rig besides the history.
struct LinkReportHeader {
    QString panel; // the window's title, with the version
    QString host;  // the rig's address and the host's description of its stream
    QStringList devices;
    int utcOffsetS = 0; // the times are written in the operator's local time
};

// The plain-text report for a forum or a mail: the header, each figure's minimum, median and
// maximum over the history, and every event with its time.
QString linkReportText(const LinkReportHeader& header, const LinkHistory& history);
