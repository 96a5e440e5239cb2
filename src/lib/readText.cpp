// What the reader chose and why, in the words every message, the command and the report use.
#include <array>
#include <cstdint>
#include <string>

#include "fluxtrim/samples.hpp"
#include "fluxtrim/text.hpp"

namespace fluxtrim {

namespace {

// "columns 8 to 10" for three columns in a row, else "columns 5, 4 and 3"; counted from 1.
std::string columnsText(const std::array<int, 3>& columns) {
  const std::string a = std::to_string(columns[0] + 1);
  const std::string c = std::to_string(columns[2] + 1);
  if (columns[1] == columns[0] + 1 && columns[2] == columns[1] + 1) {
    return "columns " + a + " to " + c;
  }
  return "columns " + a + ", " + std::to_string(columns[1] + 1) + " and " + c;
}

// "1 line" or "3 lines"; what is the singular noun with the rest of the words after it.
std::string counted(std::uint64_t count, const std::string& noun, const std::string& rest = "") {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s") + rest;
}

}  // namespace

const char* unitSourceName(UnitSource source) {
  switch (source) {
    case UnitSource::Given:
      return "given";
    case UnitSource::Header:
      return "from the header";
    case UnitSource::Detected:
      return "detected from the lines";
    case UnitSource::Default:
      return "assumed";
  }
  return "assumed";
}

const char* sensorName(Sensor sensor) {
  switch (sensor) {
    case Sensor::Magnetometer:
      return "magnetometer";
    case Sensor::Accelerometer:
      return "accelerometer";
    case Sensor::Other:
      return "other";
    case Sensor::Unknown:
      break;
  }
  return "unknown";
}

std::string lineKindText(const LineKind& kind) {
  if (kind.label.empty()) {
    return kind.unit.empty() ? std::string("unlabelled lines")
                             : "lines in " + printableText(kind.unit, 40);
  }
  const std::string label = "'" + printableText(kind.label, 40) + "' lines";
  return kind.unit.empty() ? label : label + " (" + printableText(kind.unit, 40) + ")";
}

std::string lineKindsText(const ReadSummary& s) {
  std::string text;
  for (const LineKind& kind : s.kinds) {
    if (kind.lines > 0) {
      std::string kindText = lineKindText(kind);
      const std::size_t lines = kindText.rfind("lines");  // after the label, before the unit
      if (kind.lines == 1 && lines != std::string::npos) {
        kindText.erase(lines + 4, 1);  // "'Accel' line (m/s^2)"
      }
      text += (text.empty() ? "" : ", ") + std::to_string(kind.lines) + " " + kindText +
              (kind.kept ? " kept" : " left out");
    }
  }
  if (s.unmatchedLines > 0) {
    text += (text.empty() ? "" : ", ") +
            counted(s.unmatchedLines, "line", " without the text matched left out");
  }
  return s.leftOutLines > 0 ? text : std::string();
}

std::string readChoiceText(const SampleSet& set) {
  const ReadSummary& s = set.summary;
  const std::string unit =
      set.unit.name() + ", " +
      (s.unitRule.empty() ? std::string(unitSourceName(set.unitSource)) : s.unitRule);
  if (s.form == LineForm::Labelled) {
    return s.columnRule + "; " + unit;
  }
  return columnsText(s.columns) + ", " + s.columnRule + "; " + unit;
}

std::string accelerometerChoiceText(const SampleSet& set) {
  const ReadSummary& s = set.summary;
  if (s.accelerometerColumns[0] < 0) {
    return std::string();
  }
  if (s.form == LineForm::Labelled) {
    return s.accelerometerColumnRule;
  }
  return columnsText(s.accelerometerColumns) + ", " + s.accelerometerColumnRule;
}

std::string noSamplesText(const SampleSet& set) {
  const ReadSummary& s = set.summary;
  // "1 line, not a sample", "3 lines, 1 of them not a sample", "3 lines, 2 of them not samples";
  // a single line that was no sample line at all (a header) is "1 line".
  std::string text = counted(s.lines, "line");
  if (s.lines == 1) {
    text += s.skippedLines == 1 ? ", not a sample" : "";
  } else {
    text += ", " + std::to_string(s.skippedLines) + " of them not " +
            (s.skippedLines == 1 ? "a sample" : "samples");
  }
  const std::string kinds = lineKindsText(s);
  if (!kinds.empty()) {
    text += "; " + kinds;
  }
  for (const std::string& warning : s.warnings) {
    text += "; " + warning;
  }
  return text;
}

}  // namespace fluxtrim
