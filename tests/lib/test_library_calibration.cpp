// Tests of the library's calibration on synthetic recordings with a known truth: what the
// automatic mode recovers, what the diagnostics say about poor recordings (wrong unit, one axis,
// half the sphere, dwelling, a large offset, spikes), that the fixed window is fluxtrim.out's
// computation to the bit, and the helpers the diagnostics rest on.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FERROKIT.hpp"
#include "calibration_test_data.h"
#include "fluxtrim/fluxtrim.hpp"
#include "lib/robustStatistics.hpp"
#include "lib/symmetricEigen.hpp"
#include "lib/unitJudgement.hpp"
#include "staticMagCalibration.h"

namespace {

namespace ct = calibration_test;
using fluxtrim::CalibrationOptions;
using fluxtrim::CalibrationResult;
using fluxtrim::Check;
using fluxtrim::CheckCode;
using fluxtrim::Mode;
using fluxtrim::Reference;
using fluxtrim::SampleSet;
using fluxtrim::SampleStatus;
using fluxtrim::Severity;
using fluxtrim::Verdict;

constexpr double kField_G = 0.48;
constexpr double kPi = 3.141592653589793;

ct::Truth truth(const ct::Vec3& offset = {0.06, -0.04, 0.09}) {
  return {offset, {1.08, 0.97, 0.94}, ct::rotation(0.3, -0.2, 0.5), kField_G};
}

// Samples of the truth whose corrected directions are the given unit vectors, with Gaussian noise
// of noise_G on each axis.
std::vector<ct::Vec3> fromDirections(const ct::Truth& t, const std::vector<ct::Vec3>& directions,
                                     double noise_G, unsigned seed) {
  std::mt19937_64 random(seed);
  std::normal_distribution<double> gauss(0.0, 1.0);
  const ct::Mat3 distortion =
      ct::symmetric(t.axes, {1.0 / t.gains[0], 1.0 / t.gains[1], 1.0 / t.gains[2]});
  std::vector<ct::Vec3> samples;
  for (const ct::Vec3& u : directions) {
    ct::Vec3 m;
    for (int c = 0; c < 3; ++c) {
      const double distorted =
          u[0] * distortion[0][c] + u[1] * distortion[1][c] + u[2] * distortion[2][c];
      m[c] = t.offset[c] + t.field * distorted + noise_G * gauss(random);
    }
    samples.push_back(m);
  }
  return samples;
}

SampleSet sampleSet(const std::vector<ct::Vec3>& values) {
  SampleSet set;
  for (const ct::Vec3& v : values) {
    set.values.push_back({{v[0], v[1], v[2]}});
  }
  return set;
}

CalibrationOptions withStrength(Mode mode = Mode::Automatic) {
  CalibrationOptions options;
  options.mode = mode;
  options.reference = Reference::fromStrength(kField_G);
  return options;
}

const Check* findCheck(const CalibrationResult& r, CheckCode code) {
  for (const Check& check : r.diagnostics.checks) {
    if (check.code == code) {
      return &check;
    }
  }
  return nullptr;
}

double offsetError_mG(const CalibrationResult& r, const ct::Vec3& offset) {
  double sum = 0.0;
  for (int k = 0; k < 3; ++k) {
    sum += (r.calibration.offset[k] - offset[k]) * (r.calibration.offset[k] - offset[k]);
  }
  return 1000.0 * std::sqrt(sum);
}

// A full tumble passes: offset and matrix are those of the truth, every sample is kept, and the
// calibration maps the noise-free samples onto one sphere.
TEST(LibraryCalibration, FullTumblePassesWithTheTruthRecovered) {
  const ct::Truth t = truth();
  const std::vector<ct::Vec3> samples = ct::generate(t, 2000, ct::Coverage::kFullSphere, 0.001, 11);
  const CalibrationResult r = fluxtrim::calibrate(sampleSet(samples), withStrength());

  EXPECT_EQ(r.diagnostics.verdict, Verdict::Pass);
  EXPECT_TRUE(r.diagnostics.reasons.empty());
  EXPECT_EQ(r.model, fluxtrim::ModelKind::General);
  EXPECT_EQ(r.models[2].decision, fluxtrim::ModelDecision::Kept);
  EXPECT_EQ(r.figures.kept(), samples.size());
  EXPECT_LT(offsetError_mG(r, t.offset), 0.5);
  const ct::Mat3 expected = ct::unitDeterminant(t.correction());
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      EXPECT_NEAR(r.calibration.matrix[i][j], expected[i][j], 2e-3) << i << "," << j;
    }
  }
  EXPECT_NEAR(r.figures.residual_mG, 1.0, 0.3);  // the noise, 1 mG on each axis
  EXPECT_NEAR(r.figures.radiusToField, 1.0, 0.02);
  EXPECT_EQ(r.coverage.occupiedCells, r.coverage.grid.cells());

  // The result's calibration, applied sample by sample, is the one the fit describes.
  const std::vector<ct::Vec3> exact = ct::generate(t, 50, ct::Coverage::kFullSphere, 0.0, 12);
  for (const ct::Vec3& m : exact) {
    const fluxtrim::Vec3 c = fluxtrim::applyCalibration(r.calibration, {{m[0], m[1], m[2]}});
    EXPECT_NEAR(std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]), r.figures.radius, 2e-3);
  }
}

