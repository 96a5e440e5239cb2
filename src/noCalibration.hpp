// The explanation fluxtrim.out gives when a run ends without a calibration.
#ifndef NO_CALIBRATION_HPP
#define NO_CALIBRATION_HPP

#include <string>

#include "FERROKIT.hpp"

// Why the record of kit, calibrated with the relative tolerance, is no calibration: how many
// complete rows were read and how many of them the acceptance window [r - r*tolerance,
// r + r*tolerance] kept, with r the reference magnitude in gauss; a hint when the tolerance is not
// above 0; and the unit the samples look like when the median magnitude of the complete rows is
// within a factor of 2 of 100 (microtesla), 1000 (milligauss) or 100000 (nanotesla) times r. One
// line without its newline. Meant for a record whose isCalibrationSucess is false.
std::string noCalibrationReason(const FERROKIT& kit, double tolerance);

#endif
