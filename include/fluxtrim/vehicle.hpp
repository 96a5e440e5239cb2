/// The magnetometer in a vehicle: what the accelerometer beside it tells about how it is mounted,
/// and a calibration from a turn about one axis when the vehicle cannot be tumbled.
///
/// Frames. The magnetometer's axes are those of its samples (X, Y, Z as the file gives them), the
/// accelerometer's those of its own samples. A mounting matrix R maps the first to the second as
/// column vectors: v_acc = R * v_mag, R[row][column]. The world frame is north-east-down.
///
/// Sign convention of the accelerometer. An accelerometer measures the specific force: its
/// acceleration minus gravity. At rest that is 1 g pointing up, so "down" in its axes is
/// -a / |a|. A log that gives gravity instead (-1 g on the axis that points up) must be negated
/// before it comes here; otherwise every down is reversed, which looks exactly like a mirrored
/// magnetometer (see Handedness).
#ifndef FLUXTRIM_VEHICLE_HPP
#define FLUXTRIM_VEHICLE_HPP

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "fluxtrim/types.hpp"
#include "fluxtrim/units.hpp"

namespace fluxtrim {

class Reference;  // calibration.hpp

// ---- Accelerometer samples.

/// The unit of accelerometer samples from their typical magnitude (the median over the finite
/// samples, most of which an accelerometer held by hand or carried by a vehicle spends near 1 g):
/// m/s^2 when it lies within 15 % of 9.80665, g when within 15 % of 1, otherwise none (counts,
/// or a recording in constant acceleration: the scale must be given). Nothing else is checked.
std::optional<AccelerometerUnit> detectAccelerometerUnit(const std::vector<Vec3>& samples);

/// "Down", a unit vector in the accelerometer's axes, from a specific force: -a / |a|. A zero or
/// non-finite a gives NaN components.
Vec3 downFromSpecificForce(const Vec3& a);

struct QuasiStaticOptions {
  /// Samples on each side of a sample in its window: the window holds 2 * halfWindow + 1
  /// samples (fewer at the ends of the recording). In [0, 1000]. Counted in samples because the
  /// rate may be unknown: 5 is a fifth of a second at 50 Hz.
  int halfWindow = 5;
  /// Every sample of the window has a magnitude within this fraction of 1 g; in (0, 1).
  double magnitudeTolerance = 0.05;
  /// The root mean square distance of the window's samples from their mean, in g, is at most
  /// this; finite and > 0. Catches the short pushes of a hand or a bump of the road, which can
  /// leave the magnitude near 1 g while they tilt the vector.
  double steadiness = 0.03;
};

/// The samples at which the accelerometer says where down is.
struct QuasiStatic {
  std::size_t samples = 0;           // accelerometer samples examined
  std::size_t invalid = 0;           // of which a component is not finite
  std::vector<std::size_t> indices;  // the quasi-static samples, 0-based, ascending
  /// Down at each of them, one per index: a unit vector in the accelerometer's axes, from the
  /// mean specific force over the sample's window (downFromSpecificForce).
  std::vector<Vec3> down;