// The same recording in another unit read as gauss fails, the unit listed first and named, with
// and without a reference (milligauss also naming raw counts); the fit itself is unaffected by
// scale.
TEST(LibraryCalibration, WrongUnitFailsWithTheUnitReasonFirst) {
  const ct::Truth t = truth();
  const std::vector<ct::Vec3> samples = ct::generate(t, 2000, ct::Coverage::kFullSphere, 0.001, 11);
  const struct {
    double factor;
    const char* unit;
  } units[] = {{100.0, "microtesla"}, {1000.0, "milligauss"}, {1e5, "nanotesla"}, {1e-4, "tesla"}};
  for (const auto& u : units) {
    std::vector<ct::Vec3> scaled = samples;
    for (ct::Vec3& v : scaled) {
      for (double& c : v) {
        c *= u.factor;
      }
    }
    for (const CalibrationOptions& options : {withStrength(), CalibrationOptions()}) {
      const CalibrationResult r = fluxtrim::calibrate(sampleSet(scaled), options);
      ASSERT_EQ(r.diagnostics.verdict, Verdict::Fail) << u.unit;
      const Check& first = r.diagnostics.reasons.front();
      EXPECT_EQ(first.code, CheckCode::Unit) << u.unit;
      EXPECT_NE(first.message.find(std::string("like ") + u.unit), std::string::npos)
          << first.message;
      EXPECT_NE(first.action.find(u.unit), std::string::npos) << first.action;
      EXPECT_EQ(first.message.find("counts") != std::string::npos, u.factor == 1000.0)
          << first.message;
      EXPECT_LT(offsetError_mG(
                    r, {t.offset[0] * u.factor, t.offset[1] * u.factor, t.offset[2] * u.factor}) /
                    u.factor,
                0.5);
    }
  }
  // Given as microtesla, the same numbers fit.
  std::vector<ct::Vec3> microtesla = samples;
  for (ct::Vec3& v : microtesla) {
    for (double& c : v) {
      c *= 100.0;
    }
  }
  SampleSet set = sampleSet(microtesla);
  set.unit = fluxtrim::SampleUnit{fluxtrim::Unit::Microtesla, 0.0};
  set.unitGiven = true;
  const CalibrationResult r = fluxtrim::calibrate(set, withStrength());
  EXPECT_EQ(r.diagnostics.verdict, Verdict::Pass);
  EXPECT_NEAR(r.figures.radius_G, kField_G, 0.01);
}

// ---- Recordings people really make: still, clipped, without a place, in a wrong unit.

std::vector<ct::Vec3> scaled(std::vector<ct::Vec3> samples, double factor) {
  for (ct::Vec3& v : samples) {
    for (double& c : v) c *= factor;
  }
  return samples;
}

// A device never turned (exactly constant, noise alone, held by a hand that wobbles about 2
// degrees) fails first on its motion, in microtesla with a reference (both modes) and in gauss
// without one, and nothing a fit to noise would give is judged: no unit, coverage, radius or
// residual check, NaN figures, and in the automatic mode no fit at all. A recording that is
// turned stays turned even with an offset three times the field (its spread 1/sqrt(10)).
TEST(LibraryDiagnosis, DeviceNeverTurnedFailsFirstOnItsMotionAndJudgesNothing) {
  const ct::Vec3 held = {0.2, -0.05, 0.42};
  for (const auto& still :
       {ct::heldStill(held, 500, 0.0, 0.0, 1), ct::heldStill(held, 500, 0.0, 0.002, 2),
        ct::heldStill(held, 500, 0.035, 0.001, 3)}) {
    SampleSet microtesla = sampleSet(scaled(still, 100.0));
    microtesla.unit = fluxtrim::SampleUnit{fluxtrim::Unit::Microtesla};
    const CalibrationResult results[] = {
        fluxtrim::calibrate(microtesla, withStrength()),
        fluxtrim::calibrate(microtesla, withStrength(Mode::FixedWindow)),
        fluxtrim::calibrate(sampleSet(still), {})};
    for (const CalibrationResult& r : results) {
      SCOPED_TRACE(testing::Message() << (&r - results) << " " << still[1][0]);
      ASSERT_EQ(r.diagnostics.verdict, Verdict::Fail);
      EXPECT_EQ(r.diagnostics.reasons.front().code, CheckCode::Motion);
      EXPECT_EQ(r.motion.pattern, fluxtrim::MotionPattern::NotTurned);
      for (CheckCode code : {CheckCode::Unit, CheckCode::Gap, CheckCode::Coverage,
                             CheckCode::Radius, CheckCode::Residual, CheckCode::Offset}) {
        EXPECT_EQ(findCheck(r, code), nullptr) << fluxtrim::checkCodeName(code);
      }
      EXPECT_TRUE(std::isnan(r.coverage.fraction) && std::isnan(r.figures.radius) &&
                  std::isnan(r.figures.scale) && std::isnan(r.figures.residual));
      EXPECT_EQ(r.models[0].decision == fluxtrim::ModelDecision::NotFitted,
                r.mode == Mode::Automatic);
    }
  }
  const CalibrationResult offset =
      fluxtrim::calibrate(sampleSet(ct::generate(truth({1.8 * kField_G, 2.4 * kField_G, 0.0}), 2000,
                                                 ct::Coverage::kFullSphere, 0.001, 4)),
                          withStrength());
  EXPECT_NE(offset.motion.pattern, fluxtrim::MotionPattern::NotTurned);
  EXPECT_NEAR(offset.motion.spread, 1.0 / std::sqrt(10.0), 0.03);
}

