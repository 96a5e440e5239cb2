#!/usr/bin/env python3
"""Writes a large CSV of synthetic magnetometer samples for scale runs of fluxtrim.out.

    tools/gen_scale_samples.py COUNT OUTPUT [--seed N]

The samples are directions spread uniformly over the sphere, scaled to a 0.48 gauss field,
distorted by a fixed symmetric soft-iron matrix and a hard-iron offset, with 2 mgauss of Gaussian
noise per axis: a header line, then COUNT lines "x,y,z" with 9 significant digits, each ending
in a newline. The same seed gives the same file.
"""
import argparse
import math
import random

FIELD_GAUSS = 0.48
SOFT_IRON = ((1.08, 0.04, -0.02), (0.04, 0.95, 0.03), (-0.02, 0.03, 1.01))
HARD_IRON = (0.061, -0.032, 0.118)
NOISE_GAUSS = 0.002


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("count", type=int)
    parser.add_argument("output")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()

    rng = random.Random(args.seed)
    gauss = rng.gauss
    (a00, a01, a02), (a10, a11, a12), (a20, a21, a22) = SOFT_IRON
    bx, by, bz = HARD_IRON
    with open(args.output, "w", buffering=1 << 20) as out:
        out.write("CAP_magX,CAP_magY,CAP_magZ\n")
        chunk = []
        for _ in range(args.count):
            x, y, z = gauss(0, 1), gauss(0, 1), gauss(0, 1)
            scale = FIELD_GAUSS / (math.sqrt(x * x + y * y + z * z) or 1.0)
            x, y, z = x * scale, y * scale, z * scale
            chunk.append("%.9g,%.9g,%.9g\n" % (
                a00 * x + a01 * y + a02 * z + bx + gauss(0, NOISE_GAUSS),
                a10 * x + a11 * y + a12 * z + by + gauss(0, NOISE_GAUSS),
                a20 * x + a21 * y + a22 * z + bz + gauss(0, NOISE_GAUSS)))
            if len(chunk) == 65536:
                out.write("".join(chunk))
                chunk.clear()
        out.write("".join(chunk))


if __name__ == "__main__":
    main()
