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

QString playoutToolTipText(const PlayoutStats& stats) {
    return "Playout:\n" + playoutFigures(stats).join('\n');
}

QString reconnectNoticeText(int delayMs) {
    return QString("Reconnecting in %1s...").arg(delayMs / 1000);
}

QString soundDeviceNoticeText(const QString& device) {
    return QString("Sound device \"%1\" unavailable, retrying").arg(device);
}
