// fluxtrim calibrate: option checks, reading of the inputs, calibration on a pool of threads, and
// the results written in the order of the inputs.
#include "calibrate_command.hpp"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

#include "calibration_json.hpp"
#include "calibration_text.hpp"
#include "exit_status.hpp"
#include "fluxtrim/calibration.hpp"
#include "fluxtrim/error.hpp"
#include "fluxtrim/report.hpp"
#include "fluxtrim/text.hpp"
#include "interrupt.hpp"
#include "input_text.hpp"
#include "output.hpp"
#include "terminal.hpp"

namespace fluxtrim_cli {

namespace {

using fluxtrim::UsageError;

const char* const kPrefix = "fluxtrim calibrate: ";

std::string inQuotes(const std::string& text) {
  return "'" + fluxtrim::printableText(text, 60) + "'";
}

std::string inputName(const std::string& source) {
  return source == "-" ? std::string("standard input")
                       : "'" + fluxtrim::printableText(source, 120) + "'";
}

int parseJobs(const std::string& text) {
  int jobs = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), jobs);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || jobs < 1 ||
      jobs > kMaxJobs) {
    throw UsageError("--jobs " + inQuotes(text) + ": expected a whole number from 1 to " +
                     std::to_string(kMaxJobs));
  }
  return jobs;
}

CalibrateFormat parseFormat(const std::string& text) {
  if (text == "text") return CalibrateFormat::Text;
  if (text == "json") return CalibrateFormat::Json;
  if (text == "c") return CalibrateFormat::C;
  if (text == "ardupilot") return CalibrateFormat::Ardupilot;
  if (text == "px4") return CalibrateFormat::Px4;
  throw UsageError("--format " + inQuotes(text) + ": expected text, json, c, ardupilot or px4");
}

std::optional<FirmwareFormat> firmwareOf(CalibrateFormat format) {
  switch (format) {
    case CalibrateFormat::C:
      return FirmwareFormat::C;
    case CalibrateFormat::Ardupilot:
      return FirmwareFormat::Ardupilot;
    case CalibrateFormat::Px4:
      return FirmwareFormat::Px4;
    case CalibrateFormat::Text:
    case CalibrateFormat::Json:
      break;
  }
  return std::nullopt;
}

// --scale and --output-units: the scale to the field needs a reference to scale to, and corrected
// samples are in a unit of the field.
OutputScaling parseOutput(const CalibrateArgs& args, const fluxtrim::Reference& reference) {
  OutputScaling output;
  if (args.scale == "field") {
    if (reference.kind() == fluxtrim::Reference::Kind::None) {
      throw UsageError(
          "--scale field scales the corrected samples to the reference field: give --lat and "
          "--lon or --field-strength");
    }
    output.toField = true;
  } else if (!args.scale.empty() && args.scale != "fitted") {
    throw UsageError("--scale " + inQuotes(args.scale) + ": expected fitted or field");
  }
  if (!args.outputUnits.empty()) {
    const fluxtrim::SampleUnit unit = fluxtrim::parseUnit(args.outputUnits);
    if (unit.unit == fluxtrim::Unit::Counts || unit.unit == fluxtrim::Unit::Tesla) {
      throw UsageError("--output-units " + inQuotes(args.outputUnits) +
                       ": expected G, mG, uT or nT");
    }
    output.unit = unit;
  }
  return output;
}

// The calibration's options: reference, mode and the vehicle's options (--accel-columns goes into
// the settings' read options).
fluxtrim::CalibrationOptions calibrationOptions(const CalibrateArgs& args,
                                                CalibrateSettings& settings) {
  fluxtrim::CalibrationOptions options;
  options.reference = settings.reference;
  if (settings.tolerance) {
    if (args.vehicle.planar) {
      throw UsageError("--planar calibrates in the automatic mode: give it without --tolerance");
    }
    options.mode = fluxtrim::Mode::FixedWindow;
    options.tolerance = *settings.tolerance;
  }
  vehicleOptions(args.vehicle, settings.read, options);
  return options;
}

// The settings' scaling with the result's own ratio to the field.
OutputScaling outputFor(const CalibrateSettings& settings,
                        const fluxtrim::CalibrationResult& result) {
  OutputScaling output = settings.scaling;
  if (output.toField) output.fieldRatio = fluxtrim::fieldScaleRatio(result);
  return output;
}

// A document as written: indented for one input, one line each for several; the characters
// that could reorder or split what a viewer shows written as \u escapes, the same JSON values.
std::string jsonText(const CalibrateSettings& settings, const Json& document) {
  const int indent = settings.inputs.size() == 1 ? 2 : -1;
  return fluxtrim::visibleText(document.dump(indent, ' ', false, Json::error_handler_t::replace)) +
         "\n";
}

