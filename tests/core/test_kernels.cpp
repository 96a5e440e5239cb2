// Vector kernels: 1-based positions, zero tests, scaled norms, rotation sign rules and the
// leading-dimension-3 matrix kernels.
#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "coder_array.h"
#include "xaxpy.h"
#include "xdotc.h"
#include "xgemv.h"
#include "xgerc.h"
#include "xnrm2.h"
#include "xrot.h"
#include "xrotg.h"
#include "xswap.h"

namespace {

using namespace coder::internal::blas;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// Euclidean norm in long double, where squares of doubles neither overflow nor underflow.
double referenceNorm(const double* x, int n) {
  long double sum = 0.0L;
  for (int k = 0; k < n; ++k) {
    sum += static_cast<long double>(x[k]) * x[k];
  }
  return static_cast<double>(std::sqrt(sum));
}

TEST(Axpy, ZeroScaleSkipsNaNScalePropagatesAndRunsMayOverlap) {
  double y[4] = {kNaN, kInf, 2.0, 3.0};
  xaxpy(2, 0.0, 1, y, 3);  // source holds NaN and infinity, a == 0: untouched
  EXPECT_EQ(y[2], 2.0);
  EXPECT_EQ(y[3], 3.0);
  xaxpy(0, 5.0, 3, y, 1);
  EXPECT_TRUE(std::isnan(y[0]));

  double z[3] = {1.0, 2.0, 3.0};
  b_xaxpy(1, kNaN, 1, z, 3);
  EXPECT_TRUE(std::isnan(z[2]));
  EXPECT_EQ(z[1], 2.0);

  // Overlapping runs in one buffer: each target is updated from the already updated source,
  // so a copy of the source would give {1, 1, 0, 0} instead.
  double p[4] = {1.0, 0.0, 0.0, 0.0};
  xaxpy(3, 1.0, 1, p, 2);
  EXPECT_EQ(p[1], 1.0);
  EXPECT_EQ(p[2], 1.0);
  EXPECT_EQ(p[3], 1.0);

  coder::array<double, 2> m = {1.0, 2.0, 10.0, 20.0};
  m.set_size(2, 2);
  xaxpy(2, -2.0, 1, m, 3);  // column 2 -= 2 * column 1
  EXPECT_EQ(m[2], 8.0);
  EXPECT_EQ(m[3], 16.0);

  coder::array<double, 1> v;
  v.set_size(3);
  xaxpy(2, 0.5, m, 3, v, 2);  // v(2..3) += 0.5 * m(3..4)
  EXPECT_EQ(v[2], 8.0);
  xaxpy(2, 1.0, v, 2, m, 1);  // m(1..2) += v(2..3)
  EXPECT_EQ(m[0], 5.0);
  EXPECT_EQ(m[1], 10.0);
}

TEST(Dot, PositionsCountsAndTwin) {
  const double x[4] = {9.0, 1.0, 2.0, 3.0};
  const double y[3] = {4.0, 5.0, 6.0};
  EXPECT_EQ(xdotc(3, x, 2, y, 1), 32.0);
  EXPECT_EQ(b_xdotc(3, x, 2, y, 1), 32.0);
  EXPECT_EQ(xdotc(0, x, 1, y, 1), 0.0);
  EXPECT_EQ(xdotc(-1, x, 1, y, 1), 0.0);    // a negative count reads nothing
  EXPECT_EQ(xdotc(258, x, 2, y, 1), 14.0);  // the count is 8-bit: 258 -> 2
}

TEST(Norm, ScaledLoopAvoidsOverflowAndUnderflow) {
  const double threeFour[2] = {3.0, 4.0};
  EXPECT_EQ(xnrm2(2, threeFour, 1), 5.0);
  EXPECT_EQ(b_xnrm2(2, threeFour, 1), 5.0);

  const double tiny[2] = {1e-200, 1e-200};
  const double huge[2] = {1e200, -1e200};
  const double subnormal[2] = {1e-310, 1e-310};
  EXPECT_NEAR(xnrm2(2, tiny, 1) / (std::sqrt(2.0) * 1e-200), 1.0, 1e-15);
  EXPECT_NEAR(xnrm2(2, huge, 1) / (std::sqrt(2.0) * 1e200), 1.0, 1e-15);
  EXPECT_NEAR(xnrm2(2, subnormal, 1) / (std::sqrt(2.0) * 1e-310), 1.0, 1e-9);
  EXPECT_TRUE(std::isfinite(xnrm2(2, huge, 1)));

  // Random vectors over a wide range of magnitudes against a long double reference.
  std::mt19937 rng(12345);
  std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-300, 300);
  for (int trial = 0; trial < 200; ++trial) {
    double x[10];
    const int e = exponent(rng);
    for (double& value : x) {
      value = std::ldexp(mantissa(rng), e + exponent(rng) % 8);
    }
    const double expected = referenceNorm(x, 10);
    EXPECT_NEAR(xnrm2(10, x, 1) / expected, 1.0, 4e-16 * 10) << "trial " << trial;
  }

