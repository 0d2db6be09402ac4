// SPDX-License-Identifier: GPL-3.0-or-later

#include "outagefinder.h"

#include <algorithm>
#include <cmath>

OutageFinder::OutageFinder()
    : OutageFinder(Config{}) {}

OutageFinder::OutageFinder(const Config& c)
    : config(c) {
    config.recurCount = std::clamp(config.recurCount, 1, static_cast<int>(stallTimes.size()));
}

void OutageFinder::reset() {
    const Config kept = config;
    *this = OutageFinder(kept);
}

OutageFinder::Verdict OutageFinder::datagram(std::int64_t arrivalNs, double lateNs, double periodNs,
                                             double heldNs, double usualNs) {
    const std::int64_t silentNs = arrivalNs - lastArrivalNs;
    const bool silence =
        started && silentNs > std::max(static_cast<double>(config.leastNs), heldNs);
    started = true;
    lastArrivalNs = arrivalNs;
    Verdict v;
    switch (state) {
    case State::Flowing:
        if (silence) {
            state = State::AfterSilence;
            silenceEndNs = arrivalNs;
            v.backlog = true;
            v.counted = false;
        }
        return v;
    case State::AfterSilence:
        if (arrivalNs - silenceEndNs < periodNs / 2) {
            state = State::Backlog;
            covering = stallsKeepComing(arrivalNs);
            ++(covering ? covered : ridden);
            v.backlog = true;
            v.counted = covering;
            return v;
        }
        // The stream carries on at its pace: it belongs where the line says it is now.
        state = State::Flowing;
        v.jump = std::max(0, static_cast<int>(std::floor(lateNs / periodNs + 0.25)));
        return v;
    case State::Backlog:
        if (lateNs < usualNs + periodNs) {
            state = State::Flowing;
            return v;
        }
        v.backlog = true;
        v.counted = covering;
        return v;
    }
    return v;
}

// A stall at `arrivalNs` joins the latest; they keep coming when as many as the config says lie
// within its span.
bool OutageFinder::stallsKeepComing(std::int64_t arrivalNs) {
    stallTimes[static_cast<std::size_t>(stallCount++ % static_cast<int>(stallTimes.size()))] =
        arrivalNs;
    const int n = std::min(stallCount, static_cast<int>(stallTimes.size()));
    const auto within = std::count_if(stallTimes.begin(), stallTimes.begin() + n,
                                      [&](auto t) { return arrivalNs - t < config.recurWithinNs; });
    return within >= config.recurCount;
}
