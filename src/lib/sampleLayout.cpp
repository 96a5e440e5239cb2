#include "sampleLayout.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "fluxtrim/error.hpp"
#include "fluxtrim/text.hpp"
#include "numparse.hpp"

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

// ---- Names of columns.

bool isIn(std::string_view word, std::initializer_list<std::string_view> words) {
  return std::find(words.begin(), words.end(), word) != words.end();
}

// Words that make a column name a magnetometer's, alone or before an axis letter (magx, bx).
bool isMagnetometerWord(std::string_view word) {
  return isIn(word, {"mag", "magn", "magnet", "magnetic", "magnetometer", "magnetom", "compass",
                     "field", "bfield", "mf", "b", "m", "h"});
}

// Words of other sensors and quantities that come in X, Y and Z too.
bool isOtherSensorWord(std::string_view word) {
  return isIn(
      word,
      {"a",    "acc",       "accel",      "acceleration", "accelerometer", "g",           "gyr",
       "gyro", "gyroscope", "w",          "omega",        "rot",           "rotation",    "rate",
       "ang",  "angle",     "angular",    "grav",         "gravity",       "lin",         "linear",
       "q",    "quat",      "quaternion", "euler",        "orient",        "orientation", "p",
       "pos",  "position",  "v",          "vel",          "velocity",      "speed",       "r"});
}

// Words of time stamp and counter columns.
bool isTimeWord(std::string_view word) {
  return isIn(word,
              {"time",        "t",        "timestamp", "stamp",        "ts",     "date",
               "datetime",    "clock",    "ms",        "msec",         "millis", "milliseconds",
               "us",          "usec",     "micros",    "microseconds", "ns",     "nanos",
               "nanoseconds", "s",        "sec",       "secs",         "second", "seconds",
               "elapsed",     "epoch",    "utc",       "unix",         "tick",   "ticks",
               "counter",     "count",    "cnt",       "index",        "idx",    "i",
               "n",           "no",       "nr",        "num",          "number", "sample",
               "seq",         "sequence", "frame",     "id",           "row",    "line"});
}

int axisOf(char letter) {
  return letter == 'x' ? 0 : letter == 'y' ? 1 : letter == 'z' ? 2 : -1;
}

// The lower-case words of a column name: split at characters other than ASCII letters and
// digits and where a lower-case letter is followed by an upper-case one; text in brackets (a
// unit, usually) is dropped.
std::vector<std::string> nameWords(std::string_view name) {
  std::vector<std::string> words;
  std::string word;
  int depth = 0;
  char previous = ' ';
  for (const char c : name) {
    if (c == '(' || c == '[' || c == '{') {
      ++depth;
    } else if ((c == ')' || c == ']' || c == '}') && depth > 0) {
      --depth;
    }
    const bool upper = c >= 'A' && c <= 'Z';
    const bool lower = c >= 'a' && c <= 'z';
    const bool digit = c >= '0' && c <= '9';
    const bool inWord = depth == 0 && (upper || lower || digit);
    if (!word.empty() && (!inWord || (upper && previous >= 'a' && previous <= 'z'))) {
      words.push_back(word);
      word.clear();
    }
    if (inWord) {
      word += upper ? static_cast<char>(c - 'A' + 'a') : c;
    }
    previous = c;
  }
  if (!word.empty()) {
    words.push_back(word);
  }
  return words;
}

struct NameInfo {
  int axis = -1;      // 0, 1, 2 for X, Y, Z
  int rank = 0;       // 2 magnetometer axis, 1 bare axis, 0 not a magnetometer axis
  bool time = false;  // a time stamp or counter name
};

NameInfo classifyName(std::string_view name) {
  NameInfo info;
  bool magnetometer = false;
  bool other = false;
  bool time = false;
  int axes = 0;
  for (const std::string& word : nameWords(name)) {
    if (word.size() == 1 && axisOf(word[0]) >= 0) {
      info.axis = axisOf(word[0]);
      ++axes;
    } else if (word.size() >= 2 && axisOf(word.back()) >= 0) {
      const std::string_view prefix(word.data(), word.size() - 1);
      if (isMagnetometerWord(prefix) || isOtherSensorWord(prefix)) {
        info.axis = axisOf(word.back());
        ++axes;
        magnetometer = magnetometer || isMagnetometerWord(prefix);
        other = other || isOtherSensorWord(prefix);
      }
    }
    magnetometer = magnetometer || isMagnetometerWord(word);
    other = other || isOtherSensorWord(word);
    time = time || isTimeWord(word);
  }
  if (axes != 1) {
    info.axis = -1;
  }
  info.rank = info.axis < 0 || other ? 0 : magnetometer ? 2 : 1;
  info.time = time && axes == 0;
  return info;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t k = 0; k < a.size(); ++k) {
    char x = a[k];
    char y = b[k];
    x = (x >= 'A' && x <= 'Z') ? static_cast<char>(x - 'A' + 'a') : x;
    y = (y >= 'A' && y <= 'Z') ? static_cast<char>(y - 'A' + 'a') : y;
    if (x != y) {
      return false;
    }
  }
  return true;
}

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

