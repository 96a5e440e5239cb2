// The layout of delimited sample text: splitting a line into cells, reading a cell as one number,
// and choosing the delimiter, the header lines, the kind of line to read, the X, Y and Z columns of
// the magnetometer and of an accelerometer, and the unit the input states, from the first lines
// of an input. Shared by the sample reader and its tests; not installed.
#ifndef FLUXTRIM_SAMPLE_LAYOUT_HPP
#define FLUXTRIM_SAMPLE_LAYOUT_HPP

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fluxtrim/samples.hpp"

namespace fluxtrim::detail {

// A piece [first, last) of a line.
struct Cell {
  const char* first = nullptr;
  const char* last = nullptr;
};

// Characters that surround cells and make up blank lines. A line feed only occurs inside a line
// when carriage returns end the lines.
inline bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// The cell without its surrounding blanks and one pair of enclosing double quotes.
inline Cell trimCell(const char* first, const char* last) {
  while (first != last && isBlank(*first)) {
    ++first;
  }
  while (last != first && isBlank(last[-1])) {
    --last;
  }
  if (last - first >= 2 && *first == '"' && last[-1] == '"') {
    ++first;
    --last;
    while (first != last && isBlank(*first)) {
      ++first;
    }
    while (last != first && isBlank(last[-1])) {
      --last;
    }
  }
  return Cell{first, last};
}

// What a trimmed cell holds.
enum class CellKind {
  Number,      // exactly one finite number as strtod reads it; value receives it
  NotANumber,  // empty, text, or a number followed by anything
  OutOfRange,  // one number for which strtod reports a range error
  NotFinite,   // nan or inf in any spelling strtod accepts
};
CellKind readCell(Cell cell, double& value);

// Appends the trimmed cells of the line [first, last) (no line end) split at delimiter (not
// Auto). A blanks-delimited line has no empty cells; any other has one more cell than
// delimiters.
void splitCells(const char* first, const char* last, Delimiter delimiter, std::vector<Cell>& cells);

// One of the first lines of an input that is not blank: its text without the line end, and
// whether it is a comment line.
struct FirstLine {
  const char* first = nullptr;
  const char* last = nullptr;
  bool comment = false;
};

// Lines that are neither blank nor comments looked at to choose the layout.
constexpr std::size_t kFirstLineCount = 256;

// The cell without a label written before its number ("Raw:12" with the label "Raw:"), or the
// cell itself.
inline Cell withoutLabel(Cell cell, std::string_view label) {
  const std::size_t size = label.size();
  if (size > 0 && static_cast<std::size_t>(cell.last - cell.first) > size &&
      std::string_view(cell.first, size) == label) {
    cell.first += size;
  }
  return cell;
}

struct Layout {
  Delimiter delimiter = Delimiter::Comma;
  std::size_t headerLines = 0;  // the first lines that are neither blank nor comments: headers
  std::array<int, 3> columns{{0, 1, 2}};
  std::string columnRule;  // as ReadSummary::columnRule
  // Whether the columns are named, given or shown by the first lines; false when the first lines
  // hold fewer than three numeric columns or every kind of line is another sensor's.
  bool readsSamples = true;
  std::vector<std::string> header;                        // as ReadSummary::header
  std::array<int, 3> accelerometerColumns{{-1, -1, -1}};  // all -1 without an accelerometer
  std::string accelerometerColumnRule;
  std::optional<AccelerometerUnit> accelerometerUnit;
  // The kinds of line with no line counted yet, empty for plain text, and the one kept (-1 for
  // none); the label written before the first number of a kept line ("Raw:"), else empty.
  std::vector<LineKind> kinds;
  int keptKind = -1;
  std::string firstCellLabel;
  // The unit the input states for its values as written, where it states it (Header or
  // Detected) and in what words (as ReadSummary::unitRule).
  std::optional<SampleUnit> statedUnit;
  UnitSource statedSource = UnitSource::Default;
  std::string statedRule;
  // Raw: lines: the magnetometer's values are tenths of a microtesla, read in microtesla.
  bool tenthsOfMicrotesla = false;
  std::vector<std::string> warnings;  // as ReadSummary::warnings
  // Lines that name their values (labelledValues.hpp): the keys of the magnetometer's X, Y and Z,
  // then of the accelerometer's (empty without one); columns then hold their positions in the
  // first line that holds them, for messages.
  bool labelled = false;
  std::array<std::string, 6> keys;
};

// Throws UsageError for column options that are malformed: not three, negative, repeated, both
// names and indices, or an accelerometer column that is also a magnetometer column.
void checkColumnOptions(const ReadOptions& options);

// Chooses the layout from the input's first lines, in file order, blank lines and lines without
// options.match left out, as the documentation of readSamples describes. sourceName names the
// input in messages. Throws UsageError as checkColumnOptions does and for column names that no
// header line holds, and AmbiguousInput when nothing says which lines or columns to read.
Layout chooseLayout(const std::vector<FirstLine>& lines, const ReadOptions& options,
                    const std::string& sourceName);

}  // namespace fluxtrim::detail

#endif
