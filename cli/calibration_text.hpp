// The text of `calibrate --format text`, for a person, within 80 columns: the verdict, the reasons
// each with its action, the calibration, the key figures and the convention to apply it by.
#ifndef FLUXTRIM_CLI_CALIBRATION_TEXT_HPP
#define FLUXTRIM_CLI_CALIBRATION_TEXT_HPP

#include <optional>
#include <string>

#include "calibration_json.hpp"
#include "fluxtrim/calibration.hpp"
#include "fluxtrim/samples.hpp"
#include "terminal.hpp"

namespace fluxtrim_cli {

// The calibration of one input, coloured by style. tolerance is empty for the automatic mode.
// The matrix is shown as applied for output: scaled, and for corrected samples in its unit.
std::string calibrationText(const fluxtrim::SampleSet& samples,
                            const fluxtrim::Reference& reference, std::optional<double> tolerance,
                            const fluxtrim::CalibrationResult& result, const Style& style,
                            const OutputScaling& output = {});

}  // namespace fluxtrim_cli

#endif
