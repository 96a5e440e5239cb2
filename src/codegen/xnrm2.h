// Euclidean norms of runs of consecutive doubles by the scaled sum of squares, which neither
// overflows nor underflows harmfully; 1-based start positions.
#ifndef XNRM2_H
#define XNRM2_H

#include <cmath>

#include "coder_array.h"
#include "pairMath.h"

namespace coder {
namespace internal {
namespace blas {

// The scaled sum of squares behind every norm of this family, fed one element at a time: the
// running scale starts at 2^-563 so that tiny inputs do not underflow, and y is rescaled whenever
// a larger magnitude arrives. norm() = scale * sqrt(y). A NaN element makes the norm NaN.
struct ScaledSumOfSquares {
  double scale = 3.3121686421112381E-170;  // 2^-563
  double y = 0.0;

  void add(double x) {
    const double absxk = std::fabs(x);
    if (absxk > scale) {
      const double t = scale / absxk;
      y = y * t * t + 1.0;
      scale = absxk;
    } else {
      const double t = absxk / scale;
      y += t * t;
    }
  }
  // add() for x[0] .. x[count-1] in order. Two elements that both stay within the scale share
  // one vector division (the same quotients as two scalar ones).
  void addRun(const double* x, int count) {
    int k = 0;
    for (; k + 2 <= count; k += 2) {
      const double a0 = std::fabs(x[k]);
      const double a1 = std::fabs(x[k + 1]);
      if (a0 <= scale && a1 <= scale) {
        const Pair magnitudes = {a0, a1};
        const Pair t = magnitudes / splat(scale);
        y += t[0] * t[0];
        y += t[1] * t[1];
      } else {
        add(x[k]);
        add(x[k + 1]);
      }
    }
    for (; k < count; ++k) {
      add(x[k]);
    }
  }
  double norm() const { return scale * std::sqrt(y); }
};

// Euclidean norm of (x0, x1, x2) by the scaled sum of squares, which neither overflows for
// components near the largest double nor underflows for tiny ones: the steps of
// ScaledSumOfSquares, so the double of xnrm2 over the three. A NaN component makes the result
// NaN, an infinite one makes it infinite.
inline double scaledNorm3(double x0, double x1, double x2) {
  // 2^-563: the initial scale, below which components are squared relative to it.
  double scale = 3.3121686421112381e-170;
  double y;
  double absxk = std::fabs(x0);
  if (absxk > scale) {
    y = 1.0;
    scale = absxk;
  } else {
    const double t = absxk / scale;
    y = t * t;
  }
  const double rest[2] = {x1, x2};
  for (int k = 0; k < 2; ++k) {
    absxk = std::fabs(rest[k]);
    if (absxk > scale) {
      const double t = scale / absxk;
      y = (y * t) * t + 1.0;
      scale = absxk;
    } else {
      const double t = absxk / scale;
      y += t * t;
    }
  }
  return scale * std::sqrt(y);
}

// scaledNorm3 of two vectors at once, lane by lane: each lane takes the branch its own scalar
// computation takes (the quotient of a branch is formed by one division of the selected operands),
// so the two norms carry the bits of two scalar calls.
inline Pair scaledNorm3Pair(Pair x0, Pair x1, Pair x2) {
  Pair scale = splat(3.3121686421112381e-170);  // 2^-563
  Pair absxk = absPair(x0);
  const PairMask first = absxk > scale;
  if (!(first[0] && first[1])) {
    // A component at or below 2^-563 (or NaN) in the first place: rare, done one by one.
    return Pair{scaledNorm3(x0[0], x1[0], x2[0]), scaledNorm3(x0[1], x1[1], x2[1])};
  }
  Pair y = splat(1.0);
  scale = absxk;
  const Pair rest[2] = {x1, x2};
  for (int k = 0; k < 2; ++k) {
    absxk = absPair(rest[k]);
    const PairMask larger = absxk > scale;
    const Pair t = select(larger, scale, absxk) / select(larger, absxk, scale);
    y = select(larger, (y * t) * t + 1.0, y + t * t);
    scale = select(larger, absxk, scale);
  }
  return scale * sqrtPair(y);
}

// Norm of x(ix0) .. x(ix0+n-1); 0 for n < 1. A single element also goes through the scaled
// loop (its magnitude up to rounding). A NaN element gives NaN. No bounds are checked.
double xnrm2(int n, const double* x, int ix0);

// Same as the pointer form of xnrm2; the entry point of the 10-column decomposition.
double b_xnrm2(int n, const double* x, int ix0);

// Norm of x(ix0) .. x(ix0+n-1) in the element buffer of x; 0 for n < 1, exactly |x(ix0)| for
// n == 1.
double xnrm2(int n, const coder::array<double, 2>& x, int ix0);

// Norm of the tail of a 3-element vector: 0 for n < 1, exactly |x(2)| for n == 1, and the
// norm of x(2), x(3) for any n >= 2 (1-based positions).
double xnrm2(int n, const double* x);

}  // namespace blas
}  // namespace internal
}  // namespace coder

#endif
