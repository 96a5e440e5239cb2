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
///   cells all end within that MiB, and is otherwise NotANumber. An input that goes on past its
///   first MiB without a line end in it, or a line longer than 16 MiB, is no text recording:
///   IoError (this also ends an endless input such as /dev/zero).
/// - With ReadOptions::match, lines that are neither blank nor comments and do not hold that text
///   are left out before anything else is looked at: they are not first lines, not header lines
///   and give no sample.
///
/// What is detected from the "first lines", the first 256 lines that are neither blank nor
/// comments (within the first MiB of the input):
/// - Delimiter (Delimiter::Auto). A first line "sep=;", "sep=," or "sep=" and a tab, as a
///   spreadsheet writes it, declares it (and is a header line). Otherwise among tab, semicolon and
///   comma, the one that occurs the same number of times on the most first lines that look like
///   data (that start with a digit, sign or point; all first lines when none does), provided that
///   is at least half of them; ties go to tab, then semicolon, then comma, so "1,5;2,5;3,5" is read
///   as semicolon-delimited. Otherwise blanks. Cells such as "0,48" beside another delimiter get a
///   warning: decimal commas are not read.
/// - Header lines (HeaderMode::Auto). A data line holds three or more numbers, or only numbers
///   (empty cells aside). The first lines before the first data line are header lines; when no
///   first line is a data line, only the first line is, when it holds some text. A header line that
///   comes later is data (and skipped as NotANumber).
/// - Kinds of line. Serial logs interleave the lines of several sensors ("Mag X: 12.3 Y: -4.1
///   Z: 40.0 uT", "Accel X: 0.12 Y: 0.03 Z: 9.79 m/s^2", "Raw:12,-3,980,..."). A data line's kind
///   is its label, a leading word followed by ':' or '=' (after at most an axis letter: "Mag X:")
///   or a word of two letters or more that names a sensor ("mag 1 2 3"), and the unit written after
///   its values (uT, µT, μT, uTesla, microtesla, mG, milligauss, G, Ga, gauss, nT, nanotesla;
///   m/s^2, g, mg; dps, deg/s, rad/s: symbols as written, so that mG is milligauss and mg milli-g,
///   words in any case); what a serial monitor or a logging library writes before the text is
///   passed over: a time of day ("12:00:01.123 -> Mag X: ..."), a bracketed count ("[12345] "), a
///   log level and tick count ("I (1234) "). The cell count alone makes no kind, so
///   that a cut line stays a skipped line of its kind. When no data line carries a label or a unit,
///   the input is one plain kind and ReadSummary::kinds stays empty. Otherwise the lines of one
///   kind are kept: the one kind whose label or unit names a magnetometer (Mag, M, Compass; uT, G,
///   ...); else the Raw: layout; else, with the kinds that name an accelerometer or another sensor
///   set aside, the one kind left (none when none is left). Several kinds that name a magnetometer,
///   or several left, are an AmbiguousInput. The lines of the other kinds are left out and counted
///   per kind (ReadSummary::kinds, leftOutLines); a labelled kind first met after the first lines
///   is left out too. Lines in lower-case mg are an accelerometer's (milli-g) unless the unit is
///   given as milligauss: then those whose label names no accelerometer are the magnetometer's.
/// - Columns, when ReadOptions names none, from the kept kind's lines. The numeric columns are
///   those holding a number on most first lines with three or more numbers and the most common
///   cell count; a first cell "Raw:12" labelled as its line is read as 12.
///   1. Raw: lines of nine integers (accelerometer, gyroscope, magnetometer) are a known layout:
///      the last three, in tenths of a microtesla, given in microtesla (each value / 10).
///   2. Names: the header lines, or without one the last comment line before the first data line
///      ('#' removed), are searched for names of magnetometer axes, split into words at other
///      than letters and digits and at lower-to-upper case changes, bracketed text dropped. A name
///      with a magnetometer word and an axis (mag_x, magX, MagX, CAP_magX, mx, Bx, hx, "Magnetic
///      Field X (uT)", magnetic_field.x) ranks above a bare axis (x, X_raw); a name with an
///      accelerometer, gyroscope or other sensor word (accX, ax, gyro_x, gx) is never an axis.
///      When the numeric columns hold one name per axis at the best rank (the leftmost if
///      several), those are the X, Y and Z columns in the order of the names ("time,z,y,x" is
///      read as x, y, z).
///   3. Otherwise, with exactly three numeric columns, those, in file order.
///   4. Otherwise the numeric columns named as time stamps or counters (time, t, timestamp, ms,
///      us, s, seconds, elapsed, counter, index, seq, ...) are passed over, and so are the
///      columns that never change over at least 8 first lines (a column that never changes is no
///      magnetometer axis); then, as long as more than three are left, the first of them when it
///      rises like a time stamp (over at least 8 first lines, never decreasing and rising). When
///      exactly three columns are left, those.
///   5. Otherwise nothing says which columns are the magnetometer's: AmbiguousInput, listing the
///      numeric columns with their ranges over the first lines.
///   6. When the cells show fewer than three numeric columns (or are ambiguous), the lines may
///      name their values instead: label:value pairs in any order ("mx:1.0,my:2.0,mz:3.0",
///      "mz=3 mx=1 my=2", "Mag: x=1 y=2 z=3", "X: 1 \tY: 2 \tZ: 3 uT"), groups ("mag: (1, 2,
///      3)", "Mag (uT) [1, 2, 3]", "MAG | 1 | 2 | 3", "acc: [..] gyro: [..] mag: [..]"), JSON
///      objects ({"mx": 1, ...}, {"mag": {"x": 1, ...}}, {"mag": [1, 2, 3], "unit": "uT"}), or
///      three values with no name ("1,2,3 uT", "1 uT, 2 uT, 3 uT", "{1, 2, 3}", after a prefix).
///      Each number's key is the names it is written under ("mag.x" for the first of three in a
///      group named mag); the magnetometer's X, Y and Z are the first keys that name it with an
///      axis, else keys that are an axis letter alone, else three unnamed values when the lines
///      hold no other and write no other sensor's unit. Those keys are then read in every line
///      wherever they are (ReadSummary::form is Labelled); a line of the kept kind without them
///      is skipped. The accelerometer's keys (ax, acc.x) are read beside them. Lines whose cells
///      were ambiguous are read so only when their keys name the magnetometer.
///   ReadSummary::columns and columnRule say what was chosen and why.
/// - Unit. A unit given in ReadOptions wins. Otherwise the unit the input states: the same unit
///   in the names of the X, Y and Z columns ("Magnetometer X (uT)", "mag_x_uT"), the unit written
///   after the values of the kept kind or anywhere in lines that name their values (a JSON
///   "unit" key too), the Raw: layout's, or tesla for columns named for a robot's MagneticField
///   message (magnetic_field) whose values have the size of the Earth's field in tesla (a median
///   magnitude between 1e-6 and 1e-3); else ReadOptions::assumedUnit, or
///   gauss, is assumed. A given unit that differs from the stated one is used, with a warning in
///   ReadSummary::warnings.
/// - Accelerometer columns beside the magnetometer's, when ReadOptions gives them, when the
///   header names accelerometer axes as it names magnetometer axes (ax, acc_x, AccX,
///   "Accelerometer X (m/s^2)", accel.x), or the first three values of Raw: lines. Their unit is
///   m/s^2 or g when their names say so ("AccX (g)"), otherwise unknown. Lines of a separate
///   accelerometer kind are not paired with the magnetometer's.
#ifndef FLUXTRIM_SAMPLES_HPP
#define FLUXTRIM_SAMPLES_HPP

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fluxtrim/error.hpp"
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
  /// The samples' unit, for the values as the input writes them. Not given: the unit the input
  /// states, or gauss assumed, which the calibration checks against the reference field.
  std::optional<SampleUnit> unit;
  /// The unit assumed instead of gauss when `unit` is not given and the input states none (as a
  /// program applying a calibration assumes the calibration's unit).
  std::optional<SampleUnit> assumedUnit;
  /// The accelerometer's X, Y and Z columns beside the magnetometer's, by header name or by
  /// 0-based index as columnNames and columnIndices are given, none of them one of the
  /// magnetometer's. Both empty: found from the input (see above), or none.
  std::vector<std::string> accelerometerColumnNames;
  std::vector<int> accelerometerColumnIndices;
  /// When not empty, only the lines that hold this text, byte for byte, are read (see above).
  std::string match;
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

