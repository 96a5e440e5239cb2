#include "sampleLayout.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>

#include "fluxtrim/error.hpp"
#include "fluxtrim/text.hpp"
#include "labelledValues.hpp"
#include "lineKinds.hpp"
#include "numparse.hpp"
#include "sampleWords.hpp"

namespace fluxtrim::detail {

CellKind readCell(Cell cell, double& value) {
  if (cell.first == cell.last) {
    return CellKind::NotANumber;
  }
  const char* end = nullptr;
  const numparse::Status status = numparse::toDouble(cell.first, cell.last, value, &end);
  if (status == numparse::Status::NoNumber || end != cell.last) {
    return CellKind::NotANumber;
  }
  if (status == numparse::Status::OutOfRange) {
    return CellKind::OutOfRange;
  }
  return std::isfinite(value) ? CellKind::Number : CellKind::NotFinite;
}

namespace {

// The delimiter's character; Blanks and Auto are split otherwise, by the caller.
char delimiterChar(Delimiter delimiter) {
  switch (delimiter) {
    case Delimiter::Semicolon:
      return ';';
    case Delimiter::Tab:
      return '\t';
    case Delimiter::Comma:
    case Delimiter::Blanks:
    case Delimiter::Auto:
      break;
  }
  return ',';
}

}  // namespace

void splitCells(const char* first, const char* last, Delimiter delimiter,
                std::vector<Cell>& cells) {
  if (delimiter == Delimiter::Blanks) {
    const char* p = first;
    for (;;) {
      while (p != last && isBlank(*p)) {
        ++p;
      }
      if (p == last) {
        return;
      }
      const char* end = p;
      while (end != last && !isBlank(*end)) {
        ++end;
      }
      cells.push_back(trimCell(p, end));
      p = end;
    }
  }
  const char separator = delimiterChar(delimiter);
  for (const char* p = first;;) {
    const void* found = std::memchr(p, separator, static_cast<std::size_t>(last - p));
    const char* end = found != nullptr ? static_cast<const char*>(found) : last;
    cells.push_back(trimCell(p, end));
    if (end == last) {
      return;
    }
    p = end + 1;
  }
}

namespace {

std::string_view textOf(Cell cell) {
  return std::string_view(cell.first, static_cast<std::size_t>(cell.last - cell.first));
}

// ---- The first lines, split.

struct SplitLine {
  std::vector<Cell> cells;
  std::vector<CellKind> kinds;
  std::vector<double> values;
  int numbers = 0;    // cells holding one number (finite or not)
  bool text = false;  // some cell holds something other than one number
  bool data = false;  // three or more numbers, or only numbers and empty cells
};

// The line split at the delimiter, a label before the first number ("Raw:12") dropped.
SplitLine splitLine(const char* first, const char* last, Delimiter delimiter,
                    std::string_view label = {}) {
  SplitLine line;
  splitCells(first, last, delimiter, line.cells);
  if (!line.cells.empty()) {
    line.cells[0] = withoutLabel(line.cells[0], label);
  }
  bool onlyNumbers = true;
  for (const Cell& cell : line.cells) {
    double value = 0.0;
    const CellKind kind = readCell(cell, value);
    line.kinds.push_back(kind);
    line.values.push_back(value);
    if (kind != CellKind::NotANumber) {
      ++line.numbers;
    } else if (cell.first != cell.last) {
      onlyNumbers = false;
    }
  }
  line.text = !onlyNumbers;
  line.data = line.numbers >= 3 || (line.numbers >= 1 && onlyNumbers);
  return line;
}

bool looksLikeData(const FirstLine& line) {
  const char* p = line.first;
  while (p != line.last && isBlank(*p)) {
    ++p;
  }
  return p != line.last && ((*p >= '0' && *p <= '9') || *p == '+' || *p == '-' || *p == '.');
}

Delimiter detectDelimiter(const std::vector<const FirstLine*>& content) {
  std::vector<const FirstLine*> lines;
  for (const FirstLine* line : content) {
    if (looksLikeData(*line)) {
      lines.push_back(line);
    }
  }
  if (lines.empty()) {
    lines = content;
  }
  if (lines.empty()) {
    return Delimiter::Comma;
  }
  Delimiter best = Delimiter::Blanks;
  std::size_t bestScore = 0;
  for (const Delimiter candidate : {Delimiter::Tab, Delimiter::Semicolon, Delimiter::Comma}) {
    // The number of lines on which the candidate occurs its most frequent (nonzero) number of
    // times.
    const char separator = delimiterChar(candidate);
    std::vector<std::size_t> counts;
    for (const FirstLine* line : lines) {
      const std::size_t count =
          static_cast<std::size_t>(std::count(line->first, line->last, separator));
      if (count > 0) {
        counts.push_back(count);
      }
    }
    std::sort(counts.begin(), counts.end());
    std::size_t score = 0;
    for (std::size_t k = 0; k < counts.size();) {
      std::size_t run = k;
      while (run < counts.size() && counts[run] == counts[k]) {
        ++run;
      }
      score = std::max(score, run - k);
      k = run;
    }
    if (score > bestScore) {
      best = candidate;
      bestScore = score;
    }
  }
  return 2 * bestScore >= lines.size() ? best : Delimiter::Blanks;
}

// Whether a cell holds a number written with a decimal comma: digits, a comma, digits.
bool hasDecimalComma(std::string_view text) {
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    text.remove_prefix(1);
  }
  const std::size_t comma = text.find(',');
  if (comma == std::string_view::npos || comma == 0 || comma + 1 == text.size()) {
    return false;
  }
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (k != comma && !(text[k] >= '0' && text[k] <= '9')) {
      return false;
    }
  }
  return true;
}

