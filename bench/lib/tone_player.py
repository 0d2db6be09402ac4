# SPDX-License-Identifier: GPL-3.0-or-later
"""Plays a test tone into an ALSA playback device until it is terminated, standing in for the
software that transmits through the panel (or through a pipeline in its place):

    steady  700 Hz at -6 dBFS
    moving  700 Hz whose level rises and falls four times a second, like speech: a sine in dB
            between -40 and -6 dBFS

The tone is mono 16-bit at 48000 Hz (a host's rate), given to `aplay`. One second of it is made
once and repeated (both the tone and the level movement repeat whole cycles in a second), so the
player costs the machine next to nothing. SIGTERM or SIGINT end it cleanly: aplay is given the end
of its input, plays what it holds and closes the device, so the audio server does not wait out a
client that vanished.

    tone_player.py steady|moving DEVICE
"""
import math
import signal
import struct
import subprocess
import sys

RATE = 48000
TONE_HZ = 700
TOP_DB = -6.0
BOTTOM_DB = -40.0
MOVEMENT_HZ = 4


def one_second(kind):
    samples = []
    for i in range(RATE):
        t = i / RATE
        if kind == "moving":
            middle = (TOP_DB + BOTTOM_DB) / 2
            swing = (TOP_DB - BOTTOM_DB) / 2
            db = middle + swing * math.sin(2 * math.pi * MOVEMENT_HZ * t)
        else:
            db = TOP_DB
        amplitude = 32767 * 10 ** (db / 20)
        samples.append(round(amplitude * math.sin(2 * math.pi * TONE_HZ * t)))
    return struct.pack(f"<{RATE}h", *samples)


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("steady", "moving"):
        sys.exit("usage: tone_player.py steady|moving DEVICE")
    block = one_second(sys.argv[1])
    player = subprocess.Popen(["aplay", "-q", "-D", sys.argv[2], "-t", "raw", "-f", "S16_LE",
                               "-c", "1", "-r", str(RATE)], stdin=subprocess.PIPE)

    def finish(*_):
        raise SystemExit(0)

    signal.signal(signal.SIGTERM, finish)
    signal.signal(signal.SIGINT, finish)
    try:
        while True:
            player.stdin.write(block)
    except BrokenPipeError:
        sys.exit(f"tone_player: aplay stopped playing (exit status {player.wait()})")
    finally:
        try:
            player.stdin.close()
        except BrokenPipeError:
            pass
        try:
            player.wait(timeout=3)
        except subprocess.TimeoutExpired:
            player.terminate()
            player.wait()


if __name__ == "__main__":
    main()