  double withNaN[3] = {1.0, kNaN, 2.0};
  EXPECT_TRUE(std::isnan(xnrm2(3, withNaN, 1)));
  EXPECT_EQ(xnrm2(0, withNaN, 1), 0.0);
}

TEST(Norm, OverloadEdges) {
  const coder::array<double, 2> a = {7.0, -3.0, 4.0};
  EXPECT_EQ(xnrm2(0, a, 1), 0.0);
  EXPECT_EQ(xnrm2(1, a, 2), 3.0);  // exactly |x|, no loop
  EXPECT_EQ(xnrm2(2, a, 2), 5.0);
  // A single element through the scaled loop of the pointer form: its magnitude to rounding.
  EXPECT_NEAR(xnrm2(1, a.data(), 2), 3.0, 1e-15);

  // The 3-vector form reads only the 2nd and 3rd elements, whatever n >= 2 is.
  const double v[3] = {kNaN, -3.0, 4.0};
  EXPECT_EQ(xnrm2(0, v), 0.0);
  EXPECT_EQ(xnrm2(1, v), 3.0);
  EXPECT_EQ(xnrm2(2, v), 5.0);
  EXPECT_EQ(xnrm2(5, v), 5.0);
}

struct RotgCase {
  double a, b;
  double r, c, s, z;
};

TEST(Rotg, SignRulesAndReconstructionValue) {
  const RotgCase cases[] = {
      {3.0, 4.0, 5.0, 0.6, 0.8, 1.0 / 0.6},      // |a| <= |b|: z = 1/c
      {-4.0, 3.0, -5.0, 0.8, -0.6, -0.6},        // r takes the sign of a, z = s
      {3.0, -4.0, -5.0, -0.6, 0.8, -1.0 / 0.6},  // r takes the sign of b
      {0.0, 2.0, 2.0, 0.0, 1.0, 1.0},            // c == 0: z = 1
      {2.0, -2.0, -2.0 * std::sqrt(2.0), -std::sqrt(0.5), std::sqrt(0.5), -std::sqrt(2.0)},
  };
  for (const RotgCase& t : cases) {
    double a = t.a;
    double b = t.b;
    double s = kNaN;
    const double c = xrotg(a, b, s);
    SCOPED_TRACE(testing::Message() << "a=" << t.a << " b=" << t.b);
    EXPECT_NEAR(a, t.r, 1e-14);
    EXPECT_NEAR(c, t.c, 1e-15);
    EXPECT_NEAR(s, t.s, 1e-15);
    EXPECT_NEAR(b, t.z, 1e-14);
    // The rotation annihilates b: -s*a0 + c*b0 == 0 and c*a0 + s*b0 == r.
    EXPECT_NEAR(-s * t.a + c * t.b, 0.0, 1e-14);
    EXPECT_NEAR(c * t.a + s * t.b, a, 1e-14);
  }

  double a = 0.0;
  double b = -0.0;
  double s = kNaN;
  EXPECT_EQ(xrotg(a, b, s), 1.0);
  EXPECT_EQ(s, 0.0);
  EXPECT_EQ(a, 0.0);
  EXPECT_EQ(b, 0.0);

  // Large inputs whose squares would overflow.
  a = 3e300;
  b = 4e300;
  const double c = xrotg(a, b, s);
  EXPECT_NEAR(a / 5e300, 1.0, 1e-15);
  EXPECT_NEAR(c, 0.6, 1e-15);

  a = kNaN;
  b = 1.0;
  EXPECT_TRUE(std::isnan(xrotg(a, b, s)));
  EXPECT_TRUE(std::isnan(a));
  EXPECT_TRUE(std::isnan(b));
  EXPECT_TRUE(std::isnan(s));
}

