#include "sphereFit.hpp"

#include <cmath>

#include "symmetricEigen.hpp"

namespace fluxtrim {
namespace detail {

namespace {

// Eigenvalues of the sample scatter below this fraction of the largest count as zero in the
// sphere fit: directions in which the samples do not spread do not determine the centre.
constexpr double kScatterRankTolerance = 1e-12;

}  // namespace

void SphereSums::endMean() {
  for (double& m : mean_) {
    m /= static_cast<double>(count_);
  }
}

Sphere SphereSums::solve() const {
  Sphere sphere;
  if (count_ < 4) {
    return sphere;
  }
  Vec3 eigenvalues;
  Matrix3 eigenvectors;
  symmetricEigen3(scatter_, eigenvalues, eigenvectors);
  Vec3 shift{{0.0, 0.0, 0.0}};
  for (int j = 0; j < 3; ++j) {
    if (eigenvalues[j] > kScatterRankTolerance * eigenvalues[2]) {
      double projection = 0.0;
      for (int r = 0; r < 3; ++r) {
        projection += eigenvectors[r][j] * third_[r];
      }
      const double weight = 0.5 * projection / eigenvalues[j];
      for (int r = 0; r < 3; ++r) {
        shift[r] += weight * eigenvectors[r][j];
      }
    }
  }
  const double radiusSquared = ((shift[0] * shift[0] + shift[1] * shift[1]) + shift[2] * shift[2]) +
                               squares_ / static_cast<double>(count_);
  for (int k = 0; k < 3; ++k) {
    sphere.centre[k] = mean_[k] + shift[k];
  }
  if (radiusSquared > 0.0 && std::isfinite(radiusSquared)) {
    sphere.radius = std::sqrt(radiusSquared);
  }
  return sphere;
}

DistanceWindow::DistanceWindow(double lower, double upper) : lower_(lower), upper_(upper) {
  constexpr double kMargin = 1e-12;
  // Bounds whose squares lie far below or above every q considered decide that side for all of
  // them; squares within that range carry full precision, as q does.
  constexpr double kFarBelow = 1e-280;
  constexpr double kFarAbove = 1e280;
  if (!(lower <= upper && upper >= 0.0)) {
    return;  // NaN bounds, or a window that nothing reaches: the norm decides
  }
  const double lower2 = lower > 0.0 ? lower * lower : 0.0;
  if (lower2 >= kFarBelow) {
    outsideBelow_ = lower2 * (1.0 - kMargin);
    insideFrom_ = lower2 * (1.0 + kMargin);
  } else {
    insideFrom_ = -std::numeric_limits<double>::infinity();
  }
  const double upper2 = upper * upper;
  if (upper2 > kFarAbove) {
    insideTo_ = std::numeric_limits<double>::infinity();
  } else if (upper2 >= kFarBelow) {
    outsideAbove_ = upper2 * (1.0 + kMargin);
    insideTo_ = upper2 * (1.0 - kMargin);
  } else {
    outsideAbove_ = -std::numeric_limits<double>::infinity();
  }
}

}  // namespace detail
}  // namespace fluxtrim
