// Transposed matrix-vector product on a matrix with leading dimension 3.
#include "xgemv.h"

#include <cstdint>

#include "staticMagCalibration_rtwutil.h"

namespace coder {
namespace internal {
namespace blas {

void xgemv(int m, int n, const double* A, int ia0, const double* x, int ix0, double* y) {
  // A negative count would wrap to 255 entries in the 8-bit clear below; treat it like 0.
  if (n < 1) {
    return;
  }
  const int leadingDim = 3;
  const int cleared = static_cast<std::uint8_t>(n);
  for (int j = 0; j < cleared; ++j) {
    y[j] = 0.0;
  }
  const int lastColumnStart = ia0 + leadingDim * (n - 1);
  for (int iac = ia0; iac <= lastColumnStart; iac += leadingDim) {
    double c = 0.0;
    for (int ia = iac; ia <= iac + m - 1; ++ia) {
      c += A[ia - 1] * x[ix0 + (ia - iac) - 1];
    }
    const int j = div_nde_s32_floor(iac - ia0);
    y[j] += c;
  }
}

}  // namespace blas
}  // namespace internal
}  // namespace coder
