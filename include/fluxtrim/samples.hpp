// Reading magnetometer samples from delimited text: a file or a stream such as standard input.
#ifndef FLUXTRIM_SAMPLES_HPP
#define FLUXTRIM_SAMPLES_HPP

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "fluxtrim/types.hpp"
#include "fluxtrim/units.hpp"

namespace fluxtrim {

enum class Delimiter {
  Auto,  // detected from the first lines: comma, semicolon, tab or blanks
  Comma,
  Semicolon,
  Tab,
  Blanks,  // one or more spaces or tabs; leading and trailing blanks ignored
};

enum class HeaderMode {
  Auto,     // leading lines whose selected cells are not all numbers are header lines
  Present,  // the first line is a header
  Absent,   // every line is data
};

struct ReadOptions {
  Delimiter delimiter = Delimiter::Auto;
  HeaderMode header = HeaderMode::Auto;
  // The X, Y and Z columns, by header name (matched without regard to case) or by 0-based index;
  // at most one of the two is given, with exactly three entries. Both empty: the three columns
  // that hold the samples, found from the header names and the data (a leading time stamp or
  // counter column is skipped).
  std::vector<std::string> columnNames;
  std::vector<int> columnIndices;
  // The samples' unit. Not given: gauss is assumed, and the calibration checks the assumption
  // against the reference field.
  std::optional<SampleUnit> unit;
  // Lines listed one by one in ReadSummary::skipped; further ones are only counted.
  std::size_t maxListedLines = 20;
  // Called from time to time while reading, with the bytes read so far and the total (0 when
  // unknown, as for a pipe). Not called at all when empty.
  std::function<void(std::uint64_t bytesRead, std::uint64_t totalBytes)> progress;
};

// Why a line that is neither blank nor a header gave no sample.
enum class LineProblem {
  TooFewCells,  // the line has fewer cells than the highest selected column needs
  NotANumber,   // a selected cell holds something other than exactly one number
  OutOfRange,   // a selected cell's number is beyond the range of a double
  NotFinite,    // a selected cell is nan or inf
};
constexpr int kLineProblemCount = 4;

// One skipped line: its 1-based number, the problem, the 0-based column of the offending cell
// (-1 for TooFewCells) and the line's text, with control bytes escaped and cut to a few hundred
// bytes, safe to print on a terminal.
struct SkippedLine {
  std::uint64_t line = 0;
  LineProblem problem = LineProblem::NotANumber;
  int column = -1;
  std::string text;
};

struct ReadSummary {
  std::uint64_t lines = 0;         // lines in the input; a final newline does not start a line
  std::uint64_t headerLines = 0;   // recognised header lines
  std::uint64_t blankLines = 0;    // empty or white-space-only lines
  std::uint64_t sampleLines = 0;   // lines that gave a sample
  std::uint64_t skippedLines = 0;  // all other lines
  std::array<std::uint64_t, kLineProblemCount> skippedByProblem{};  // indexed by LineProblem
  std::vector<SkippedLine> skipped;        // the first maxListedLines skipped lines, in file order
  Delimiter delimiter = Delimiter::Comma;  // the delimiter used (never Auto)
  std::array<int, 3> columns{{0, 1, 2}};   // 0-based indices of the X, Y and Z columns
  std::vector<std::string> header;         // cells of the last header line, if any
};

// The samples of one input, in the unit of the input.
struct SampleSet {
  std::vector<Vec3> values;                // X, Y, Z of each sample, in `unit`, file order
  std::vector<std::uint64_t> lineNumbers;  // 1-based line of each sample
  SampleUnit unit;                         // the unit given, or gauss when none was
  bool unitGiven = false;                  // whether ReadOptions::unit was given
  std::string source;                      // the path, or "-" for standard input
  ReadSummary summary;
};

// Reads the samples of the file at path; "-" reads standard input. Conversion gives exactly the
// double that strtod gives for the same text. Throws IoError when the input cannot be opened or
// read to its end (never a partial result) and UsageError for options the input cannot satisfy
// (a column name not in the header, an index beyond every line).
SampleSet readSamples(const std::string& path, const ReadOptions& options = {});

// The same from an open stream; source names it in messages and in SampleSet::source.
SampleSet readSamples(std::istream& in, const ReadOptions& options = {},
                      const std::string& source = "-");

}  // namespace fluxtrim

#endif
