// SPDX-License-Identifier: GPL-3.0-or-later

#include "jitterestimator.h"

#include <algorithm>
#include <cmath>

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
    unsure = false;
    schedule.reset(hostRate, kBlockNs, position);
    losses.reset();
    outages.reset();
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
    const int pending = losses.takeMove();
    moveOn(pending, frames);
    unsure = false;
    const double periodNs = frames * nsPerFrame;
    const OutageFinder::Verdict outage =
        outages.datagram(arrivalNs, schedule.lateNs(schedule.pointFor(next + frames, arrivalNs)),
                         periodNs, policy.frames() * nsPerFrame, window.usualNs());
    jumpOn(outage.jump, frames);
    if (outage.backlog) {
        losses.forgetRuns();
    } else if (schedule.settled()) {
        const double lateNs = schedule.lateNs(schedule.pointFor(next + frames, arrivalNs));
        const int step = losses.datagram(arrivalNs, lateNs, periodNs, window);
        moveOn(step, frames);
        unsure = pending == 0 && step == 0 && !losses.sure(lateNs, periodNs);
    } else {
        // A run of late datagrams begun before the phase was let go says nothing once it holds.
        // Until the line can count losses, only the audio can show one: any datagram may follow
        // one, and a loss the audio shows is counted before the line first counts.
        losses.forgetRuns();
        unsure = pending == 0;
    }
    const ScheduleFit::Point p = schedule.pointFor(next + frames, arrivalNs);
    schedule.add(p, losses.moved(), frames);
    const double lateness = std::max(schedule.lateNs(p), 0.0);
    if (outage.counted) {
        window.count(lateness, losses.sure(lateness, periodNs));
        policy.update(arrivalNs, lateness, frames, window.usualNs(), losses.lastLossNs());
    }

    // A stall's backlog leaves the target where it was; it still holds at least this datagram.
    lastPlaced = {next, schedule.dueNs(p), std::max(policy.frames(), frames)};
    next += frames;
    if (arrivalNs - blockStartNs >= kBlockNs)
        closeBlock(arrivalNs);
    return lastPlaced;
}

JitterEstimator::Placement JitterEstimator::lossBefore(std::int64_t arrivalNs, int frames) {
    if (!unsure)
        return lastPlaced;
    unsure = false;
    moveOn(1, frames);
    losses.lossShown(arrivalNs);
    lastPlaced.position += frames;
    lastPlaced.dueNs += std::llround(frames * nsPerFrame);
    return lastPlaced;
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

// The stream resumed after a pause of the host, or after the link lost what it held: it moves on
// at once to where the datagrams now come.
void JitterEstimator::jumpOn(int datagrams, int frames) {
    if (datagrams == 0)
        return;
    next += static_cast<std::int64_t>(datagrams) * frames;
    losses.jumped(datagrams);
}

void JitterEstimator::closeBlock(std::int64_t arrivalNs) {
    blockStartNs = arrivalNs;
    const bool wasSettled = schedule.settled();
    schedule.closeBlock();
    if (schedule.settled()) {
        if (!wasSettled)
            discountUnplacedLosses();
        losses.blocksClosed(schedule.blocks(), arrivalNs);
    }
    window.closeBlock();
}

// Until the schedule could count losses, the datagrams after one seemed a period later for it:
// before the lock, against a line kept under the lowest of the last few blocks, by the losses since
// that block; locked, by every loss not yet placed. Once the schedule counts them, the window takes
// that back, block by block. Else it would cover losses for 10 s, the target with it, and no
// datagram would seem later than the window's latest, which is how a loss is found at once.
void JitterEstimator::discountUnplacedLosses() {
    const std::vector<ScheduleFit::Block>& blocks = schedule.blocks();
    const int inWindow = std::min<int>(static_cast<int>(blocks.size()), window.blocks());
    const std::size_t anchors = ScheduleFit::Config{}.anchorBlocks;
    for (int back = 0; back < inWindow; ++back) {
        const std::size_t i = blocks.size() - 1 - std::size_t(back);
        std::int64_t seemed = blocks[i].movedAt;
        if (back > schedule.lockedFor()) {
            seemed = blocks[i].lostBefore;
            for (std::size_t a = i > anchors ? i - anchors : 0; a < i; ++a)
                seemed = std::min(seemed, blocks[a].lostBefore);
        }
        // A loss within the block: those after it seemed later by as many as the next block shows.
        const std::int64_t lost =
            std::max(blocks[i].lostBefore, back > 0 ? blocks[i + 1].lostBefore : 0);
        const std::int64_t unplaced = lost - seemed;
        if (unplaced > 0)
            window.lossesFound(back, double(unplaced) * blocks[i].frames * nsPerFrame);
    }
}
