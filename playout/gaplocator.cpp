// SPDX-License-Identifier: GPL-3.0-or-later

#include "gaplocator.h"

#include <algorithm>

GapLocator::GapLocator()
    : GapLocator(Config{}) {}

GapLocator::GapLocator(const Config& config)
    : config(config) {}

void GapLocator::reset(std::int64_t position) {
    sureEnd = position;
    count = 0;
}

void GapLocator::datagram(std::int64_t position, int frames, double latePeriods) {
    if (latePeriods < config.sureFraction) {
        reset(position + frames);
        return;
    }
    if (count == kKept) {
        sureEnd = unsure[0].position + unsure[0].frames;
        std::move(unsure.begin() + 1, unsure.end(), unsure.begin());
        --count;
    }
    unsure[static_cast<std::size_t>(count++)] = {position, frames, latePeriods};
}

// The datagrams from the gap on follow it; renumbered, those now less late than the sure share
// surely came before any further loss.
std::int64_t GapLocator::placeLossAt(std::int64_t gapAt, int frames) {
    sureEnd = std::max(sureEnd, gapAt);
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        Unsure u = unsure[static_cast<std::size_t>(i)];
        if (u.position < gapAt)
            continue;
        u.position += frames;
        u.latePeriods -= 1.0;
        if (u.latePeriods < config.sureFraction) {
            sureEnd = u.position + u.frames;
            kept = 0;
        } else {
            unsure[static_cast<std::size_t>(kept++)] = u;
        }
    }
    count = kept;
    return gapAt;
}
