// Cholesky factorisation of 3-by-3 matrices: the factor, failure reporting and what each outcome
// leaves in the matrix.
#include <cmath>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "chol.h"

namespace {

using coder::internal::chol;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Column-major 3-by-3 from rows.
void fromRows(const double rows[3][3], double A[9]) {
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      A[r + 3 * c] = rows[r][c];
    }
  }
}

TEST(Chol, PositiveDefiniteMatricesFactorAndLowerTriangleIsIgnored) {
  double I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  int jmax = -1;
  EXPECT_EQ(chol(I, jmax), 0);
  EXPECT_EQ(jmax, 3);
  for (int k = 0; k < 9; ++k) {
    EXPECT_EQ(I[k], (k % 4 == 0) ? 1.0 : 0.0);
  }

  // Random symmetric positive definite matrices, with garbage (NaN included) below the diagonal
  // that must neither be read nor survive.
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> entry(-1.0, 1.0);
  for (int trial = 0; trial < 100; ++trial) {
    double B[9];
    for (double& b : B) {
      b = entry(rng);
    }
    double S[9];
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) {
        double sum = r == c ? 0.1 : 0.0;
        for (int k = 0; k < 3; ++k) {
          sum += B[k + 3 * r] * B[k + 3 * c];
        }
        S[r + 3 * c] = sum;
      }
    }
    double A[9];
    for (int k = 0; k < 9; ++k) {
      A[k] = S[k];
    }
    A[1] = kNaN;
    A[2] = 1e300;
    A[5] = -7.0;
    ASSERT_EQ(chol(A, jmax), 0) << "trial " << trial;
    EXPECT_EQ(jmax, 3);
    EXPECT_EQ(A[1], 0.0);
    EXPECT_EQ(A[2], 0.0);
    EXPECT_EQ(A[5], 0.0);
    for (int r = 0; r < 3; ++r) {
      EXPECT_GT(A[r + 3 * r], 0.0);
      for (int c = r; c < 3; ++c) {
        double sum = 0.0;  // (R'R)(r, c)
        for (int k = 0; k <= r; ++k) {
          sum += A[k + 3 * r] * A[k + 3 * c];
        }
        EXPECT_NEAR(sum, S[r + 3 * c], 1e-13) << "trial " << trial;
      }
    }
  }
}

TEST(Chol, FailureReportsTheColumnAndLeavesTheRestAsItWas) {
  // Zero pivot in column 1: row 0 is finished, nothing below the diagonal changes.
  const double zeroPivotRows[3][3] = {{4, 0, 0}, {5, 0, 0}, {6, 7, 9}};
  double A[9];
  fromRows(zeroPivotRows, A);
  int jmax = -1;
  EXPECT_EQ(chol(A, jmax), 2);
  EXPECT_EQ(jmax, 1);
  EXPECT_EQ(A[0], 2.0);
  EXPECT_EQ(A[4], 0.0);
  EXPECT_EQ(A[1], 5.0);
  EXPECT_EQ(A[2], 6.0);
  EXPECT_EQ(A[5], 7.0);
  EXPECT_EQ(A[8], 9.0);

  // Negative definite: fails at once, the matrix keeps every value.
  const double negativeRows[3][3] = {{-1, 0.5, 0}, {0.5, -1, 0}, {0, 0, -1}};
  fromRows(negativeRows, A);
  EXPECT_EQ(chol(A, jmax), 1);
  EXPECT_EQ(jmax, 0);
  double expected[9];
  fromRows(negativeRows, expected);
  for (int k = 0; k < 9; ++k) {
    EXPECT_EQ(A[k], expected[k]);
  }

  // Semidefinite, failing at column 2: rows 0 and 1 of R are complete, A(2,2) holds the
  // remaining pivot, only the 2-by-2 block's lower entry is cleared.
  const double lastRows[3][3] = {{4, 2, 2}, {-8, 2, 1}, {-9, -10, 1}};
  fromRows(lastRows, A);
  EXPECT_EQ(chol(A, jmax), 3);
  EXPECT_EQ(jmax, 2);
  EXPECT_EQ(A[0], 2.0);
  EXPECT_EQ(A[3], 1.0);
  EXPECT_EQ(A[6], 1.0);
  EXPECT_EQ(A[4], 1.0);
  EXPECT_EQ(A[7], 0.0);
  EXPECT_EQ(A[8], 0.0);
  EXPECT_EQ(A[1], 0.0);
  EXPECT_EQ(A[2], -9.0);
  EXPECT_EQ(A[5], -10.0);
}

TEST(Chol, NaNPivotCountsAsNotPositive) {
  const double firstRows[3][3] = {{kNaN, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  double A[9];
  fromRows(firstRows, A);
  int jmax = -1;
  EXPECT_EQ(chol(A, jmax), 1);
  EXPECT_EQ(jmax, 0);
  EXPECT_TRUE(std::isnan(A[0]));

  const double lastRows[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, kNaN}};
  fromRows(lastRows, A);
  EXPECT_EQ(chol(A, jmax), 3);
  EXPECT_EQ(jmax, 2);
  EXPECT_TRUE(std::isnan(A[8]));

  // A NaN above the diagonal reaches the pivot through the squared sum.
  const double offRows[3][3] = {{1, kNaN, 0}, {0, 1, 0}, {0, 0, 1}};
  fromRows(offRows, A);
  EXPECT_EQ(chol(A, jmax), 2);
  EXPECT_EQ(jmax, 1);
}

}  // namespace