  std::size_t count() const { return indices.size(); }
};

/// The samples at which the device is at rest, or moves so little that the accelerometer reads
/// gravity alone: every sample of the window around it is finite with a magnitude within
/// options.magnitudeTolerance of 1 g, and the window is steady (options.steadiness). A constant
/// acceleration over the window (a steady turn, a steady speed-up) cannot be told from a tilt and
/// passes when its magnitude is within the tolerance. samples are in `unit`. Throws UsageError
/// for options out of their domain and for a Counts unit without a valid scale.
QuasiStatic selectQuasiStatic(const std::vector<Vec3>& samples, const AccelerometerUnit& unit,
                              const QuasiStaticOptions& options = {});

// ---- The 24 right-angle mountings.

/// One of the 24 rotations that map the axes onto the axes, named as autopilots name the
/// orientation of a board or compass. The matrix follows from the name by one convention: "roll
/// A pitch B yaw C" (each part optional, in this order, degrees) is Rz(C) * Ry(B) * Rx(A), with
/// Rx, Ry, Rz the right-handed rotations of a vector about X, Y and Z; "none" is the identity.
/// Set as the compass orientation, the firmware turns the magnetometer's readings into the
/// board's axes: v_board = matrix * v_mag, so it is the mounting matrix when the accelerometer's
/// axes are the board's.
struct NamedOrientation {
  const char* name;  // "none", "yaw 90", "roll 180 yaw 90", ...
  int number;        // the autopilots' enumeration number of this orientation
  Matrix3 matrix;
};
constexpr int kOrientationCount = 24;

/// The 24, ascending by number: none 0, yaw 90 2, yaw 180 4, yaw 270 6, roll 180 8, roll 180 yaw
/// 90 10, pitch 180 12, roll 180 yaw 270 14, roll 90 16, roll 90 yaw 90 18, roll 270 20, roll 270
/// yaw 90 22, pitch 90 24, pitch 270 25, roll 90 pitch 90 28, roll 180 pitch 90 29, roll 270 pitch
/// 90 30, roll 90 pitch 180 31, roll 270 pitch 180 32, roll 90 pitch 270 33, roll 180 pitch 270
/// 34, roll 270 pitch 270 35, roll 90 pitch 180 yaw 90 36, roll 90 yaw 270 37. (The numbers 26,
/// "pitch 180 yaw 90", and 27, "pitch 180 yaw 270", name the same rotations as 14 and 10.)
const std::array<NamedOrientation, kOrientationCount>& namedOrientations();

/// The matrix of a name as the convention above builds it: "none", or words "roll", "pitch",
/// "yaw" in this order, each followed by 90, 180 or 270, separated by blanks or underscores, in
/// any case ("roll 180 yaw 90", "ROLL_180_YAW_90"). Throws UsageError quoting the text for
/// anything else.
Matrix3 orientationMatrix(const std::string& name);

/// The named orientation nearest to a rotation, and the angle between them.
struct OrientationMatch {
  int index = 0;                                                // into namedOrientations()
  double angle_deg = std::numeric_limits<double>::quiet_NaN();  // of matrix^T * rotation
};
/// rotation must be a rotation (orthonormal, determinant +1); that is not checked: anything else
/// gives the entry whose matrix has the largest trace of matrix^T * rotation.
OrientationMatch nearestOrientation(const Matrix3& rotation);

// ---- The mounting, from the dip invariant.

/// Whether the magnetometer's axes, as the mounting maps them, form a right-handed set like the
/// accelerometer's.
enum class Handedness {
  Right,
  /// Left-handed: one axis (or all three) reversed against the accelerometer, which no rotation
  /// repairs. It looks the same as an accelerometer that logs gravity rather than the specific
  /// force (see the top of this header).
  Mirrored,
  /// Not told: without the model's inclination, or within 5 degrees of the magnetic equator.
  /// A mirrored set explains the data exactly as well as a right-handed one under a field of
  /// opposite inclination, so only the sign of the inclination tells them apart. The estimate
  /// is then given as right-handed, with the measured inclination's sign that goes with it.
  Unknown,
};
const char* handednessName(Handedness handedness);  // "right-handed", "mirrored", "unknown"

struct MountingOptions {
  /// Samples after which an estimate is attempted at all; >= 10.
  std::size_t minimumSamples = 30;
  /// A sample whose residual exceeds this many robust standard deviations is left out of the
  /// final fit (a push the quasi-static test let through); finite and > 0.
  double outlierLimit = 5.0;
  /// An estimate whose rotation is less certain than this (one standard deviation, degrees) is
  /// not determined; finite and > 0.
  double maximumUncertainty_deg = 5.0;
};

/// The rotation from the magnetometer's axes to the accelerometer's and the field's inclination,
/// from the invariant that holds at rest in every pose: the angle between the calibrated field
/// and down is 90 degrees minus the inclination.
struct MountingEstimate {
  bool determined = false;
  std::string problem;  // why not, one sentence; empty when determined

  /// v_acc = matrix * v_mag for the calibrated field: the estimated rotation, not rounded to a
  /// named one; determinant -1 when mirrored.
  Matrix3 matrix{{{{1.0, 0.0, 0.0}}, {{0.0, 1.0, 0.0}}, {{0.0, 0.0, 1.0}}}};
  Handedness handedness = Handedness::Unknown;
  /// The nearest named orientation (index into namedOrientations()) and the misalignment, the
  /// angle of the rotation between the two, degrees. For a mirrored set: the nearest to matrix *
  /// diag(1, 1, -1), the rotation that fits once the magnetometer's Z is negated.
  int nearest = 0;
  double misalignment_deg = std::numeric_limits<double>::quiet_NaN();
  /// One standard deviation of the rotation about its least determined axis, degrees, from the
  /// residuals and the spread of the poses; each pose (cell of an equal-area grid of down
  /// directions) counts as one observation, since the samples of one pose share its errors.
  double uncertainty_deg = std::numeric_limits<double>::quiet_NaN();

