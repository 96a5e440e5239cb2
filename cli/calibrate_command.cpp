// fluxtrim calibrate: option checks, reading of the inputs, calibration on a pool of threads, and
// the results written in the order of the inputs.
#include "calibrate_command.hpp"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

#include "calibration_c.hpp"
#include "calibration_json.hpp"
#include "calibration_text.hpp"
#include "exit_status.hpp"
#include "fluxtrim/calibration.hpp"
#include "fluxtrim/error.hpp"
#include "fluxtrim/report.hpp"
#include "fluxtrim/text.hpp"
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
  throw UsageError("--format " + inQuotes(text) + ": expected text, json or c");
}

// What one input gave: its exit status, the text for the output and the lines for standard
// error.
struct InputOutcome {
  int status = kExitNoRun;
  std::string output;
  std::string messages;
};

// The output of a calibrated input in the settings' format; several inputs in JSON give one
// line each.
std::string formatted(const CalibrateSettings& settings, const fluxtrim::SampleSet& samples,
                      const fluxtrim::CalibrationResult& result, const Style& style) {
  switch (settings.format) {
    case CalibrateFormat::Json: {
      const Json document =
          calibrationDocument(samples, settings.reference, settings.tolerance, result);
      const int indent = settings.inputs.size() == 1 ? 2 : -1;
      return document.dump(indent, ' ', false, Json::error_handler_t::replace) + "\n";
    }
    case CalibrateFormat::C:
      return calibrationHeader(samples, settings.reference, settings.tolerance, result);
    case CalibrateFormat::Text:
      break;
  }
  return calibrationText(samples, settings.reference, settings.tolerance, result, style);
}

// The outcome of an input that gave no calibration: one line on standard error, and in JSON its
// error document, in text with several inputs a short section, in its place in the output.
InputOutcome failedInput(const CalibrateSettings& settings, const std::string& source,
                         InputError error, const std::string& message) {
  InputOutcome outcome;
  outcome.status = kExitNoRun;
  outcome.messages = kPrefix + fluxtrim::printableText(message, 400) + "\n";
  if (settings.format == CalibrateFormat::Json) {
    const int indent = settings.inputs.size() == 1 ? 2 : -1;
    outcome.output = errorDocument(source, error, message)
                         .dump(indent, ' ', false, Json::error_handler_t::replace) +
                     "\n";
  } else if (settings.format == CalibrateFormat::Text && settings.inputs.size() > 1) {
    outcome.output =
        wrapped("Not calibrated: " + fluxtrim::printableText(message, 400), kLineWidth, "  ") +
        "\n";
  }
  return outcome;
}

