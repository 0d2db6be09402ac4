// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "playoutstats.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

// Why the text in the rig field cannot reach a rig, or an empty string when it can. The audio
// channel sends to an address literal, so the field needs "IPv4:port" (or "[IPv6]:port").
QString rigAddressProblem(const QString& text);

// The byte counters cover one 2-second window, so bytes * 4 / 1024 is kilobits per second
// (1024 bits to the kilobit), in 32-bit unsigned arithmetic.
quint32 kbitPerSecond(quint32 bytesPerWindow);

// A receive rate that, read as a signed 16-bit number, is 199 KBit/s or less.
bool isLowReceiveRate(quint32 rxBytes);

// The phrases of the figures that the table of figures (linkfigures.h) gives a tool tip: "delay
// 23 ms", "skew 12 ppm", "0 underruns (0 ms of silence)", ... The log line and the status line's
// tool tip show the same phrases.
QStringList playoutFigures(const PlayoutStats& stats);
