// Least-squares solve and pivoted QR: solutions checked against answers derived independently
// (normal equations in long double, consistent systems with a known answer), the rank decision,
// pivot ties, the tiny-column rescaling and the norm recomputation after cancellation.
#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "coder_array.h"
#include "mldivide.h"
#include "xgeqp3.h"

namespace {

using Matrix = std::vector<std::vector<double>>;  // row-major, for building test systems

coder::array<double, 2> toArray(const Matrix& rows) {
  coder::array<double, 2> a;
  const int m = static_cast<int>(rows.size());
  const int n = m > 0 ? static_cast<int>(rows[0].size()) : 0;
  a.set_size(m, n);
  for (int i = 0; i < m; ++i) {
    for (int j = 0; j < n; ++j) {
      a[i + j * m] = rows[i][j];
    }
  }
  return a;
}

coder::array<double, 1> toVector(const std::vector<double>& values) {
  return coder::array<double, 1>(values);
}

std::vector<double> product(const Matrix& rows, const std::vector<double>& x) {
  std::vector<double> b(rows.size(), 0.0);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    for (std::size_t j = 0; j < x.size(); ++j) {
      b[i] += rows[i][j] * x[j];
    }
  }
  return b;
}

// Least-squares solution from the normal equations A'A x = A'b, formed and solved by Gaussian
// elimination with partial pivoting in long double; independent of the QR code under test.
std::vector<double> normalEquations(const Matrix& rows, const std::vector<double>& b) {
  const std::size_t n = rows[0].size();
  std::vector<std::vector<long double>> g(n, std::vector<long double>(n + 1, 0.0L));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    for (std::size_t r = 0; r < n; ++r) {
      for (std::size_t c = 0; c < n; ++c) {
        g[r][c] += static_cast<long double>(rows[i][r]) * rows[i][c];
      }
      g[r][n] += static_cast<long double>(rows[i][r]) * b[i];
    }
  }
  for (std::size_t k = 0; k < n; ++k) {
    std::size_t p = k;
    for (std::size_t r = k + 1; r < n; ++r) {
      if (std::fabs(g[r][k]) > std::fabs(g[p][k])) {
        p = r;
      }
    }
    std::swap(g[k], g[p]);
    for (std::size_t r = k + 1; r < n; ++r) {
      const long double f = g[r][k] / g[k][k];
      for (std::size_t c = k; c <= n; ++c) {
        g[r][c] -= f * g[k][c];
      }
    }
  }
  std::vector<double> x(n);
  for (std::size_t k = n; k-- > 0;) {
    long double s = g[k][n];
    for (std::size_t c = k + 1; c < n; ++c) {
      s -= g[k][c] * static_cast<long double>(x[c]);
    }
    x[k] = static_cast<double>(s / g[k][k]);
  }
  return x;
}

double maxAbsDiff(const coder::array<double, 1>& got, const std::vector<double>& expected) {
  EXPECT_EQ(got.size(0), static_cast<int>(expected.size()));
  double worst = 0.0;
  for (std::size_t k = 0; k < expected.size(); ++k) {
    worst = std::fmax(worst, std::fabs(got[static_cast<int>(k)] - expected[k]));
  }
  return worst;
}

std::vector<double> solve(const Matrix& rows, const std::vector<double>& b) {
  coder::array<double, 2> a = toArray(rows);
  coder::array<double, 1> x = toVector(b);
  coder::mldivide(a, x);
  return static_cast<std::vector<double>>(x);
}

// An m-by-n matrix of entries uniform in [-1, 1].
Matrix randomRows(std::mt19937& rng, int m, int n) {
  std::uniform_real_distribution<double> entry(-1.0, 1.0);
  Matrix rows(m, std::vector<double>(n));
  for (auto& row : rows) {
    for (double& v : row) {
      v = entry(rng);
    }
  }
  return rows;
}

// Pivoted QR of a in place; returns the 1-based pivot order.
std::vector<int> pivotOrder(coder::array<double, 2>& a) {
  std::vector<double> tau(8);
  std::vector<int> jpvt(static_cast<std::size_t>(a.size(1)));
  int jpvtSize[2];
  coder::internal::lapack::xgeqp3(a, tau.data(), jpvt.data(), jpvtSize);
  return jpvt;
}

// Solves rows * x = rows * known and returns x.
coder::array<double, 1> solveForKnown(const Matrix& rows, const std::vector<double>& known) {
  coder::array<double, 1> x = toVector(product(rows, known));
  coder::mldivide(toArray(rows), x);
  return x;
}

