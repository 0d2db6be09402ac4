# SPDX-License-Identifier: GPL-3.0-or-later
"""What bench/playout measures at the cable, from the cable recorder's output (callback times,
silent runs, mark onsets) and the rig simulator's log (when each mark was produced, which datagrams
were dropped): the latency of every mark over time, its settled value and drift, the gaps, and the
recovery after a burst of jitter. Pure functions over parsed text, so they can be checked alone.

Times are CLOCK_MONOTONIC nanoseconds, shared by the simulator and the recorder.
"""
import bisect
import re
import statistics
from dataclasses import dataclass, field

CABLE_RATE = 96000
NS = 1_000_000_000
# A capture callback runs some time after its block entered the cable, never before; the earliest
# (callback time - frames so far / rate) within this window of a frame maps it to time.
FIT_WINDOW_FRAMES = CABLE_RATE
# Successive marks are a second apart; a latency step larger than half of that cannot be told from
# a mark paired with its neighbour.
MAX_LATENCY_STEP_NS = NS // 2
# The cable hands its audio over a server period at a time (JACK's default 2048 frames at 96000
# Hz): a frame is there for the software reading the cable at the end of its period at the latest.
SERVER_PERIOD_NS = 2048 * NS // CABLE_RATE
# A mark whose onset comes this soon after a gap may have lost its start: its time is not trusted.
GAP_SHADOW_FRAMES = CABLE_RATE // 50


@dataclass
class Recording:
    callbacks: list = field(default_factory=list)  # (ns, frames after the callback's block)
    silences: list = field(default_factory=list)  # (from frame, to frame)
    onsets: list = field(default_factory=list)  # frames
    frames: int = 0


@dataclass
class SimulatorLog:
    marks: dict = field(default_factory=dict)  # mark index -> ns produced
    dropped: list = field(default_factory=list)  # datagram indices


def parse_recording(lines):
    r = Recording()
    for line in lines:
        word, *values = line.split()
        if word == "cb":
            r.callbacks.append((int(values[0]), int(values[1])))
        elif word == "silence":
            r.silences.append((int(values[0]), int(values[1])))
        elif word == "onset":
            r.onsets.append(int(values[0]))
        elif word == "frames":
            r.frames = int(values[0])
    return r


MARK_LINE = re.compile(r"^mark (\d+) at (\d+) ns$")
LOSS_LINE = re.compile(r"^loss: datagram (\d+) dropped$")


def parse_simulator_log(lines):
    log = SimulatorLog()
    for line in lines:
        if m := MARK_LINE.match(line.strip()):
            log.marks[int(m[1])] = int(m[2])
        elif m := LOSS_LINE.match(line.strip()):
            log.dropped.append(int(m[1]))
    return log


