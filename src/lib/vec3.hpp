// Small helpers on three-component vectors, the one home of the library's vector arithmetic.
// Every magnitude that an acceptance window compares or a figure is made of goes through norm(),
// the calibration core's scaled Euclidean norm, so that it is the very double the core compares
// (the fit, the diagnostics, which window a sample of the report's histograms reached); only the
// positions of the histograms' bars take approximateNorm().
#ifndef FLUXTRIM_LIB_VEC3_HPP
#define FLUXTRIM_LIB_VEC3_HPP

#include <array>
#include <cmath>
#include <string>

#include "fluxtrim/types.hpp"
#include "xnrm2.h"

namespace fluxtrim {
namespace detail {

// The names of the sensor axes, by index.
constexpr char kAxisNames[3] = {'X', 'Y', 'Z'};

// (a0 b0 + a1 b1) + a2 b2, summed in that order.
inline double dot(const Vec3& a, const Vec3& b) {
  return (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2];
}

// |v|, the core's scaled norm (no overflow or underflow for any finite v); NaN when a component
// is NaN. Both lanes of the core's two-lane norm take v: no branch on the components' order.
inline double norm(const Vec3& v) {
  using coder::internal::splat;
  return coder::internal::blas::scaledNorm3Pair(splat(v[0]), splat(v[1]), splat(v[2]))[0];
}

// {|a|, |b|}, each the double of norm(): two norms for the price of one.
inline std::array<double, 2> norms(const Vec3& a, const Vec3& b) {
  using coder::internal::Pair;
  const Pair n =
      coder::internal::blas::scaledNorm3Pair(Pair{a[0], b[0]}, Pair{a[1], b[1]}, Pair{a[2], b[2]});
  return {{n[0], n[1]}};
}

// |v| from the plain square root of (v0^2 + v1^2) + v2^2, where that sum neither overflows nor
// underflows (otherwise norm()): within a rounding or two of norm(), for magnitudes that are only
// shown, never compared with a window. NaN when a component is NaN.
// Inline wherever it is called: the report takes it for every sample.
[[gnu::always_inline]] inline std::array<double, 2> approximateNorms(const Vec3& a, const Vec3& b) {
  using coder::internal::Pair;
  const Pair x = {a[0], b[0]};
  const Pair y = {a[1], b[1]};
  const Pair z = {a[2], b[2]};
  const Pair squares = (x * x + y * y) + z * z;
  const Pair n = coder::internal::sqrtPair(squares);
  const auto plain = [](double s) { return s >= 1e-290 && s <= 1e290; };
  return {{plain(squares[0]) ? n[0] : norm(a), plain(squares[1]) ? n[1] : norm(b)}};
}
inline double approximateNorm(const Vec3& v) {
  return approximateNorms(v, v)[0];
}

inline Vec3 difference(const Vec3& a, const Vec3& b) {
  return {{a[0] - b[0], a[1] - b[1], a[2] - b[2]}};
}

inline Vec3 sum(const Vec3& a, const Vec3& b) {
  return {{a[0] + b[0], a[1] + b[1], a[2] + b[2]}};
}

inline Vec3 scaled(const Vec3& v, double k) {
  return {{v[0] * k, v[1] * k, v[2] * k}};
}

inline Vec3 cross(const Vec3& a, const Vec3& b) {
  return {{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]}};
}

// v / |v|; NaN components for a zero v.
inline Vec3 normalised(const Vec3& v) {
  const double n = norm(v);
  return {{v[0] / n, v[1] / n, v[2] / n}};
}

inline bool isFinite(const Vec3& v) {
  return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

inline bool isZero(const Vec3& v) {
  return v[0] == 0.0 && v[1] == 0.0 && v[2] == 0.0;
}

// The index of the component of largest magnitude, the first of equals: the sensor axis nearest
// to the direction v.
inline int dominantAxis(const Vec3& v) {
  int k = 0;
  for (int j = 1; j < 3; ++j) {
    if (std::fabs(v[j]) > std::fabs(v[k])) {
      k = j;
    }
  }
  return k;
}

// "+Z", "-X": the signed sensor axis nearest to the direction v.
inline std::string nearestAxis(const Vec3& v) {
  const int k = dominantAxis(v);
  return std::string(v[k] < 0.0 ? "-" : "+") + kAxisNames[k];
}

}  // namespace detail
}  // namespace fluxtrim

#endif
