// The checks of what an accelerometer beside the magnetometer shows (mounting, alignment,
// inclination) and of a calibration from a turn about one axis (planar), with their limits.
#ifndef FLUXTRIM_LIB_VEHICLE_CHECKS_HPP
#define FLUXTRIM_LIB_VEHICLE_CHECKS_HPP

#include "fluxtrim/calibration.hpp"
#include "fluxtrim/diagnostics.hpp"
#include "fluxtrim/vehicle.hpp"

namespace fluxtrim {
namespace detail {

// How a planar calibration knew which way is down.
enum class DownSource {
  Accelerometer,         // the accelerometer at rest, its axes taken as the magnetometer's
  MountedAccelerometer,  // the accelerometer at rest, through the mounting given
  Given,                 // CalibrationOptions::down, the turn taken as level
};

// The planar calibration: what the turn fixed and what it did not, and the heading error it
// leaves once the vehicle tilts. Fails when it was not determined.
Check planarCheck(const PlanarCalibration& planar, DownSource down);

// The checks of a determined mounting, in CheckCode order: the orientation against the one
// expected (a mirrored set fails), the misalignment off it, and, with the model's inclination,
// the inclination the samples show against it.
Check mountingCheck(const AccelerometerFindings& findings);
Check alignmentCheck(const MountingEstimate& mounting);
Check inclinationCheck(const MountingEstimate& mounting);

}  // namespace detail
}  // namespace fluxtrim

#endif