// Sphere-fit design: rows (x, y, z, 1) of noisy samples on a sphere, right-hand side x^2+y^2+z^2.
// capAngle limits the samples to a cap around +z, which worsens the conditioning.
void sphereDesign(std::mt19937& rng, int count, double capAngle, Matrix& rows,
                  std::vector<double>& b) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::normal_distribution<double> noise(0.0, 0.002);
  const double centre[3] = {0.12, -0.05, 0.3};
  const double radius = 0.48;
  rows.clear();
  b.clear();
  for (int k = 0; k < count; ++k) {
    const double polar = capAngle * unit(rng);
    const double azimuth = 6.283185307179586 * unit(rng);
    const double p[3] = {centre[0] + radius * std::sin(polar) * std::cos(azimuth) + noise(rng),
                         centre[1] + radius * std::sin(polar) * std::sin(azimuth) + noise(rng),
                         centre[2] + radius * std::cos(polar) + noise(rng)};
    rows.push_back({p[0], p[1], p[2], 1.0});
    b.push_back(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
  }
}

TEST(LeastSquares, TallFourColumnSystemsMatchNormalEquations) {
  std::mt19937 rng(2024);
  const int counts[] = {5, 6, 20, 200, 1000};
  const double caps[] = {3.14159, 1.5, 0.6};
  for (int count : counts) {
    for (double cap : caps) {
      Matrix rows;
      std::vector<double> b;
      sphereDesign(rng, count, cap, rows, b);
      const std::vector<double> expected = normalEquations(rows, b);
      coder::array<double, 2> a = toArray(rows);
      coder::array<double, 1> x = toVector(b);
      coder::mldivide(a, x);
      SCOPED_TRACE(testing::Message() << "samples " << count << ", cap " << cap);
      EXPECT_LT(maxAbsDiff(x, expected), 1e-9);
      EXPECT_EQ(a.size(0), count);  // A is not modified
      EXPECT_EQ(a[0], rows[0][0]);
    }
  }
}

TEST(LeastSquares, ConsistentSystemsRecoverTheKnownAnswerOnBothRoutes) {
  std::mt19937 rng(7);
  const std::vector<double> known = {1.5, -2.0, 0.25, 3.0};
  for (int m : {4, 5, 12, 50}) {  // 4 rows: LU; more: QR
    EXPECT_LT(maxAbsDiff(solveForKnown(randomRows(rng, m, 4), known), known), 1e-12) << m;
  }

  // The square route needs row exchanges: a leading zero pivot and a 1x1 system.
  const Matrix permuted = {{0, 2, 0, 1}, {3, 0, 0, 0}, {0, 0, 0, 4}, {0, 1, 5, 0}};
  EXPECT_LT(maxAbsDiff(solveForKnown(permuted, known), known), 1e-14);
  coder::array<double, 1> one = toVector({3.0});
  coder::mldivide(toArray({{2.0}}), one);
  EXPECT_EQ(one[0], 1.5);
}

TEST(LeastSquares, SquareSingularSystemsAreNotDetected) {
  // A zero pivot is neither exchanged nor divided; an exact zero right-hand side entry is not
  // divided either, so only a non-zero one turns into an infinity or NaN.
  const Matrix singular = {{1, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 2, 0}, {0, 0, 0, 4}};
  const std::vector<double> zeroEntry = solve(singular, {1.0, 0.0, 4.0, 8.0});
  EXPECT_EQ(zeroEntry, (std::vector<double>{1.0, 0.0, 2.0, 2.0}));
  const std::vector<double> nonZeroEntry = solve(singular, {1.0, 1.0, 4.0, 8.0});
  EXPECT_TRUE(std::isinf(nonZeroEntry[1]));
  EXPECT_EQ(nonZeroEntry[2], 2.0);
  EXPECT_EQ(nonZeroEntry[3], 2.0);
}