/// What a kind of line, a column or a unit names.
enum class Sensor {
  Unknown,        ///< nothing, or nothing known
  Magnetometer,   ///< Mag, M, Compass, mag_x, uT, G, ...
  Accelerometer,  ///< Accel, A, ax, m/s^2, g
  Other,          ///< a gyroscope (Gyro, dps, rad/s), orientation, position, or two sensors at once
};

/// The lines of one kind, told apart by their label and the unit after their values (see above).
struct LineKind {
  std::string label;  ///< the leading word as written: "Mag", "Accel", "Raw"; empty for none
  std::string unit;   ///< the unit written after the values: "uT", "m/s^2"; empty for none
  Sensor sensor = Sensor::Unknown;  ///< what the label or the unit names
  std::uint64_t lines = 0;          ///< lines of this kind in the input (in the first lines, in
                                    ///< an AmbiguousInput)
  bool kept = false;                ///< whether its lines gave the samples; else left out
};
/// "magnetometer", "accelerometer", "other" or "unknown".
const char* sensorName(Sensor sensor);
/// The kind for messages: "'Mag' lines (uT)", "'Raw' lines", "lines in m/s^2", "unlabelled
/// lines".
std::string lineKindText(const LineKind& kind);

/// How the samples' unit was chosen.
enum class UnitSource {
  Given,     ///< ReadOptions::unit
  Header,    ///< named in the header of the X, Y and Z columns
  Detected,  ///< from the lines: written after the values, or the Raw: layout's
  Default,   ///< nothing said it: gauss assumed
};
/// "given", "from the header", "detected from the lines", "assumed".
const char* unitSourceName(UnitSource source);

