// Stand-in for the library's reader of samples (fluxtrim/samples.hpp), linked into the command
// only while no library source defines readSamples (see ../CMakeLists.txt). It follows the
// header's contract in a simple way: the whole input is held in memory, the delimiter is the
// first of semicolon, comma and tab found in the first lines (else blanks), and the default
// columns are the first three, or the three after a leading one when lines have more cells.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "fluxtrim/error.hpp"
#include "fluxtrim/samples.hpp"

namespace fluxtrim {

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string trimmed(const std::string& text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && isBlank(text[first])) ++first;
  while (last > first && isBlank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

std::vector<std::string> cellsOf(const std::string& line, Delimiter delimiter) {
  std::vector<std::string> cells;
  if (delimiter == Delimiter::Blanks) {
    std::size_t i = 0;
    while (i < line.size()) {
      while (i < line.size() && isBlank(line[i])) ++i;
      const std::size_t start = i;
      while (i < line.size() && !isBlank(line[i])) ++i;
      if (i > start) cells.push_back(line.substr(start, i - start));
    }
    return cells;
  }
  const char separator = delimiter == Delimiter::Semicolon ? ';'
                         : delimiter == Delimiter::Tab     ? '\t'
                                                           : ',';
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = line.find(separator, start);
    cells.push_back(trimmed(line.substr(start, end - start)));
    if (end == std::string::npos) return cells;
    start = end + 1;
  }
}

// The problem of one cell, or none (value set) when it holds exactly one finite number.
bool convertCell(const std::string& cell, double& value, LineProblem& problem) {
  if (cell.empty()) {
    problem = LineProblem::NotANumber;
    return false;
  }
  char* end = nullptr;
  errno = 0;
  value = std::strtod(cell.c_str(), &end);
  if (*end != '\0') {
    problem = LineProblem::NotANumber;
    return false;
  }
  if (errno == ERANGE && std::isinf(value)) {
    problem = LineProblem::OutOfRange;
    return false;
  }
  if (!std::isfinite(value)) {
    problem = LineProblem::NotFinite;
    return false;
  }
  return true;
}

std::string lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace

SampleSet readSamples(const std::string& path, const ReadOptions& options) {
  if (path == "-") return readSamples(std::cin, options, "-");
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    throw IoError("cannot read '" + path + "': it is a directory");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw IoError("cannot open '" + path + "': " + std::strerror(errno));
  return readSamples(in, options, path);
}

SampleSet readSamples(std::istream& in, const ReadOptions& options, const std::string& source) {
  std::uint64_t total = 0;
  if (source != "-") {
    std::error_code error;
    const auto size = std::filesystem::file_size(source, error);
    if (!error) total = size;
  }
  std::vector<std::string> lines;
  std::uint64_t bytes = 0;
  std::uint64_t reported = 0;
  for (std::string line; std::getline(in, line);) {
    bytes += line.size() + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    if (options.progress && bytes - reported >= (1u << 20)) {
      options.progress(bytes, total);
      reported = bytes;
    }
  }
  if (in.bad()) {
    throw IoError("cannot read " +
                  (source == "-" ? std::string("standard input") : "'" + source + "'") +
                  " to its end");
  }

  SampleSet set;
  set.source = source;
  set.unitGiven = options.unit.has_value();
  set.unit = options.unit.value_or(SampleUnit{});
  ReadSummary& s = set.summary;
  s.lines = lines.size();

  Delimiter delimiter = options.delimiter;
  if (delimiter == Delimiter::Auto) {
    delimiter = Delimiter::Blanks;
    for (std::size_t i = 0; i < lines.size() && i < 20; ++i) {
      if (lines[i].find(';') != std::string::npos)
        delimiter = Delimiter::Semicolon;
      else if (lines[i].find(',') != std::string::npos && delimiter != Delimiter::Semicolon)
        delimiter = Delimiter::Comma;
      else if (lines[i].find('\t') != std::string::npos && delimiter == Delimiter::Blanks)
        delimiter = Delimiter::Tab;
    }
  }
  s.delimiter = delimiter;

  // Default columns from the first line of numbers: the first three, or the three after a
  // leading one.
  std::array<int, 3> columns{{0, 1, 2}};
  const bool byName = !options.columnNames.empty();
  if (!options.columnIndices.empty()) {
    for (int k = 0; k < 3; ++k) columns[k] = options.columnIndices[k];
  } else if (!byName) {
    for (const std::string& line : lines) {
      const std::vector<std::string> cells = cellsOf(line, delimiter);
      double value;
      LineProblem problem;
      if (cells.size() >= 3 && std::all_of(cells.begin(), cells.end(), [&](const std::string& c) {
            return convertCell(c, value, problem);
          })) {
        if (cells.size() > 3) columns = {{1, 2, 3}};
        break;
      }
    }
  }

  bool sampleSeen = false;
  std::size_t widest = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (trimmed(line).empty()) {
      ++s.blankLines;
      continue;
    }
    const std::vector<std::string> cells = cellsOf(line, delimiter);
    widest = std::max(widest, cells.size());
    const bool headerHere = options.header == HeaderMode::Present  ? i == 0 && s.headerLines == 0
                            : options.header == HeaderMode::Absent ? false
                                                                   : !sampleSeen;
    if (byName && headerHere && s.header.empty()) {
      for (int k = 0; k < 3; ++k) {
        const auto found = std::find_if(cells.begin(), cells.end(), [&](const std::string& c) {
          return lower(c) == lower(options.columnNames[k]);
        });
        if (found == cells.end()) {
          throw UsageError("column '" + options.columnNames[k] + "' is not in the header of " +
                           source);
        }
        columns[k] = static_cast<int>(found - cells.begin());
      }
    }
    Vec3 value{};
    LineProblem problem = LineProblem::TooFewCells;
    int column = -1;
    bool ok = true;
    for (int k = 0; k < 3 && ok; ++k) {
      if (static_cast<std::size_t>(columns[k]) >= cells.size()) {
        ok = false;
        problem = LineProblem::TooFewCells;
        column = -1;
      } else if (!convertCell(cells[columns[k]], value[k], problem)) {
        ok = false;
        column = columns[k];
      }
    }
    if (!ok && headerHere &&
        (options.header != HeaderMode::Auto || problem == LineProblem::NotANumber)) {
      ++s.headerLines;
      s.header = cells;
      continue;
    }
    if (byName && s.header.empty()) {
      throw UsageError("columns are chosen by name but " + source + " has no header line");
    }
    if (ok) {
      sampleSeen = true;
      ++s.sampleLines;
      set.values.push_back(value);
      set.lineNumbers.push_back(i + 1);
      continue;
    }
    ++s.skippedLines;
    ++s.skippedByProblem[static_cast<int>(problem)];
    if (s.skipped.size() < options.maxListedLines) {
      s.skipped.push_back(SkippedLine{i + 1, problem, column, line.substr(0, 200)});
    }
  }
  if (!options.columnIndices.empty() && !lines.empty() &&
      static_cast<std::size_t>(*std::max_element(columns.begin(), columns.end())) >= widest) {
    throw UsageError("column " +
                     std::to_string(*std::max_element(columns.begin(), columns.end()) + 1) +
                     " is beyond every line of " + source);
  }
  s.columns = columns;
  return set;
}

}  // namespace fluxtrim
