#include "statusline.h"

namespace {
constexpr qint16 kLowRateKbit = 199;
} // namespace

quint32 kbitPerSecond(quint32 bytesPerWindow) {
    return (bytesPerWindow * 4u) / 1024u;
}

QString statusLineText(quint32 rxBytes, quint32 txBytes, float inputLatency) {
    return QString("Speed: %1/%2 KBit|Latency: %3 s")
        .arg(kbitPerSecond(rxBytes))
        .arg(kbitPerSecond(txBytes))
        .arg(QString::number(static_cast<double>(inputLatency), 'g', 6));
}

bool isLowReceiveRate(quint32 rxBytes) {
    return static_cast<qint16>(kbitPerSecond(rxBytes)) <= kLowRateKbit;
}

QString reconnectNoticeText(int delayMs) {
    return QString("Reconnecting in %1s...").arg(delayMs / 1000);
}
