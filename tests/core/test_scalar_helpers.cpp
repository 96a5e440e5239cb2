// Non-finite constants, their getters, the scaled hypotenuse and the floor division by 3.
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

#include "rtGetInf.h"
#include "rtGetNaN.h"
#include "rt_nonfinite.h"
#include "staticMagCalibration_initialize.h"
#include "staticMagCalibration_rtwutil.h"
#include "staticMagCalibration_terminate.h"

namespace {

std::uint64_t bitsOf(double x) {
  std::uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits;
}

std::uint32_t bitsOf(float x) {
  std::uint32_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits;
}

TEST(NonFinite, ConstantsAndGettersHaveExactBitPatterns) {
  EXPECT_EQ(bitsOf(rtInf), 0x7FF0000000000000ULL);
  EXPECT_EQ(bitsOf(rtMinusInf), 0xFFF0000000000000ULL);
  EXPECT_EQ(bitsOf(rtNaN), 0x7FF8000000000000ULL);
  EXPECT_EQ(bitsOf(rtInfF), 0x7F800000U);
  EXPECT_EQ(bitsOf(rtMinusInfF), 0xFF800000U);
  EXPECT_EQ(bitsOf(rtNaNF), 0x7FC00000U);

  EXPECT_EQ(bitsOf(rtGetInf()), 0x7FF0000000000000ULL);
  EXPECT_EQ(bitsOf(rtGetMinusInf()), 0xFFF0000000000000ULL);
  EXPECT_EQ(bitsOf(rtGetNaN()), 0x7FF8000000000000ULL);
  EXPECT_EQ(bitsOf(rtGetInfF()), 0x7F800000U);
  EXPECT_EQ(bitsOf(rtGetMinusInfF()), 0xFF800000U);
  EXPECT_EQ(bitsOf(rtGetNaNF()), 0x7FC00000U);

  // The entry points exist and change none of the constants.
  staticMagCalibration_initialize();
  staticMagCalibration_terminate();
  EXPECT_EQ(bitsOf(rtNaN), 0x7FF8000000000000ULL);
}

TEST(Hypot, SpecialCasesAndRangeSafety) {
  EXPECT_EQ(rt_hypotd_snf(3.0, -4.0), 5.0);
  EXPECT_EQ(rt_hypotd_snf(-4.0, 3.0), 5.0);
  EXPECT_EQ(rt_hypotd_snf(-2.0, 2.0), 2.0 * 1.4142135623730951);
  EXPECT_EQ(rt_hypotd_snf(0.0, 0.0), 0.0);
  EXPECT_EQ(rt_hypotd_snf(-0.0, 5.0), 5.0);
  EXPECT_EQ(rt_hypotd_snf(rtInf, 1.0), rtInf);
  EXPECT_EQ(rt_hypotd_snf(1.0, rtMinusInf), rtInf);
  EXPECT_EQ(rt_hypotd_snf(rtInf, rtMinusInf), rtInf);
  EXPECT_TRUE(std::isnan(rt_hypotd_snf(1.0, rtNaN)));
  EXPECT_TRUE(std::isnan(rt_hypotd_snf(rtNaN, 1.0)));
  EXPECT_TRUE(std::isnan(rt_hypotd_snf(rtInf, rtNaN)));

  // Squaring either argument alone would overflow or underflow to zero.
  EXPECT_DOUBLE_EQ(rt_hypotd_snf(3e300, 4e300), 5e300);
  EXPECT_DOUBLE_EQ(rt_hypotd_snf(3e-300, -4e-300), 5e-300);
  EXPECT_DOUBLE_EQ(rt_hypotd_snf(1e200, 1e200), 1.4142135623730951e200);
}

TEST(FloorDivision, RoundsTowardMinusInfinity) {
  EXPECT_EQ(div_nde_s32_floor(7), 2);
  EXPECT_EQ(div_nde_s32_floor(-7), -3);
  EXPECT_EQ(div_nde_s32_floor(-6), -2);
  EXPECT_EQ(div_nde_s32_floor(-1), -1);
  EXPECT_EQ(div_nde_s32_floor(0), 0);
  EXPECT_EQ(div_nde_s32_floor(6), 2);
  EXPECT_EQ(div_nde_s32_floor(INT_MAX), 715827882);
  EXPECT_EQ(div_nde_s32_floor(INT_MIN), -715827883);
}

}  // namespace
