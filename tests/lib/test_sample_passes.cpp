// The pieces the calibration's passes over the samples rest on, each against the straightforward
// computation it stands for.
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "lib/vec3.hpp"
#include "xnrm2.h"

namespace {

using fluxtrim::Vec3;

bool sameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

// Components of every kind the scaled sum treats apart: ordinary, equal, zero, below and at its
// starting scale 2^-563, subnormal, near the largest double, infinite and NaN.
double component(std::mt19937_64& random) {
  const double special[] = {0.0,
                            -0.0,
                            3.3121686421112381e-170,
                            1e-170,
                            4.9e-324,
                            1e-300,
                            1.7976931348623157e308,
                            std::numeric_limits<double>::infinity(),
                            std::numeric_limits<double>::quiet_NaN(),
                            0.48,
                            -0.48};
  std::uniform_int_distribution<int> kind(0, 19);
  const int k = kind(random);
  if (k < 11) {
    return special[k];
  }
  std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(k < 17 ? -3 : -330, k < 17 ? 3 : 308);
  return std::ldexp(mantissa(random), exponent(random) * (k < 17 ? 1 : 3) / 3);
}

// Would catch a branch-free norm that orders, scales or sums differently from the core's scaled
// sum for any component: every magnitude a window compares must be the core's double.
TEST(SamplePasses, NormsAreTheCoresScaledNormToTheBit) {
  std::mt19937_64 random(5);
  for (int trial = 0; trial < 200000; ++trial) {
    const Vec3 a = {{component(random), component(random), component(random)}};
    const Vec3 b = {{component(random), component(random), component(random)}};
    const double expectedA = coder::internal::blas::xnrm2(3, a.data(), 1);
    const double expectedB = coder::internal::blas::xnrm2(3, b.data(), 1);
    ASSERT_TRUE(sameBits(fluxtrim::detail::norm(a), expectedA))
        << a[0] << " " << a[1] << " " << a[2];
    const std::array<double, 2> both = fluxtrim::detail::norms(a, b);
    ASSERT_TRUE(sameBits(both[0], expectedA) && sameBits(both[1], expectedB)) << trial;
  }
}

}  // namespace
