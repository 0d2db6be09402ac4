// SPDX-License-Identifier: GPL-3.0-or-later

#include "jitterestimator.h"

#include <algorithm>

namespace {

// Arrivals are grouped in blocks of half a second: the schedule's points, the losses and the
// lateness window move on block by block.
constexpr std::int64_t kBlockNs = 500'000'000;
// The stream until reset() says what it is.
constexpr int kDefaultRate = 48000;

} // namespace

JitterEstimator::JitterEstimator() {
    reset(kDefaultRate, 0);
}

void JitterEstimator::reset(int hostRate, int floorFrames, std::int64_t position) {
    nsPerFrame = 1e9 / hostRate;
    next = position;
    started = false;
    schedule.reset(hostRate, kBlockNs, position);
    losses.reset();
    window.reset();
    policy.reset(hostRate, floorFrames);
}

JitterEstimator::Placement JitterEstimator::arrival(std::int64_t arrivalNs, int frames) {
    if (frames <= 0)
        return {next, arrivalNs, policy.frames()};
    if (!started) {
        started = true;
        schedule.start(arrivalNs);
        blockStartNs = arrivalNs;
    }
    // One datagram's move at a time, so that each loss leaves a gap of its own.
    moveOn(losses.takeMove(), frames);
    const double periodNs = frames * nsPerFrame;
    if (schedule.settled()) {
        const double lateNs = schedule.lateNs(schedule.pointFor(next + frames, arrivalNs));
        moveOn(losses.datagram(arrivalNs, lateNs, periodNs, window), frames);
    } else {
        // A run of late datagrams begun before the phase was let go says nothing once it holds.
        losses.forgetRuns();
    }
    const ScheduleFit::Point p = schedule.pointFor(next + frames, arrivalNs);
    schedule.add(p, losses.moved(), frames);
    const double lateness = std::max(schedule.lateNs(p), 0.0);
    window.count(lateness, losses.sure(lateness, periodNs));
    policy.update(arrivalNs, lateness, frames, window.usualNs(), losses.lastLossNs());

    const Placement placed{next, schedule.dueNs(p), policy.frames()};
    next += frames;
    if (arrivalNs - blockStartNs >= kBlockNs)
        closeBlock(arrivalNs);
    return placed;
}

// The stream moves on (or back) by a datagram; moving on, for a loss, the datagrams that may
// have followed it were a period less late than they seemed, and the target may give back what
// their lateness grew.
void JitterEstimator::moveOn(int step, int frames) {
    next += step * static_cast<std::int64_t>(frames);
    if (step > 0) {
        window.lossPlaced(frames * nsPerFrame);
        policy.lossPlaced();
    }
}

void JitterEstimator::closeBlock(std::int64_t arrivalNs) {
    blockStartNs = arrivalNs;
    schedule.closeBlock();
    if (schedule.settled())
        losses.blocksClosed(schedule.blocks(), arrivalNs);
    window.closeBlock();
}