def frame_clock(callbacks):
    """A function giving when a captured frame entered the cable, from the callbacks around it."""
    after = [f for _, f in callbacks]
    offsets = [ns - f * NS // CABLE_RATE for ns, f in callbacks]

    def frame_ns(frame):
        lo = bisect.bisect_left(after, frame - FIT_WINDOW_FRAMES)
        hi = bisect.bisect_right(after, frame + FIT_WINDOW_FRAMES)
        return min(offsets[lo:hi] or offsets) + frame * NS // CABLE_RATE + SERVER_PERIOD_NS

    return frame_ns


def trusted_onsets(recording):
    """Mark onsets not just after (or inside) a gap."""
    kept = []
    for onset in recording.onsets:
        shadowed = any(start <= onset < end + GAP_SHADOW_FRAMES for start, end in recording.silences)
        if not shadowed:
            kept.append(onset)
    return kept


def pair_marks(arrivals_ns, marks):
    """Latency series [(mark's ns, latency ns)]: each arrival is paired with the mark that keeps
    the latency closest to the one before (the first with the nearest mark: the path starts with
    well under half a second), so slow drift of any size is followed and a lost mark is only
    missing."""
    produced = sorted(marks.values())
    series = []
    previous = 0
    for arrival in arrivals_ns:
        if not produced:
            break
        best = min(produced, key=lambda m: abs(arrival - m - previous))
        if series and abs(arrival - best - previous) > MAX_LATENCY_STEP_NS:
            continue
        previous = arrival - best
        series.append((best, previous))
    return series


def latency_summary(series, settle_s=15.0):
    """Median, settled value (median from settle_s after the first mark on), the largest deviation
    from it from then on, and the slope from then on (least squares), all in ms (slope in ms/min)."""
    if not series:
        return None
    t0 = series[0][0]
    ms = [lat / 1e6 for _, lat in series]
    late = [((t - t0) / NS, lat / 1e6) for t, lat in series if (t - t0) / NS >= settle_s]
    summary = {"median": statistics.median(ms), "marks": len(series)}
    from30 = sorted(lat for t, lat in ((((t - t0) / NS), lat / 1e6) for t, lat in series) if t >= 30)
    if len(from30) >= 20:
        summary["spread"] = from30[int(0.95 * (len(from30) - 1))] - from30[int(0.05 * (len(from30) - 1))]
    if len(late) >= 2:
        settled = statistics.median(lat for _, lat in late)
        mean_t = statistics.fmean(t for t, _ in late)
        mean_l = statistics.fmean(lat for _, lat in late)
        var_t = sum((t - mean_t) ** 2 for t, _ in late)
        slope = sum((t - mean_t) * (lat - mean_l) for t, lat in late) / var_t if var_t else 0.0
        summary.update(settled=settled, max_dev=max(abs(lat - settled) for _, lat in late),
                       slope_per_min=60 * slope)
    return summary


def gap_lengths(recording, frame_ns, from_ns):
    """The lengths in ms of the silent runs on the left channel after from_ns, ended before the
    end of the recording."""
    return [(end - start) * 1000 / CABLE_RATE for start, end in recording.silences
            if end < recording.frames and frame_ns(start) >= from_ns]


def gaps(recording, frame_ns, from_ns):
    """Silent runs after from_ns (the first sound): (count, missing ms, 10 ms blocks they cover,
    the longest in ms)."""
    lengths = gap_lengths(recording, frame_ns, from_ns)
    return (len(lengths), sum(lengths), sum(-(-int(ms) // 10) for ms in lengths),
            max(lengths, default=0.0))


def first_sound_frame(recording):
    """The first frame after the silence the recording starts with."""
    for start, end in recording.silences:
        if start == 0:
            return end
    return 0


def recovery_s(series, calm_from_ns, reference_ns, tolerance_ns=10_000_000):
    """Seconds from calm_from_ns until the latency comes, and stays, within tolerance of the
    reference; None when it never does."""
    after = [(t, lat) for t, lat in series if t >= calm_from_ns]
    if not after:
        return None
    recovered_at = None
    for t, lat in after:
        if abs(lat - reference_ns) > tolerance_ns:
            recovered_at = None
        elif recovered_at is None:
            recovered_at = t
    return None if recovered_at is None else (recovered_at - calm_from_ns) / NS


def dropped_within(log, from_ns, to_ns, sample_rate=48000, frame_size=512):
    """Datagrams the simulator dropped that were due between the two times."""
    if 0 not in log.marks:
        return len(log.dropped)
    start = log.marks[0]
    return sum(1 for k in log.dropped
               if from_ns <= start + k * frame_size * NS // sample_rate <= to_ns)


def card_ppm(callbacks, segment_ns=10 * NS):
    """The cable's clock against the system's, in ppm: the median over 10-s stretches of the
    least-squares slope of the frames it has handed over against the callbacks' times (late
    callbacks scatter both ways around it). A test server that loses cycles in a step moves one
    stretch, not the whole run's rate."""
    if len(callbacks) < 2:
        return None
    start = callbacks[0][0]
    stretches = {}
    for ns, frames in callbacks:
        stretches.setdefault((ns - start) // segment_ns, []).append((ns, frames))
    rates = [rate for rate in map(_slope_ppm, stretches.values()) if rate is not None]
    return statistics.median(rates) if rates else _slope_ppm(callbacks)


def _slope_ppm(callbacks):
    if len(callbacks) < 2:
        return None
    mean_t = statistics.fmean(ns for ns, _ in callbacks)
    mean_f = statistics.fmean(f for _, f in callbacks)
    var_t = sum((ns - mean_t) ** 2 for ns, _ in callbacks)
    if not var_t:
        return None
    slope = sum((ns - mean_t) * (f - mean_f) for ns, f in callbacks) / var_t
    return (slope * NS / CABLE_RATE - 1) * 1e6


SKEW_LINE = re.compile(r"^(\S+)\s.*Playout: delay .*, skew (-?\d+) ppm")


def panel_skews(lines):
    """The skew figures of the panel's log, each with its time (ISO, to the second)."""
    return [(m[1], int(m[2])) for line in lines if (m := SKEW_LINE.match(line))]


def analyse_cell(recording, log, cpu_percent, calm_from_s=None, frame_size=512):
    """One cell's figures, as a dict the table is made of."""
    frame_ns = frame_clock(recording.callbacks)
    arrivals = [frame_ns(f) for f in trusted_onsets(recording)]
    series = pair_marks(arrivals, log.marks)
    first_ns = frame_ns(first_sound_frame(recording))
    end_ns = frame_ns(recording.frames)
    count, missing, blocks, longest = gaps(recording, frame_ns, first_ns)
    latency = series[0][1] if series else 0
    cell = {"latency": latency_summary(series), "gaps": count, "missing_ms": missing,
            "gap_blocks": blocks, "longest_gap_ms": longest, "cpu": cpu_percent,
            "lost": dropped_within(log, first_ns - latency, end_ns - latency, frame_size=frame_size),
            "seconds": (end_ns - first_ns) / NS, "series": series,
            "card_ppm": card_ppm(recording.callbacks)}
    # From 15 s on, where each loss is to be a gap of its own length.
    from_ns = first_ns + 15 * NS
    datagram_ms = frame_size * 1000 / 48000
    lengths = gap_lengths(recording, frame_ns, from_ns)
    cell["gaps_from_15"] = len(lengths)
    cell["long_gaps_from_15"] = sum(1 for ms in lengths if ms > datagram_ms + 0.5)
    cell["lost_from_15"] = dropped_within(log, from_ns - latency, end_ns - latency,
                                          frame_size=frame_size)
    if calm_from_s is not None and 0 in log.marks:
        cell["calm_from_ns"] = log.marks[0] + int(calm_from_s * NS)
    return cell


def recovery_of(cell, reference_ms):
    if "calm_from_ns" not in cell or reference_ms is None:
        return None
    return recovery_s(cell["series"], cell["calm_from_ns"], reference_ms * 1e6)


def _skews(cell):
    """The panel's skew figures from its second minute on, and the truth: the simulator's clock
    against the system's, over the cable's against the system's."""
    figures = [ppm for _, ppm in cell.get("panel_skews", [])[1:]]
    shown = "–" if not figures else (f"{min(figures)}..{max(figures)}" if len(set(figures)) > 1
                                     else str(figures[0]))
    host, card = cell.get("host_ppm"), cell.get("card_ppm")
    truth = "–" if host is None or card is None else \
        f"{((1 + host * 1e-6) / (1 + card * 1e-6) - 1) * 1e6:.0f}"
    return f"{shown} / {truth}"


def _rss(cell):
    rss = cell.get("rss_mb")
    return "–" if not rss else f"{rss[0]:.1f} / {rss[1]:.1f}"


def _fmt(value, digits=1):
    return "–" if value is None else f"{value:.{digits}f}"


def markdown_table(cells):
    """cells: [(label, cell)] in the matrix's order; the first is the clean run, the reference for
    the latency added and the recovery."""
    reference = cells[0][1]["latency"] if cells else None
    reference_ms = reference.get("settled") if reference else None
    rows = ["| cell | latency median (ms) | settled from 15 s (ms) | added over clean (ms) | "
            "max deviation from settled (ms) | 5-95 % spread from 30 s (ms) | slope (ms/min) | "
            "gaps (missing ms, longest) | lost datagrams | from 15 s: gaps / lost (longer than "
            "the datagram + 0.5 ms) | recovery after the burst (s) | panel CPU (% of a core) | "
            "panel skew from 60 s / host against cable (ppm) | panel RSS first / last minute (MB) |",
            "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"]
    for label, cell in cells:
        lat = cell["latency"] or {}
        settled = lat.get("settled")
        added = None if settled is None or reference_ms is None else settled - reference_ms
        recovery = "–"
        if "calm_from_ns" in cell:
            r = recovery_of(cell, reference_ms)
            recovery = "not within 10 ms" if r is None else f"{r:.1f}"
        rows.append(
            f"| {label} | {_fmt(lat.get('median'))} | {_fmt(settled)} | {_fmt(added)} | "
            f"{_fmt(lat.get('max_dev'))} | {_fmt(lat.get('spread'))} | "
            f"{_fmt(lat.get('slope_per_min'), 2)} | "
            f"{cell['gaps']} ({cell['missing_ms']:.0f}, {cell.get('longest_gap_ms', 0.0):.1f}) | "
            f"{cell['lost']} | {cell['gaps_from_15']} / {cell['lost_from_15']} "
            f"({cell['long_gaps_from_15']}) | {recovery} | "
            f"{cell['cpu']:.1f} | {_skews(cell)} | {_rss(cell)} |")
    return "\n".join(rows)


if __name__ == "__main__":
    import json
    import sys

    if len(sys.argv) >= 6 and sys.argv[1] == "cell":
        # cell LABEL RECORDING SIMULATOR_LOG CPU_PERCENT [--calm S] [--frame-size N]
        #      [--host-ppm PPM] [--panel-log PATH] [--rss MB MB] -> one JSON line
        label, rec_path, log_path, cpu = sys.argv[2:6]
        extra = sys.argv[6:]

        def option(name, count=1):
            if name not in extra:
                return None
            at = extra.index(name) + 1
            return extra[at:at + count] if count > 1 else extra[at]

        calm = option("--calm")
        frame_size = int(option("--frame-size") or 512)
        with open(rec_path) as rec, open(log_path) as log:
            cell = analyse_cell(parse_recording(rec), parse_simulator_log(log), float(cpu),
                                None if calm is None else float(calm), frame_size)
        cell["host_ppm"] = float(option("--host-ppm") or 0)
        if option("--panel-log"):
            with open(option("--panel-log"), errors="replace") as panel:
                cell["panel_skews"] = panel_skews(panel)
        if option("--rss", 2):
            cell["rss_mb"] = [float(v) for v in option("--rss", 2)]
        print(json.dumps([label, cell]))
    elif len(sys.argv) == 3 and sys.argv[1] == "table":
        with open(sys.argv[2]) as results:
            print(markdown_table([json.loads(line) for line in results if line.strip()]))
    else:
        sys.exit("usage: playout_analysis.py cell LABEL RECORDING SIMULATOR_LOG CPU [--calm S]"
                 " [--frame-size N] [--host-ppm PPM] [--panel-log PATH] [--rss MB MB]"
                 " | table RESULTS")
