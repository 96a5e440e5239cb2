// Generated IMU recordings for the vehicle tests: an accelerometer and a magnetometer in one
// device, moved by hand from pose to pose or turned about one axis, at a place whose field is
// given.
//
// The world frame is north-east-down. The device's attitude A maps its axes, which are the
// accelerometer's, to the world: v_world = A * v_device. Each sample is, as column vectors,
//   accel = A^T * (linear - gravity) + noise          gravity = (0, 0, 9.80665) m/s^2
//   mag   = softIron * field_mag + hardIron + noise    field_mag = mount^T * A^T * (field +
//   disturbance)
// with mount = accelFromMag (v_acc = mount * v_mag; orthogonal, improper for a mirrored set).
#ifndef FLUXTRIM_TESTS_IMU_RECORDING_H
#define FLUXTRIM_TESTS_IMU_RECORDING_H

#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "calibration_test_data.h"
#include "fluxtrim/types.hpp"

namespace imu_recording {

using fluxtrim::Matrix3;
using fluxtrim::Vec3;
using Quaternion = std::array<double, 4>;  // w, x, y, z
using calibration_test::multiply;
using calibration_test::transpose;

constexpr double kGravity = 9.80665;
constexpr double kPi = 3.14159265358979323846;

inline Matrix3 identity() {
  return {{{{1, 0, 0}}, {{0, 1, 0}}, {{0, 0, 1}}}};
}

inline Vec3 times(const Matrix3& m, const Vec3& v) {
  Vec3 p{};
  for (int r = 0; r < 3; ++r) {
    p[r] = m[r][0] * v[0] + m[r][1] * v[1] + m[r][2] * v[2];
  }
  return p;
}

// The rotation by angle_rad about the unit axis, as a quaternion and as a matrix.
inline Quaternion quaternion(const Vec3& axis, double angle_rad) {
  const double s = std::sin(0.5 * angle_rad);
  return {{std::cos(0.5 * angle_rad), s * axis[0], s * axis[1], s * axis[2]}};
}

inline Matrix3 matrix(const Quaternion& q) {
  const double w = q[0], x = q[1], y = q[2], z = q[3];
  return {{{{1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)}},
           {{2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)}},
           {{2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)}}}};
}

inline Matrix3 rotationAbout(const Vec3& axis, double angle_deg) {
  return matrix(quaternion(axis, angle_deg * kPi / 180.0));
}

// Spherical interpolation from p (at 0) to q (at 1) along the shorter arc.
inline Quaternion slerp(const Quaternion& p, Quaternion q, double t) {
  double cosine = p[0] * q[0] + p[1] * q[1] + p[2] * q[2] + p[3] * q[3];
  if (cosine < 0.0) {
    cosine = -cosine;
    for (double& c : q) {
      c = -c;
    }
  }
  const double angle = std::acos(std::fmin(1.0, cosine));
  const double a = angle < 1e-9 ? 1.0 - t : std::sin((1.0 - t) * angle) / std::sin(angle);
  const double b = angle < 1e-9 ? t : std::sin(t * angle) / std::sin(angle);
  return {{a * p[0] + b * q[0], a * p[1] + b * q[1], a * p[2] + b * q[2], a * p[3] + b * q[3]}};
}

struct Sample {
  Vec3 accel;  // m/s^2, accelerometer's axes
  Vec3 mag;    // the field's unit, magnetometer's axes, raw
  Vec3 down;   // the true down, unit, accelerometer's axes
  Vec3 field;  // the true field, magnetometer's axes
  bool still;  // no linear acceleration at this sample
};

struct Device {
  Vec3 field{{0.210496, 0.008728, 0.436157}};  // north, east, down; gauss (48.6 N, 3.3 E)
  Vec3 disturbance{{0.0, 0.0, 0.0}};           // a constant field added in the world
  Matrix3 accelFromMag = identity();
  Matrix3 softIron = identity();
  Vec3 hardIron{{0.0, 0.0, 0.0}};
  double magNoise = 0.001;   // per axis, field's unit
  double accelNoise = 0.03;  // per axis, m/s^2
  double linear = 2.5;       // peak linear acceleration while moving, m/s^2
  unsigned seed = 1;

