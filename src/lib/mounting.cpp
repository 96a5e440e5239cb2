// The mounting of the magnetometer against the accelerometer, from the dip invariant: at rest,
// down . (R * field) / |field| = sin(inclination) in every pose.
//
// A homogeneous linear fit gives the start: d^T X m - c = 0 for the ten unknowns of X and c, the
// right singular vector of the smallest singular value, so that it holds at the magnetic equator
// (c = 0) as well as elsewhere; X is a multiple of R, whose polar factor is the rotation. Gauss-
// Newton then refines the rotation (a small rotation on the right, three angles) and s = sin(I)
// on the residuals d^T R m - s, leaving out the samples a push made outliers.
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "coder_array.h"
#include "fluxtrim/diagnostics.hpp"
#include "constants.hpp"
#include "fluxtrim/error.hpp"
#include "fluxtrim/vehicle.hpp"
#include "robustStatistics.hpp"
#include "svd.h"
#include "symmetricEigen.hpp"
#include "vehicleMath.hpp"

namespace fluxtrim {

using namespace detail;

namespace {

// Within this many degrees of the magnetic equator the sign of the inclination, and with it the
// handedness, is not told.
constexpr double kHandednessMargin_deg = 5.0;
// Residuals of a clean fit are not trimmed below this, in units of the sine.
constexpr double kResidualFloor = 1e-6;

struct Pair {
  Vec3 field;  // unit, magnetometer's axes
  Vec3 down;   // unit, accelerometer's axes
};

struct Fit {
  Matrix3 rotation = identity3();
  double sine = 0.0;  // sin(inclination)
};

double residual(const Fit& fit, const Pair& pair) {
  return dot(pair.down, times(fit.rotation, pair.field)) - fit.sine;
}

// The homogeneous fit d^T X m = c over all pairs: X's polar factor (X's sign chosen so that its
// determinant is positive) and c over X's mean singular value. False when X is singular.
bool linearStart(const std::vector<Pair>& pairs, Fit& fit) {
  const int n = static_cast<int>(pairs.size());
  coder::array<double, 2> design;
  design.set_size(n, 10);
  for (int i = 0; i < n; ++i) {
    const Pair& pair = pairs[static_cast<std::size_t>(i)];
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) {
        design[i + n * (3 * r + c)] = pair.down[r] * pair.field[c];
      }
    }
    design[i + n * 9] = -1.0;
  }
  coder::array<double, 2> left;
  double singular[10];
  double right[100];
  int rightSize[2];
  const int k = coder::internal::b_svd(design, left, singular, right, rightSize);
  if (k < 10) {
    return false;
  }
  const double* nullVector = right + 10 * 9;  // the last column: smallest singular value
  Matrix3 x{};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      x[r][c] = nullVector[3 * r + c];
    }
  }
  double c = nullVector[9];
  if (determinant(x) < 0.0) {
    for (auto& row : x) {
      row = scaled(row, -1.0);
    }
    c = -c;
  }
  if (!polarFactor(x, fit.rotation)) {
    return false;
  }
  // X = scale * R with scale the mean singular value: trace(R^T X) / 3.
  const Matrix3 p = multiply(transpose(fit.rotation), x);
  const double scale = (p[0][0] + p[1][1] + p[2][2]) / 3.0;
  fit.sine = std::max(-1.0, std::min(1.0, c / scale));
  return true;
}

// Normal equations J^T J (4 x 4, row-major) and J^T e of the kept pairs at fit; the unknowns are
// the small rotation w (R -> R * exp([w]x)) and the change of the sine.
void normalEquations(const std::vector<Pair>& pairs, const std::vector<char>& kept, const Fit& fit,
                     double* jtj, double* jte) {
  std::fill(jtj, jtj + 16, 0.0);
  std::fill(jte, jte + 4, 0.0);
  const Matrix3 inverse = transpose(fit.rotation);
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (!kept[i]) {
      continue;
    }
    const Vec3 g = cross(pairs[i].field, times(inverse, pairs[i].down));
    const double row[4] = {g[0], g[1], g[2], -1.0};
    const double e = residual(fit, pairs[i]);
    for (int a = 0; a < 4; ++a) {
      jte[a] += row[a] * e;
      for (int b = 0; b < 4; ++b) {
        jtj[4 * a + b] += row[a] * row[b];
      }
    }
  }
}