std::string_view trimmedName(const std::string& name) {
  const Cell cell = trimCell(name.data(), name.data() + name.size());
  return textOf(cell);
}

// Throws UsageError for one set of columns that is malformed; what is "" or "accelerometer ".
void checkColumnSet(const std::vector<std::string>& names, const std::vector<int>& indices,
                    const std::string& what) {
  if (!names.empty() && !indices.empty()) {
    throw UsageError(what + "columns are given both by name and by index; give one of the two");
  }
  if (!indices.empty()) {
    if (indices.size() != 3) {
      throw UsageError("three " + what + "column indices are needed (X, Y, Z), not " +
                       std::to_string(indices.size()));
    }
    for (std::size_t k = 0; k < 3; ++k) {
      if (indices[k] < 0) {
        throw UsageError(what + "column index " + std::to_string(indices[k]) +
                         " is negative; indices count from 0");
      }
      for (std::size_t j = 0; j < k; ++j) {
        if (indices[j] == indices[k]) {
          throw UsageError(what + "column index " + std::to_string(indices[k]) + " is given twice");
        }
      }
    }
  }
  if (!names.empty()) {
    if (names.size() != 3) {
      throw UsageError("three " + what + "column names are needed (X, Y, Z), not " +
                       std::to_string(names.size()));
    }
    for (std::size_t k = 0; k < 3; ++k) {
      if (trimmedName(names[k]).empty()) {
        throw UsageError(what + "column name " + std::to_string(k + 1) + " of 3 is empty");
      }
      for (std::size_t j = 0; j < k; ++j) {
        if (equalIgnoringCase(trimmedName(names[j]), trimmedName(names[k]))) {
          throw UsageError(what + "column name '" + printableText(names[k]) + "' is given twice");
        }
      }
    }
  }
}

}  // namespace

void checkColumnOptions(const ReadOptions& options) {
  checkColumnSet(options.columnNames, options.columnIndices, "");
  checkColumnSet(options.accelerometerColumnNames, options.accelerometerColumnIndices,
                 "accelerometer ");
  for (const int index : options.accelerometerColumnIndices) {
    if (std::find(options.columnIndices.begin(), options.columnIndices.end(), index) !=
        options.columnIndices.end()) {
      throw UsageError("column index " + std::to_string(index) +
                       " is given for the magnetometer and the accelerometer");
    }
  }
  for (const std::string& name : options.accelerometerColumnNames) {
    for (const std::string& magnetometer : options.columnNames) {
      if (equalIgnoringCase(trimmedName(name), trimmedName(magnetometer))) {
        throw UsageError("column '" + printableText(name) +
                         "' is given for the magnetometer and the accelerometer");
      }
    }
  }
}

namespace {

std::string joinCells(const std::vector<Cell>& cells) {
  std::string text;
  for (std::size_t k = 0; k < cells.size(); ++k) {
    text += (k == 0 ? "" : ", ") + printableText(textOf(cells[k]));
  }
  return text;
}

// X, Y and Z columns and why they were chosen.
struct Axes {
  std::array<int, 3> columns{{-1, -1, -1}};
  std::string rule;
  const std::vector<Cell>* header = nullptr;  // the header line they were named in, if any
};

class LayoutChooser {
 public:
  LayoutChooser(const std::vector<FirstLine>& lines, const ReadOptions& options,
                const std::string& sourceName)
      : lines_(lines), options_(options), sourceName_(sourceName) {}

