# SPDX-License-Identifier: GPL-3.0-or-later
"""Gaps at the cable laid beside the audio server's own log and the machine's own stalls: which
silent runs of the cable's tone the server explains by an xrun of its own, or the machine by a
stall of its own (the recorder's watcher woke 2 ms late or more at real-time priority: the machine
stopped as a whole), and which neither explains (the panel's). Used by bench/speaker-switch and
bench/busy-machine.

  cable_gaps.py RECORDING SERVER_LOG OFFSET_NS [--events FILE] [--label TEXT]

RECORDING is bench/cable_recorder's output; SERVER_LOG the server's log as scripts/audio-server
writes it (each line stamped with the system's clock, seconds since the epoch); OFFSET_NS the
system's clock minus the monotonic clock, both in ns, read once beside the run; --events a file of
"NS WHAT" lines (monotonic ns) of what the script did (a speaker switched, a burst of load), each
gap is named after the latest one before it.
"""
import argparse
import os
import re
import sys

sys.path.insert(0, os.path.dirname(__file__))
from playout_analysis import (CABLE_RATE, NS, SERVER_PERIOD_NS, first_sound_frame,  # noqa: E402
                               frame_clock, machine_stalls, parse_recording, unrecorded_s)

# JACK's dummy backend: a cycle that woke a period or more late (the figure is the time since that
# cycle began, not the time lost); PipeWire: a cycle one of the server's own nodes (a cable's
# ends, its driver) had not finished when the next began (not a client's late node, which may be
# the panel's, nor one at position 0, a node left driving itself when a client's stream stopped);
# JACK's engine: a client that had not finished its cycle.
JACK_LATE = re.compile(r"^(\d+\.\d+) JackTimedDriver::Process XRun")
JACK_CLIENT = re.compile(r"^(\d+\.\d+) JackEngine::XRun: client = (.*) was not finished")
PIPEWIRE_XRUN = re.compile(
    r"^(\d+\.\d+) .*\((umx_\w+|Dummy-Driver)-\d+\) client too slow! \S+ pos:[1-9]")
# A server's xrun explains a gap that starts within this time of the line: the line is written
# when the late cycle has run, and the stamp is taken when the script reads it.
EXPLAINS_WITHIN_NS = 500_000_000
# A machine's stall explains a gap that starts within this time of the watcher's late wake (both
# on the monotonic clock): the panel's worker catches up on its next look, a few ms on.
MACHINE_EXPLAINS_WITHIN_NS = 250_000_000


def server_xruns(lines, offset_ns):
    """When the server ran a cycle late itself: monotonic ns."""
    return [int(float(m[1]) * NS) - offset_ns
            for m in (JACK_LATE.match(line) or PIPEWIRE_XRUN.match(line) for line in lines) if m]


def late_clients(lines):
    """How often the server found each client's cycle unfinished: a client's lateness, not the
    server's (the panel's clients are called umx.P.PID.N and umx.C.PID.N)."""
    counts = {}
    for line in lines:
        if m := JACK_CLIENT.match(line):
            counts[m[2]] = counts.get(m[2], 0) + 1
    return counts


def cable_gaps(recording):
    """Silent runs after the first sound and before the end: (monotonic ns of the start, ms)."""
    frame_ns = frame_clock(recording.callbacks, recording.reopened)
    first = first_sound_frame(recording)
    return [(frame_ns(start), (end - start) * 1000 / CABLE_RATE)
            for start, end in recording.silences if start >= first and end < recording.frames]


def cause(gap_ns, xruns, machine):
    """What explains a gap: "server xrun", "machine stall", or None (the panel's)."""
    if any(abs(gap_ns - at) <= EXPLAINS_WITHIN_NS for at in xruns):
        return "server xrun"
    if any(abs(gap_ns - at) <= MACHINE_EXPLAINS_WITHIN_NS for at, _ in machine):
        return "machine stall"
    return None


def covered_share(moments, within_ns, start, end):
    """The share of [start, end] that lies within within_ns of one of the moments: how likely a
    gap at a moment picked at random is to be laid beside one by chance."""
    covered, reach = 0, start
    for at in sorted(moments):
        lo, hi = max(at - within_ns, reach), min(at + within_ns, end)
        covered += max(0, hi - lo)
        reach = max(reach, hi)
    return covered / (end - start) if end > start else 0.0


