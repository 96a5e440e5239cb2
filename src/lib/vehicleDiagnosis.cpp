#include "vehicleDiagnosis.hpp"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "constants.hpp"
#include "diagnose.hpp"
#include "fluxtrim/error.hpp"
#include "vec3.hpp"
#include "vehicleChecks.hpp"
#include "vehicleMath.hpp"

namespace fluxtrim {
namespace detail {

namespace {

// What the planar calibration's stage keeps of the fit's: the samples set aside before any fit
// (invalid, clipped) and what the screening found.
struct Screening {
  std::vector<SampleStatus> status;
  std::vector<ClippedExtreme> clipping;
  std::size_t clipped = 0;
  double spread = kNaN;
};

Screening screeningOf(const FitStage& stage) {
  return Screening{stage.status, stage.clipping, stage.clipped, stage.spread};
}

bool setAside(SampleStatus status) {
  return status == SampleStatus::Invalid || status == SampleStatus::Clipped;
}

// The accelerometer's unit (given, stated by its column names, or shown by its magnitudes) and
// its samples at rest in steady.
AccelerometerFindings accelerometerFindings(const SampleSet& samples,
                                            const CalibrationOptions& options,
                                            QuasiStatic& steady) {
  AccelerometerFindings a;
  a.samples = static_cast<std::size_t>(std::count_if(samples.accelerometer.begin(),
                                                     samples.accelerometer.end(),
                                                     [](const Vec3& v) { return isFinite(v); }));
  if (options.accelerometerUnit) {
    a.unit = options.accelerometerUnit;
    a.unitSource = UnitSource::Given;
  } else if (samples.accelerometerUnit) {
    a.unit = samples.accelerometerUnit;
    a.unitSource = UnitSource::Header;
  } else {
    a.unit = detectAccelerometerUnit(samples.accelerometer);
    a.unitSource = a.unit ? UnitSource::Detected : UnitSource::Default;
  }
  if (a.unit) {
    steady = selectQuasiStatic(samples.accelerometer, *a.unit);
    a.quasiStatic = steady.count();
  } else {
    a.mounting.problem =
        "the accelerometer's unit is not known: its samples are neither about 9.81 (m/s^2) nor "
        "about 1 (g) in size; give it, as counts per g for raw counts";
  }
  if (options.mounting) {
    a.expected = nearestOrientation(*options.mounting).index;
  }
  return a;
}

// Whether the fit's result calls for a planar calibration: asked for, or a turn about one axis
// that may be a vehicle's level turn (the accelerometer then tells).
bool planarWanted(const CalibrationOptions& options, const CalibrationResult& fitted,
                  const QuasiStatic& steady) {
  if (options.planar != PlanarMode::Automatic) {
    return options.planar == PlanarMode::Always;
  }
  const MotionPattern pattern = fitted.motion.pattern;
  return options.mode == Mode::Automatic && options.reference.kind() == Reference::Kind::Field &&
         steady.count() > 0 &&
         (pattern == MotionPattern::SpunAbout || pattern == MotionPattern::LyingFlat);
}

// The planar calibration of the samples that no screening set aside (the others as NaN, which
// it leaves out), with down through the mounting given.
PlanarCalibration planarOf(const SampleSet& samples, const CalibrationOptions& options,
                           const Screening& screening, const QuasiStatic& steady) {
  std::vector<Vec3> raw = samples.values;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (setAside(screening.status[i])) {
      raw[i] = {{kNaN, kNaN, kNaN}};
    }
  }
  PlanarOptions planarOptions;
  planarOptions.accelFromMag = options.mounting.value_or(identity3());
  planarOptions.downHint = options.down;
  if (steady.count() == 0 && !(isFinite(options.down) && norm(options.down) > 0.0)) {
    throw UsageError(
        "a planar calibration needs to know which way is down: the recording has no "
        "accelerometer samples at rest, so give down in the magnetometer's axes (such as +Z)");
  }
  return calibratePlanar(raw, steady, options.reference, planarOptions);
}

// The fit stage of a planar calibration: its statuses, its calibration as the one model fitted
// in the sphere's place (whose offset centres the motion's directions, and whose radius, the
// corrected field's strength, is the scale the unit is judged by), and the fit's screening.
FitStage planarStage(const PlanarCalibration& planar, Screening screening) {
  FitStage stage;
  stage.status = std::move(screening.status);
  for (std::size_t i = 0; i < stage.status.size(); ++i) {
    if (!setAside(stage.status[i])) {
      stage.status[i] = planar.kept[i] != 0 ? SampleStatus::Kept : SampleStatus::Outlier;
    }
  }
  const double strength = std::hypot(planar.acrossAxisField, planar.alongAxisField);
  ModelFit& fit = stage.models[0];
  fit.calibration = planar.calibration;
  fit.radius = strength;
  fit.positiveDefinite = true;
  fit.exactlyReal = true;
  fit.decision = ModelDecision::Kept;
  fit.reason = "the calibration from the turn about one axis";
  stage.models[1].kind = ModelKind::AxisAligned;
  stage.models[2].kind = ModelKind::General;
  stage.preliminary = Sphere{planar.calibration.offset, strength};
  stage.clipping = std::move(screening.clipping);
  stage.clipped = screening.clipped;
  stage.spread = screening.spread;
  return stage;
}

// The result of a determined planar calibration: diagnosed from its stage, with the ellipsoid
// fits as they were, and the planar check in place of the checks of the motion's shape, the
// coverage and the model, which judge an ellipsoid.
CalibrationResult planarResult(const SampleSet& samples, const CalibrationOptions& options,
                               const PlanarCalibration& planar, Screening screening,
                               const CalibrationResult& fitted) {
  CalibrationResult r = diagnose(samples, options, planarStage(planar, std::move(screening)));
  r.models = fitted.models;
  r.model = fitted.model;
  std::vector<Check>& checks = r.diagnostics.checks;
  checks.erase(std::remove_if(checks.begin(), checks.end(),
                              [](const Check& c) {
                                return c.code == CheckCode::Motion || c.code == CheckCode::Gap ||
                                       c.code == CheckCode::Coverage || c.code == CheckCode::Model;
                              }),
               checks.end());
  return r;
}

// Adds a check in its place in CheckCode order.
void insertCheck(std::vector<Check>& checks, Check check) {
  const auto at = std::upper_bound(checks.begin(), checks.end(), check.code,
                                   [](CheckCode code, const Check& c) {
                                     return static_cast<int>(code) < static_cast<int>(c.code);
                                   });
  checks.insert(at, std::move(check));
}

DownSource downSource(const CalibrationOptions& options, const PlanarCalibration& planar) {
  if (planar.steady == 0) {
    return DownSource::Given;
  }
  return options.mounting ? DownSource::MountedAccelerometer : DownSource::Accelerometer;
}

// At most this many samples at rest estimate the mounting: far more than its three angles and
// one inclination need, and a bound on the memory its linear start takes.
constexpr std::size_t kMountingSamples = 20000;

// The kept samples at rest, at most kMountingSamples of them evenly spread over the recording,
// with their calibrated field in field: the k-th of m chosen out of n is the floor(k n / m)-th.
// The indices of the result index field.
QuasiStatic keptAtRest(const SampleSet& samples, const CalibrationResult& r,
                       const QuasiStatic& steady, std::vector<Vec3>& field) {
  std::vector<std::size_t> kept;
  for (std::size_t k = 0; k < steady.count(); ++k) {
    if (r.status[steady.indices[k]] == SampleStatus::Kept) {
      kept.push_back(k);
    }
  }
  const std::size_t chosen = std::min(kept.size(), kMountingSamples);
  QuasiStatic rest;
  rest.samples = steady.samples;
  for (std::size_t k = 0; k < chosen; ++k) {
    const std::size_t at = kept[k * kept.size() / chosen];
    field.push_back(applyCalibration(r.calibration, samples.values[steady.indices[at]]));
    rest.indices.push_back(k);
    rest.down.push_back(steady.down[at]);
  }
  return rest;
}

// The mounting and the inclination from the calibrated field of the kept samples at rest, and
// their checks when determined.
void addMounting(const SampleSet& samples, const CalibrationOptions& options,
                 const QuasiStatic& steady, CalibrationResult& r) {
  AccelerometerFindings& a = *r.accelerometer;
  if (!a.unit) {
    return;
  }
  const bool fitted =
      isPlanar(r) || r.models[static_cast<int>(r.model)].decision != ModelDecision::NotFitted;
  if (!fitted || r.motion.pattern == MotionPattern::NotTurned) {
    a.mounting.problem =
        "no calibration was fitted, and the mounting is found from the calibrated field";
    return;
  }
  std::vector<Vec3> field;
  const QuasiStatic rest = keptAtRest(samples, r, steady, field);
  const double inclination = options.reference.kind() == Reference::Kind::Field
                                 ? options.reference.field().elements.inclination_deg
                                 : kNaN;
  a.mounting = estimateMounting(field, rest, inclination);
  if (!a.mounting.determined) {
    return;
  }
  insertCheck(r.diagnostics.checks, mountingCheck(a));
  insertCheck(r.diagnostics.checks, alignmentCheck(a.mounting));
  if (std::isfinite(inclination)) {
    insertCheck(r.diagnostics.checks, inclinationCheck(a.mounting));
  }
}

}  // namespace

CalibrationResult completeCalibration(const SampleSet& samples, const CalibrationOptions& options,
                                      FitStage stage) {
  if (samples.accelerometer.empty() && options.planar != PlanarMode::Always) {
    return diagnose(samples, options, std::move(stage));
  }
  Screening screening = options.planar == PlanarMode::Never ? Screening{} : screeningOf(stage);
  CalibrationResult r = diagnose(samples, options, std::move(stage));
  QuasiStatic steady;
  if (!samples.accelerometer.empty()) {
    r.accelerometer = accelerometerFindings(samples, options, steady);
  }
  if (planarWanted(options, r, steady)) {
    const bool automatic = options.planar == PlanarMode::Automatic;
    PlanarCalibration planar = planarOf(samples, options, screening, steady);
    // Automatically only a level turn: a vehicle's, which nothing else calibrates.
    const bool used =
        planar.determined && (!automatic || planar.tilt_deg <= kAutomaticPlanarTilt_deg);
    if (used) {
      std::optional<AccelerometerFindings> findings = std::move(r.accelerometer);
      r = planarResult(samples, options, planar, std::move(screening), r);
      r.accelerometer = std::move(findings);
    }
    if (used || !automatic) {
      insertCheck(r.diagnostics.checks, planarCheck(planar, downSource(options, planar)));
      r.planar = std::move(planar);
      r.planarAutomatic = automatic;
    }
  }
  if (r.accelerometer) {
    addMounting(samples, options, steady, r);
  }
  judgeChecks(r);
  return r;
}

}  // namespace detail

bool isPlanar(const CalibrationResult& result) {
  return result.planar && result.planar->determined;
}

}  // namespace fluxtrim