  Layout choose() {
    checkColumnOptions(options_);
    for (const FirstLine& line : lines_) {
      if (!line.comment) {
        content_.push_back(&line);
      }
    }
    const std::optional<Delimiter> declared = declaredDelimiter();
    layout_.delimiter = options_.delimiter != Delimiter::Auto ? options_.delimiter
                        : declared                            ? *declared
                                                              : detectDelimiter(content_);
    for (const FirstLine* line : content_) {
      split_.push_back(splitLine(line->first, line->last, layout_.delimiter));
    }
    findHeaderLines();
    keepOneKind();
    findNumericColumns();
    chooseMagnetometerColumns();
    chooseAccelerometerColumns();
    findStatedUnits();
    warnOfDecimalCommas();
    return layout_;
  }

 private:
  // The delimiter a spreadsheet's first line declares: "sep=;", "sep=,", "sep=" and a tab.
  std::optional<Delimiter> declaredDelimiter() {
    if (content_.empty()) {
      return std::nullopt;
    }
    const Cell line = trimCell(content_[0]->first, content_[0]->last);
    const std::string_view text = textOf(line);
    const bool tab = text == "sep=" && content_[0]->last - content_[0]->first > 4 &&
                     std::string_view(content_[0]->first, 5) == "sep=\t";
    if (!tab && (text.size() != 5 || text.compare(0, 4, "sep=") != 0)) {
      return std::nullopt;
    }
    const char c = tab ? '\t' : text[4];
    const std::optional<Delimiter> declared = c == ','    ? std::optional(Delimiter::Comma)
                                              : c == ';'  ? std::optional(Delimiter::Semicolon)
                                              : c == '\t' ? std::optional(Delimiter::Tab)
                                                          : std::nullopt;
    sepLine_ = declared.has_value();
    return declared;
  }

  // Header lines, and the lines that may name the columns: the header lines, or without one the
  // last comment line before the first data line.
  void findHeaderLines() {
    const std::size_t count = split_.size();
    std::size_t firstData = count;
    for (std::size_t k = 0; k < count; ++k) {
      if (split_[k].data) {
        firstData = k;
        break;
      }
    }
    switch (options_.header) {
      case HeaderMode::Present:
        layout_.headerLines = sepLine_ ? 2 : 1;
        break;
      case HeaderMode::Absent:
        layout_.headerLines = sepLine_ ? 1 : 0;  // the sep= line is never data
        break;
      case HeaderMode::Auto:
        // Without a data line, only a first line with some text can be a header.
        layout_.headerLines = firstData < count ? firstData : count > 0 && split_[0].text ? 1 : 0;
        break;
    }
    const std::size_t headers = std::min(layout_.headerLines, count);
    for (std::size_t k = 0; k < headers; ++k) {
      headerCandidates_.push_back(split_[k].cells);
    }
    if (headers == 0 && options_.header != HeaderMode::Absent) {
      const FirstLine* end =
          firstData < count ? content_[firstData] : lines_.data() + lines_.size();
      const FirstLine* comment = nullptr;
      for (const FirstLine* line = lines_.data(); line != end; ++line) {
        if (line->comment) {
          comment = line;
        }
      }
      if (comment != nullptr) {
        const char* text = static_cast<const char*>(std::memchr(
            comment->first, '#', static_cast<std::size_t>(comment->last - comment->first)));
        std::vector<Cell> cells;
        splitCells(text + 1, comment->last, layout_.delimiter, cells);
        headerCandidates_.push_back(cells);
      }
    }
    dataBegin_ = headers;
  }