SplitLine splitLine(const char* first, const char* last, Delimiter delimiter) {
  SplitLine line;
  splitCells(first, last, delimiter, line.cells);
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

std::string_view trimmedName(const std::string& name) {
  const Cell cell = trimCell(name.data(), name.data() + name.size());
  return textOf(cell);
}

}  // namespace

void checkColumnOptions(const ReadOptions& options) {
  if (!options.columnNames.empty() && !options.columnIndices.empty()) {
    throw UsageError("columns are given both by name and by index; give one of the two");
  }
  if (!options.columnIndices.empty()) {
    const std::vector<int>& indices = options.columnIndices;
    if (indices.size() != 3) {
      throw UsageError("three column indices are needed (X, Y, Z), not " +
                       std::to_string(indices.size()));
    }
    for (std::size_t k = 0; k < 3; ++k) {
      if (indices[k] < 0) {
        throw UsageError("column index " + std::to_string(indices[k]) +
                         " is negative; indices count from 0");
      }
      for (std::size_t j = 0; j < k; ++j) {
        if (indices[j] == indices[k]) {
          throw UsageError("column index " + std::to_string(indices[k]) + " is given twice");
        }
      }
    }
  }
  if (!options.columnNames.empty()) {
    const std::vector<std::string>& names = options.columnNames;
    if (names.size() != 3) {
      throw UsageError("three column names are needed (X, Y, Z), not " +
                       std::to_string(names.size()));
    }
    for (std::size_t k = 0; k < 3; ++k) {
      if (trimmedName(names[k]).empty()) {
        throw UsageError("column name " + std::to_string(k + 1) + " of 3 is empty");
      }
      for (std::size_t j = 0; j < k; ++j) {
        if (equalIgnoringCase(trimmedName(names[j]), trimmedName(names[k]))) {
          throw UsageError("column name '" + printableText(names[k]) + "' is given twice");
        }
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

class LayoutChooser {
 public:
  LayoutChooser(const std::vector<FirstLine>& lines, const ReadOptions& options,
                const std::string& sourceName)
      : lines_(lines), options_(options), sourceName_(sourceName) {}

  Layout choose() {
    checkColumnOptions(options_);
    std::vector<const FirstLine*> content;
    for (const FirstLine& line : lines_) {
      if (!line.comment) {
        content.push_back(&line);
      }
    }
    layout_.delimiter =
        options_.delimiter == Delimiter::Auto ? detectDelimiter(content) : options_.delimiter;
    for (const FirstLine* line : content) {
      split_.push_back(splitLine(line->first, line->last, layout_.delimiter));
    }
    findHeaderLines(content);
    findNumericColumns();
    if (!options_.columnIndices.empty()) {
      std::copy(options_.columnIndices.begin(), options_.columnIndices.end(),
                layout_.columns.begin());
      layout_.columnRule = "given by index";
      setHeader(headerCandidates_.empty() ? nullptr : &headerCandidates_.back());
    } else if (!options_.columnNames.empty()) {
      columnsByGivenNames();
    } else {
      chooseColumns();
    }
    return layout_;
  }

 private:
  // Header lines, and the lines that may name the columns: the header lines, or without one the
  // last comment line before the first data line.
  void findHeaderLines(const std::vector<const FirstLine*>& content) {
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
        layout_.headerLines = 1;
        break;
      case HeaderMode::Absent:
        layout_.headerLines = 0;
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
      const FirstLine* end = firstData < count ? content[firstData] : lines_.data() + lines_.size();
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

  // The numeric columns: those holding a number on most data lines of the most common cell count
  // among the first lines with three or more numbers.
  void findNumericColumns() {
    std::vector<std::size_t> cellCounts;
    for (std::size_t k = dataBegin_; k < split_.size(); ++k) {
      if (split_[k].numbers >= 3) {
        cellCounts.push_back(split_[k].cells.size());
      }
    }
    if (cellCounts.empty()) {
      return;
    }
    std::vector<std::size_t> sorted = cellCounts;
    std::sort(sorted.begin(), sorted.end());
    std::size_t bestRun = 0;
    for (std::size_t k = 0; k < sorted.size();) {
      std::size_t run = k;
      while (run < sorted.size() && sorted[run] == sorted[k]) {
        ++run;
      }
      if (run - k > bestRun) {
        bestRun = run - k;
        profileCells_ = sorted[k];
      }
      k = run;
    }
    for (std::size_t k = dataBegin_; k < split_.size(); ++k) {
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
    layout_.header.clear();
    if (cells != nullptr) {
      for (const Cell& cell : *cells) {
        layout_.header.push_back(printableText(textOf(cell)));
      }
    }
  }

  void columnsByGivenNames() {
    const std::vector<std::string>& names = options_.columnNames;
    for (auto line = headerCandidates_.rbegin(); line != headerCandidates_.rend(); ++line) {
      std::array<int, 3> found{{-1, -1, -1}};
      for (std::size_t axis = 0; axis < 3; ++axis) {
        for (std::size_t k = 0; k < line->size() && found[axis] < 0; ++k) {
          if (equalIgnoringCase(textOf((*line)[k]), trimmedName(names[axis]))) {
            found[axis] = static_cast<int>(k);
          }
        }
      }
      if (found[0] >= 0 && found[1] >= 0 && found[2] >= 0) {
        layout_.columns = found;
        layout_.columnRule = "named '" + printableText(names[0]) + "', '" +
                             printableText(names[1]) + "', '" + printableText(names[2]) + "'";
        setHeader(&*line);
        return;
      }
    }
    if (headerCandidates_.empty()) {
      throw UsageError(sourceName_ + " has no header line in which to find column '" +
                       printableText(names[0]) + "'");
    }
    const std::vector<Cell>& last = headerCandidates_.back();
    for (const std::string& name : names) {
      const bool present = std::any_of(last.begin(), last.end(), [&](const Cell& cell) {
        return equalIgnoringCase(textOf(cell), trimmedName(name));
      });
      if (!present) {
        throw UsageError("column '" + printableText(name) + "' is not in the header of " +
                         sourceName_ + ", which names: " + joinCells(last));
      }
    }
    throw UsageError("columns '" + printableText(names[0]) + "', '" + printableText(names[1]) +
                     "', '" + printableText(names[2]) + "' are not all in one header line of " +
                     sourceName_);
  }

  // The X, Y and Z columns named in one header line, at the best rank; empty when no header
  // line names all three among the numeric columns.
  bool columnsByAxisNames() {
    for (auto line = headerCandidates_.rbegin(); line != headerCandidates_.rend(); ++line) {
      std::vector<NameInfo> infos;
      for (const int column : numeric_) {
        infos.push_back(static_cast<std::size_t>(column) < line->size()
                            ? classifyName(textOf((*line)[static_cast<std::size_t>(column)]))
                            : NameInfo{});
      }
      for (const int rank : {2, 1}) {
        std::array<int, 3> found{{-1, -1, -1}};
        for (std::size_t k = 0; k < numeric_.size(); ++k) {
          const NameInfo& info = infos[k];
          if (info.axis >= 0 && info.rank >= rank && found[info.axis] < 0) {
            found[info.axis] = numeric_[k];
          }
        }
        if (found[0] >= 0 && found[1] >= 0 && found[2] >= 0) {
          layout_.columns = found;
          layout_.columnRule = "named ";
          for (std::size_t axis = 0; axis < 3; ++axis) {
            layout_.columnRule += (axis == 0 ? "" : ", ") + nameOf(&*line, found[axis]);
          }
          setHeader(&*line);
          return true;
        }
      }
    }
    return false;
  }

  // The header name of a column, or "column N".
  std::string nameOf(const std::vector<Cell>* header, int column) const {
    const std::size_t index = static_cast<std::size_t>(column);
    if (header != nullptr && index < header->size() &&
        (*header)[index].first != (*header)[index].last) {
      return "'" + printableText(textOf((*header)[index])) + "'";
    }
    return "column " + std::to_string(column);
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

  void chooseColumns() {
    const std::vector<Cell>* header =
        headerCandidates_.empty() ? nullptr : &headerCandidates_.back();
    setHeader(header);
    if (numeric_.size() < 3) {
      layout_.columns = {{0, 1, 2}};
      layout_.columnRule =
          "columns 0, 1 and 2: the first lines hold fewer than three numeric columns";
      return;
    }
    if (columnsByAxisNames()) {
      return;
    }
    if (numeric_.size() == 3) {
      layout_.columns = {{numeric_[0], numeric_[1], numeric_[2]}};
      layout_.columnRule = "the only three numeric columns";
      return;
    }
    std::size_t skip = 0;
    std::string skipped;
    while (numeric_.size() - skip > 3) {
      const int column = numeric_[skip];
      const std::size_t index = static_cast<std::size_t>(column);
      const bool named = header != nullptr && index < header->size() &&
                         classifyName(textOf((*header)[index])).time;
      if (!named && !rises(column)) {
        break;
      }
      skipped += (skip == 0 ? "" : ", ") + nameOf(header, column);
      ++skip;
    }
    layout_.columns = {{numeric_[skip], numeric_[skip + 1], numeric_[skip + 2]}};
    layout_.columnRule = skip == 0 ? "the first three numeric columns"
                                   : "the first three numeric columns after the time stamp or "
                                     "counter " +
                                         skipped;
  }

  const std::vector<FirstLine>& lines_;
  const ReadOptions& options_;
  const std::string& sourceName_;
  Layout layout_;
  std::vector<SplitLine> split_;                     // the first lines that are not comments
  std::vector<std::vector<Cell>> headerCandidates_;  // lines that may name the columns
  std::size_t dataBegin_ = 0;                        // first line of split_ after the header
  std::size_t profileCells_ = 0;                     // the most common cell count of data lines
  std::vector<const SplitLine*> profile_;            // data lines of that cell count
  std::vector<int> numeric_;                         // numeric columns, ascending
};

}  // namespace

Layout chooseLayout(const std::vector<FirstLine>& lines, const ReadOptions& options,
                    const std::string& sourceName) {
  return LayoutChooser(lines, options, sourceName).choose();
}

}  // namespace fluxtrim::detail