  /// The field's inclination the samples show (positive when it points down) against the
  /// model's, degrees, and one standard deviation of the measured one. A difference of more
  /// than a few degrees means a disturbance, a wrong place, or a calibration that distorts
  /// directions.
  double measuredInclination_deg = std::numeric_limits<double>::quiet_NaN();
  double modelInclination_deg = std::numeric_limits<double>::quiet_NaN();
  double inclinationUncertainty_deg = std::numeric_limits<double>::quiet_NaN();

  /// Root mean square of the angle between field and down about its fitted value, degrees.
  double residual_deg = std::numeric_limits<double>::quiet_NaN();
  std::size_t samples = 0;  // quasi-static samples with a finite, non-zero field
  std::size_t used = 0;     // of which the fit kept
  int poses = 0;            // cells of the 128-cell grid of down directions the kept ones reach
};

/// Estimates the mounting over the quasi-static samples. field holds the calibrated
/// magnetometer samples of the whole recording, in the magnetometer's axes (any unit: only their
/// directions count); steady comes from the accelerometer samples of the same recording, so that
/// steady.indices index field. modelInclination_deg is the model's inclination at the place
/// (NaN when unknown: the handedness is then Unknown).
///
/// What it needs: poses in which different axes point down (a turn about the vertical alone
/// leaves the rotation about it free, and the estimate is then not determined). The rotation is
/// fixed equally well at every inclination, the magnetic equator included, where the invariant
/// says only that field and down are perpendicular; what the equator takes away is the sign of
/// the inclination, and with it the handedness (see Handedness). A calibration that leaves the
/// field's directions distorted biases rotation and inclination alike. Throws UsageError when an
/// index is beyond field or steady's two lists differ in length, and for options out of their
/// domain.
MountingEstimate estimateMounting(const std::vector<Vec3>& field, const QuasiStatic& steady,
                                  double modelInclination_deg, const MountingOptions& options = {});

// ---- A calibration from a turn about one axis.

/// A 2-by-2 matrix by rows: m[row][column].
using Matrix2 = std::array<std::array<double, 2>, 2>;

struct PlanarOptions {
  /// The mounting, v_acc = accelFromMag * v_mag: estimated from a tumble, or the named
  /// orientation the firmware applies. Used to bring down into the magnetometer's axes.
  Matrix3 accelFromMag{{{{1.0, 0.0, 0.0}}, {{0.0, 1.0, 0.0}}, {{0.0, 0.0, 1.0}}}};
  /// Without quasi-static samples: a direction in the magnetometer's axes within 60 degrees of
  /// down (say (0, 0, 1) when its Z points down), which orients the turn axis; the turn is then
  /// taken as level. Zero: not given.
  Vec3 downHint{{0.0, 0.0, 0.0}};
  /// Accuracy assumed of the model's inclination at the place (one standard deviation, degrees;
  /// the model leaves out the crust's local fields). Finite and >= 0.
  double inclinationUncertainty_deg = 0.3;
  /// Bound assumed on the soft iron along the turn axis, which the turn cannot show: a relative
  /// error of its scale, or a coupling between it and the plane. Finite and >= 0.
  double axisSoftIron = 0.05;
};

/// A calibration from samples turned about one axis. In the basis (planeX, planeY, axis) a raw
/// sample has in-plane coordinates u and the component a along the axis; the calibration is
///   in the plane:  (u - offset2) * matrix2, row vectors, matrix2 symmetric with determinant 1,
///                  so that the corrected samples lie on a circle of radius acrossAxisField;
///   along the axis: a - alongAxisOffset, with the plane's scale: what the turn cannot show, the
///                  soft iron along the axis, is taken as none.
/// alongAxisOffset is chosen so that the corrected field makes with down the angle the model's
/// inclination says (for a level turn: alongAxisField = acrossAxisField * tan(inclination)),
/// which needs neither the samples' unit nor their gain. `calibration` is the same in the
/// magnetometer's axes: offset = offset2[0] planeX + offset2[1] planeY + alongAxisOffset axis,
/// matrix = B K B^T with B the basis as columns and K = diag(matrix2, 1). Quantities without a
/// suffix are in the samples' unit.
struct PlanarCalibration {
  bool determined = false;
  std::string problem;  // why not, one sentence; empty when determined

