// SPDX-License-Identifier: GPL-3.0-or-later

#include "cyclebounds.h"

#include <algorithm>
#include <limits>

void CycleBounds::reset() {
    *this = CycleBounds();
}

void CycleBounds::add(std::int64_t cycle, std::int64_t afterNs, std::int64_t byNs) {
    if (broken) {
        ++piece;
        broken = false;
    }
    const Bracket b{cycle, afterNs, byNs, piece};
    Bracket& latest = bins[static_cast<std::size_t>(std::max(newest, 0))];
    const bool sameBin =
        count > 0 && latest.piece == piece && byNs / kBinNs == latest.byNs / kBinNs;
    if (sameBin) {
        if (byNs - afterNs < latest.byNs - latest.afterNs)
            latest = b;
        return;
    }
    newest = (newest + 1) % kBins;
    bins[static_cast<std::size_t>(newest)] = b;
    count = std::min(count + 1, kBins);
}

void CycleBounds::breakPiece() {
    broken = true;
}

CycleBounds::Length CycleBounds::length(double leastNs) const {
    double low = 0.0, high = std::numeric_limits<double>::infinity();
    double spanNs = 0.0;
    for (int i = 0; i < count; ++i) {
        const Bracket& a = bins[static_cast<std::size_t>(i)];
        for (int j = 0; j < count; ++j) {
            const Bracket& b = bins[static_cast<std::size_t>(j)];
            if (a.piece != b.piece || b.cycle <= a.cycle)
                continue;
            const double n = static_cast<double>(b.cycle - a.cycle);
            low = std::max(low, static_cast<double>(b.afterNs - a.byNs) / n);
            high = std::min(high, static_cast<double>(b.byNs - a.afterNs) / n);
            spanNs = std::max(spanNs, static_cast<double>(b.byNs - a.afterNs));
        }
    }
    if (spanNs < leastNs || low > high)
        return {};
    return {(low + high) / 2.0, (high - low) / 2.0};
}
