// The pieces the calibration's passes over the samples rest on, each against the straightforward
// computation it stands for.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "coreThreads.h"
#include "lib/robustStatistics.hpp"
#include "lib/sampleSurvey.hpp"
#include "lib/sphereFit.hpp"
#include "lib/sphereGeometry.hpp"
#include "lib/streamingFit.hpp"
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

// The smallest value at which the weights, summed in ascending order, reach the target.
double sortedAnswer(std::vector<fluxtrim::detail::WeightedValue> items, double target) {
  std::sort(items.begin(), items.end(),
            [](const auto& a, const auto& b) { return a.value < b.value; });
  double sum = 0.0;
  for (const auto& item : items) {
    sum += item.weight;
    if (sum >= target) {
      return item.value;
    }
  }
  return items.empty() ? std::nan("") : items.back().value;
}

// Runs the search over items, handed over in pieces of 100.
std::vector<double> searched(const std::vector<fluxtrim::detail::WeightedValue>& items,
                             const std::vector<double>& targets, bool ofTotal,
                             const std::vector<fluxtrim::detail::Bracket>& brackets) {
  const double infinity = std::numeric_limits<double>::infinity();
  fluxtrim::detail::OrderSearch search(targets, ofTotal, -infinity, infinity, brackets);
  std::vector<double> values(items.size());
  std::vector<double> weights(items.size());
  for (std::size_t k = 0; k < items.size(); ++k) {
    values[k] = items[k].value;
    weights[k] = items[k].weight;
  }
  int passes = 0;
  while (search.wanted()) {
    for (std::size_t first = 0; first < items.size(); first += 100) {
      const std::size_t count = std::min<std::size_t>(100, items.size() - first);
      search.add(values.data() + first, weights.data() + first, count);
    }
    search.endPass();
    EXPECT_LT(++passes, 12);
  }
  std::vector<double> found;
  for (std::size_t k = 0; k < targets.size(); ++k) {
    found.push_back(search.value(k));
  }
  return found;
}

// Would catch a bucket that loses a value or counts it twice, a next range cut at a bucket's
// edge, weight below a bracket not counted, a bracket missed on either side searched on the wrong
// one, and a rank off by one: on many values (several passes), few (kept at once), whole-number
// weights (sums exact, so the answer is exactly the sorted one), duplicates and infinities.
TEST(SamplePasses, OrderSearchFindsWhatSortingFinds) {
  std::mt19937_64 random(17);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  const double infinity = std::numeric_limits<double>::infinity();
  for (int trial = 0; trial < 12; ++trial) {
    const std::size_t n = trial % 3 == 0 ? 400000 : (trial % 3 == 1 ? 3000 : 7);
    std::vector<fluxtrim::detail::WeightedValue> items;
    for (std::size_t k = 0; k < n; ++k) {
      double value = std::pow(10.0, 6.0 * uniform(random) - 3.0) * (k % 2 == 0 ? 1.0 : -1.0);
      value = trial % 4 == 1 ? std::floor(value) : value;  // many equal values
      items.push_back({value, 1.0 + std::floor(4.0 * uniform(random))});
    }
    items[n / 2].value = trial % 2 == 0 ? infinity : -infinity;
    double total = 0.0;
    for (const auto& item : items) {
      total += item.weight;
    }
    const std::vector<double> targets = {1.0, 0.01 * total, 0.5 * total, 0.99 * total, total};
    // No bracket, good brackets, and brackets wholly below or above each answer.
    std::vector<fluxtrim::detail::Bracket> good;
    std::vector<fluxtrim::detail::Bracket> wrong;
    for (double target : targets) {
      const double answer = sortedAnswer(items, target);
      good.push_back({answer - 1e-3, answer + 1e-3});
      wrong.push_back(trial % 2 == 0 ? fluxtrim::detail::Bracket{answer + 1.0, answer + 2.0}
                                     : fluxtrim::detail::Bracket{answer - 2.0, answer - 1.0});
    }
    for (const auto& brackets : {std::vector<fluxtrim::detail::Bracket>(), good, wrong}) {
      const std::vector<double> found = searched(items, targets, false, brackets);
      for (std::size_t k = 0; k < targets.size(); ++k) {
        ASSERT_EQ(found[k], sortedAnswer(items, targets[k])) << trial << " " << k;
      }
    }
    // The same median as a fraction of the total weight, bracketed from a sample.
    std::vector<fluxtrim::detail::WeightedValue> sample;
    for (std::size_t k = 0; k < n; k += 13) {
      sample.push_back(items[k]);
    }
    const auto brackets = fluxtrim::detail::bracketsFromSample(sample, {0.5});
    EXPECT_EQ(searched(items, {0.5}, true, brackets)[0], sortedAnswer(items, 0.5 * total));
  }
  EXPECT_TRUE(std::isnan(searched({}, {0.5}, true, {})[0]));
}

