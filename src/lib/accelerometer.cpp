// Accelerometer units and the quasi-static samples: where the accelerometer says where down is.
#include <algorithm>
#include <cmath>
#include <limits>

#include "fluxtrim/error.hpp"
#include "fluxtrim/units.hpp"
#include "fluxtrim/vehicle.hpp"
#include "robustStatistics.hpp"
#include "vehicleMath.hpp"

namespace fluxtrim {

using namespace detail;

namespace {

// A magnitude is taken for a unit when it lies within this fraction of the unit's 1 g.
constexpr double kDetectionTolerance = 0.15;

void checkOptions(const QuasiStaticOptions& options) {
  if (options.halfWindow < 0 || options.halfWindow > 1000) {
    throw UsageError("the quasi-static window's half-width must be 0 to 1000 samples, not " +
                     std::to_string(options.halfWindow));
  }
  if (!(options.magnitudeTolerance > 0.0 && options.magnitudeTolerance < 1.0)) {
    throw UsageError("the quasi-static magnitude tolerance must lie between 0 and 1 (exclusive)");
  }
  if (!(options.steadiness > 0.0) || !std::isfinite(options.steadiness)) {
    throw UsageError("the quasi-static steadiness must be finite and greater than 0");
  }
}

// Whether the window [first, last] of samples (in g) is finite, near 1 g and steady; its mean
// in mean_g.
bool steadyWindow(const std::vector<Vec3>& samples, double perG, std::size_t first,
                  std::size_t last, const QuasiStaticOptions& options, Vec3& mean_g) {
  Vec3 total{{0.0, 0.0, 0.0}};
  for (std::size_t j = first; j <= last; ++j) {
    const Vec3 a = scaled(samples[j], 1.0 / perG);
    if (!isFinite(a) || !(std::fabs(norm(a) - 1.0) <= options.magnitudeTolerance)) {
      return false;
    }
    total = sum(total, a);
  }
  const double count = static_cast<double>(last - first + 1);
  mean_g = scaled(total, 1.0 / count);
  double squares = 0.0;
  for (std::size_t j = first; j <= last; ++j) {
    const Vec3 deviation = difference(scaled(samples[j], 1.0 / perG), mean_g);
    squares += dot(deviation, deviation);
  }
  return std::sqrt(squares / count) <= options.steadiness;
}

}  // namespace

std::optional<AccelerometerUnit> detectAccelerometerUnit(const std::vector<Vec3>& samples) {
  std::vector<double> magnitudes;
  magnitudes.reserve(samples.size());
  for (const Vec3& a : samples) {
    if (isFinite(a)) {
      magnitudes.push_back(norm(a));
    }
  }
  const double typical = detail::orderStatistic(magnitudes, magnitudes.size() / 2);
  for (const AccelUnit candidate :
       {AccelUnit::MetresPerSecondSquared, AccelUnit::StandardGravity}) {
    const AccelerometerUnit unit{candidate};
    if (std::fabs(typical / unit.perG() - 1.0) <= kDetectionTolerance) {
      return unit;
    }
  }
  return std::nullopt;
}

Vec3 downFromSpecificForce(const Vec3& a) {
  return normalised(scaled(a, -1.0));
}

QuasiStatic selectQuasiStatic(const std::vector<Vec3>& samples, const AccelerometerUnit& unit,
                              const QuasiStaticOptions& options) {
  checkOptions(options);
  const double perG = unit.perG();
  QuasiStatic steady;
  steady.samples = samples.size();
  const std::size_t half = static_cast<std::size_t>(options.halfWindow);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    if (!isFinite(samples[i])) {
      ++steady.invalid;
      continue;
    }
    const std::size_t first = i >= half ? i - half : 0;
    const std::size_t last = std::min(samples.size() - 1, i + half);
    Vec3 mean_g{};
    if (steadyWindow(samples, perG, first, last, options, mean_g)) {
      steady.indices.push_back(i);
      steady.down.push_back(downFromSpecificForce(mean_g));
    }
  }
  return steady;
}

}  // namespace fluxtrim
