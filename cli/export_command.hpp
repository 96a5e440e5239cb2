// fluxtrim export: a saved calibration file written again in a firmware format, or as JSON.
#ifndef FLUXTRIM_CLI_EXPORT_COMMAND_HPP
#define FLUXTRIM_CLI_EXPORT_COMMAND_HPP

#include <string>

#include "export_formats.hpp"

namespace fluxtrim_cli {

struct ExportArgs {
  std::string calibration;  // the calibration file (JSON)
  std::string format;       // json, c, ardupilot or px4
  std::string output;       // -o, empty for standard output
  FirmwareArgs firmware;
};

// Writes the calibration file in the format: the same bytes as `calibrate --format FORMAT` with
// the same options on the recording it came from, with the scale and output unit the file
// records (a file written before they were recorded: the fitted scale, in the target's unit).
// Returns kExitUsable, or kExitUnusable for a calibration whose verdict is fail or that holds
// none; a firmware format then writes nothing unless --force (and never without a calibration).
// Throws the library's errors for bad arguments, an unreadable calibration file, an output that
// names it or cannot be written, and a calibration the format cannot hold.
int runExport(const ExportArgs& args);

}  // namespace fluxtrim_cli

#endif
