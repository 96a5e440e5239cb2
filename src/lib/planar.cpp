// A calibration from a turn about one axis: the samples' plane, an ellipse in it, and the
// component along the axis from the model's inclination.
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "constants.hpp"
#include "fluxtrim/calibration.hpp"
#include "fluxtrim/error.hpp"
#include "fluxtrim/vehicle.hpp"
#include "robustStatistics.hpp"
#include "symmetricEigen.hpp"
#include "vehicleMath.hpp"

namespace fluxtrim {

using namespace detail;

namespace {

using Vec2 = std::array<double, 2>;

// Fewer samples than this fix no ellipse worth reporting.
constexpr std::size_t kMinimumSamples = 20;
// A kept sample's corrected radius lies within this many robust standard deviations of the mean
// radius, or within kRadiusFloor of it.
constexpr double kOutlierLimit = 5.0;
constexpr double kRadiusFloor = 0.01;
// The hint, or the mean down, must lie within 60 degrees of the axis (or of its opposite) to
// orient it.
constexpr double kOrientingCosine = 0.5;
// Samples whose root mean square distance from their plane exceeds this fraction of their
// spread across it were not turned about one axis alone.
constexpr double kPlaneLimit = 0.1;
// Less of a turn than this leaves the ellipse's centre poorly fixed.
constexpr double kMinimumArc_deg = 180.0;
// The corrected field's along-axis component is searched as acrossAxisField * tan(angle) over
// angles in steps of this many degrees, then refined between the neighbours of the best.
constexpr double kSearchStep_deg = 0.5;

struct Plane {
  Vec3 axis{{0.0, 0.0, 1.0}};  // smallest scatter
  Vec3 planeX{{1.0, 0.0, 0.0}};
  Vec3 planeY{{0.0, 1.0, 0.0}};
  double meanAlong = 0.0;  // mean of raw . axis
  double residual = 0.0;   // root mean square of raw . axis about its mean
  double radius = 0.0;     // sqrt(2 x the middle scatter per sample): a circle's radius
};

// The plane of the kept samples: the eigenvectors of their scatter, the normal last.
Plane fitPlane(const std::vector<Vec3>& raw, const std::vector<char>& kept) {
  Vec3 mean{{0.0, 0.0, 0.0}};
  double count = 0.0;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (kept[i]) {
      mean = sum(mean, raw[i]);
      count += 1.0;
    }
  }
  mean = scaled(mean, 1.0 / count);
  Matrix3 scatter{};
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (kept[i]) {
      const Vec3 d = difference(raw[i], mean);
      for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
          scatter[r][c] += d[r] * d[c];
        }
      }
    }
  }
  Vec3 values{};
  Matrix3 vectors{};
  detail::symmetricEigen3(scatter, values, vectors);
  Plane plane;
  plane.axis = {{vectors[0][0], vectors[1][0], vectors[2][0]}};
  plane.planeX = {{vectors[0][2], vectors[1][2], vectors[2][2]}};
  plane.planeY = cross(plane.axis, plane.planeX);
  plane.meanAlong = dot(mean, plane.axis);
  plane.residual = std::sqrt(std::max(0.0, values[0]) / count);
  plane.radius = std::sqrt(2.0 * std::max(0.0, values[1]) / count);
  return plane;
}

// Reverses the axis (and planeY, to keep the basis right-handed).
void flip(Plane& plane) {
  plane.axis = scaled(plane.axis, -1.0);
  plane.planeY = scaled(plane.planeY, -1.0);
  plane.meanAlong = -plane.meanAlong;
}

struct Ellipse {
  Vec2 centre{{0.0, 0.0}};
  Matrix2 matrix{};  // symmetric, determinant 1
};

Vec2 corrected(const Ellipse& ellipse, const Vec2& u) {
  const double x = u[0] - ellipse.centre[0];
  const double y = u[1] - ellipse.centre[1];
  return {{x * ellipse.matrix[0][0] + y * ellipse.matrix[1][0],
           x * ellipse.matrix[0][1] + y * ellipse.matrix[1][1]}};
}

