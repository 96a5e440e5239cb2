// The calibration as a C header for firmware.
#include "calibration_c.hpp"

#include <cmath>
#include <cstdio>
#include <utility>

#include "export_formats.hpp"
#include "fluxtrim/error.hpp"
#include "fluxtrim/text.hpp"
#include "terminal.hpp"

namespace fluxtrim_cli {

namespace {

// A floating literal of the header's type: for double the shortest digits that read back as the
// same double, for float those of the nearest float with an f suffix; ".0" added to a whole
// number.
std::string literal(double value, bool asFloat) {
  if (!std::isfinite(value)) {
    throw fluxtrim::Error("the calibration holds a value that is not finite: no C header written");
  }
  std::string text = asFloat ? floatText(value) : fluxtrim::shortestText(value);
  if (text.find_first_of(".e") == std::string::npos) text += ".0";
  return asFloat ? text + "f" : text;
}

std::string rowLiteral(const fluxtrim::Vec3& v, bool asFloat) {
  return "{" + literal(v[0], asFloat) + ", " + literal(v[1], asFloat) + ", " +
         literal(v[2], asFloat) + "}";
}

// Text for a block comment that compiles under every warning whatever a file name holds: control
// bytes and the characters that reorder text escaped (a compiler rejects unpaired bidirectional
// controls), no "*/" that would end the comment early nor "/*" that a compiler warns of, and no
// "??" that could start a trigraph.
std::string commentSafe(const std::string& text) {
  std::string out = fluxtrim::printableText(text, 600);
  const std::pair<const char*, const char*> replacements[] = {
      {"*/", "* /"}, {"/*", "/ *"}, {"??", "?\\x3F"}};
  for (const auto& [from, to] : replacements) {
    for (std::size_t at = out.find(from); at != std::string::npos; at = out.find(from, at)) {
      out.replace(at, 2, to);
    }
  }
  return out;
}

// One item of the comment: lead then the text, wrapped within the command's line width.
std::string commentItem(const std::string& lead, const std::string& text) {
  return lead + wrapped(commentSafe(text), kLineWidth - lead.size(), " *   ") + "\n";
}

std::string upperCase(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// The comment at the top: what the calibration is and how the header applies it.
std::string headerComment(const StoredCalibration& stored, const TargetCalibration& target,
                          const std::string& name) {
  std::string h;
  if (stored.verdict == "fail") h += "/* " + commentSafe(failedLine(stored)) + " */\n";
  const std::vector<std::string> lines = descriptionLines(stored, target);
  for (std::size_t i = 0; i < lines.size(); ++i) h += commentItem(i == 0 ? "/* " : " * ", lines[i]);
  h += commentItem(" * ", "Apply as corrected = (raw - " + name + "_offset) * " + name +
                              "_matrix, with raw = {x, y, z} a row vector: corrected[c] = sum "
                              "over r of (raw[r] - " +
                              name + "_offset[r]) * " + name + "_matrix[r][c]; raw and " + name +
                              "_offset in " + target.input.symbol() + ", corrected in " +
                              target.output.symbol() + ". " + name + "_correct does this.");
  if (stored.mounting) {
    h += commentItem(" * ", mountingLine(stored) +
                                " Corrected samples are in the magnetometer's axes; the mounting "
                                "matrix M of the calibration file turns them into the "
                                "accelerometer's: v = M * corrected.");
  }
  h += " *\n";
  for (const std::string& line : detailLines(stored)) h += commentItem(" * ", line);
  return h + " */\n";
}

}  // namespace

std::string calibrationHeader(const StoredCalibration& stored, const FirmwareOptions& options) {
  const TargetCalibration target = targetCalibration(stored, stored.unit);
  const fluxtrim::Calibration& c = target.calibration;
  const std::string& name = options.name;
  const std::string type = options.cFloat ? "float" : "double";
  const std::string guard = upperCase(name) + "_CALIBRATION_H";

  std::string h = headerComment(stored, target, name);
  h += "#ifndef " + guard + "\n#define " + guard + "\n\n";
  if (stored.verdict == "fail") {
    h += "#error \"fluxtrim: this calibration failed its checks (see the reasons above): do not "
         "use it\"\n\n";
  }
  h += "/* Hard-iron offset, " + target.input.name() + ". */\n";
  h += "static const " + type + " " + name + "_offset[3] =\n    " +
       rowLiteral(c.offset, options.cFloat) + ";\n\n";
  h += "/* Soft-iron matrix by rows, " + name + "_matrix[row][column]; corrected samples in " +
       target.output.symbol() + ". */\n";
  h += "static const " + type + " " + name + "_matrix[3][3] = {\n";
  for (int row = 0; row < 3; ++row) {
    h += "    " + rowLiteral(c.matrix[row], options.cFloat) + (row < 2 ? ",\n" : "};\n\n");
  }
  h += "/* " +
       wrapped("corrected = (raw - " + name + "_offset) * " + name + "_matrix: raw in " +
                   target.input.symbol() + ", corrected in " + target.output.symbol() +
                   ". raw and corrected may be the same array.",
               kLineWidth - 3, "   ") +
       " */\n";
  h += "static inline void " + name + "_correct(const " + type + " raw[3], " + type +
       " corrected[3]) {\n";
  for (const char* axis : {"0", "1", "2"}) {
    h.append("  const ").append(type).append(" d").append(axis).append(" = raw[").append(axis);
    h.append("] - ").append(name).append("_offset[").append(axis).append("];\n");
  }
  h += "  int c;\n";
  h += "  for (c = 0; c < 3; ++c) {\n";
  h += "    corrected[c] =\n";
  h += "        (d0 * " + name + "_matrix[0][c] + d1 * " + name + "_matrix[1][c]) + d2 * " + name +
       "_matrix[2][c];\n";
  h += "  }\n}\n\n#endif\n";
  return h;
}

}  // namespace fluxtrim_cli
