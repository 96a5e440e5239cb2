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

// Whether each sample, in g, is finite with a magnitude within the tolerance of 1 g: one norm per
// sample, however many windows hold it.
std::vector<char> nearOneG(const std::vector<Vec3>& samples, double perG, double tolerance) {
  std::vector<char> near(samples.size(), 0);
  for (std::size_t j = 0; j < samples.size(); ++j) {
    const Vec3 a = scaled(samples[j], 1.0 / perG);
    near[j] = isFinite(a) && std::fabs(norm(a) - 1.0) <= tolerance ? 1 : 0;
  }
  return near;
}

// Whether the window [first, last] of samples, each near 1 g, is steady; its mean, in g, in
// mean_g.
bool steadyWindow(const std::vector<Vec3>& samples, double perG, std::size_t first,
                  std::size_t last, double steadiness, Vec3& mean_g) {
  Vec3 total{{0.0, 0.0, 0.0}};
  for (std::size_t j = first; j <= last; ++j) {
    total = sum(total, scaled(samples[j], 1.0 / perG));
  }
  const double count = static_cast<double>(last - first + 1);
  mean_g = scaled(total, 1.0 / count);
  double squares = 0.0;
  for (std::size_t j = first; j <= last; ++j) {
    const Vec3 deviation = difference(scaled(samples[j], 1.0 / perG), mean_g);
    squares += dot(deviation, deviation);
  }
  return std::sqrt(squares / count) <= steadiness;
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
  const std::vector<char> near = nearOneG(samples, perG, options.magnitudeTolerance);
  // Samples of the window [i - half, i + half] not near 1 g, kept as the window slides.
  std::size_t far = 0;
  for (std::size_t j = 0; j < std::min(half, samples.size()); ++j) {
    far += near[j] ? 0 : 1;
  }
  for (std::size_t i = 0; i < samples.size(); ++i) {
    far += i + half < samples.size() && !near[i + half] ? 1 : 0;
    far -= i > half && !near[i - half - 1] ? 1 : 0;
    if (!isFinite(samples[i])) {
      ++steady.invalid;
      continue;
    }
    const std::size_t first = i >= half ? i - half : 0;
    const std::size_t last = std::min(samples.size() - 1, i + half);
    Vec3 mean_g{};
    if (far == 0 && steadyWindow(samples, perG, first, last, options.steadiness, mean_g)) {
      steady.indices.push_back(i);
      steady.down.push_back(downFromSpecificForce(mean_g));
    }
  }
  return steady;
}

}  // namespace fluxtrim
