// Euclidean norms by the scaled sum of squares.
#include "xnrm2.h"

#include <cmath>

namespace coder {
namespace internal {
namespace blas {

namespace {

// scale * sqrt(y) over count >= 1 consecutive elements.
double scaledNorm(const double* first, int count) {
  ScaledSumOfSquares sum;
  sum.addRun(first, count);
  return sum.norm();
}

}  // namespace

double xnrm2(int n, const double* x, int ix0) {
  if (n < 1) {
    return 0.0;
  }
  return scaledNorm(x + (ix0 - 1), n);
}

double b_xnrm2(int n, const double* x, int ix0) {
  return xnrm2(n, x, ix0);
}

double xnrm2(int n, const coder::array<double, 2>& x, int ix0) {
  if (n < 1) {
    return 0.0;
  }
  const double* first = x.data() + (ix0 - 1);
  if (n == 1) {
    return std::fabs(first[0]);
  }
  return scaledNorm(first, n);
}

double xnrm2(int n, const double* x) {
  if (n < 1) {
    return 0.0;
  }
  if (n == 1) {
    return std::fabs(x[1]);
  }
  return scaledNorm(x + 1, 2);
}

}  // namespace blas
}  // namespace internal
}  // namespace coder
