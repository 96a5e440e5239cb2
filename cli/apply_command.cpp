// fluxtrim apply: corrected = (raw - offset) * matrix for every sample, written as CSV.
#include "apply_command.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "calibration_json.hpp"
#include "exit_status.hpp"
#include "export_formats.hpp"
#include "fluxtrim/calibration.hpp"
#include "fluxtrim/error.hpp"
#include "fluxtrim/samples.hpp"
#include "fluxtrim/text.hpp"
#include "fluxtrim/units.hpp"
#include "output.hpp"
#include "terminal.hpp"

namespace fluxtrim_cli {

namespace {

const char* const kPrefix = "fluxtrim apply: ";

std::string inputName(const std::string& path) {
  return path == "-" ? std::string("standard input")
                     : "'" + fluxtrim::printableText(path, 60) + "'";
}

// The lines of the input that gave no sample, in one line: their count and the first one.
void reportSkipped(const fluxtrim::SampleSet& samples) {
  const fluxtrim::ReadSummary& s = samples.summary;
  if (s.skippedLines == 0) return;
  std::string first;
  if (!s.skipped.empty()) {
    const fluxtrim::SkippedLine& line = s.skipped.front();
    first = std::string(s.skippedLines == 1 ? " (line " : " (first: line ") +
            std::to_string(line.line) + ", " + fluxtrim::lineProblemName(line.problem) +
            (line.column >= 0 ? " in column " + std::to_string(line.column + 1) : "") + ")";
  }
  std::fprintf(stderr, "%sskipped %llu %s%s\n", kPrefix,
               static_cast<unsigned long long>(s.skippedLines),
               s.skippedLines == 1 ? "line" : "lines", first.c_str());
}

// Mean and standard deviation of the corrected magnitudes, two passes for accuracy; NaN for no
// values.
struct Spread {
  double mean = kNotKnown;
  double deviation = kNotKnown;
  double low = kNotKnown;
  double high = kNotKnown;
};

Spread spreadOf(const std::vector<double>& values) {
  Spread s;
  if (values.empty()) return s;
  s.low = s.high = values.front();
  double sum = 0.0;
  for (double v : values) {
    sum += v;
    s.low = std::fmin(s.low, v);
    s.high = std::fmax(s.high, v);
  }
  s.mean = sum / static_cast<double>(values.size());
  double squares = 0.0;
  for (double v : values) squares += (v - s.mean) * (v - s.mean);
  s.deviation = std::sqrt(squares / static_cast<double>(values.size()));
  return s;
}

// The corrected samples, scaled and in the unit the calibration file records for them, and the
// spread of the magnitudes of those that are finite, in the calibration's own scale and unit (the
// figures it records are in those).
struct Corrected {
  std::vector<fluxtrim::Vec3> rows;
  Spread spread;
  std::size_t finite = 0;
  std::uint64_t firstNotFiniteLine = 0;  // 0 when every row is finite
};

// The corrected sample in the accelerometer's axes: frame * corrected, frame the recorded
// mounting; the sample itself without a frame.
fluxtrim::Vec3 inFrame(const fluxtrim::Matrix3* frame, const fluxtrim::Vec3& c) {
  if (frame == nullptr) return c;
  const fluxtrim::Matrix3& m = *frame;
  fluxtrim::Vec3 turned{};
  for (int row = 0; row < 3; ++row) {
    turned[row] = (m[row][0] * c[0] + m[row][1] * c[1]) + m[row][2] * c[2];
  }
  return turned;
}

// corrected = (raw - offset) * matrix for every sample, written with the target's scale and
// unit, and turned into the accelerometer's axes when frame is not null. Samples in another unit
// are brought to the calibration's unit through gauss; in the same unit they are used as read,
// to the bit.
Corrected corrected(const StoredCalibration& calibration, const TargetCalibration& target,
                    const fluxtrim::SampleSet& samples, const fluxtrim::Matrix3* frame) {
  const bool convert = samples.unit.gaussPerUnit() != calibration.unit.gaussPerUnit();
  fluxtrim::Calibration stored;
  stored.offset = calibration.offset;
  stored.matrix = calibration.matrix;
  Corrected out;
  out.rows.reserve(samples.values.size());
  std::vector<double> magnitudes;
  magnitudes.reserve(samples.values.size());
  for (std::size_t k = 0; k < samples.values.size(); ++k) {
    fluxtrim::Vec3 raw = samples.values[k];
    if (convert) {
      for (double& v : raw) v = calibration.unit.fromGauss(samples.unit.toGauss(v));
    }
    const fluxtrim::Vec3 c = fluxtrim::applyCalibration(stored, raw);
    out.rows.push_back(inFrame(frame, fluxtrim::applyCalibration(target.calibration, raw)));
    if (std::isfinite(c[0]) && std::isfinite(c[1]) && std::isfinite(c[2])) {
      const double magnitude = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
      magnitudes.push_back(std::isfinite(magnitude) ? magnitude : std::hypot(c[0], c[1], c[2]));
    } else if (out.firstNotFiniteLine == 0) {
      out.firstNotFiniteLine = samples.lineNumbers[k];
    }
  }
  out.finite = magnitudes.size();
  out.spread = spreadOf(magnitudes);
  return out;
}

// The field the corrected magnitudes should show, in the calibration's unit: the mean its own
// samples gave, else the reference field; NaN when the file records neither.
double expectedField(const StoredCalibration& c) {
  if (std::isfinite(c.meanCorrected)) return c.meanCorrected;
  if (c.reference.kind() == fluxtrim::Reference::Kind::None) return kNotKnown;
  return c.unit.fromGauss(c.reference.total_G());
}

// Samples taken to be in the calibration's unit (no --units) whose corrected magnitudes are more
// than kUnitFactor off its field are in another unit: refused before anything is written.
void checkUnit(const StoredCalibration& c, const Corrected& corrected, bool unitGiven) {
  const double expected = expectedField(c);
  const double ratio = corrected.spread.mean / expected;
  if (unitGiven || !std::isfinite(ratio) || (ratio <= kUnitFactor && ratio >= 1.0 / kUnitFactor)) {
    return;
  }
  const std::string symbol = c.unit.symbol();
  throw fluxtrim::Error(fluxtrim::formatText(
      "the samples do not look like %s, the calibration's unit: corrected, their magnitudes "
      "average %.4g %s against the calibration's %.4g %s (x%.3g). Give their unit with --units "
      "to convert them; nothing was written",
      c.unit.name().c_str(), corrected.spread.mean, symbol.c_str(), expected, symbol.c_str(),
      ratio));
}

// The whole text of the input, for --keep-columns.
std::string inputText(const std::string& path) {
  const bool standard = path == "-";
  const int fd = standard ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    throw fluxtrim::IoError("cannot open " + inputName(path) + ": " + std::strerror(errno));
  struct stat status {};
  int error = ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode) ? EISDIR : 0;
  std::string text;
  std::vector<char> buffer(1 << 16);
  while (error == 0) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got == 0) break;
    if (got > 0) {
      text.append(buffer.data(), static_cast<std::size_t>(got));
    } else if (errno != EINTR) {
      error = errno;
    }
  }
  if (!standard) ::close(fd);
  if (error != 0) {
    throw fluxtrim::IoError("cannot read " + inputName(path) + ": " + std::strerror(error));
  }
  return text;
}

