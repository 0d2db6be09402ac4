# SPDX-License-Identifier: GPL-3.0-or-later
"""A band of FSK signals at once, like a digital-mode sub-band (FT8's): SIGNALS signals spread
over 300-2700 Hz, each stepping every 160 ms among 8 tones 6.25 Hz apart, with symbols drawn from
a seed, at equal levels that sum to -6 dBFS at the peak; beside them a steady pilot tone above the
band at about one signal's level (-26 dBFS), on which the pitch is judged. All signals change
symbol at the same instants. A band as a receiver hears it carries noise too: --snr puts each
signal that far (dB) above the noise in 2500 Hz, the noise white over 200-2800 Hz.

Every tone lies on the 6.25 Hz grid, so a 160 ms frame holds a whole number of its cycles: frames
aligned with the symbols see each tone in one bin of a 6.25 Hz spectrum and nothing of it in the
others, and what the far end puts into the other bins is what it did to the signal.

    fsk_band.py write FILE [--seed N] [--snr DB]   a mono 16-bit WAV at 48000 Hz, LOOP_S long
                                                   (it loops seamlessly: a whole number of symbols)
"""
import argparse
import wave
from dataclasses import dataclass

import numpy as np

SAMPLE_RATE = 48000
SYMBOL_S = 0.160
TONE_SPACING_HZ = 6.25
TONES = 8
SIGNALS = 10
LOW_HZ = 300.0
HIGH_HZ = 2700.0
PEAK = 0.5  # -6 dBFS, the band and the pilot together
PILOT_HZ = 3000.0
PILOT_AMPLITUDE = 0.05  # -26 dBFS
LOOP_S = 60.0
NOISE_LOW_HZ = 200.0
NOISE_HIGH_HZ = 2800.0  # below the pilot, which carries the pitch
SNR_BANDWIDTH_HZ = 2500.0  # the bandwidth digital-mode software states its SNR in


@dataclass
class Band:
    seed: int
    bases: list  # each signal's lowest tone, Hz
    symbols: np.ndarray  # (SIGNALS, symbols in the loop), each 0..TONES-1

    def tones_hz(self, signal):
        return [self.bases[signal] + k * TONE_SPACING_HZ for k in range(TONES)]


def band(seed=1):
    """The signals of a seed: where each sits and what it sends."""
    rng = np.random.default_rng(seed)
    top = HIGH_HZ - (TONES - 1) * TONE_SPACING_HZ
    bases = [float(TONE_SPACING_HZ * round(f / TONE_SPACING_HZ))
             for f in np.linspace(LOW_HZ, top, SIGNALS)]
    symbols = rng.integers(0, TONES, size=(SIGNALS, round(LOOP_S / SYMBOL_S)))
    return Band(seed, bases, symbols)


def band_noise(size, snr_db, seed, rate=SAMPLE_RATE):
    """White noise over NOISE_LOW_HZ-NOISE_HIGH_HZ, `size` samples that loop seamlessly (made in
    the frequency domain), at which a unit sine (power 0.5) is snr_db above it in 2500 Hz."""
    rng = np.random.default_rng(seed)
    spectrum = rng.normal(size=size // 2 + 1) + 1j * rng.normal(size=size // 2 + 1)
    hz = np.fft.rfftfreq(size, 1 / rate)
    spectrum[(hz < NOISE_LOW_HZ) | (hz > NOISE_HIGH_HZ)] = 0
    noise = np.fft.irfft(spectrum, size)
    power = 0.5 / 10 ** (snr_db / 10) * (NOISE_HIGH_HZ - NOISE_LOW_HZ) / SNR_BANDWIDTH_HZ
    return noise * np.sqrt(power / np.mean(noise ** 2))


def samples(b, rate=SAMPLE_RATE, snr_db=None):
    """The loop as floats in [-PEAK, PEAK], with the band's noise when snr_db is given. Each tone
    has whole cycles in a symbol, so its phase is the same at every symbol's start: the signals
    are phase-continuous as they stand."""
    per_symbol = round(SYMBOL_S * rate)
    t = np.arange(per_symbol) / rate
    rng = np.random.default_rng(b.seed + 1)
    out = np.zeros(per_symbol * b.symbols.shape[1])
    for s in range(SIGNALS):
        phase = rng.uniform(0, 2 * np.pi)
        table = np.sin(2 * np.pi * np.outer(b.tones_hz(s), t) + phase)
        out += table[b.symbols[s]].reshape(-1)
    if snr_db is not None:
        out += band_noise(out.size, snr_db, b.seed + 2, rate)
    out *= (PEAK - PILOT_AMPLITUDE) / np.max(np.abs(out))
    out += PILOT_AMPLITUDE * np.sin(2 * np.pi * PILOT_HZ * np.arange(out.size) / rate)
    return out


def write_wav(path, seed=1, snr_db=None):
    pcm = np.round(samples(band(seed), snr_db=snr_db) * 32767).astype("<i2")
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(SAMPLE_RATE)
        w.writeframes(pcm.tobytes())


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description="Writes a band of FSK signals as a WAV.")
    parser.add_argument("command", choices=["write"])
    parser.add_argument("file")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--snr", type=float, help="each signal's SNR in 2500 Hz, dB (default: a noiseless band)")
    args = parser.parse_args()
    write_wav(args.file, args.seed, args.snr)
