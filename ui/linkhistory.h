// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "linkfigures.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <array>
#include <deque>
#include <vector>

// What the link was like in one second: each figure's value, by its row in the table of figures
// (a count's, its total), meaningful only while audio flows.
struct LinkSample {
    qint64 timeMs = 0; // wall clock, milliseconds since the epoch
    bool streaming = false;
    std::array<double, kLinkFigureCount> values{};
};

// A change of the link, marked when it begins.
enum class LinkChange {
    Streaming,    // the host described its stream and audio started
    Reconnecting, // the control connection was lost and is being made again
    Disconnected, // the operator disconnected, or the link was given up
    DeviceUnavailable,
    DevicesBack, // the sound devices work again
};

// Something that happened, at the second it was seen: a count that grew, with how much it grew in
// that second, or a change of the link with the device it concerns.
struct LinkEvent {
    qint64 timeMs = 0;
    int figure = -1; // the count's row in the table of figures; -1 for a change
    LinkChange change = LinkChange::Streaming;
    quint64 count = 1;
    QString device;
};

// The last 30 minutes of the link, one sample a second, and what happened meanwhile. Its memory is
// bounded at any uptime: a fixed ring of samples, and events no older than the oldest sample.
class LinkHistory {
public:
    static constexpr qint64 kSpanMs = 30 * 60 * 1000;
    static constexpr int kCapacity = 1800;
    // Faults come in bursts and changes of the link rarely: four events a second, over the half
    // hour, bound the memory; beyond that the oldest leave first.
    static constexpr int kMaxEvents = 4 * kCapacity;

    LinkHistory();

    // One second's reading: a sample, and an event for each count the window shows that grew
    // since the last. A count below the last one is a new stream's, counted from zero.
    void record(qint64 timeMs, const LinkReading& reading);
    // A change of the link (not a count), at the latest sample's time or later.
    void mark(qint64 timeMs, LinkChange change, const QString& device = {});

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
    std::array<double, kLinkFigureCount> lastValues{};
};

// A level over the seconds with audio in the history; all zero when there were none.
struct FigureSummary {
    int seconds = 0;
    double min = 0.0;
    double median = 0.0;
    double max = 0.0;
};
FigureSummary summarize(const LinkHistory& history, int figure);

// "1 underrun", "3 underruns"
QString countText(quint64 count, const char* one, const char* many);
// "3 underruns", "Reconnecting", "Sound device "X" unavailable", ...
QString eventText(const LinkEvent& event);
// The titles of the plot's lanes, in order: the counts' lanes, then the changes'.
const QStringList& eventLanes();
// The event's lane among eventLanes(), and its colour.
int eventLane(const LinkEvent& event);
FigureHue eventHue(const LinkEvent& event);

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
