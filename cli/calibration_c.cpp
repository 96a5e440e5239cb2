// The calibration as a C header for firmware.
#include "calibration_c.hpp"

#include <cmath>

#include "calibration_json.hpp"
#include "calibration_text.hpp"
#include "fluxtrim/error.hpp"
#include "fluxtrim/text.hpp"
#include "fluxtrim/version.hpp"
#include "terminal.hpp"

namespace fluxtrim_cli {

namespace {

// A floating literal that reads back as the same double: the shortest digits, with ".0" added to
// a whole number.
std::string literal(double value) {
  if (!std::isfinite(value)) {
    throw fluxtrim::Error("the calibration holds a value that is not finite: no C header written");
  }
  std::string text = fluxtrim::shortestText(value);
  if (text.find_first_of(".e") == std::string::npos) text += ".0";
  return text;
}

std::string rowLiteral(const fluxtrim::Vec3& v) {
  return "{" + literal(v[0]) + ", " + literal(v[1]) + ", " + literal(v[2]) + "}";
}

// Text for a block comment: control bytes escaped, and no "*/" that would end the comment early.
std::string commentSafe(const std::string& text) {
  std::string out = fluxtrim::printableText(text, 600);
  for (std::size_t at = out.find("*/"); at != std::string::npos; at = out.find("*/", at)) {
    out.replace(at, 2, "* /");
  }
  return out;
}

// One item of the comment: " * label text", wrapped within the command's line width.
std::string commentItem(const std::string& label, const std::string& text) {
  const std::string lead = " * ";
  const std::string indent = " *   ";
  return lead + wrapped(label + " " + commentSafe(text), kLineWidth - lead.size(), indent) + "\n";
}

}  // namespace

std::string calibrationHeader(const fluxtrim::SampleSet& samples,
                              const fluxtrim::Reference& reference, std::optional<double> tolerance,
                              const fluxtrim::CalibrationResult& result) {
  if (!hasCalibration(result)) {
    throw fluxtrim::Error(std::string(noCalibrationReason(result)) +
                          ": no calibration to write as C");
  }
  const fluxtrim::Calibration& c = result.calibration;
  const std::string verdict = fluxtrim::verdictName(result.diagnostics.verdict);
  const std::string unit = result.unit.name() + " (" + result.unit.symbol() + ")";

  std::string h = "/* Magnetometer calibration written by fluxtrim " +
                  std::string(fluxtrim::version()) + ".\n *\n";
  h += commentItem("Input:",
                   (samples.source == "-" ? std::string("standard input") : samples.source) + ", " +
                       std::to_string(samples.values.size()) + " samples in " + unit +
                       (result.unitGiven ? "" : ", unit assumed"));
  h += commentItem("Reference:", fluxtrim::referenceText(reference));
  h += commentItem("Fit:", std::string(fluxtrim::modelName(result.model)) + ", " +
                               (tolerance ? "fixed window of " + fluxtrim::shortestText(*tolerance)
                                          : std::string("automatic mode")) +
                               "; residual " +
                               fluxtrim::figureText("%.3g mG", result.figures.residual_mG));
  h += commentItem("Verdict:", verdict);
  // A reason that only restates the one before it is marked "also", as the text marks it.
  for (const fluxtrim::Check& check : result.diagnostics.reasons) {
    h += commentItem(check.followsFrom ? "- also" : "-",
                     std::string(fluxtrim::severityName(check.severity)) + " " +
                         fluxtrim::checkCodeName(check.code) + ": " + check.message);
  }
  h += " *\n";
  h += commentItem("Apply as",
                   "corrected = (raw - offset) * matrix, with raw = {x, y, z} a row "
                   "vector: corrected[c] = sum over r of (raw[r] - offset[r]) * "
                   "matrix[r][c]. raw, offset and corrected are in " +
                       unit + "; the matrix is a pure number.");
  h += " */\n";
  h += "#ifndef FLUXTRIM_CALIBRATION_H\n#define FLUXTRIM_CALIBRATION_H\n\n";
  if (result.diagnostics.verdict == fluxtrim::Verdict::Fail) {
    h += "#error \"fluxtrim: this calibration failed its checks (see the reasons above): do not "
         "use it\"\n\n";
  }
  h += "/* The element type: define FLUXTRIM_REAL as float before this header for float. */\n";
  h += "#ifndef FLUXTRIM_REAL\n#define FLUXTRIM_REAL double\n#endif\n\n";
  h += "/* Hard-iron offset, " + unit + ". */\n";
  h += "static const FLUXTRIM_REAL fluxtrim_offset[3] =\n    " + rowLiteral(c.offset) + ";\n\n";
  h += "/* Soft-iron matrix by rows: fluxtrim_matrix[row][column]. */\n";
  h += "static const FLUXTRIM_REAL fluxtrim_matrix[3][3] = {\n";
  for (int row = 0; row < 3; ++row) {
    h += "    " + rowLiteral(c.matrix[row]) + (row < 2 ? ",\n" : "};\n\n");
  }
  h += "/* corrected = (raw - fluxtrim_offset) * fluxtrim_matrix, in " + result.unit.symbol() +
       ". raw and corrected may be\n   the same array. */\n";
  h += "static inline void fluxtrim_correct(const FLUXTRIM_REAL raw[3], FLUXTRIM_REAL "
       "corrected[3]) {\n";
  h += "  const FLUXTRIM_REAL d0 = raw[0] - fluxtrim_offset[0];\n";
  h += "  const FLUXTRIM_REAL d1 = raw[1] - fluxtrim_offset[1];\n";
  h += "  const FLUXTRIM_REAL d2 = raw[2] - fluxtrim_offset[2];\n";
  h += "  int c;\n";
  h += "  for (c = 0; c < 3; ++c) {\n";
  h += "    corrected[c] =\n";
  h += "        (d0 * fluxtrim_matrix[0][c] + d1 * fluxtrim_matrix[1][c]) + d2 * "
       "fluxtrim_matrix[2][c];\n";
  h += "  }\n}\n\n#endif\n";
  return h;
}

}  // namespace fluxtrim_cli
