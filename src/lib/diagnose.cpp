#include "diagnose.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "constants.hpp"
#include "fluxtrim/text.hpp"
#include "sampleScreening.hpp"
#include "sampleSurvey.hpp"
#include "sphereGeometry.hpp"
#include "symmetricEigen.hpp"
#include "unitJudgement.hpp"
#include "vec3.hpp"

namespace fluxtrim {
namespace detail {

namespace {

// ---- Limits of the checks. Field-relative where the field gives a scale.

// Motion: planarity of the directions (1/3 for an even spread). 0.02 is a band within about
// 14 degrees of one plane, 0.06 within about 25 degrees.
constexpr double kPlanarityWarn = 0.06;
constexpr double kPlanarityFail = 0.02;
// Largest empty cap, degrees: 35 leaves about 9 % of the sphere unseen; beyond 100 less than a
// hemisphere was seen.
constexpr double kGapWarn_deg = 35.0;
constexpr double kGapFail_deg = 100.0;
// Fraction of the coverage map's cells reached, percent.
constexpr double kCoverageWarn_pct = 70.0;
constexpr double kCoverageFail_pct = 30.0;
// Samples rejected before the fit, percent of all.
constexpr double kRejectedWarn_pct = 25.0;
constexpr double kRejectedFail_pct = 60.0;
// Outliers, percent of the samples that reached the refinement.
constexpr double kOutliersWarn_pct = 5.0;
constexpr double kOutliersFail_pct = 20.0;
// Kept samples: the general ellipsoid has ten coefficients.
constexpr double kSamplesWarn = 100.0;
constexpr double kSamplesFail = 30.0;
// Largest offset component, gauss, beyond which common sensors come close to saturating.
constexpr double kOffsetWarn_G = 1.3;
// Condition of the soft-iron matrix.
constexpr double kConditionWarn = 1.5;
constexpr double kConditionFail = 4.0;
// Fitted field over the reference: relative distance from 1. Within kRadiusWarn of the
// reference the fit also vouches for the unit (judgeUnitOnFit).
constexpr double kRadiusWarn = 0.15;
constexpr double kRadiusFail = 0.30;
// Fitted field without a reference, gauss: outside the Earth's range (kEarthFieldMin_G to
// kEarthFieldMax_G) it warns; below half that range's floor, or above 0.9 G, no magnetometer
// was recording the Earth's field in the unit taken: 0.9 G is a third above the strongest
// field at the surface, and below the 1 G of an accelerometer logged in g.
constexpr double kRangeFailLow_G = 0.5 * kEarthFieldMin_G;
constexpr double kRangeFailHigh_G = 0.9;
// Samples clipped at the sensor's limit, percent of all: any warns, since the directions that
// reach the limit are lost; beyond a tenth the range is exceeded over a wide cap.
constexpr double kClippedWarn_pct = 0.0;
constexpr double kClippedFail_pct = 10.0;
// Residual, percent of the field: 2 % is about 1 degree of heading where the field dips
// steeply, 5 % several degrees.
constexpr double kResidualWarn_pct = 2.0;
constexpr double kResidualFail_pct = 5.0;
// What the motion must show for each model to be determined: kept samples, planarity and the
// largest gap in degrees.
struct ModelSupport {
  double samples;
  double planarity;
  double gap_deg;
};
constexpr ModelSupport kGeneralSupport = {150.0, kPlanarityWarn, 60.0};
constexpr ModelSupport kAlignedSupport = {60.0, 0.04, 75.0};

std::string vectorText(const Vec3& d) {
  return formatText("(%.2f, %.2f, %.2f)", d[0], d[1], d[2]);
}

}  // namespace

Check graded(CheckCode code, double value, double warn, double fail, LimitKind kind,
             const char* unit) {
  Check check;
  check.code = code;
  check.value = value;
  check.limitKind = kind;
  check.unit = unit;
  const bool beyondFail = kind == LimitKind::Maximum ? value > fail : value < fail;
  const bool beyondWarn = kind == LimitKind::Maximum ? value > warn : value < warn;
  check.severity = beyondFail ? Severity::Fail : (beyondWarn ? Severity::Warn : Severity::Ok);
  check.limit = beyondFail ? fail : warn;
  return check;
}

namespace {

// ---- The checks, one function each, in CheckCode order.

Check inputCheck(const SampleSet& samples) {
  const ReadSummary& s = samples.summary;
  Check check = graded(CheckCode::Input, static_cast<double>(s.skippedLines), 0.0, kNaN,
                       LimitKind::Maximum, "lines");
  if (s.skippedLines > s.sampleLines) {
    check.severity = Severity::Fail;
  }
  if (s.lines == 0) {
    check.message = formatText("%zu samples given directly", samples.values.size());
    return check;
  }
  if (s.skippedLines == 0) {
    check.message = formatText("%llu lines: %llu samples, %llu header, %llu blank; none skipped",
                               static_cast<unsigned long long>(s.lines),
                               static_cast<unsigned long long>(s.sampleLines),
                               static_cast<unsigned long long>(s.headerLines),
                               static_cast<unsigned long long>(s.blankLines));
    return check;
  }
  std::string kinds;
  for (int p = 0; p < kLineProblemCount; ++p) {
    if (s.skippedByProblem[p] > 0) {
      kinds += (kinds.empty() ? "" : ", ") +
               formatText("%llu %s", static_cast<unsigned long long>(s.skippedByProblem[p]),
                          lineProblemName(static_cast<LineProblem>(p)));
    }
  }
  std::string lines;
  const std::size_t listed = std::min<std::size_t>(s.skipped.size(), 5);
  for (std::size_t k = 0; k < listed; ++k) {
    lines += (k == 0 ? "" : ", ") +
             formatText("%llu", static_cast<unsigned long long>(s.skipped[k].line));
  }
  if (s.skippedLines > listed) {
    lines += ", ...";
  }
  check.message =
      formatText("%llu of %llu lines gave no sample (%s): line %s",
                 static_cast<unsigned long long>(s.skippedLines),
                 static_cast<unsigned long long>(s.lines), kinds.c_str(), lines.c_str());
  check.action = check.severity == Severity::Fail
                     ? "most lines gave no sample: check the delimiter and the columns chosen"
                     : "check the lines listed; they were left out";
  return check;
}

Check clippingCheck(const CalibrationResult& r, const std::vector<ClippedExtreme>& extremes) {
  const Figures& f = r.figures;
  const double share = f.samples > 0 ? 100.0 * f.clipped / f.samples : 0.0;
  Check check = graded(CheckCode::Clipping, share, kClippedWarn_pct, kClippedFail_pct,
                       LimitKind::Maximum, "%");
  if (extremes.empty()) {
    check.message = "no column repeats its extreme value: nothing clipped";
    return check;
  }
  std::string where;
  for (const ClippedExtreme& e : extremes) {
    where += (where.empty() ? "" : ", ") +
             formatText("%zu at %s, the %c %s", e.count, shortestText(e.value).c_str(),
                        kAxisNames[e.axis], e.maximum ? "maximum" : "minimum");
  }
  check.message = formatText(
      "%zu of %zu samples (%.1f %%) have a component clipped at the sensor's limit (%s): %s",
      f.clipped, f.samples, share, where.c_str(),
      r.mode == Mode::FixedWindow ? "the fixed window fits those within it"
                                  : "left out of the fit and of the unit check");
  check.action =
      "reduce the sensor's gain or widen its range, or mount it further from magnets and "
      "steel: the directions that reach the limit are lost";
  if (r.mode == Mode::FixedWindow) {
    check.action += "; the automatic mode leaves clipped samples out";
  }
  return check;
}

Check unitCheck(const CalibrationResult& r, const UnitJudgement& judgement, bool haveReference) {
  const Figures& f = r.figures;
  const bool above = judgement.ratio > 1.0;
  Check check;
  check.code = CheckCode::Unit;
  check.value = judgement.ratio;
  check.limit = above ? judgement.bandHigh : judgement.bandLow;
  check.limitKind = above ? LimitKind::Maximum : LimitKind::Minimum;
  check.unit = "ratio";
  const std::string expected =
      haveReference
          ? formatText("%.3g G expected here", judgement.expected_G)
          : formatText("the Earth's %.2f to %.2f G expected", kEarthFieldMin_G, kEarthFieldMax_G);
  const std::string given = r.unit.name();
  if (judgement.matches) {
    check.severity = Severity::Ok;
    check.message =
        formatText("%s %.4g G is %.2f times the field (%s): %s fits",
                   judgement.fitted ? "fitted field" : "scale", judgement.scale * f.gaussPerUnit,
                   judgement.ratio, expected.c_str(), given.c_str());
    if (judgement.fitted) {
      check.message += formatText(
          "; the scale of all samples, %.4g G, is pulled by samples off the sphere", f.scale_G);
    }
    return check;
  }
  // A device turned about one axis shows only part of the field: its circle can be much smaller
  // than the field without any unit being wrong.
  const bool circle = r.motion.pattern != MotionPattern::Tumbled &&
                      r.motion.pattern != MotionPattern::NoSamples &&
                      r.motion.planarity < kPlanarityFail;
  if (circle && judgement.ratio < 1.0) {
    check.severity = Severity::Warn;
    check.message = formatText(
        "scale %.4g G is %.2f times the field (%s), but motion about one axis shows only part of "
        "the field: the unit cannot be judged",
        f.scale_G, judgement.ratio, expected.c_str());
    check.action = "tumble the device through all orientations";
    return check;
  }
  check.severity = Severity::Fail;
  const SampleUnit& apparent = judgement.apparent;
  if (apparent.unit != Unit::Counts) {
    const double factor = r.unit.gaussPerUnit() / apparent.gaussPerUnit();
    const std::string name = apparent.name();
    check.message = formatText("samples look like %s: their field reads %.4g, %s (x%g)",
                               name.c_str(), f.scale, expected.c_str(), factor);
    if (apparent.unit == Unit::Milligauss) {
      check.message +=
          formatText(", or raw counts of about %.0f per gauss", f.scale / judgement.expected_G);
    }
    check.action =
        r.unitGiven
            ? formatText(
                  "the unit was given as %s: check the sensor's unit (%s reads %g times "
                  "larger numbers)",
                  given.c_str(), name.c_str(), factor)
            : formatText(
                  "give the unit as %s (or divide every value by %g for gauss) and run again",
                  name.c_str(), factor);
    if (apparent.unit == Unit::Milligauss) {
      check.action += "; for raw counts give counts:N with the sensor's counts per gauss";
    }
  } else {
    check.message = formatText(
        "samples' scale fits no unit: their field reads %.4g %s, %.3g times %s: raw counts of "
        "about %.4g per gauss, or a wrong position",
        f.scale, r.unit.symbol().c_str(), judgement.ratio, expected.c_str(),
        apparent.countsPerGauss * r.unit.gaussPerUnit());
    check.action =
        "give the unit as counts:N with the sensor's counts per gauss, or check the "
        "position and date of the reference";
  }
  return check;
}

Check notTurnedCheck(const Motion& motion) {
  Check check = graded(CheckCode::Motion, motion.spread, kNotTurnedSpread, kNotTurnedSpread,
                       LimitKind::Minimum, "ratio");
  check.message = formatText(
      "the device was not turned: the raw samples spread by %.2g %% of their magnitude (at least "
      "%.0f %%; a turned device spreads by tens of per cent), so coverage, unit, fitted field "
      "and residual are not judged",
      100.0 * motion.spread, 100.0 * kNotTurnedSpread);
  check.action =
      "turn the device slowly through every orientation while recording, so that each face "
      "points down once";
  return check;
}

Check motionCheck(const Motion& motion) {
  if (motion.pattern == MotionPattern::NotTurned) {
    return notTurnedCheck(motion);
  }
  Check check = graded(CheckCode::Motion, motion.planarity, kPlanarityWarn, kPlanarityFail,
                       LimitKind::Minimum, "ratio");
  const char axis = kAxisNames[motion.axisIndex];
  const std::string around = vectorText(motion.axis);
  switch (motion.pattern) {
    case MotionPattern::Tumbled:
    case MotionPattern::NoSamples:
    case MotionPattern::NotTurned:
      check.message = formatText(
          "directions spread in three dimensions (planarity %.2f; 0.33 for an "
          "even spread)",
          motion.planarity);
      return check;
    case MotionPattern::SpunAbout:
      check.message = formatText(
          "turned about the sensor's %c axis only: directions lie near a great "
          "circle around %s; %c was never exercised",
          axis, around.c_str(), axis);
      break;
    case MotionPattern::LyingFlat:
      check.message = formatText(
          "kept level and turned about the sensor's %c axis: directions lie on a "
          "cone around %s; %c was never exercised",
          axis, around.c_str(), axis);
      break;
    case MotionPattern::ShortArc:
      check.message = formatText(
          "only a short arc of %.0f degrees about the sensor's %c axis %s was covered; "
          "%c was never exercised",
          motion.arc_deg, axis, around.c_str(), axis);
      break;
  }
  check.action = formatText(
      "tumble the device through every orientation, turning it about %c as "
      "well, so that each face points down once",
      axis);
  return check;
}

Check gapCheck(const Coverage& coverage) {
  Check check = graded(CheckCode::Gap, coverage.largestGap_deg, kGapWarn_deg, kGapFail_deg,
                       LimitKind::Maximum, "deg");
  const std::string side = nearestAxis(coverage.largestGapDirection);
  check.message = formatText("no data within %.0f degrees of %s, near %s", coverage.largestGap_deg,
                             vectorText(coverage.largestGapDirection).c_str(), side.c_str());
  if (check.severity != Severity::Ok) {
    check.action = formatText(
        "add poses in which the field points along the sensor's %s direction "
        "(the field points mostly downward at mid latitudes)",
        side.c_str());
  }
  return check;
}

Check coverageCheck(const Coverage& coverage) {
  Check check = graded(CheckCode::Coverage, 100.0 * coverage.fraction, kCoverageWarn_pct,
                       kCoverageFail_pct, LimitKind::Minimum, "%");
  check.message = formatText("%d of %d equal-area cells reached (%.0f %%)", coverage.occupiedCells,
                             coverage.grid.cells(), 100.0 * coverage.fraction);
  if (check.severity != Severity::Ok) {
    check.action = "turn the device slowly through every orientation";
  }
  return check;
}

Check rejectedCheck(const CalibrationResult& r, const CalibrationOptions& options) {
  const Figures& f = r.figures;
  const std::size_t invalid = f.byStatus[static_cast<int>(SampleStatus::Invalid)];
  const std::size_t outside = f.byStatus[static_cast<int>(SampleStatus::OutsideWindow)];
  const std::size_t disturbed = f.byStatus[static_cast<int>(SampleStatus::Disturbed)];
  const std::size_t rejected = invalid + outside + disturbed;
  const double share = f.samples > 0 ? 100.0 * rejected / f.samples : 0.0;
  Check check = graded(CheckCode::Rejected, share, kRejectedWarn_pct, kRejectedFail_pct,
                       LimitKind::Maximum, "%");
  check.message = formatText("%zu of %zu samples rejected before the fit: %zu invalid", rejected,
                             f.samples, invalid);
  if (r.mode == Mode::FixedWindow) {
    check.message += formatText(", %zu outside the window", outside);
    // A window on raw magnitudes keeps only the directions across the offset once the offset
    // exceeds the window: the fit sees a band, however good the recording.
    const bool windowBias = f.offsetToField > options.tolerance;
    if (windowBias) {
      check.message += "; the offset, " + figureText("%.0f %%", 100.0 * f.offsetToField) +
                       formatText(
                           " of the field, exceeds the %.0f %% window, so samples pointing "
                           "along it were dropped",
                           100.0 * options.tolerance);
      if (check.severity == Severity::Ok) {
        check.severity = Severity::Warn;
        check.limit = kRejectedWarn_pct;
      }
    }
    if (check.severity != Severity::Ok) {
      check.action =
          windowBias ? formatText("raise the tolerance to at least %.2f, or use the automatic mode",
                                  f.offsetToField + 0.05)
                     : "check the reference and the unit, or use the automatic mode";
    }
  } else {
    check.message += formatText(
        ", %zu disturbed (off the sphere by more than %.0f %% of its radius "
        "or far outside the cloud)",
        disturbed, 100.0 * options.disturbanceWindow);
    if (check.severity != Severity::Ok) {
      check.action =
          "keep magnets, motors, steel and live cables away while recording; if the "
          "soft iron is strong, widen the disturbance window";
    }
  }
  return check;
}

Check outliersCheck(const CalibrationResult& r, std::size_t outliers, std::size_t base) {
  const double share = base > 0 ? 100.0 * outliers / base : 0.0;
  Check check = graded(CheckCode::Outliers, share, kOutliersWarn_pct, kOutliersFail_pct,
                       LimitKind::Maximum, "%");
  if (r.mode == Mode::FixedWindow) {
    check.message = formatText(
        "%zu of %zu kept samples have an outlying corrected magnitude (the "
        "fixed window keeps them)",
        outliers, base);
  } else {
    check.message = formatText("%zu of %zu samples dropped for an outlying corrected magnitude",
                               outliers, base);
  }
  if (check.severity != Severity::Ok) {
    check.action = r.mode == Mode::FixedWindow
                       ? "look for disturbances during the recording, or use the automatic mode, "
                         "which drops such samples"
                       : "look for disturbances during the recording: a motor, a magnet passing by";
  }
  return check;
}

Check samplesCheck(const Figures& f) {
  Check check = graded(CheckCode::Samples, static_cast<double>(f.kept()), kSamplesWarn,
                       kSamplesFail, LimitKind::Minimum, "samples");
  check.message = formatText("%zu of %zu samples kept for the fit", f.kept(), f.samples);
  if (check.severity != Severity::Ok) {
    check.action =
        "record more samples while tumbling the device; if many were rejected, see why "
        "above";
  }
  return check;
}

Check offsetCheck(const CalibrationResult& r) {
  const Figures& f = r.figures;
  Check check =
      graded(CheckCode::Offset, f.offsetLargest_G, kOffsetWarn_G, kNaN, LimitKind::Maximum, "G");
  const std::string inGauss =
      r.unit.unit == Unit::Gauss ? std::string() : figureText("%.3g G", f.offsetNorm_G) + ", ";
  check.message = "offset " + figureText("%.4g", f.offsetNorm) + " " + r.unit.symbol() + " (" +
                  inGauss + figureText("%.0f %%", 100.0 * f.offsetToField) +
                  " of the field); largest component " + figureText("%.3g G", f.offsetLargest_G);
  if (check.severity != Severity::Ok) {
    check.action =
        "a sensor this far off centre may saturate: check its range, or mount it away "
        "from magnets and steel";
  }
  return check;
}

Check softIronCheck(const Figures& f) {
  const Vec3& e = f.softIronEigenvalues;
  const std::string values = "eigenvalues " + figureText("%.3f", e[0]) + " " +
                             figureText("%.3f", e[1]) + " " + figureText("%.3f", e[2]);
  if (!(e[0] > 0.0)) {
    Check check = graded(CheckCode::SoftIron, e[0], 0.0, 0.0, LimitKind::Minimum, "ratio");
    check.severity = Severity::Fail;
    check.message = "the soft-iron matrix is not positive definite: " + values;
    check.action = "the fit is not an ellipsoid: cover all orientations and look for disturbances";
    return check;
  }
  Check check = graded(CheckCode::SoftIron, f.softIronCondition, kConditionWarn, kConditionFail,
                       LimitKind::Maximum, "ratio");
  check.message = values + ", condition " + figureText("%.3f", f.softIronCondition);
  if (check.severity != Severity::Ok) {
    check.action =
        "so strong a stretch is often a gap in the coverage: cover all orientations; "
        "otherwise mount the sensor away from iron";
  }
  return check;
}

Check modelCheck(const CalibrationResult& r) {
  const Figures& f = r.figures;
  const double kept = static_cast<double>(f.kept());
  auto supports = [&](const ModelSupport& s) {
    return kept >= s.samples && r.motion.planarity >= s.planarity &&
           r.coverage.largestGap_deg <= s.gap_deg;
  };
  const ModelKind supported = supports(kGeneralSupport)   ? ModelKind::General
                              : supports(kAlignedSupport) ? ModelKind::AxisAligned
                                                          : ModelKind::Sphere;
  Check check;
  check.code = CheckCode::Model;
  check.value = modelCoefficients(r.model);
  check.limit = modelCoefficients(supported);
  check.limitKind = LimitKind::Maximum;
  check.unit = "coefficients";
  check.severity = check.value > check.limit ? Severity::Warn : Severity::Ok;
  const std::string errors = "errors: sphere " + figureText("%.3g", r.models[0].error) +
                             ", axis-aligned " + figureText("%.3g", r.models[1].error) +
                             ", general " + figureText("%.3g", r.models[2].error);
  if (check.severity == Severity::Ok) {
    check.message =
        formatText("%s kept; the motion supports it (%s)", modelName(r.model), errors.c_str());
    return check;
  }
  // The first requirement the data miss, for the model one step above what they support.
  const ModelSupport& need = supported == ModelKind::Sphere ? kAlignedSupport : kGeneralSupport;
  std::string why;
  if (kept < need.samples) {
    why = formatText("%zu samples", f.kept());
  } else if (r.motion.planarity < need.planarity) {
    why = formatText("near-planar motion (planarity %.3f)", r.motion.planarity);
  } else {
    why = formatText("a gap of %.0f degrees", r.coverage.largestGap_deg);
  }
  check.message = formatText(
      "%s kept, but the data (%s) determine no more than the %s: its shape is "
      "extrapolated (%s)",
      modelName(r.model), why.c_str(), modelName(supported), errors.c_str());
  check.action = formatText(
      "cover more orientations; until then the %s's calibration (among the "
      "models) is the safer one",
      modelName(supported));
  return check;
}

// Without a reference: the fitted field against the Earth's range.
Check rangeCheck(const CalibrationResult& r) {
  const Figures& f = r.figures;
  const bool above = f.radius_G > kEarthFieldMax_G;
  Check check = graded(CheckCode::Radius, f.radius_G, above ? kEarthFieldMax_G : kEarthFieldMin_G,
                       above ? kRangeFailHigh_G : kRangeFailLow_G,
                       above ? LimitKind::Maximum : LimitKind::Minimum, "G");
  const std::string symbol = r.unit.symbol();
  std::string found = "fitted field " + figureText("%.4g", f.radius) + " " + symbol;
  std::string range = formatText("%.2f to %.2f G", kEarthFieldMin_G, kEarthFieldMax_G);
  if (r.unit.unit != Unit::Gauss) {
    found += " (" + figureText("%.4g G", f.radius_G) + ")";
    range += formatText(", %.4g to %.4g %s", r.unit.fromGauss(kEarthFieldMin_G),
                        r.unit.fromGauss(kEarthFieldMax_G), symbol.c_str());
  }
  const char* const exact = "the place and date of the recording would make this check exact";
  if (check.severity == Severity::Ok) {
    check.message = found + " lies within the Earth's range (" + range + "); " + exact;
    return check;
  }
  check.message = found + " lies outside the Earth's range (" + range + ")";
  if (check.severity == Severity::Fail) {
    check.message += above ? ": more than the Earth gives anywhere, even beside steel (an "
                             "accelerometer logged in g reads 1)"
                           : ": less than the Earth gives anywhere, even indoors";
    check.action =
        "check that these are a magnetometer's samples in the unit taken, and give the place "
        "and date of the recording (or the field strength) to make this check exact";
  } else {
    check.action =
        "give the place and date of the recording (or the field strength) to make this check "
        "exact; steel nearby can weaken or strengthen the field";
  }
  return check;
}

Check radiusCheck(const Figures& f) {
  const double k = f.radiusToField;
  const bool above = k > 1.0;
  Check check = graded(CheckCode::Radius, std::fabs(k - 1.0), kRadiusWarn, kRadiusFail,
                       LimitKind::Maximum, "ratio");
  check.value = k;
  check.limit = above ? 1.0 + check.limit : 1.0 - check.limit;
  check.limitKind = above ? LimitKind::Maximum : LimitKind::Minimum;
  check.message =
      formatText("fitted field %.4g G against %.4g G of the reference (", f.radius_G, f.field_G) +
      figureText("%+.1f %%", 100.0 * (k - 1.0)) + ")";
  if (check.severity != Severity::Ok) {
    check.action =
        "look for interference where the device was turned, and check the position, "
        "the date and the unit";
  }
  return check;
}

Check residualCheck(const CalibrationResult& r) {
  const Figures& f = r.figures;
  Check check = graded(CheckCode::Residual, 100.0 * f.residualToField, kResidualWarn_pct,
                       kResidualFail_pct, LimitKind::Maximum, "%");
  const std::string where = std::isfinite(f.inclination_deg)
                                ? formatText(" at inclination %.0f degrees", f.inclination_deg)
                                : std::string(" or more: the inclination is unknown");
  const std::string inUnit = r.unit.unit == Unit::Milligauss
                                 ? std::string()
                                 : figureText("%.3g", f.residual) + " " + r.unit.symbol() + ", ";
  check.message = "residual " + figureText("%.2f %%", 100.0 * f.residualToField) +
                  " of the field (" + inUnit + figureText("%.3g mG", f.residual_mG) + ", about " +
                  figureText("%.2g", f.heading_deg) + " degrees of heading" + where + ")";
  if (check.severity != Severity::Ok) {
    check.action = "keep the device away from disturbances and turn it slowly";
  }
  return check;
}

// Mean |corrected| over the kept samples, summed as BlockMean sums it.
double meanCorrected(const std::vector<Vec3>& values, const std::vector<SampleStatus>& status,
                     const Calibration& calibration) {
  BlockMean mean;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (status[i] == SampleStatus::Kept) {
      mean.add(norm(applyCalibration(calibration, values[i])));
    }
  }
  return mean.mean();
}

// The samples by status.
void countStatuses(const std::vector<SampleStatus>& status, Figures& f) {
  std::array<std::size_t, 256> counts{};
  for (SampleStatus s : status) {
    ++counts[static_cast<std::uint8_t>(s)];
  }
  for (int s = 0; s < kSampleStatusCount; ++s) {
    f.byStatus[static_cast<std::size_t>(s)] = counts[static_cast<std::size_t>(s)];
  }
}

// The reference's strength, and with a model field its horizontal part and inclination.
void referenceFigures(const Reference& reference, Figures& f) {
  f.field_G = reference.total_G();
  if (reference.kind() == Reference::Kind::Field) {
    const Vec3 g = reference.vector_G();
    f.horizontal_G = norm({{g[0], g[1], 0.0}});
    f.inclination_deg = reference.field().elements.inclination_deg;
  }
}

// Coverage and the motion of a device that was not turned: nothing judged.
void leaveDirectionsUnjudged(CalibrationResult& r) {
  Coverage& coverage = r.coverage;
  coverage.samplesPerCell.assign(static_cast<std::size_t>(coverage.grid.cells()), 0);
  coverage.fraction = kNaN;
  coverage.largestGap_deg = kNaN;
  r.motion.pattern = MotionPattern::NotTurned;
  r.motion.planarity = kNaN;
  r.motion.meanResultant = kNaN;
  r.motion.arc_deg = kNaN;
}

// Coverage and the motion's shape from the survey. The motion is judged on every sample that
// shows how the device was turned: the kept ones, and those that only a window or the refinement
// left out, but neither invalid nor disturbed ones. A fixed window that keeps a band of
// directions thus does not read as a device turned about one axis; the coverage, judged on the
// kept samples, shows the band.
void judgeDirections(const SampleSurvey& survey, CalibrationResult& r) {
  Coverage& coverage = r.coverage;
  coverage.samplesPerCell.assign(survey.cellCount.begin(), survey.cellCount.end() - 1);
  for (std::uint32_t count : coverage.samplesPerCell) {
    coverage.occupiedCells += count > 0 ? 1 : 0;
  }
  coverage.fraction = static_cast<double>(coverage.occupiedCells) / coverage.grid.cells();
  const Cap gap = largestEmptyCap(fineGrid(), survey.fineOccupied);
  coverage.largestGap_deg = gap.angle_deg;
  coverage.largestGapDirection = gap.centre;
  r.motion = analyseMotion(fineGrid(), survey.fineFromCentre, kPlanarityWarn);
}

// The residual of every fitted model, each coverage cell weighted once.
void modelResiduals(const SampleSurvey& survey, double gaussPerUnit,
                    std::array<ModelFit, 3>& models) {
  const SampleUnit milligauss{Unit::Milligauss};
  for (std::size_t m = 0; m < 3; ++m) {
    ModelFit& model = models[m];
    if (model.decision == ModelDecision::NotFitted) {
      continue;
    }
    model.residual = cellResidual(survey.residuals[m], survey.cellCount);
    model.residual_mG = milligauss.fromGauss(model.residual * gaussPerUnit);
  }
}

// The figures of the kept model: its radius, offset, residual and soft iron against the field
// (the reference, or without one the fitted radius).
void keptModelFigures(const ModelFit& keptModel, Figures& f) {
  const double gaussPerUnit = f.gaussPerUnit;
  const Calibration& c = keptModel.calibration;
  f.radius = keptModel.radius;
  f.radius_G = f.radius * gaussPerUnit;
  f.radiusToField = f.radius_G / f.field_G;
  const Vec3& b = c.offset;
  f.offsetNorm = norm(b);
  f.offsetNorm_G = f.offsetNorm * gaussPerUnit;
  f.offsetLargest_G = std::fabs(b[dominantAxis(b)]) * gaussPerUnit;
  const double field_G = std::isfinite(f.field_G) ? f.field_G : f.radius_G;
  f.offsetToField = f.offsetNorm_G / field_G;
  f.residual = keptModel.residual;
  f.residual_mG = keptModel.residual_mG;
  f.residualToField = f.residual * gaussPerUnit / field_G;
  const double horizontal_G = std::isfinite(f.horizontal_G) ? f.horizontal_G : field_G;
  f.heading_deg = std::atan2(f.residual * gaussPerUnit, horizontal_G) * kDegreesPerRadian;
  Matrix3 symmetric;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      symmetric[i][j] = 0.5 * (c.matrix[i][j] + c.matrix[j][i]);
    }
  }
  Matrix3 vectors;
  symmetricEigen3(symmetric, f.softIronEigenvalues, vectors);
  f.softIronCondition = f.softIronEigenvalues[2] / f.softIronEigenvalues[0];
}

