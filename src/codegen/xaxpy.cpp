// y := a*x + y on runs of consecutive doubles, 1-based start positions.
#include "xaxpy.h"

namespace coder {
namespace internal {
namespace blas {

namespace {

// target[k] = a*source[k] + target[k] for k = 0 .. n-1 in increasing order. The runs may lie in
// one buffer: each source element is read just before its target element is written. The
// callers skip n < 1 and a == 0 before forming the run pointers.
void axpyRun(int n, double a, const double* source, double* target) {
  for (int k = 0; k < n; ++k) {
    target[k] = a * source[k] + target[k];
  }
}

}  // namespace

void xaxpy(int n, double a, int ix0, double* y, int iy0) {
  if (n < 1 || a == 0.0) {
    return;
  }
  axpyRun(n, a, y + (ix0 - 1), y + (iy0 - 1));
}

void b_xaxpy(int n, double a, int ix0, double* y, int iy0) {
  xaxpy(n, a, ix0, y, iy0);
}

void xaxpy(int n, double a, const coder::array<double, 2>& x, int ix0, coder::array<double, 1>& y,
           int iy0) {
  if (n < 1 || a == 0.0) {
    return;
  }
  axpyRun(n, a, x.data() + (ix0 - 1), y.data() + (iy0 - 1));
}

void xaxpy(int n, double a, const coder::array<double, 1>& x, int ix0, coder::array<double, 2>& y,
           int iy0) {
  if (n < 1 || a == 0.0) {
    return;
  }
  axpyRun(n, a, x.data() + (ix0 - 1), y.data() + (iy0 - 1));
}

void xaxpy(int n, double a, int ix0, coder::array<double, 2>& y, int iy0) {
  if (n < 1 || a == 0.0) {
    return;
  }
  double* buffer = y.data();
  axpyRun(n, a, buffer + (ix0 - 1), buffer + (iy0 - 1));
}

}  // namespace blas
}  // namespace internal
}  // namespace coder
