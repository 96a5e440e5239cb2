// The C header of `calibrate --format c`: the offset and the matrix as arrays and an inline
// function that applies them, for firmware.
#ifndef FLUXTRIM_CLI_CALIBRATION_C_HPP
#define FLUXTRIM_CLI_CALIBRATION_C_HPP

#include <optional>
#include <string>

#include "fluxtrim/calibration.hpp"
#include "fluxtrim/samples.hpp"

namespace fluxtrim_cli {

// A C99 header (also valid C++) defining fluxtrim_offset[3], fluxtrim_matrix[3][3] and
// fluxtrim_correct(raw, corrected), which computes corrected = (raw - offset) * matrix in the
// library's order of operations, so that in double precision without contraction into fused
// multiply-add it gives applyCalibration's values to the bit. The element type is FLUXTRIM_REAL,
// double unless defined before the header. The numbers are written in the shortest form that
// reads back as the same double. A comment records the input, the reference (model, date and
// position), the fit, the verdict with its reasons and the version of fluxtrim. With the verdict
// fail the header holds an #error, so that it cannot be built into firmware unnoticed. Throws
// fluxtrim::Error when the result holds no calibration or a value that is not finite.
std::string calibrationHeader(const fluxtrim::SampleSet& samples,
                              const fluxtrim::Reference& reference, std::optional<double> tolerance,
                              const fluxtrim::CalibrationResult& result);

}  // namespace fluxtrim_cli

#endif