  // The kinds of the data lines after the header; when any carries a label or a unit, the lines
  // of the kind chosen are the ones looked at from here on, split again without the label before
  // their first number.
  void keepOneKind() {
    std::vector<LineKind> kinds;
    std::vector<int> kindOfLine(split_.size(), -1);
    bool labelled = false;
    for (std::size_t k = dataBegin_; k < split_.size(); ++k) {
      if (!split_[k].data) {
        continue;
      }
      const LineSignature signature = lineSignature(content_[k]->first, content_[k]->last);
      labelled = labelled || !signature.plain();
      int index = findKind(kinds, signature);
      if (index < 0) {
        index = static_cast<int>(kinds.size());
        kinds.push_back(kindOf(signature));
      }
      ++kinds[static_cast<std::size_t>(index)].lines;
      kindOfLine[k] = index;
    }
    if (!labelled) {
      for (std::size_t k = dataBegin_; k < split_.size(); ++k) {
        kept_.push_back(k);
      }
      return;
    }
    readMilliG(kinds);
    const int kept = chooseKind(kinds, sourceName_);
    for (std::size_t k = 0; k < kinds.size(); ++k) {
      kinds[k].kept = static_cast<int>(k) == kept;
      kinds[k].lines = 0;  // counted again by the reader
    }
    layout_.kinds = kinds;
    layout_.keptKind = kept;
    for (std::size_t k = dataBegin_; k < split_.size(); ++k) {
      if (kindOfLine[k] == kept && kept >= 0) {
        kept_.push_back(k);
      }
    }
    if (kept >= 0) {
      layout_.firstCellLabel = firstCellLabel(kinds[static_cast<std::size_t>(kept)].label);
      for (const std::size_t k : kept_) {
        split_[k] = splitLine(content_[k]->first, content_[k]->last, layout_.delimiter,
                              layout_.firstCellLabel);
      }
    }
  }

  // Lines in lower-case 'mg' are an accelerometer's in milli-g, unless the unit is given as
  // milligauss: then those not labelled as an accelerometer's are the magnetometer's. Said when
  // they are all there is.
  void readMilliG(std::vector<LineKind>& kinds) {
    const bool milligauss = options_.unit && options_.unit->unit == Unit::Milligauss;
    bool milliG = false;
    bool magnetometer = false;
    for (LineKind& kind : kinds) {
      const bool unlabelled =
          kind.label.empty() || classifyName(kind.label).sensor != Sensor::Accelerometer;
      if (kind.unit == "mg" && milligauss && unlabelled) {
        kind.sensor = Sensor::Magnetometer;
      }
      milliG = milliG || (kind.unit == "mg" && unlabelled);
      magnetometer = magnetometer || kind.sensor == Sensor::Magnetometer;
    }
    if (milliG && !magnetometer) {
      layout_.warnings.push_back(
          "'mg' after the values is read as milli-g, an accelerometer's unit; if they are a "
          "magnetometer's in milligauss (mG), give the unit as milligauss");
    }
  }

  // The label and its ':' or '=' when the kept lines write it before their first number.
  std::string firstCellLabel(const std::string& label) const {
    for (const std::size_t k : kept_) {
      const std::string_view first =
          split_[k].cells.empty() ? std::string_view() : textOf(split_[k].cells[0]);
      if (first.size() > label.size() + 1 && first.compare(0, label.size(), label) == 0 &&
          (first[label.size()] == ':' || first[label.size()] == '=')) {
        return std::string(first.substr(0, label.size() + 1));
      }
    }
    return {};
  }

  // The numeric columns: those holding a number on most kept lines of the most common cell count
  // among the kept lines with three or more numbers.
  void findNumericColumns() {
    std::vector<std::size_t> cellCounts;
    for (const std::size_t k : kept_) {
      if (split_[k].numbers >= 3) {
        cellCounts.push_back(split_[k].cells.size());
      }
    }
    if (cellCounts.empty()) {
      return;
    }
    std::sort(cellCounts.begin(), cellCounts.end());
    std::size_t bestRun = 0;
    for (std::size_t k = 0; k < cellCounts.size();) {
      std::size_t run = k;
      while (run < cellCounts.size() && cellCounts[run] == cellCounts[k]) {
        ++run;
      }
      if (run - k > bestRun) {
        bestRun = run - k;
        profileCells_ = cellCounts[k];
      }
      k = run;
    }
    for (const std::size_t k : kept_) {
      if (split_[k].numbers >= 3 && split_[k].cells.size() == profileCells_) {
        profile_.push_back(&split_[k]);
      }
    }
    for (std::size_t column = 0; column < profileCells_; ++column) {
      std::size_t numbers = 0;
      for (const SplitLine* line : profile_) {
        numbers += line->kinds[column] != CellKind::NotANumber ? 1 : 0;
      }
      if (2 * numbers > profile_.size()) {
        numeric_.push_back(static_cast<int>(column));
      }
    }
  }

  void setHeader(const std::vector<Cell>* cells) {
    header_ = cells;
    layout_.header.clear();
    if (cells != nullptr) {
      for (const Cell& cell : *cells) {
        layout_.header.push_back(printableText(textOf(cell)));
      }
    }
  }

