// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "playoutstats.h"

#include <cstdint>
#include <iterator>

// What the link was like in one second, as the window reads it: whether audio flows, the
// playout's figures and counts, and the speeds of the latest two-second window.
struct LinkReading {
    bool streaming = false;
    PlayoutStats playout;
    std::uint32_t rxKbit = 0;
    std::uint32_t txKbit = 0;
};

// The colour a figure is drawn in; the plot takes the shade of it that reads on the theme's
// window. Grey is the grid's.
enum class FigureHue { Blue, Orange, Purple, Green, Pink, Red, Grey };

// One figure the panel shows of its link, and each place it shows. A level has a value each second:
// a line in one of the link window's strips, named in its legend and in the summary's figures now,
// and a row of the report (its minimum, median and maximum over the seconds with audio). A count
// only grows: each second it grew is an event ("3 underruns") in the report, a mark in one of the
// plot's lanes, and part of the summary's total. Strips and lanes are named by their titles, in
// the order the table first names them. Any figure may have a phrase in the status line's tool
// tip and the link's log line.
struct LinkFigure {
    enum class Kind { Level, Count };
    using Read = double (*)(const LinkReading&);

    Kind kind = Kind::Level;
    // A level's value, or a count's total since the stream started.
    Read read = nullptr;
    // A level's names: in the plot's legend, in the summary's figures now, in the report; its
    // unit follows each.
    const char* legend = nullptr;
    const char* spoken = nullptr;
    const char* reported = nullptr;
    const char* unit = "";
    // A count's words after its number: "1 underrun", "3 underruns", "40 ms concealed".
    const char* one = nullptr;
    const char* many = nullptr;
    // Where the link window draws it: a level's strip, a count's lane (none: not in the window).
    const char* strip = nullptr;
    const char* lane = nullptr;
    FigureHue hue = FigureHue::Grey;
    // A level that goes either side of zero: its strip's scale is centred on zero.
    bool bothWays = false;
    // The tool tip's and the log line's phrase: "%1" is the value, "%2" what `tipAlso` reads.
    const char* tip = nullptr;
    Read tipAlso = nullptr;

    static constexpr LinkFigure level(const char* legend, const char* spoken, const char* reported,
                                      const char* unit, const char* strip, FigureHue hue,
                                      Read read) {
        LinkFigure f;
        f.read = read;
        f.legend = legend;
        f.spoken = spoken;
        f.reported = reported;
        f.unit = unit;
        f.strip = strip;
        f.hue = hue;
        return f;
    }
    static constexpr LinkFigure count(const char* one, const char* many, const char* lane,
                                      FigureHue hue, Read read) {
        LinkFigure f;
        f.kind = Kind::Count;
        f.read = read;
        f.one = one;
        f.many = many;
        f.lane = lane;
        f.hue = hue;
        return f;
    }
    // A figure that only the tool tip and the log line show.
    static constexpr LinkFigure toolTipOnly(const char* tip, Read read) {
        LinkFigure f;
        f.read = read;
        f.tip = tip;
        return f;
    }
    constexpr LinkFigure withTip(const char* phrase, Read also = nullptr) const {
        LinkFigure f = *this;
        f.tip = phrase;
        f.tipAlso = also;
        return f;
    }
    constexpr LinkFigure aboutZero() const {
        LinkFigure f = *this;
        f.bothWays = true;
        return f;
    }
};

// Every figure, in the order each view lists them. A new figure is a row here.
inline constexpr LinkFigure kLinkFigures[] = {
    // The cable's latency: the playout's delay and what the card adds after it.
    LinkFigure::level(
        "Latency", "latency", "Latency", "ms", "Latency and jitter", FigureHue::Blue,
        [](const LinkReading& r) { return r.playout.delayMs + r.playout.cardLatencyMs; }),
    LinkFigure::toolTipOnly("delay %1 ms", [](const LinkReading& r) { return r.playout.delayMs; }),
    LinkFigure::level("Jitter", "jitter", "Arrival jitter", "ms", "Latency and jitter",
                      FigureHue::Orange, [](const LinkReading& r) { return r.playout.jitterMs; }),
    LinkFigure::level("Skew", "clock skew", "Clock skew", "ppm", "Clock skew", FigureHue::Purple,
                      [](const LinkReading& r) { return r.playout.skewPpm; })
        .aboutZero()
        .withTip("skew %1 ppm"),
    LinkFigure::level("Received", "received", "Received", "KBit/s", "Speed", FigureHue::Green,
                      [](const LinkReading& r) { return double(r.rxKbit); }),
    LinkFigure::level("Sent", "sent", "Transmitted", "KBit/s", "Speed", FigureHue::Pink,
                      [](const LinkReading& r) { return double(r.txKbit); }),
    LinkFigure::count("underrun", "underruns", "Underruns", FigureHue::Red,
                      [](const LinkReading& r) { return double(r.playout.underruns); })
        .withTip("%1 underruns (%2 ms of silence)",
                 [](const LinkReading& r) { return double(r.playout.underrunMs()); }),
    LinkFigure::count("late datagram", "late datagrams", "Late", FigureHue::Orange,
                      [](const LinkReading& r) { return double(r.playout.lateDatagrams); })
        .withTip("%1 late and %2 lost datagrams",
                 [](const LinkReading& r) { return double(r.playout.lostDatagrams); }),
    LinkFigure::count("lost datagram", "lost datagrams", "Lost", FigureHue::Purple,
                      [](const LinkReading& r) { return double(r.playout.lostDatagrams); }),
    LinkFigure::count("ms concealed", "ms concealed", "Playout", FigureHue::Green,
                      [](const LinkReading& r) { return double(r.playout.concealedMs()); })
        .withTip("%1 ms concealed"),
    LinkFigure::count("ms time-scaled", "ms time-scaled", "Playout", FigureHue::Blue,
                      [](const LinkReading& r) { return double(r.playout.scaledMs()); })
        .withTip("%1 ms time-scaled"),
    LinkFigure::count("ms dropped", "ms dropped", "Playout", FigureHue::Red,
                      [](const LinkReading& r) { return double(r.playout.droppedMs()); })
        .withTip("%1 ms dropped"),
    LinkFigure::count("stall ridden out", "stalls ridden out", "Link", FigureHue::Red,
                      [](const LinkReading& r) { return double(r.playout.stalls); })
        .withTip("%1 stalls ridden out and %2 covered by raising the latency",
                 [](const LinkReading& r) { return double(r.playout.stallsCovered); }),
    LinkFigure::count("stall covered by raising the latency",
                      "stalls covered by raising the latency", "Link", FigureHue::Blue,
                      [](const LinkReading& r) { return double(r.playout.stallsCovered); }),
};
constexpr int kLinkFigureCount = int(std::size(kLinkFigures));
