/// @file
/// Hard- and soft-iron calibration of magnetometer samples, with diagnostics that say whether the
/// answer can be trusted and what to do when it cannot.
#ifndef FLUXTRIM_CALIBRATION_HPP
#define FLUXTRIM_CALIBRATION_HPP

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "fluxtrim/diagnostics.hpp"
#include "fluxtrim/field.hpp"
#include "fluxtrim/samples.hpp"
#include "fluxtrim/types.hpp"
#include "fluxtrim/units.hpp"
#include "fluxtrim/vehicle.hpp"

namespace fluxtrim {

/// (raw - offset) * matrix, each component summed as (b0 * m0c + b1 * m1c) + b2 * m2c, the order
/// the calibration itself uses. Nothing is checked: a NaN anywhere gives NaN components.
Vec3 applyCalibration(const Calibration& calibration, const Vec3& raw);

/// The calibration with its matrix multiplied by factor, element by element (each product rounded
/// once), and its offset unchanged: it gives corrected samples factor times the calibration's.
Calibration scaledCalibration(const Calibration& calibration, double factor);

/// The field the samples are compared with: none (the Earth's range, about 0.22 to 0.67 G, is
/// assumed), a strength, or the model field at the place and date of the recording.
class Reference {
 public:
  enum class Kind { None, Strength, Field };

  Reference() = default;  ///< none
  /// Throws UsageError unless total_G is finite and > 0.
  static Reference fromStrength(double total_G);
  /// Throws UsageError unless north, east and down are finite and not all zero.
  static Reference fromField(const ReferenceField& field);

  Kind kind() const { return kind_; }
  /// The strength in gauss: the given one, or the norm of the model's north, east and down in
  /// gauss (the calibration core's scaled norm, in double precision); NaN for None.
  double total_G() const;
  /// North, east and down in gauss, each element_nT / 100000.0; (strength, 0, 0) for Strength.
  /// Throws UsageError for None.
  Vec3 vector_G() const;
  /// The model field. Throws UsageError unless kind() == Field.
  const ReferenceField& field() const;

 private:
  Kind kind_ = Kind::None;
  double strength_G_ = 0.0;
  ReferenceField field_;
};

/// The reference in a few words, as the command and the report print it: "WMM2025 at 48.5578 N,
/// 3.2914 E, 89 m on 2026-12-08" (a date that is no calendar date exactly as its decimal year,
/// "on 2026.5"), "a given field strength of 0.483 G", "none (the Earth's range, about 0.22 to
/// 0.67 G, assumed)".
std::string referenceText(const Reference& reference);

enum class Mode {
  /// The library's own: unit check, offset from a sphere through all valid samples, rejection of
  /// disturbed samples by their distance from that offset relative to its radius, the three fits
  /// on the kept samples, one robust refinement. Needs no reference; deterministic.
  Automatic,
  /// The computation of fluxtrim.out: the samples whose raw magnitude lies within `tolerance` of
  /// the reference's magnitude (both ends included) are fitted once. Needs a reference. Same
  /// digits as fluxtrim.out for the same samples; fluxtrim.out also hands its header line and a
  /// final newline to the fit as zero rows, which only a tolerance of 1 or more lets in.
  FixedWindow,
};
const char* modeName(Mode mode);  ///< "automatic" or "fixed-window"

/// When a device turned about one axis is calibrated from that turn (calibratePlanar): the
/// offset and soft iron in the turn's plane from an ellipse, the offset along the axis from the
/// model's inclination. An ellipsoid fit to such a turn fails its checks on coverage.
enum class PlanarMode {
  /// When the motion is a turn about one axis (MotionPattern::SpunAbout or LyingFlat) that the
  /// accelerometer shows within kAutomaticPlanarTilt_deg of the vertical, the reference is a
  /// model field and the mode is Automatic, and the turn gives a determined calibration.
  Automatic,
  /// Always; needs a model field and the automatic mode (calibrate throws UsageError otherwise),
  /// and without quasi-static accelerometer samples CalibrationOptions::down.
  Always,
  Never,
};
/// The largest tilt of the turn axis from the vertical, degrees, at which PlanarMode::Automatic
/// takes a turn for a vehicle's level turn.
constexpr double kAutomaticPlanarTilt_deg = 5.0;

struct CalibrationOptions {
  Mode mode = Mode::Automatic;
  Reference reference;
  /// FixedWindow: relative half-width of the window on raw magnitudes; finite and >= 0.
  double tolerance = 0.2;
  /// Automatic: a sample is disturbed when its distance from the preliminary offset differs from
  /// the preliminary radius by more than this fraction of it; in (0, 1]. Wide enough for soft
  /// iron that stretches one axis by 30 % against another.
  double disturbanceWindow = 0.3;
  /// Automatic: a kept sample is an outlier when its corrected magnitude is further from the
  /// typical one than this many robust standard deviations (and than 1 % of the magnitude);
  /// finite and > 0.
  double outlierLimit = 4.0;

