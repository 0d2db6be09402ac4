# SPDX-License-Identifier: GPL-3.0-or-later
"""What bench/playout measures at the cable, from the cable recorder's output (callback times,
silent runs, mark onsets, the audio itself) and the rig simulator's log (when each mark was
produced, which datagrams were dropped, when the link stalled): the latency of every mark over
time, its settled value and drift, the gaps, the recovery after a burst of jitter, and what a
decoder at the far end of the cable hears: the pitch in 4-s windows against the host's clock, the
tone's THD+N, quiet blocks, and an FSK band's tones against their neighbours. Pure functions over
parsed data, so they can be checked alone.

Times are CLOCK_MONOTONIC nanoseconds, shared by the simulator and the recorder.
"""
import bisect
import os
import re
import statistics
import sys
from dataclasses import dataclass, field

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fsk_band  # noqa: E402

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
    watched: bool = False  # whether the machine's own stalls were watched
    machine: list = field(default_factory=list)  # (ns, us): the watcher's wakes 2 ms late or more
    reopened: list = field(default_factory=list)  # (ns, frames): the stuck capture opened again


@dataclass
class SimulatorLog:
    marks: dict = field(default_factory=dict)  # mark index -> ns produced
    dropped: list = field(default_factory=list)  # datagram indices
    stalls: list = field(default_factory=list)  # (ns the link stalled, ms it stalled for)


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
        elif word == "watched":
            r.watched = True
        elif word == "stall":
            r.machine.append((int(values[0]), int(values[1])))
        elif word == "reopened":
            r.reopened.append((int(values[0]), int(values[1])))
    return r


MARK_LINE = re.compile(r"^mark (\d+) at (\d+) ns$")
LOSS_LINE = re.compile(r"^loss: datagram (\d+) dropped$")
STALL_LINE = re.compile(r"^stall: (\d+) ms at (\d+) ns$")


def parse_simulator_log(lines):
    log = SimulatorLog()
    for line in lines:
        if m := MARK_LINE.match(line.strip()):
            log.marks[int(m[1])] = int(m[2])
        elif m := LOSS_LINE.match(line.strip()):
            log.dropped.append(int(m[1]))
        elif m := STALL_LINE.match(line.strip()):
            log.stalls.append((int(m[2]), int(m[1])))
    return log