TEST(RotSwap, FixedRunLengthsInOneBuffer) {
  double saved[20];
  for (int k = 0; k < 20; ++k) {
    saved[k] = k + 1.0;
  }
  double x[20];
  std::copy(saved, saved + 20, x);
  xrot(x, 1, 11, 1.0, 0.0);  // identity rotation
  EXPECT_TRUE(std::equal(x, x + 20, saved));

  // A quarter turn (x, y) -> (y, -x) touches runs of exactly 7; its inverse on runs of 10
  // restores those and turns the last three the other way.
  xrot(x, 1, 11, 0.0, 1.0);
  EXPECT_EQ(x[6], saved[16]);
  EXPECT_EQ(x[16], -saved[6]);
  EXPECT_EQ(x[7], saved[7]);
  b_xrot(x, 1, 11, 0.0, -1.0);
  EXPECT_TRUE(std::equal(x, x + 7, saved));
  EXPECT_EQ(x[9], -saved[19]);
  EXPECT_EQ(x[19], saved[9]);

  std::copy(saved, saved + 20, x);
  xswap(x, 2, 12);
  EXPECT_EQ(x[7], saved[17]);
  EXPECT_EQ(x[8], saved[8]);  // the run of 7 from position 2 ends at position 8
  xswap(x, 2, 12);
  b_xswap(x, 1, 11);
  EXPECT_EQ(x[9], saved[19]);
  b_xswap(x, 1, 11);
  EXPECT_TRUE(std::equal(x, x + 20, saved));
}

TEST(Gemv, TransposedProductOnLeadingDimensionThree) {
  // Column-major 3-by-3: A = [1 4 7; 2 5 8; 3 6 9].
  const double A[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  const double x[4] = {100.0, 1.0, 1.0, 1.0};
  double y[3] = {kNaN, kNaN, kNaN};
  xgemv(3, 3, A, 1, x, 2, y);  // column sums
  EXPECT_EQ(y[0], 6.0);
  EXPECT_EQ(y[1], 15.0);
  EXPECT_EQ(y[2], 24.0);

  // The trailing 2-by-2 block (rows 2..3, columns 2..3) starts at position 5.
  const double w[2] = {1.0, -1.0};
  xgemv(2, 2, A, 5, w, 1, y);
  EXPECT_EQ(y[0], 5.0 - 6.0);
  EXPECT_EQ(y[1], 8.0 - 9.0);
  EXPECT_EQ(y[2], 24.0);

  double untouched[3] = {kNaN, 7.0, 7.0};
  xgemv(3, 0, A, 1, x, 1, untouched);
  EXPECT_TRUE(std::isnan(untouched[0]));
  xgemv(3, -1, A, 1, x, 1, untouched);
  EXPECT_EQ(untouched[1], 7.0);

  double zeroed[3] = {kNaN, kNaN, kNaN};
  xgemv(0, 3, A, 1, x, 1, zeroed);
  EXPECT_EQ(zeroed[0], 0.0);
  EXPECT_EQ(zeroed[1], 0.0);
  EXPECT_EQ(zeroed[2], 0.0);
}

TEST(Gerc, RankOneUpdateWithVectorInsideTheMatrix) {
  // The vector x is column 1 (rows 2..3); the update touches rows 2..3 of columns 2..3.
  double A[9] = {0, 1, 2, 10, 20, 30, 40, 50, 60};
  const double y[2] = {3.0, -1.0};
  xgerc(2, 2, 0.5, 2, y, A, 5);
  EXPECT_EQ(A[4], 1.0 * 1.5 + 20.0);
  EXPECT_EQ(A[5], 2.0 * 1.5 + 30.0);
  EXPECT_EQ(A[7], 1.0 * -0.5 + 50.0);
  EXPECT_EQ(A[8], 2.0 * -0.5 + 60.0);
  EXPECT_EQ(A[3], 10.0);
  EXPECT_EQ(A[6], 40.0);

  // alpha1 == 0, zero y entries or a negative count change nothing, even with NaN in x.
  double B[9] = {kNaN, kNaN, kNaN, 1, 2, 3, 4, 5, 6};
  const double zeros[2] = {0.0, 0.0};
  xgerc(3, 2, 0.0, 1, y, B, 4);
  xgerc(3, 2, 1.0, 1, zeros, B, 4);
  xgerc(3, -1, 1.0, 1, y, B, 4);
  for (int k = 3; k < 9; ++k) {
    EXPECT_EQ(B[k], k - 2.0);
  }
  const double oneNonZero[2] = {0.0, 2.0};
  xgerc(3, 2, 1.0, 1, oneNonZero, B, 4);
  EXPECT_EQ(B[3], 1.0);
  EXPECT_TRUE(std::isnan(B[6]));
}

}  // namespace
