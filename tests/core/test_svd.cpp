// Singular value decomposition of n-by-7 and n-by-10 matrices: the defining properties on random
// matrices of varied conditioning and on the special shapes (no rows, one row, fewer rows than
// columns, zeros, equal columns), and the smallest right singular vector against an independent
// long-double inverse iteration on A'A.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "coder_array.h"
#include "svd.h"

namespace {

const double kEps = std::numeric_limits<double>::epsilon();

typedef int (*SvdFunction)(const coder::array<double, 2>&, coder::array<double, 2>&, double*,
                           double*, int*);

struct Variant {
  int p;
  SvdFunction run;
};

const Variant kVariants[] = {{7, &coder::internal::svd}, {10, &coder::internal::b_svd}};

// One decomposition with its outputs; V is p-by-k with leading dimension p.
struct Result {
  int k = 0;
  int vSize[2] = {-1, -1};
  std::vector<double> s = std::vector<double>(10, 0.0);
  std::vector<double> V = std::vector<double>(100, 0.0);
  coder::array<double, 2> U;

  double u(int i, int j) const { return U[i + U.size(0) * j]; }
  double v(int i, int j) const { return V[i + vSize[0] * j]; }
};

Result decompose(const Variant& variant, const coder::array<double, 2>& A) {
  Result r;
  r.k = variant.run(A, r.U, r.s.data(), r.V.data(), r.vSize);
  return r;
}

coder::array<double, 2> makeMatrix(int n, int p, const std::vector<double>& values) {
  coder::array<double, 2> A;
  A.set_size(n, p);
  for (int i = 0; i < n * p; ++i) {
    A[i] = values[i];
  }
  return A;
}

// Random n-by-p matrix with independent standard normal entries, column j scaled by
// columnScale^j (so columnScale far from 1 gives a badly conditioned matrix).
coder::array<double, 2> randomMatrix(int n, int p, double columnScale, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> normal;
  std::vector<double> values(static_cast<size_t>(n) * p);
  for (int j = 0; j < p; ++j) {
    const double scale = std::pow(columnScale, j);
    for (int i = 0; i < n; ++i) {
      values[i + static_cast<size_t>(n) * j] = scale * normal(rng);
    }
  }
  return makeMatrix(n, p, values);
}

// Checks shapes, ordering, A = U*diag(s)*V', U'U = I and V'V = I, with the residuals bounded by
// tolFactor * eps * s(1) (and tolFactor * eps for the orthogonality).
void expectDecomposition(const coder::array<double, 2>& A, const Result& r, int p,
                         double tolFactor) {
  const int n = A.size(0);
  const int k = std::min(n, p);
  ASSERT_EQ(r.k, k);
  ASSERT_EQ(r.vSize[0], p);
  ASSERT_EQ(r.vSize[1], k);
  ASSERT_EQ(r.U.size(0), n);
  ASSERT_EQ(r.U.size(1), k);
  for (int j = 0; j < k; ++j) {
    EXPECT_GE(r.s[j], 0.0) << "s(" << j << ")";
    if (j > 0) {
      EXPECT_LE(r.s[j], r.s[j - 1]) << "s(" << j << ")";
    }
  }
  const double s1 = (k > 0) ? r.s[0] : 0.0;
  double worstResidual = 0.0;
  for (int i = 0; i < n; ++i) {
    for (int c = 0; c < p; ++c) {
      long double sum = 0.0L;
      for (int j = 0; j < k; ++j) {
        sum += static_cast<long double>(r.u(i, j)) * r.s[j] * r.v(c, j);
      }
      worstResidual = std::max(worstResidual, std::fabs(static_cast<double>(sum - A[i + n * c])));
    }
  }
  EXPECT_LE(worstResidual, tolFactor * kEps * s1);

  double worstU = 0.0;
  double worstV = 0.0;
  for (int a = 0; a < k; ++a) {
    for (int b = 0; b < k; ++b) {
      long double uu = 0.0L;
      for (int i = 0; i < n; ++i) {
        uu += static_cast<long double>(r.u(i, a)) * r.u(i, b);
      }
      long double vv = 0.0L;
      for (int i = 0; i < p; ++i) {
        vv += static_cast<long double>(r.v(i, a)) * r.v(i, b);
      }
      const double identity = (a == b) ? 1.0 : 0.0;
      worstU = std::max(worstU, std::fabs(static_cast<double>(uu) - identity));
      worstV = std::max(worstV, std::fabs(static_cast<double>(vv) - identity));
    }
  }
  EXPECT_LE(worstU, tolFactor * kEps);
  EXPECT_LE(worstV, tolFactor * kEps);
}

// Right singular vector of the smallest singular value by one-sided Jacobi rotations in long
// double (columns of A made mutually orthogonal, the rotations accumulated into Q): independent
// of the Householder and QR route, and accurate to about eps_long * s(1) / gap.
std::vector<long double> smallestRightVector(const coder::array<double, 2>& A, int p) {
  const int n = A.size(0);
  std::vector<long double> W(static_cast<size_t>(n) * p);
  std::vector<long double> Q(p * p, 0.0L);
  for (int i = 0; i < n * p; ++i) {
    W[i] = A[i];
  }
  for (int a = 0; a < p; ++a) {
    Q[a + p * a] = 1.0L;
  }
  const long double tolerance = std::numeric_limits<long double>::epsilon();
  for (int sweep = 0; sweep < 60; ++sweep) {
    bool rotated = false;
    for (int a = 0; a < p; ++a) {
      for (int b = a + 1; b < p; ++b) {
        long double alpha = 0.0L;
        long double beta = 0.0L;
        long double gamma = 0.0L;
        for (int i = 0; i < n; ++i) {
          alpha += W[i + n * a] * W[i + n * a];
          beta += W[i + n * b] * W[i + n * b];
          gamma += W[i + n * a] * W[i + n * b];
        }
        if (std::fabs(gamma) <= tolerance * std::sqrt(alpha * beta)) {
          continue;
        }
        rotated = true;
        const long double zeta = (beta - alpha) / (2.0L * gamma);
        const long double t =
            ((zeta >= 0.0L) ? 1.0L : -1.0L) / (std::fabs(zeta) + std::sqrt(zeta * zeta + 1.0L));
        const long double c = 1.0L / std::sqrt(t * t + 1.0L);
        const long double s = c * t;
        for (int i = 0; i < n; ++i) {
          const long double x = W[i + n * a];
          const long double y = W[i + n * b];
          W[i + n * a] = c * x - s * y;
          W[i + n * b] = s * x + c * y;
        }
        for (int i = 0; i < p; ++i) {
          const long double x = Q[i + p * a];
          const long double y = Q[i + p * b];
          Q[i + p * a] = c * x - s * y;
          Q[i + p * b] = s * x + c * y;
        }
      }
    }
    if (!rotated) {
      break;
    }
  }
  int smallest = 0;
  long double smallestNorm = std::numeric_limits<long double>::infinity();
  for (int a = 0; a < p; ++a) {
    long double norm = 0.0L;
    for (int i = 0; i < n; ++i) {
      norm += W[i + n * a] * W[i + n * a];
    }
    if (norm < smallestNorm) {
      smallestNorm = norm;
      smallest = a;
    }
  }
  return std::vector<long double>(Q.begin() + p * smallest, Q.begin() + p * (smallest + 1));
}

// Expects column k of V to match the independent reference up to sign, within the first-order
// bound 64 eps s(1) / (s(k-1) - s(k)) on the angle.
void expectSmallestVectorMatches(const coder::array<double, 2>& A, const Result& r, int p) {
  const std::vector<long double> ref = smallestRightVector(A, p);
  long double dot = 0.0L;
  for (int i = 0; i < p; ++i) {
    dot += ref[i] * r.v(i, r.k - 1);
  }
  // |v - sign * ref| is the angle to first order, without the cancellation of 1 - cos.
  const long double sign = (dot < 0.0L) ? -1.0L : 1.0L;
  long double distance = 0.0L;
  for (int i = 0; i < p; ++i) {
    const long double diff = r.v(i, r.k - 1) - sign * ref[i];
    distance += diff * diff;
  }
  const double angle = static_cast<double>(std::sqrt(distance));
  const double bound = 64.0 * kEps * r.s[0] / (r.s[r.k - 2] - r.s[r.k - 1]);
  EXPECT_LE(angle, std::fmax(bound, 8 * kEps));
}

// Design matrix of the ellipsoid fits: quadratic, linear and constant terms of noisy samples on
// an ellipsoid (gauss), with 7 or 10 columns.
coder::array<double, 2> ellipsoidDesign(int n, int p, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> normal;
  std::vector<double> values(static_cast<size_t>(n) * p);
  for (int i = 0; i < n; ++i) {
    double d[3] = {normal(rng), normal(rng), normal(rng)};
    const double len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    const double x = 0.05 + 0.45 * d[0] / len + 1e-3 * normal(rng);
    const double tilt = (p == 10) ? 0.02 * d[0] / len : 0.0;  // a rotated ellipsoid for 10 terms
    const double y = -0.1 + 0.50 * d[1] / len + tilt + 1e-3 * normal(rng);
    const double z = 0.2 + 0.40 * d[2] / len + 1e-3 * normal(rng);
    const double terms7[7] = {x * x, y * y, z * z, x, y, z, 1.0};
    const double terms10[10] = {x * x, 2 * x * y, 2 * x * z, y * y, 2 * y * z, z * z, x, y, z, 1.0};
    for (int j = 0; j < p; ++j) {
      values[i + static_cast<size_t>(n) * j] = (p == 7) ? terms7[j] : terms10[j];
    }
  }
  return makeMatrix(n, p, values);
}

TEST(Svd, RandomTallMatricesOfVariedConditioning) {
  for (const Variant& variant : kVariants) {
    const int rowCounts[] = {variant.p, variant.p + 1, 40, 1000};
    const double columnScales[] = {1.0, 0.1, 3.0};
    unsigned seed = 1;
    for (int n : rowCounts) {
      for (double columnScale : columnScales) {
        SCOPED_TRACE(testing::Message()
                     << "p=" << variant.p << " n=" << n << " columnScale=" << columnScale);
        const coder::array<double, 2> A = randomMatrix(n, variant.p, columnScale, ++seed);
        const coder::array<double, 2> before = randomMatrix(n, variant.p, columnScale, seed);
        const Result r = decompose(variant, A);
        expectDecomposition(A, r, variant.p, 64.0);
        // The input is not modified.
        EXPECT_EQ(std::memcmp(A.data(), before.data(), sizeof(double) * n * variant.p), 0);
        expectSmallestVectorMatches(A, r, variant.p);
      }
    }
  }
}

TEST(Svd, EllipsoidDesignMatricesGiveTheSameNullDirectionAsAnIndependentSolve) {
  for (const Variant& variant : kVariants) {
    SCOPED_TRACE(testing::Message() << "p=" << variant.p);
    const coder::array<double, 2> D = ellipsoidDesign(3000, variant.p, 77);
    const Result r = decompose(variant, D);
    expectDecomposition(D, r, variant.p, 128.0);
    EXPECT_LT(r.s[r.k - 1], 1e-2 * r.s[0]);  // a nearly homogeneous system
    expectSmallestVectorMatches(D, r, variant.p);
  }
}

TEST(Svd, RunsAreBitForBitReproducible) {
  for (const Variant& variant : kVariants) {
    const coder::array<double, 2> A = ellipsoidDesign(500, variant.p, 5);
    const Result first = decompose(variant, A);
    const Result second = decompose(variant, A);
    EXPECT_EQ(std::memcmp(first.s.data(), second.s.data(), sizeof(double) * 10), 0);
    EXPECT_EQ(std::memcmp(first.V.data(), second.V.data(), sizeof(double) * 100), 0);
    EXPECT_EQ(std::memcmp(first.U.data(), second.U.data(), sizeof(double) * first.U.numel()), 0);
  }
}

TEST(Svd, NoRowsLeavesTheCallerBuffersUntouched) {
  for (const Variant& variant : kVariants) {
    // U left over from an earlier decomposition is resized to 0-by-0.
    Result r = decompose(variant, randomMatrix(4, variant.p, 1.0, 3));
    ASSERT_EQ(r.U.size(0), 4);
    const coder::array<double, 2> A = randomMatrix(0, variant.p, 1.0, 3);
    std::fill(r.s.begin(), r.s.end(), 42.0);
    std::fill(r.V.begin(), r.V.end(), 42.0);
    r.k = variant.run(A, r.U, r.s.data(), r.V.data(), r.vSize);
    EXPECT_EQ(r.k, 0);
    EXPECT_EQ(r.U.size(0), 0);
    EXPECT_EQ(r.U.size(1), 0);
    EXPECT_EQ(r.vSize[0], variant.p);
    EXPECT_EQ(r.vSize[1], 0);
    EXPECT_TRUE(std::all_of(r.s.begin(), r.s.end(), [](double x) { return x == 42.0; }));
    EXPECT_TRUE(std::all_of(r.V.begin(), r.V.end(), [](double x) { return x == 42.0; }));
  }
}

TEST(Svd, SingleRowAndFewerRowsThanColumns) {
  for (const Variant& variant : kVariants) {
    SCOPED_TRACE(testing::Message() << "p=" << variant.p);
    // One row: s(1) is its norm and U(1,1)*s(1)*V(:,1) is the row.
    const coder::array<double, 2> row = randomMatrix(1, variant.p, 1.0, 11);
    const Result one = decompose(variant, row);
    expectDecomposition(row, one, variant.p, 8.0);
    long double norm = 0.0L;
    for (int j = 0; j < variant.p; ++j) {
      norm += static_cast<long double>(row[j]) * row[j];
    }
    EXPECT_NEAR(one.s[0], static_cast<double>(std::sqrt(norm)), 4 * kEps * one.s[0]);
    EXPECT_EQ(std::fabs(one.u(0, 0)), 1.0);

    // n < p: k = n values and n right vectors; V(:, k) is orthogonal to the null space of A
    // only through the first n directions, so check the defining properties.
    for (int n = 2; n < variant.p; n += 3) {
      const coder::array<double, 2> A = randomMatrix(n, variant.p, 1.0, 20 + n);
      const Result r = decompose(variant, A);
      expectDecomposition(A, r, variant.p, 32.0);
      EXPECT_GT(r.s[r.k - 1], 0.0);
    }
  }
}

TEST(Svd, ZeroMatrixGivesIdentityFactorsAndZeroValues) {
  for (const Variant& variant : kVariants) {
    for (int n : {3, variant.p, 25}) {
      SCOPED_TRACE(testing::Message() << "p=" << variant.p << " n=" << n);
      const coder::array<double, 2> Z =
          makeMatrix(n, variant.p, std::vector<double>(static_cast<size_t>(n) * variant.p, 0.0));
      const Result r = decompose(variant, Z);
      ASSERT_EQ(r.k, std::min(n, variant.p));
      for (int j = 0; j < r.k; ++j) {
        EXPECT_EQ(r.s[j], 0.0);
        for (int i = 0; i < n; ++i) {
          EXPECT_EQ(r.u(i, j), (i == j) ? 1.0 : 0.0);
        }
        for (int i = 0; i < variant.p; ++i) {
          EXPECT_EQ(r.v(i, j), (i == j) ? 1.0 : 0.0);
        }
      }
    }
  }
}

TEST(Svd, TwoEqualColumnsGiveATrailingZeroValueAndTheirDifferenceAsNullVector) {
  for (const Variant& variant : kVariants) {
    SCOPED_TRACE(testing::Message() << "p=" << variant.p);
    const int n = 60;
    coder::array<double, 2> A = randomMatrix(n, variant.p, 1.0, 99);
    const int first = 1;
    const int second = 4;
    for (int i = 0; i < n; ++i) {
      A[i + n * second] = A[i + n * first];
    }
    const Result r = decompose(variant, A);
    expectDecomposition(A, r, variant.p, 64.0);
    EXPECT_LE(r.s[r.k - 1], 16 * kEps * r.s[0]);
    EXPECT_GT(r.s[r.k - 2], 0.1);
    // The null vector is (e_first - e_second) / sqrt(2), up to sign.
    const double half = std::sqrt(0.5);
    const double sign = (r.v(first, r.k - 1) > 0.0) ? 1.0 : -1.0;
    for (int i = 0; i < variant.p; ++i) {
      const double expected = (i == first) ? half : (i == second) ? -half : 0.0;
      EXPECT_NEAR(sign * r.v(i, r.k - 1), expected, 64 * kEps);
    }
  }
}

TEST(Svd, NonFiniteInputEndsWithoutFault) {
  // The callers screen non-finite samples; the decomposition must still stop and stay within
  // its buffers (checked under the sanitizers).
  for (const Variant& variant : kVariants) {
    for (int n : {1, 3, 30}) {
      coder::array<double, 2> A = randomMatrix(n, variant.p, 1.0, 7);
      A[n / 2] = std::numeric_limits<double>::quiet_NaN();
      A[n * 2] = std::numeric_limits<double>::infinity();
      const Result r = decompose(variant, A);
      EXPECT_EQ(r.k, std::min(n, variant.p));
    }
    // Finite but overflowing: with fewer rows than columns, the row norm of the last row
    // overflows, the extra diagonal entry s(n+1) becomes NaN and the chase of a zero s(n) would
    // reach the column n+1 that U does not have (4 by 4 here, so past its buffer).
    const int n = 4;
    coder::array<double, 2> B = makeMatrix(n, variant.p, std::vector<double>(n * variant.p, 0.0));
    for (int j = 0; j < 3; ++j) {
      B[j + n * j] = 1.0;
    }
    for (int j = 4; j < variant.p; ++j) {
      B[3 + n * j] = 1e308;
    }
    const Result r = decompose(variant, B);
    EXPECT_EQ(r.k, n);
    EXPECT_EQ(r.U.size(1), n);
  }
}

}  // namespace