// Integer counts of a sensor of 1090 counts per gauss, with samples far off the sphere near
// -4096 on Z. Stuck at exactly -4096 (3 %), they are set aside as clipped, with a warning and
// no effect on the unit or the offset. Never twice the same, they are no clipping and pull the
// scale to 3.5 times the field, but the fit leaves them out and lies within 1 % of it: the unit
// is judged on the fit and passes. Values clamped at a range limit of 500 on X are found at that
// maximum; the clean recording, whose extremes repeat as integers do, shows no clipping. The
// fixed window counts them but keeps the statuses of fluxtrim.out's computation.
TEST(LibraryDiagnosis, SamplesOffTheSphereNeverMoveTheUnit) {
  const double perGauss = 1090.0;
  const ct::Truth t = truth();
  const std::vector<ct::Vec3> clean =
      ct::toCounts(ct::generate(t, 3000, ct::Coverage::kFullSphere, 0.002, 81), perGauss);
  std::vector<ct::Vec3> stuck = clean, glitches = clean, clamped = clean;
  std::size_t clampedCount = 0;
  for (std::size_t k = 0; k < clean.size(); ++k) {
    stuck[k][2] = k % 33 == 5 ? -4096.0 : stuck[k][2];
    glitches[k][2] = k % 33 == 5 ? -4096.0 - static_cast<double>(k % 80) : glitches[k][2];
    clampedCount += clamped[k][0] >= 500.0 ? 1 : 0;  // 500 exactly is at the limit as well
    clamped[k][0] = std::min(clamped[k][0], 500.0);
  }
  const auto run = [&](const std::vector<ct::Vec3>& samples, Mode mode = Mode::Automatic) {
    SampleSet set = sampleSet(samples);
    set.unit = fluxtrim::SampleUnit::counts(perGauss);
    return fluxtrim::calibrate(set, withStrength(mode));
  };
  const CalibrationResult plain = run(clean);
  EXPECT_EQ(plain.figures.clipped, 0u);
  EXPECT_EQ(plain.diagnostics.verdict, Verdict::Pass);

  const CalibrationResult r = run(stuck);
  for (std::size_t k = 0; k < stuck.size(); ++k) {
    ASSERT_EQ(r.status[k] == SampleStatus::Clipped, k % 33 == 5) << k;
  }
  const Check* clipping = findCheck(r, CheckCode::Clipping);
  EXPECT_EQ(clipping->severity, Severity::Warn);
  EXPECT_NEAR(clipping->value, 100.0 * 91 / 3000, 1e-9);
  EXPECT_NE(clipping->message.find("-4096, the Z minimum"), std::string::npos) << clipping->message;
  EXPECT_EQ(r.diagnostics.verdict, Verdict::Warn);
  EXPECT_LT(
      offsetError_mG(r, {t.offset[0] * perGauss, t.offset[1] * perGauss, t.offset[2] * perGauss}) /
          perGauss,
      1.0);

  const CalibrationResult pulled = run(glitches);
  EXPECT_EQ(pulled.figures.clipped, 0u);
  EXPECT_GT(pulled.figures.scale_G / kField_G, 3.0);
  EXPECT_NEAR(pulled.figures.radiusToField, 1.0, 0.01);
  EXPECT_EQ(findCheck(pulled, CheckCode::Unit)->severity, Severity::Ok);
  using fluxtrim::detail::judgeUnitOnFit;  // the scale stays judged when the fit is 20 % off
  EXPECT_FALSE(judgeUnitOnFit(3.5 * kField_G, 1.2 * kField_G, {}, kField_G, 0.15).matches);

  const CalibrationResult saturated = run(clamped);
  EXPECT_EQ(saturated.figures.clipped, clampedCount);
  EXPECT_NE(findCheck(saturated, CheckCode::Clipping)->message.find("500, the X maximum"),
            std::string::npos);
  const CalibrationResult fixed = run(stuck, Mode::FixedWindow);
  EXPECT_EQ(fixed.figures.clipped, 91u);
  EXPECT_EQ(fixed.figures.byStatus[static_cast<int>(SampleStatus::Clipped)], 0u);
}

