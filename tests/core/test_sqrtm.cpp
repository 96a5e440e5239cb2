// Matrix square root of 3-by-3 matrices and its parts: the standardised 2-by-2 Schur block, the
// Hessenberg reduction and real Schur form (A = Z*T*Z', Z orthogonal), the complex scalar square
// root on its special values, and X*X = A with the imaginary parts cleared or kept.
#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "rtwtypes.h"
#include "sqrt.h"
#include "sqrtm.h"
#include "xdlanv2.h"
#include "xgehrd.h"
#include "xhseqr.h"

namespace {

const double kEps = std::numeric_limits<double>::epsilon();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

typedef std::complex<long double> Complex;

inline int idx(int r, int c) {
  return r + 3 * c;
}

// A column-major 3-by-3 matrix in long double, for reference products.
struct Mat {
  long double v[9] = {};
  static Mat of(const double* a) {
    Mat m;
    std::copy(a, a + 9, m.v);
    return m;
  }
  Mat operator*(const Mat& b) const {
    Mat c;
    for (int r = 0; r < 3; ++r) {
      for (int col = 0; col < 3; ++col) {
        for (int k = 0; k < 3; ++k) {
          c.v[idx(r, col)] += v[idx(r, k)] * b.v[idx(k, col)];
        }
      }
    }
    return c;
  }
  Mat t() const {
    Mat c;
    for (int k = 0; k < 9; ++k) {
      c.v[idx(k / 3, k % 3)] = v[k];
    }
    return c;
  }
};

// Expects the entries of M to be those of A within tol.
void expectNear(const Mat& M, const double* A, double tol, const char* what) {
  for (int k = 0; k < 9; ++k) {
    EXPECT_NEAR(static_cast<double>(M.v[k]), A[k], tol) << what << " entry " << k;
  }
}

const double kIdentity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};

// Random orthogonal matrix: Gram-Schmidt, twice, on normal columns.
Mat randomOrthogonal(std::mt19937_64& rng) {
  std::normal_distribution<double> normal;
  Mat Q;
  for (int c = 0; c < 3; ++c) {
    long double* q = &Q.v[idx(0, c)];
    for (int r = 0; r < 3; ++r) {
      q[r] = normal(rng);
    }
    for (int pass = 0; pass < 2 * c; ++pass) {
      const long double* prev = &Q.v[idx(0, pass % c)];
      const long double dot = q[0] * prev[0] + q[1] * prev[1] + q[2] * prev[2];
      for (int r = 0; r < 3; ++r) {
        q[r] -= dot * prev[r];
      }
    }
    const long double norm = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2]);
    for (int r = 0; r < 3; ++r) {
      q[r] /= norm;
    }
  }
  return Q;
}

// Q * B * Q' for a random orthogonal Q, rounded to double; symmetric when B is.
void randomlyRotated(std::mt19937_64& rng, const Mat& B, double A[9]) {
  const Mat Q = randomOrthogonal(rng);
  const Mat R = Q * B * Q.t();
  bool symmetric = true;
  for (int k = 0; k < 9; ++k) {
    A[k] = static_cast<double>(R.v[k]);
    symmetric = symmetric && (B.v[k] == B.t().v[k]);
  }
  for (int r = 0; symmetric && r < 3; ++r) {
    for (int c = r + 1; c < 3; ++c) {
      A[idx(c, r)] = A[idx(r, c)];
    }
  }
}

void symmetricWithEigenvalues(std::mt19937_64& rng, const double lambda[3], double A[9]) {
  Mat D;
  for (int k = 0; k < 3; ++k) {
    D.v[idx(k, k)] = lambda[k];
  }
  randomlyRotated(rng, D, A);
}

// Largest |(X*X - A)(i,j)| in complex long double, and the largest |X(i,j)|.
double squareResidual(const creal_T X[9], const double A[9], double* maxX) {
  double residual = 0.0;
  *maxX = 0.0;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      Complex sum = 0.0L;
      for (int k = 0; k < 3; ++k) {
        sum +=
            Complex(X[idx(r, k)].re, X[idx(r, k)].im) * Complex(X[idx(k, c)].re, X[idx(k, c)].im);
      }
      residual = std::max(residual, static_cast<double>(std::abs(sum - Complex(A[idx(r, c)]))));
      *maxX =
          std::max(*maxX, static_cast<double>(std::abs(Complex(X[idx(r, c)].re, X[idx(r, c)].im))));
    }
  }
  return residual;
}

