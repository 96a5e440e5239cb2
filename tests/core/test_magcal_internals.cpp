// Tests of the file-local routines of the model-fitting unit (power function, fit residual, general
// ellipsoid fit) and of the design-matrix fallback. The unit is compiled into this test so that its
// internal functions are visible; the library's copy of it is then not linked in.
#include "magcal.cpp"

#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "calibration_test_data.h"
#include "cat.h"

namespace {

using calibration_test::Coverage;
using calibration_test::Mat3;
using calibration_test::sampleMatrix;
using calibration_test::Truth;
using calibration_test::Vec3;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

coder::array<double, 1> column(const std::vector<double>& values) {
  coder::array<double, 1> v;
  v.set_size(static_cast<int>(values.size()));
  for (int i = 0; i < v.size(0); ++i) {
    v[i] = values[i];
  }
  return v;
}

// The three coordinate columns of a sample list.
struct Columns {
  coder::array<double, 1> x, y, z;
};

Columns columns(const std::vector<Vec3>& samples) {
  std::vector<double> x, y, z;
  for (const Vec3& s : samples) {
    x.push_back(s[0]);
    y.push_back(s[1]);
    z.push_back(s[2]);
  }
  return {column(x), column(y), column(z)};
}

struct Fit10 {
  creal_T Winv[9];
  double V[3];
  double er;
  boolean_T ispd;
  double B;
};

Fit10 fit10(const std::vector<Vec3>& samples) {
  const Columns c = columns(samples);
  Fit10 f;
  f.B = coder::correctEllipsoid10(c.x, c.y, c.z, f.Winv, f.V, f.er, f.ispd);
  return f;
}

TEST(RtPowdSnf, SpecialCasesBeforeTheLibraryPower) {
  // NaN in either argument, even with exponent 0.
  EXPECT_TRUE(std::isnan(rt_powd_snf(kNaN, 0.0)));
  EXPECT_TRUE(std::isnan(rt_powd_snf(2.0, kNaN)));
  // Infinite exponents, by the magnitude of the base.
  EXPECT_EQ(rt_powd_snf(-1.0, kInf), 1.0);
  EXPECT_EQ(rt_powd_snf(1.0, -kInf), 1.0);
  EXPECT_EQ(rt_powd_snf(2.0, kInf), kInf);
  EXPECT_EQ(rt_powd_snf(-2.0, -kInf), 0.0);
  EXPECT_EQ(rt_powd_snf(0.5, kInf), 0.0);
  EXPECT_EQ(rt_powd_snf(0.5, -kInf), kInf);
  // Exponents 0, +-1, 2 and 0.5 are exact.
  EXPECT_EQ(rt_powd_snf(0.0, 0.0), 1.0);
  EXPECT_EQ(rt_powd_snf(kInf, 0.0), 1.0);
  EXPECT_EQ(rt_powd_snf(0.0, -1.0), kInf);
  EXPECT_EQ(rt_powd_snf(-3.0, 1.0), -3.0);
  EXPECT_EQ(rt_powd_snf(4.0, -1.0), 0.25);
  EXPECT_EQ(rt_powd_snf(1.1, 2.0), 1.1 * 1.1);
  EXPECT_EQ(rt_powd_snf(2.0, 0.5), std::sqrt(2.0));
  // A negative base with a non-integer exponent has no real power.
  EXPECT_TRUE(std::isnan(rt_powd_snf(-8.0, 0.3333333333333333)));
  EXPECT_TRUE(std::isnan(rt_powd_snf(-4.0, 0.5)));
  // Integer exponents of negative bases go through the library power.
  EXPECT_EQ(rt_powd_snf(-2.0, 3.0), -8.0);
  EXPECT_EQ(rt_powd_snf(8.0, 0.3333333333333333), std::pow(8.0, 0.3333333333333333));
}

TEST(Residual, SquaredLengthAfterCorrectionMinusSquaredStrength) {
  const creal_T I[9] = {{1, 0}, {0, 0}, {0, 0}, {0, 0}, {1, 0}, {0, 0}, {0, 0}, {0, 0}, {1, 0}};
  const double origin[3] = {0.0, 0.0, 0.0};
  coder::array<creal_T, 1> r;
  coder::residual(I, origin, 1.0, sampleMatrix({{1, 0, 0}, {0, 2, 0}}), r);
  ASSERT_EQ(r.size(0), 2);
  EXPECT_EQ(r[0].re, 0.0);
  EXPECT_EQ(r[0].im, 0.0);
  EXPECT_EQ(r[1].re, 3.0);
  EXPECT_EQ(r[1].im, 0.0);

  // Offset removed before the matrix is applied.
  creal_T twoI[9];
  for (int k = 0; k < 9; ++k) {
    twoI[k] = {2.0 * I[k].re, 0.0};
  }
  const double ones[3] = {1.0, 1.0, 1.0};
  coder::residual(twoI, ones, 2.0, sampleMatrix({{2, 1, 1}}), r);
  ASSERT_EQ(r.size(0), 1);
  EXPECT_EQ(r[0].re, 0.0);
  EXPECT_EQ(r[0].im, 0.0);

  // No samples: an empty residual vector.
  coder::residual(I, origin, 1.0, sampleMatrix({}), r);
  EXPECT_EQ(r.size(0), 0);
}

TEST(Residual, ComplexSquareNotSquaredModulus) {
  const double origin[3] = {0.0, 0.0, 0.0};
  creal_T W[9] = {};
  coder::array<creal_T, 1> r;

  // W(0,0) = i maps (3, 0, 0) to 3i, whose square is -9 (a modulus would give +9).
  W[0] = {0.0, 1.0};
  coder::residual(W, origin, 0.0, sampleMatrix({{3, 0, 0}}), r);
  EXPECT_EQ(r[0].re, -9.0);
  EXPECT_EQ(r[0].im, 0.0);

  // W(0,0) = 1 + i: (1 + i)^2 = 2i, and B^2 comes off the real part only.
  W[0] = {1.0, 1.0};
  coder::residual(W, origin, 0.5, sampleMatrix({{1, 0, 0}}), r);
  EXPECT_EQ(r[0].re, -0.25);
  EXPECT_EQ(r[0].im, 2.0);

  // Off-diagonal elements: row k of W times the sample; W(1,2) = 2 sends (0, 0, 1) to (0, 2, 0).
  W[0] = {0.0, 0.0};
  W[1 + 3 * 2] = {2.0, 0.0};
  coder::residual(W, origin, 1.0, sampleMatrix({{0, 0, 1}, {0, 1, 0}}), r);
  EXPECT_EQ(r[0].re, 3.0);
  EXPECT_EQ(r[1].re, -1.0);
}

// Samples exactly on a unit sphere centred at (1, 2, 3).
TEST(CorrectEllipsoid10, SphereGivesIdentityAndCentre) {
  const Truth truth{{1, 2, 3}, {1, 1, 1}, calibration_test::rotation(0, 0, 0), 1.0};
  const Fit10 f = fit10(calibration_test::generate(truth, 200, Coverage::kFullSphere, 0.0, 7));
  EXPECT_TRUE(f.ispd);
  EXPECT_NEAR(f.B, 1.0, 1e-9);
  EXPECT_NEAR(f.er, 0.0, 1e-9);
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(f.V[k], truth.offset[k], 1e-9);
  }
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      EXPECT_NEAR(f.Winv[r + 3 * c].re, r == c ? 1.0 : 0.0, 1e-9);
      EXPECT_EQ(f.Winv[r + 3 * c].im, 0.0);
    }
  }
}