// The lines of text as the reader numbers them from 1: split at line feeds (at carriage returns
// in a text without line feeds), a carriage return before a line feed and a UTF-8 byte order
// mark at the start dropped.
std::vector<std::string_view> linesOf(std::string_view text) {
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.remove_prefix(3);
  const char end = text.find('\n') == std::string_view::npos ? '\r' : '\n';
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t at = text.find(end);
    std::string_view line = text.substr(0, at);
    if (end == '\n' && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    text.remove_prefix(at == std::string_view::npos ? text.size() : at + 1);
  }
  return lines;
}

// The cells of a line as the reader splits them, each as written.
std::vector<std::string_view> cellsOf(std::string_view line, fluxtrim::Delimiter delimiter) {
  std::vector<std::string_view> cells;
  if (delimiter == fluxtrim::Delimiter::Blanks) {
    for (std::size_t at = line.find_first_not_of(" \t"); at != std::string_view::npos;) {
      const std::size_t end = line.find_first_of(" \t", at);
      cells.push_back(line.substr(at, end - at));
      at = end == std::string_view::npos ? end : line.find_first_not_of(" \t", end);
    }
    return cells;
  }
  const char separator = delimiter == fluxtrim::Delimiter::Semicolon ? ';'
                         : delimiter == fluxtrim::Delimiter::Tab     ? '\t'
                                                                     : ',';
  for (;;) {
    const std::size_t at = line.find(separator);
    cells.push_back(line.substr(0, at));
    if (at == std::string_view::npos) return cells;
    line.remove_prefix(at + 1);
  }
}