  /// With accelerometer samples (SampleSet::accelerometer): their unit. Empty: the unit the
  /// recording states (SampleSet::accelerometerUnit), else the one their magnitudes show
  /// (detectAccelerometerUnit); when neither, the accelerometer is not used.
  std::optional<AccelerometerUnit> accelerometerUnit;
  PlanarMode planar = PlanarMode::Automatic;
  /// The magnetometer's mounting when known, v_acc = mounting * v_mag (orientationMatrix of a
  /// name): a planar calibration brings down from the accelerometer's axes into the
  /// magnetometer's through it, and the mounting check compares the estimate with its nearest
  /// named orientation. Empty: the identity for both.
  std::optional<Matrix3> mounting;
  /// For a planar calibration without quasi-static accelerometer samples: a direction in the
  /// magnetometer's axes within 60 degrees of down, such as (0, 0, 1) for Z down
  /// (PlanarOptions::downHint). Zero: not given.
  Vec3 down{{0.0, 0.0, 0.0}};
};

enum class ModelKind { Sphere, AxisAligned, General };
const char* modelName(ModelKind kind);  ///< "sphere", "axis-aligned ellipsoid", "general ellipsoid"
/// Coefficients of the model's algebraic fit: 4, 7 or 10.
int modelCoefficients(ModelKind kind);

/// What became of a candidate model under the core's rule: start from the sphere, and let each
/// later model replace the choice when it is positive definite, exactly real and has a strictly
/// smaller error.
enum class ModelDecision {
  Kept,
  Superseded,           ///< it replaced the choice, and a later model replaced it
  NotPositiveDefinite,  ///< its fitted quadric is not an ellipsoid
  NotReal,              ///< the square root of its shape matrix has an imaginary part
  NotBetter,            ///< its error is not strictly below the choice before it
  NotFitted,            ///< no sample to fit
};
const char* modelDecisionName(ModelDecision decision);

/// One candidate model, fitted on the kept samples.
struct ModelFit {
  ModelKind kind = ModelKind::Sphere;
  Calibration calibration;  ///< real parts of the fitted matrix
  double radius =
      std::numeric_limits<double>::quiet_NaN();  ///< field after correction, samples' unit
  /// The core's normalised algebraic error, dimensionless: the figure the choice compares.
  double error = std::numeric_limits<double>::quiet_NaN();
  /// Root mean square of |corrected| about its mean over the kept samples, each coverage cell
  /// weighted once (so dwelling in one pose does not dilute it); samples' unit, and milligauss.
  double residual = std::numeric_limits<double>::quiet_NaN();
  double residual_mG = std::numeric_limits<double>::quiet_NaN();
  bool positiveDefinite = false;
  bool exactlyReal = false;
  ModelDecision decision = ModelDecision::NotFitted;
  std::string reason;  ///< one line: why it was kept or passed over
};

/// What became of each sample.
enum class SampleStatus : std::uint8_t {
  /// Used by the final fit; Automatic with a device that was not turned, when no fit is made:
  /// passed every window applied.
  Kept,
  Invalid,        ///< a component is not finite, or (Automatic) all three are exactly zero
  OutsideWindow,  ///< FixedWindow: raw magnitude outside the window
  Disturbed,      ///< Automatic: too far from the preliminary sphere
  Outlier,        ///< Automatic: corrected magnitude an outlier in the refinement
  /// Automatic: a component at a column's extreme value, repeated far more often than the
  /// values next to it: the sensor's limit, or the code it writes when its range is exceeded.
  /// Decided before any window, as Invalid is.
  Clipped,
};
constexpr int kSampleStatusCount = 6;
/// "kept", "invalid", "outside window", "disturbed", "outlier", "clipped"
const char* statusName(SampleStatus status);

/// One acceptance window, in the order applied. A sample passes when its measure lies in
/// [lower, upper], both ends included; one that fails gets the status rejectedAs.
struct AcceptanceWindow {
  enum class Measure {
    RawMagnitude,        ///< |raw|
    DistanceFromCentre,  ///< |raw - centre|
    CorrectedMagnitude,  ///< |applyCalibration(calibration, raw)|
  };
  Measure measure = Measure::RawMagnitude;
  Vec3 centre{{0.0, 0.0, 0.0}};  ///< DistanceFromCentre: samples' unit
  Calibration calibration;       ///< CorrectedMagnitude: the fit the magnitudes come from
  double lower = 0.0;            ///< samples' unit
  double upper = 0.0;            ///< samples' unit
  SampleStatus rejectedAs = SampleStatus::OutsideWindow;

