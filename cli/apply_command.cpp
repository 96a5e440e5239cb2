// fluxtrim apply: corrected = (raw - offset) * matrix for every sample, written as CSV.
#include "apply_command.hpp"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "calibration_json.hpp"
#include "exit_status.hpp"
#include "fluxtrim/calibration.hpp"
#include "fluxtrim/error.hpp"
#include "fluxtrim/samples.hpp"
#include "fluxtrim/text.hpp"
#include "output.hpp"
#include "terminal.hpp"

namespace fluxtrim_cli {

namespace {

const char* const kPrefix = "fluxtrim apply: ";

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

// Mean and standard deviation of the corrected magnitudes, two passes for accuracy.
struct Spread {
  double mean = 0.0;
  double deviation = 0.0;
  double low = 0.0;
  double high = 0.0;
};

Spread spreadOf(const std::vector<double>& values) {
  Spread s;
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

// The summary on standard error, within 80 columns.
void printSummary(const StoredCalibration& c, const Spread& s, std::size_t count) {
  const std::string symbol = c.unit.symbol();
  const char* unit = symbol.c_str();
  std::fprintf(stderr, "%s%zu samples corrected (%s fit, verdict %s)\n", kPrefix, count,
               c.fit.c_str(), c.verdict.c_str());
  std::fprintf(stderr, "  corrected magnitude:  mean %.6g %s, std dev %.3g %s (%.2f %%)\n", s.mean,
               unit, s.deviation, unit, 100.0 * s.deviation / s.mean);
  std::fprintf(stderr, "                        from %.6g to %.6g %s\n", s.low, s.high, unit);
  if (c.reference.kind() == fluxtrim::Reference::Kind::None) {
    std::fprintf(stderr, "  reference field:      none recorded in the calibration\n");
    return;
  }
  const double reference = c.unit.fromGauss(c.reference.total_G());
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

}  // namespace

int runApply(const ApplyArgs& args) {
  fluxtrim::ReadOptions options = readOptions(args.read);
  const StoredCalibration calibration = readCalibrationFile(args.calibration);
  if (!calibration.hasCalibration) {
    std::fprintf(stderr, "%s%s holds no calibration (verdict %s): nothing to apply\n", kPrefix,
                 fluxtrim::printableText(args.calibration, 60).c_str(),
                 calibration.verdict.c_str());
    return kExitUnusable;
  }
  // Samples whose unit neither --units nor the input states are taken in the calibration's.
  options.assumedUnit = calibration.unit;

  fluxtrim::SampleSet samples;
  {
    ProgressLine progress(args.input);
    options.progress = progress.callback();
    samples = fluxtrim::readSamples(args.input, options);
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
  // Samples in another unit are brought to the calibration's unit through gauss; in the same unit
  // they are used as read, to the bit.
  const bool convert = samples.unit.gaussPerUnit() != calibration.unit.gaussPerUnit();

  // The input is read whole before the output is opened, so -o may name the input itself.
  Output out(args.output);
  fluxtrim::Calibration stored;
  stored.offset = calibration.offset;
  stored.matrix = calibration.matrix;
  const std::string unit = calibration.unit.symbol();
  out.write("x_" + unit + ",y_" + unit + ",z_" + unit + "\n");
  std::vector<double> magnitudes;
  magnitudes.reserve(samples.values.size());
  for (fluxtrim::Vec3 raw : samples.values) {
    if (convert) {
      for (double& v : raw) v = calibration.unit.fromGauss(samples.unit.toGauss(v));
    }
    const fluxtrim::Vec3 c = fluxtrim::applyCalibration(stored, raw);
    magnitudes.push_back(std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]));
    out.write(fluxtrim::shortestText(c[0]) + ',' + fluxtrim::shortestText(c[1]) + ',' +
              fluxtrim::shortestText(c[2]) + '\n');
  }
  out.close();

  printSummary(calibration, spreadOf(magnitudes), magnitudes.size());
  if (calibration.verdict == "fail") {
    std::fprintf(stderr,
                 "%swarning: the calibration's verdict is fail: these samples are not "
                 "trustworthy\n",
                 kPrefix);
    return kExitUnusable;
  }
  return kExitUsable;
}

}  // namespace fluxtrim_cli