/// How the lines hold the magnetometer's values.
enum class LineForm {
  Delimited,  ///< in cells between delimiters: X, Y and Z are columns
  Labelled,   ///< named in the line (label:value pairs, groups, JSON objects): read by their keys
};

/// Counts of the lines of one input: lines = headerLines + commentLines + blankLines +
/// sampleLines + skippedLines + leftOutLines.
struct ReadSummary {
  std::uint64_t lines = 0;         ///< lines in the input; a final line end does not start a line
  std::uint64_t headerLines = 0;   ///< recognised header lines
  std::uint64_t commentLines = 0;  ///< lines whose first non-blank character is '#'
  std::uint64_t blankLines = 0;    ///< empty or white-space-only lines
  std::uint64_t sampleLines = 0;   ///< lines that gave a sample
  std::uint64_t skippedLines = 0;  ///< lines of the kept kind that gave no sample
  /// Lines left out by choice: those of kinds not kept, and those without ReadOptions::match.
  std::uint64_t leftOutLines = 0;
  std::uint64_t unmatchedLines = 0;  ///< of which those without ReadOptions::match
  std::array<std::uint64_t, kLineProblemCount> skippedByProblem{};  ///< indexed by LineProblem
  std::vector<SkippedLine> skipped;  ///< the first maxListedLines skipped lines, in file order
  std::uint64_t bytes = 0;           ///< bytes read, a byte order mark included
  Delimiter delimiter = Delimiter::Comma;  ///< the delimiter used (never Auto)
  std::array<int, 3> columns{{0, 1, 2}};   ///< 0-based indices of the X, Y and Z columns
  /// Delimited: columns are cells. Labelled: the values are found in each line by their keys
  /// (columnRule names them), and columns are their positions among the numbers of the first
  /// line that holds them.
  LineForm form = LineForm::Delimited;
  /// Why these columns, for messages: "given by index", "named 'mag_x', 'mag_y', 'mag_z'", "the
  /// only three numeric columns", "the Raw: layout's magnetometer", ...
  std::string columnRule;
  /// 0-based indices of the accelerometer's X, Y and Z columns, all -1 when there are none, and
  /// why, as columnRule.
  std::array<int, 3> accelerometerColumns{{-1, -1, -1}};
  std::string accelerometerColumnRule;
  /// The kinds of line in order of their first line, when the lines carry labels or units (see
  /// above); empty for plain delimited text.
  std::vector<LineKind> kinds;
  /// The unit the input states for its values as written (in the column names, after the
  /// values, or by the Raw: layout), whether or not it was used.
  std::optional<SampleUnit> statedUnit;
  /// Why SampleSet::unit, for messages: "given", "from the header", "written after the values",
  /// "the Raw: layout's tenths of a microtesla, divided by 10", "assumed".
  std::string unitRule;
  /// What a person should know about how the input was read, one sentence each: a given unit
  /// that differs from the one the input states, numbers written with decimal commas.
  std::vector<std::string> warnings;
  /// Cells of the header line the column names were found in, else of the last header line;
  /// escaped as SkippedLine::text. Empty without a header.
  std::vector<std::string> header;
};