// Outliers and the count they are a share of: those the refinement dropped, or in the fixed
// window, which keeps them, the kept samples outside the refinement's bounds.
struct OutlierCount {
  std::size_t outliers;
  std::size_t base;
};

// The kept model must have been fitted.
OutlierCount countOutliers(const std::vector<Vec3>& values, const CalibrationResult& r,
                           double outlierLimit) {
  const Figures& f = r.figures;
  const std::size_t dropped = f.byStatus[static_cast<int>(SampleStatus::Outlier)];
  if (r.mode != Mode::FixedWindow) {
    return {dropped, f.kept() + dropped};
  }
  const CorrectedMagnitudes corrected = correctedMagnitudes(values, r.status, r.calibration);
  const MagnitudeBounds bounds = outlierBounds(corrected, outlierLimit);
  std::size_t outliers = 0;
  if (std::isfinite(bounds.lower) && std::isfinite(bounds.upper)) {
    for (double m : corrected.magnitude) {
      outliers += (m <= bounds.upper && m >= bounds.lower) ? 0 : 1;
    }
  }
  return {outliers, f.kept()};
}

// What the diagnosis could establish: whether the device was turned, and whether figures of a
// fit can be judged (a fit was made, of a device that was turned).
struct Judged {
  bool turned;
  bool fit;
};