// The ellipse through the kept in-plane points: the conic A x^2 + B xy + C y^2 + D x + E y = 1
// by least squares on the points centred on their mean and scaled to unit spread (the mean lies
// inside the ellipse, where the conic is far from zero), then its centre and the symmetric root
// of its shape scaled to determinant 1. False when the conic is not an ellipse.
bool fitEllipse(const std::vector<Vec2>& u, const std::vector<char>& kept, Ellipse& ellipse) {
  Vec2 mean{{0.0, 0.0}};
  double count = 0.0;
  for (std::size_t i = 0; i < u.size(); ++i) {
    if (kept[i]) {
      mean = {{mean[0] + u[i][0], mean[1] + u[i][1]}};
      count += 1.0;
    }
  }
  mean = {{mean[0] / count, mean[1] / count}};
  double spread = 0.0;
  for (std::size_t i = 0; i < u.size(); ++i) {
    if (kept[i]) {
      spread +=
          (u[i][0] - mean[0]) * (u[i][0] - mean[0]) + (u[i][1] - mean[1]) * (u[i][1] - mean[1]);
    }
  }
  spread = std::sqrt(spread / count);
  if (!(spread > 0.0)) {
    return false;
  }
  double normal[25] = {};
  double rhs[5] = {};
  for (std::size_t i = 0; i < u.size(); ++i) {
    if (kept[i]) {
      const double x = (u[i][0] - mean[0]) / spread;
      const double y = (u[i][1] - mean[1]) / spread;
      const double row[5] = {x * x, x * y, y * y, x, y};
      for (int a = 0; a < 5; ++a) {
        rhs[a] += row[a];
        for (int b = 0; b < 5; ++b) {
          normal[5 * a + b] += row[a] * row[b];
        }
      }
    }
  }
  if (!choleskySolve(normal, rhs, 5)) {
    return false;
  }
  const double a = rhs[0], b = 0.5 * rhs[1], c = rhs[2];  // the shape [[a, b], [b, c]]
  const double det = a * c - b * b;
  if (!(det > 0.0 && a > 0.0)) {
    return false;
  }
  // Centre: -(1/2) shape^-1 (D, E); the conic is then (v - o)^T shape (v - o) = 1 + o^T shape o.
  const double ox = -0.5 * (c * rhs[3] - b * rhs[4]) / det;
  const double oy = -0.5 * (a * rhs[4] - b * rhs[3]) / det;
  const double level = 1.0 + a * ox * ox + 2.0 * b * ox * oy + c * oy * oy;
  // The symmetric root of [[a, b], [b, c]] is (S + sqrt(det) I) / sqrt(trace + 2 sqrt(det));
  // the level and the spread only scale it, and the scale goes with determinant 1.
  const double rootDet = std::sqrt(det);
  const double s = 1.0 / std::sqrt(a + c + 2.0 * rootDet);
  Matrix2 root{{{{(a + rootDet) * s, b * s}}, {{b * s, (c + rootDet) * s}}}};
  const double rootDeterminant = root[0][0] * root[1][1] - root[0][1] * root[1][0];
  const double unitScale = 1.0 / std::sqrt(rootDeterminant);
  for (auto& row : root) {
    row = {{row[0] * unitScale, row[1] * unitScale}};
  }
  if (!(level > 0.0) || !std::isfinite(unitScale)) {
    return false;
  }
  ellipse.centre = {{mean[0] + spread * ox, mean[1] + spread * oy}};
  ellipse.matrix = root;
  return true;
}

// The mean corrected radius of the kept samples.
double meanRadius(const std::vector<Vec2>& u, const Ellipse& ellipse,
                  const std::vector<char>& kept) {
  double sum = 0.0;
  double count = 0.0;
  for (std::size_t i = 0; i < u.size(); ++i) {
    if (kept[i]) {
      const Vec2 c = corrected(ellipse, u[i]);
      sum += std::hypot(c[0], c[1]);
      count += 1.0;
    }
  }
  return sum / count;
}

// Leaves out the kept samples whose corrected radius is far from the mean one.
void trimRadii(const std::vector<Vec2>& u, const Ellipse& ellipse, std::vector<char>& kept) {
  const double mean = meanRadius(u, ellipse, kept);
  std::vector<double> deviations;
  for (std::size_t i = 0; i < u.size(); ++i) {
    if (kept[i]) {
      const Vec2 c = corrected(ellipse, u[i]);
      deviations.push_back(std::fabs(std::hypot(c[0], c[1]) - mean));
    }
  }
  std::vector<double> scratch = deviations;
  const double sigma = kMadToSigma * detail::orderStatistic(scratch, scratch.size() / 2);
  const double limit = std::max(kOutlierLimit * sigma, kRadiusFloor * mean);
  std::size_t k = 0;
  for (std::size_t i = 0; i < u.size(); ++i) {
    if (kept[i]) {
      kept[i] = deviations[k++] <= limit ? 1 : 0;
    }
  }
}

