// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <array>
#include <cstdint>

// A card's cycle length, bounded by when it was looked at: each cycle came after the last look
// that had not seen it and no later than the first that had. Of the lengths, only those that put
// every cycle of a stretch within its bracket fit; their range narrows as the stretch grows, by a
// bracket's width over its span, whatever the looks' timing does to where in its bracket a cycle
// lies (a length taken from the cycles' estimated times would carry the estimate's own error).
// The tightest bracket of each second is kept, over the latest minute, in pieces between the
// server's stops (a stop shifts the cycles' times: lengths are bounded within a piece).
//
// Pure: no clock, no allocation; one thread.
class CycleBounds {
public:
    // Forgets every bracket.
    void reset();
    // The `cycle`th cycle came after `afterNs` and no later than `byNs`.
    void add(std::int64_t cycle, std::int64_t afterNs, std::int64_t byNs);
    // The cycles after this do not keep time with those before (the server stopped for a while).
    void breakPiece();

    // The middle of the lengths that fit (ns), and how far either side of it they reach; 0 and
    // -1 until the brackets span `leastNs`, or where none fits (a stop not seen as one).
    struct Length {
        double ns = 0.0;
        double within = -1.0;
    };
    Length length(double leastNs) const;

private:
    static constexpr int kBins = 64;
    static constexpr std::int64_t kBinNs = 1'000'000'000;
    struct Bracket {
        std::int64_t cycle = 0;
        std::int64_t afterNs = 0;
        std::int64_t byNs = 0;
        int piece = 0;
    };

    std::array<Bracket, kBins> bins{};
    int count = 0;
    int newest = -1;
    int piece = 0;
    bool broken = false;
};
