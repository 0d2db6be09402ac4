// SPDX-License-Identifier: GPL-3.0-or-later

#include "faultschedule.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr qint64 kNsPerMs = 1000000;
constexpr qint64 kNsPerSecond = 1000000000;
// Loss is decided in millionths, so fractions of a per cent are honoured.
constexpr quint64 kLossScale = 1000000;
constexpr qint64 kMaxTailNs = kNsPerSecond;

} // namespace

FaultSchedule::FaultSchedule(const NetworkFaults& faults_)
    : faults(faults_)
    , random(faults_.seed) {}

qint64 FaultSchedule::delayFor(quint64 draw) const {
    if (faults.tailMeanMs <= 0)
        return static_cast<qint64>(draw % static_cast<quint64>(faults.jitterMs * kNsPerMs + 1));
    // The draw's top 53 bits as a uniform number in [0, 1).
    const double uniform = std::ldexp(static_cast<double>(draw >> 11), -53);
    const double delayNs = -faults.tailMeanMs * kNsPerMs * std::log1p(-uniform);
    return static_cast<qint64>(std::min(delayNs, static_cast<double>(kMaxTailNs)));
}

qint64 FaultSchedule::stallStart(qint64 dueNs) const {
    if (faults.stallEveryS <= 0)
        return -1;
    const qint64 everyNs = faults.stallEveryS * kNsPerSecond;
    const qint64 fromNs = dueNs / everyNs * everyNs;
    return fromNs > 0 && dueNs - fromNs < faults.stallForMs * kNsPerMs ? fromNs : -1;
}

FaultSchedule::Decision FaultSchedule::next(qint64 dueNs) {
    // Both draws are made for every datagram, so the loss pattern of a seed does not depend on
    // the jitter and the other way round.
    const quint64 lossDraw = random() % kLossScale;
    const quint64 jitterDraw = random();
    Decision decision;
    decision.dropped =
        static_cast<double>(lossDraw) < faults.lossPercent * static_cast<double>(kLossScale) / 100;
    const bool jittering =
        (faults.jitterMs > 0 || faults.tailMeanMs > 0) &&
        (faults.jitterForS < 0 || dueNs < static_cast<qint64>(faults.jitterForS) * kNsPerSecond);
    const qint64 delayNs = jittering ? delayFor(jitterDraw) : 0;
    decision.stallFromNs = stallStart(dueNs);
    // What falls due in a stall leaves when it ends, all of it at once.
    const qint64 heldUntilNs =
        decision.stallFromNs < 0 ? 0 : decision.stallFromNs + faults.stallForMs * kNsPerMs;
    decision.sendNs = std::max({dueNs + delayNs, lastSendNs, heldUntilNs});
    if (!decision.dropped)
        lastSendNs = decision.sendNs;
    return decision;
}
