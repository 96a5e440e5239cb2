// Rank-1 update of a matrix with leading dimension 3.
#include "xgerc.h"

#include <cstdint>

namespace coder {
namespace internal {
namespace blas {

void xgerc(int m, int n, double alpha1, int ix0, const double* y, double* A, int ia0) {
  // A negative count would wrap to 255 columns in the 8-bit count; treat it like 0.
  if (alpha1 == 0.0 || n < 1) {
    return;
  }
  const int leadingDim = 3;
  const int columns = static_cast<std::uint8_t>(n);
  for (int j = 0; j < columns; ++j) {
    const int jA = ia0 + leadingDim * j;
    double temp = y[j];
    if (temp != 0.0) {
      temp *= alpha1;
      // x is read from the buffer as the update proceeds, without a copy.
      for (int ijA = jA; ijA <= jA + m - 1; ++ijA) {
        A[ijA - 1] = A[ix0 + (ijA - jA) - 1] * temp + A[ijA - 1];
      }
    }
  }
}

}  // namespace blas
}  // namespace internal
}  // namespace coder