TEST(LeastSquares, RankDeficientSystemsGiveTheBasicSolution) {
  std::mt19937 rng(99);
  Matrix rows;
  std::vector<double> b;
  sphereDesign(rng, 40, 3.14159, rows, b);

  // All samples with x = 0: that column is pivoted last and its unknown is exactly 0.
  Matrix flat = rows;
  Matrix reduced;
  for (auto& row : flat) {
    row[0] = 0.0;
    reduced.push_back({row[1], row[2], row[3]});
  }
  const std::vector<double> x = solve(flat, b);
  const std::vector<double> expected = normalEquations(reduced, b);
  ASSERT_EQ(x.size(), 4u);
  EXPECT_EQ(x[0], 0.0);
  EXPECT_TRUE(!std::signbit(x[0]));
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(x[k + 1], expected[k], 1e-9);
  }

  // A repeated column: one of the pair is dropped (exactly 0), and their sum is the coefficient
  // of the shared column in the full-rank problem.
  Matrix repeated = rows;
  for (auto& row : repeated) {
    row[3] = row[1];
  }
  Matrix threeColumns;
  for (const auto& row : repeated) {
    threeColumns.push_back({row[0], row[1], row[2]});
  }
  const std::vector<double> y = solve(repeated, b);
  const std::vector<double> shared = normalEquations(threeColumns, b);
  EXPECT_TRUE(y[1] == 0.0 || y[3] == 0.0);
  EXPECT_NEAR(y[1] + y[3], shared[1], 1e-9);
  EXPECT_NEAR(y[0], shared[0], 1e-9);
  EXPECT_NEAR(y[2], shared[2], 1e-9);

  // All-zero matrix: rank 0, all-zero solution.
  const Matrix zeros(6, std::vector<double>(4, 0.0));
  EXPECT_EQ(solve(zeros, {1, 2, 3, 4, 5, 6}), std::vector<double>(4, 0.0));

  // A wide consistent system: 4 - 2 unknowns are exactly 0 and the equations hold.
  const Matrix wide = {{1, 2, 3, 4}, {0, 1, 0, 1}};
  const std::vector<double> w = solve(wide, {10.0, 2.0});
  EXPECT_EQ(std::count(w.begin(), w.end(), 0.0), 2);
  const std::vector<double> back = product(wide, w);
  EXPECT_NEAR(back[0], 10.0, 1e-13);
  EXPECT_NEAR(back[1], 2.0, 1e-13);
}

TEST(LeastSquares, EmptyInputsGiveZerosOfTheColumnCount) {
  coder::array<double, 2> noRows;
  noRows.set_size(0, 4);
  coder::array<double, 1> b = toVector({5.0, 6.0, 7.0});
  coder::mldivide(noRows, b);
  EXPECT_EQ(static_cast<std::vector<double>>(b), std::vector<double>(4, 0.0));

  coder::array<double, 2> noColumns;
  noColumns.set_size(3, 0);
  b = toVector({5.0, 6.0, 7.0});
  coder::mldivide(noColumns, b);
  EXPECT_EQ(b.size(0), 0);

  coder::array<double, 2> a = toArray({{1, 2}, {3, 4}, {5, 6}});
  coder::array<double, 1> empty;
  coder::mldivide(a, empty);
  EXPECT_EQ(static_cast<std::vector<double>>(empty), std::vector<double>(2, 0.0));
}

TEST(LeastSquares, MoreThanFourColumnsUseHeapScratch) {
  std::mt19937 rng(5);
  const std::vector<double> known = {1, -2, 3, -4, 5, -6};
  for (int m : {6, 9, 30}) {  // square (LU) and tall (QR)
    EXPECT_LT(maxAbsDiff(solveForKnown(randomRows(rng, m, 6), known), known), 1e-11) << m;
  }
  // An inconsistent system: the least-squares solution of the normal equations.
  const Matrix rows = randomRows(rng, 30, 6);
  const std::vector<double> b = randomRows(rng, 1, 30)[0];
  coder::array<double, 1> x = toVector(b);
  coder::mldivide(toArray(rows), x);
  EXPECT_LT(maxAbsDiff(x, normalEquations(rows, b)), 1e-11);
}

// Applies the stored reflectors to R, giving Q*R, which must equal A with its columns permuted.
void expectFactorisationReproduces(const coder::array<double, 2>& original) {
  coder::array<double, 2> f(original);
  const int m = f.size(0);
  const int n = f.size(1);
  std::vector<double> tau(static_cast<std::size_t>(std::max(1, std::min(m, n))));
  std::vector<int> jpvt(static_cast<std::size_t>(std::max(1, n)));
  int jpvtSize[2] = {-1, -1};
  const int k = coder::internal::lapack::xgeqp3(f, tau.data(), jpvt.data(), jpvtSize);
  ASSERT_EQ(k, std::min(m, n));
  EXPECT_EQ(jpvtSize[0], 1);
  EXPECT_EQ(jpvtSize[1], n);
  std::vector<int> seen(static_cast<std::size_t>(n), 0);
  for (int j = 0; j < n; ++j) {
    ASSERT_GE(jpvt[j], 1);
    ASSERT_LE(jpvt[j], n);
    seen[jpvt[j] - 1]++;
  }
  for (int count : seen) {
    EXPECT_EQ(count, 1);
  }
  double scale = 0.0;
  for (int p = 0; p < original.numel(); ++p) {
    scale = std::fmax(scale, std::fabs(original[p]));
  }
  for (int j = 0; j < n; ++j) {
    std::vector<double> col(static_cast<std::size_t>(m), 0.0);
    for (int i = 0; i <= std::min(j, m - 1); ++i) {
      col[i] = f[i + j * m];
    }
    for (int r = k - 1; r >= 0; --r) {
      double dot = col[r];
      for (int i = r + 1; i < m; ++i) {
        dot += f[i + r * m] * col[i];
      }
      col[r] -= tau[r] * dot;
      for (int i = r + 1; i < m; ++i) {
        col[i] -= tau[r] * dot * f[i + r * m];
      }
    }
    for (int i = 0; i < m; ++i) {
      EXPECT_NEAR(col[i], original[i + (jpvt[j] - 1) * m], 1e-13 * scale)
          << "row " << i << " column " << j;
    }
  }
  for (int d = 1; d < k; ++d) {  // column pivoting orders the diagonal by magnitude
    EXPECT_LE(std::fabs(f[d + d * m]), std::fabs(f[(d - 1) + (d - 1) * m]) * (1.0 + 1e-12));
  }
}

