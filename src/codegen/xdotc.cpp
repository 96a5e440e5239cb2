// Dot product of two runs of consecutive doubles, 1-based start positions.
#include "xdotc.h"

#include <cstdint>

namespace coder {
namespace internal {
namespace blas {

double xdotc(int n, const double* x, int ix0, const double* y, int iy0) {
  double d = 0.0;
  // The count is 8-bit; a negative n would otherwise wrap to a long read past the vectors.
  if (n < 1) {
    return d;
  }
  const int count = static_cast<std::uint8_t>(n);
  const double* xs = x + (ix0 - 1);
  const double* ys = y + (iy0 - 1);
  for (int k = 0; k < count; ++k) {
    d += xs[k] * ys[k];
  }
  return d;
}

double b_xdotc(int n, const double* x, int ix0, const double* y, int iy0) {
  return xdotc(n, x, ix0, y, iy0);
}

}  // namespace blas
}  // namespace internal
}  // namespace coder
