// fluxtrim calibrate: one calibration per input, against the model field, a given field strength
// or no reference, printed for a person (text), a program (json) or firmware (c, and the
// parameter files of two autopilots).
#ifndef FLUXTRIM_CLI_CALIBRATE_COMMAND_HPP
#define FLUXTRIM_CLI_CALIBRATE_COMMAND_HPP

#include <optional>
#include <string>
#include <vector>

#include "arguments.hpp"
#include "calibration_json.hpp"
#include "exit_status.hpp"
#include "export_formats.hpp"
#include "fluxtrim/calibration.hpp"
#include "fluxtrim/samples.hpp"
#include "terminal.hpp"

namespace fluxtrim_cli {

// The options of calibrate as typed.
struct CalibrateArgs {
  std::vector<std::string> inputs;  // files, "-" for standard input
  ReferenceArgs reference;
  ReadArgs read;
  std::string tolerance = "auto";
  std::string format = "text";
  std::string output;  // -o, empty for standard output
  std::string jobs = "1";
  std::string report;       // --report, empty when not given
  std::string scale;        // --scale, fitted or field; empty for fitted
  std::string outputUnits;  // --output-units, empty when not given
  FirmwareArgs firmware;    // --name, --c-type, --instance, --force
  VehicleArgs vehicle;      // --accel-columns, --accel-units, --planar, --mounting, --down
  std::string frame;        // --frame, mag or accel; empty for mag
};

enum class CalibrateFormat { Text, Json, C, Ardupilot, Px4 };

// The checked settings of a calibrate run: everything the calibration of one input needs.
struct CalibrateSettings {
  std::vector<std::string> inputs;  // at least one; "-" at most once
  fluxtrim::Reference reference;
  fluxtrim::ReadOptions read;  // no progress callback: each reading sets its own
  // The relative window of the fixed-window mode, > 0; empty for the automatic mode.
  std::optional<double> tolerance;
  // The calibration's options: the reference, the mode and tolerance, the vehicle's options.
  fluxtrim::CalibrationOptions calibration;
  bool reportInAccelerometerFrame = false;  // --frame accel
  CalibrateFormat format = CalibrateFormat::Text;
  std::string output;
  int jobs = 1;                           // threads, 1 to kMaxJobs
  std::optional<std::string> reportPath;  // the HTML report, when asked for; "-" standard output
  // The scale and unit of the corrected samples; the field ratio is each result's own.
  OutputScaling scaling;
  FirmwareOptions firmware;
};

constexpr int kMaxJobs = 256;

// Checks the options and resolves the reference field. Throws fluxtrim::UsageError, naming the
// option, for anything out of its domain: --format c, ardupilot and px4 and --report need exactly
// one input, a fixed --tolerance and --scale field need a reference, --output-units is a unit of
// the field (G, mG, uT or nT), --planar needs a model field and the automatic mode, --frame is
// mag or accel and goes with --report, and neither -o nor --report may be an input or the other
// (checkOutputs; --report - is standard output).
CalibrateSettings checkCalibrateArgs(const CalibrateArgs& args);

// One input read for calibration: its samples, or the one-line reason it could not be read.
struct InputReading {
  std::string source;
  std::optional<fluxtrim::SampleSet> samples;
  std::string error;         // empty when samples were read
  std::string details;       // lines below the error: the choices of an ambiguous input
  bool unreadable = false;   // the error is the input's (cannot be opened or read), not the
                             // options' or the content's
  bool interrupted = false;  // standard input ended by an interrupt (Ctrl-C): samples holds
                             // what was read before it
};

// Reads one input with the settings' options; a progress line on a terminal when showProgress.
// Standard input ends at the first interrupt (Ctrl-C), and the program at the second (see
// StandardInputInterrupt). Never throws for the input itself: an unreadable input, options it
// cannot satisfy or an input without a sample give error, so that one bad input in a batch does
// not stop the others.
InputReading readInput(const CalibrateSettings& settings, const std::string& source,
                       bool showProgress);

// What one input gave: its exit status, the text for the output and the lines for standard
// error.
struct InputOutcome {
  int status = kExitNoRun;
  std::string output;
  std::string messages;
};

// The outcome of samples calibrated with options into result: the status by the verdict, the
// output in the settings' format (a firmware file's warnings or refusal among the messages), and
// the report written when asked for (its failure a message and status 2).
InputOutcome calibratedOutcome(const CalibrateSettings& settings,
                               const fluxtrim::SampleSet& samples,
                               const fluxtrim::CalibrationOptions& options,
                               const fluxtrim::CalibrationResult& result, const Style& style);

// Writes one outcome as runCalibrate writes each: its messages on standard error, its output to
// the settings' output (opened only when there is output); returns its status. Throws IoError
// when the output cannot be written.
int writeOutcome(const CalibrateSettings& settings, const InputOutcome& outcome);

// Runs calibrate: checks the options, then calibrates the inputs on up to --jobs threads and
// writes the results in the order of the inputs, an input that could not be calibrated as one
// line on standard error (and its error document in JSON). Returns the highest exit status over
// the inputs: kExitUsable for pass and warn, kExitUnusable for fail, kExitNoRun for an input that
// gave no calibration. Throws the library's errors for bad options and an unwritable output.
int runCalibrate(const CalibrateArgs& args);

}  // namespace fluxtrim_cli

#endif
