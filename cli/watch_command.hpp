// fluxtrim watch: the calibration while the device is turned. Reads a serial port or standard
// input as the lines arrive, shows the coverage of directions and the live verdict, stops by its
// rule, by Ctrl-C or at the end of the input, and prints the calibration of every sample read as
// calibrate prints it.
#ifndef FLUXTRIM_CLI_WATCH_COMMAND_HPP
#define FLUXTRIM_CLI_WATCH_COMMAND_HPP

#include <string>

#include "calibrate_command.hpp"

namespace fluxtrim_cli {

// The options of watch as typed.
struct WatchArgs {
  std::string source;  // a serial device, or "-" for standard input
  std::string baud = "115200";
  std::string until = "pass";
  std::string save;  // --save, empty when not given
  // The reference, reading and output options, as calibrate takes them; inputs, tolerance and
  // jobs are not used.
  CalibrateArgs calibrate;
};

// Runs watch. Returns the status of calibrate for the calibration of the samples read; kExitNoRun
// when none was read or an output failed. Throws the library's errors for bad options, a port
// that cannot be opened or configured, and an input whose columns are not known.
int runWatch(const WatchArgs& args);

}  // namespace fluxtrim_cli

#endif