// Semi-axes (2, 1, 1) around the origin: the correction scaled to determinant 1 is diag(2^(-2/3),
// 2^(1/3), 2^(1/3)) and maps the samples onto a sphere of radius 2^(1/3).
TEST(CorrectEllipsoid10, AxisAlignedEllipsoid) {
  const Truth truth{{0, 0, 0}, {0.5, 1, 1}, calibration_test::rotation(0, 0, 0), 1.0};
  const Fit10 f = fit10(calibration_test::generate(truth, 300, Coverage::kFullSphere, 0.0, 8));
  EXPECT_TRUE(f.ispd);
  EXPECT_NEAR(f.B, std::cbrt(2.0), 1e-9);
  const double expected[3] = {std::pow(2.0, -2.0 / 3.0), std::cbrt(2.0), std::cbrt(2.0)};
  for (int r = 0; r < 3; ++r) {
    EXPECT_NEAR(f.V[r], 0.0, 1e-9);
    for (int c = 0; c < 3; ++c) {
      EXPECT_NEAR(f.Winv[r + 3 * c].re, r == c ? expected[r] : 0.0, 1e-9);
      EXPECT_EQ(f.Winv[r + 3 * c].im, 0.0);
    }
  }
}

// The coefficient vector of the smallest singular value, as the fit obtains it: from the same
// design matrix through the same decomposition.
std::vector<double> smallestSingularVector(const std::vector<Vec3>& samples) {
  const Columns c = columns(samples);
  coder::array<double, 1> r;
  r.set_size(c.x.size(0));
  for (int i = 0; i < r.size(0); ++i) {
    r[i] = 2.0 * c.x[i];
  }
  coder::array<double, 2> d;
  binary_expand_op(d, c.x, r, c.y, c.z);
  coder::array<double, 2> U;
  double s[10];
  double V1[100];
  int V1_size[2];
  coder::internal::b_svd(d, U, s, V1, V1_size);
  const double* beta = V1 + 10 * (V1_size[1] - 1);
  return std::vector<double>(beta, beta + 10);
}