TEST(PivotedQR, FactorisationReproducesThePermutedMatrix) {
  std::mt19937 rng(31);
  for (int m : {1, 2, 3, 4, 7, 40}) {
    for (int n : {1, 2, 3, 4, 6}) {
      SCOPED_TRACE(testing::Message() << m << " by " << n);
      expectFactorisationReproduces(toArray(randomRows(rng, m, n)));
    }
  }

  coder::array<double, 2> empty;
  empty.set_size(0, 3);
  double tau[1] = {-1.0};
  int jpvt[3] = {0, 0, 0};
  int jpvtSize[2] = {0, 0};
  EXPECT_EQ(coder::internal::lapack::xgeqp3(empty, tau, jpvt, jpvtSize), 0);
  EXPECT_EQ(jpvt[0], 1);
  EXPECT_EQ(jpvt[2], 3);
  EXPECT_EQ(jpvtSize[1], 3);
  EXPECT_EQ(tau[0], -1.0);  // nothing to write
}

TEST(PivotedQR, EqualNormsPivotTheLeftmostColumn) {
  // Three columns of norm 5, pairwise orthogonal; the leftmost wins at every step.
  coder::array<double, 2> a = toArray({{3, 0, 0}, {4, 0, 0}, {0, 4, 0}, {0, 3, 0}, {0, 0, 5}});
  EXPECT_EQ(pivotOrder(a), (std::vector<int>{1, 2, 3}));
  // A larger later column still wins over an earlier one.
  coder::array<double, 2> b = toArray({{1, 0}, {0, 2}, {0, 0}});
  EXPECT_EQ(pivotOrder(b), (std::vector<int>{2, 1}));
}

TEST(PivotedQR, CollapsedNormIsRecomputedNotDowndated) {
  // Both leading columns have norm 1 in double, so the first is pivoted first. The second then
  // keeps only a 1e-8 component; downdating its norm from 1 cancels to exactly 0, which would
  // let the 1e-10 column overtake it.
  coder::array<double, 2> a = toArray({{1, 1, 0}, {1e-8, 0, 0}, {0, 0, 1e-10}, {0, 0, 0}});
  EXPECT_EQ(pivotOrder(a), (std::vector<int>{1, 2, 3}));
  EXPECT_NEAR(std::fabs(a[1 + 1 * 4]) / 1e-8, 1.0, 1e-5);
  EXPECT_NEAR(std::fabs(a[2 + 2 * 4]), 1e-10, 1e-20);
}

TEST(PivotedQR, TinyColumnsAreRescaledBeforeTheReflector) {
  // Subnormal entries: the reflector is built on a copy scaled by 2^970 so that it is exactly
  // orthogonal (tau * v'v == 2) to rounding, and R(0,0) comes back at the original scale.
  const double entries[4] = {3e-316, -4e-316, 1e-316, 2e-316};
  coder::array<double, 2> a;
  a.set_size(4, 1);
  long double normSquared = 0.0L;
  for (int i = 0; i < 4; ++i) {
    a[i] = entries[i];
    normSquared += static_cast<long double>(entries[i]) * entries[i];
  }
  double tau[1];
  int jpvt[1];
  int jpvtSize[2];
  coder::internal::lapack::xgeqp3(a, tau, jpvt, jpvtSize);
  double vv = 1.0;
  for (int i = 1; i < 4; ++i) {
    vv += a[i] * a[i];
  }
  EXPECT_NEAR(tau[0] * vv, 2.0, 1e-14);
  EXPECT_GE(tau[0], 1.0);
  EXPECT_LE(tau[0], 2.0);
  EXPECT_LT(a[0], 0.0);  // beta has the opposite sign of the positive leading entry
  EXPECT_NEAR(-a[0] / static_cast<double>(std::sqrt(normSquared)), 1.0, 1e-6);
}

}  // namespace
