// fluxtrim calibrate: option checks, reading of the inputs, calibration and its outputs.
#include "calibrate_command.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <new>

#include "exit_status.hpp"
#include "fluxtrim/error.hpp"
#include "terminal.hpp"

namespace fluxtrim_cli {

namespace {

using fluxtrim::UsageError;

std::string quoted(const std::string& text) {
  return "'" + printable(text, 60) + "'";
}

int parseJobs(const std::string& text) {
  int jobs = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), jobs);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || jobs < 1 ||
      jobs > kMaxJobs) {
    throw UsageError("--jobs " + quoted(text) + ": expected a whole number from 1 to " +
                     std::to_string(kMaxJobs));
  }
  return jobs;
}

CalibrateFormat parseFormat(const std::string& text) {
  if (text == "text") return CalibrateFormat::Text;
  if (text == "json") return CalibrateFormat::Json;
  if (text == "c") return CalibrateFormat::C;
  throw UsageError("--format " + quoted(text) + ": expected text, json or c");
}

}  // namespace

CalibrateSettings checkCalibrateArgs(const CalibrateArgs& args) {
  CalibrateSettings settings;
  if (args.inputs.empty()) throw UsageError("no input: give a file, or - for standard input");
  if (std::count(args.inputs.begin(), args.inputs.end(), "-") > 1) {
    throw UsageError("standard input (-) can be read only once");
  }
  settings.inputs = args.inputs;
  settings.format = parseFormat(args.format);
  if (settings.format == CalibrateFormat::C && args.inputs.size() > 1) {
    throw UsageError("--format c writes one header: give one input");
  }
  if (args.tolerance != "auto") {
    settings.automaticTolerance = false;
    settings.tolerance = parseNumber("--tolerance", args.tolerance);
    if (!(settings.tolerance > 0.0)) {
      throw UsageError("--tolerance " + quoted(args.tolerance) + ": must be auto or above 0");
    }
  }
  settings.jobs = parseJobs(args.jobs);
  settings.output = args.output;
  if (!args.report.empty()) settings.reportPath = args.report;
  settings.read = readOptions(args.read);
  settings.reference = calibrationReference(args.reference);
  return settings;
}

InputReading readInput(const CalibrateSettings& settings, const std::string& source,
                       bool showProgress) {
  InputReading reading;
  reading.source = source;
  const std::string name =
      source == "-" ? std::string("standard input") : "'" + printable(source, 120) + "'";
  try {
    fluxtrim::ReadOptions options = settings.read;
    ProgressLine progress(source);
    if (showProgress) options.progress = progress.callback();
    reading.samples = fluxtrim::readSamples(source, options);
  } catch (const fluxtrim::Error& e) {
    reading.error = e.what();
  } catch (const std::bad_alloc&) {
    reading.error = "out of memory while reading " + name;
  }
  return reading;
}

int runCalibrate(const CalibrateArgs& args) {
  const CalibrateSettings settings = checkCalibrateArgs(args);
  int status = kExitUsable;
  for (const std::string& source : settings.inputs) {
    const InputReading reading = readInput(settings, source, settings.inputs.size() == 1);
    if (!reading.samples) {
      std::fprintf(stderr, "fluxtrim calibrate: %s\n", printable(reading.error, 400).c_str());
      status = std::max(status, kExitNoRun);
    }
  }
  if (status != kExitUsable) return status;
  throw fluxtrim::Error("this build of fluxtrim reads and checks its inputs but cannot calibrate");
}

}  // namespace fluxtrim_cli
