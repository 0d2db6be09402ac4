// SPDX-License-Identifier: GPL-3.0-or-later

#include "statusline.h"

#include "linkrules.h"

#include <cmath>

QString statusLineText(quint32 rxBytes, quint32 txBytes, float inputLatency) {
    return QString("Speed: %1/%2 KBit|Latency: %3 s")
        .arg(kbitPerSecond(rxBytes))
        .arg(kbitPerSecond(txBytes))
        .arg(QString::number(std::fabs(static_cast<double>(inputLatency)), 'f', 3));
}

QString playoutToolTipText(const PlayoutStats& s) {
    return QString("Playout delay: %1 ms\nClock skew: %2 ppm\nUnderruns: %3 (%4 ms of silence)\n"
                   "Dropped audio: %5 ms\nLate datagrams: %6\nLost datagrams: %7")
        .arg(qRound(s.delayMs))
        .arg(qRound(s.skewPpm))
        .arg(s.underruns)
        .arg(s.underrunMs())
        .arg(s.droppedMs())
        .arg(s.lateDatagrams)
        .arg(s.lostDatagrams);
}

QString reconnectNoticeText(int delayMs) {
    return QString("Reconnecting in %1s...").arg(delayMs / 1000);
}

QString soundDeviceNoticeText(const QString& device) {
    return QString("Sound device \"%1\" unavailable, retrying").arg(device);
}
