#!/usr/bin/env python3
"""Makes the demo's two epochs of a hillside with a landslide between them.

2019: an ASCII grid in metres. 2024: a 16-bit raster pair in centimetres, the same
frame, with a scar where the slope failed, its deposit further down, and survey noise.
Run once; its output is shipped in images/demo/.
"""
import math
import random
import struct

LINES, COLUMNS, CELL = 200, 300, 5.0
X_MIN, Y_MIN = 512000.0, 4800000.0
random.seed(2019)


def terrain(i, j):
    # Line 0 is the top (north) of the frame: the slope rises to the north.
    north = (LINES - 1 - i) / (LINES - 1)
    east = j / (COLUMNS - 1)
    altitude = 260.0 + 320.0 * north ** 1.3
    altitude += 18.0 * math.sin(6.0 * east + 1.3) * math.cos(3.0 * north)
    altitude -= 25.0 * math.exp(-((east - 0.62) / 0.08) ** 2)  # a gully
    return altitude


def landslide(i, j):
    # The scar (loss) above, the deposit (gain) below, on an ellipse along the slope.
    di, dj = (i - 95) / 45.0, (j - 120) / 28.0
    r = di * di + dj * dj
    if r >= 1.0:
        return 0.0
    shape = (1.0 - r) ** 1.5
    return -6.5 * shape if di < 0 else 3.8 * shape


with open("images/demo/slope_2019.asc", "w", newline="\n") as out:
    out.write(f"ncols {COLUMNS}\nnrows {LINES}\nxllcorner {X_MIN}\nyllcorner {Y_MIN}\n"
              f"cellsize {CELL}\nnodata_value -9999\n")
    for i in range(LINES):
        out.write(" ".join(f"{terrain(i, j):.2f}" for j in range(COLUMNS)) + "\n")

samples = []
for i in range(LINES):
    for j in range(COLUMNS):
        altitude = terrain(i, j) + landslide(i, j) + random.gauss(0.0, 0.03)
        samples.append(int(round(altitude * 100.0)))
with open("images/demo/slope_2024_m2.raw", "wb") as out:
    out.write(struct.pack(f"<{len(samples)}H", *samples))
with open("images/demo/slope_2024_m2.txt", "w", newline="\n") as out:
    out.write(f"{LINES}\n{COLUMNS}\n2\n{min(samples)}\n{max(samples)}\n{int(CELL)}\n")