// Gauss-Newton on the kept pairs from fit. False when the normal equations are singular (the
// poses leave a rotation free).
bool refine(const std::vector<Pair>& pairs, const std::vector<char>& kept, Fit& fit) {
  constexpr int kMaxIterations = 50;
  constexpr double kConverged = 1e-12;  // step, radians and sine
  for (int iteration = 0; iteration < kMaxIterations; ++iteration) {
    double jtj[16];
    double step[4];
    normalEquations(pairs, kept, fit, jtj, step);
    if (!choleskySolve(jtj, step, 4)) {
      return false;
    }
    const Vec3 w{{-step[0], -step[1], -step[2]}};
    Matrix3 turned = multiply(fit.rotation, rotationFromVector(w));
    polarFactor(turned, turned);  // keeps it orthonormal over the iterations
    fit.rotation = turned;
    fit.sine = std::max(-1.0, std::min(1.0, fit.sine - step[3]));
    if (norm(w) + std::fabs(step[3]) < kConverged) {
      break;
    }
  }
  return true;
}

// Marks as not kept the pairs whose residual exceeds limit robust standard deviations; returns
// whether any mark changed.
bool trimOutliers(const std::vector<Pair>& pairs, const Fit& fit, double limit,
                  std::vector<char>& kept) {
  std::vector<double> sizes;
  sizes.reserve(pairs.size());
  for (const Pair& pair : pairs) {
    sizes.push_back(std::fabs(residual(fit, pair)));
  }
  std::vector<double> scratch = sizes;
  const double sigma =
      std::max(kMadToSigma * detail::orderStatistic(scratch, scratch.size() / 2), kResidualFloor);
  bool changed = false;
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const char keep = sizes[i] <= limit * sigma ? 1 : 0;
    changed = changed || keep != kept[i];
    kept[i] = keep;
  }
  return changed;
}

int occupiedPoses(const std::vector<Pair>& pairs, const std::vector<char>& kept) {
  const SphereGrid grid(8, 16);
  std::vector<char> occupied(static_cast<std::size_t>(grid.cells()), 0);
  int poses = 0;
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const int cell = grid.cellOf(pairs[i].down);
    if (kept[i] && cell >= 0 && !occupied[static_cast<std::size_t>(cell)]) {
      occupied[static_cast<std::size_t>(cell)] = 1;
      ++poses;
    }
  }
  return poses;
}

// Uncertainty of the rotation (largest standard deviation over its axes, degrees) and of the
// inclination (degrees), the residual scaled by the samples per pose. False when the normal
// equations are singular.
bool uncertainties(const std::vector<Pair>& pairs, const std::vector<char>& kept, const Fit& fit,
                   MountingEstimate& estimate) {
  double jtj[16];
  double unused[4];
  normalEquations(pairs, kept, fit, jtj, unused);
  double squares = 0.0;
  double angleSquares = 0.0;
  const double angle = std::asin(fit.sine);
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (kept[i]) {
      const double e = residual(fit, pairs[i]);
      squares += e * e;
      const double sine = std::max(-1.0, std::min(1.0, e + fit.sine));
      const double deviation = std::asin(sine) - angle;
      angleSquares += deviation * deviation;
    }
  }
  const double n = static_cast<double>(estimate.used);
  estimate.residual_deg = std::sqrt(angleSquares / n) * kDegreesPerRadian;
  const double variance =
      squares / std::max(1.0, n - 4.0) * n / std::max(1.0, static_cast<double>(estimate.poses));
  double covariance[4][4];
  for (int column = 0; column < 4; ++column) {
    double factor[16];
    std::copy(jtj, jtj + 16, factor);
    double unitVector[4] = {0.0, 0.0, 0.0, 0.0};
    unitVector[column] = 1.0;
    if (!choleskySolve(factor, unitVector, 4)) {
      return false;
    }
    for (int row = 0; row < 4; ++row) {
      covariance[row][column] = variance * unitVector[row];
    }
  }
  Matrix3 rotationBlock{};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      rotationBlock[r][c] = covariance[r][c];
    }
  }
  Vec3 values{};
  Matrix3 vectors{};
  detail::symmetricEigen3(rotationBlock, values, vectors);
  estimate.uncertainty_deg = std::sqrt(std::max(0.0, values[2])) * kDegreesPerRadian;
  estimate.inclinationUncertainty_deg =
      std::sqrt(std::max(0.0, covariance[3][3])) / std::cos(angle) * kDegreesPerRadian;
  return true;
}

