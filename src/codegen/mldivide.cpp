// Least-squares solve: LU for square systems, pivoted QR with a numerical rank otherwise.
#include "mldivide.h"

#include <cmath>
#include <vector>

#include "fixed_scratch.h"
#include "xgeqp3.h"

namespace coder {

namespace {

using internal::at;
using internal::kFixedColumns;
using internal::scratchBuffer;

// b_A := A, element for element.
void copyMatrix(const coder::array<double, 2>& A, coder::array<double, 2>& b_A) {
  b_A.set_size(A.size(0), A.size(1));
  const int count = A.numel();
  for (int k = 0; k < count; ++k) {
    b_A[k] = A[k];
  }
}

// Square case: LU with partial row pivoting of b_A (unblocked, right-looking, in place), then the
// row interchanges, the unit lower and the upper triangular solves applied to the first n entries
// of B. Exact zeros in B are neither divided nor propagated.
void solveSquare(coder::array<double, 2>& b_A, coder::array<double, 1>& B) {
  const int lda = b_A.size(0);
  const int n = lda < B.size(0) ? lda : B.size(0);
  int jpvtFixed[kFixedColumns];
  std::vector<int> jpvtHeap;
  int* jpvt_data = scratchBuffer(jpvtFixed, jpvtHeap, n);  // row exchanged with row k at step k

  for (int k = 0; k < n; ++k) {
    jpvt_data[k] = k + 1;
  }
  for (int j = 0; j < n - 1; ++j) {
    // Pivot: the first row of largest magnitude in rows j .. n-1 of column j.
    int p = j;
    double smax = std::fabs(at(b_A, lda, j, j));
    for (int r = j + 1; r < n; ++r) {
      const double s = std::fabs(at(b_A, lda, r, j));
      if (s > smax) {
        smax = s;
        p = r;
      }
    }
    if (at(b_A, lda, p, j) != 0.0) {
      if (p != j) {
        jpvt_data[j] = p + 1;
        for (int c = 0; c < n; ++c) {
          const double temp = at(b_A, lda, j, c);
          at(b_A, lda, j, c) = at(b_A, lda, p, c);
          at(b_A, lda, p, c) = temp;
        }
      }
      const double pivot = at(b_A, lda, j, j);
      for (int r = j + 1; r < n; ++r) {
        at(b_A, lda, r, j) /= pivot;
      }
    }
    // Rank-1 update of the trailing block, skipping columns whose row-j entry is 0.
    for (int c = j + 1; c < n; ++c) {
      const double upper = at(b_A, lda, j, c);
      if (upper != 0.0) {
        for (int r = j + 1; r < n; ++r) {
          at(b_A, lda, r, c) += -upper * at(b_A, lda, r, j);
        }
      }
    }
  }

  for (int k = 0; k < n - 1; ++k) {
    if (jpvt_data[k] != k + 1) {
      const double temp = B[k];
      B[k] = B[jpvt_data[k] - 1];
      B[jpvt_data[k] - 1] = temp;
    }
  }
  for (int k = 0; k < n; ++k) {
    if (B[k] != 0.0) {
      for (int i = k + 1; i < n; ++i) {
        B[i] -= B[k] * at(b_A, lda, i, k);
      }
    }
  }
  for (int k = n - 1; k >= 0; --k) {
    if (B[k] != 0.0) {
      B[k] /= at(b_A, lda, k, k);
      for (int i = 0; i < k; ++i) {
        B[i] -= B[k] * at(b_A, lda, i, k);
      }
    }
  }
}

// Rectangular case: pivoted QR of b_A (in place), numerical rank, Q'*B, and back substitution on
// the leading rank-by-rank block of R; unknowns beyond the rank stay exactly 0.
void solveRectangular(coder::array<double, 2>& b_A, coder::array<double, 1>& B) {
  const double sqrtEps = 1.4901161193847656e-08;  // 2^-26
  const double tenEps = 2.220446049250313e-15;    // 10 * 2.220446049250313e-16
  const int m = b_A.size(0);
  const int n = b_A.size(1);
  if (B.size(0) < m) {
    B.set_size(m);  // the missing right-hand side entries read as 0
  }

  double tauFixed[kFixedColumns];
  double yFixed[kFixedColumns];
  int jpvtFixed[kFixedColumns];
  std::vector<double> tauHeap;
  std::vector<double> yHeap;
  std::vector<int> jpvtHeap;
  double* tau_data = scratchBuffer(tauFixed, tauHeap, n);
  double* Y_data = scratchBuffer(yFixed, yHeap, n);
  int* jpvt_data = scratchBuffer(jpvtFixed, jpvtHeap, n);
  int jpvt_size[2];
  internal::lapack::xgeqp3(b_A, tau_data, jpvt_data, jpvt_size);

  // Numerical rank: leading diagonal entries of R above tol * |R(0,0)|; NaN passes.
  const int minmn = m < n ? m : n;
  const int maxmn = m < n ? n : m;
  int rankA = 0;
  if (minmn > 0) {
    const double tol = std::fmin(sqrtEps, tenEps * static_cast<double>(maxmn));
    const double threshold = tol * std::fabs(at(b_A, m, 0, 0));
    while (rankA < minmn && !(threshold >= std::fabs(at(b_A, m, rankA, rankA)))) {
      ++rankA;
    }
  }

  for (int j = 0; j < n; ++j) {
    Y_data[j] = 0.0;
  }
  // B := Q' * B, one reflector at a time: w = tau * (B[j] + sum of v(i) * B[i]), then B -= w * v
  // where w is not 0. The update of reflector j and the sum of reflector j+1 share one pass over
  // the rows: row i is updated before it enters the next sum, so every value is the one a pass of
  // its own would see.
  double w = 0.0;
  if (minmn > 0 && tau_data[0] != 0.0) {
    w = B[0];
    for (int i = 1; i < m; ++i) {
      w += at(b_A, m, i, 0) * B[i];
    }
    w *= tau_data[0];
  }
  for (int j = 0; j < minmn; ++j) {
    const bool update = tau_data[j] != 0.0 && w != 0.0;
    const bool nextSum = j + 1 < minmn && tau_data[j + 1] != 0.0;
    if (update) {
      B[j] -= w;
    }
    double next = 0.0;
    if (nextSum) {
      if (update && j + 1 < m) {
        B[j + 1] -= at(b_A, m, j + 1, j) * w;
      }
      next = B[j + 1];
      for (int i = j + 2; i < m; ++i) {
        if (update) {
          B[i] -= at(b_A, m, i, j) * w;
        }
        next += at(b_A, m, i, j + 1) * B[i];
      }
      next *= tau_data[j + 1];
    } else if (update) {
      for (int i = j + 1; i < m; ++i) {
        B[i] -= at(b_A, m, i, j) * w;
      }
    }
    w = next;
  }
  // Back substitution with R in the pivoted positions.
  for (int i = 0; i < rankA; ++i) {
    Y_data[jpvt_data[i] - 1] = B[i];
  }
  for (int j = rankA - 1; j >= 0; --j) {
    const int p = jpvt_data[j] - 1;
    Y_data[p] /= at(b_A, m, j, j);
    for (int i = 0; i < j; ++i) {
      Y_data[jpvt_data[i] - 1] -= Y_data[p] * at(b_A, m, i, j);
    }
  }
  B.set_size(n);
  for (int j = 0; j < n; ++j) {
    B[j] = Y_data[j];
  }
}

}  // namespace

void mldivide(const coder::array<double, 2>& A, coder::array<double, 1>& B) {
  coder::array<double, 2> b_A;
  if (A.size(0) == 0 || A.size(1) == 0 || B.size(0) == 0) {
    b_A.set_size(0, A.size(1));  // only the column count matters: the solution is n zeros
  } else {
    copyMatrix(A, b_A);
  }
  mldivideInPlace(b_A, B);
}

void mldivideInPlace(coder::array<double, 2>& A, coder::array<double, 1>& B) {
  if (A.size(0) == 0 || A.size(1) == 0 || B.size(0) == 0) {
    // set_size keeps the old leading values, so every entry is cleared explicitly.
    const int n = A.size(1);
    B.set_size(n);
    for (int k = 0; k < n; ++k) {
      B[k] = 0.0;
    }
  } else if (A.size(0) == A.size(1)) {
    solveSquare(A, B);
  } else {
    solveRectangular(A, B);
  }
}

}  // namespace coder