def frame_clock(callbacks, reopened=()):
    """A function giving when a captured frame entered the cable, from the callbacks around it
    that the same opening of the capture made (time went unrecorded between two)."""
    after = [f for _, f in callbacks]
    offsets = [ns - f * NS // CABLE_RATE for ns, f in callbacks]
    bounds = sorted(frames for _, frames in reopened)

    def frame_ns(frame):
        at = bisect.bisect_right(bounds, frame)
        first = bounds[at - 1] if at else -FIT_WINDOW_FRAMES
        last = bounds[at] if at < len(bounds) else frame + FIT_WINDOW_FRAMES
        lo = bisect.bisect_left(after, max(frame - FIT_WINDOW_FRAMES, first + 1))
        hi = bisect.bisect_right(after, min(frame + FIT_WINDOW_FRAMES, last))
        return min(offsets[lo:hi] or offsets) + frame * NS // CABLE_RATE + SERVER_PERIOD_NS

    return frame_ns


def unrecorded_s(recording):
    """The time the stuck capture left unrecorded: from the last callback before each reopening to
    the first after it, less the block's own time."""
    after = [f for _, f in recording.callbacks]
    total = 0
    for _, frames in recording.reopened:
        at = bisect.bisect_right(after, frames)
        if 0 < at < len(after):
            block = (after[at] - after[at - 1]) * NS // CABLE_RATE
            total += recording.callbacks[at][0] - recording.callbacks[at - 1][0] - block
    return total / NS


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


# ---- what a decoder at the far end of the cable hears --------------------------------------------

WINDOW_S = 4.0
WINDOW_STEP_S = 2.0
SETTLE_S = 15.0
PITCH_LIMIT_PPM = 50.0
# The pitch errors of interest are well under 1 %: the peak is looked for within this share.
PEAK_SPAN = 0.01
# The card's rate for a window is counted over this much around it: over the window's own 4 s the
# on-time callbacks' scatter (tens of microseconds) would leave several ppm in it.
RATE_SPAN_S = 20.0
THDN_WINDOW_S = 6.0
THDN_BLOCK_FRAMES = 1 << 18  # 2.7 s at the cable's rate: bins of 0.37 Hz
THDN_NOTCH_HZ = 10.0
THDN_BAND_HZ = (20.0, 20000.0)
QUIET_BLOCK_S = 0.010
QUIET_SHARE = 0.1


def read_raw(path):
    """The recorder's raw audio as floats in [-1, 1), one column per channel."""
    return np.fromfile(path, dtype="<i2").reshape(-1, 2) / 32768.0


def _clock(callbacks, rate):
    ns = np.array([c[0] for c in callbacks], dtype=np.float64)
    frames = np.array([c[1] for c in callbacks], dtype=np.float64)
    return ns, frames, ns - frames * NS / rate


def card_stops(callbacks, period_ns, rate=CABLE_RATE):
    """Indices of the callbacks that come first after a stop of the server: where the least of
    (callback time - frames / rate) over the next half second steps by half a server period or
    more. A late callback lifts only itself; a stop lifts every callback after it."""
    if len(callbacks) < 2:
        return []
    _, frames, offsets = _clock(callbacks, rate)
    span = max(1, int(np.searchsorted(frames, frames[0] + rate / 2)))
    padded = np.concatenate([offsets, np.full(span - 1, np.inf)])
    floor = np.lib.stride_tricks.sliding_window_view(padded, span).min(axis=1)
    steps = np.nonzero(np.abs(np.diff(floor[:len(floor) - span])) >= period_ns / 2)[0]
    return [int(i) + 1 for i in steps]


def _envelope_slope(t, o):
    """The slope of the line under every point (t, o) that lies closest to them at the middle of t:
    the lower convex hull's edge there. A callback is never early, only late, so the on-time ones
    are on that line however late the others are."""
    t = t - t[0]
    hull = []
    for p in zip(t, o):
        while len(hull) >= 2 and ((hull[-1][0] - hull[-2][0]) * (p[1] - hull[-2][1]) -
                                  (hull[-1][1] - hull[-2][1]) * (p[0] - hull[-2][0])) <= 0:
            hull.pop()
        hull.append(p)
    middle = (t[0] + t[-1]) / 2
    for a, b in zip(hull, hull[1:]):
        if a[0] <= middle <= b[0]:
            return (b[1] - a[1]) / (b[0] - a[0])
    return 0.0


def card_rate(callbacks, stops, from_frame, to_frame, rate=CABLE_RATE):
    """Frames per monotonic second the card delivered between the two frames, counted between the
    server's stops: for each stretch between stops the slope of the line under its callbacks'
    (time - frames / rate), the stretches' slopes weighted by their length squared (as a fit's
    precision goes)."""
    ns, frames, offsets = _clock(callbacks, rate)
    edges = [0] + list(stops) + [len(ns)]
    weighted = weights = 0.0
    for lo, hi in zip(edges, edges[1:]):
        chosen = np.arange(lo, hi)[(frames[lo:hi] >= from_frame) & (frames[lo:hi] <= to_frame)]
        if len(chosen) < 2 or ns[chosen[-1]] == ns[chosen[0]]:
            continue
        weight = (ns[chosen[-1]] - ns[chosen[0]]) ** 2
        weighted += weight * _envelope_slope(ns[chosen], offsets[chosen])
        weights += weight
    return rate * (1 - weighted / weights) if weights else float(rate)


def tone_frequency(x, expected, span=PEAK_SPAN):
    """The frequency (cycles per sample) of the strongest peak within span of `expected`: Hann
    window, FFT zero-padded to at least 8 times the length, the peak interpolated by a parabola
    through the logarithms of its bin and its neighbours."""
    size = 1 << int(np.ceil(np.log2(8 * len(x))))
    spectrum = np.abs(np.fft.rfft(x * np.hanning(len(x)), size))
    lo = max(1, int(expected * (1 - span) * size))
    hi = int(expected * (1 + span) * size) + 1
    k = lo + int(np.argmax(spectrum[lo:hi]))
    a, b, c = np.log(spectrum[k - 1:k + 2] + 1e-30)
    return (k + 0.5 * (a - c) / (a - 2 * b + c)) / size


def windowed_pitch(x, callbacks, stops, from_frame, tone_hz, host_ppm, rate=CABLE_RATE):
    """[(window's start, s after from_frame; ppm against the host)]: the tone's frequency in 4-s
    windows every 2 s, in the card's samples counted per monotonic second between the server's
    stops, against the host's frequency (tone x (1 + host ppm))."""
    host_hz = tone_hz * (1 + host_ppm * 1e-6)
    length, step = int(WINDOW_S * rate), int(WINDOW_STEP_S * rate)
    out = []
    for start in range(from_frame, len(x) - length + 1, step):
        cycles = tone_frequency(x[start:start + length], tone_hz / rate)
        # The span around the window, moved inwards at the recording's ends.
        span = RATE_SPAN_S * rate
        lo = max(0, min(start + length / 2 - span / 2, len(x) - span))
        frames_per_s = card_rate(callbacks, stops, lo, lo + span, rate)
        out.append(((start - from_frame) / rate, (cycles * frames_per_s / host_hz - 1) * 1e6))
    return out


def pitch_summary(windows, settle_s=SETTLE_S, limit=PITCH_LIMIT_PPM):
    late = [abs(ppm) for t, ppm in windows if t >= settle_s]
    early = [abs(ppm) for t, ppm in windows if t < settle_s]
    return {"max_late": max(late, default=None), "max_early": max(early, default=None),
            "beyond": sum(1 for ppm in late if ppm > limit), "windows_late": len(late)}


def _notched(x, tone_hz, rate):
    """(residual, total): x band-limited to 20 Hz-20 kHz, and the same without the 10 Hz either
    side of the tone's peak, filtered in blocks of 2.7 s (Hann windows at half overlap, which add
    up to one, so every sample weighs alike wherever it lies; the peak found again in each block,
    so a pitch that wanders stays the tone's). Within a block of either end the filter sees the
    recording's edge."""
    size = THDN_BLOCK_FRAMES
    hop = size // 2
    window = 0.5 - 0.5 * np.cos(2 * np.pi * np.arange(size) / size)
    padded = np.concatenate([np.zeros(hop), x, np.zeros(size)])
    hz = np.fft.rfftfreq(size, 1 / rate)
    band = (hz >= THDN_BAND_HZ[0]) & (hz <= THDN_BAND_HZ[1])
    near = np.abs(hz - tone_hz) <= tone_hz * PEAK_SPAN
    residual, total = np.zeros(len(padded)), np.zeros(len(padded))
    for start in range(0, len(x) + hop, hop):
        spectrum = np.fft.rfft(padded[start:start + size] * window)
        peak = hz[near][np.argmax(np.abs(spectrum[near]))]
        total[start:start + size] += np.fft.irfft(spectrum * band, size)
        notch = band & (np.abs(hz - peak) > THDN_NOTCH_HZ)
        residual[start:start + size] += np.fft.irfft(spectrum * notch, size)
    return residual[hop:hop + len(x)], total[hop:hop + len(x)]


def thd_n(x, tone_hz, from_frame, rate=CABLE_RATE):
    """THD+N of the tone from from_frame on, in dB: everything from 20 Hz to 20 kHz but the 10 Hz
    either side of the tone's peak, against everything in the band; the median of 6-s windows and
    over the whole stretch (filtered from a block before it where there is one, and without the
    recording's last 2.7 s, where the filter sees the recording's edges)."""
    lead = min(from_frame, THDN_BLOCK_FRAMES)
    residual, total = _notched(x[from_frame - lead:], tone_hz, rate)
    end = len(total) - THDN_BLOCK_FRAMES
    residual, total = residual[lead:end], total[lead:end]
    length = int(THDN_WINDOW_S * rate)

    def ratio_db(lo, hi):
        return 10 * np.log10(max(np.sum(residual[lo:hi] ** 2), 1e-30) /
                             max(np.sum(total[lo:hi] ** 2), 1e-30))

    windows = [ratio_db(i, i + length) for i in range(0, len(total) - length + 1, length)]
    if not windows:
        return None
    return statistics.median(windows), ratio_db(0, len(total))


def quiet_blocks(x, from_frame, rate=CABLE_RATE):
    """The 10-ms blocks from from_frame on whose RMS is below a tenth of the median block's."""
    size = int(QUIET_BLOCK_S * rate)
    stretch = x[from_frame:]
    blocks = stretch[:len(stretch) // size * size].reshape(-1, size)
    rms = np.sqrt(np.mean(blocks ** 2, axis=1))
    return int(np.sum(rms < QUIET_SHARE * np.median(rms))) if len(rms) else 0


def _fsk_snr_db(powers):
    """Per frame and signal: the strongest of its tones against the mean of the other seven, dB
    (0 for a frame of silence). powers: (frames, signals, tones)."""
    strongest = powers.max(axis=2)
    others = (powers.sum(axis=2) - strongest) / (powers.shape[2] - 1)
    return 10 * np.log10((strongest + 1e-20) / (others + 1e-20))


def _fsk_frames(x, start, frames, length):
    """`frames` frames of a symbol `length` samples long (not a whole number where the pitch is
    off) from start, each starting at its nearest sample."""
    size = round(length)
    starts = start + np.round(np.arange(frames) * length).astype(int)
    return x[starts[:, None] + np.arange(size)]


def _fsk_alignment(x, start, frames, bins, length):
    """The offset (samples from start, within a symbol) at which frames of one symbol best hold
    each signal's tone in one bin: searched in ever finer steps."""
    def score(offset):
        spectrum = np.abs(np.fft.rfft(_fsk_frames(x, start + offset, frames, length), axis=1)) ** 2
        return float(np.mean(_fsk_snr_db(spectrum[:, bins])))

    size = round(length)
    best, step = 0, size // 32
    candidates = range(0, size, step)
    while True:
        best = max(candidates, key=score)
        if step == 1:
            return best
        step = max(1, step // 8)
        candidates = [best + d for d in range(-8 * step, 8 * step + 1, step)
                      if 0 <= best + d < size]


def fsk_snr(x, band, from_frame, rate=CABLE_RATE):
    """The FSK band's tones against their neighbours: per 160-ms frame and signal, the power in the
    bin of the strongest of its 8 tones against the mean of the other 7, in dB, from from_frame
    on. As a decoder tracks each signal, every 4-s window finds the band again: its frequency
    scale from the pilot, its symbols' edges by alignment. The pitch is judged in its own column;
    without this, a pitch error of a few ppm would read as tens of dB here."""
    nominal = round(fsk_band.SYMBOL_S * rate)
    tones = np.array([band.tones_hz(s) for s in range(fsk_band.SIGNALS)])
    bins = np.round(tones / fsk_band.TONE_SPACING_HZ).astype(int)
    frames = int(WINDOW_S / fsk_band.SYMBOL_S) - 1
    out = []
    for start in range(from_frame, len(x) - (frames + 2) * nominal, frames * nominal):
        stretch = x[start:start + frames * nominal]
        scale = tone_frequency(stretch, fsk_band.PILOT_HZ / rate) * rate / fsk_band.PILOT_HZ
        length = nominal / scale
        offset = _fsk_alignment(x, start, frames, bins, length)
        chunk = _fsk_frames(x, start + offset, frames, length)
        basis = np.exp(-2j * np.pi * np.outer(tones.reshape(-1) * scale / rate,
                                              np.arange(chunk.shape[1])))
        powers = np.abs(chunk @ basis.T) ** 2
        out.extend(_fsk_snr_db(powers.reshape(frames, *tones.shape)).reshape(-1))
    return out


def stall_figures(log, recording, frame_ns, series, latency_ns):
    """Per stall of the link within the recording: when it began (ns), how long (ms), the gaps at
    the cable (ms) that began from its start to a second after its end and the latency, and the
    latency 10-12 s after it less the latency in the 5 s before it (ms; None without marks)."""
    out = []
    for at, ms in log.stalls:
        if not frame_ns(0) <= at <= frame_ns(recording.frames):
            continue
        reach = at + ms * 1_000_000 + latency_ns + NS
        gaps = [(end - start) * 1000 / CABLE_RATE for start, end in recording.silences
                if end < recording.frames and at <= frame_ns(start) <= reach]
        before = [lat for t, lat in series if at - 5 * NS <= t < at]
        after = [lat for t, lat in series if at + 10 * NS <= t < at + 12 * NS]
        moved = (statistics.median(after) - statistics.median(before)) / 1e6 \
            if before and after else None
        out.append({"at_ns": at, "ms": ms, "gaps_ms": gaps, "latency_moved_ms": moved})
    return out


def _frame_at(frame_ns, ns, frames):
    """The first frame that entered the cable at ns or later."""
    lo, hi = 0, frames
    while lo < hi:
        mid = (lo + hi) // 2
        if frame_ns(mid) < ns:
            lo = mid + 1
        else:
            hi = mid
    return lo


def analyse_signal(cell, recording, log, raw, tone_hz=None, channel=0, fsk_seed=None,
                   host_ppm=0.0, period_ns=SERVER_PERIOD_NS):
    """Adds to a cell what a decoder at the far end hears, from the raw audio. The time from which
    a figure counts (15 s) is from when the host began to stream (mark 0) where the marks say,
    else from the first sound."""
    frame_ns = frame_clock(recording.callbacks, recording.reopened)
    x = raw[:recording.frames, channel]
    first = first_sound_frame(recording)
    origin_ns = log.marks.get(0, frame_ns(first))
    settled = max(first, _frame_at(frame_ns, origin_ns + int(SETTLE_S * NS), len(x)))
    stops = card_stops(recording.callbacks, period_ns)
    card = (card_rate(recording.callbacks, stops, 0, len(x)) / CABLE_RATE - 1) * 1e6
    cell.update(stops=len(stops), card_ppm_between_stops=card, quiet=quiet_blocks(x, settled))
    pitch_hz = fsk_band.PILOT_HZ if fsk_seed is not None else tone_hz
    windows = [((frame_ns(first + int(t * CABLE_RATE)) - origin_ns) / NS, ppm) for t, ppm in
               windowed_pitch(x, recording.callbacks, stops, first, pitch_hz, host_ppm)]
    cell["pitch"] = pitch_summary(windows)
    cell["pitch_windows"] = windows
    if fsk_seed is None:
        cell["thdn"] = thd_n(x, tone_hz, settled)
    else:
        snr = fsk_snr(x, fsk_band.band(fsk_seed), settled)
        cell["fsk"] = {"median": float(np.median(snr)), "p10": float(np.percentile(snr, 10))} \
            if snr else None
    latency = cell["latency"]["median"] * 1e6 if cell.get("latency") else 0
    cell["stalls"] = stall_figures(log, recording, frame_ns, cell["series"], latency)
    return cell


def machine_stalls(recording):
    """The machine's own stalls while the cable recorded (the recorder's watcher at real-time
    priority: wakes 2 ms late or more) and the latest, in ms; None where it was not watched."""
    if not recording.watched:
        return None
    return [len(recording.machine), max((us for _, us in recording.machine), default=0) / 1000]


SKEW_LINE = re.compile(r"^(\S+)\s.*Playout: delay .*, skew (-?\d+) ppm")


def panel_skews(lines):
    """The skew figures of the panel's log, each with its time (ISO, to the second)."""
    return [(m[1], int(m[2])) for line in lines if (m := SKEW_LINE.match(line))]


def analyse_cell(recording, log, cpu_percent, calm_from_s=None, frame_size=512):
    """One cell's figures, as a dict the table is made of."""
    frame_ns = frame_clock(recording.callbacks, recording.reopened)
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
    """cells: [(label, cell)] in the matrix's order; the clean run (else the first) is the
    reference for the latency added and the recovery."""
    reference = _named(cells, "clean")["latency"] if cells else None
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


def _named(cells, name):
    """The cell of that name, else the first."""
    return next((cell for _, cell in cells if cell.get("name") == name), cells[0][1])


def _stalls(cell):
    figures = []
    for stall in cell.get("stalls", []):
        gaps = ", ".join(f"{ms:.0f}" for ms in stall["gaps_ms"]) or "none"
        figures.append(f"{gaps}; {_fmt(stall['latency_moved_ms'], 1)}")
    return " / ".join(figures) or "–"


def signal_table(cells):
    """cells: [(label, cell)]; the FSK cells are compared with fsk-clean, where it is one."""
    reference = next((cell["fsk"] for _, cell in cells if cell.get("name") == "fsk-clean"), None)
    rows = ["| cell | pitch max \\|ppm\\| from 15 s | before 15 s | windows beyond 50 ppm from "
            "15 s | server stops / machine stalls (the latest, ms) | THD+N from 15 s: median of "
            "6 s / whole (dB) | quiet 10-ms blocks from 15 s | FSK SNR median / 10th "
            "percentile (dB) | FSK against fsk-clean "
            "(dB) | per stall: gaps (ms); latency 10 s after less before (ms) |",
            "|---|---|---|---|---|---|---|---|---|---|"]
    for label, cell in cells:
        pitch = cell.get("pitch") or {}
        thdn = cell.get("thdn")
        fsk = cell.get("fsk")
        thdn_text = "–" if not thdn else f"{thdn[0]:.1f} / {thdn[1]:.1f}"
        fsk_text = "–" if not fsk else f"{fsk['median']:.1f} / {fsk['p10']:.1f}"
        machine = cell.get("machine")
        stalls = "–" if not machine else f"{machine[0]} ({machine[1]:.0f})"
        against = "–" if not fsk or not reference else \
            f"{fsk['median'] - reference['median']:+.1f} / {fsk['p10'] - reference['p10']:+.1f}"
        rows.append(
            f"| {label} | {_fmt(pitch.get('max_late'), 0)} | {_fmt(pitch.get('max_early'), 0)} | "
            f"{pitch.get('beyond', '–')} of {pitch.get('windows_late', '–')} | "
            f"{cell.get('stops', '–')} / {stalls} | {thdn_text} | {cell.get('quiet', '–')} | "
            f"{fsk_text} | {against} | {_stalls(cell)} |")
    return "\n".join(rows)


if __name__ == "__main__":
    import json

    if len(sys.argv) >= 6 and sys.argv[1] == "cell":
        # cell LABEL RECORDING SIMULATOR_LOG CPU_PERCENT [--calm S] [--frame-size N]
        #      [--host-ppm PPM] [--panel-log PATH] [--rss MB MB] [--name NAME]
        #      [--raw FILE [--tone HZ] [--channel left|right] [--fsk SEED] [--server-period-ns NS]]
        #      -> one JSON line
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
            recording, simulator = parse_recording(rec), parse_simulator_log(log)
        cell = analyse_cell(recording, simulator, float(cpu), None if calm is None else float(calm),
                            frame_size)
        cell["name"] = option("--name") or label
        cell["host_ppm"] = float(option("--host-ppm") or 0)
        if option("--raw") and os.path.exists(option("--raw")):
            fsk = option("--fsk")
            analyse_signal(cell, recording, simulator, read_raw(option("--raw")),
                           float(option("--tone") or 1900), int(option("--channel") == "right"),
                           None if fsk is None else int(fsk), cell["host_ppm"],
                           int(option("--server-period-ns") or SERVER_PERIOD_NS))
        if option("--panel-log"):
            with open(option("--panel-log"), errors="replace") as panel:
                cell["panel_skews"] = panel_skews(panel)
        cell["machine"] = machine_stalls(recording)
        if option("--rss", 2):
            cell["rss_mb"] = [float(v) for v in option("--rss", 2)]
        print(json.dumps([label, cell]))
    elif len(sys.argv) == 3 and sys.argv[1] in ("table", "signal-table"):
        with open(sys.argv[2]) as results:
            cells = [json.loads(line) for line in results if line.strip()]
        print((markdown_table if sys.argv[1] == "table" else signal_table)(cells))
    else:
        sys.exit("usage: playout_analysis.py cell LABEL RECORDING SIMULATOR_LOG CPU [--calm S]"
                 " [--frame-size N] [--host-ppm PPM] [--panel-log PATH] [--rss MB MB]"
                 " [--name NAME] [--raw FILE [--tone HZ] [--channel left|right] [--fsk SEED]"
                 " [--server-period-ns NS]] | table RESULTS | signal-table RESULTS")
