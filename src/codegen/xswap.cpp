// Exchange of two runs of a fixed length in one buffer.
#include "xswap.h"

namespace coder {
namespace internal {
namespace blas {

namespace {

// Exchanges the runs of the given length starting at 1-based positions ix0 and iy0 of x.
void swapRuns(int length, double* x, int ix0, int iy0) {
  double* xs = x + (ix0 - 1);
  double* ys = x + (iy0 - 1);
  for (int k = 0; k < length; ++k) {
    const double temp = xs[k];
    xs[k] = ys[k];
    ys[k] = temp;
  }
}

}  // namespace

void xswap(double* x, int ix0, int iy0) {
  const int rows = 7;
  swapRuns(rows, x, ix0, iy0);
}

void b_xswap(double* x, int ix0, int iy0) {
  const int rows = 10;
  swapRuns(rows, x, ix0, iy0);
}

}  // namespace blas
}  // namespace internal
}  // namespace coder