long double det3(const long double m[3][3]) {
  return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
         m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
         m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

// Checks the fit of the samples against what the coefficient vector of the smallest singular value
// implies, derived in long double: the vector taken with the sign that makes det(A) positive, the
// centre V = -A^-1 (beta6, beta7, beta8) / 2 by Cramer's rule, the strength
// B = sqrt(|V'AV - beta9|) / det(A)^(1/6), Winv * Winv = A / det(A)^(1/3) and ispd. Returns whether
// the decomposition's own vector had det(A) < 0 (so the fit had to negate it).
bool expectFitFollowsCoefficients(const std::vector<Vec3>& samples) {
  const std::vector<double> beta = smallestSingularVector(samples);
  long double A[3][3] = {
      {beta[0], beta[1], beta[2]}, {beta[1], beta[3], beta[4]}, {beta[2], beta[4], beta[5]}};
  const long double sign = det3(A) < 0 ? -1.0L : 1.0L;
  long double linear[3];
  for (int row = 0; row < 3; ++row) {
    linear[row] = sign * beta[6 + row];
    for (int col = 0; col < 3; ++col) {
      A[row][col] *= sign;
    }
  }
  const long double detA = det3(A);
  long double V[3];
  for (int k = 0; k < 3; ++k) {
    long double replaced[3][3];
    for (int row = 0; row < 3; ++row) {
      for (int col = 0; col < 3; ++col) {
        replaced[row][col] = col == k ? linear[row] : A[row][col];
      }
    }
    V[k] = -0.5L * det3(replaced) / detA;
  }
  long double quadratic = -sign * beta[9];
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) {
      quadratic += V[row] * A[row][col] * V[col];
    }
  }
  const long double root = std::cbrt(detA);
  const double B = static_cast<double>(std::sqrt(std::fabs(quadratic)) / std::sqrt(root));
  const bool positiveDefinite =
      A[0][0] > 0 && A[0][0] * A[1][1] - A[0][1] * A[1][0] > 0 && detA > 0;

  const Fit10 f = fit10(samples);
  EXPECT_EQ(static_cast<bool>(f.ispd), positiveDefinite);
  EXPECT_NEAR(f.B, B, 1e-7 * B);
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(f.V[k], static_cast<double>(V[k]), 1e-7 * (1.0 + std::fabs(f.V[k])));
  }
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) {
      double re = 0.0;
      double im = 0.0;
      for (int k = 0; k < 3; ++k) {
        const creal_T a = f.Winv[row + 3 * k];
        const creal_T b = f.Winv[k + 3 * col];
        re += a.re * b.re - a.im * b.im;
        im += a.re * b.im + a.im * b.re;
      }
      EXPECT_NEAR(re, static_cast<double>(A[row][col] / root), 1e-7);
      EXPECT_NEAR(im, 0.0, 1e-7);
    }
  }
  return sign < 0;
}

// Whatever sign the decomposition gives the coefficient vector, the fit works with the one that
// makes det(A) positive. Exact ellipsoids come out negative here, some small noisy sets positive.
TEST(CorrectEllipsoid10, SignOfTheSingularVectorDoesNotMatter) {
  int negativeSeen = 0;
  int positiveSeen = 0;
  for (unsigned seed = 1; seed <= 12; ++seed) {
    SCOPED_TRACE(seed);
    const Truth truth{{0.3, -0.09, 0.15},
                      {1.2, 0.9, 0.8},
                      calibration_test::rotation(0.3 * seed, -0.2 * seed, 0.5),
                      0.5};
    const std::vector<Vec3> samples = calibration_test::generate(
        truth, 10 + seed % 12, seed % 2 ? Coverage::kBand : Coverage::kHemisphere,
        0.01 * (seed % 3), seed);
    (expectFitFollowsCoefficients(samples) ? negativeSeen : positiveSeen) += 1;
  }
  EXPECT_GT(negativeSeen, 0);
  EXPECT_GT(positiveSeen, 0);
}