// Reads, calibrates and formats one input. Never throws: whatever keeps the input from being
// calibrated becomes its outcome, so that the other inputs go on.
InputOutcome calibrateInput(const CalibrateSettings& settings, const std::string& source,
                            const Style& style) {
  const InputReading reading = readInput(settings, source, settings.inputs.size() == 1);
  if (!reading.samples) {
    InputOutcome outcome =
        failedInput(settings, source, reading.unreadable ? InputError::Unreadable : InputError::Bad,
                    reading.error);
    outcome.messages += reading.details;
    return outcome;
  }
  try {
    fluxtrim::CalibrationOptions options;
    options.reference = settings.reference;
    if (settings.tolerance) {
      options.mode = fluxtrim::Mode::FixedWindow;
      options.tolerance = *settings.tolerance;
    }
    const fluxtrim::CalibrationResult result = fluxtrim::calibrate(*reading.samples, options);
    InputOutcome outcome;
    outcome.status =
        result.diagnostics.verdict == fluxtrim::Verdict::Fail ? kExitUnusable : kExitUsable;
    if (settings.format == CalibrateFormat::C && !hasCalibration(result)) {
      // Calibrated, and failed: no sample was left for a fit, so there is nothing to write.
      outcome.messages = kPrefix + inputName(source) +
                         ": no sample was kept for a fit: no C header written (verdict fail)\n";
      return outcome;
    }
    outcome.output = formatted(settings, *reading.samples, result, style);
    if (settings.reportPath) {
      try {
        fluxtrim::writeReport(*settings.reportPath, *reading.samples, options, result);
      } catch (const fluxtrim::Error& e) {
        outcome.messages += kPrefix + fluxtrim::printableText(e.what(), 400) + "\n";
        outcome.status = kExitNoRun;
      }
    }
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

// Threads that run a task until it returns; on destruction they are told to stop and joined.
class Workers {
 public:
  template <typename Task>
  Workers(int count, Task task) {
    for (int i = 0; i < count; ++i) threads_.emplace_back([this, task] { task(stop_); });
  }
  ~Workers() { join(); }
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;

  void join() {
    stop_ = true;
    for (std::thread& thread : threads_) {
      if (thread.joinable()) thread.join();
    }
  }

 private:
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
};

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
  if (!args.report.empty()) {
    if (args.inputs.size() > 1) throw UsageError("--report writes one report: give one input");
    settings.reportPath = args.report;
  }
  settings.jobs = parseJobs(args.jobs);
  settings.output = args.output;
  // Neither the output nor the report may overwrite a recording.
  const std::pair<const char*, std::string> written[] = {{"-o", settings.output},
                                                         {"--report", args.report}};
  for (const auto& [option, path] : written) {
    if (path.empty() || path == "-") continue;
    for (const std::string& input : args.inputs) {
      std::error_code error;
      if (input != "-" && std::filesystem::equivalent(input, path, error)) {
        throw UsageError(std::string(option) + " " + inQuotes(path) +
                         " names an input: it would overwrite the recording");
      }
    }
  }
  settings.read = readOptions(args.read);
  settings.reference = calibrationReference(args.reference);
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
  return settings;
}

InputReading readInput(const CalibrateSettings& settings, const std::string& source,
                       bool showProgress) {
  InputReading reading;
  reading.source = source;
  try {
    fluxtrim::ReadOptions options = settings.read;
    ProgressLine progress(source);
    if (showProgress) options.progress = progress.callback();
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
  const std::size_t count = settings.inputs.size();
  std::vector<std::optional<InputOutcome>> outcomes(count);
  std::mutex mutex;
  std::condition_variable done;
  std::atomic<std::size_t> next{0};
  Workers workers(static_cast<int>(std::min<std::size_t>(settings.jobs, count)),
                  [&](const std::atomic<bool>& stop) {
                    for (std::size_t i = next++; i < count && !stop; i = next++) {
                      InputOutcome outcome = calibrateInput(settings, settings.inputs[i], style);
                      {
                        const std::lock_guard<std::mutex> lock(mutex);
                        outcomes[i] = std::move(outcome);
                      }
                      done.notify_all();
                    }
                  });

  // The output is opened at its first write, once an input has been read, so that a run whose
  // every input fails leaves an existing file alone in text and C.
  std::unique_ptr<Output> out;
  int status = kExitUsable;
  for (std::size_t i = 0; i < count; ++i) {
    InputOutcome outcome;
    {
      std::unique_lock<std::mutex> lock(mutex);
      done.wait(lock, [&] { return outcomes[i].has_value(); });
      outcome = std::move(*outcomes[i]);
      outcomes[i].reset();
    }
    status = std::max(status, outcome.status);
    std::fputs(outcome.messages.c_str(), stderr);
    if (outcome.output.empty()) continue;
    if (!out) out = std::make_unique<Output>(settings.output);
    if (i > 0 && settings.format == CalibrateFormat::Text) out->write("\n");
    out->write(outcome.output);
    if (std::ferror(out->stream())) break;  // close() reports it
  }
  workers.join();
  if (out) out->close();
  return status;
}

}  // namespace fluxtrim_cli
