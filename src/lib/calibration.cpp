#include "fluxtrim/calibration.hpp"

#include <cmath>
#include <optional>
#include <string>

#include "constants.hpp"
#include "coreLimits.hpp"
#include "fitStage.hpp"
#include "fluxtrim/error.hpp"
#include "fluxtrim/text.hpp"
#include "vec3.hpp"
#include "vehicleDiagnosis.hpp"

namespace fluxtrim {

namespace {

std::string number(double value) {
  return shortestText(value);
}

// The accelerometer's samples one per sample, and a planar calibration asked for only where one
// can be made.
void checkVehicleArguments(const SampleSet& samples, const CalibrationOptions& options) {
  if (!samples.accelerometer.empty() && samples.accelerometer.size() != samples.values.size()) {
    throw UsageError("calibrate: " + std::to_string(samples.accelerometer.size()) +
                     " accelerometer samples for " + std::to_string(samples.values.size()) +
                     " samples: give one per sample, or none");
  }
  if (!detail::isFinite(options.down)) {
    throw UsageError("calibrate: the direction of down must be finite");
  }
  if (options.planar != PlanarMode::Always) {
    return;
  }
  if (options.reference.kind() != Reference::Kind::Field) {
    throw UsageError(
        "calibrate: a planar calibration takes the offset along the turn axis from the field's "
        "inclination: give the place of the recording");
  }
  if (options.mode != Mode::Automatic) {
    throw UsageError("calibrate: a planar calibration is made in the automatic mode only");
  }
}

// Every option in its domain, whichever mode uses it; the samples within what the fits can index.
void checkArguments(const SampleSet& samples, const CalibrationOptions& options) {
  if (options.mode == Mode::FixedWindow && options.reference.kind() == Reference::Kind::None) {
    throw UsageError("calibrate: the fixed-window mode needs a reference field or strength");
  }
  if (!std::isfinite(options.tolerance) || options.tolerance < 0.0) {
    throw UsageError("calibrate: tolerance must be finite and >= 0, not " +
                     number(options.tolerance));
  }
  if (!(options.disturbanceWindow > 0.0 && options.disturbanceWindow <= 1.0)) {
    throw UsageError("calibrate: disturbanceWindow must lie in (0, 1], not " +
                     number(options.disturbanceWindow));
  }
  if (!std::isfinite(options.outlierLimit) || !(options.outlierLimit > 0.0)) {
    throw UsageError("calibrate: outlierLimit must be finite and > 0, not " +
                     number(options.outlierLimit));
  }
  if (samples.unit.unit == Unit::Counts &&
      !(std::isfinite(samples.unit.countsPerGauss) && samples.unit.countsPerGauss > 0.0)) {
    throw UsageError("calibrate: counts per gauss must be finite and > 0, not " +
                     number(samples.unit.countsPerGauss));
  }
  checkVehicleArguments(samples, options);
  if (!sampleCountFitsCore(samples.values.size())) {
    throw UsageError("calibrate: too many samples: " + std::to_string(samples.values.size()) +
                     ", at most " + std::to_string(kMaxCoreSampleCount));
  }
}

}  // namespace

Vec3 applyCalibration(const Calibration& calibration, const Vec3& raw) {
  const double b[3] = {raw[0] - calibration.offset[0], raw[1] - calibration.offset[1],
                       raw[2] - calibration.offset[2]};
  const Matrix3& m = calibration.matrix;
  Vec3 corrected;
  for (int c = 0; c < 3; ++c) {
    corrected[c] = (b[0] * m[0][c] + b[1] * m[1][c]) + b[2] * m[2][c];
  }
  return corrected;
}

Calibration scaledCalibration(const Calibration& calibration, double factor) {
  Calibration scaled = calibration;
  for (Vec3& row : scaled.matrix) {
    for (double& element : row) {
      element *= factor;
    }
  }
  return scaled;
}

double fieldScaleRatio(const CalibrationResult& result) {
  return result.figures.field_G / result.unit.toGauss(result.meanCorrectedMagnitude);
}

Reference Reference::fromStrength(double total_G) {
  if (!std::isfinite(total_G) || !(total_G > 0.0)) {
    throw UsageError("reference: the field strength must be finite and > 0 gauss, not " +
                     number(total_G));
  }
  Reference reference;
  reference.kind_ = Kind::Strength;
  reference.strength_G_ = total_G;
  return reference;
}

Reference Reference::fromField(const ReferenceField& field) {
  const FieldElements& e = field.elements;
  if (!std::isfinite(e.north_nT) || !std::isfinite(e.east_nT) || !std::isfinite(e.down_nT) ||
      (e.north_nT == 0.0 && e.east_nT == 0.0 && e.down_nT == 0.0)) {
    throw UsageError("reference: the field's north, east and down must be finite and not all 0");
  }
  Reference reference;
  reference.kind_ = Kind::Field;
  reference.field_ = field;
  return reference;
}

double Reference::total_G() const {
  switch (kind_) {
    case Kind::None:
      return detail::kNaN;
    case Kind::Strength:
      return strength_G_;
    case Kind::Field:
      return detail::norm(vector_G());
  }
  return detail::kNaN;
}

Vec3 Reference::vector_G() const {
  const SampleUnit nanotesla{Unit::Nanotesla};
  switch (kind_) {
    case Kind::None:
      break;
    case Kind::Strength:
      return {{strength_G_, 0.0, 0.0}};
    case Kind::Field:
      return {{nanotesla.toGauss(field_.elements.north_nT),
               nanotesla.toGauss(field_.elements.east_nT),
               nanotesla.toGauss(field_.elements.down_nT)}};
  }
  throw UsageError("reference: none was given, so it has no vector");
}

const ReferenceField& Reference::field() const {
  if (kind_ != Kind::Field) {
    throw UsageError("reference: no model field was given");
  }
  return field_;
}

std::string referenceText(const Reference& reference) {
  switch (reference.kind()) {
    case Reference::Kind::None:
      return formatText("none (the Earth's range, about %.2f to %.2f G, assumed)",
                        detail::kEarthFieldMin_G, detail::kEarthFieldMax_G);
    case Reference::Kind::Strength:
      return "a given field strength of " + shortestText(reference.total_G()) + " G";
    case Reference::Kind::Field:
      break;
  }
  const ReferenceField& field = reference.field();
  const std::optional<CalendarDate> date = calendarDate(field.decimalYear);
  return std::string(fieldModelInfo(field.model).name) + " at " + positionText(field.position) +
         " on " + (date ? dateText(*date) : decimalYearText(field.decimalYear));
}

double AcceptanceWindow::measureOf(const Vec3& raw) const {
  return detail::norm(detail::measuredVector(*this, raw));
}

namespace detail {

Vec3 measuredVector(const AcceptanceWindow& window, const Vec3& raw) {
  switch (window.measure) {
    case AcceptanceWindow::Measure::RawMagnitude:
      return raw;
    case AcceptanceWindow::Measure::DistanceFromCentre:
      return difference(raw, window.centre);
    case AcceptanceWindow::Measure::CorrectedMagnitude:
      return applyCalibration(window.calibration, raw);
  }
  return {{kNaN, kNaN, kNaN}};
}

}  // namespace detail

const char* modeName(Mode mode) {
  return mode == Mode::FixedWindow ? "fixed-window" : "automatic";
}

const char* modelName(ModelKind kind) {
  switch (kind) {
    case ModelKind::Sphere:
      return "sphere";
    case ModelKind::AxisAligned:
      return "axis-aligned ellipsoid";
    case ModelKind::General:
      return "general ellipsoid";
  }
  return "sphere";
}

int modelCoefficients(ModelKind kind) {
  switch (kind) {
    case ModelKind::Sphere:
      return 4;
    case ModelKind::AxisAligned:
      return 7;
    case ModelKind::General:
      return 10;
  }
  return 4;
}

const char* modelDecisionName(ModelDecision decision) {
  switch (decision) {
    case ModelDecision::Kept:
      return "kept";
    case ModelDecision::Superseded:
      return "superseded";
    case ModelDecision::NotPositiveDefinite:
      return "not positive definite";
    case ModelDecision::NotReal:
      return "not real";
    case ModelDecision::NotBetter:
      return "not better";
    case ModelDecision::NotFitted:
      return "not fitted";
  }
  return "not fitted";
}

const char* statusName(SampleStatus status) {
  switch (status) {
    case SampleStatus::Kept:
      return "kept";
    case SampleStatus::Invalid:
      return "invalid";
    case SampleStatus::OutsideWindow:
      return "outside window";
    case SampleStatus::Disturbed:
      return "disturbed";
    case SampleStatus::Outlier:
      return "outlier";
    case SampleStatus::Clipped:
      return "clipped";
  }
  return "kept";
}

const char* severityName(Severity severity) {
  switch (severity) {
    case Severity::Ok:
      return "ok";
    case Severity::Warn:
      return "warn";
    case Severity::Fail:
      return "fail";
  }
  return "fail";
}

const char* verdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::Pass:
      return "pass";
    case Verdict::Warn:
      return "warn";
    case Verdict::Fail:
      return "fail";
  }
  return "fail";
}

const char* checkCodeName(CheckCode code) {
  static const char* const kNames[kCheckCodeCount] = {
      "input",    "clipping", "unit",     "motion",   "planar",    "gap",
      "coverage", "rejected", "outliers", "samples",  "offset",    "soft_iron",
      "model",    "radius",   "residual", "mounting", "alignment", "inclination"};
  const int index = static_cast<int>(code);
  return index >= 0 && index < kCheckCodeCount ? kNames[index] : "unknown";
}

CalibrationResult calibrate(const SampleSet& samples, const CalibrationOptions& options) {
  checkArguments(samples, options);
  return detail::completeCalibration(samples, options, detail::fitSamples(samples, options));
}

}  // namespace fluxtrim
