// Plane rotation of two runs of a fixed length in one buffer.
#include "xrot.h"

namespace coder {
namespace internal {
namespace blas {

namespace {

// Rotates the runs of the given length starting at 1-based positions ix0 and iy0 of x.
void rotateRuns(int length, double* x, int ix0, int iy0, double c, double s) {
  double* xs = x + (ix0 - 1);
  double* ys = x + (iy0 - 1);
  for (int k = 0; k < length; ++k) {
    const double xv = xs[k];
    const double yv = ys[k];
    ys[k] = c * yv - s * xv;
    xs[k] = c * xv + s * yv;
  }
}

}  // namespace

void xrot(double* x, int ix0, int iy0, double c, double s) {
  const int rows = 7;
  rotateRuns(rows, x, ix0, iy0, c, s);
}

void b_xrot(double* x, int ix0, int iy0, double c, double s) {
  const int rows = 10;
  rotateRuns(rows, x, ix0, iy0, c, s);
}

}  // namespace blas
}  // namespace internal
}  // namespace coder