bool allImaginaryZero(const creal_T X[9]) {
  return std::all_of(X, X + 9, [](const creal_T& x) { return x.im == 0.0; });
}

// ---- The standardised 2-by-2 block.

struct Block {
  double a, b, c, d;
  double rt1r, rt1i, rt2r, rt2i, cs, sn;
};

Block standardise(double a, double b, double c, double d) {
  Block k{a, b, c, d, 0, 0, 0, 0, 0, 0};
  k.rt1r =
      coder::internal::reflapack::xdlanv2(k.a, k.b, k.c, k.d, k.rt1i, k.rt2r, k.rt2i, k.cs, k.sn);
  return k;
}

// Expects [a b; c d]_in = [cs -sn; sn cs] * [a b; c d]_out * [cs sn; -sn cs], a rotation, and a
// standard form: c = 0, or a = d with b*c < 0.
void expectStandardForm(double a, double b, double c, double d, const Block& k) {
  const long double cs = k.cs, sn = k.sn;
  // [p q; r s] = [cs -sn; sn cs] * [a b; c d]_out
  const long double p = cs * k.a - sn * k.c, q = cs * k.b - sn * k.d;
  const long double r = sn * k.a + cs * k.c, s = sn * k.b + cs * k.d;
  const long double back[4] = {p * cs - q * sn, p * sn + q * cs, r * cs - s * sn, r * sn + s * cs};
  const double in[4] = {a, b, c, d};
  const double scale = std::max({std::fabs(a), std::fabs(b), std::fabs(c), std::fabs(d)});
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(static_cast<double>(back[i]), in[i], 8 * kEps * scale) << "entry " << i;
  }
  EXPECT_NEAR(k.cs * k.cs + k.sn * k.sn, 1.0, 4 * kEps);
  if (k.c != 0.0) {
    EXPECT_EQ(k.a, k.d);
    EXPECT_NE(k.b < 0.0, k.c < 0.0);
    EXPECT_EQ(k.rt1i, std::sqrt(std::fabs(k.b)) * std::sqrt(std::fabs(k.c)));
  } else {
    EXPECT_EQ(k.rt1i, 0.0);
  }
  EXPECT_EQ(k.rt2i, -k.rt1i);
  EXPECT_EQ(k.rt1r, k.a);
  EXPECT_EQ(k.rt2r, k.d);
}

TEST(Xdlanv2, AlreadyTriangularSwappedAndStandardBlocks) {
  // {input a, b, c, d}, {output a, b, c, d, cs, sn}
  const double cases[3][2][6] = {
      {{1, 2, 0, 3}, {1, 2, 0, 3, 1, 0}},     // triangular: unchanged
      {{1, 0, 5, 3}, {3, -5, 0, 1, 0, 1}},    // b = 0: rows and columns exchanged
      {{4, 1, -2, 4}, {4, 1, -2, 4, 1, 0}}};  // equal diagonal, opposite signs: unchanged
  for (const auto& c : cases) {
    const Block k = standardise(c[0][0], c[0][1], c[0][2], c[0][3]);
    const double got[6] = {k.a, k.b, k.c, k.d, k.cs, k.sn};
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(got[i], c[1][i]) << "case " << c[0][0] << " " << c[0][1] << ", output " << i;
    }
  }
  const Block pair = standardise(4, 1, -2, 4);
  EXPECT_EQ(pair.rt1r, 4.0);
  EXPECT_EQ(pair.rt1i, std::sqrt(2.0));
}