  const std::vector<Cell>* lastHeader() const {
    return headerCandidates_.empty() ? nullptr : &headerCandidates_.back();
  }

  // ---- Columns.

  void chooseMagnetometerColumns() {
    Axes axes;
    if (!options_.columnIndices.empty()) {
      std::copy(options_.columnIndices.begin(), options_.columnIndices.end(), axes.columns.begin());
      axes.rule = "given by index";
      axes.header = lastHeader();
    } else if (!options_.columnNames.empty()) {
      axes = columnsByGivenNames(options_.columnNames, "");
    } else if (!layout_.kinds.empty() && layout_.keptKind < 0) {
      axes.columns = {{0, 1, 2}};
      axes.rule = "none: every kind of line is another sensor's";
      layout_.readsSamples = false;
    } else if (rawLayout()) {
      axes.columns = {{6, 7, 8}};
      axes.rule = "the Raw: layout's magnetometer, the last three of nine values";
      layout_.tenthsOfMicrotesla = true;
    } else {
      axes = chooseColumns();
    }
    layout_.columns = axes.columns;
    layout_.columnRule = axes.rule;
    setHeader(axes.header != nullptr ? axes.header : lastHeader());
  }

  // Raw: lines of nine integers: accelerometer, gyroscope, magnetometer.
  bool rawLayout() const {
    if (layout_.keptKind < 0 ||
        !isRawLabel(layout_.kinds[static_cast<std::size_t>(layout_.keptKind)].label) ||
        profileCells_ != 9 || numeric_.size() != 9) {
      return false;
    }
    for (const SplitLine* line : profile_) {
      for (std::size_t column = 0; column < 9; ++column) {
        const double value = line->values[column];
        if (line->kinds[column] == CellKind::Number && value != std::floor(value)) {
          return false;
        }
      }
    }
    return true;
  }

  void chooseAccelerometerColumns() {
    Axes axes;
    if (!options_.accelerometerColumnIndices.empty()) {
      std::copy(options_.accelerometerColumnIndices.begin(),
                options_.accelerometerColumnIndices.end(), axes.columns.begin());
      axes.rule = "given by index";
    } else if (!options_.accelerometerColumnNames.empty()) {
      axes = columnsByGivenNames(options_.accelerometerColumnNames, "accelerometer ");
    } else if (layout_.tenthsOfMicrotesla) {
      axes.columns = {{0, 1, 2}};
      axes.rule = "the Raw: layout's accelerometer, the first three of nine values";
    } else if (!columnsByAxisNames(Sensor::Accelerometer, axes)) {
      return;
    }
    for (const int column : axes.columns) {
      if (std::find(layout_.columns.begin(), layout_.columns.end(), column) !=
          layout_.columns.end()) {
        throw UsageError("column " + std::to_string(column + 1) + " of " + sourceName_ +
                         " cannot be the magnetometer's and the accelerometer's");
      }
    }
    layout_.accelerometerColumns = axes.columns;
    layout_.accelerometerColumnRule = axes.rule;
    accelerometerHeader_ = axes.header;
  }

  // The columns with the given names in the last header line that holds all three.
  Axes columnsByGivenNames(const std::vector<std::string>& names, const std::string& what) {
    for (auto line = headerCandidates_.rbegin(); line != headerCandidates_.rend(); ++line) {
      Axes axes;
      for (std::size_t axis = 0; axis < 3; ++axis) {
        for (std::size_t k = 0; k < line->size() && axes.columns[axis] < 0; ++k) {
          if (equalIgnoringCase(textOf((*line)[k]), trimmedName(names[axis]))) {
            axes.columns[axis] = static_cast<int>(k);
          }
        }
      }
      if (axes.columns[0] >= 0 && axes.columns[1] >= 0 && axes.columns[2] >= 0) {
        axes.rule = "named '" + printableText(names[0]) + "', '" + printableText(names[1]) +
                    "', '" + printableText(names[2]) + "'";
        axes.header = &*line;
        return axes;
      }
    }
    if (headerCandidates_.empty()) {
      throw UsageError(sourceName_ + " has no header line in which to find " + what + "column '" +
                       printableText(names[0]) + "'");
    }
    const std::vector<Cell>& last = headerCandidates_.back();
    for (const std::string& name : names) {
      const bool present = std::any_of(last.begin(), last.end(), [&](const Cell& cell) {
        return equalIgnoringCase(textOf(cell), trimmedName(name));
      });
      if (!present) {
        throw UsageError(what + "column '" + printableText(name) + "' is not in the header of " +
                         sourceName_ + ", which names: " + joinCells(last));
      }
    }
    throw UsageError(what + "columns '" + printableText(names[0]) + "', '" +
                     printableText(names[1]) + "', '" + printableText(names[2]) +
                     "' are not all in one header line of " + sourceName_);
  }