// Without a place or strength the fitted field is judged against the Earth's range, 0.22 to
// 0.67 G: fine inside, a warning just outside, a failure far outside, an accelerometer logged in
// g among them; the reason says that the place would make the check exact.
TEST(LibraryDiagnosis, WithoutAReferenceTheFittedFieldMustLieInTheEarthsRange) {
  const struct {
    double field_G;
    Severity severity;
  } cases[] = {{0.25, Severity::Ok},   {0.6, Severity::Ok},    {0.18, Severity::Warn},
               {0.75, Severity::Warn}, {0.08, Severity::Fail}, {1.0, Severity::Fail}};
  for (const auto& c : cases) {
    ct::Truth t = truth();
    t.field = c.field_G;
    const CalibrationResult r = fluxtrim::calibrate(
        sampleSet(ct::generate(t, 1500, ct::Coverage::kFullSphere, 0.001, 95)), {});
    const Check* radius = findCheck(r, CheckCode::Radius);
    ASSERT_NE(radius, nullptr) << c.field_G;
    EXPECT_EQ(radius->severity, c.severity) << c.field_G << ": " << radius->message;
    EXPECT_NE(radius->message.find("Earth's range"), std::string::npos) << radius->message;
    if (c.severity != Severity::Ok) {
      EXPECT_NE(radius->action.find("place"), std::string::npos) << radius->action;
      EXPECT_EQ(r.diagnostics.verdict,
                c.severity == Severity::Fail ? Verdict::Fail : Verdict::Warn);
    }
  }
}

// Samples in microtesla read as gauss fail on the unit, and the reasons that only restate it
// (the radius, the residual against the reference, the offset; in the fixed window the samples
// rejected and too few kept) follow it, marked as its follow-ons, before any reason of its own.
// Without a reference the range check follows it, the residual, a share of the fitted field, not.
TEST(LibraryDiagnosis, ReasonsThatRestateAWrongUnitFollowIt) {
  const std::vector<ct::Vec3> samples =
      scaled(ct::generate(truth(), 2000, ct::Coverage::kFullSphere, 0.001, 97), 100.0);
  for (const CalibrationOptions& options :
       {withStrength(), withStrength(Mode::FixedWindow), CalibrationOptions()}) {
    const CalibrationResult r = fluxtrim::calibrate(sampleSet(samples), options);
    const std::vector<Check>& reasons = r.diagnostics.reasons;
    ASSERT_EQ(reasons.front().code, CheckCode::Unit);
    std::vector<CheckCode> followOns;
    for (std::size_t k = 1; k < reasons.size() && reasons[k].followsFrom; ++k) {
      EXPECT_EQ(*reasons[k].followsFrom, CheckCode::Unit);
      followOns.push_back(reasons[k].code);
    }
    for (std::size_t k = 1 + followOns.size(); k < reasons.size(); ++k) {
      EXPECT_FALSE(reasons[k].followsFrom) << fluxtrim::checkCodeName(reasons[k].code);
    }
    std::vector<CheckCode> expected = {CheckCode::Radius};
    if (options.reference.kind() != Reference::Kind::None) expected.push_back(CheckCode::Residual);
    if (options.mode == Mode::FixedWindow) expected = {CheckCode::Rejected, CheckCode::Samples};
    for (CheckCode code : expected) {
      EXPECT_NE(std::find(followOns.begin(), followOns.end(), code), followOns.end())
          << fluxtrim::checkCodeName(code);
    }
    // Without a reference the residual, a share of the fitted field, stands on its own.
    const Check* residual = findCheck(r, CheckCode::Residual);
    EXPECT_EQ(
        residual != nullptr && residual->followsFrom.has_value(),
        options.reference.kind() == Reference::Kind::Strength && options.mode == Mode::Automatic);
  }
}

// Spun flat about one sensor axis: the degenerate-motion reason names that axis, and it comes
// before the symptoms (a stretched matrix, a wrong radius). The device lies flat, so the field
// draws a cone about the vertical axis, here once Z and once X.
TEST(LibraryCalibration, FlatSpinNamesTheAxisNeverExercised) {
  const double inclination = 64.0 * kPi / 180.0;
  for (int axis : {2, 0}) {
    std::vector<ct::Vec3> directions;
    for (int k = 0; k < 1000; ++k) {
      const double heading = 2.0 * kPi * k / 1000;
      ct::Vec3 u;
      u[axis] = std::sin(inclination);
      u[(axis + 1) % 3] = std::cos(inclination) * std::cos(heading);
      u[(axis + 2) % 3] = std::cos(inclination) * std::sin(heading);
      directions.push_back(u);
    }
    const CalibrationResult r = fluxtrim::calibrate(
        sampleSet(fromDirections(truth(), directions, 0.001, 3)), withStrength());
    ASSERT_NE(r.diagnostics.verdict, Verdict::Pass);
    const Check* motion = findCheck(r, CheckCode::Motion);
    ASSERT_NE(motion, nullptr);
    EXPECT_NE(motion->severity, Severity::Ok);
    EXPECT_EQ(r.motion.axisIndex, axis);
    const std::string name = axis == 2 ? "Z axis" : "X axis";
    EXPECT_NE(motion->message.find(name), std::string::npos) << motion->message;
    // No reason of the same severity from a later cause comes before it.
    for (const Check& reason : r.diagnostics.reasons) {
      if (reason.code == CheckCode::Motion) {
        break;
      }
      EXPECT_TRUE(reason.severity > motion->severity || reason.code < CheckCode::Motion)
          << fluxtrim::checkCodeName(reason.code);
    }
  }
}