// The checks, in CheckCode order; a check without the figures it needs is left out.
std::vector<Check> runChecks(const SampleSet& samples, const CalibrationOptions& options,
                             const CalibrationResult& r, const UnitJudgement& judgement,
                             const FitStage& stage, Judged judged, const OutlierCount& outliers) {
  const Figures& f = r.figures;
  std::vector<Check> checks;
  checks.push_back(inputCheck(samples));
  checks.push_back(clippingCheck(r, stage.clipping));
  if (std::isfinite(f.scale)) {
    checks.push_back(unitCheck(r, judgement, options.reference.kind() != Reference::Kind::None));
  }
  if (judged.fit || !judged.turned) {
    checks.push_back(motionCheck(r.motion));
  }
  if (judged.fit) {
    checks.push_back(gapCheck(r.coverage));
    checks.push_back(coverageCheck(r.coverage));
  }
  checks.push_back(rejectedCheck(r, options));
  if (judged.fit) {
    checks.push_back(outliersCheck(r, outliers.outliers, outliers.base));
  }
  if (judged.turned) {
    checks.push_back(samplesCheck(f));
  }
  if (judged.fit && std::isfinite(f.offsetLargest_G)) {
    checks.push_back(offsetCheck(r));
  }
  if (judged.fit && !std::isnan(f.softIronEigenvalues[0])) {
    checks.push_back(softIronCheck(f));
  }
  if (judged.fit) {
    checks.push_back(modelCheck(r));
  }
  if (judged.fit && std::isfinite(f.radius_G)) {
    checks.push_back(std::isfinite(f.field_G) ? radiusCheck(f) : rangeCheck(r));
  }
  if (judged.fit && std::isfinite(f.residualToField)) {
    checks.push_back(residualCheck(r));
  }
  return checks;
}

