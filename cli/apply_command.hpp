// fluxtrim apply: a stored calibration applied to a recording, with a check of the result.
#ifndef FLUXTRIM_CLI_APPLY_COMMAND_HPP
#define FLUXTRIM_CLI_APPLY_COMMAND_HPP

#include <string>

#include "arguments.hpp"

namespace fluxtrim_cli {

struct ApplyArgs {
  std::string calibration;   // the calibration file (JSON)
  std::string input;         // the samples, "-" for standard input
  std::string output;        // -o, empty for standard output
  bool keepColumns = false;  // --keep-columns
  std::string frame;         // --frame, mag or accel; empty for mag
  ReadArgs read;
};

// Writes the corrected samples as CSV (header x_U,y_U,z_U, U the unit the calibration file
// records for them: its samples' unit unless it names another, scaled as it records), or with
// --keep-columns every column of each sample line with the corrected three in place of the raw
// ones (the header line too, the three names becoming x_U, y_U, z_U), in the input's delimiter;
// then a summary on standard error: the count, the mean and spread of the corrected magnitudes,
// the calibration's own figures and the mean against the reference field of the calibration file.
// Samples read in another unit (--units) are converted to the calibration's unit first; without
// --units they are taken to be in it, and when their corrected magnitudes are more than a factor
// kUnitFactor off the calibration's field that is refused (nothing written, kExitNoRun). Returns
// kExitUsable; or kExitUnusable, the samples still written, for a calibration whose verdict is
// fail, corrected samples that are not finite, or a mean corrected magnitude further from the
// calibration's own than kSpreadAllowance times its residual; kExitUnusable, nothing written, for
// a calibration file that holds none. Throws the library's errors for bad arguments, unreadable
// files, an input without samples, an output that is an input (checkOutputs) and a unit mismatch.
int runApply(const ApplyArgs& args);

// More than this factor between the corrected magnitudes and the calibration's field, in either
// direction, is another unit: the Earth's field itself varies by about three from place to place.
constexpr double kUnitFactor = 4.0;
// Residuals of the calibration's own samples by which the mean corrected magnitude may differ
// from theirs.
constexpr double kSpreadAllowance = 3.0;

}  // namespace fluxtrim_cli

#endif