TEST(Xdlanv2, RealAndComplexPairsAtEveryScale) {
  // {a, b, c, d, expected eigenvalues (re1, im1), (re2, im2) up to order}
  struct Case {
    double a, b, c, d;
  };
  const Case cases[] = {
      {4, 3, 2, 1},      // real, distinct: 5 +- sqrt(33) over 2
      {1, -5, 2, 3},     // complex: 2 +- 3i
      {2, 1, 1e-20, 2},  // nearly equal real pair through the complex branch
      {0, 1, 1, 0},      // +1 and -1 with equal diagonal
      {3, 1, 4, 3},      // equal diagonal, same signs: real pair 3 +- 2
      {0, -1, 1, 0},     // rotation: +-i
  };
  for (double scale : {1.0, 1e-200, 1e200, 1e300}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << "block " << c.a << " " << c.b << " " << c.c << " " << c.d
                                      << " scale " << scale);
      const double a = c.a * scale, b = c.b * scale, cc = c.c * scale, d = c.d * scale;
      const Block k = standardise(a, b, cc, d);
      expectStandardForm(a, b, cc, d, k);
      // Trace and determinant are preserved by the eigenvalues.
      EXPECT_NEAR((k.rt1r + k.rt2r) / scale, (c.a + c.d),
                  8 * kEps * (std::fabs(c.a) + std::fabs(c.d) + 1));
    }
  }
  const Block pair = standardise(1, -5, 2, 3);
  EXPECT_NEAR(pair.rt1r, 2.0, 4 * kEps);
  EXPECT_NEAR(pair.rt1i, 3.0, 8 * kEps);
  const Block real = standardise(3, 1, 4, 3);
  EXPECT_EQ(real.c, 0.0);
  EXPECT_NEAR(std::max(real.rt1r, real.rt2r), 5.0, 8 * kEps);
  EXPECT_NEAR(std::min(real.rt1r, real.rt2r), 1.0, 8 * kEps);
}

// ---- Hessenberg reduction and real Schur form.

// Q = I - tau * v * v' with v = (0, 1, x): the orthogonal factor of the Hessenberg reduction.
void hessenbergFactor(double x, double tau, double Q[9]) {
  const double v[3] = {0.0, 1.0, x};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      Q[idx(r, c)] = ((r == c) ? 1.0 : 0.0) - tau * v[r] * v[c];
    }
  }
}

// Reduces A and checks A = Q*H*Q', then the Schur form: A = Z*T*Z', Z'Z = I, T(3,1) = 0 and
// every 2-by-2 diagonal block either split or standard. Returns the result of xhseqr.
int expectRealSchur(const double A[9], double T[9], double Z[9]) {
  double tau[2] = {-1, -1};
  std::copy(A, A + 9, T);
  coder::internal::lapack::xgehrd(T, tau);
  EXPECT_EQ(tau[1], 0.0);
  hessenbergFactor(T[idx(2, 0)], tau[0], Z);
  const double scale = std::fabs(
      *std::max_element(A, A + 9, [](double x, double y) { return std::fabs(x) < std::fabs(y); }));
  Mat H = Mat::of(T);
  H.v[idx(2, 0)] = 0.0L;
  expectNear(Mat::of(Z) * H * Mat::of(Z).t(), A, 16 * kEps * scale, "Q*H*Q'");

  const int info = coder::internal::lapack::xhseqr(T, Z);
  const Mat Zm = Mat::of(Z);
  expectNear(Zm * Mat::of(T) * Zm.t(), A, 64 * kEps * scale, "Z*T*Z'");
  expectNear(Zm.t() * Zm, kIdentity, 16 * kEps, "Z'*Z");
  EXPECT_EQ(T[idx(2, 0)], 0.0);
  EXPECT_TRUE(T[idx(1, 0)] == 0.0 || T[idx(2, 1)] == 0.0);  // at most one 2-by-2 block
  for (int m = 1; m <= 2; ++m) {
    if (T[idx(m, m - 1)] != 0.0) {
      EXPECT_EQ(T[idx(m - 1, m - 1)], T[idx(m, m)]);
      EXPECT_LT(T[idx(m - 1, m)] * T[idx(m, m - 1)], 0.0);
    }
  }
  return info;
}

