// What the calibration report shows of an accelerometer beside the magnetometer and of a
// calibration from a turn about one axis: table rows, and the corrected samples turned into the
// accelerometer's axes.
#ifndef FLUXTRIM_LIB_REPORT_VEHICLE_HPP
#define FLUXTRIM_LIB_REPORT_VEHICLE_HPP

#include <string>
#include <utility>
#include <vector>

#include "fluxtrim/calibration.hpp"
#include "reportPlots.hpp"

namespace fluxtrim {
namespace detail {

// Rows of the calibration's table, name and value, both HTML: the turn of a planar calibration
// and the mounting and inclination the accelerometer shows. None without either.
std::vector<std::pair<std::string, std::string>> vehicleRows(const CalibrationResult& result);

// The selection with every corrected sample turned into the accelerometer's axes by the
// estimated mounting (v_acc = matrix * corrected). Throws UsageError, with the reason, when the
// result has no determined mounting.
PlotSelection inAccelerometerFrame(const PlotSelection& selection, const CalibrationResult& result);

// What a planar result is called where the report names the kept model.
const char* planarModelName();

}  // namespace detail
}  // namespace fluxtrim

#endif
