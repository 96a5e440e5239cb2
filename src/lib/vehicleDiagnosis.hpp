// The accelerometer's part of a calibration: its unit and samples at rest, the calibration from a
// turn about one axis when the caller or the motion asks for it, and the mounting with its checks.
#ifndef FLUXTRIM_LIB_VEHICLE_DIAGNOSIS_HPP
#define FLUXTRIM_LIB_VEHICLE_DIAGNOSIS_HPP

#include "fitStage.hpp"
#include "fluxtrim/calibration.hpp"

namespace fluxtrim {
namespace detail {

// The complete result of calibrating samples whose fit gave stage: diagnose's, and what an
// accelerometer beside the magnetometer adds (CalibrationResult::accelerometer), with the planar
// calibration in place of the ellipsoid's when CalibrationOptions::planar asks for it. Without
// accelerometer samples and without PlanarMode::Always, exactly diagnose's. Options must have
// been checked (calibrate does that); throws UsageError for a planar calibration that has no way
// to tell down.
CalibrationResult completeCalibration(const SampleSet& samples, const CalibrationOptions& options,
                                      FitStage stage);

}  // namespace detail
}  // namespace fluxtrim

#endif
