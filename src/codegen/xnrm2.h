// Euclidean norms of runs of consecutive doubles by the scaled sum of squares, which neither
// overflows nor underflows harmfully; 1-based start positions.
#ifndef XNRM2_H
#define XNRM2_H

#include "coder_array.h"

namespace coder {
namespace internal {
namespace blas {

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
