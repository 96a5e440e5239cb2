// Rank-1 update of a matrix with leading dimension 3 by a vector stored in the matrix itself.
#ifndef XGERC_H
#define XGERC_H

namespace coder {
namespace internal {
namespace blas {

// A := A + alpha1 * x * y' over the m-by-n block at 1-based position ia0 of a leading-dimension-3
// matrix, where x is the run A(ix0) .. A(ix0+m-1) of the same buffer. The column count is n as
// an 8-bit value; columns whose y entry is exactly 0, and the whole update when alpha1 == 0, are
// skipped. No bounds are checked.
void xgerc(int m, int n, double alpha1, int ix0, const double* y, double* A, int ia0);

}  // namespace blas
}  // namespace internal
}  // namespace coder

#endif