// The output of a calibrated input in the settings' format; several inputs in JSON give one
// line each.
std::string formatted(const CalibrateSettings& settings, const fluxtrim::SampleSet& samples,
                      const fluxtrim::CalibrationResult& result, const Style& style) {
  switch (settings.format) {
    case CalibrateFormat::Json:
      return jsonText(settings, calibrationDocument(samples, settings.reference, settings.tolerance,
                                                    result, outputFor(settings, result)));
    case CalibrateFormat::C:
    case CalibrateFormat::Ardupilot:
    case CalibrateFormat::Px4:
    case CalibrateFormat::Text:
      break;
  }
  return calibrationText(samples, settings.reference, settings.tolerance, result, style,
                         outputFor(settings, result));
}

// A firmware format's file, written from the calibration document as export writes it from the
// saved one; its warnings, or why it is not written, as lines for standard error.
void firmwareOutcome(const CalibrateSettings& settings, const fluxtrim::SampleSet& samples,
                     const fluxtrim::CalibrationResult& result, InputOutcome& outcome) {
  const Json document = calibrationDocument(samples, settings.reference, settings.tolerance, result,
                                            outputFor(settings, result));
  const FirmwareFile file =
      firmwareFile(*firmwareOf(settings.format),
                   storedCalibration(document, "the calibration of " + inputName(samples.source)),
                   settings.firmware);
  for (const std::string& warning : file.warnings) {
    outcome.messages += kPrefix + std::string("warning: ") + warning + "\n";
  }
  if (!file.refusal.empty()) {
    outcome.messages += kPrefix + inputName(samples.source) + ": " + file.refusal + "\n";
  }
  outcome.output = file.text;
}

// The outcome of an input that gave no calibration: one line on standard error, and in JSON its
// error document, in text with several inputs a short section, in its place in the output.
InputOutcome failedInput(const CalibrateSettings& settings, const std::string& source,
                         InputError error, const std::string& message) {
  InputOutcome outcome;
  outcome.status = kExitNoRun;
  outcome.messages = kPrefix + fluxtrim::printableText(message, 400) + "\n";
  if (settings.format == CalibrateFormat::Json) {
    outcome.output = jsonText(settings, errorDocument(source, error, message));
  } else if (settings.format == CalibrateFormat::Text && settings.inputs.size() > 1) {
    outcome.output =
        wrapped("Not calibrated: " + fluxtrim::printableText(message, 400), kLineWidth, "  ") +
        "\n";
  }
  return outcome;
}

// The HTML report of the calibration, written to its path; a failure is one line and status 2.
void writeReport(const CalibrateSettings& settings, const fluxtrim::SampleSet& samples,
                 const fluxtrim::CalibrationOptions& options,
                 const fluxtrim::CalibrationResult& result, InputOutcome& outcome) {
  try {
    fluxtrim::ReportOptions view;
    view.accelerometerFrame = settings.reportInAccelerometerFrame;
    Output report(*settings.reportPath);
    report.write(fluxtrim::reportHtml(samples, options, result, view));
    report.close();
  } catch (const fluxtrim::Error& e) {
    outcome.messages +=
        kPrefix + std::string("report: ") + fluxtrim::printableText(e.what(), 400) + "\n";
    outcome.status = kExitNoRun;
  }
}

// Reads, calibrates and formats one input; whatever keeps the input from being calibrated
// becomes its outcome (the exceptions of the library and of memory), so that the other inputs
// go on.
InputOutcome calibrateInput(const CalibrateSettings& settings, const std::string& source,
                            const Style& style) {
  const InputReading reading = readInput(settings, source, settings.inputs.size() == 1);
  const std::string interrupted =
      reading.interrupted ? kPrefix + inputName(source) + " was interrupted: " +
                                (reading.samples ? "calibrating the samples read before\n"
                                                 : std::string("nothing to calibrate\n"))
                          : std::string();
  if (!reading.samples) {
    InputOutcome outcome =
        failedInput(settings, source, reading.unreadable ? InputError::Unreadable : InputError::Bad,
                    reading.error);
    outcome.messages = interrupted + outcome.messages;
    outcome.messages += reading.details;
    return outcome;
  }
  try {
    const fluxtrim::CalibrationOptions& options = settings.calibration;
    const fluxtrim::CalibrationResult result = fluxtrim::calibrate(*reading.samples, options);
    InputOutcome outcome = calibratedOutcome(settings, *reading.samples, options, result, style);
    outcome.messages = interrupted + outcome.messages;
    return outcome;
  } catch (const fluxtrim::Error& e) {
    return failedInput(settings, source, InputError::Bad, inputName(source) + ": " + e.what());
  } catch (const std::bad_alloc&) {
    return failedInput(settings, source, InputError::Bad,
                       "out of memory while calibrating " + inputName(source));
  } catch (const std::exception& e) {
    return failedInput(settings, source, InputError::Bad, inputName(source) + ": " + e.what());
  }
}