  // The X, Y and Z columns of the sensor named in one header line among the numeric columns; for
  // the magnetometer, bare axis names (x, y, z) where no line names the magnetometer's.
  bool columnsByAxisNames(Sensor sensor, Axes& axes) const {
    std::vector<Sensor> ranks{sensor};
    if (sensor == Sensor::Magnetometer) {
      ranks.push_back(Sensor::Unknown);
    }
    for (auto line = headerCandidates_.rbegin(); line != headerCandidates_.rend(); ++line) {
      std::vector<NameInfo> infos;
      for (const int column : numeric_) {
        infos.push_back(static_cast<std::size_t>(column) < line->size()
                            ? classifyName(textOf((*line)[static_cast<std::size_t>(column)]))
                            : NameInfo{});
      }
      for (const Sensor rank : ranks) {
        std::array<int, 3> found{{-1, -1, -1}};
        for (std::size_t k = 0; k < numeric_.size(); ++k) {
          const NameInfo& info = infos[k];
          if (info.axis >= 0 && info.sensor == rank && found[info.axis] < 0) {
            found[info.axis] = numeric_[k];
          }
        }
        if (found[0] >= 0 && found[1] >= 0 && found[2] >= 0) {
          axes.columns = found;
          axes.rule = "named ";
          for (std::size_t axis = 0; axis < 3; ++axis) {
            axes.rule += (axis == 0 ? "" : ", ") + nameOf(&*line, found[axis]);
          }
          axes.header = &*line;
          return true;
        }
      }
    }
    return false;
  }

  // The header name of a column, or "column N" counted from 1.
  static std::string nameOf(const std::vector<Cell>* header, int column) {
    const std::size_t index = static_cast<std::size_t>(column);
    if (header != nullptr && index < header->size() &&
        (*header)[index].first != (*header)[index].last) {
      return "'" + printableText(textOf((*header)[index])) + "'";
    }
    return "column " + std::to_string(column + 1);
  }

  // Whether the column rises like a time stamp or a counter over the first data lines: a number
  // on each of at least 8 of them, never decreasing, and the last above the first.
  bool rises(int column) const {
    const std::size_t index = static_cast<std::size_t>(column);
    if (profile_.size() < 8) {
      return false;
    }
    for (std::size_t k = 0; k < profile_.size(); ++k) {
      if (profile_[k]->kinds[index] != CellKind::Number ||
          (k > 0 && profile_[k]->values[index] < profile_[k - 1]->values[index])) {
        return false;
      }
    }
    return profile_.back()->values[index] > profile_.front()->values[index];
  }

  // Whether the column holds the same number on each of at least 8 first data lines.
  bool constant(int column) const {
    const std::size_t index = static_cast<std::size_t>(column);
    if (profile_.size() < 8) {
      return false;
    }
    return std::all_of(profile_.begin(), profile_.end(), [&](const SplitLine* line) {
      return line->kinds[index] == CellKind::Number &&
             line->values[index] == profile_.front()->values[index];
    });
  }

  bool namedTime(int column) const {
    const std::size_t index = static_cast<std::size_t>(column);
    const std::vector<Cell>* header = lastHeader();
    return header != nullptr && index < header->size() &&
           classifyName(textOf((*header)[index])).time;
  }

  Axes chooseColumns() {
    Axes axes;
    axes.header = lastHeader();
    if (numeric_.size() < 3) {
      axes.columns = {{0, 1, 2}};
      axes.rule = "the first lines hold fewer than three numeric columns";
      layout_.readsSamples = false;
      return axes;
    }
    if (columnsByAxisNames(Sensor::Magnetometer, axes)) {
      return axes;
    }
    if (numeric_.size() == 3) {
      axes.columns = {{numeric_[0], numeric_[1], numeric_[2]}};
      axes.rule = "the only three numeric columns";
      return axes;
    }
    return columnsLeft();
  }