// The line with the X, Y and Z cells replaced, joined by the input's delimiter (a blank for
// blank-separated input).
std::string replacedLine(std::string_view line, const fluxtrim::ReadSummary& summary,
                         const std::string (&xyz)[3], std::uint64_t number) {
  std::vector<std::string_view> cells = cellsOf(line, summary.delimiter);
  for (int c = 0; c < 3; ++c) {
    const auto column = static_cast<std::size_t>(summary.columns[c]);
    if (column >= cells.size()) {
      throw fluxtrim::Error("--keep-columns: line " + std::to_string(number) + " has no column " +
                            std::to_string(column + 1));
    }
    cells[column] = xyz[c];
  }
  const char separator = summary.delimiter == fluxtrim::Delimiter::Semicolon ? ';'
                         : summary.delimiter == fluxtrim::Delimiter::Tab     ? '\t'
                         : summary.delimiter == fluxtrim::Delimiter::Blanks  ? ' '
                                                                             : ',';
  std::string out;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (i > 0) out += separator;
    out.append(cells[i]);
  }
  return out + "\n";
}

// With --keep-columns: the input's header line, when it has one, and each sample line, with the
// corrected X, Y and Z in place of the raw ones.
void writeKeptColumns(Output& out, const std::string& text, const fluxtrim::SampleSet& samples,
                      const Corrected& corrected, const std::string& unit) {
  const std::vector<std::string_view> lines = linesOf(text);
  const fluxtrim::ReadSummary& summary = samples.summary;
  // The header: the last line before the first sample that is neither blank nor a comment.
  for (std::uint64_t n = samples.lineNumbers.front() - 1; summary.headerLines > 0 && n > 0; --n) {
    const std::string_view line = lines[n - 1];
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line[first] == '#') continue;
    const std::string names[3] = {"x_" + unit, "y_" + unit, "z_" + unit};
    out.write(replacedLine(line, summary, names, n));
    break;
  }
  for (std::size_t k = 0; k < corrected.rows.size(); ++k) {
    const fluxtrim::Vec3& c = corrected.rows[k];
    const std::string values[3] = {fluxtrim::shortestText(c[0]), fluxtrim::shortestText(c[1]),
                                   fluxtrim::shortestText(c[2])};
    const std::uint64_t number = samples.lineNumbers[k];
    out.write(replacedLine(lines[number - 1], summary, values, number));
  }
}

void writeCorrected(Output& out, const Corrected& corrected, const std::string& unit) {
  out.write("x_" + unit + ",y_" + unit + ",z_" + unit + "\n");
  for (const fluxtrim::Vec3& c : corrected.rows) {
    out.write(fluxtrim::shortestText(c[0]) + ',' + fluxtrim::shortestText(c[1]) + ',' +
              fluxtrim::shortestText(c[2]) + '\n');
  }
}

// The summary on standard error, within 80 columns; figures in the corrected samples' unit and
// scale (the target's).
void printSummary(const StoredCalibration& c, const TargetCalibration& target, Spread s,
                  std::size_t count) {
  const std::string symbol = target.output.symbol();
  s.mean *= target.factor;
  s.deviation *= target.factor;
  s.low *= target.factor;
  s.high *= target.factor;
  const char* unit = symbol.c_str();
  std::fprintf(stderr, "%s%zu samples corrected (%s fit, verdict %s)\n", kPrefix, count,
               c.fit.c_str(), c.verdict.c_str());
  std::fprintf(stderr, "  corrected magnitude:  mean %.6g %s, std dev %.3g %s (%.2f %%)\n", s.mean,
               unit, s.deviation, unit, 100.0 * s.deviation / s.mean);
  std::fprintf(stderr, "                        from %.6g to %.6g %s\n", s.low, s.high, unit);
  if (std::isfinite(c.meanCorrected) && std::isfinite(c.residual)) {
    std::fprintf(stderr, "  calibration's own:    mean %.6g %s, residual %.3g %s rms\n",
                 c.meanCorrected * target.factor, unit, c.residual * target.factor, unit);
  }
  if (c.reference.kind() == fluxtrim::Reference::Kind::None) {
    std::fprintf(stderr, "  reference field:      none recorded in the calibration\n");
    return;
  }
  const double reference = target.output.fromGauss(c.reference.total_G());
  std::fprintf(stderr, "  reference field:      %.6g %s\n", reference, unit);
  // The reference's words under the figure, wrapped within the line width at that indent.
  const std::string indent(24, ' ');
  std::string words = wrapped(fluxtrim::referenceText(c.reference), kLineWidth - indent.size());
  for (std::size_t at = words.find('\n'); at != std::string::npos; at = words.find('\n', at + 1)) {
    words.insert(at + 1, indent);
  }
  std::fprintf(stderr, "%s%s\n", indent.c_str(), words.c_str());
  std::fprintf(stderr, "  mean against it:      %+.2f %%\n",
               100.0 * (s.mean - reference) / reference);
}

