// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>

// How long before each of the card's cycles the worker looks at the card: a millisecond, and as
// much more as its looks have lately come after the time they asked for. A busy machine wakes even
// a real-time thread late now and then (on a virtual machine by several milliseconds), and a look
// that comes after the cycle finds it already played short of audio that was late itself: the
// cycle plays silence where the look would have filled it in. The lateness kept is the worst of
// the last 20 to 40 s, and the lead at most a third of the card's period, so that the looks
// before and after each cycle stay apart.
//
// Pure: no clock, no I/O, no allocation; one thread.
class LookLead {
public:
    // No look asked for, no lateness seen.
    void reset();
    // The next look is asked for at `atNs` (steady clock), in place of any asked before.
    void ask(std::int64_t atNs);
    // A look came at `nowNs`: late by whatever it came after the one asked for.
    void looked(std::int64_t nowNs);

    // The lead before a cycle of `periodNs`.
    std::int64_t leadNs(std::int64_t periodNs) const;

private:
    std::int64_t askedNs = -1;
    // The worst lateness in the current 20-s span, since `spanStartNs`, and in the one before.
    std::int64_t spanStartNs = -1;
    std::int64_t worstNs = 0;
    std::int64_t worstBeforeNs = 0;
};
