// SPDX-License-Identifier: GPL-3.0-or-later

#include "looklead.h"

#include <algorithm>

namespace {
constexpr std::int64_t kLeastNs = 1'000'000;
constexpr std::int64_t kSpanNs = 20'000'000'000;
} // namespace

void LookLead::reset() {
    *this = LookLead();
}

void LookLead::ask(std::int64_t atNs) {
    askedNs = atNs;
}

void LookLead::looked(std::int64_t nowNs) {
    if (spanStartNs < 0 || nowNs - spanStartNs >= kSpanNs) {
        worstBeforeNs = spanStartNs >= 0 && nowNs - spanStartNs < 2 * kSpanNs ? worstNs : 0;
        worstNs = 0;
        spanStartNs = nowNs;
    }
    if (askedNs >= 0)
        worstNs = std::max(worstNs, nowNs - askedNs);
    askedNs = -1;
}

std::int64_t LookLead::leadNs(std::int64_t periodNs) const {
    return kLeastNs + std::min(std::max(worstNs, worstBeforeNs), periodNs / 3);
}
