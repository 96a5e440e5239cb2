// Principal square root of a real 3-by-3 matrix.
#ifndef SQRTM_H
#define SQRTM_H

#include "rtwtypes.h"

namespace coder {

// X = principal square root of the column-major 3-by-3 matrix A (X*X = A), by the complex Schur
// method. Imaginary parts are cleared when their 1-norm is at most 10 * 3 * eps times the
// 1-norm of X. Any non-finite element of A makes X NaN throughout. A singular A is not detected
// (zero or cancelling roots give infinities or NaNs).
void sqrtm(const double A[9], creal_T X[9]);

}  // namespace coder

#endif
