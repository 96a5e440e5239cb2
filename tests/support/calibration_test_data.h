// Synthetic magnetometer samples with a known calibration, shared by the calibration tests.
//
// A sample m (row vector) is generated as m = offset + field * u * inverse(S) + noise, for a unit
// direction u, so the true calibration (m - offset) * S maps it (noise aside) onto the sphere of
// radius field. S is symmetric positive definite, built as Q * diag(gains) * Q' for a rotation Q.
// sampleMatrix packs such samples as the N-by-3 matrix that the calibration core takes.
#ifndef FLUXTRIM_TESTS_CALIBRATION_TEST_DATA_H
#define FLUXTRIM_TESTS_CALIBRATION_TEST_DATA_H

#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "coder_array.h"

namespace calibration_test {

using Vec3 = std::array<double, 3>;
// Row-major 3-by-3 matrix: m[r][c].
using Mat3 = std::array<std::array<double, 3>, 3>;

inline Mat3 multiply(const Mat3& a, const Mat3& b) {
  Mat3 p{};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      for (int k = 0; k < 3; ++k) {
        p[r][c] += a[r][k] * b[k][c];
      }
    }
  }
  return p;
}

inline Mat3 transpose(const Mat3& a) {
  Mat3 t{};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      t[r][c] = a[c][r];
    }
  }
  return t;
}

inline double determinant(const Mat3& a) {
  return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
         a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
         a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
}

// Rotation about x by ax, then y by ay, then z by az (radians).
inline Mat3 rotation(double ax, double ay, double az) {
  const Mat3 rx = {{{1, 0, 0}, {0, std::cos(ax), -std::sin(ax)}, {0, std::sin(ax), std::cos(ax)}}};
  const Mat3 ry = {{{std::cos(ay), 0, std::sin(ay)}, {0, 1, 0}, {-std::sin(ay), 0, std::cos(ay)}}};
  const Mat3 rz = {{{std::cos(az), -std::sin(az), 0}, {std::sin(az), std::cos(az), 0}, {0, 0, 1}}};
  return multiply(rz, multiply(ry, rx));
}

// Q * diag(d) * Q'.
inline Mat3 symmetric(const Mat3& q, const Vec3& d) {
  Mat3 diag{};
  for (int k = 0; k < 3; ++k) {
    diag[k][k] = d[k];
  }
  return multiply(q, multiply(diag, transpose(q)));
}

// The matrix scaled to determinant 1 (the calibration is only defined up to that scale).
inline Mat3 unitDeterminant(const Mat3& a) {
  const double scale = std::cbrt(determinant(a));
  Mat3 n = a;
  for (auto& row : n) {
    for (double& v : row) {
      v /= scale;
    }
  }
  return n;
}

// Which directions the sensor was turned through.
enum class Coverage {
  kFullSphere,  // uniformly over all directions
  kHemisphere,  // directions with u_z >= 0 only
  kBand,        // directions within 30 degrees of the x-y plane (|u_z| <= 0.5)
};

struct Truth {
  Vec3 offset;   // hard-iron offset, gauss
  Vec3 gains;    // eigenvalues of the soft-iron correction S
  Mat3 axes;     // rotation whose columns are S's principal axes
  double field;  // field strength after correction, gauss
  Mat3 correction() const { return symmetric(axes, gains); }
};

// count samples of the truth over the coverage, with independent Gaussian noise of standard
// deviation noiseSigma (gauss) on each axis. Deterministic for a given seed.
inline std::vector<Vec3> generate(const Truth& truth, int count, Coverage coverage,
                                  double noiseSigma, unsigned seed) {
  std::mt19937_64 random(seed);
  std::normal_distribution<double> gauss(0.0, 1.0);
  const Mat3 distortion =
      symmetric(truth.axes, {1.0 / truth.gains[0], 1.0 / truth.gains[1], 1.0 / truth.gains[2]});
  std::vector<Vec3> samples;
  samples.reserve(count);
  while (static_cast<int>(samples.size()) < count) {
    Vec3 u = {gauss(random), gauss(random), gauss(random)};
    const double norm = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
    if (norm == 0.0) {
      continue;
    }
    for (double& c : u) {
      c /= norm;
    }
    if ((coverage == Coverage::kHemisphere && u[2] < 0.0) ||
        (coverage == Coverage::kBand && std::fabs(u[2]) > 0.5)) {
      continue;
    }
    Vec3 m;
    for (int c = 0; c < 3; ++c) {
      double distorted = 0.0;
      for (int k = 0; k < 3; ++k) {
        distorted += u[k] * distortion[k][c];
      }
      m[c] = truth.offset[c] + truth.field * distorted + noiseSigma * gauss(random);
    }
    samples.push_back(m);
  }
  return samples;
}

// count samples of a device held in one pose and never turned: the field vector `held`, its
// direction wobbling by about wobble_rad on each axis (a hand that holds the device still), with
// Gaussian noise of noiseSigma on each axis. Deterministic for a given seed.
inline std::vector<Vec3> heldStill(const Vec3& held, int count, double wobble_rad,
                                   double noiseSigma, unsigned seed) {
  std::mt19937_64 random(seed);
  std::normal_distribution<double> gauss(0.0, 1.0);
  std::vector<Vec3> samples;
  for (int k = 0; k < count; ++k) {
    const Mat3 turn = rotation(wobble_rad * gauss(random), wobble_rad * gauss(random),
                               wobble_rad * gauss(random));
    Vec3 m{};
    for (int c = 0; c < 3; ++c) {
      for (int j = 0; j < 3; ++j) {
        m[c] += turn[c][j] * held[j];
      }
      m[c] += noiseSigma * gauss(random);
    }
    samples.push_back(m);
  }
  return samples;
}

// The samples as a sensor's integer counts: each component times countsPerUnit, rounded.
inline std::vector<Vec3> toCounts(std::vector<Vec3> samples, double countsPerUnit) {
  for (Vec3& v : samples) {
    for (double& c : v) {
      c = std::round(c * countsPerUnit);
    }
  }
  return samples;
}

// The samples as the core's N-by-3 column-major sample matrix: sample i is row i.
inline coder::array<double, 2> sampleMatrix(const std::vector<Vec3>& rows) {
  coder::array<double, 2> m;
  const int n = static_cast<int>(rows.size());
  m.set_size(n, 3);
  for (int i = 0; i < n; ++i) {
    for (int c = 0; c < 3; ++c) {
      m[i + n * c] = rows[i][c];
    }
  }
  return m;
}

}  // namespace calibration_test

#endif
