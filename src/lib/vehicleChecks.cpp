#include "vehicleChecks.hpp"

#include <cmath>
#include <string>

#include "constants.hpp"
#include "diagnose.hpp"
#include "fluxtrim/text.hpp"
#include "vec3.hpp"
#include "vehicleMath.hpp"

namespace fluxtrim {
namespace detail {

namespace {

// Planar: the heading error once the vehicle tilts by 10 degrees, degrees; above it the
// calibration serves a vehicle that stays level. A turn short of this many degrees fixes the
// ellipse less well than a whole one.
constexpr double kPlanarHeadingWarn_deg = 2.0;
constexpr double kPlanarWholeTurn_deg = 330.0;
// Alignment: misalignment off the nearest right-angle orientation, degrees, judged only when it
// exceeds this many of its standard deviations. 2 degrees is about what a careful calibration
// leaves of the heading; 10 degrees turns every heading by as much.
constexpr double kMisalignmentWarn_deg = 2.0;
constexpr double kMisalignmentFail_deg = 10.0;
constexpr double kSignificance = 2.0;
// Inclination: measured against the model's, degrees. The model leaves out the crust's local
// fields, about this much of inclination (one standard deviation).
constexpr double kInclinationWarn_deg = 2.0;
constexpr double kInclinationFail_deg = 5.0;
constexpr double kModelInclinationUncertainty_deg = 0.3;
// The angle between field and down scatters by less than this from pose to pose, degrees, when
// the calibration keeps directions: beyond it, the calibration distorts them.
constexpr double kDistortedDip_deg = 1.0;

std::string orientationText(int index) {
  const NamedOrientation& o = namedOrientations()[static_cast<std::size_t>(index)];
  return formatText("'%s' (orientation %d)", o.name, o.number);
}

// How the planar calibration's offset along the axis knew down, in words.
std::string downWords(const PlanarCalibration& planar, DownSource down) {
  switch (down) {
    case DownSource::Accelerometer:
      return formatText("down from the accelerometer at rest, the turn %.1f degrees from the ",
                        planar.tilt_deg) +
             "vertical, the magnetometer's axes taken as the accelerometer's";
    case DownSource::MountedAccelerometer:
      return formatText("down from the accelerometer at rest, the turn %.1f degrees from the ",
                        planar.tilt_deg) +
             "vertical, through the mounting given";
    case DownSource::Given:
      break;
  }
  return "down as given, the turn taken as level";
}

Check undeterminedPlanar(const PlanarCalibration& planar) {
  Check check = graded(CheckCode::Planar, planar.headingErrorAtTilt_deg[0], kPlanarHeadingWarn_deg,
                       kNaN, LimitKind::Maximum, "deg");
  check.severity = Severity::Fail;
  check.message = "a turn about one axis gave no calibration: " + planar.problem;
  check.action =
      "turn the device slowly through at least one whole circle about one axis, kept level; a "
      "device that can be tumbled is calibrated better from a tumble";
  return check;
}

}  // namespace

Check planarCheck(const PlanarCalibration& planar, DownSource down) {
  if (!planar.determined) {
    return undeterminedPlanar(planar);
  }
  const double at10 = planar.headingErrorAtTilt_deg[0];
  Check check =
      graded(CheckCode::Planar, at10, kPlanarHeadingWarn_deg, kNaN, LimitKind::Maximum, "deg");
  const Vec3& a = planar.axis;
  check.message =
      formatText(
          "calibrated from a turn through %.0f degrees about (%.2f, %.2f, %.2f), the sensor's "
          "%s axis pointing down: offset and soft iron in the turn's plane from an ellipse, the "
          "offset along the axis from the model's inclination (",
          planar.arc_deg, a[0], a[1], a[2], nearestAxis(a).c_str()) +
      downWords(planar, down) + "); not determined: " + planar.undetermined +
      formatText(
          ". Tilted by 10 degrees the heading may be off by up to %.1f degrees, by 20 "
          "degrees up to %.1f",
          at10, planar.headingErrorAtTilt_deg[1]);
  if (check.severity != Severity::Ok) {
    check.action =
        "the calibration serves a vehicle that stays level; where the device can be tumbled, "
        "calibrate it from a tumble";
  }
  if (planar.arc_deg < kPlanarWholeTurn_deg) {
    check.severity = Severity::Warn;
    check.action = "turn the device through at least one whole circle";
  }
  return check;
}

Check mountingCheck(const AccelerometerFindings& findings) {
  const MountingEstimate& m = findings.mounting;
  const auto& table = namedOrientations();
  const Matrix3& expected = table[static_cast<std::size_t>(findings.expected)].matrix;
  const Matrix3& nearest = table[static_cast<std::size_t>(m.nearest)].matrix;
  Check check = graded(CheckCode::Mounting,
                       rotationAngle(multiply(transpose(expected), nearest)) * kDegreesPerRadian,
                       0.0, kNaN, LimitKind::Maximum, "deg");
  const std::string name = orientationText(m.nearest);
  if (m.handedness == Handedness::Mirrored) {
    check.severity = Severity::Fail;
    check.message =
        "the magnetometer's axes are mirrored against the accelerometer's: one axis (or all "
        "three) reversed, a left-handed set that no orientation repairs; with its Z negated it is "
        "mounted " +
        name;
    check.action =
        "negate one of the magnetometer's axes (or the accelerometer's samples, if it logs "
        "gravity rather than the specific force), then set the nearest orientation: with Z "
        "negated, " +
        name;
    return check;
  }
  const bool asExpected = m.nearest == findings.expected;
  check.severity = asExpected ? Severity::Ok : Severity::Warn;
  check.message = "the magnetometer's axes are the accelerometer's turned " + name +
                  formatText(", %.1f degrees off it", m.misalignment_deg);
  if (findings.expected != 0) {
    check.message +=
        (asExpected ? ", as given" : ", not " + orientationText(findings.expected) + " as given");
  }
  if (m.handedness == Handedness::Unknown) {
    check.message += std::isfinite(m.modelInclination_deg)
                         ? "; whether its axes are mirrored cannot be told this close to the "
                           "magnetic equator"
                         : "; whether its axes are mirrored cannot be told without the place";
  }
  if (!asExpected) {
    check.action = "set the magnetometer's orientation to " + name +
                   ", or turn its samples by the mounting in firmware: headings are wrong until "
                   "then";
  }
  return check;
}

Check alignmentCheck(const MountingEstimate& mounting) {
  Check check = graded(CheckCode::Alignment, mounting.misalignment_deg, kMisalignmentWarn_deg,
                       kMisalignmentFail_deg, LimitKind::Maximum, "deg");
  if (!(mounting.misalignment_deg > kSignificance * mounting.uncertainty_deg)) {
    check.severity = Severity::Ok;
    check.limit = kMisalignmentWarn_deg;
  }
  check.message =
      formatText("%.1f degrees (+- %.2g) off %s, from %zu samples at rest in %d poses",
                 mounting.misalignment_deg, mounting.uncertainty_deg,
                 orientationText(mounting.nearest).c_str(), mounting.used, mounting.poses);
  if (check.severity != Severity::Ok) {
    check.action =
        "the sensor sits off a right angle, which turns every heading: straighten its mounting, "
        "or turn its samples by the estimated mounting in firmware";
  }
  return check;
}

Check inclinationCheck(const MountingEstimate& mounting) {
  const double measured = mounting.measuredInclination_deg;
  const double model = mounting.modelInclination_deg;
  // Without the handedness the measured sign may be the mirror's: the nearer of the two.
  const double apart = mounting.handedness == Handedness::Unknown
                           ? std::fmin(std::fabs(measured - model), std::fabs(measured + model))
                           : std::fabs(measured - model);
  Check check = graded(CheckCode::Inclination, apart, kInclinationWarn_deg, kInclinationFail_deg,
                       LimitKind::Maximum, "deg");
  const double sigma =
      std::hypot(mounting.inclinationUncertainty_deg, kModelInclinationUncertainty_deg);
  if (!(apart > kSignificance * sigma)) {
    check.severity = Severity::Ok;
    check.limit = kInclinationWarn_deg;
  }
  check.message = formatText(
      "the field dips %.1f degrees (+- %.2g) at rest, the model %.1f at the place given: %.1f "
      "degrees apart",
      measured, mounting.inclinationUncertainty_deg, model, apart);
  if (check.severity == Severity::Ok) {
    return check;
  }
  if (mounting.residual_deg > kDistortedDip_deg) {
    check.message += formatText(
        "; the angle between field and down changes from pose to pose (%.1f degrees rms): the "
        "calibration distorts directions, or the field was disturbed in some poses",
        mounting.residual_deg);
    check.action =
        "record again away from steel and magnets, turning the device through more poses";
  } else {
    check.message += formatText(
        "; it is steady from pose to pose (%.1f degrees rms): a constant disturbance (steel or a "
        "magnet near the device, a magnetised vehicle) or a wrong place or date",
        mounting.residual_deg);
    check.action =
        "check the place and date given; if they are right, record again away from steel and "
        "magnets";
  }
  return check;
}

}  // namespace detail
}  // namespace fluxtrim