  /// The window's measure of a raw sample, samples' unit, by the calibration core's scaled norm:
  /// the very double the window was applied to. NaN when a component is NaN, or for a measure
  /// that is none of the enumerators.
  double measureOf(const Vec3& raw) const;
  /// Whether a measure lies in [lower, upper]; NaN never does.
  bool accepts(double measure) const { return measure <= upper && measure >= lower; }
};

/// The figures behind the checks. Quantities in the samples' unit carry no suffix; _G is gauss
/// and _mG milligauss, both converted with the samples' unit (given, or gauss assumed). NaN where
/// a figure cannot be had (no reference, no kept sample).
struct Figures {
  std::size_t samples = 0;
  std::array<std::size_t, kSampleStatusCount> byStatus{};  ///< indexed by SampleStatus
  std::size_t kept() const { return byStatus[static_cast<int>(SampleStatus::Kept)]; }

  /// Samples with a component clipped at the sensor's limit (see SampleStatus::Clipped). The
  /// automatic mode leaves them out; the fixed window, fluxtrim.out's computation, does not
  /// look at them, and fits those that fall within it.
  std::size_t clipped = 0;

  double gaussPerUnit = 1.0;                                  ///< gauss in one unit of the samples
  double field_G = std::numeric_limits<double>::quiet_NaN();  ///< reference strength
  double horizontal_G = std::numeric_limits<double>::quiet_NaN();     ///< Field only
  double inclination_deg = std::numeric_limits<double>::quiet_NaN();  ///< Field only

  /// The samples' scale before any fit is trusted: the radius of the sphere fitted to all valid
  /// samples (gross spikes and clipped samples aside), and the unit in which that scale matches
  /// the field best; NaN when the device was not turned. When that scale fits no unit but the
  /// kept model's field lies within 15 % of the reference (without one, within the Earth's
  /// range), the unit is judged on that field instead: samples off the sphere pull the scale of
  /// all samples, never the fit.
  double scale = std::numeric_limits<double>::quiet_NaN();
  double scale_G = std::numeric_limits<double>::quiet_NaN();
  SampleUnit apparentUnit;   ///< Counts (with the implied counts per gauss) when no unit fits
  bool unitMatches = false;  ///< the samples' unit is the apparent one

  double radius = std::numeric_limits<double>::quiet_NaN();  ///< kept model's field strength
  double radius_G = std::numeric_limits<double>::quiet_NaN();
  double radiusToField = std::numeric_limits<double>::quiet_NaN();  ///< radius_G / field_G

  double offsetNorm = std::numeric_limits<double>::quiet_NaN();  ///< |offset|
  double offsetNorm_G = std::numeric_limits<double>::quiet_NaN();
  double offsetLargest_G = std::numeric_limits<double>::quiet_NaN();  ///< largest |component|
  /// |offset| over the field (the reference, or the fitted radius without one).
  double offsetToField = std::numeric_limits<double>::quiet_NaN();

  double residual = std::numeric_limits<double>::quiet_NaN();  ///< of the kept model
  double residual_mG = std::numeric_limits<double>::quiet_NaN();
  double residualToField = std::numeric_limits<double>::quiet_NaN();  ///< over the field, as above
  /// Indicative heading error, degrees: atan(residual / horizontal field), or over the total
  /// field (a lower bound) when the reference gives no inclination.
  double heading_deg = std::numeric_limits<double>::quiet_NaN();

