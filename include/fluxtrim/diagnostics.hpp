/// @file
/// What a calibration result says about its own quality: the checks with their values and limits,
/// the verdict, and the figures behind them (coverage of directions, the motion's shape).
#ifndef FLUXTRIM_DIAGNOSTICS_HPP
#define FLUXTRIM_DIAGNOSTICS_HPP

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "fluxtrim/types.hpp"

namespace fluxtrim {

// ---- Directions on the unit sphere.

/// The bounds of one cell of a SphereGrid: z is the unit direction's Z component (the sine of its
/// latitude above the sensor's X-Y plane), longitude the angle atan2(Y, X) in degrees.
struct CellBounds {
  double zLower = 0.0;
  double zUpper = 0.0;
  double longitudeLower_deg = 0.0;
  double longitudeUpper_deg = 0.0;
};

/// An equal-area grid of directions in the sensor's axes: `bands` bands of equal height in z
/// (equal height means equal area on a sphere), each cut into `sectors` sectors of equal
/// longitude. Cell index = band * sectors + sector; band 0 starts at z = -1, sector 0 at longitude
/// -180 degrees. On a cylindrical equal-area map (x = longitude, y = z) the cells are equal
/// rectangles.
class SphereGrid {
 public:
  /// Throws UsageError unless both counts are at least 1 and at most 1024.
  SphereGrid(int bands, int sectors);

  int bands() const { return bands_; }
  int sectors() const { return sectors_; }
  int cells() const { return bands_ * sectors_; }

  /// The cell of the direction of v (v need not be a unit vector); -1 when v is zero or not
  /// finite. A direction on a boundary belongs to the cell above it (z = 1 and longitude +180
  /// fall in the last band and sector). The longitude is computed by arithmetic alone, within
  /// 2e-9 rad of atan2, so that a direction falls in the same cell on every platform.
  int cellOf(const Vec3& v) const;
  /// The unit direction at the middle of the cell's z range and longitude range. Throws
  /// UsageError for a cell outside [0, cells()).
  Vec3 centre(int cell) const;
  CellBounds bounds(int cell) const;