// Half the sphere warns with a coverage gap centred on the pole that was never reached: -Z for
// the upper hemisphere, +X for the half with x <= 0.
TEST(LibraryCalibration, HemisphereWarnsWithTheGapAtTheMissingPole) {
  const ct::Truth t = truth();
  std::mt19937_64 random(21);
  std::normal_distribution<double> gauss(0.0, 1.0);
  std::vector<ct::Vec3> westHalf;
  while (westHalf.size() < 2000) {
    ct::Vec3 u = {gauss(random), gauss(random), gauss(random)};
    const double n = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
    if (u[0] <= 0.0 && n > 0.0) {
      westHalf.push_back({u[0] / n, u[1] / n, u[2] / n});
    }
  }
  const struct {
    std::vector<ct::Vec3> samples;
    fluxtrim::Vec3 missing;
  } cases[] = {
      {ct::generate(t, 2000, ct::Coverage::kHemisphere, 0.001, 12), {{0.0, 0.0, -1.0}}},
      {fromDirections(t, westHalf, 0.001, 13), {{1.0, 0.0, 0.0}}},
  };
  for (const auto& c : cases) {
    const CalibrationResult r = fluxtrim::calibrate(sampleSet(c.samples), withStrength());
    EXPECT_EQ(r.diagnostics.verdict, Verdict::Warn);
    const Check* gap = findCheck(r, CheckCode::Gap);
    ASSERT_NE(gap, nullptr);
    EXPECT_EQ(gap->severity, Severity::Warn);
    EXPECT_NEAR(r.coverage.largestGap_deg, 90.0, 5.0);
    const fluxtrim::Vec3& d = r.coverage.largestGapDirection;
    EXPECT_GT(d[0] * c.missing[0] + d[1] * c.missing[1] + d[2] * c.missing[2],
              std::cos(5.0 * kPi / 180.0));
    EXPECT_NEAR(r.coverage.fraction, 0.5, 0.05);
  }
}

// Dwelling: the same tumble with nine samples in one pose for every sample of the tumble leaves
// the coverage, the gap and the residual as they were, and no tumble sample becomes an outlier.
TEST(LibraryCalibration, DwellingInOnePoseChangesNeitherCoverageNorResidual) {
  const ct::Truth t = truth();
  const std::vector<ct::Vec3> tumble = ct::generate(t, 1000, ct::Coverage::kFullSphere, 0.001, 31);
  std::vector<ct::Vec3> dwelling = tumble;
  const std::vector<ct::Vec3> pose(9000, ct::Vec3{0.3, 0.5, std::sqrt(1.0 - 0.34)});
  for (const ct::Vec3& m : fromDirections(t, pose, 0.001, 32)) {
    dwelling.push_back(m);
  }
  const CalibrationResult a = fluxtrim::calibrate(sampleSet(tumble), withStrength());
  const CalibrationResult b = fluxtrim::calibrate(sampleSet(dwelling), withStrength());
  EXPECT_NEAR(b.coverage.occupiedCells, a.coverage.occupiedCells, 1);
  EXPECT_NEAR(b.coverage.largestGap_deg, a.coverage.largestGap_deg, 2.0);
  EXPECT_NEAR(b.figures.residual_mG, a.figures.residual_mG, 0.1 * a.figures.residual_mG);
  EXPECT_NEAR(b.motion.planarity, a.motion.planarity, 0.02);
  EXPECT_EQ(b.figures.byStatus[static_cast<int>(SampleStatus::Outlier)], 0u);
  EXPECT_EQ(b.diagnostics.verdict, Verdict::Pass);
}

// An offset of 0.6 times the field: the automatic mode recovers it within 1 mG; the fixed window
// at 0.2 keeps only a band of directions across the offset, misses it by more, and says why.
TEST(LibraryCalibration, LargeOffsetIsRecoveredWhereTheFixedWindowCannot) {
  const ct::Vec3 offset = {0.6 * kField_G * 0.6, -0.6 * kField_G * 0.48, 0.6 * kField_G * 0.64};
  const ct::Truth t = truth(offset);
  const SampleSet set = sampleSet(ct::generate(t, 3000, ct::Coverage::kFullSphere, 0.003, 1));

  const CalibrationResult automatic = fluxtrim::calibrate(set, withStrength());
  EXPECT_LT(offsetError_mG(automatic, offset), 1.0);
  EXPECT_EQ(automatic.diagnostics.verdict, Verdict::Pass);

  const CalibrationResult fixed = fluxtrim::calibrate(set, withStrength(Mode::FixedWindow));
  EXPECT_GT(offsetError_mG(fixed, offset), 1.0);
  EXPECT_NE(fixed.diagnostics.verdict, Verdict::Pass);
  const Check* rejected = findCheck(fixed, CheckCode::Rejected);
  ASSERT_NE(rejected, nullptr);
  EXPECT_NE(rejected->severity, Severity::Ok);
  EXPECT_NE(rejected->action.find("raise the tolerance"), std::string::npos) << rejected->action;
}

