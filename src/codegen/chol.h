// Cholesky factorisation of a symmetric 3-by-3 matrix, doubling as a positive-definiteness test.
#ifndef CHOL_H
#define CHOL_H

namespace coder {
namespace internal {

// Factors A = R'*R in place (R upper triangular), reading only the upper triangle of the
// column-major 3-by-3 A (element (i, j) at A[i + 3*j]). Returns 0 on success, otherwise the
// 1-based index of the first column whose pivot is not positive (a NaN pivot included); jmax
// receives the order of the factored block (3, or that column's 0-based index). On failure at
// column j the pivot value is left in A(j, j) and rows j .. 2 are otherwise untouched. The
// strictly lower triangle of the factored block is set to 0.
int chol(double A[9], int& jmax);

}  // namespace internal
}  // namespace coder

#endif
