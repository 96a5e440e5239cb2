/// @file
/// Reading magnetometer samples from delimited text: a file or a stream such as standard input.
///
/// How the text is read:
/// - Lines end at a line feed; a carriage return before it is dropped (CRLF files). An input whose
///   first MiB holds carriage returns but no line feed uses carriage returns as line ends. A UTF-8
///   byte order mark at the start is skipped; a UTF-16 one is an IoError (save the file as UTF-8).
/// - Blank lines (white space only) and comment lines (first non-blank character '#') are counted
///   and otherwise passed over, wherever they are.
/// - Cells are split at the delimiter and lose their surrounding blanks and one pair of enclosing
///   double quotes (the delimiter inside quotes is not supported). A sample cell must then be
///   exactly one number as strtod reads it in the "C" locale, decimal or hexadecimal: "12abc",
///   "1,5" and an empty cell are not numbers. nan and inf are numbers that make the line NotFinite.
/// - A line is examined in its first MiB; a longer line gives a sample only when its X, Y and Z
///   cells all end within that MiB, and is otherwise NotANumber.
///
/// What is detected from the "first lines", the first 256 lines that are neither blank nor
/// comments (within the first MiB of the input):
/// - Delimiter (Delimiter::Auto). Among tab, semicolon and comma, the one that occurs the same
///   number of times on the most first lines that look like data (that start with a digit, sign or
///   point; all first lines when none does), provided that is at least half of them; ties go to
///   tab, then semicolon, then comma, so "1,5;2,5;3,5" is read as semicolon-delimited. Otherwise
///   blanks.
/// - Header lines (HeaderMode::Auto). A data line holds three or more numbers, or only numbers
///   (empty cells aside). The first lines before the first data line are header lines; when no
///   first line is a data line, only the first line is, when it holds some text. A header line that
///   comes later is data (and skipped as NotANumber).
/// - Columns, when ReadOptions names none. The numeric columns are those holding a number on most
///   first lines with three or more numbers and the most common cell count.
///   1. Names: the header lines, or without one the last comment line before the first data line
///      ('#' removed), are searched for names of magnetometer axes, split into words at other
///      than letters and digits and at lower-to-upper case changes, bracketed text dropped. A name
///      with a magnetometer word and an axis (mag_x, magX, MagX, CAP_magX, mx, Bx, hx, "Magnetic
///      Field X (uT)") ranks above a bare axis (x, X_raw); a name with an accelerometer, gyroscope
///      or other sensor word (accX, ax, gyro_x, gx) is never an axis. When the numeric columns
///      hold one name per axis at the best rank (the leftmost if several), those are the X, Y and
///      Z columns in the order of the names ("time,z,y,x" is read as x, y, z).
///   2. Otherwise, with exactly three numeric columns, those, in file order.
///   3. Otherwise the leading numeric columns that are time stamps or counters are passed over
///      (named time, t, timestamp, ms, us, s, seconds, elapsed, counter, index, seq, ... or, over
///      at least 8 first lines, never decreasing and rising), as long as three numeric columns
///      remain, and the next three numeric columns are taken.
///   4. With fewer than three numeric columns: columns 0, 1 and 2.
///   ReadSummary::columns and columnRule say what was chosen and why.
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
  Auto,  ///< detected from the first lines: comma, semicolon, tab or blanks
  Comma,
  Semicolon,
  Tab,
  Blanks,  ///< one or more spaces or tabs; leading and trailing blanks ignored
};
/// "auto", "comma", "semicolon", "tab" or "blanks".
const char* delimiterName(Delimiter delimiter);

enum class HeaderMode {
  Auto,     ///< the first lines before the first data line are header lines (see above)
  Present,  ///< the first line that is neither blank nor a comment is the one header line
  Absent,   ///< every line that is neither blank nor a comment is data
};

struct ReadOptions {
  Delimiter delimiter = Delimiter::Auto;
  HeaderMode header = HeaderMode::Auto;
  /// The X, Y and Z columns, by header name (matched whole, without regard to case, after the
  /// cell's blanks and quotes are dropped; the first match in the last header line holding all
  /// three) or by 0-based index; at most one of the two is given, with exactly three different
  /// entries. Both empty: the three columns that hold the samples, found from the header names and
  /// the data (see above).
  std::vector<std::string> columnNames;
  std::vector<int> columnIndices;
  /// The samples' unit. Not given: gauss is assumed, and the calibration checks the assumption
  /// against the reference field.
  std::optional<SampleUnit> unit;
  /// Lines listed one by one in ReadSummary::skipped; further ones are only counted.
  std::size_t maxListedLines = 20;
  /// Called every few MiB while reading and once at the end, with the bytes read so far and the
  /// total (0 when unknown, as for a pipe or a stream). Not called at all when empty. An exception
  /// it throws ends the read and reaches the caller.
  std::function<void(std::uint64_t bytesRead, std::uint64_t totalBytes)> progress;
  /// Asked before each read of a file or of standard input (readSamples by path) and whenever a
  /// read is interrupted by a signal: true ends the input there, as if it ended, without the
  /// incomplete line after the last line end read. For a program that stops reading a stream
  /// when the user interrupts it: its signal handler, installed without SA_RESTART, makes this
  /// return true. Not asked when empty (a read interrupted by a signal is then resumed), nor by
  /// readSamples of a stream.
  std::function<bool()> interrupted;
};