// Spikes far outside the cloud and samples disturbed by a magnet passing by are rejected, each
// with its status, and do not move the offset; undisturbed samples are kept. Whether a disturbed
// sample can be seen depends on how much it changes its corrected magnitude (the truth's), so
// that is what is asserted: beyond 45 % (the 30 % shell plus the soft iron's stretch of the raw
// distances) it is outside the shell, beyond 5 % an outlier at least.
TEST(LibraryCalibration, DisturbedSamplesAreRejectedAndMarked) {
  const ct::Truth t = truth();
  std::vector<ct::Vec3> samples = ct::generate(t, 2000, ct::Coverage::kFullSphere, 0.001, 41);
  std::vector<bool> disturbed(samples.size(), false);
  samples[100] = {500.0, -3.0, 2.0};  // a glitch a thousand times the field
  disturbed[100] = true;
  for (std::size_t k = 600; k < 700; ++k) {
    samples[k][k % 3] += (k % 2 == 0 ? 0.5 : 0.1) * kField_G;
    disturbed[k] = true;
  }
  samples[5] = {std::nan(""), 0.1, 0.2};
  const CalibrationResult r = fluxtrim::calibrate(sampleSet(samples), withStrength());
  EXPECT_LT(offsetError_mG(r, t.offset), 0.5);
  EXPECT_EQ(r.status[5], SampleStatus::Invalid);
  EXPECT_EQ(r.status[100], SampleStatus::Disturbed);
  const ct::Mat3 correction = t.correction();
  for (std::size_t k = 0; k < samples.size(); ++k) {
    if (k == 5) {
      continue;
    }
    double c[3] = {0.0, 0.0, 0.0};
    for (int j = 0; j < 3; ++j) {
      for (int i = 0; i < 3; ++i) {
        c[j] += (samples[k][i] - t.offset[i]) * correction[i][j];
      }
    }
    const double deviation =
        std::fabs(std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]) / kField_G - 1.0);
    if (!disturbed[k]) {
      EXPECT_EQ(r.status[k], SampleStatus::Kept) << k;
    } else if (deviation > 0.45) {
      EXPECT_EQ(r.status[k], SampleStatus::Disturbed) << k << " " << deviation;
    } else if (deviation > 0.05) {
      EXPECT_NE(r.status[k], SampleStatus::Kept) << k << " " << deviation;
    }
  }
  ASSERT_EQ(r.windows.size(), 3u);
  EXPECT_EQ(r.windows[0].rejectedAs, SampleStatus::Disturbed);
  EXPECT_EQ(r.windows[1].measure, fluxtrim::AcceptanceWindow::Measure::DistanceFromCentre);
  EXPECT_EQ(r.windows[2].measure, fluxtrim::AcceptanceWindow::Measure::CorrectedMagnitude);
  EXPECT_EQ(r.windows[2].rejectedAs, SampleStatus::Outlier);
}

// Each window's measureOf and accepts replay the statuses the fit gave, in both modes: a valid
// sample is kept when every window accepts it and otherwise takes the rejectedAs of the first
// that does not. Catches a window recorded with another measure, centre or calibration than the
// one applied (the report's histograms draw these), and a bound applied open where it is closed.
TEST(LibraryCalibration, WindowsReplayTheStatusesTheFitGave) {
  std::vector<ct::Vec3> samples = ct::generate(truth(), 1500, ct::Coverage::kFullSphere, 0.002, 43);
  for (std::size_t k = 300; k < 340; ++k) {
    samples[k][k % 3] += 0.3 * kField_G;
  }
  samples[7] = {std::nan(""), 0.1, 0.2};
  const SampleSet set = sampleSet(samples);
  for (const Mode mode : {Mode::Automatic, Mode::FixedWindow}) {
    const CalibrationResult r = fluxtrim::calibrate(set, withStrength(mode));
    ASSERT_FALSE(r.windows.empty());
    for (std::size_t k = 0; k < set.values.size(); ++k) {
      if (r.status[k] == SampleStatus::Invalid) {
        continue;
      }
      SampleStatus replayed = SampleStatus::Kept;
      for (const fluxtrim::AcceptanceWindow& w : r.windows) {
        if (!w.accepts(w.measureOf(set.values[k]))) {
          replayed = w.rejectedAs;
          break;
        }
      }
      EXPECT_EQ(r.status[k], replayed) << fluxtrim::modeName(mode) << " sample " << k;
    }
  }

  fluxtrim::AcceptanceWindow w;
  w.lower = 1.0;
  w.upper = 2.0;
  EXPECT_TRUE(w.accepts(1.0));
  EXPECT_TRUE(w.accepts(2.0));
  EXPECT_FALSE(w.accepts(std::nextafter(1.0, 0.0)));
  EXPECT_FALSE(w.accepts(std::nan("")));
  EXPECT_EQ(w.measureOf({{3.0, 4.0, 12.0}}), 13.0);
  w.measure = fluxtrim::AcceptanceWindow::Measure::DistanceFromCentre;
  w.centre = {{3.0, 4.0, 0.0}};
  EXPECT_EQ(w.measureOf({{3.0, 4.0, -2.0}}), 2.0);
  w.measure = fluxtrim::AcceptanceWindow::Measure::CorrectedMagnitude;
  w.calibration.offset = {{1.0, 0.0, 0.0}};
  w.calibration.matrix[0][0] = 2.0;
  EXPECT_EQ(w.measureOf({{2.5, 0.0, 0.0}}), 3.0);
}