// Down at a quasi-static sample, in the basis (planeX, planeY, axis), with the sample's corrected
// in-plane field.
struct DipSample {
  Vec3 down;
  Vec2 field;
};

// The along-axis component h of the corrected field for which the angle between field and down
// best matches the inclination over the samples: min over h of sum (d . c / |c| - sin I)^2 with
// c = (field, h), h = radius tan(angle), the angle searched over (-90, 90) degrees.
double alongAxisComponent(const std::vector<DipSample>& samples, double radius,
                          double inclination_rad) {
  const double sine = std::sin(inclination_rad);
  const auto cost = [&](double angle_deg) {
    const double h = radius * std::tan(angle_deg / kDegreesPerRadian);
    double sum = 0.0;
    for (const DipSample& s : samples) {
      const Vec3 c{{s.field[0], s.field[1], h}};
      const double e = dot(s.down, c) / norm(c) - sine;
      sum += e * e;
    }
    return sum;
  };
  double best = 0.0;
  double bestCost = std::numeric_limits<double>::infinity();
  for (double angle = -90.0 + kSearchStep_deg; angle < 90.0; angle += kSearchStep_deg) {
    const double value = cost(angle);
    if (value < bestCost) {
      bestCost = value;
      best = angle;
    }
  }
  // Golden-section search between the neighbours of the best grid angle.
  const double ratio = 0.5 * (std::sqrt(5.0) - 1.0);
  double lo = best - kSearchStep_deg;
  double hi = best + kSearchStep_deg;
  for (int iteration = 0; iteration < 60; ++iteration) {
    const double x1 = hi - ratio * (hi - lo);
    const double x2 = lo + ratio * (hi - lo);
    if (cost(x1) <= cost(x2)) {
      hi = x2;
    } else {
      lo = x1;
    }
  }
  return radius * std::tan(0.5 * (lo + hi) / kDegreesPerRadian);
}

// The angle the directions of the points span: 360 degrees minus the largest gap between
// neighbours.
double arcOf(std::vector<double> angles_deg) {
  if (angles_deg.empty()) {
    return 0.0;
  }
  std::sort(angles_deg.begin(), angles_deg.end());
  double gap = angles_deg.front() + 360.0 - angles_deg.back();
  for (std::size_t k = 1; k < angles_deg.size(); ++k) {
    gap = std::max(gap, angles_deg[k] - angles_deg[k - 1]);
  }
  return 360.0 - gap;
}

void checkInput(const std::vector<Vec3>& raw, const QuasiStatic& steady,
                const PlanarOptions& options) {
  checkQuasiStatic(steady, raw.size());
  if (steady.indices.empty() && !(isFinite(options.downHint) && norm(options.downHint) > 0.0)) {
    throw UsageError(
        "a planar calibration without accelerometer samples needs the direction of down in the "
        "magnetometer's axes");
  }
  if (!(options.inclinationUncertainty_deg >= 0.0) ||
      !std::isfinite(options.inclinationUncertainty_deg) || !(options.axisSoftIron >= 0.0) ||
      !std::isfinite(options.axisSoftIron)) {
    throw UsageError(
        "the planar calibration's inclination uncertainty and axis soft iron must be finite and "
        "not negative");
  }
}

double inclinationOf(const Reference& reference) {
  if (reference.kind() != Reference::Kind::Field) {
    throw UsageError(
        "a planar calibration needs the field's direction, which fixes the component along the "
        "turn axis: give the place of the recording");
  }
  const Vec3 ned = reference.vector_G();
  return std::atan2(ned[2], std::hypot(ned[0], ned[1]));
}

// The 3-D calibration of the planar one: offset along the basis, matrix B K B^T.
Calibration calibrationOf(const PlanarCalibration& planar) {
  Calibration calibration;
  calibration.offset =
      sum(sum(scaled(planar.planeX, planar.offset2[0]), scaled(planar.planeY, planar.offset2[1])),
          scaled(planar.axis, planar.alongAxisOffset));
  const Vec3* basis[3] = {&planar.planeX, &planar.planeY, &planar.axis};
  const double k[3][3] = {{planar.matrix2[0][0], planar.matrix2[0][1], 0.0},
                          {planar.matrix2[1][0], planar.matrix2[1][1], 0.0},
                          {0.0, 0.0, 1.0}};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      double sum = 0.0;
      for (int a = 0; a < 3; ++a) {
        for (int b = 0; b < 3; ++b) {
          sum += (*basis[a])[r] * k[a][b] * (*basis[b])[c];
        }
      }
      calibration.matrix[r][c] = sum;
    }
  }
  return calibration;
}

