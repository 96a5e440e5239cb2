// Subcommands and options of fluxtrim, and the one place where errors become exit statuses.
#include "command_line.hpp"

#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include <CLI/CLI.hpp>

#include "apply_command.hpp"
#include "calibrate_command.hpp"
#include "exit_status.hpp"
#include "export_command.hpp"
#include "field_command.hpp"
#include "fluxtrim/error.hpp"
#include "fluxtrim/text.hpp"
#include "fluxtrim/version.hpp"
#include "interrupt.hpp"
#include "input_text.hpp"
#include "terminal.hpp"
#include "watch_command.hpp"

namespace fluxtrim_cli {

namespace {

const char* const kCommands[] = {"calibrate", "field", "apply", "export", "watch"};

const char* const kExitFooter =
    "Exit status: 0 usable (pass, or warn with the warnings shown), 1 unusable\n"
    "(fail), 2 no run (bad arguments, unreadable input, unwritable output).\n";

void addReferenceOptions(CLI::App& command, ReferenceArgs& args, bool positionRequired) {
  CLI::Option* latitude =
      command.add_option("--lat", args.latitude, "Latitude, degrees north, -90 to 90")
          ->type_name("DEG");
  CLI::Option* longitude =
      command.add_option("--lon", args.longitude, "Longitude, degrees east, -360 to 360")
          ->type_name("DEG");
  if (positionRequired) {
    latitude->required();
    longitude->required();
  }
  command.add_option("--alt", args.height, "Height above the WGS-84 ellipsoid (default 0)")
      ->type_name("METRES");
  command.add_option("--date", args.date, "YYYY-MM-DD or decimal year (default today, UTC)")
      ->type_name("DATE");
  command.add_option("--model", args.model, "wmm2025 (default) or wmm2020")->type_name("MODEL");
}

void addReadOptions(CLI::App& command, ReadArgs& args) {
  command.add_option("--units", args.units, "G, mG, uT, nT, T, or counts:N (N per gauss)")
      ->type_name("UNIT");
  command.add_option("--columns", args.columns, "Three header names or column numbers from 1")
      ->type_name("X,Y,Z");
  command
      .add_option("--delimiter", args.delimiter, "auto (default), comma, semicolon, tab, blanks")
      ->type_name("NAME");
  command.add_option("--header", args.header, "auto (default), yes or no")->type_name("WHEN");
  command.add_option("--match", args.match, "Read only the lines that hold TEXT")
      ->type_name("TEXT");
}

// The accelerometer beside the magnetometer, and a calibration from a turn about one axis.
void addVehicleOptions(CLI::App& command, VehicleArgs& args) {
  command.add_option("--accel-columns", args.accelColumns, "The accelerometer's X, Y, Z columns")
      ->type_name("X,Y,Z");
  command.add_option("--accel-units", args.accelUnits, "m/s^2, g, or counts:N (N per g)")
      ->type_name("UNIT");
  command.add_flag("--planar", args.planar, "Calibrate a turn about one axis (needs --lat, --lon)");
  command.add_option("--mounting", args.mounting, "The magnetometer's orientation, if known")
      ->type_name("NAME");
  command.add_option("--down", args.down, "--planar without accelerometer: the axis pointing down")
      ->type_name("AXIS");
}

// The options of the firmware formats, shared by calibrate and export.
void addFirmwareOptions(CLI::App& command, FirmwareArgs& args) {
  command.add_option("--name", args.name, "C header: prefix of its names (default fluxtrim)")
      ->type_name("PREFIX");
  command.add_option("--c-type", args.cType, "C header: float (default) or double")
      ->type_name("TYPE");
  command
      .add_option("--instance", args.instance, "Autopilot's magnetometer: ardupilot 1-3, px4 0-3")
      ->type_name("N");
  command.add_flag("--force", args.force, "Write a failed calibration's C or parameter file");
}

// The options calibrate and watch share before their own: the reference with a field strength
// instead, and how to read the samples.
void addInputOptions(CLI::App& command, CalibrateArgs& calibrate) {
  addReferenceOptions(command, calibrate.reference, false);
  command
      .add_option("--field-strength", calibrate.reference.fieldStrength,
                  "Field strength instead: 0.48G, 48uT, 48000nT")
      ->type_name("VALUE");
  addReadOptions(command, calibrate.read);
  addVehicleOptions(command, calibrate.vehicle);
}

// The options calibrate and watch share for what they write.
void addOutputOptions(CLI::App& command, CalibrateArgs& calibrate) {
  command.add_option("--format", calibrate.format, "text (default), json, c, ardupilot, px4")
      ->type_name("FORMAT");
  command
      .add_option("--scale", calibrate.scale, "fitted (default), or field: scaled to the reference")
      ->type_name("SCALE");
  command.add_option("--output-units", calibrate.outputUnits, "Corrected samples in G, mG, uT, nT")
      ->type_name("UNIT");
  addFirmwareOptions(command, calibrate.firmware);
  command.add_option("-o,--output", calibrate.output, "Write to FILE instead of standard output")
      ->type_name("FILE");
}

CLI::App* addCalibrateCommand(CLI::App& app, CalibrateArgs& calibrate) {
  CLI::App* command =
      app.add_subcommand("calibrate", "Calibrate recordings: offset, matrix and a verdict");
  command->add_option("FILE", calibrate.inputs, "Recordings, - for standard input")
      ->required()
      ->type_name("");
  addInputOptions(*command, calibrate);
  command
      ->add_option("--tolerance", calibrate.tolerance,
                   "auto (default), or a fixed window such as 0.2")
      ->type_name("auto|VALUE");
  addOutputOptions(*command, calibrate);
  command->add_option("--jobs", calibrate.jobs, "Recordings calibrated at once (default 1)")
      ->type_name("N");
  command->add_option("--report", calibrate.report, "Write an HTML report to FILE")
      ->type_name("FILE");
  command
      ->add_option("--frame", calibrate.frame,
                   "The report's corrected samples in the mag's axes (default) or accel's")
      ->type_name("mag|accel");
  command->footer(kExitFooter);
  return command;
}

CLI::App* addFieldCommand(CLI::App& app, FieldArgs& field) {
  CLI::App* command = app.add_subcommand("field", "Print the model field at a place and date");
  addReferenceOptions(*command, field.reference, true);
  command->add_option("--format", field.format, "text (default) or json")->type_name("FORMAT");
  command->add_option("-o,--output", field.output, "Write to FILE instead of standard output")
      ->type_name("FILE");
  command->footer(
      "Prints X (north), Y (east), Z (down), H and F in nT, and I (positive down) and\n"
      "D (positive east of true north) in degrees, with the model's validity.\n\n"
      "Exit status: 0 field printed, 2 bad arguments or unwritable output.\n");
  return command;
}

CLI::App* addApplyCommand(CLI::App& app, ApplyArgs& apply) {
  CLI::App* command = app.add_subcommand("apply", "Correct a recording with a calibration file");
  command->add_option("CALIBRATION", apply.calibration, "Calibration file (JSON)")
      ->required()
      ->type_name("");
  command->add_option("FILE", apply.input, "Recording, - for standard input")
      ->required()
      ->type_name("");
  command->add_option("-o,--output", apply.output, "Write the CSV to FILE, not standard output")
      ->type_name("FILE");
  command->add_flag("--keep-columns", apply.keepColumns,
                    "Write every input column, the corrected X, Y, Z in place of the raw ones");
  command
      ->add_option("--frame", apply.frame,
                   "Corrected samples in the mag's axes (default) or the accel's")
      ->type_name("mag|accel");
  addReadOptions(*command, apply.read);
  command->footer(
      "Exit status: 0 samples corrected, 1 corrected but not trustworthy (the\n"
      "calibration's verdict is fail, a corrected sample is not finite, or their\n"
      "magnitudes are off the calibration's own) or no calibration in the file, 2 no\n"
      "run (bad arguments, unreadable input, samples not in the calibration's unit,\n"
      "unwritable output).\n");
  return command;
}

CLI::App* addExportCommand(CLI::App& app, ExportArgs& exported) {
  CLI::App* command =
      app.add_subcommand("export", "Write a calibration file for firmware or an autopilot");
  command->add_option("CALIBRATION", exported.calibration, "Calibration file (JSON)")
      ->required()
      ->type_name("");
  command->add_option("--format", exported.format, "c, ardupilot, px4 or json")
      ->required()
      ->type_name("FORMAT");
  command->add_option("-o,--output", exported.output, "Write to FILE instead of standard output")
      ->type_name("FILE");
  addFirmwareOptions(*command, exported.firmware);
  command->footer(
      "The scale and unit of the corrected samples are those the file records.\n\n"
      "Exit status: 0 written, 1 the calibration's verdict is fail or it holds\n"
      "none (a C or parameter file written only with --force), 2 no run.\n");
  return command;
}

CLI::App* addWatchCommand(CLI::App& app, WatchArgs& watch) {
  CLI::App* command = app.add_subcommand("watch", "Calibrate live while the device is turned");
  command->add_option("SOURCE", watch.source, "Serial device (/dev/ttyACM0), - for standard input")
      ->required()
      ->type_name("");
  command->add_option("--baud", watch.baud, "Serial speed, bits per second (default 115200)")
      ->type_name("RATE");
  command
      ->add_option("--until", watch.until,
                   "pass (default), coverage:P (percent), samples:N or never")
      ->type_name("RULE");
  command->add_option("--save", watch.save, "Write every sample read, with its time, to FILE")
      ->type_name("FILE");
  addInputOptions(*command, watch.calibrate);
  addOutputOptions(*command, watch.calibrate);
  command->add_option("--report", watch.calibrate.report, "Write an HTML report to FILE")
      ->type_name("FILE");
  command->footer(
      "Ctrl-C stops and calibrates what was read; a second Ctrl-C quits without\n"
      "writing. The end of the input (the device unplugged, the pipe closed) stops too.\n\n"
      "Exit status: 0 usable (pass, or warn with the warnings shown), 1 unusable\n"
      "(fail), 2 no run (bad arguments, a port that cannot be opened, no samples,\n"
      "unwritable output).\n");
  return command;
}

// The subcommand named by the first argument, or "" when there is none.
std::string commandOf(int argc, char** argv) {
  if (argc < 2) return "";
  for (const char* name : kCommands) {
    if (std::strcmp(argv[1], name) == 0) return name;
  }
  return "";
}

// Refuses an option given with an empty value (--units ""), which would otherwise read as an
// option not given.
void requireValues(const CLI::App& command) {
  for (const CLI::Option* option : command.get_options()) {
    for (const std::string& value : option->results()) {
      if (value.empty()) throw fluxtrim::UsageError(option->get_name() + ": empty value");
    }
  }
}

// One line for a bad argument, then where to find the usage.
int usageFailure(const std::string& command, std::string message) {
  for (char& c : message) {
    if (c == '\n') c = ' ';
  }
  const std::string program = command.empty() ? "fluxtrim" : "fluxtrim " + command;
  std::fprintf(stderr, "%s: %s\nRun '%s --help' for usage.\n", program.c_str(),
               fluxtrim::printableText(message, 400).c_str(), program.c_str());
  return kExitNoRun;
}

int runFailure(const std::string& command, const std::string& message) {
  const std::string program = command.empty() ? "fluxtrim" : "fluxtrim " + command;
  std::fprintf(stderr, "%s: %s\n", program.c_str(), fluxtrim::printableText(message, 400).c_str());
  return kExitNoRun;
}

}  // namespace

int runCommandLine(int argc, char** argv) {
  const std::string command = commandOf(argc, argv);
  installSignalHandlers();
  try {
    CLI::App app("Calibrates three-axis magnetometers against the Earth's field.", "fluxtrim");
    app.set_version_flag("--version", std::string("fluxtrim ") + fluxtrim::version(),
                         "Print the version and exit");
    app.set_help_flag("-h,--help", "Print this help and exit");
    app.require_subcommand(0, 1);
    app.footer(kExitFooter);
    app.get_formatter()->column_width(26);

    CalibrateArgs calibrate;
    CLI::App* calibrateCommand = addCalibrateCommand(app, calibrate);
    FieldArgs field;
    CLI::App* fieldCommand = addFieldCommand(app, field);
    ApplyArgs apply;
    CLI::App* applyCommand = addApplyCommand(app, apply);
    ExportArgs exported;
    CLI::App* exportCommand = addExportCommand(app, exported);
    WatchArgs watch;
    CLI::App* watchCommand = addWatchCommand(app, watch);

    try {
      app.parse(argc, argv);
    } catch (const CLI::Success& e) {
      return app.exit(e);
    } catch (const CLI::ParseError& e) {
      if (command.empty() && argc >= 2 && argv[1][0] != '-') {
        return usageFailure("", std::string("unknown command '") + argv[1] +
                                    "': expected calibrate, field, apply, export or watch");
      }
      return usageFailure(command, e.what());
    }
    for (const CLI::App* sub :
         {calibrateCommand, fieldCommand, applyCommand, exportCommand, watchCommand}) {
      if (sub->parsed()) requireValues(*sub);
    }
    if (calibrateCommand->parsed()) return runCalibrate(calibrate);
    if (fieldCommand->parsed()) return runField(field);
    if (applyCommand->parsed()) return runApply(apply);
    if (exportCommand->parsed()) return runExport(exported);
    if (watchCommand->parsed()) return runWatch(watch);
    return usageFailure("", "give a command: calibrate, field, apply, export or watch");
  } catch (const fluxtrim::AmbiguousInput& e) {
    // An input that does not say which of its columns or lines to read: the choices, no usage.
    const Question question = ambiguityQuestion(e);
    runFailure(command, question.message);
    std::fputs(question.details.c_str(), stderr);
    return kExitNoRun;
  } catch (const fluxtrim::UsageError& e) {
    return usageFailure(command, e.what());
  } catch (const fluxtrim::Error& e) {
    return runFailure(command, e.what());
  } catch (const std::bad_alloc&) {
    return runFailure(command, "out of memory");
  } catch (const std::exception& e) {
    return runFailure(command, e.what());
  }
}

}  // namespace fluxtrim_cli