// Marks the checks that only restate a failed unit: samples read in a wrong unit make the fitted
// field (against the reference or the Earth's range), the residual against the reference and
// the offset in gauss wrong by the same factor, and a fixed window placed by the reference
// rejects what it should keep. The residual without a reference is a share of the fitted field,
// which no unit changes.
void markFollowOns(const CalibrationResult& r, std::vector<Check>& checks) {
  const bool unitFailed = std::any_of(checks.begin(), checks.end(), [](const Check& c) {
    return c.code == CheckCode::Unit && c.severity == Severity::Fail;
  });
  if (!unitFailed) {
    return;
  }
  const bool fixed = r.mode == Mode::FixedWindow;
  for (Check& check : checks) {
    const CheckCode c = check.code;
    const bool restates = c == CheckCode::Radius || c == CheckCode::Offset ||
                          (c == CheckCode::Residual && std::isfinite(r.figures.field_G)) ||
                          (fixed && (c == CheckCode::Rejected || c == CheckCode::Samples));
    if (restates && check.severity != Severity::Ok) {
      check.followsFrom = CheckCode::Unit;
    }
  }
}

// Verdict and reasons: failures first, then warnings, each in cause order, and each followed by
// the reasons that follow from it.
void judge(Diagnostics& d) {
  for (Severity severity : {Severity::Fail, Severity::Warn}) {
    for (const Check& check : d.checks) {
      if (check.severity != severity || check.followsFrom) {
        continue;
      }
      d.reasons.push_back(check);
      for (const Check& followOn : d.checks) {
        if (followOn.followsFrom == check.code) {
          d.reasons.push_back(followOn);
        }
      }
    }
  }
  d.verdict = d.reasons.empty()                              ? Verdict::Pass
              : d.reasons.front().severity == Severity::Fail ? Verdict::Fail
                                                             : Verdict::Warn;
}

}  // namespace

