// Cholesky factorisation of a symmetric 3-by-3 matrix, left-looking upper variant.
#include "chol.h"

#include <cmath>

namespace coder {
namespace internal {

namespace {

constexpr int kOrder = 3;

// Element (row, col), counted from 0, of the column-major 3-by-3 matrix A.
inline double& at(double A[9], int row, int col) {
  return A[row + kOrder * col];
}

}  // namespace

int chol(double A[9], int& jmax) {
  int info = 0;
  jmax = kOrder;
  for (int j = 0; j < kOrder; ++j) {
    // Pivot: A(j, j) less the squares of the finished part of column j of R.
    double ssq = 0.0;
    for (int k = 0; k < j; ++k) {
      ssq += at(A, k, j) * at(A, k, j);
    }
    double c = at(A, j, j) - ssq;
    if (!(c > 0.0)) {
      at(A, j, j) = c;
      jmax = j;
      info = j + 1;
      break;
    }
    c = std::sqrt(c);
    at(A, j, j) = c;
    if (j < kOrder - 1) {
      // Row j of R to the right of the diagonal.
      if (j > 0) {
        for (int col = j + 1; col < kOrder; ++col) {
          double dot = 0.0;
          for (int k = 0; k < j; ++k) {
            dot += at(A, k, j) * at(A, k, col);
          }
          at(A, j, col) -= dot;
        }
      }
      const double recip = 1.0 / c;
      for (int col = j + 1; col < kOrder; ++col) {
        at(A, j, col) *= recip;
      }
    }
  }
  // Clear the strictly lower triangle of the factored block.
  for (int col = 0; col + 1 < jmax; ++col) {
    for (int row = col + 1; row < jmax; ++row) {
      at(A, row, col) = 0.0;
    }
  }
  return info;
}

}  // namespace internal
}  // namespace coder
