// Transposed matrix-vector product on a matrix with leading dimension 3.
#ifndef XGEMV_H
#define XGEMV_H

namespace coder {
namespace internal {
namespace blas {

// y(j+1) = sum over r = 0 .. m-1 of A(ia0 + 3j + r) * x(ix0 + r), for j = 0 .. n-1: y = A'*x
// over the m-by-n block of a leading-dimension-3 matrix starting at 1-based position ia0. y is
// left untouched for n < 1 and set to zeros for m < 1. No bounds are checked.
void xgemv(int m, int n, const double* A, int ia0, const double* x, int ix0, double* y);

}  // namespace blas
}  // namespace internal
}  // namespace coder

#endif