 private:
  int bands_;
  int sectors_;
};

/// How the corrected directions of the kept samples cover the sphere. Each cell counts once,
/// however many samples fall in it, so a recording that dwells in one pose covers what its other
/// samples cover. Not judged when the device was not turned (MotionPattern::NotTurned): the
/// directions of a fit to noise mean nothing, so fraction and largestGap_deg are NaN and no cell
/// is counted.
struct Coverage {
  SphereGrid grid{8, 16};                     ///< the map: 128 cells of 1/128 of the sphere each
  std::vector<std::uint32_t> samplesPerCell;  ///< kept samples per cell of grid
  int occupiedCells = 0;
  double fraction = 0.0;  ///< occupiedCells / grid.cells(), 0 to 1
  /// The largest cap of directions that no kept sample's corrected direction reaches: its
  /// angular radius in degrees and its centre, a unit vector in the sensor's axes. Measured
  /// against the centres of the occupied cells of a finer equal-area grid of 24 x 48 cells
  /// (about 7 degrees across), so it is accurate to a few degrees. 180 without kept samples.
  double largestGap_deg = 180.0;
  Vec3 largestGapDirection{{0.0, 0.0, 0.0}};
};

/// The shape of the motion: how the directions of the kept samples, seen from the centre of the
/// sphere fitted to them, spread. Each cell of the fine grid counts once, so dwelling in one pose
/// changes nothing.
enum class MotionPattern {
  Tumbled,    ///< spread in three dimensions
  SpunAbout,  ///< directions near one great circle: turned about one axis only
  LyingFlat,  ///< directions near a small circle: turned about one axis while kept level
  ShortArc,   ///< directions near an arc shorter than half a turn, or in one or two cells
  NoSamples,  ///< nothing kept to judge
  /// the raw samples barely spread: the device was held still, and no direction, coverage,
  /// unit or fitted figure is judged
  NotTurned,
};
const char* motionPatternName(MotionPattern pattern);  ///< "tumbled", "spun about one axis", ...

struct Motion {
  MotionPattern pattern = MotionPattern::NoSamples;
  /// How far the raw samples spread, before any fit: the root mean square distance from their
  /// mean over their root mean square magnitude (valid samples, gross spikes and clipped ones
  /// aside), 0 to 1. Noise alone gives well under 0.02, a tumble about 1 / sqrt(1 + (offset /
  /// field)^2); below 0.05 the device was not turned. NaN without valid samples.
  double spread = std::numeric_limits<double>::quiet_NaN();
  /// The figures below are NaN for NotTurned.
  /// Smallest eigenvalue of the scatter of the directions over the sum of all three: 1/3 for
  /// directions spread evenly over the sphere, 0 for directions on one circle.
  double planarity = 0.0;
  /// Unit direction of least scatter, in the sensor's axes: the axis turned about when the
  /// directions lie on a circle.
  Vec3 axis{{0.0, 0.0, 0.0}};
  int axisIndex = 2;           ///< the sensor axis nearest to `axis`: 0 X, 1 Y, 2 Z
  double meanResultant = 0.0;  ///< length of the mean direction: 0 balanced, 1 all alike
  double arc_deg = 0.0;        ///< angle the directions span about `axis`, 0 to 360
};

// ---- Checks and verdict.

enum class Severity { Ok, Warn, Fail };
const char* severityName(Severity severity);  ///< "ok", "warn", "fail"

enum class Verdict { Pass, Warn, Fail };
const char* verdictName(Verdict verdict);  ///< "pass", "warn", "fail"

/// The checks, in the order of their causes: a check earlier in this list can explain a failure
/// of a later one (a wrong unit explains a wrong fitted radius; turning about one axis explains a
/// coverage gap and a stretched soft-iron matrix).
enum class CheckCode {
  Input,     ///< lines of the input that gave no sample
  Clipping,  ///< samples at a sensor's limit
  Unit,      ///< the samples' scale against the field: the unit they look like
  Motion,    ///< degenerate motion: not turned, one axis, lying flat, a short arc
  /// a calibration from a turn about one axis (in place of the motion, gap, coverage and model
  /// checks): what the turn fixed, and the heading error it leaves once the vehicle tilts
  Planar,
  Gap,       ///< the largest cap of directions without data
  Coverage,  ///< the fraction of equal-area cells reached
  Rejected,  ///< samples rejected before the fit: invalid, outside the window, disturbed
  Outliers,  ///< samples whose corrected magnitude is an outlier
  Samples,   ///< samples kept for the fit
  Offset,    ///< the hard-iron offset's size
  SoftIron,  ///< the soft-iron matrix: positive definite, its condition
  Model,     ///< the kept model against what the data can support
  Radius,    ///< the fitted field strength against the reference, or the Earth's range
  Residual,  ///< the spread of the corrected magnitudes
  /// With an accelerometer beside the magnetometer, judged on the calibrated field at rest (so
  /// after every check of the calibration itself):
  Mounting,     ///< the magnetometer's axes against the accelerometer's: the orientation to set,
                ///< or a mirrored axis set that no orientation repairs
  Alignment,    ///< how far the mounting is off the nearest right-angle orientation
  Inclination,  ///< the field's dip at rest against the model's at the place given
};
constexpr int kCheckCodeCount = 18;
/// A stable lower-case name for output and machine reading: "input", "clipping", "unit",
/// "motion", "planar", "gap", "coverage", "rejected", "outliers", "samples", "offset",
/// "soft_iron", "model", "radius", "residual", "mounting", "alignment", "inclination".
const char* checkCodeName(CheckCode code);

/// Whether a check's value should stay below its limit or above it.
enum class LimitKind { Maximum, Minimum };

/// One check: the value measured, the limit it was judged against (the one it broke, or the
/// nearest one when it broke none), both in `unit`, and two lines for a person.
struct Check {
  CheckCode code = CheckCode::Input;
  Severity severity = Severity::Ok;
  double value = 0.0;
  double limit = 0.0;
  LimitKind limitKind = LimitKind::Maximum;
  std::string unit;     ///< "lines", "G", "ratio", "deg", "%", "samples", "coefficients"
  std::string message;  ///< what was found, with the figures
  std::string action;   ///< what to do about it; empty when nothing needs doing
  /// The failed check that this one only restates, when it does: samples in a wrong unit make
  /// the fitted field, the residual and the offset wrong as well (and, in the fixed window, the
  /// samples rejected). Empty for a check that stands on its own.
  std::optional<CheckCode> followsFrom;
};

struct Diagnostics {
  Verdict verdict = Verdict::Fail;  ///< fail if any check fails, warn if any warns, else pass
  /// Every check that could be made, in CheckCode order. A check that needs what the data
  /// cannot give (the fitted radius without a reference, the shape of no samples) is left out.
  std::vector<Check> checks;
  /// The checks that warn or fail: failures first, and within a severity causes before
  /// symptoms (CheckCode order); each reason that follows from another comes right after it,
  /// whatever its own severity.
  std::vector<Check> reasons;
};

}  // namespace fluxtrim

#endif
