# SPDX-License-Identifier: GPL-3.0-or-later
"""The figures of bench/busy-machine: the cable's gaps (the server's own xruns counted apart), the
capture's longest pause in datagrams to the host in calm and under load, and the cable's latency
before the first burst and after the last.

  busy_machine.py RECORDING SIMULATOR_LOG SERVER_LOG ARRIVALS EVENTS OFFSET_NS

Times: the recorder, the simulator and the events in monotonic ns; the server's log and the
arrivals in the system's clock, OFFSET_NS (system minus monotonic) ahead.
"""
import os
import statistics
import sys

sys.path.insert(0, os.path.dirname(__file__))
from cable_gaps import (cable_gaps, cause, late_clients, machine_text, reopened_text,  # noqa: E402
                        server_xruns)
from playout_analysis import (NS, frame_clock, pair_marks, parse_recording,  # noqa: E402
                              parse_simulator_log, trusted_onsets)

# A datagram of the simulator's: 512 frames at 48000 Hz.
DATAGRAM_MS = 512 * 1000 / 48000
# The capture's pauses may grow by this much under load.
CAPTURE_PAUSE_ALLOWANCE_MS = 50


def spans(events):
    """(start, end, loaded) stretches between the events."""
    out = []
    for (at, what), (end, _) in zip(events, events[1:] + [(None, "")]):
        out.append((at, end, what.startswith("burst")))
    return out


def longest_pause_ms(arrivals, start, end):
    inside = [t for t in arrivals if start <= t and (end is None or t <= end)]
    return max(((b - a) / 1e6 for a, b in zip(inside, inside[1:])), default=0.0)


def main():
    recording_path, simulator_path, server_path, arrivals_path, events_path = sys.argv[1:6]
    offset = int(sys.argv[6])
    with open(recording_path) as f:
        recording = parse_recording(f)
    with open(simulator_path) as f:
        simulator = parse_simulator_log(f)
    with open(server_path, errors="replace") as f:
        lines = f.readlines()
    xruns = server_xruns(lines, offset)
    with open(arrivals_path) as f:
        arrivals = [int(line.split()[1]) - offset for line in f if line.startswith("arrival ")]
    with open(events_path) as f:
        events = [(int(ns), what.strip()) for ns, what in (line.split(" ", 1) for line in f)]
    stretches = spans(events)
    first_burst = next(at for at, _, loaded in stretches if loaded)
    last_calm = stretches[-1][0]

    start, end = recording.callbacks[0][0], recording.callbacks[-1][0]
    within = [at for at in xruns if start <= at <= end]
    gaps = cable_gaps(recording)
    causes = [cause(ns, within, recording.machine) for ns, _ in gaps]
    own = [(ns, ms) for (ns, ms), why in zip(gaps, causes) if why is None]
    long_own = [ms for _, ms in own if ms > DATAGRAM_MS]
    in_bursts = [ms for ns, ms in gaps if any(loaded and a <= ns <= (b or end) for a, b, loaded in stretches)]
    print(f"gaps at the cable: {len(gaps)} ({sum(ms for _, ms in gaps):.1f} ms), "
          f"{len(in_bursts)} of them in the bursts; the server logged {len(within)} xruns of "
          f"its own, {machine_text(recording)}; {causes.count('server xrun')} gaps beside the "
          f"server's xruns, {causes.count('machine stall')} beside the machine's stalls; "
          f"{len(own)} neither explains, "
          f"{len(long_own)} of them longer than a datagram ({DATAGRAM_MS:.1f} ms)"
          + (f": longest {max(long_own):.1f} ms" if long_own else "") + reopened_text(recording))
    if clients := late_clients(lines):
        print("clients the server found unfinished: "
              + ", ".join(f"{name} {n}" for name, n in sorted(clients.items())))
    for (ns, ms), why in zip(gaps, causes):
        print(f"  gap {ms:.1f} ms at {(ns - start) / NS:.2f} s ({why or 'not explained'})")

    calm = max(longest_pause_ms(arrivals, a, b) for a, b, loaded in stretches if not loaded)
    loaded = max(longest_pause_ms(arrivals, a, b) for a, b, loaded in stretches if loaded)
    print(f"capture to the host: {len(arrivals)} datagrams; longest pause {calm:.1f} ms calm, "
          f"{loaded:.1f} ms in the bursts ({loaded - calm:+.1f} ms; allowed +{CAPTURE_PAUSE_ALLOWANCE_MS})")

    frame_ns = frame_clock(recording.callbacks, recording.reopened)
    series = pair_marks([frame_ns(f) for f in trusted_onsets(recording)], simulator.marks)
    before = [lat / 1e6 for t, lat in series if t < first_burst]
    after = [lat / 1e6 for t, lat in series if t >= last_calm]
    if before and after:
        print(f"latency: {statistics.median(before):.1f} ms before the bursts "
              f"({len(before)} marks), {statistics.median(after):.1f} ms after the last "
              f"({len(after)} marks), {statistics.median(after) - statistics.median(before):+.1f} ms")
    failed = long_own or loaded - calm > CAPTURE_PAUSE_ALLOWANCE_MS
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