// The reference in words, as the command and the report print it: the model's place and its
// date (the calendar date when the decimal year is one, else three decimals), the strength in
// gauss as given, or the Earth's range assumed.
TEST(LibraryCalibration, ReferenceInWords) {
  EXPECT_EQ(fluxtrim::referenceText(Reference()),
            "none (the Earth's range, about 0.22 to 0.67 G, assumed)");
  EXPECT_EQ(fluxtrim::referenceText(Reference::fromStrength(0.483)),
            "a given field strength of 0.483 G");
  const fluxtrim::GeodeticPosition place{48.5578, 3.2914, 89.0};
  EXPECT_EQ(fluxtrim::referenceText(Reference::fromField(fluxtrim::evaluateField(
                fluxtrim::FieldModel::WMM2025, place, fluxtrim::decimalYear(2026, 12, 8)))),
            "WMM2025 at 48.5578 N, 3.2914 E, 89 m on 2026-12-08");
  EXPECT_EQ(fluxtrim::referenceText(Reference::fromField(
                fluxtrim::evaluateField(fluxtrim::FieldModel::WMM2020, place, 2024.123456))),
            "WMM2020 at 48.5578 N, 3.2914 E, 89 m on 2024.123");
}

// The fixed window is fluxtrim.out's computation: on the example with the single-precision model
// field of its position, and on samples with exact window edges, zero rows (accepted once the
// window reaches zero) and NaN rows, offset, matrix and mean magnitude equal the core's to the
// bit.
TEST(LibraryCalibration, FixedWindowIsFluxtrimOutsComputationToTheBit) {
  const double latitude = 48.5578, longitude = 3.2914, height = 89.0;
  FERROKIT tool;
  ASSERT_TRUE(
      tool.readMagnetometerMeasures(std::string(FLUXTRIM_SOURCE_DIR) + "/examples/mag.csv"));
  tool.magCalibration(latitude, longitude, height, 0.2);
  const FERROKIT::MAGRESULT& expected = tool.getMagCalibResult();

  // The model as fluxtrim.out evaluates it: WMM2020 at 2024.0 in single precision.
  const fluxtrim::ReferenceField field =
      fluxtrim::evaluateField(fluxtrim::FieldModel::WMM2020, {latitude, longitude, height}, 2024.0,
                              fluxtrim::Precision::Single);
  CalibrationOptions options;
  options.mode = Mode::FixedWindow;
  options.tolerance = 0.2;
  options.reference = Reference::fromField(field);
  const CalibrationResult r = fluxtrim::calibrate(
      fluxtrim::readSamples(std::string(FLUXTRIM_SOURCE_DIR) + "/examples/mag.csv"), options);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(r.calibration.offset[i], expected.hardIronOffset[i]);
    EXPECT_EQ(options.reference.vector_G()[i], expected.WMMRef[i]);
    for (int j = 0; j < 3; ++j) {
      EXPECT_EQ(r.calibration.matrix[i][j], expected.softIronMatrix[i][j]);
    }
  }
  EXPECT_EQ(r.meanCorrectedMagnitude, expected.magNormRef);
  EXPECT_EQ(options.reference.total_G(), expected.WMMRefNorm);

  // Edges: with tolerance 0 only the samples whose norm is exactly the reference's pass; with
  // tolerance 1 the window reaches 0 and takes the zero rows in.
  std::vector<ct::Vec3> samples = ct::generate(truth(), 300, ct::Coverage::kFullSphere, 0.002, 51);
  samples.push_back({kField_G, 0.0, 0.0});
  samples.push_back({0.0, -kField_G, 0.0});
  samples.push_back({0.0, 0.0, 0.0});
  samples.push_back({std::nan(""), 0.0, 0.0});
  for (double tolerance : {0.0, 0.1, 1.0}) {
    CalibrationOptions fixed = withStrength(Mode::FixedWindow);
    fixed.tolerance = tolerance;
    const CalibrationResult mine = fluxtrim::calibrate(sampleSet(samples), fixed);
    const double reference[3] = {kField_G, 0.0, 0.0};
    double offset[3], matrix[9], mean;
    staticMagCalibration(ct::sampleMatrix(samples), reference, tolerance, offset, matrix, &mean);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(mine.calibration.offset[i], offset[i]) << tolerance;
      for (int j = 0; j < 3; ++j) {
        EXPECT_EQ(mine.calibration.matrix[i][j], matrix[i + 3 * j]) << tolerance;
      }
    }
    EXPECT_TRUE(mine.meanCorrectedMagnitude == mean ||
                (std::isnan(mean) && std::isnan(mine.meanCorrectedMagnitude)));
  }
}

