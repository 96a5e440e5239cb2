// The C header of `--format c`: the offset and the matrix as arrays and an inline function that
// applies them, for firmware, under a prefix of the user's choosing.
#ifndef FLUXTRIM_CLI_CALIBRATION_C_HPP
#define FLUXTRIM_CLI_CALIBRATION_C_HPP

#include <string>

#include "calibration_json.hpp"

namespace fluxtrim_cli {

struct FirmwareOptions;

// A C99 header (also valid C++) defining NAME_offset[3], NAME_matrix[3][3] and NAME_correct(raw,
// corrected), which computes corrected = (raw - offset) * matrix for raw samples in the
// recording's unit and corrected ones in the stored output unit, in the library's order of
// operations, NAME being options.name and the include guard NAME_CALIBRATION_H in capitals. With
// options.cFloat the type is float and every literal the nearest float with an f suffix, so that
// -Wconversion and -Wdouble-promotion find nothing; else double, each literal the shortest text
// that reads back as the same double, and then, built without contraction into fused multiply-add,
// the function gives apply's values to the bit. The comment at the top records what
// descriptionLines says and the formula. A failed calibration's header opens with a line that
// says so and holds an #error, so that it cannot be built into firmware unnoticed. Throws
// fluxtrim::Error as targetCalibration does, and for a value beyond the range of a float.
std::string calibrationHeader(const StoredCalibration& stored, const FirmwareOptions& options);

}  // namespace fluxtrim_cli

#endif
