// Dot product of two runs of consecutive doubles, 1-based start positions.
#ifndef XDOTC_H
#define XDOTC_H

namespace coder {
namespace internal {
namespace blas {

// Sum of x(ix0+k)*y(iy0+k), k = 0 .. c-1 in increasing order, where the count c is n taken as
// an unsigned 8-bit value (n modulo 256); a count below 1 gives 0. No bounds are checked.
double xdotc(int n, const double* x, int ix0, const double* y, int iy0);

// Same as xdotc; the entry point of the 10-column decomposition.
double b_xdotc(int n, const double* x, int ix0, const double* y, int iy0);

}  // namespace blas
}  // namespace internal
}  // namespace coder

#endif