  /// Eigenvalues of the symmetric part of the kept matrix, ascending, and their ratio.
  Vec3 softIronEigenvalues{{std::numeric_limits<double>::quiet_NaN(),
                            std::numeric_limits<double>::quiet_NaN(),
                            std::numeric_limits<double>::quiet_NaN()}};
  double softIronCondition = std::numeric_limits<double>::quiet_NaN();
};

/// What the accelerometer beside the magnetometer shows (vehicle.hpp).
struct AccelerometerFindings {
  std::size_t samples = 0;  ///< accelerometer samples with finite components
  /// The unit used, and how it was chosen (Given: CalibrationOptions::accelerometerUnit; Header:
  /// stated by the column names; Detected: from the magnitudes). Empty, with source Default,
  /// when none fits: the samples at rest and the mounting are then not looked for.
  std::optional<AccelerometerUnit> unit;
  UnitSource unitSource = UnitSource::Default;
  std::size_t quasiStatic = 0;  ///< samples at rest (selectQuasiStatic with default options)
  /// The mounting and the field's inclination from the calibrated field at rest
  /// (estimateMounting over the kept samples); not determined, with the reason, when the poses
  /// or the samples at rest do not fix it, or without a unit.
  MountingEstimate mounting;
  /// The named orientation the mounting is compared with: the nearest to
  /// CalibrationOptions::mounting, else 0 (none). Index into namedOrientations().
  int expected = 0;
};

struct CalibrationResult {
  Mode mode = Mode::Automatic;
  SampleUnit unit;         ///< the samples' unit: given, stated by the recording, or gauss assumed
  bool unitGiven = false;  ///< whether it is known (SampleSet::unitGiven): given or stated

  Calibration calibration;  ///< of the kept model; identity and zero without samples
  ModelKind model = ModelKind::Sphere;
  std::array<ModelFit, 3> models;  ///< sphere, axis-aligned, general
  /// Mean |corrected| over the kept samples, in their order, summed as fluxtrim.out sums it
  /// (its magNormRef); samples' unit. NaN without kept samples.
  double meanCorrectedMagnitude = std::numeric_limits<double>::quiet_NaN();

  std::vector<SampleStatus> status;       ///< one per sample of the set, in its order
  std::vector<AcceptanceWindow> windows;  ///< the windows applied, in order

  Figures figures;
  Coverage coverage;
  Motion motion;
  Diagnostics diagnostics;

  /// Present when the samples have accelerometer samples.
  std::optional<AccelerometerFindings> accelerometer;
  /// Present when a calibration from a turn about one axis was made: asked for
  /// (PlanarMode::Always), or chosen automatically and determined. When determined, `calibration`
  /// is its calibration (the three models stay what the ellipsoid fits gave, none of them kept
  /// for it), the figures and statuses are those of the planar calibration, and its check takes
  /// the place of the motion, gap, coverage and model checks.
  std::optional<PlanarCalibration> planar;
  bool planarAutomatic = false;  ///< chosen by PlanarMode::Automatic
};

/// Whether the result's calibration is a planar one (CalibrationResult::planar, determined).
bool isPlanar(const CalibrationResult& result);

/// The factor that scales the kept model's matrix so that the corrected magnitudes of the kept
/// samples average the reference field: the reference's strength over meanCorrectedMagnitude,
/// both in gauss (the samples' unit converted by result.unit), so a pure number. NaN without a
/// reference or without a kept sample.
double fieldScaleRatio(const CalibrationResult& result);

/// Calibrates the samples. Deterministic: the same samples and options give the same result to
/// the last bit. Data that cannot be calibrated well gives a result whose diagnostics say so; it
/// never throws for that. With accelerometer samples beside the magnetometer's, the samples at
/// rest give the mounting and the inclination (AccelerometerFindings), and a turn about one axis
/// may be calibrated as such (PlanarMode). Throws UsageError for options out of their domain,
/// for FixedWindow without a reference, for PlanarMode::Always without a model field, in the
/// fixed window or without a way to tell down, for accelerometer samples that are not one per
/// sample, and for more samples than the fits can index (about 214 million).
CalibrationResult calibrate(const SampleSet& samples, const CalibrationOptions& options = {});

}  // namespace fluxtrim

#endif