/// The samples of one input, in the unit of the input.
struct SampleSet {
  std::vector<Vec3> values;                ///< X, Y, Z of each sample, in `unit`, file order
  std::vector<std::uint64_t> lineNumbers;  ///< 1-based line of each sample
  /// The unit given, else the one the input states, else the one assumed (gauss unless
  /// ReadOptions::assumedUnit).
  SampleUnit unit;
  UnitSource unitSource = UnitSource::Default;  ///< how `unit` was chosen
  /// Whether the unit is known rather than assumed: given, or stated by the input.
  bool unitGiven = false;
  /// The accelerometer's samples beside the magnetometer's, when the input has accelerometer
  /// columns: one per entry of values, of the same line, in its unit; NaN in a row whose
  /// accelerometer cells do not all convert. Empty when it has none.
  std::vector<Vec3> accelerometer;
  /// The accelerometer's unit, when the names of its columns state it; else unknown.
  std::optional<AccelerometerUnit> accelerometerUnit;
  std::string source;  ///< the path, or "-" for standard input
  ReadSummary summary;
};

/// The lines read and left out, per kind, for messages: "600 'Mag' lines (uT) kept, 600 'Accel'
/// lines (m/s^2) left out, 3 lines without the text matched left out"; empty when no line was left
/// out.
std::string lineKindsText(const ReadSummary& summary);

/// The columns and the unit read, and why, for messages: "columns 8 to 10, named 'mx', 'my',
/// 'mz'; microtesla, from the header". Columns count from 1.
std::string readChoiceText(const SampleSet& set);

/// The accelerometer's columns and why, for messages: "columns 2 to 4, named 'ax', 'ay', 'az'";
/// empty when the input has none. Columns count from 1.
std::string accelerometerChoiceText(const SampleSet& set);

/// Why an input gave no sample, for a message that names the input: "120 lines, 119 of them not
/// samples" ("1 line, not a sample", "2 lines, 1 of them not a sample"), then the lines left out
/// (lineKindsText) and the warnings.
std::string noSamplesText(const SampleSet& set);

/// The input holds several candidates for the magnetometer's samples and nothing names one:
/// numeric columns without names (columns), or kinds of line (kinds). The caller asks which, and
/// reads again with the columns or a match given. A UsageError, since only the caller can choose.
class AmbiguousInput : public UsageError {
 public:
  /// A numeric column over the first lines: its 0-based index, its header name (escaped; empty
  /// without one), the least and greatest number in it, and what set it aside.
  struct Column {
    int index = 0;
    std::string name;
    double min = 0.0;
    double max = 0.0;
    bool time = false;      ///< named or rising as a time stamp or counter
    bool constant = false;  ///< never changes
  };
  /// message: one line that names the input; source: the input as messages name it ("'log.csv'",
  /// "standard input").
  AmbiguousInput(const std::string& message, std::string source, std::vector<Column> columns,
                 std::vector<LineKind> kinds);
  const std::string& source() const { return source_; }
  const std::vector<Column>& columns() const { return columns_; }
  const std::vector<LineKind>& kinds() const { return kinds_; }

