// The calibration as a person reads it on a terminal or in a log.
#include "calibration_text.hpp"

#include <cmath>

#include "calibration_json.hpp"
#include "fluxtrim/text.hpp"
#include "input_text.hpp"

namespace fluxtrim_cli {

namespace {

using fluxtrim::figureText;
using fluxtrim::formatText;

// text wrapped within kLineWidth after a prefix of prefixColumns columns, its trailing blank
// included, on the first line (the prefix may hold colour codes); the following lines indented by
// indent blanks.
std::string hanging(const std::string& prefix, std::size_t prefixColumns, const std::string& text,
                    std::size_t indent) {
  // A placeholder word as wide as the prefix with the blank after it, replaced afterwards.
  const std::string lines = wrapped(std::string(prefixColumns - 1, 'x') + " " + text, kLineWidth,
                                    std::string(indent, ' '));
  const std::size_t rest = lines.size() > prefixColumns && lines[prefixColumns - 1] == ' '
                               ? prefixColumns
                               : prefixColumns - 1;
  return prefix + lines.substr(rest) + "\n";
}

// The verdict in a word, coloured, and what it means for the calibration.
std::string verdictLine(fluxtrim::Verdict verdict, const Style& style) {
  switch (verdict) {
    case fluxtrim::Verdict::Pass:
      return "Verdict: " + style.bold(style.good("PASS")) + " - the calibration can be used\n";
    case fluxtrim::Verdict::Warn:
      return "Verdict: " + style.bold(style.warn("WARN")) +
             " - the calibration can be used; mind the warnings\n";
    case fluxtrim::Verdict::Fail:
      break;
  }
  return "Verdict: " + style.bold(style.fault("FAIL")) + " - do not use this calibration\n";
}

// The reasons, each with what to do; a reason that only restates another (a radius wrong because
// the unit is) follows it indented after "also", its action left to the reason it restates.
std::string reasonsText(const fluxtrim::Diagnostics& d, const Style& style) {
  if (d.reasons.empty()) return "";
  std::string text = "\n" + style.bold("Reasons") + "\n";
  for (const fluxtrim::Check& check : d.reasons) {
    const bool failed = check.severity == fluxtrim::Severity::Fail;
    const std::string code = fluxtrim::checkCodeName(check.code);
    std::string label = failed ? style.fault("fail") : style.warn("warn");
    label.append(" ").append(code).append(": ");
    if (check.followsFrom) {
      text += hanging("    also " + label, code.size() + 16, check.message, 6);
      continue;
    }
    text += hanging("  " + label, code.size() + 9, check.message, 4);
    if (!check.action.empty()) text += hanging("    -> ", 7, check.action, 7);
  }
  return text;
}

std::string rowText(const char* label, const fluxtrim::Vec3& v, const std::string& unit) {
  std::string line = formatText("  %-8s%14.7g%14.7g%14.7g", label, v[0], v[1], v[2]);
  if (!unit.empty()) line += "  " + unit;
  return line + "\n";
}

std::string calibrationPart(const fluxtrim::CalibrationResult& r, std::optional<double> tolerance,
                            const OutputScaling& output, const Style& style) {
  std::string heading = "Calibration";
  if (r.diagnostics.verdict == fluxtrim::Verdict::Fail) heading += " (not usable)";
  std::string text = "\n" + style.bold(heading) + "\n";
  if (!hasCalibration(r)) return text + "  none: " + noCalibrationReason(r) + "\n";
  const std::string fit =
      fluxtrim::isPlanar(r)
          ? std::string(r.planarAutomatic ? "planar calibration from a level turn, chosen "
                                            "automatically"
                                          : "planar calibration from a turn about one axis")
          : std::string(fluxtrim::modelName(r.model)) + " fit, " +
                (tolerance ? formatText("fixed window of %g on raw magnitudes", *tolerance)
                           : std::string("automatic mode"));
  text += hanging("  ", 2,
                  fit + ", samples in " + r.unit.name() + (r.unitGiven ? "" : " (assumed)"), 2);
  const double factor = output.factorFor(r.unit);
  const fluxtrim::Matrix3 matrix = fluxtrim::scaledCalibration(r.calibration, factor).matrix;
  text += rowText("offset", r.calibration.offset, r.unit.symbol());
  text += rowText("matrix", matrix[0], "");
  text += rowText("", matrix[1], "");
  text += rowText("", matrix[2], "");
  if (output.toField || output.unit) {
    text += hanging("  ", 2,
                    formatText("the fitted matrix times %.7g", factor) +
                        (output.toField ? ", scaled to the reference field" : "") +
                        ", for corrected samples in " + output.unitFor(r.unit).name(),
                    2);
  }
  return text;
}

// Rejected samples by status, "13 disturbed, 2 outlier": empty when none was rejected.
std::string rejectedText(const fluxtrim::Figures& f) {
  std::string text;
  for (int status = 1; status < fluxtrim::kSampleStatusCount; ++status) {
    if (f.byStatus[status] == 0) continue;
    if (!text.empty()) text += ", ";
    text += std::to_string(f.byStatus[status]) + " " +
            fluxtrim::statusName(static_cast<fluxtrim::SampleStatus>(status));
  }
  return text;
}

std::string figureLine(const char* label, const std::string& value) {
  return hanging(formatText("  %-18s", label), 20, value, 20);
}

std::string figuresPart(const fluxtrim::CalibrationResult& r, const fluxtrim::Reference& reference,
                        const Style& style) {
  const fluxtrim::Figures& f = r.figures;
  const std::string unit = r.unit.symbol();
  std::string text = "\n" + style.bold("Key figures") + "\n";
  const std::string rejected = rejectedText(f);
  text += figureLine("accepted samples", formatText("%zu of %zu", f.kept(), f.samples) +
                                             (rejected.empty() ? "" : " (" + rejected + ")"));
  if (std::isfinite(f.residual)) {
    // In the samples' unit, and in milligauss unless that is the samples' unit. Without the
    // field's inclination the heading error is taken over the total field: a lower bound.
    const std::string inUnit = r.unit.unit == fluxtrim::Unit::Milligauss
                                   ? figureText("%.3g mG rms", f.residual_mG)
                                   : figureText("%.3g", f.residual) + " " + unit + " (" +
                                         figureText("%.3g mG", f.residual_mG) + ") rms";
    text += figureLine("residual",
                       inUnit + ", " + figureText("%.2f %%", 100.0 * f.residualToField) +
                           " of the field, heading error " + figureText("%.2g deg", f.heading_deg) +
                           (std::isfinite(f.horizontal_G) ? "" : " or more"));
  }
  text += figureLine("coverage",
                     std::isfinite(r.coverage.fraction)
                         ? formatText("%.0f %% of directions, largest gap %.0f deg",
                                      100.0 * r.coverage.fraction, r.coverage.largestGap_deg)
                         : std::string("not judged: the device was not turned"));
  if (std::isfinite(f.radius)) {
    std::string value = figureText("%.5g", f.radius) + " " + unit;
    if (std::isfinite(f.field_G)) {
      value += formatText(" against the reference's %.5g %s (", f.field_G / f.gaussPerUnit,
                          unit.c_str()) +
               figureText("%+.1f %%", 100.0 * (f.radiusToField - 1.0)) + ")";
    } else {
      value += ", no reference to compare with";
    }
    text += figureLine("fitted field", value);
  }
  text += figureLine("reference", fluxtrim::referenceText(reference));
  return text;
}

// The accelerometer: its columns and unit, the samples at rest, the mounting and the
// inclination they show.
std::string accelerometerPart(const fluxtrim::SampleSet& samples,
                              const fluxtrim::AccelerometerFindings& a, const Style& style) {
  std::string text = "\n" + style.bold("Accelerometer") + "\n";
  const char* source = a.unitSource == fluxtrim::UnitSource::Given    ? "given"
                       : a.unitSource == fluxtrim::UnitSource::Header ? "from the header"
                                                                      : "from the samples' size";
  text += figureLine("read", fluxtrim::accelerometerChoiceText(samples) + "; " +
                                 (a.unit ? a.unit->symbol() + ", " + source
                                         : std::string("unit not known: give --accel-units")));
  text += figureLine("at rest", formatText("%zu of %zu samples", a.quasiStatic, a.samples));
  const fluxtrim::MountingEstimate& m = a.mounting;
  if (!m.determined) return text + figureLine("mounting", "not determined: " + m.problem);
  const fluxtrim::NamedOrientation& o =
      fluxtrim::namedOrientations()[static_cast<std::size_t>(m.nearest)];
  text += figureLine(
      "mounting",
      formatText("'%s' (orientation %d), %.2f deg off (+- %.2g), %s, %zu samples in %d poses",
                 o.name, o.number, m.misalignment_deg, m.uncertainty_deg,
                 fluxtrim::handednessName(m.handedness), m.used, m.poses));
  std::string dip = formatText("%.2f deg at rest (+- %.2g)", m.measuredInclination_deg,
                               m.inclinationUncertainty_deg);
  if (std::isfinite(m.modelInclination_deg)) {
    dip += formatText(" against the model's %.2f deg", m.modelInclination_deg);
  }
  return text + figureLine("inclination", dip);
}

// A calibration from a turn about one axis: the turn, the offset along its axis and what it
// could not determine.
std::string planarPart(const fluxtrim::CalibrationResult& r, const Style& style) {
  const fluxtrim::PlanarCalibration& p = *r.planar;
  const std::string unit = r.unit.symbol();
  const bool mounted = r.accelerometer && r.accelerometer->expected != 0;
  std::string text = "\n" + style.bold("Turn about one axis") + "\n";
  if (!p.determined) return text + figureLine("not calibrated", p.problem);
  const fluxtrim::Vec3& a = p.axis;
  text += figureLine("axis", formatText("(%.3f, %.3f, %.3f), pointing down", a[0], a[1], a[2]) +
                                 (std::isfinite(p.tilt_deg)
                                      ? formatText(", %.1f deg from the vertical", p.tilt_deg)
                                      : std::string(", taken as vertical")));
  text += figureLine("down", p.steady == 0 ? "as given with --down"
                             : mounted     ? "from the accelerometer at rest, through the mounting "
                                             "given"
                                           : "from the accelerometer at rest, the magnetometer's "
                                             "axes taken as its own (--mounting if not)");
  text += figureLine("turned through",
                     formatText("%.0f deg, %zu of %zu samples", p.arc_deg, p.used, p.samples));
  text += figureLine("along the axis",
                     figureText("offset %.4g", p.alongAxisOffset) + " " + unit + " (+- " +
                         figureText("%.2g", p.alongAxisUncertainty) + ") from the model's " +
                         formatText("inclination of %.2f deg", p.modelInclination_deg));
  text += figureLine("not determined", p.undetermined);
  text += figureLine("heading error",
                     formatText("up to %.1f deg once tilted by 10 deg, %.1f deg by 20 deg",
                                p.headingErrorAtTilt_deg[0], p.headingErrorAtTilt_deg[1]));
  return text;
}

}  // namespace

std::string calibrationText(const fluxtrim::SampleSet& samples,
                            const fluxtrim::Reference& reference, std::optional<double> tolerance,
                            const fluxtrim::CalibrationResult& result, const Style& style,
                            const OutputScaling& output) {
  std::string text = verdictLine(result.diagnostics.verdict, style);
  text += hanging(
      "Input: ", 7,
      fluxtrim::printableText(samples.source == "-" ? "standard input" : samples.source, 200) +
          formatText(", %zu samples", samples.values.size()),
      2);
  text += readingText(samples, style);
  text += reasonsText(result.diagnostics, style);
  text += calibrationPart(result, tolerance, output, style);
  text += figuresPart(result, reference, style);
  if (result.planar) text += planarPart(result, style);
  if (result.accelerometer) text += accelerometerPart(samples, *result.accelerometer, style);
  text += "\nApply as corrected = (raw - offset) * matrix, with raw = [x y z] a row vector.\n";
  return text;
}

}  // namespace fluxtrim_cli
