// fluxtrim apply: a stored calibration applied to a recording, with a check of the result.
#ifndef FLUXTRIM_CLI_APPLY_COMMAND_HPP
#define FLUXTRIM_CLI_APPLY_COMMAND_HPP

#include <string>

#include "arguments.hpp"

namespace fluxtrim_cli {

struct ApplyArgs {
  std::string calibration;  // the calibration file (JSON)
  std::string input;        // the samples, "-" for standard input
  std::string output;       // -o, empty for standard output
  ReadArgs read;
};

// Writes the corrected samples as CSV (header x_U,y_U,z_U, U the unit the calibration file
// records for them: its samples' unit unless it names another, scaled as it records), then a
// summary on standard error: the count, the mean and spread of the corrected magnitudes and the
// mean against the reference field of the calibration file. Samples read in another unit
// (--units) are converted to the calibration's unit first; without --units they are taken to be
// in it. Returns kExitUsable, or kExitUnusable for a calibration whose verdict is fail (the
// samples are still written) or that holds none (nothing is written). Throws the library's errors
// for bad arguments, unreadable files and an input without samples.
int runApply(const ApplyArgs& args);

}  // namespace fluxtrim_cli

#endif