 private:
  std::string source_;
  std::vector<Column> columns_;
  std::vector<LineKind> kinds_;
};

/// Reads the samples of the file at path in one pass; "-" reads standard input (file descriptor
/// 0 from its current position, not through std::cin). The path is opened once; a named pipe is
/// read once to its end like standard input, its open waiting for a writer. Conversion gives
/// exactly the double that strtod gives for the same text. Throws IoError, naming the source and
/// the reason, when the input cannot be opened, is a directory or UTF-16 text, or cannot be read to
/// its end (never a partial result, unless ReadOptions::interrupted ended it), or is no text (see
/// above), AmbiguousInput when nothing says which columns or lines are the magnetometer's, and
/// UsageError for options the input cannot satisfy (a column name not in the header, an index
/// beyond every line, a Counts unit without a valid scale).
SampleSet readSamples(const std::string& path, const ReadOptions& options = {});

/// The same from an open stream, read through its buffer to the end; source names it in messages
/// and in SampleSet::source ("-" is called standard input). A stream already failed or bad on
/// entry, or whose buffer throws while reading (as a file buffer does on a read error), gives
/// IoError. The stream's state flags are left as they are.
SampleSet readSamples(std::istream& in, const ReadOptions& options = {},
                      const std::string& source = "-");

namespace detail {
class LineReader;
}

/// Samples read from text that arrives in pieces, as a serial port or a pipe delivers it, by the
/// rules of readSamples: the bytes pushed, then finish(), give what readSamples gives for the
/// same bytes, however they were split. Lines are held until the layout is decided from the
/// first lines: once 256 lines that are neither blank nor comments are complete, once 1 MiB is
/// held, when decideEarly() finds the columns, or at finish(). From then on each line is read
/// when its line end arrives. No input or output is made: the caller reads the bytes.
class SampleStream {
 public:
  /// Throws UsageError for options as readSamples does. ReadOptions::progress and
  /// ReadOptions::interrupted are not used. source names the input in messages and in
  /// SampleSet::source ("-" is called standard input).
  explicit SampleStream(const ReadOptions& options = {}, const std::string& source = "-");
  ~SampleStream();
  SampleStream(const SampleStream&) = delete;
  SampleStream& operator=(const SampleStream&) = delete;

  /// Takes the next bytes and returns the number of samples they completed. Throws what
  /// readSamples throws for the same text (IoError, AmbiguousInput, UsageError) once it is seen:
  /// the layout's errors when it is decided. After an exception the stream takes nothing more:
  /// every later call throws Error.
  std::size_t push(const char* data, std::size_t size);
  /// Decides the layout now from the complete lines held, when they name or show the
  /// magnetometer's three columns: for a live input that should not wait for 256 lines.
  /// Otherwise, or when they leave a choice open, it waits. Returns whether it is decided. Throws
  /// as push does.
  bool decideEarly();
  /// The end of the input: the layout decided from every line held, the last line read even
  /// without its line end. cutShort, for an input ended early (an interrupt, a device gone):
  /// the bytes after the last line end are dropped instead, as readSamples drops them for
  /// ReadOptions::interrupted. Returns the samples it completed; throws as push does. Nothing may
  /// be pushed after it.
  std::size_t finish(bool cutShort = false);

  /// Whether the layout is decided: samples(), but for its summary's counts, stays empty until
  /// then.
  bool decided() const;
  /// Lines held for the decision that are neither blank nor comments (and hold the text matched).
  std::size_t heldLines();
  /// The samples so far, in the order read, and the summary of the lines read; lines held for
  /// the decision are not counted yet.
  const SampleSet& samples() const { return set_; }

 private:
  void check() const;

  ReadOptions options_;
  std::string name_;
  SampleSet set_;
  std::unique_ptr<detail::LineReader> reader_;
  bool failed_ = false;
  bool finished_ = false;
};

}  // namespace fluxtrim

#endif