CalibrationResult diagnose(const SampleSet& samples, const CalibrationOptions& options,
                           FitStage stage) {
  const std::vector<Vec3>& values = samples.values;
  CalibrationResult r;
  r.mode = options.mode;
  r.unit = samples.unit;
  r.unitGiven = samples.unitGiven;
  r.models = std::move(stage.models);
  r.model = r.models[stage.chosen].kind;
  r.calibration = r.models[stage.chosen].calibration;
  r.status = std::move(stage.status);
  r.windows = std::move(stage.windows);

  Figures& f = r.figures;
  f.samples = values.size();
  f.clipped = stage.clipped;
  countStatuses(r.status, f);
  f.gaussPerUnit = r.unit.gaussPerUnit();
  referenceFigures(options.reference, f);
  const bool fitted = r.models[stage.chosen].decision != ModelDecision::NotFitted;
  const bool turned = !(stage.spread < kNotTurnedSpread);
  const Judged judged{turned, fitted && turned};

  // The motion's directions are seen from the centre of a sphere, not from the fit being judged:
  // the sphere through the kept samples, or in the fixed-window mode the one through all valid
  // samples, since the window's band would make a poor centre.
  if (turned) {
    const Vec3 centre = r.mode == Mode::FixedWindow && std::isfinite(stage.preliminary.radius)
                            ? stage.preliminary.centre
                            : r.models[0].calibration.offset;
    const SampleSurvey survey = surveySamples(values, r.status, r.models, stage.chosen, centre);
    judgeDirections(survey, r);
    modelResiduals(survey, f.gaussPerUnit, r.models);
    r.meanCorrectedMagnitude = survey.meanCorrected;
  } else {
    leaveDirectionsUnjudged(r);
    // The fixed window's fit stands whatever the motion, with its mean as fluxtrim.out gives it.
    if (r.mode == Mode::FixedWindow) {
      r.meanCorrectedMagnitude = meanCorrected(values, r.status, r.calibration);
    }
  }
  r.motion.spread = stage.spread;

  if (turned && std::isfinite(stage.preliminary.radius)) {
    f.scale = stage.preliminary.radius;
    f.scale_G = f.scale * f.gaussPerUnit;
  }
  if (judged.fit) {
    keptModelFigures(r.models[stage.chosen], f);
  }
  UnitJudgement judgement;
  if (std::isfinite(f.scale)) {
    judgement = judgeUnitOnFit(f.scale, f.radius, r.unit, f.field_G, kRadiusWarn);
    f.apparentUnit = judgement.apparent;
    f.unitMatches = judgement.matches;
  }

  const OutlierCount outliers =
      judged.fit ? countOutliers(values, r, options.outlierLimit) : OutlierCount{0, 0};
  r.diagnostics.checks = runChecks(samples, options, r, judgement, stage, judged, outliers);
  judgeChecks(r);
  return r;
}

void judgeChecks(CalibrationResult& r) {
  markFollowOns(r, r.diagnostics.checks);
  r.diagnostics.reasons.clear();
  judge(r.diagnostics);
}

}  // namespace detail
}  // namespace fluxtrim