TEST(RealSchur, UpperTriangularInputPassesThroughUnchanged) {
  const double A[9] = {1, 0, 0, 2, 3, 0, 4, 5, 6};
  double tau[2] = {-1, -1};
  double H[9];
  std::copy(A, A + 9, H);
  coder::internal::lapack::xgehrd(H, tau);
  EXPECT_EQ(tau[0], 0.0);
  EXPECT_EQ(tau[1], 0.0);
  double Z[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  EXPECT_EQ(coder::internal::lapack::xhseqr(H, Z), 0);
  for (int k = 0; k < 9; ++k) {
    EXPECT_EQ(H[k], A[k]);
    EXPECT_EQ(Z[k], (k % 4 == 0) ? 1.0 : 0.0);
  }
}

TEST(RealSchur, TinyFirstColumnIsRescaledBeforeTheReflectorIsFormed) {
  // |a(2:3, 1)| below 2^-970: the reflector is built from rescaled values.
  const double A[9] = {1, 1e-300, 1e-300, 2, 3, 4, 5, 6, 7};
  double H[9];
  double tau[2];
  std::copy(A, A + 9, H);
  coder::internal::lapack::xgehrd(H, tau);
  const double beta = -std::sqrt(2.0) * 1e-300;
  EXPECT_NEAR(H[idx(1, 0)], beta, 4 * kEps * std::fabs(beta));
  EXPECT_NEAR(tau[0], (beta - 1e-300) / beta, 4 * kEps);
  EXPECT_NEAR(H[idx(2, 0)], 1e-300 / (1e-300 - beta), 4 * kEps);
  double T[9], Z[9];
  EXPECT_EQ(expectRealSchur(A, T, Z), 0);
}

TEST(RealSchur, RotationBlockBorderedByARealEigenvalue) {
  // [0 -1 0; 1 0 0; 0 0 2] conjugated by an orthogonal matrix: eigenvalues +-i and 2.
  std::mt19937_64 rng(3);
  const double B[9] = {0, 1, 0, -1, 0, 0, 0, 0, 2};
  double A[9];
  randomlyRotated(rng, Mat::of(B), A);
  double T[9], Z[9];
  EXPECT_EQ(expectRealSchur(A, T, Z), 0);
  // One standard block with diagonal 0 and b*c = -1; the other diagonal entry is 2.
  const int m = (T[idx(1, 0)] != 0.0) ? 1 : 2;
  ASSERT_NE(T[idx(m, m - 1)], 0.0);
  EXPECT_NEAR(T[idx(m - 1, m - 1)], 0.0, 8 * kEps);
  EXPECT_NEAR(T[idx(m - 1, m)] * T[idx(m, m - 1)], -1.0, 16 * kEps);
  const int single = (m == 1) ? 2 : 0;
  EXPECT_NEAR(T[idx(single, single)], 2.0, 16 * kEps);
}

TEST(RealSchur, RandomMatricesOfVariedScaleAndSpectrum) {
  std::mt19937_64 rng(17);
  std::normal_distribution<double> normal;
  for (int trial = 0; trial < 300; ++trial) {
    double A[9];
    const double scale = std::pow(10.0, (trial % 7) * 50 - 150);
    for (double& x : A) {
      x = normal(rng) * scale;
    }
    if (trial % 5 == 0) {
      A[idx(2, 0)] = 0.0;  // already Hessenberg
    }
    if (trial % 11 == 0) {
      A[idx(1, 0)] = 0.0;  // a zero first reflector element
    }
    SCOPED_TRACE(testing::Message() << "trial " << trial);
    double T[9], Z[9];
    EXPECT_EQ(expectRealSchur(A, T, Z), 0);
  }
}

// ---- Complex scalar square root.

void expectSqrt(double re, double im, double expectRe, double expectIm) {
  creal_T x{re, im};
  coder::b_sqrt(x);
  EXPECT_EQ(x.re, expectRe) << "sqrt(" << re << ", " << im << ")";
  EXPECT_EQ(x.im, expectIm) << "sqrt(" << re << ", " << im << ")";
}

TEST(ComplexSqrt, SpecialValuesAndExtremes) {
  expectSqrt(-4, 0, 0, 2);
  expectSqrt(-4, -0.0, 0, 2);
  expectSqrt(4, 0, 2, 0);
  expectSqrt(0, 0, 0, 0);
  expectSqrt(0, -8, 2, -2);
  expectSqrt(0, 8, 2, 2);
  expectSqrt(3, 4, 2, 1);
  expectSqrt(-3, 4, 1, 2);
  expectSqrt(-3, -4, 1, -2);
  expectSqrt(kInf, 1, kInf, 0);
  expectSqrt(-kInf, 1, 0, kInf);
  expectSqrt(-kInf, -1, 0, -kInf);
  expectSqrt(1, kInf, kInf, kInf);
  for (const creal_T nan : {creal_T{kNaN, 1}, creal_T{1, kNaN}, creal_T{kNaN, kNaN}}) {
    creal_T x = nan;
    coder::b_sqrt(x);
    EXPECT_TRUE(std::isnan(x.re) && std::isnan(x.im));
  }
  // Near the largest double: finite, and its square is the input to rounding.
  for (const creal_T big : {creal_T{1e308, 1e308}, creal_T{-1e308, 1e308},
                            creal_T{1.7e308, -1e-300}, creal_T{-1.7e308, 1.0}}) {
    creal_T x = big;
    coder::b_sqrt(x);
    ASSERT_TRUE(std::isfinite(x.re) && std::isfinite(x.im));
    EXPECT_GE(x.re, 0.0);
    const Complex square = Complex(x.re, x.im) * Complex(x.re, x.im);
    EXPECT_LE(std::abs(square - Complex(big.re, big.im)),
              4 * kEps * std::abs(Complex(big.re, big.im)));
  }
}

// ---- Matrix square root.

TEST(Sqrtm, IdentityAndDiagonalAreExact) {
  const double I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  creal_T X[9];
  coder::sqrtm(I, X);
  for (int k = 0; k < 9; ++k) {
    EXPECT_EQ(X[k].re, (k % 4 == 0) ? 1.0 : 0.0);
    EXPECT_EQ(X[k].im, 0.0);
  }
  const double D[9] = {4, 0, 0, 0, 2, 0, 0, 0, 0.25};
  coder::sqrtm(D, X);
  for (int k = 0; k < 9; ++k) {
    EXPECT_EQ(X[k].re, (k % 4 == 0) ? std::sqrt(D[k]) : 0.0);
    EXPECT_EQ(X[k].im, 0.0);
  }
}

TEST(Sqrtm, SymmetricPositiveDefiniteOfWidelyDifferentCondition) {
  std::mt19937_64 rng(42);
  for (double condition : {1.0, 10.0, 1e4, 1e8, 1e12}) {
    for (double size : {1e-6, 1.0, 1e6}) {
      for (int trial = 0; trial < 20; ++trial) {
        SCOPED_TRACE(testing::Message()
                     << "condition " << condition << " size " << size << " trial " << trial);
        const double lambda[3] = {size, size / std::sqrt(condition), size / condition};
        double A[9];
        symmetricWithEigenvalues(rng, lambda, A);
        creal_T X[9];
        coder::sqrtm(A, X);
        EXPECT_TRUE(allImaginaryZero(X));
        double maxX = 0.0;
        const double residual = squareResidual(X, A, &maxX);
        EXPECT_LE(residual, 64 * kEps * maxX * maxX);
        // The principal root of a symmetric positive definite matrix is symmetric, with trace
        // sqrt(l1) + sqrt(l2) + sqrt(l3), both up to the rounding of A (eps * l1) magnified by the
        // conditioning of the root, 1 / (2 sqrt(l3)).
        const double rootTolerance = 64 * kEps * lambda[0] / std::sqrt(lambda[2]);
        for (int r = 0; r < 3; ++r) {
          for (int c = r + 1; c < 3; ++c) {
            EXPECT_NEAR(X[idx(r, c)].re, X[idx(c, r)].re, rootTolerance);
          }
        }
        const double trace = X[0].re + X[4].re + X[8].re;
        const double expected = std::sqrt(lambda[0]) + std::sqrt(lambda[1]) + std::sqrt(lambda[2]);
        EXPECT_NEAR(trace, expected, rootTolerance);
      }
    }
  }
}

TEST(Sqrtm, GeneralMatricesIncludingComplexPairsAndNegativeEigenvalues) {
  std::mt19937_64 rng(8);
  std::normal_distribution<double> normal;
  int complexResults = 0;
  for (int trial = 0; trial < 500; ++trial) {
    double A[9];
    for (double& x : A) {
      x = normal(rng);
    }
    SCOPED_TRACE(testing::Message() << "trial " << trial);
    creal_T X[9];
    coder::sqrtm(A, X);
    double maxX = 0.0;
    const double residual = squareResidual(X, A, &maxX);
    // Conditioning of the root varies from matrix to matrix; near-singular draws are rare.
    EXPECT_LE(residual, 1e-10 * std::max(1.0, maxX * maxX));
    complexResults += allImaginaryZero(X) ? 0 : 1;
  }
  EXPECT_GT(complexResults, 0);

  // The rotation by 90 degrees (eigenvalues +-i, 1) has a real principal root, the rotation by
  // 45 degrees, reached through the complex Schur form.
  const double R90[9] = {0, 1, 0, -1, 0, 0, 0, 0, 1};
  creal_T X[9];
  coder::sqrtm(R90, X);
  EXPECT_TRUE(allImaginaryZero(X));
  const double h = std::sqrt(0.5);
  const double R45[9] = {h, h, 0, -h, h, 0, 0, 0, 1};
  for (int k = 0; k < 9; ++k) {
    EXPECT_NEAR(X[k].re, R45[k], 8 * kEps);
  }
}

TEST(Sqrtm, NegativeEigenvalueKeepsItsImaginaryParts) {
  const double D[9] = {4, 0, 0, 0, -9, 0, 0, 0, 1};
  creal_T X[9];
  coder::sqrtm(D, X);
  EXPECT_EQ(X[idx(1, 1)].re, 0.0);
  EXPECT_EQ(X[idx(1, 1)].im, 3.0);
  EXPECT_EQ(X[idx(0, 0)].re, 2.0);

  std::mt19937_64 rng(5);
  const double lambda[3] = {4.0, -9.0, 1.0};
  double A[9];
  symmetricWithEigenvalues(rng, lambda, A);
  coder::sqrtm(A, X);
  EXPECT_FALSE(allImaginaryZero(X));
  double maxX = 0.0;
  const double residual = squareResidual(X, A, &maxX);
  EXPECT_LE(residual, 64 * kEps * maxX * maxX);
  // The imaginary part is 3 * q * q' for the eigenvector q of -9: trace 3.
  EXPECT_NEAR(X[0].im + X[4].im + X[8].im, 3.0, 64 * kEps);
}

TEST(Sqrtm, NonFiniteInputGivesNaNEverywhere) {
  for (double bad : {kNaN, kInf, -kInf}) {
    for (int position : {0, 4, 5, 8}) {
      double A[9] = {2, 1, 0, 1, 3, 1, 0, 1, 4};
      A[position] = bad;
      creal_T X[9];
      coder::sqrtm(A, X);
      for (int k = 0; k < 9; ++k) {
        EXPECT_TRUE(std::isnan(X[k].re)) << "bad " << bad << " at " << position << ", X " << k;
        EXPECT_TRUE(std::isnan(X[k].im)) << "bad " << bad << " at " << position << ", X " << k;
      }
    }
  }
}

TEST(Sqrtm, SingularMatrixYieldsNonFiniteValuesWithoutFault) {
  // A nilpotent matrix has no square root; the zero sum of roots divides through IEEE.
  const double N[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
  creal_T X[9];
  coder::sqrtm(N, X);
  bool anyNonFinite = false;
  for (const creal_T& x : X) {
    anyNonFinite = anyNonFinite || !std::isfinite(x.re) || !std::isfinite(x.im);
  }
  EXPECT_TRUE(anyNonFinite);
}

}  // namespace