  Sample sample(const Matrix3& attitude, const Vec3& linearAcceleration,
                std::mt19937& random) const {
    std::normal_distribution<double> normal(0.0, 1.0);
    const Matrix3 toDevice = transpose(attitude);
    const Vec3 force{
        {linearAcceleration[0], linearAcceleration[1], linearAcceleration[2] - kGravity}};
    Sample s;
    s.accel = times(toDevice, force);
    const Vec3 total{
        {field[0] + disturbance[0], field[1] + disturbance[1], field[2] + disturbance[2]}};
    const Vec3 inMag = times(transpose(accelFromMag), times(toDevice, total));
    s.mag = times(softIron, inMag);
    s.down = times(toDevice, Vec3{{0.0, 0.0, 1.0}});
    s.field = inMag;
    for (int k = 0; k < 3; ++k) {
      s.accel[k] += accelNoise * normal(random);
      s.mag[k] += hardIron[k] + magNoise * normal(random);
    }
    s.still = linearAcceleration[0] == 0.0 && linearAcceleration[1] == 0.0 &&
              linearAcceleration[2] == 0.0;
    return s;
  }

  // Held by hand in `poses` random attitudes for `hold` samples each (with a tremor of a tenth
  // of a degree), moved between them over `move` samples with a push and a stop of up to
  // `linear`.
  std::vector<Sample> handTumble(int poses, int hold = 40, int move = 30) const {
    std::mt19937 random(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    const auto randomAttitude = [&] {
      Quaternion q{{normal(random), normal(random), normal(random), normal(random)}};
      const double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
      for (double& c : q) {
        c /= n;
      }
      return q;
    };
    const auto randomDirection = [&] {
      Vec3 v{{normal(random), normal(random), normal(random)}};
      const double n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
      return Vec3{{v[0] / n, v[1] / n, v[2] / n}};
    };
    std::vector<Sample> samples;
    Quaternion current = randomAttitude();
    for (int pose = 0; pose < poses; ++pose) {
      for (int k = 0; k < hold; ++k) {
        const Matrix3 tremor = rotationAbout(randomDirection(), 0.1 * normal(random));
        samples.push_back(sample(multiply(matrix(current), tremor), Vec3{}, random));
      }
      const Quaternion next = randomAttitude();
      const Vec3 push = randomDirection();
      for (int k = 1; k <= move; ++k) {
        const double t = static_cast<double>(k) / move;
        const double a = linear * std::sin(2.0 * kPi * t);
        const Vec3 linearAcceleration{{a * push[0], a * push[1], a * push[2]}};
        samples.push_back(sample(matrix(slerp(current, next, t * t * (3.0 - 2.0 * t))),
                                 linearAcceleration, random));
      }
      current = next;
    }
    return samples;
  }

  // Turned `turns` times about the device's Z, which is tilted from down by tilt_deg about the
  // east axis; `count` samples, no linear acceleration.
  std::vector<Sample> turn(double tilt_deg, int count, double turns = 1.25) const {
    std::mt19937 random(seed);
    const Matrix3 tilt = rotationAbout(Vec3{{0.0, 1.0, 0.0}}, -tilt_deg);
    std::vector<Sample> samples;
    for (int k = 0; k < count; ++k) {
      const double heading = 360.0 * turns * k / count;
      const Matrix3 attitude = multiply(tilt, rotationAbout(Vec3{{0.0, 0.0, 1.0}}, heading));
      samples.push_back(sample(attitude, Vec3{}, random));
    }
    return samples;
  }
};

inline std::vector<Vec3> accelerations(const std::vector<Sample>& samples) {
  std::vector<Vec3> values;
  for (const Sample& s : samples) {
    values.push_back(s.accel);
  }
  return values;
}

inline std::vector<Vec3> magnetometer(const std::vector<Sample>& samples) {
  std::vector<Vec3> values;
  for (const Sample& s : samples) {
    values.push_back(s.mag);
  }
  return values;
}

}  // namespace imu_recording

#endif
