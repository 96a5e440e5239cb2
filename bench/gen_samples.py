#!/usr/bin/env python3
"""Writes a benchmark CSV of raw magnetometer samples, in gauss, with a header line.

Usage: bench/gen_samples.py COUNT OUTPUT

The directions are spread uniformly over the sphere; each sample is
SOFT_IRON @ (0.4834 gauss * direction) + HARD_IRON + noise, as in the example data, so most raw
magnitudes fall inside a 20 % window around the reference magnitude at latitude 48.5578,
longitude 3.2914. The seed is fixed: the same COUNT always gives the same file.
"""

import math
import random
import sys

FIELD_GAUSS = 0.4834
HARD_IRON = (0.06, -0.04, 0.09)
# Symmetric soft-iron distortion near the identity (gauss per gauss).
SOFT_IRON = ((1.05, 0.03, -0.02), (0.03, 0.98, 0.01), (-0.02, 0.01, 0.95))
NOISE_SIGMA = 0.002


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: gen_samples.py COUNT OUTPUT")
    count = int(sys.argv[1])
    rng = random.Random(20240102)
    lines = ["CAP_magX,CAP_magY,CAP_magZ"]
    for _ in range(count):
        u = [rng.gauss(0.0, 1.0) for _ in range(3)]
        norm = math.sqrt(sum(c * c for c in u)) or 1.0
        f = [FIELD_GAUSS * c / norm for c in u]
        raw = [sum(SOFT_IRON[i][k] * f[k] for k in range(3)) + HARD_IRON[i]
               + rng.gauss(0.0, NOISE_SIGMA) for i in range(3)]
        lines.append("%.15g,%.15g,%.15g" % tuple(raw))
    with open(sys.argv[2], "w", newline="\n") as out:
        out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
