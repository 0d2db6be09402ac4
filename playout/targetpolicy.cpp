// SPDX-License-Identifier: GPL-3.0-or-later

#include "targetpolicy.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kNsPerSecond = 1e9;
// A moment long before any stream, for what has not happened yet.
constexpr std::int64_t kLongAgoNs = std::numeric_limits<std::int64_t>::min() / 2;

} // namespace

TargetPolicy::TargetPolicy()
    : TargetPolicy(Config{}) {}

TargetPolicy::TargetPolicy(const Config& config)
    : config(config) {
    reset(rate, 0);
}

void TargetPolicy::reset(int hostRate, int floorFrames) {
    rate = hostRate;
    nsPerFrame = kNsPerSecond / hostRate;
    floor = floorFrames;
    started = false;
    target = 0.0;
    episodeStartNs = kLongAgoNs;
    inEpisode = episodeOutlasted = false;
    episodePeakNs = recurringNs = 0.0;
}

void TargetPolicy::lossPlaced() {
    lastGrowthNs = kLongAgoNs;
}

void TargetPolicy::update(std::int64_t arrivalNs, double latenessNs, int frames, double usualNs,
                          std::int64_t lastLossNs) {
    if (!started) {
        started = true;
        lastGrowthNs = lastArrivalNs = arrivalNs;
    }
    const double framesPerNs = rate / kNsPerSecond;
    auto bounded = [&](double fill) {
        return std::clamp(std::max(fill, static_cast<double>(floor)), static_cast<double>(frames),
                          std::max(rate * config.maxSeconds, static_cast<double>(frames)));
    };
    // While losses are being found, a datagram more: the audio after a loss not yet placed plays
    // that much early, and the fill must still cover the jitter meanwhile.
    const double lossMargin = arrivalNs - lastLossNs < config.lossMarginNs ? 1.0 * frames : 0.0;
    const double steady = bounded(frames + lossMargin +
                                  (usualNs + config.headroomNs + config.marginNs) * framesPerNs);
    // A datagram later than the target covers has played short (or not) by the time it is seen:
    // covering it guards the ones after it. So the target covers lateness that recurs: up to the
    // smaller of this episode's and the last one's, where that began within the hold, or all of it
    // once the episode outlasts the queue its first datagram explains (that one's lateness and a
    // datagram). A lone outlier, a sender or a reader kept from its core a few milliseconds a
    // minute apart, would hold its lateness in the latency for the hold and guard nothing.
    auto covering = [&](double ns) {
        return bounded(frames + (ns + config.marginNs) * framesPerNs);
    };
    const bool beyond = covering(latenessNs) > std::max(steady, target);
    if (beyond && !inEpisode) {
        recurringNs = arrivalNs - episodeStartNs < config.shrinkHoldNs ? episodePeakNs : 0.0;
        episodeStartNs = arrivalNs;
        episodeQueueNs = latenessNs + frames * nsPerFrame;
        episodePeakNs = latenessNs;
        episodeOutlasted = false;
    } else if (beyond) {
        episodePeakNs = std::max(episodePeakNs, latenessNs);
        episodeOutlasted = episodeOutlasted || arrivalNs - episodeStartNs > episodeQueueNs;
    }
    inEpisode = beyond;
    const double coveredNs = episodeOutlasted ? latenessNs : std::min(latenessNs, recurringNs);
    const double wanted = beyond ? std::max(steady, covering(coveredNs)) : steady;
    if (wanted > target) {
        target = wanted;
        lastGrowthNs = arrivalNs;
    } else if (arrivalNs - lastGrowthNs >= config.shrinkHoldNs) {
        // Time that runs back (a clock stepped, a reordered look) shrinks nothing.
        const double elapsedNs =
            static_cast<double>(std::max<std::int64_t>(arrivalNs - lastArrivalNs, 0));
        const double step = config.shrinkPerSecond * rate * elapsedNs / kNsPerSecond;
        target = std::max(wanted, target - step);
    }
    lastArrivalNs = arrivalNs;
}