// calibrateInput, with whatever still escapes it (memory running out while its outcome is
// made) turned into the input's error: nothing thrown leaves a worker thread.
InputOutcome safeOutcome(const CalibrateSettings& settings, const std::string& source,
                         const Style& style) noexcept {
  InputOutcome outcome;  // no run
  try {
    return calibrateInput(settings, source, style);
  } catch (const std::exception& e) {
    try {
      outcome.messages = kPrefix + std::string("cannot calibrate ") + inputName(source) + ": " +
                         fluxtrim::printableText(e.what(), 400) + "\n";
    } catch (const std::exception&) {
      // Too little memory even for the words: the status alone tells.
    }
  }
  return outcome;
}

// Threads that run a task until it returns; on destruction they are told to stop and joined. A
// thread that cannot be started (a limit on threads or memory) is left out: started() tells how
// many run, and failure() why the next one did not.
class Workers {
 public:
  template <typename Task>
  Workers(int count, Task task) {
    threads_.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
      try {
        threads_.emplace_back([this, task] { task(stop_); });
      } catch (const std::exception& e) {
        failure_ = e.what();
        break;
      }
    }
  }
  ~Workers() { join(); }
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;

  int started() const { return static_cast<int>(threads_.size()); }
  const std::string& failure() const { return failure_; }

  void join() {
    stop_ = true;
    for (std::thread& thread : threads_) {
      if (thread.joinable()) thread.join();
    }
  }

 private:
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
  std::string failure_;
};

// Writes the outcome of each input, taken in the order of the inputs from outcomeOf(index), and
// returns the highest status. The output is opened at its first write, once an input has been
// read, so that a run whose every input fails leaves an existing file alone in text and C.
template <typename OutcomeOf>
int writeOutcomes(const CalibrateSettings& settings, OutcomeOf outcomeOf) {
  std::unique_ptr<Output> out;
  int status = kExitUsable;
  for (std::size_t i = 0; i < settings.inputs.size(); ++i) {
    const InputOutcome outcome = outcomeOf(i);
    status = std::max(status, outcome.status);
    std::fputs(outcome.messages.c_str(), stderr);
    if (outcome.output.empty()) continue;
    if (!out) out = std::make_unique<Output>(settings.output);
    if (i > 0 && settings.format == CalibrateFormat::Text) out->write("\n");
    out->write(outcome.output);
    if (out->failed()) break;  // close() reports it
  }
  if (out) out->close();
  return status;
}

}  // namespace

InputOutcome calibratedOutcome(const CalibrateSettings& settings,
                               const fluxtrim::SampleSet& samples,
                               const fluxtrim::CalibrationOptions& options,
                               const fluxtrim::CalibrationResult& result, const Style& style) {
  InputOutcome outcome;
  outcome.status =
      result.diagnostics.verdict == fluxtrim::Verdict::Fail ? kExitUnusable : kExitUsable;
  if (firmwareOf(settings.format)) {
    firmwareOutcome(settings, samples, result, outcome);
  } else {
    outcome.output = formatted(settings, samples, result, style);
  }
  if (settings.reportPath) writeReport(settings, samples, options, result, outcome);
  return outcome;
}

int writeOutcome(const CalibrateSettings& settings, const InputOutcome& outcome) {
  return writeOutcomes(settings, [&outcome](std::size_t) { return outcome; });
}

CalibrateSettings checkCalibrateArgs(const CalibrateArgs& args) {
  CalibrateSettings settings;
  if (args.inputs.empty()) throw UsageError("no input: give a file, or - for standard input");
  if (std::count(args.inputs.begin(), args.inputs.end(), "-") > 1) {
    throw UsageError("standard input (-) can be read only once");
  }
  settings.inputs = args.inputs;
  settings.format = parseFormat(args.format);
  if (firmwareOf(settings.format) && args.inputs.size() > 1) {
    throw UsageError("--format " + args.format + " writes one file: give one input");
  }
  settings.firmware = checkFirmwareArgs(args.firmware, firmwareOf(settings.format));
  if (!args.report.empty()) {
    if (args.inputs.size() > 1) throw UsageError("--report writes one report: give one input");
    settings.reportPath = args.report;
  }
  settings.jobs = parseJobs(args.jobs);
  settings.output = args.output;
  // Neither the output nor the report may overwrite a recording or the other.
  std::vector<NamedFile> inputs;
  for (const std::string& input : args.inputs) inputs.push_back({"the input", input});
  std::vector<NamedFile> outputs{{"-o", settings.output}};
  if (settings.reportPath) outputs.push_back({"--report", *settings.reportPath});
  checkOutputs(inputs, outputs);
  settings.read = readOptions(args.read);
  settings.reference = calibrationReference(args.reference);
  settings.scaling = parseOutput(args, settings.reference);
  if (args.tolerance != "auto") {
    settings.tolerance = parseNumber("--tolerance", args.tolerance);
    if (!(*settings.tolerance > 0.0)) {
      throw UsageError("--tolerance " + inQuotes(args.tolerance) + ": must be auto or above 0");
    }
    if (settings.reference.kind() == fluxtrim::Reference::Kind::None) {
      throw UsageError("--tolerance " + inQuotes(args.tolerance) +
                       " compares raw magnitudes with the reference field: give --lat and --lon "
                       "or --field-strength, or use --tolerance auto");
    }
  }
  settings.calibration = calibrationOptions(args, settings);
  settings.reportInAccelerometerFrame = parseFrame(args.frame);
  if (settings.reportInAccelerometerFrame && !settings.reportPath) {
    throw UsageError("--frame accel turns the report's corrected samples: give --report");
  }
  return settings;
}