// Misuse throws; data that cannot be calibrated never does, and fails with the reason.
TEST(LibraryCalibration, MisuseThrowsAndPoorDataFailsWithAReason) {
  using fluxtrim::UsageError;
  const SampleSet set = sampleSet(ct::generate(truth(), 200, ct::Coverage::kFullSphere, 0.001, 61));
  CalibrationOptions options;
  options.mode = Mode::FixedWindow;
  EXPECT_THROW(fluxtrim::calibrate(set, options), UsageError);  // no reference
  for (double bad : {-0.1, std::nan(""), std::numeric_limits<double>::infinity()}) {
    CalibrationOptions o = withStrength(Mode::FixedWindow);
    o.tolerance = bad;
    EXPECT_THROW(fluxtrim::calibrate(set, o), UsageError);
    o = withStrength();
    o.outlierLimit = bad;
    EXPECT_THROW(fluxtrim::calibrate(set, o), UsageError);
  }
  CalibrationOptions wide = withStrength();
  wide.disturbanceWindow = 1.5;
  EXPECT_THROW(fluxtrim::calibrate(set, wide), UsageError);
  EXPECT_THROW(Reference::fromStrength(0.0), UsageError);
  EXPECT_THROW(Reference().vector_G(), UsageError);
  EXPECT_THROW(Reference::fromStrength(0.5).field(), UsageError);

  std::vector<ct::Vec3> few = ct::generate(truth(), 5, ct::Coverage::kFullSphere, 0.0, 62);
  const std::vector<ct::Vec3> nothing;
  const std::vector<ct::Vec3> allNaN(50, {std::nan(""), 1.0, 1.0});
  for (const auto& samples : {nothing, few, allNaN}) {
    for (Mode mode : {Mode::Automatic, Mode::FixedWindow}) {
      const CalibrationResult r = fluxtrim::calibrate(sampleSet(samples), withStrength(mode));
      EXPECT_EQ(r.diagnostics.verdict, Verdict::Fail);
      EXPECT_NE(findCheck(r, CheckCode::Samples), nullptr);
      EXPECT_EQ(findCheck(r, CheckCode::Samples)->severity, Severity::Fail);
      EXPECT_EQ(r.status.size(), samples.size());
    }
  }
}

// The helpers under the diagnostics, by their defining properties: every grid cell's centre lies
// in that cell; the eigen-decomposition satisfies A v = lambda v with orthonormal v, ascending;
// the weighted median agrees with a sort on data with ties.
TEST(LibraryCalibrationHelpers, GridEigenAndMedianByTheirDefinitions) {
  for (const fluxtrim::SphereGrid grid :
       {fluxtrim::SphereGrid(8, 16), fluxtrim::SphereGrid(24, 48), fluxtrim::SphereGrid(1, 3)}) {
    for (int cell = 0; cell < grid.cells(); ++cell) {
      ASSERT_EQ(grid.cellOf(grid.centre(cell)), cell);
      const fluxtrim::CellBounds b = grid.bounds(cell);
      EXPECT_NEAR(b.zUpper - b.zLower, 2.0 / grid.bands(), 1e-15);
    }
    EXPECT_EQ(grid.cellOf({{0.0, 0.0, 0.0}}), -1);
    // The pole z = 1 belongs to the last band (longitude 0 to the middle sector).
    EXPECT_EQ(grid.cellOf({{0.0, 0.0, 1.0}}),
              (grid.bands() - 1) * grid.sectors() + grid.sectors() / 2);
  }
  EXPECT_THROW(fluxtrim::SphereGrid(0, 4), fluxtrim::UsageError);

  std::mt19937_64 random(71);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  for (int trial = 0; trial < 200; ++trial) {
    fluxtrim::Matrix3 a;
    const double scale = std::pow(10.0, 6.0 * uniform(random));
    for (int i = 0; i < 3; ++i) {
      for (int j = i; j < 3; ++j) {
        a[i][j] = a[j][i] = scale * (trial % 5 == 0 && i != j ? 0.0 : uniform(random));
      }
    }
    if (trial % 7 == 0) {
      a[2][2] = a[1][1];  // repeated eigenvalues when the off-diagonal part is zero
    }
    fluxtrim::Vec3 values;
    fluxtrim::Matrix3 v;
    fluxtrim::detail::symmetricEigen3(a, values, v);
    EXPECT_LE(values[0], values[1]);
    EXPECT_LE(values[1], values[2]);
    for (int k = 0; k < 3; ++k) {
      for (int i = 0; i < 3; ++i) {
        const double av = a[i][0] * v[0][k] + a[i][1] * v[1][k] + a[i][2] * v[2][k];
        EXPECT_NEAR(av, values[k] * v[i][k], 1e-13 * scale);
      }
      for (int m = 0; m < 3; ++m) {
        const double d = v[0][k] * v[0][m] + v[1][k] * v[1][m] + v[2][k] * v[2][m];
        EXPECT_NEAR(d, k == m ? 1.0 : 0.0, 1e-14);
      }
    }
  }

  for (int trial = 0; trial < 200; ++trial) {
    const int n = 1 + trial % 37;
    std::vector<fluxtrim::detail::WeightedValue> items;
    for (int k = 0; k < n; ++k) {
      items.push_back(
          {std::floor(5.0 * uniform(random)), 1.0 + std::floor(3.0 * (uniform(random) + 1.0))});
    }
    std::vector<fluxtrim::detail::WeightedValue> sorted = items;
    std::sort(sorted.begin(), sorted.end(),
              [](const auto& x, const auto& y) { return x.value < y.value; });
    double total = 0.0;
    for (const auto& item : sorted) {
      total += item.weight;
    }
    double running = 0.0;
    double expected = 0.0;
    for (const auto& item : sorted) {
      running += item.weight;
      if (running >= 0.5 * total) {
        expected = item.value;
        break;
      }
    }
    EXPECT_EQ(fluxtrim::detail::weightedMedian(items), expected) << trial;
  }
}

}  // namespace