  // Rule 4: the numeric columns left without the time stamps and counters (named anywhere, or
  // rising at the front while more than three are left) and the columns that never change, when
  // they are three.
  Axes columnsLeft() const {
    std::vector<int> left;
    std::string times;
    std::string constants;
    const auto add = [this](std::string& list, int column) {
      list += (list.empty() ? "" : ", ") + nameOf(lastHeader(), column);
    };
    for (const int column : numeric_) {
      if (namedTime(column)) {
        add(times, column);
      } else if (constant(column)) {
        add(constants, column);
      } else {
        left.push_back(column);
      }
    }
    while (left.size() > 3 && rises(left.front())) {
      add(times, left.front());
      left.erase(left.begin());
    }
    if (left.size() != 3) {
      throw AmbiguousInput(ambiguityMessage(), sourceName_, candidateColumns(), {});
    }
    Axes axes;
    axes.header = lastHeader();
    axes.columns = {{left[0], left[1], left[2]}};
    axes.rule = "the three numeric columns left";
    if (!times.empty()) {
      axes.rule += " after the time stamp or counter " + times;
    }
    if (!constants.empty()) {
      axes.rule += std::string(times.empty() ? "" : ",") + " without the constant " + constants;
    }
    return axes;
  }

  std::vector<AmbiguousInput::Column> candidateColumns() const {
    std::vector<AmbiguousInput::Column> columns;
    const std::vector<Cell>* header = lastHeader();
    for (const int column : numeric_) {
      const std::size_t index = static_cast<std::size_t>(column);
      AmbiguousInput::Column c;
      c.index = column;
      if (header != nullptr && index < header->size()) {
        c.name = printableText(textOf((*header)[index]), 60);
      }
      c.min = std::numeric_limits<double>::infinity();
      c.max = -c.min;
      for (const SplitLine* line : profile_) {
        if (line->kinds[index] == CellKind::Number) {
          c.min = std::min(c.min, line->values[index]);
          c.max = std::max(c.max, line->values[index]);
        }
      }
      c.time = namedTime(column) || rises(column);
      c.constant = constant(column);
      columns.push_back(c);
    }
    return columns;
  }

  std::string ambiguityMessage() const {
    std::string message = sourceName_ + ": " + std::to_string(numeric_.size()) +
                          " numeric columns and nothing names the magnetometer's X, Y and Z:";
    for (const AmbiguousInput::Column& c : candidateColumns()) {
      message += " column " + std::to_string(c.index + 1) +
                 (c.name.empty() ? "" : " '" + c.name + "'") + " " + shortestText(c.min) + " to " +
                 shortestText(c.max) + ";";
    }
    message.back() = '.';
    return message;
  }

  // ---- Units.

  // The one unit the names of three columns give, of the sensor.
  static std::optional<WrittenUnit> unitOfNames(const std::vector<Cell>* header,
                                                const std::array<int, 3>& columns, Sensor sensor) {
    if (header == nullptr) {
      return std::nullopt;
    }
    std::optional<WrittenUnit> found;
    for (const int column : columns) {
      const std::size_t index = static_cast<std::size_t>(column);
      const WrittenUnit unit =
          index < header->size() ? unitInName(textOf((*header)[index])) : WrittenUnit{};
      const bool same = !found || (sensor == Sensor::Magnetometer
                                       ? sameUnit(found->magnetometer, unit.magnetometer)
                                       : found->accelerometer.unit == unit.accelerometer.unit);
      if (unit.sensor != sensor || !same) {
        return std::nullopt;
      }
      found = unit;
    }
    return found;
  }

  void findStatedUnits() {
    const std::optional<WrittenUnit> named =
        unitOfNames(header_, layout_.columns, Sensor::Magnetometer);
    const std::string kindUnit =
        layout_.keptKind >= 0 ? layout_.kinds[static_cast<std::size_t>(layout_.keptKind)].unit
                              : std::string();
    const WrittenUnit written = unitOfWord(kindUnit);
    if (named) {
      layout_.statedUnit = named->magnetometer;
      layout_.statedSource = UnitSource::Header;
      layout_.statedRule = "from the header";
    } else if (written.sensor == Sensor::Magnetometer) {
      layout_.statedUnit = written.magnetometer;
      layout_.statedSource = UnitSource::Detected;
      layout_.statedRule = "written after the values";
    } else if (layout_.tenthsOfMicrotesla) {
      layout_.statedUnit = SampleUnit{Unit::Milligauss};  // a tenth of a microtesla
      layout_.statedSource = UnitSource::Detected;
      layout_.statedRule = "the Raw: layout's tenths of a microtesla";
    } else if (magneticFieldInTesla()) {
      layout_.statedUnit = SampleUnit{Unit::Tesla};
      layout_.statedSource = UnitSource::Detected;
      layout_.statedRule = "a 'magnetic_field' message's unit, as the size of the values shows";
    }
    if (layout_.accelerometerColumns[0] >= 0) {
      const std::optional<WrittenUnit> accelerometer =
          unitOfNames(accelerometerHeader_ != nullptr ? accelerometerHeader_ : header_,
                      layout_.accelerometerColumns, Sensor::Accelerometer);
      if (accelerometer) {
        layout_.accelerometerUnit = accelerometer->accelerometer;
      }
    }
  }

