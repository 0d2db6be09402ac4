// SPDX-License-Identifier: GPL-3.0-or-later

#include "faultschedule.h"

#include <algorithm>

namespace {

constexpr qint64 kNsPerMs = 1000000;
constexpr qint64 kNsPerSecond = 1000000000;
// Loss is decided in millionths, so fractions of a per cent are honoured.
constexpr quint64 kLossScale = 1000000;

} // namespace

FaultSchedule::FaultSchedule(const NetworkFaults& faults_)
    : faults(faults_)
    , random(faults_.seed) {}

FaultSchedule::Decision FaultSchedule::next(qint64 dueNs) {
    // Both draws are made for every datagram, so the loss pattern of a seed does not depend on
    // the jitter and the other way round.
    const quint64 lossDraw = random() % kLossScale;
    const quint64 jitterDraw = random();
    Decision decision;
    decision.dropped =
        static_cast<double>(lossDraw) < faults.lossPercent * static_cast<double>(kLossScale) / 100;
    const bool jittering =
        faults.jitterMs > 0 &&
        (faults.jitterForS < 0 || dueNs < static_cast<qint64>(faults.jitterForS) * kNsPerSecond);
    const qint64 delayNs =
        jittering
            ? static_cast<qint64>(jitterDraw % static_cast<quint64>(faults.jitterMs * kNsPerMs + 1))
            : 0;
    decision.sendNs = std::max(dueNs + delayNs, lastSendNs);
    if (!decision.dropped)
        lastSendNs = decision.sendNs;
    return decision;
}