/// Why a line that is neither blank, a comment nor a header gave no sample.
enum class LineProblem {
  TooFewCells,  ///< the line has fewer cells than the highest selected column needs
  NotANumber,   ///< a selected cell holds something other than exactly one number
  OutOfRange,   ///< a selected cell's number is beyond the range of a double: its magnitude
                ///< overflows, or is so small that strtod reports a range error (1e-400)
  NotFinite,    ///< a selected cell is nan or inf
};
constexpr int kLineProblemCount = 4;
/// The problem in a few words, as every message about skipped lines words it: "too few cells",
/// "not a number", "out of range", "not finite".
const char* lineProblemName(LineProblem problem);

/// One skipped line: its 1-based number, the problem, the 0-based column of the offending cell
/// (the first of X, Y, Z with a problem; -1 for TooFewCells) and the line's text without its line
/// end, with control bytes escaped and cut to 200 bytes, safe to print on a terminal.
struct SkippedLine {
  std::uint64_t line = 0;
  LineProblem problem = LineProblem::NotANumber;
  int column = -1;
  std::string text;
};

/// Counts of the lines of one input: lines = headerLines + commentLines + blankLines +
/// sampleLines + skippedLines.
struct ReadSummary {
  std::uint64_t lines = 0;         ///< lines in the input; a final line end does not start a line
  std::uint64_t headerLines = 0;   ///< recognised header lines
  std::uint64_t commentLines = 0;  ///< lines whose first non-blank character is '#'
  std::uint64_t blankLines = 0;    ///< empty or white-space-only lines
  std::uint64_t sampleLines = 0;   ///< lines that gave a sample
  std::uint64_t skippedLines = 0;  ///< all other lines
  std::array<std::uint64_t, kLineProblemCount> skippedByProblem{};  ///< indexed by LineProblem
  std::vector<SkippedLine> skipped;  ///< the first maxListedLines skipped lines, in file order
  std::uint64_t bytes = 0;           ///< bytes read, a byte order mark included
  Delimiter delimiter = Delimiter::Comma;  ///< the delimiter used (never Auto)
  std::array<int, 3> columns{{0, 1, 2}};   ///< 0-based indices of the X, Y and Z columns
  /// Why these columns, for messages: "given by index", "named mag_x, mag_y, mag_z", "the only
  /// three numeric columns", "the numeric columns after the time column 'time'", ...
  std::string columnRule;
  /// Cells of the header line the column names were found in, else of the last header line;
  /// escaped as SkippedLine::text. Empty without a header.
  std::vector<std::string> header;
};

/// The samples of one input, in the unit of the input.
struct SampleSet {
  std::vector<Vec3> values;                ///< X, Y, Z of each sample, in `unit`, file order
  std::vector<std::uint64_t> lineNumbers;  ///< 1-based line of each sample
  SampleUnit unit;                         ///< the unit given, or gauss when none was
  bool unitGiven = false;                  ///< whether ReadOptions::unit was given
  std::string source;                      ///< the path, or "-" for standard input
  ReadSummary summary;
};

/// Reads the samples of the file at path in one pass; "-" reads standard input (file descriptor
/// 0 from its current position, not through std::cin). The path is opened once; a named pipe is
/// read once to its end like standard input, its open waiting for a writer. Conversion gives
/// exactly the double that strtod gives for the same text. Throws IoError, naming the source and
/// the reason, when the input cannot be opened, is a directory or UTF-16 text, or cannot be read to
/// its end (never a partial result, unless ReadOptions::interrupted ended it), and UsageError for
/// options the input cannot satisfy (a column name not in the header, an index beyond every line, a
/// Counts unit without a valid scale).
SampleSet readSamples(const std::string& path, const ReadOptions& options = {});

/// The same from an open stream, read through its buffer to the end; source names it in messages
/// and in SampleSet::source ("-" is called standard input). A stream already failed or bad on
/// entry, or whose buffer throws while reading (as a file buffer does on a read error), gives
/// IoError. The stream's state flags are left as they are.
SampleSet readSamples(std::istream& in, const ReadOptions& options = {},
                      const std::string& source = "-");

}  // namespace fluxtrim

#endif