def machine_text(recording):
    """The machine's stalls while the cable recorded, in words: how many, the latest, and how much
    of the recording lies close enough to one to be explained by it."""
    stalls = machine_stalls(recording)
    if stalls is None:
        return "the machine's stalls unwatched (no real-time priority)"
    count, latest = stalls
    start, end = recording.callbacks[0][0], recording.callbacks[-1][0]
    share = covered_share([at for at, _ in recording.machine], MACHINE_EXPLAINS_WITHIN_NS,
                          start, end)
    return (f"the machine stalled {count} times (the latest {latest:.1f} ms; "
            f"{100 * share:.0f} % of the time lies near one)")


def reopened_text(recording):
    """The capture's own stops, in words: a gap there is not seen."""
    if not recording.reopened:
        return ""
    return (f"; the capture stuck {len(recording.reopened)} times and was opened again "
            f"({unrecorded_s(recording):.1f} s unrecorded)")


def callback_stalls(recording, least_ms=20.0):
    """The recorder's own view of the server: the pauses between its callbacks longer than
    least_ms beyond a block's time and a server period (the blocks of a period come together),
    (ns, ms)."""
    stalls = []
    previous = None
    for ns, frames in recording.callbacks:
        if previous:
            due = (frames - previous[1]) * NS / CABLE_RATE
            late_ms = (ns - previous[0] - due - SERVER_PERIOD_NS) / 1e6
            if late_ms > least_ms:
                stalls.append((ns, late_ms))
        previous = (ns, frames)
    return stalls


def latest_event(ns, events):
    before = [(at, what) for at, what in events if at <= ns]
    return max(before, default=(None, ""))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("recording")
    parser.add_argument("server_log")
    parser.add_argument("offset_ns", type=int)
    parser.add_argument("--events")
    parser.add_argument("--label", default="")
    a = parser.parse_args()
    with open(a.recording) as f:
        recording = parse_recording(f)
    with open(a.server_log, errors="replace") as f:
        lines = f.readlines()
    xruns = server_xruns(lines, a.offset_ns)
    events = []
    if a.events:
        with open(a.events) as f:
            events = [(int(ns), what.strip()) for ns, what in (line.split(" ", 1) for line in f)]
    gaps = cable_gaps(recording)
    start = recording.callbacks[0][0] if recording.callbacks else 0
    end = recording.callbacks[-1][0] if recording.callbacks else 0
    within = [at for at in xruns if start <= at <= end]
    causes = [cause(ns, within, recording.machine) for ns, _ in gaps]
    unexplained = [ms for (_, ms), why in zip(gaps, causes) if why is None]
    print(f"{a.label}: {(end - start) / NS:.0f} s recorded; "
          f"{len(gaps)} gaps at the cable ({sum(ms for _, ms in gaps):.1f} ms), "
          f"{causes.count('server xrun')} beside the server's own xruns, "
          f"{causes.count('machine stall')} beside the machine's stalls; "
          f"the server logged {len(within)} xruns, {machine_text(recording)}"
          f"; {len(unexplained)} gaps neither explains"
          + (f" (longest {max(unexplained):.1f} ms)" if unexplained else "")
          + reopened_text(recording))
    if clients := late_clients(lines):
        print(f"{a.label}: clients the server found unfinished: "
              + ", ".join(f"{name} {n}" for name, n in sorted(clients.items())))
    stalls = callback_stalls(recording)
    print(f"{a.label}: the recorder's callbacks paused {len(stalls)} times past 20 ms"
          + (f" (longest {max(ms for _, ms in stalls):.1f} ms)" if stalls else ""))
    for (ns, ms), why in zip(gaps, causes):
        at, what = latest_event(ns, events)
        after = f", {(ns - at) / 1e6:.0f} ms after {what}" if at is not None else ""
        print(f"  gap {ms:.1f} ms at {(ns - start) / NS:.2f} s ({why or 'not explained'}{after})")
    return 1 if unexplained else 0


if __name__ == "__main__":
    sys.exit(main())
