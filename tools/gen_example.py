#!/usr/bin/env python3
"""Writes examples/mag.csv: raw magnetometer samples, in gauss, of a device tumbled by hand.

The simulated place is latitude 48.5578 deg N, longitude 3.2914 deg E, 89 m above the ellipsoid,
where the Earth's field is about (0.210485, 0.007476, 0.435086) gauss north/east/down (norm about
0.4834 gauss). The device turns smoothly in every direction (its angular rate is a random walk),
the sensor is mounted tilted in it, and each sample is

    raw = SOFT_IRON @ field_in_sensor_axes + HARD_IRON + noise

so the calibration should find an offset close to HARD_IRON and a matrix close to the inverse of
SOFT_IRON (symmetric, so the row-vector convention changes nothing). The seed is fixed: the same
file comes out on every run. Usage: python3 tools/gen_example.py [output path]
"""

import math
import os
import random
import sys

SEED = 20240101
SAMPLES = 3000
RATE_HZ = 50.0  # one minute of logging

# Reference field at the place, gauss, north-east-down.
FIELD_NED = (0.210485, 0.007476, 0.435086)

HARD_IRON = (0.06, -0.04, 0.09)  # gauss, sensor axes
NOISE_SIGMA = 0.002  # gauss, per axis

# Soft iron: a symmetric positive definite matrix near identity, built as Q diag(gains) Q^T with Q
# a fixed rotation, so its principal axes do not line up with the sensor's.
SOFT_IRON_GAINS = (1.07, 0.99, 0.93)
SOFT_IRON_AXES_ANGLES = (0.7, -0.6, 0.9)  # radians about x, y, z
MOUNT_ANGLES = (0.15, -0.25, 0.8)  # sensor mounted tilted in the device, radians about x, y, z

# Angular rate of the hand: a mean-reverting random walk, rad/s.
RATE_SIGMA = 1.6
RATE_TIME_CONSTANT = 0.8  # seconds


def matmul(a, b):
    return [[sum(a[i][k] * b[k][j] for k in range(3)) for j in range(3)] for i in range(3)]


def matvec(a, v):
    return [sum(a[i][k] * v[k] for k in range(3)) for i in range(3)]


def transpose(a):
    return [[a[j][i] for j in range(3)] for i in range(3)]


def rotation_xyz(ax, ay, az):
    """Rotation about x by ax, then about y by ay, then about z by az (radians)."""
    cx, sx = math.cos(ax), math.sin(ax)
    cy, sy = math.cos(ay), math.sin(ay)
    cz, sz = math.cos(az), math.sin(az)
    rx = [[1, 0, 0], [0, cx, -sx], [0, sx, cx]]
    ry = [[cy, 0, sy], [0, 1, 0], [-sy, 0, cy]]
    rz = [[cz, -sz, 0], [sz, cz, 0], [0, 0, 1]]
    return matmul(rz, matmul(ry, rx))


def quat_multiply(p, q):
    pw, px, py, pz = p
    qw, qx, qy, qz = q
    return (pw * qw - px * qx - py * qy - pz * qz,
            pw * qx + px * qw + py * qz - pz * qy,
            pw * qy - px * qz + py * qw + pz * qx,
            pw * qz + px * qy - py * qx + pz * qw)


def quat_to_matrix(q):
    w, x, y, z = q
    return [[1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)],
            [2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)],
            [2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)]]


def soft_iron():
    q = rotation_xyz(*SOFT_IRON_AXES_ANGLES)
    d = [[SOFT_IRON_GAINS[i] if i == j else 0.0 for j in range(3)] for i in range(3)]
    return matmul(q, matmul(d, transpose(q)))


def generate(rng):
    """Returns the raw samples and the unit field directions seen in sensor axes."""
    soft = soft_iron()
    mount = rotation_xyz(*MOUNT_ANGLES)
    dt = 1.0 / RATE_HZ
    decay = math.exp(-dt / RATE_TIME_CONSTANT)
    kick = RATE_SIGMA * math.sqrt(1.0 - decay * decay)
    # Start from a random attitude: a uniformly distributed unit quaternion.
    attitude = [rng.gauss(0.0, 1.0) for _ in range(4)]
    norm = math.sqrt(sum(c * c for c in attitude))
    attitude = tuple(c / norm for c in attitude)
    rate = [rng.gauss(0.0, RATE_SIGMA) for _ in range(3)]
    samples, directions = [], []
    field_norm = math.sqrt(sum(c * c for c in FIELD_NED))
    for _ in range(SAMPLES):
        # device-to-world rotation; the field in device axes is its transpose times the field.
        device_to_world = quat_to_matrix(attitude)
        in_device = matvec(transpose(device_to_world), FIELD_NED)
        in_sensor = matvec(transpose(mount), in_device)
        directions.append([c / field_norm for c in in_sensor])
        distorted = matvec(soft, in_sensor)
        samples.append([distorted[i] + HARD_IRON[i] + rng.gauss(0.0, NOISE_SIGMA) for i in range(3)])
        # Advance: rate random walk, then integrate the attitude over one step (body rates).
        rate = [decay * r + kick * rng.gauss(0.0, 1.0) for r in rate]
        angle = math.sqrt(sum(r * r for r in rate)) * dt
        if angle > 0.0:
            axis = [r * dt / angle for r in rate]
            half = 0.5 * angle
            step = (math.cos(half), *(math.sin(half) * a for a in axis))
            attitude = quat_multiply(attitude, step)
            norm = math.sqrt(sum(c * c for c in attitude))
            attitude = tuple(c / norm for c in attitude)
    return samples, directions


def coverage(directions):
    """Fraction of 26 direction cells (cube faces, edges, corners) that the samples visit."""
    cells = set()
    for d in directions:
        cells.add(tuple(0 if abs(c) < 0.38 else (1 if c > 0 else -1) for c in d))
    cells.discard((0, 0, 0))
    return len(cells) / 26.0


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out_path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "examples", "mag.csv")
    samples, directions = generate(random.Random(SEED))
    with open(out_path, "w", newline="\n") as out:
        out.write("CAP_magX,CAP_magY,CAP_magZ\n")
        for s in samples:
            out.write(",".join("%.15g" % c for c in s) + "\n")

    ref = math.sqrt(sum(c * c for c in FIELD_NED))
    tolerance = 0.2
    inside = sum(1 for s in samples
                 if ref - ref * tolerance <= math.sqrt(sum(c * c for c in s)) <= ref + ref * tolerance)
    print("wrote %d samples to %s" % (len(samples), out_path))
    print("reference norm %.6f gauss; raw magnitudes within +-20%%: %d (%.1f %%)"
          % (ref, inside, 100.0 * inside / len(samples)))
    print("direction cells visited: %.0f %%" % (100.0 * coverage(directions)))
    print("soft iron matrix:")
    for row in soft_iron():
        print("  " + " ".join("%.6f" % c for c in row))


if __name__ == "__main__":
    main()
