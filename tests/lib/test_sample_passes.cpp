// The pieces the calibration's passes over the samples rest on, each against the straightforward
// computation it stands for.
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "lib/sphereGeometry.hpp"
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

// The longitude as it was written with branches, one call at a time: cells of directions must
// not move when the branches become selections.
double branchedLongitude(double y, double x) {
  const double kPi = 3.141592653589793;
  const double ax = std::fabs(x);
  const double ay = std::fabs(y);
  const double larger = std::max(ax, ay);
  if (larger == 0.0) {
    return 0.0;
  }
  const double t = std::min(ax, ay) / larger;
  const bool high = t > 0.6681786379192989;
  const bool middle = t > 0.198912367379658;
  const double c = high ? 1.0 : (middle ? 0.41421356237309503 : 0.0);
  const double base = high ? kPi / 4.0 : (middle ? kPi / 8.0 : 0.0);
  const double u = (t - c) / (1.0 + t * c);
  const double u2 = u * u;
  const double series =
      u * (1.0 + u2 * (-1.0 / 3.0 + u2 * (1.0 / 5.0 + u2 * (-1.0 / 7.0 + u2 / 9.0))));
  double angle = base + series;
  angle = ay > ax ? kPi / 2.0 - angle : angle;
  angle = x < 0.0 ? kPi - angle : angle;
  return y < 0.0 ? -angle : angle;
}

// Would catch a lane that takes another octant's reduction, a sign or quadrant applied to the
// other lane, or a zero direction that is not 0: the same doubles as the branches gave, and
// within 2e-9 rad of atan2, on axes, octant edges and at random.
TEST(SamplePasses, LongitudesAreTheBranchedOnesToTheBit) {
  std::mt19937_64 random(9);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::vector<std::array<double, 2>> points = {{0.0, 0.0},  {-0.0, 0.0}, {0.0, -1.0}, {1.0, 0.0},
                                               {-1.0, 0.0}, {1.0, 1.0},  {-1.0, -1.0}};
  for (double t : {0.198912367379658, 0.6681786379192989, 0.41421356237309503}) {
    points.push_back({t, 1.0});
    points.push_back({-1.0, -t});
  }
  for (int k = 0; k < 100000; ++k) {
    points.push_back({uniform(random), uniform(random) * (k % 7 == 0 ? 1e-9 : 1.0)});
  }
  for (std::size_t k = 0; k + 1 < points.size(); ++k) {
    const auto& [y0, x0] = points[k];
    const auto& [y1, x1] = points[k + 1];
    const coder::internal::Pair both =
        fluxtrim::detail::longitudes(coder::internal::Pair{y0, y1}, coder::internal::Pair{x0, x1});
    ASSERT_TRUE(sameBits(both[0], branchedLongitude(y0, x0)) &&
                sameBits(both[1], branchedLongitude(y1, x1)))
        << y0 << " " << x0;
    EXPECT_NEAR(fluxtrim::detail::longitude(y0, x0), std::atan2(y0, x0), 2e-9);
  }
}

}  // namespace