// Down in the magnetometer's axes at each quasi-static sample, and the direction the turn axis
// is oriented towards: their mean, or the hint without them.
struct Downs {
  std::vector<Vec3> down;
  Vec3 towards;
};

Downs downsOf(const QuasiStatic& steady, const PlanarOptions& options) {
  const Matrix3 magFromAccel = transpose(options.accelFromMag);
  Downs downs;
  downs.down.resize(steady.count());
  Vec3 meanDown{{0.0, 0.0, 0.0}};
  for (std::size_t k = 0; k < steady.count(); ++k) {
    downs.down[k] = times(magFromAccel, steady.down[k]);
    meanDown = sum(meanDown, isFinite(downs.down[k]) ? downs.down[k] : Vec3{{0.0, 0.0, 0.0}});
  }
  downs.towards = normalised(steady.indices.empty() ? options.downHint : meanDown);
  return downs;
}

// The turn: the samples' plane oriented towards down, their in-plane coordinates, the ellipse
// through them and the samples it kept.
struct Turn {
  Plane plane;
  std::vector<Vec2> u;
  Ellipse ellipse;
  std::vector<char> kept;
};

// Fits the plane and the ellipse, leaves out the samples far from the ellipse and fits again on
// the rest. The problem in words when the samples give no turn (planar.planeResidual set as far
// as the plane was fitted); empty when they do. hinted: down is the hint, not the accelerometer.
std::string fitTurn(const std::vector<Vec3>& raw, const Vec3& towardsDown, bool hinted, Turn& turn,
                    PlanarCalibration& planar) {
  turn.kept.assign(raw.size(), 0);
  for (std::size_t i = 0; i < raw.size(); ++i) {
    turn.kept[i] = isFinite(raw[i]) && norm(raw[i]) > 0.0 ? 1 : 0;
  }
  turn.u.assign(raw.size(), Vec2{{0.0, 0.0}});
  for (int pass = 0; pass < 2; ++pass) {
    if (static_cast<std::size_t>(std::count(turn.kept.begin(), turn.kept.end(), 1)) <
        kMinimumSamples) {
      return "too few valid samples for an ellipse";
    }
    Plane& plane = turn.plane;
    plane = fitPlane(raw, turn.kept);
    planar.planeResidual = plane.residual;
    if (!(plane.residual <= kPlaneLimit * plane.radius)) {
      return "the samples stray from one plane (root mean square " +
             std::to_string(std::lround(plane.residual / plane.radius * 100.0)) +
             " % of the field across it): they were not turned about one axis alone";
    }
    if (!(std::fabs(dot(towardsDown, plane.axis)) >= kOrientingCosine)) {
      return !isFinite(towardsDown) ? "no quasi-static sample gives a direction of down"
             : hinted ? "the turn axis is more than 60 degrees from the direction given as down"
                      : "the turn axis is more than 60 degrees from down";
    }
    if (dot(towardsDown, plane.axis) < 0.0) {
      flip(plane);
    }
    for (std::size_t i = 0; i < raw.size(); ++i) {
      turn.u[i] = {{dot(raw[i], plane.planeX), dot(raw[i], plane.planeY)}};
    }
    if (!fitEllipse(turn.u, turn.kept, turn.ellipse)) {
      return "the samples in their plane do not lie on an ellipse";
    }
    if (pass == 0) {
      trimRadii(turn.u, turn.ellipse, turn.kept);
    }
  }
  return std::string();
}