void expectAllNaN(const Fit10& f) {
  EXPECT_TRUE(std::isnan(f.B));
  EXPECT_TRUE(std::isnan(f.er));
  EXPECT_FALSE(f.ispd);
  for (int k = 0; k < 3; ++k) {
    EXPECT_TRUE(std::isnan(f.V[k]));
  }
  for (int k = 0; k < 9; ++k) {
    EXPECT_TRUE(std::isnan(f.Winv[k].re));
  }
}

TEST(CorrectEllipsoid10, NonFiniteSampleOrNoSampleGivesNaN) {
  const Truth truth{{1, 2, 3}, {1, 1, 1}, calibration_test::rotation(0, 0, 0), 1.0};
  std::vector<Vec3> samples = calibration_test::generate(truth, 50, Coverage::kFullSphere, 0.0, 3);
  samples[17][1] = kNaN;
  expectAllNaN(fit10(samples));
  samples[17][1] = kInf;
  expectAllNaN(fit10(samples));
  // No sample: the decomposition has no vector to take the coefficients from.
  expectAllNaN(fit10({}));
}

// With N < 10 samples only N right singular vectors exist and the fit uses the last of them.
TEST(CorrectEllipsoid10, FewerSamplesThanParametersUsesTheLastVector) {
  expectFitFollowsCoefficients({{1.0, 0.1, 0.2},
                                {-0.9, 0.3, 0.1},
                                {0.2, 1.1, -0.3},
                                {0.1, -1.0, 0.2},
                                {0.3, 0.2, 0.95},
                                {-0.1, 0.1, -1.05},
                                {0.7, 0.7, 0.1}});
}

TEST(BinaryExpandOp, ColumnsOfTheDesignMatrix) {
  const coder::array<double, 1> x = column({1.0, -2.0});
  const coder::array<double, 1> r = column({2.0, -4.0});
  const coder::array<double, 1> y = column({3.0, 0.5});
  const coder::array<double, 1> z = column({-1.0, 4.0});
  coder::array<double, 2> d;
  binary_expand_op(d, x, r, y, z);
  ASSERT_EQ(d.size(0), 2);
  ASSERT_EQ(d.size(1), 10);
  const double expected[2][10] = {{1, 6, -2, 9, -6, 1, 1, 3, -1, 1},
                                  {4, -2, -16, 0.25, 4, 16, -2, 0.5, 4, 1}};
  for (int i = 0; i < 2; ++i) {
    for (int c = 0; c < 10; ++c) {
      EXPECT_EQ(d[i + 2 * c], expected[i][c]) << "row " << i << " column " << c;
    }
  }

  // A single y value is repeated on every row.
  binary_expand_op(d, x, r, column({3.0}), z);
  EXPECT_EQ(d[1 + 2 * 1], -12.0);
  EXPECT_EQ(d[1 + 2 * 3], 9.0);
  EXPECT_EQ(d[1 + 2 * 7], 3.0);

  // A z of incompatible length has no value for the rows: NaN, and nothing is read past it.
  binary_expand_op(d, column({1.0, 2.0, 3.0}), column({2.0, 4.0, 6.0}), column({1.0, 1.0, 1.0}),
                   column({5.0, 6.0}));
  ASSERT_EQ(d.size(0), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(std::isnan(d[i + 3 * 8]));
    EXPECT_EQ(d[i + 3 * 6], i + 1.0);
  }
}

TEST(Magcal, NoSampleGivesIdentityAndZeroOffset) {
  const coder::array<double, 2> none = sampleMatrix({});
  double A[9];
  double b[3];
  for (double& v : A) v = kNaN;
  for (double& v : b) v = kNaN;
  EXPECT_EQ(coder::magcal(none, A, b), 0.0);
  for (int k = 0; k < 9; ++k) {
    EXPECT_EQ(A[k], (k % 4 == 0) ? 1.0 : 0.0);
  }
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(b[k], 0.0);
  }
}

}  // namespace
