// SPDX-License-Identifier: GPL-3.0-or-later

#include "rxmeter.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

constexpr double kFullScale = 32768.0;

double toDbfs(double amplitude) {
    if (amplitude <= 0.0)
        return -std::numeric_limits<double>::infinity();
    return 20.0 * std::log10(amplitude / kFullScale);
}

} // namespace

void RxMeter::add(const QByteArray& datagram) {
    ++datagramCount;
    largest = std::max(largest, static_cast<int>(datagram.size()));
    const int count = datagram.size() / 2;
    for (int i = 0; i < count; ++i) {
        const int sample = qFromLittleEndian<qint16>(datagram.constData() + 2 * i);
        sumSquares += static_cast<double>(sample) * sample;
        peak = std::max(peak, std::abs(sample));
    }
    sampleCount += count;
}

double RxMeter::rmsDbfs() const {
    if (sampleCount == 0)
        return toDbfs(0.0);
    return toDbfs(std::sqrt(sumSquares / static_cast<double>(sampleCount)));
}

double RxMeter::peakDbfs() const {
    return toDbfs(peak);
}

void RxMeter::reset() {
    *this = RxMeter();
}