InputReading readInput(const CalibrateSettings& settings, const std::string& source,
                       bool showProgress) {
  InputReading reading;
  reading.source = source;
  std::optional<StandardInputInterrupt> interrupt;
  try {
    fluxtrim::ReadOptions options = settings.read;
    ProgressLine progress(source);
    if (showProgress) options.progress = progress.callback();
    if (source == "-") options.interrupted = interrupt.emplace().hook();
    reading.samples = fluxtrim::readSamples(source, options);
  } catch (const fluxtrim::IoError& e) {
    reading.error = e.what();
    reading.unreadable = true;
  } catch (const fluxtrim::AmbiguousInput& e) {
    const Question question = ambiguityQuestion(e);
    reading.error = question.message;
    reading.details = question.details;
  } catch (const fluxtrim::Error& e) {
    reading.error = e.what();
  } catch (const std::bad_alloc&) {
    reading.error = "out of memory while reading " + inputName(source);
  }
  reading.interrupted = interrupt && interrupt->interrupted();
  if (reading.samples && reading.samples->values.empty()) {
    reading.error = "no samples in " + inputName(source) + " (" +
                    fluxtrim::noSamplesText(*reading.samples) + ")";
    reading.samples.reset();
  }
  return reading;
}

int runCalibrate(const CalibrateArgs& args) {
  const CalibrateSettings settings = checkCalibrateArgs(args);
  const fluxtrim::Reference& reference = settings.reference;
  if (reference.kind() == fluxtrim::Reference::Kind::Field && !reference.field().withinValidity) {
    std::fprintf(stderr, "%swarning: %s\n", kPrefix, reference.field().validityNote.c_str());
  }
  const bool toStandardOutput = settings.output.empty() || settings.output == "-";
  const Style style = toStandardOutput ? Style(stdout) : Style();

  // Each worker takes the next input; the outcomes wait in their slots until written in order.
  // Without workers, for one input at a time or when none could start, the calling thread
  // calibrates each input when its turn comes.
  const std::size_t count = settings.inputs.size();
  std::vector<std::optional<InputOutcome>> outcomes(count);
  std::mutex mutex;
  std::condition_variable done;
  std::atomic<std::size_t> next{0};
  const int wanted = static_cast<int>(std::min<std::size_t>(settings.jobs, count));
  Workers workers(wanted > 1 ? wanted : 0, [&](const std::atomic<bool>& stop) {
    for (std::size_t i = next++; i < count && !stop; i = next++) {
      InputOutcome outcome = safeOutcome(settings, settings.inputs[i], style);
      {
        const std::lock_guard<std::mutex> lock(mutex);
        outcomes[i] = std::move(outcome);
      }
      done.notify_all();
    }
  });
  if (wanted > 1 && workers.started() < wanted) {
    const int started = workers.started();
    std::fprintf(stderr, "%swarning: %d of %d threads could start (%s): calibrating on %s\n",
                 kPrefix, started, wanted, fluxtrim::printableText(workers.failure(), 100).c_str(),
                 started == 0
                     ? "the main thread alone"
                     : (std::to_string(started) + (started == 1 ? " thread" : " threads")).c_str());
  }
  const int status = writeOutcomes(settings, [&](std::size_t i) {
    if (workers.started() == 0) return safeOutcome(settings, settings.inputs[i], style);
    std::unique_lock<std::mutex> lock(mutex);
    done.wait(lock, [&] { return outcomes[i].has_value(); });
    InputOutcome outcome = std::move(*outcomes[i]);
    outcomes[i].reset();
    return outcome;
  });
  workers.join();
  return status;
}

}  // namespace fluxtrim_cli
