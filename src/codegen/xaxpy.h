// y := a*x + y on runs of consecutive doubles (unit stride), 1-based start positions.
#ifndef XAXPY_H
#define XAXPY_H

#include "coder_array.h"

namespace coder {
namespace internal {
namespace blas {

// y(iy0+k) += a*y(ix0+k), k = 0 .. n-1, both runs in the one buffer y (1-based positions).
// Nothing happens for n < 1 or a == 0 exactly (a NaN a is applied). No bounds are checked.
void xaxpy(int n, double a, int ix0, double* y, int iy0);

// Same as the pointer form of xaxpy; the entry point of the 10-column decomposition.
void b_xaxpy(int n, double a, int ix0, double* y, int iy0);

// y(iy0+k) += a*x(ix0+k) on the element buffers of x (any shape) and y; 1-based positions.
void xaxpy(int n, double a, const coder::array<double, 2>& x, int ix0, coder::array<double, 1>& y,
           int iy0);

// y(iy0+k) += a*x(ix0+k) on the element buffers of x and y (any shape); 1-based positions.
void xaxpy(int n, double a, const coder::array<double, 1>& x, int ix0, coder::array<double, 2>& y,
           int iy0);

// y(iy0+k) += a*y(ix0+k), both runs in the element buffer of y; 1-based positions.
void xaxpy(int n, double a, int ix0, coder::array<double, 2>& y, int iy0);

}  // namespace blas
}  // namespace internal
}  // namespace coder

#endif
