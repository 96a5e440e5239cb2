// The parameter files of two autopilots, loaded from a ground station's parameter screen: each
// writes the calibration under the autopilot's own names, in the unit and with the signs its
// formula applies, and says the formula in its first comment lines.
#ifndef FLUXTRIM_CLI_PARAMETER_FILES_HPP
#define FLUXTRIM_CLI_PARAMETER_FILES_HPP

#include <string>
#include <vector>

#include "calibration_json.hpp"

namespace fluxtrim_cli {

// A .parm file, one NAME,VALUE line per parameter, for an autopilot that corrects a sample m in
// milligauss, in the frame of its logged magnetometer messages, as m' = A * (m + OFS), A
// symmetric: COMPASS_OFS_X/Y/Z = -offset in milligauss, COMPASS_DIA_X/Y/Z A's diagonal,
// COMPASS_ODI_X (xy), COMPASS_ODI_Y (xz), COMPASS_ODI_Z (yz) its off-diagonal (symmetricMatrix).
// instance 1 to 3 names the magnetometer: COMPASS_OFS_X, COMPASS_OFS2_X, COMPASS_OFS3_X. Values
// are written as the autopilot holds them, in single precision. Adds to warnings each value
// outside what the autopilot accepts (an offset beyond 1800 mG, a diagonal outside 0.2 to 5),
// which the file's comment repeats. Throws fluxtrim::Error as targetCalibration and
// symmetricMatrix do.
std::string ardupilotParameters(const StoredCalibration& stored, int instance,
                                std::vector<std::string>& warnings);

// A tab-separated parameter file ("vehicle-id component-id name value type", vehicle and
// component 1, type 9 for a 32-bit float) for an autopilot that corrects m in gauss as
// m' = R * (S * (m - OFF)), R its own rotation of the sensor: CAL_MAGn_XOFF/YOFF/ZOFF the offset
// in gauss, S symmetric with diagonal CAL_MAGn_XSCALE/YSCALE/ZSCALE and off-diagonal
// CAL_MAGn_XODIAG (xy), CAL_MAGn_YODIAG (xz), CAL_MAGn_ZODIAG (yz); n = instance, 0 to 3.
// CAL_MAGn_ID, the sensor's device id, cannot be known from a recording: it is left out, and the
// comment says so. Throws as ardupilotParameters does.
std::string px4Parameters(const StoredCalibration& stored, int instance);

}  // namespace fluxtrim_cli

#endif