// The corrected field along the axis, its uncertainty and the offset along the axis, from the
// dip at the kept quasi-static samples (or, without them, of a level turn); the tilt.
void alongAxis(const Turn& turn, const Downs& downs, const QuasiStatic& steady, double inclination,
               const PlanarOptions& options, PlanarCalibration& planar) {
  const Plane& plane = turn.plane;
  std::vector<DipSample> dips;
  double tiltSum = 0.0;
  for (std::size_t k = 0; k < downs.down.size(); ++k) {
    const std::size_t index = steady.indices[k];
    const Vec3& down = downs.down[k];
    if (!turn.kept[index] || !isFinite(down)) {
      continue;
    }
    const Vec3 d{{dot(down, plane.planeX), dot(down, plane.planeY), dot(down, plane.axis)}};
    dips.push_back(DipSample{d, corrected(turn.ellipse, turn.u[index])});
    tiltSum += std::acos(std::max(-1.0, std::min(1.0, d[2])));
  }
  const double radius = planar.acrossAxisField;
  const auto along = [&](double inclination_rad) {
    return dips.empty() ? radius * std::tan(inclination_rad)
                        : alongAxisComponent(dips, radius, inclination_rad);
  };
  const double delta = options.inclinationUncertainty_deg / kDegreesPerRadian;
  planar.alongAxisField = along(inclination);
  planar.alongAxisUncertainty =
      0.5 * std::fabs(along(inclination + delta) - along(inclination - delta));
  planar.alongAxisOffset = plane.meanAlong - planar.alongAxisField;
  planar.steady = dips.size();
  if (!dips.empty()) {
    planar.tilt_deg = tiltSum / static_cast<double>(dips.size()) * kDegreesPerRadian;
  }
}

// The residual, the arc, the samples kept and the heading errors of the calibrated turn; not
// determined when the arc is short.
void finish(const Turn& turn, const PlanarOptions& options, PlanarCalibration& planar) {
  double squares = 0.0;
  std::vector<double> angles;
  for (std::size_t i = 0; i < turn.u.size(); ++i) {
    if (turn.kept[i]) {
      const Vec2 c = corrected(turn.ellipse, turn.u[i]);
      const double deviation = std::hypot(c[0], c[1]) - planar.acrossAxisField;
      squares += deviation * deviation;
      angles.push_back(std::atan2(c[1], c[0]) * kDegreesPerRadian);
    }
  }
  planar.used = angles.size();
  planar.kept.assign(turn.kept.begin(), turn.kept.end());
  planar.residual = std::sqrt(squares / static_cast<double>(planar.used));
  planar.arc_deg = arcOf(std::move(angles));
  planar.headingErrorAtTilt_deg = {{planarHeadingError_deg(planar, options.axisSoftIron, 10.0),
                                    planarHeadingError_deg(planar, options.axisSoftIron, 20.0)}};
  if (planar.arc_deg < kMinimumArc_deg) {
    planar.problem = "the turn spans " + std::to_string(static_cast<int>(planar.arc_deg)) +
                     " degrees; turn through at least half a circle, better a whole one";
  }
  planar.determined = planar.problem.empty();
}

}  // namespace

double planarHeadingError_deg(const PlanarCalibration& planar, double axisSoftIron,
                              double tilt_deg) {
  const double t = tilt_deg / kDegreesPerRadian;
  const double field = std::hypot(planar.acrossAxisField, planar.alongAxisField);
  const double horizontal = field * std::cos(planar.modelInclination_deg / kDegreesPerRadian);
  const double offsetError = planar.alongAxisUncertainty * std::sin(t);
  const double softIronError = axisSoftIron * 2.0 * field * std::sin(0.5 * t);
  const double error = std::sqrt(planar.residual * planar.residual + offsetError * offsetError +
                                 softIronError * softIronError);
  return std::atan(error / horizontal) * kDegreesPerRadian;
}

PlanarCalibration calibratePlanar(const std::vector<Vec3>& raw, const QuasiStatic& steady,
                                  const Reference& reference, const PlanarOptions& options) {
  const double inclination = inclinationOf(reference);
  checkInput(raw, steady, options);
  PlanarCalibration planar;
  planar.samples = raw.size();
  planar.modelInclination_deg = inclination * kDegreesPerRadian;
  planar.undetermined =
      "the soft iron along the turn axis: its scale is taken as the plane's and its coupling "
      "with the plane as none";
  const Downs downs = downsOf(steady, options);
  Turn turn;
  planar.problem = fitTurn(raw, downs.towards, steady.indices.empty(), turn, planar);
  if (!planar.problem.empty()) {
    return planar;
  }
  planar.acrossAxisField = meanRadius(turn.u, turn.ellipse, turn.kept);
  alongAxis(turn, downs, steady, inclination, options, planar);
  planar.axis = turn.plane.axis;
  planar.planeX = turn.plane.planeX;
  planar.planeY = turn.plane.planeY;
  planar.offset2 = turn.ellipse.centre;
  planar.matrix2 = turn.ellipse.matrix;
  planar.calibration = calibrationOf(planar);
  finish(turn, options, planar);
  return planar;
}

}  // namespace fluxtrim
