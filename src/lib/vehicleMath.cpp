#include "vehicleMath.hpp"

#include <string>

#include "fluxtrim/error.hpp"
#include "symmetricEigen.hpp"

namespace fluxtrim {
namespace detail {

Matrix3 identity3() {
  return {{{{1.0, 0.0, 0.0}}, {{0.0, 1.0, 0.0}}, {{0.0, 0.0, 1.0}}}};
}

Matrix3 multiply(const Matrix3& a, const Matrix3& b) {
  Matrix3 p{};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      p[r][c] = a[r][0] * b[0][c] + a[r][1] * b[1][c] + a[r][2] * b[2][c];
    }
  }
  return p;
}

Matrix3 transpose(const Matrix3& a) {
  Matrix3 t{};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      t[r][c] = a[c][r];
    }
  }
  return t;
}

Vec3 times(const Matrix3& m, const Vec3& v) {
  return {{dot(m[0], v), dot(m[1], v), dot(m[2], v)}};
}

double determinant(const Matrix3& a) {
  return dot(a[0], cross(a[1], a[2]));
}

Matrix3 rotationFromVector(const Vec3& w) {
  const double angle = norm(w);
  if (!(angle > 0.0)) {
    return identity3();
  }
  const Vec3 k = scaled(w, 1.0 / angle);
  const double c = std::cos(angle);
  const double s = std::sin(angle);
  const double t = 1.0 - c;
  return {{{{c + t * k[0] * k[0], t * k[0] * k[1] - s * k[2], t * k[0] * k[2] + s * k[1]}},
           {{t * k[1] * k[0] + s * k[2], c + t * k[1] * k[1], t * k[1] * k[2] - s * k[0]}},
           {{t * k[2] * k[0] - s * k[1], t * k[2] * k[1] + s * k[0], c + t * k[2] * k[2]}}}};
}

double rotationAngle(const Matrix3& r) {
  // 2 sin(angle) is the length of the skew part's vector, 2 cos(angle) + 1 the trace.
  const Vec3 skew{{r[2][1] - r[1][2], r[0][2] - r[2][0], r[1][0] - r[0][1]}};
  return std::atan2(0.5 * norm(skew), 0.5 * (r[0][0] + r[1][1] + r[2][2] - 1.0));
}

bool polarFactor(const Matrix3& a, Matrix3& q) {
  const Matrix3 gram = multiply(transpose(a), a);
  Vec3 values{};
  Matrix3 vectors{};
  symmetricEigen3(gram, values, vectors);
  // Below this fraction of the largest eigenvalue a is taken as singular: its columns then fix no
  // rotation.
  constexpr double kSingular = 1e-12;
  if (!(values[0] > kSingular * values[2]) || !std::isfinite(values[2])) {
    return false;
  }
  // (a^T a)^(-1/2) = V diag(1 / sqrt(values)) V^T.
  Matrix3 inverseRoot{};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      double sum = 0.0;
      for (int k = 0; k < 3; ++k) {
        sum += vectors[r][k] * vectors[c][k] / std::sqrt(values[k]);
      }
      inverseRoot[r][c] = sum;
    }
  }
  q = multiply(a, inverseRoot);
  return true;
}

bool choleskySolve(double* a, double* b, int n) {
  const auto at = [a, n](int r, int c) -> double& { return a[r * n + c]; };
  for (int j = 0; j < n; ++j) {
    double pivot = at(j, j);
    for (int k = 0; k < j; ++k) {
      pivot -= at(j, k) * at(j, k);
    }
    if (!(pivot > 0.0) || !std::isfinite(pivot)) {
      return false;
    }
    at(j, j) = std::sqrt(pivot);
    for (int i = j + 1; i < n; ++i) {
      double sum = at(i, j);
      for (int k = 0; k < j; ++k) {
        sum -= at(i, k) * at(j, k);
      }
      at(i, j) = sum / at(j, j);
    }
  }
  // L y = b, then L^T x = y.
  for (int i = 0; i < n; ++i) {
    double sum = b[i];
    for (int k = 0; k < i; ++k) {
      sum -= at(i, k) * b[k];
    }
    b[i] = sum / at(i, i);
  }
  for (int i = n - 1; i >= 0; --i) {
    double sum = b[i];
    for (int k = i + 1; k < n; ++k) {
      sum -= at(k, i) * b[k];
    }
    b[i] = sum / at(i, i);
  }
  return true;
}

void checkQuasiStatic(const QuasiStatic& steady, std::size_t samples) {
  if (steady.indices.size() != steady.down.size()) {
    throw UsageError("quasi-static samples: " + std::to_string(steady.indices.size()) +
                     " indices but " + std::to_string(steady.down.size()) + " down vectors");
  }
  for (const std::size_t index : steady.indices) {
    if (index >= samples) {
      throw UsageError("quasi-static sample " + std::to_string(index) + " is beyond the " +
                       std::to_string(samples) + " magnetometer samples");
    }
  }
}

}  // namespace detail
}  // namespace fluxtrim