Handedness handedness(double measured_deg, double model_deg) {
  if (!(std::fabs(measured_deg) >= kHandednessMargin_deg) ||
      !(std::fabs(model_deg) >= kHandednessMargin_deg)) {
    return Handedness::Unknown;  // NaN included
  }
  return (measured_deg > 0.0) == (model_deg > 0.0) ? Handedness::Right : Handedness::Mirrored;
}

void checkOptions(const MountingOptions& options) {
  if (options.minimumSamples < 10) {
    throw UsageError("the mounting needs a minimum of at least 10 samples");
  }
  if (!(options.outlierLimit > 0.0) || !std::isfinite(options.outlierLimit)) {
    throw UsageError("the mounting's outlier limit must be finite and greater than 0");
  }
  if (!(options.maximumUncertainty_deg > 0.0) || !std::isfinite(options.maximumUncertainty_deg)) {
    throw UsageError("the mounting's largest uncertainty must be finite and greater than 0");
  }
}

std::vector<Pair> pairsOf(const std::vector<Vec3>& field, const QuasiStatic& steady) {
  checkQuasiStatic(steady, field.size());
  std::vector<Pair> pairs;
  pairs.reserve(steady.indices.size());
  for (std::size_t k = 0; k < steady.indices.size(); ++k) {
    const Vec3 direction = normalised(field[steady.indices[k]]);
    if (isFinite(direction) && isFinite(steady.down[k])) {
      pairs.push_back(Pair{direction, steady.down[k]});
    }
  }
  return pairs;
}

}  // namespace

const char* handednessName(Handedness handedness) {
  switch (handedness) {
    case Handedness::Right:
      return "right-handed";
    case Handedness::Mirrored:
      return "mirrored";
    case Handedness::Unknown:
      return "unknown";
  }
  return "?";
}

MountingEstimate estimateMounting(const std::vector<Vec3>& field, const QuasiStatic& steady,
                                  double modelInclination_deg, const MountingOptions& options) {
  checkOptions(options);
  const std::vector<Pair> pairs = pairsOf(field, steady);
  MountingEstimate estimate;
  estimate.samples = pairs.size();
  estimate.modelInclination_deg = modelInclination_deg;
  if (pairs.size() < options.minimumSamples) {
    estimate.problem = std::to_string(pairs.size()) + " quasi-static samples, fewer than the " +
                       std::to_string(options.minimumSamples) +
                       " the mounting needs: hold the device still in several poses";
    return estimate;
  }
  const std::string tooAlike =
      "the poses do not vary enough to fix the rotation: hold the device still with each of its "
      "axes pointing down in turn";
  Fit fit;
  std::vector<char> kept(pairs.size(), 1);
  bool solved = linearStart(pairs, fit) && refine(pairs, kept, fit);
  for (int round = 0; solved && round < 3 && trimOutliers(pairs, fit, options.outlierLimit, kept);
       ++round) {
    solved = refine(pairs, kept, fit);
  }
  estimate.used = static_cast<std::size_t>(std::count(kept.begin(), kept.end(), 1));
  estimate.poses = occupiedPoses(pairs, kept);
  if (!solved || estimate.used < options.minimumSamples ||
      !uncertainties(pairs, kept, fit, estimate)) {
    estimate.problem = tooAlike;
    return estimate;
  }

  const double fitted_deg = std::asin(fit.sine) * kDegreesPerRadian;
  estimate.handedness = handedness(fitted_deg, modelInclination_deg);
  const bool mirrored = estimate.handedness == Handedness::Mirrored;
  // A mirrored set: -R is the improper map, under the field of the other inclination.
  estimate.matrix = fit.rotation;
  estimate.measuredInclination_deg = mirrored ? -fitted_deg : fitted_deg;
  Matrix3 proper = fit.rotation;
  if (mirrored) {
    for (auto& row : estimate.matrix) {
      row = scaled(row, -1.0);
    }
    proper = estimate.matrix;
    for (auto& row : proper) {
      row[2] = -row[2];  // matrix * diag(1, 1, -1)
    }
  }
  const OrientationMatch match = nearestOrientation(proper);
  estimate.nearest = match.index;
  estimate.misalignment_deg = match.angle_deg;
  estimate.determined = estimate.uncertainty_deg <= options.maximumUncertainty_deg;
  if (!estimate.determined) {
    estimate.problem = tooAlike;
  }
  return estimate;
}

}  // namespace fluxtrim
