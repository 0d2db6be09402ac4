# SPDX-License-Identifier: GPL-3.0-or-later
"""Whether the panel's meters move: grabs the panel's window GRABS times (ImageMagick's
`import`), finds the three meters by their black faces (top to bottom L, R, M) and prints in how
many grabs each face differed from the grab before, e.g. "L 7 R 7 M 0 of 7". A meter on a steady
level stands still (or nearly); one on a level that rises and falls changes in nearly every grab.
The grabs are INTERVAL seconds apart on average, at random: at a fixed pace they could keep step
with a level's movement (a grab every 0.23 s sees a level that swells 4.3 times a second at much
the same point each time) and show it still.

    meter_motion.py WINDOW_ID GRABS INTERVAL
"""
import random
import subprocess
import sys
import time

METER_WIDTH = 500  # HSSMeterWidget::fixedWidth, centred in the window
MIN_FACE_ROWS = 60  # a meter face is 80 rows high


def grab(window):
    ppm = subprocess.run(["import", "-window", window, "-depth", "8", "ppm:-"],
                         check=True, capture_output=True).stdout
    magic, size, _, pixels = ppm.split(b"\n", 3)
    if magic != b"P6":
        sys.exit("meter_motion: import did not give a PPM picture")
    width, height = map(int, size.split())
    return width, height, pixels


def faces(width, height, pixels):
    """Row ranges of the meters' faces: runs of black rows just inside the meters' left edge."""
    x = (width - METER_WIDTH) // 2 + 5
    runs, start = [], None
    for y in range(height + 1):
        i = (y * width + x) * 3
        dark = y < height and sum(pixels[i:i + 3]) < 90
        if dark and start is None:
            start = y
        elif not dark and start is not None:
            if y - start >= MIN_FACE_ROWS:
                runs.append((start, y))
            start = None
    return runs


def main():
    window, grabs, interval = sys.argv[1], int(sys.argv[2]), float(sys.argv[3])
    width, height, pixels = grab(window)
    meters = faces(width, height, pixels)
    if len(meters) != 3:
        sys.exit(f"meter_motion: found {len(meters)} meter faces, not 3")
    moved = [0, 0, 0]
    for _ in range(grabs):
        time.sleep(random.uniform(0.5, 1.5) * interval)
        _, _, now = grab(window)
        for m, (top, bottom) in enumerate(meters):
            rows = slice(top * width * 3, bottom * width * 3)
            moved[m] += now[rows] != pixels[rows]
        pixels = now
    print(f"L {moved[0]} R {moved[1]} M {moved[2]} of {grabs}")


if __name__ == "__main__":
    main()
