#pragma once

#include <QString>
#include <QtGlobal>

// The byte counters cover one 2-second window, so bytes * 4 / 1024 is kilobits per second
// (1024 bits to the kilobit), in 32-bit unsigned arithmetic.
quint32 kbitPerSecond(quint32 bytesPerWindow);

// "Speed: <rx>/<tx> KBit|Latency: <seconds> s"
QString statusLineText(quint32 rxBytes, quint32 txBytes, float inputLatency);

// A receive rate that, read as a signed 16-bit number, is 199 KBit/s or less.
bool isLowReceiveRate(quint32 rxBytes);

// "Reconnecting in <whole seconds>s..."
QString reconnectNoticeText(int delayMs);
