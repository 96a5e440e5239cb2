#!/usr/bin/python3
"""Writes examples/imu.csv: an IMU turned by hand from pose to pose, its magnetometer mounted
rotated against its accelerometer and gyroscope.

Columns: t (s), ax, ay, az (m/s^2, the specific force: +9.81 on the axis pointing up at rest),
gx, gy, gz (deg/s), mx, my, mz (uT). 50 samples per second.

The place is latitude 48.5578 deg N, longitude 3.2914 deg E, 89 m above the ellipsoid, on
2026-12-08, where the model field is (21.0496, 0.8728, 43.6157) uT north/east/down (`fluxtrim
field --lat 48.5578 --lon 3.2914 --alt 89 --date 2026-12-08`). The device (the accelerometer's
axes) is held still in a random pose for a second, moved to the next with a push and a stop, and
so on; each sample is, as column vectors,

    accel = A^T (linear - gravity) + noise
    gyro  = body rate + bias + noise
    mag   = SOFT_IRON (MOUNT^T A^T field) + HARD_IRON + noise

with A the device-to-world rotation (north-east-down). MOUNT maps the magnetometer's axes to the
accelerometer's: the named orientation "roll 180 yaw 90" (Rz(90) Rx(180): the magnetometer's X
along the accelerometer's Y, its Y along X, its Z reversed) turned a further 1.2 degrees. The
seed is fixed: the same file comes out on every run. Usage: tools/gen_imu_example.py [output]
"""

import os
import sys

import numpy as np

SEED = 20261208
RATE_HZ = 50.0
POSES = 26
HOLD = 50  # samples held still in each pose
MOVE = 40  # samples of each move

GRAVITY = 9.80665  # m/s^2
FIELD_NED = np.array([21.049553, 0.872786, 43.615734])  # uT

HARD_IRON = np.array([14.0, -9.5, 21.0])  # uT, magnetometer's axes
SOFT_IRON = np.array([[1.06, 0.02, -0.03],
                      [0.02, 0.97, 0.04],
                      [-0.03, 0.04, 0.98]])
MIS_AXIS = np.array([0.6, -0.48, 0.64])  # unit
MIS_DEG = 1.2

MAG_NOISE = 0.15  # uT per axis
ACCEL_NOISE = 0.04  # m/s^2 per axis
GYRO_NOISE = 0.1  # deg/s per axis
GYRO_BIAS = np.array([0.3, -0.2, 0.1])  # deg/s
PUSH = 2.5  # peak linear acceleration of a move, m/s^2
SWAY_DEG = 0.3  # slow sway of the hand while holding, degrees
SWAY_HZ = 0.5


def axis_rotation(axis, degrees):
    """Right-handed rotation of a vector by degrees about X (0), Y (1) or Z (2)."""
    a = np.radians(degrees)
    c, s = np.cos(a), np.sin(a)
    i, j = (axis + 1) % 3, (axis + 2) % 3
    r = np.eye(3)
    r[i, i], r[i, j], r[j, i], r[j, j] = c, -s, s, c
    return r


def quat_matrix(q):
    w, x, y, z = q
    return np.array([[1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)],
                     [2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)],
                     [2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)]])


def quat_about(axis, radians):
    return np.concatenate(([np.cos(0.5 * radians)], np.sin(0.5 * radians) * axis))


def quat_multiply(p, q):
    pw, px, py, pz = p
    qw, qx, qy, qz = q
    return np.array([pw * qw - px * qx - py * qy - pz * qz,
                     pw * qx + px * qw + py * qz - pz * qy,
                     pw * qy - px * qz + py * qw + pz * qx,
                     pw * qz + px * qy - py * qx + pz * qw])


def slerp(p, q, t):
    cosine = float(np.dot(p, q))
    if cosine < 0.0:
        q, cosine = -q, -cosine
    angle = np.arccos(min(1.0, cosine))
    if angle < 1e-9:
        return p
    return (np.sin((1 - t) * angle) * p + np.sin(t * angle) * q) / np.sin(angle)


def unit(v):
    return v / np.linalg.norm(v)


def mounting():
    named = axis_rotation(2, 90) @ axis_rotation(0, 180)
    return named @ quat_matrix(quat_about(MIS_AXIS, np.radians(MIS_DEG)))


def motion(rng):
    """Attitude quaternions (device to world) and linear accelerations (world, m/s^2)."""
    attitudes, linear = [], []
    current = unit(rng.standard_normal(4))
    for _ in range(POSES):
        sway_axis = unit(rng.standard_normal(3))
        for k in range(HOLD):
            angle = np.radians(SWAY_DEG) * np.sin(2 * np.pi * SWAY_HZ * k / RATE_HZ)
            attitudes.append(quat_multiply(current, quat_about(sway_axis, angle)))
            linear.append(np.zeros(3))
        held = attitudes[-1]
        following = unit(rng.standard_normal(4))
        push = unit(rng.standard_normal(3))
        for k in range(1, MOVE + 1):
            t = k / MOVE
            attitudes.append(slerp(held, following, t * t * (3 - 2 * t)))
            linear.append(PUSH * np.sin(2 * np.pi * t) * push)
        current = following
    return attitudes, linear


def body_rates(attitudes):
    """deg/s in the device's axes: the rotation from each attitude to the next over one step."""
    rates = []
    for k in range(len(attitudes)):
        p = attitudes[k]
        q = attitudes[min(k + 1, len(attitudes) - 1)]
        relative = quat_multiply(p * np.array([1, -1, -1, -1]), q)
        if relative[0] < 0:
            relative = -relative
        sine = np.linalg.norm(relative[1:])
        angle = 2 * np.arctan2(sine, relative[0])
        axis = relative[1:] / sine if sine > 0 else np.zeros(3)
        rates.append(np.degrees(angle * RATE_HZ) * axis)
    return rates


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out_path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "examples", "imu.csv")
    rng = np.random.default_rng(SEED)
    attitudes, linear = motion(rng)
    rates = body_rates(attitudes)
    mount = mounting()
    gravity = np.array([0.0, 0.0, GRAVITY])
    with open(out_path, "w", newline="\n") as out:
        out.write("t,ax,ay,az,gx,gy,gz,mx,my,mz\n")
        for k, (q, a) in enumerate(zip(attitudes, linear)):
            to_device = quat_matrix(q).T
            accel = to_device @ (a - gravity) + ACCEL_NOISE * rng.standard_normal(3)
            gyro = rates[k] + GYRO_BIAS + GYRO_NOISE * rng.standard_normal(3)
            field = mount.T @ (to_device @ FIELD_NED)
            mag = SOFT_IRON @ field + HARD_IRON + MAG_NOISE * rng.standard_normal(3)
            out.write("%.2f,%s,%s,%s\n" % (k / RATE_HZ, ",".join("%.3f" % v for v in accel),
                                           ",".join("%.2f" % v for v in gyro),
                                           ",".join("%.2f" % v for v in mag)))
    inclination = np.degrees(np.arctan2(FIELD_NED[2], np.hypot(FIELD_NED[0], FIELD_NED[1])))
    print("wrote %d samples to %s" % (len(attitudes), out_path))
    print("mounting: roll 180 yaw 90, turned a further %.1f deg; inclination %.2f deg"
          % (MIS_DEG, inclination))
    print("mounting matrix (v_acc = M v_mag):")
    for row in mount:
        print("  " + " ".join("%9.6f" % c for c in row))


if __name__ == "__main__":
    main()