  // Columns named for a robot's MagneticField message (field.magnetic_field.x) hold tesla: the
  // Earth's field is 2.5e-5 to 6.5e-5 T. Taken when the median magnitude over the first lines is
  // between 1e-6 and 1e-3, far below any other unit's.
  bool magneticFieldInTesla() const {
    if (header_ == nullptr || profile_.empty()) {
      return false;
    }
    for (const int column : layout_.columns) {
      const std::size_t index = static_cast<std::size_t>(column);
      if (index >= header_->size() ||
          textOf((*header_)[index]).find("magnetic_field") == std::string_view::npos) {
        return false;
      }
    }
    std::vector<double> magnitudes;
    for (const SplitLine* line : profile_) {
      double sum = 0.0;
      for (const int column : layout_.columns) {
        const std::size_t index = static_cast<std::size_t>(column);
        const double value = index < line->values.size() ? line->values[index] : 0.0;
        sum += value * value;
      }
      magnitudes.push_back(std::sqrt(sum));
    }
    std::nth_element(magnitudes.begin(), magnitudes.begin() + magnitudes.size() / 2,
                     magnitudes.end());
    const double median = magnitudes[magnitudes.size() / 2];
    return median > 1e-6 && median < 1e-3;
  }

  // Numbers written with decimal commas beside another delimiter read as no number at all.
  void warnOfDecimalCommas() {
    if (numeric_.size() >= 3 || layout_.delimiter == Delimiter::Comma) {
      return;
    }
    for (const SplitLine& line : split_) {
      for (const Cell& cell : line.cells) {
        if (hasDecimalComma(textOf(cell))) {
          layout_.warnings.push_back(
              "numbers such as '" + printableText(textOf(cell), 40) +
              "' are written with a decimal comma, which is not read: write them with decimal "
              "points");
          return;
        }
      }
    }
  }

  const std::vector<FirstLine>& lines_;
  const ReadOptions& options_;
  const std::string& sourceName_;
  Layout layout_;
  std::vector<const FirstLine*> content_;            // the first lines that are not comments
  std::vector<SplitLine> split_;                     // content_, split
  std::vector<std::vector<Cell>> headerCandidates_;  // lines that may name the columns
  std::size_t dataBegin_ = 0;                        // first line of split_ after the header
  std::vector<std::size_t> kept_;              // lines of split_ after the header of the kept kind
  std::size_t profileCells_ = 0;               // the most common cell count of kept data lines
  std::vector<const SplitLine*> profile_;      // kept data lines of that cell count
  std::vector<int> numeric_;                   // numeric columns, ascending
  const std::vector<Cell>* header_ = nullptr;  // the header line of layout_.header
  const std::vector<Cell>* accelerometerHeader_ = nullptr;
  bool sepLine_ = false;  // the first line declares the delimiter
};

}  // namespace

Layout chooseLayout(const std::vector<FirstLine>& lines, const ReadOptions& options,
                    const std::string& sourceName) {
  Layout layout;
  try {
    layout = LayoutChooser(lines, options, sourceName).choose();
  } catch (const AmbiguousInput& error) {
    // Numbers in cells without names may be values the lines name ("t=1 ax=0.1 ... mx=20"):
    // read by name only when the names are the magnetometer's.
    std::optional<Layout> labelled =
        error.kinds().empty() ? chooseLabelledLayout(lines, options, sourceName, Layout{}, true)
                              : std::nullopt;
    if (!labelled) {
      throw;
    }
    return *labelled;
  }
  if (layout.readsSamples) {
    return layout;
  }
  std::optional<Layout> labelled = chooseLabelledLayout(lines, options, sourceName, layout, false);
  return labelled ? *labelled : layout;
}

}  // namespace fluxtrim::detail