// The warnings on what was written, each one line; kExitUnusable when there is any.
int judged(const StoredCalibration& c, const Corrected& corrected) {
  int status = kExitUsable;
  const auto warn = [&status](const std::string& text) {
    std::fprintf(stderr, "%swarning: %s\n", kPrefix, text.c_str());
    status = kExitUnusable;
  };
  if (c.verdict == "fail") {
    warn("the calibration's verdict is fail: these samples are not trustworthy");
  }
  const std::size_t notFinite = corrected.rows.size() - corrected.finite;
  if (notFinite > 0) {
    warn("corrected samples that are not finite: " + std::to_string(notFinite) +
         ", the first from line " + std::to_string(corrected.firstNotFiniteLine) +
         "; they are written as they are");
  }
  const double off = corrected.spread.mean - c.meanCorrected;
  if (std::fabs(off) > kSpreadAllowance * c.residual) {
    const std::string symbol = c.unit.symbol();
    warn(fluxtrim::formatText(
        "the mean corrected magnitude is %.3g %s off the calibration's own, more than %g times "
        "its residual of %.3g %s: the calibration does not fit these samples",
        off, symbol.c_str(), kSpreadAllowance, c.residual, symbol.c_str()));
  }
  return status;
}

}  // namespace

int runApply(const ApplyArgs& args) {
  // A calibration file named "-" is a file of that name, not standard input.
  checkOutputs({{"the calibration", args.calibration == "-" ? "./-" : args.calibration},
                {"the input", args.input}},
               {{"-o", args.output}});
  fluxtrim::ReadOptions options = readOptions(args.read);
  const bool accelerometerFrame = parseFrame(args.frame);
  const StoredCalibration calibration = readCalibrationFile(args.calibration);
  if (!calibration.hasCalibration) {
    std::fprintf(stderr, "%s%s holds no calibration (verdict %s): nothing to apply\n", kPrefix,
                 fluxtrim::printableText(args.calibration, 60).c_str(),
                 calibration.verdict.c_str());
    return kExitUnusable;
  }
  // Samples whose unit neither --units nor the input states are taken in the calibration's.
  options.assumedUnit = calibration.unit;
  if (accelerometerFrame && !calibration.mounting) {
    throw fluxtrim::UsageError(
        "--frame accel turns the corrected samples by the mounting the calibration file "
        "records, and " +
        fluxtrim::printableText(args.calibration, 60) +
        " records none: it was calibrated without an accelerometer, or the mounting was not "
        "determined");
  }

  // With --keep-columns the text is kept to copy the other columns from.
  const std::string text = args.keepColumns ? inputText(args.input) : std::string();
  fluxtrim::SampleSet samples;
  {
    ProgressLine progress(args.input);
    options.progress = progress.callback();
    if (args.keepColumns) {
      std::istringstream in(text);
      samples = fluxtrim::readSamples(in, options, args.input);
    } else {
      samples = fluxtrim::readSamples(args.input, options);
    }
  }
  reportSkipped(samples);
  for (const std::string& warning : samples.summary.warnings) {
    std::fprintf(stderr, "%swarning: %s\n", kPrefix, warning.c_str());
  }
  if (samples.values.empty()) {
    throw fluxtrim::IoError("no samples in " +
                            (args.input == "-"
                                 ? std::string("standard input")
                                 : "'" + fluxtrim::printableText(args.input, 60) + "'") +
                            " (" + fluxtrim::noSamplesText(samples) + ")");
  }
  // Scaled and in the unit the file records for the corrected samples.
  const TargetCalibration target = targetCalibration(calibration, calibration.unit);
  const Corrected result = corrected(calibration, target, samples,
                                     accelerometerFrame ? &calibration.mounting->matrix : nullptr);
  // A unit given with --units or stated by the input is known: the magnitudes are not questioned.
  checkUnit(calibration, result, samples.unitGiven);

  Output out(args.output);
  const std::string unit = target.output.symbol();
  if (args.keepColumns) {
    writeKeptColumns(out, text, samples, result, unit);
  } else {
    writeCorrected(out, result, unit);
  }
  out.close();

  printSummary(calibration, target, result.spread, result.rows.size());
  if (accelerometerFrame) {
    std::fprintf(stderr, "  axes:                 the accelerometer's, turned by the mounting\n");
  }
  return judged(calibration, result);
}

}  // namespace fluxtrim_cli