  Calibration calibration;
  /// Unit vectors in the magnetometer's axes: the turn axis (the normal of the plane the samples
  /// lie in, oriented towards down) and the in-plane basis, planeX x planeY = axis.
  Vec3 axis{{0.0, 0.0, 1.0}};
  Vec3 planeX{{1.0, 0.0, 0.0}};
  Vec3 planeY{{0.0, 1.0, 0.0}};
  std::array<double, 2> offset2{{0.0, 0.0}};
  Matrix2 matrix2{{{{1.0, 0.0}}, {{0.0, 1.0}}}};
  double alongAxisOffset = 0.0;
  /// The corrected field across the axis (the mean radius of the corrected in-plane samples)
  /// and along it.
  double acrossAxisField = std::numeric_limits<double>::quiet_NaN();
  double alongAxisField = std::numeric_limits<double>::quiet_NaN();
  /// One standard deviation of alongAxisOffset from the model's inclination uncertainty.
  double alongAxisUncertainty = std::numeric_limits<double>::quiet_NaN();
  /// The model's inclination used, degrees, positive when the field points down.
  double modelInclination_deg = std::numeric_limits<double>::quiet_NaN();

  /// The turn axis's tilt from the vertical, degrees: the mean angle between it and down over
  /// the quasi-static samples. NaN without them (the turn is then taken as level).
  double tilt_deg = std::numeric_limits<double>::quiet_NaN();
  /// Angle the corrected in-plane directions span, degrees, 0 to 360.
  double arc_deg = 0.0;
  /// Root mean square of the corrected in-plane radius about acrossAxisField, and of the kept
  /// samples' distance from their plane.
  double residual = std::numeric_limits<double>::quiet_NaN();
  double planeResidual = std::numeric_limits<double>::quiet_NaN();
  /// What the heading may be off by, degrees, once the vehicle tilts by 10 and by 20 degrees
  /// (see planarHeadingError_deg).
  std::array<double, 2> headingErrorAtTilt_deg{
      {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN()}};
  /// The unknowns, for a person: what was taken, not determined.
  std::string undetermined;

  std::size_t samples = 0;  // samples offered
  std::size_t used = 0;     // kept by the ellipse fit
  std::size_t steady = 0;   // of the kept, quasi-static ones that fixed the axis component
  /// One entry per sample offered: 1 when the ellipse fit kept it, 0 when it was not finite, zero
  /// or far from the ellipse. Empty when no ellipse was fitted.
  std::vector<std::uint8_t> kept;
};

/// Heading error, degrees, expected of a planar calibration once the vehicle tilts by tilt_deg:
/// atan(sqrt(residual^2 + (alongAxisUncertainty sin t)^2 + (axisSoftIron 2 F sin(t/2))^2) / H),
/// with F the corrected field's strength and H its horizontal part: the scatter seen in the turn,
/// the axis offset's error tilted into the horizontal, and the undetermined soft iron acting on
/// the change of the field in the sensor's axes. A bound in the worst direction, not a mean.
double planarHeadingError_deg(const PlanarCalibration& planar, double axisSoftIron,
                              double tilt_deg);

/// Calibrates raw magnetometer samples (the magnetometer's axes, any unit) turned about one
/// axis. steady holds the quasi-static accelerometer samples of the same recording (indices into
/// raw), or nothing; without them options.downHint must be given. The reference must be a field
/// (its inclination fixes the component along the axis): throws UsageError otherwise, and for an
/// index beyond raw, steady's two lists of different lengths, neither steady samples nor a hint,
/// or options out of their domain. Samples that stray from one plane (planeResidual above a
/// tenth of their spread across it), that span less than half a turn, or that do not lie on an
/// ellipse give a result that is not determined, with the figures it could compute; the data are
/// never an exception.
PlanarCalibration calibratePlanar(const std::vector<Vec3>& raw, const QuasiStatic& steady,
                                  const Reference& reference, const PlanarOptions& options = {});

}  // namespace fluxtrim

#endif