// Would catch a squared bound taken as inside when the norm is outside (or the reverse) by a
// rounding, a lower bound of 0 or a negative one mishandled, and a NaN or an overflow that
// passes: the decision is always the norm's.
TEST(SamplePasses, DistanceWindowsDecideAsTheNormDoes) {
  std::mt19937_64 random(23);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::vector<Vec3> vectors;
  for (int k = 0; k < 20000; ++k) {
    const double scale = std::pow(10.0, 40.0 * uniform(random));
    vectors.push_back(
        {{uniform(random) * scale, uniform(random) * scale, uniform(random) * scale}});
  }
  vectors.push_back({{std::nan(""), 0.0, 0.0}});
  vectors.push_back({{std::numeric_limits<double>::infinity(), 0.0, 0.0}});
  vectors.push_back({{1e200, 1e200, 0.0}});
  vectors.push_back({{0.0, 0.0, 0.0}});
  for (int w = 0; w < 300; ++w) {
    // Bounds at a vector's own norm, a rounding either side of it, zero, negative and huge.
    const double n = fluxtrim::detail::norm(vectors[static_cast<std::size_t>(w) * 7]);
    const double edges[] = {n, std::nextafter(n, 0.0), std::nextafter(n, 1e300), 0.0, -1.0, 1e300};
    const double lower = edges[w % 6];
    const double upper = w % 5 == 0 ? lower : edges[(w / 6) % 6] * 1.5 + n;
    const fluxtrim::detail::DistanceWindow window(lower, upper);
    for (const Vec3& v : vectors) {
      const double m = fluxtrim::detail::norm(v);
      ASSERT_EQ(window.accepts(v), m <= upper && m >= lower) << lower << " " << upper << " " << m;
    }
  }
}

// Would catch a block the refinement does not build again, one built from the samples before the
// change, or rows counted twice: after samples leave, the rebuilt design fits as a design built
// afresh from the samples left does, to the bit, on one thread and on two.
TEST(SamplePasses, RebuiltDesignIsTheFreshOne) {
  std::mt19937_64 random(29);
  std::normal_distribution<double> gauss(0.0, 1.0);
  std::vector<Vec3> values;
  for (int k = 0; k < 50000; ++k) {
    Vec3 u = {{gauss(random), gauss(random), gauss(random)}};
    const double n = fluxtrim::detail::norm(u);
    values.push_back({{0.1 + 0.5 * u[0] / n + 0.002 * gauss(random), -0.2 + 0.45 * u[1] / n,
                       0.05 + 0.48 * u[2] / n + 0.002 * gauss(random)}});
  }
  for (int threads : {1, 2}) {
    coder::internal::setCoreThreads(threads, 3);
    std::vector<bool> taken(values.size(), true);
    fluxtrim::detail::StreamedDesign rebuilt(values, [&](std::size_t i) { return bool(taken[i]); });
    std::vector<std::size_t> changed;
    for (std::size_t i = 5; i < values.size(); i += 997) {
      taken[i] = false;
      changed.push_back(i);
    }
    rebuilt.rebuild(values, changed, [&](std::size_t i) { return bool(taken[i]); });
    const fluxtrim::detail::StreamedDesign fresh(values,
                                                 [&](std::size_t i) { return bool(taken[i]); });
    EXPECT_EQ(rebuilt.rows(), values.size() - changed.size());
    coder::MagcalFits a;
    coder::MagcalFits b;
    ASSERT_TRUE(rebuilt.fits(a));
    ASSERT_TRUE(fresh.fits(b));
    EXPECT_EQ(a.chosen, b.chosen);
    for (int f = 0; f < 3; ++f) {
      // The doubles of a fit lie together before its two flags.
      EXPECT_EQ(std::memcmp(a.fit[f].A, b.fit[f].A, sizeof a.fit[f].A + 5 * sizeof(double)), 0);
    }
  }
  coder::internal::setCoreThreads(0, 0);
}

// Would catch a block boundary one off, a block's sum started from the running total, or the
// first block added to a total of 0 in another order: the mean of fluxtrim.out's blocks of 1024.
TEST(SamplePasses, BlockMeanSumsAsTheCoreDoes) {
  std::mt19937_64 random(31);
  std::uniform_real_distribution<double> uniform(0.4, 0.6);
  for (std::size_t n : {0, 1, 1023, 1024, 1025, 2048, 5000}) {
    std::vector<double> values(n);
    fluxtrim::detail::BlockMean mean;
    for (double& v : values) {
      v = uniform(random);
      mean.add(v);
    }
    double total = 0.0;
    for (std::size_t first = 0; first < n; first += 1024) {
      double block = values[first];
      for (std::size_t k = first + 1; k < std::min(n, first + 1024); ++k) {
        block += values[k];
      }
      total = first == 0 ? block : total + block;
    }
    EXPECT_TRUE(sameBits(mean.mean(), total / static_cast<double>(n))) << n;
  }
}

}  // namespace
