// SPDX-License-Identifier: GPL-3.0-or-later

#include "framedoubling.h"

#include <cstring>

namespace {
constexpr int kUnitBytes = 4;
} // namespace

QByteArray doubleFrames(const QByteArray& datagram) {
    const int n = datagram.size();
    const int units = (n + kUnitBytes - 1) / kUnitBytes;
    QByteArray out(units * 2 * kUnitBytes, Qt::Uninitialized);
    const char* in = datagram.constData();
    char* dst = out.data();
    const int wholeUnits = n / kUnitBytes;
    for (int k = 0; k < wholeUnits; ++k) {
        std::memcpy(dst + 8 * k, in + kUnitBytes * k, kUnitBytes);
        std::memcpy(dst + 8 * k + kUnitBytes, in + kUnitBytes * k, kUnitBytes);
    }
    if (wholeUnits < units) {
        char last[kUnitBytes] = {0, 0, 0, 0};
        std::memcpy(last, in + kUnitBytes * wholeUnits, static_cast<size_t>(n % kUnitBytes));
        std::memcpy(dst + 8 * wholeUnits, last, kUnitBytes);
        std::memcpy(dst + 8 * wholeUnits + kUnitBytes, last, kUnitBytes);
    }
    return out;
}
