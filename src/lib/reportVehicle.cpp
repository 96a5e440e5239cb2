#include "reportVehicle.hpp"

#include <cmath>

#include "fluxtrim/error.hpp"
#include "fluxtrim/text.hpp"
#include "reportText.hpp"
#include "vehicleMath.hpp"

namespace fluxtrim {
namespace detail {

namespace {

const char kDegree[] = "\xC2\xB0";
const char kPlusMinus[] = " \xC2\xB1 ";
const char kMiddleDot[] = " \xC2\xB7 ";

std::string degrees(double value, int decimals) {
  return figure(value, decimals) + kDegree;
}

std::string planarRow(const PlanarCalibration& p) {
  if (!p.determined) {
    return "not calibrated: " + html(p.problem);
  }
  return "turned through " + degrees(p.arc_deg, 0) + " about (" + fixed(p.axis[0], 3) + ", " +
         fixed(p.axis[1], 3) + ", " + fixed(p.axis[2], 3) + ")" +
         (std::isfinite(p.tilt_deg) ? ", " + degrees(p.tilt_deg, 1) + " from the vertical"
                                    : std::string(", taken as vertical")) +
         kMiddleDot + "heading error up to " + degrees(p.headingErrorAtTilt_deg[0], 1) +
         " tilted by 10" + kDegree + ", " + degrees(p.headingErrorAtTilt_deg[1], 1) + " by 20" +
         kDegree + kMiddleDot + "not determined: " + html(p.undetermined);
}

}  // namespace

std::vector<std::pair<std::string, std::string>> vehicleRows(const CalibrationResult& result) {
  std::vector<std::pair<std::string, std::string>> rows;
  if (result.planar) {
    rows.emplace_back("Turn", planarRow(*result.planar));
  }
  if (!result.accelerometer) {
    return rows;
  }
  const AccelerometerFindings& a = *result.accelerometer;
  const MountingEstimate& m = a.mounting;
  rows.emplace_back(
      "Accelerometer",
      std::to_string(a.quasiStatic) + " of " + std::to_string(a.samples) + " samples at rest" +
          (a.unit ? ", in " + html(a.unit->symbol()) : std::string(", unit unknown")));
  if (!m.determined) {
    rows.emplace_back("Mounting", "not determined: " + html(m.problem));
    return rows;
  }
  const NamedOrientation& o = namedOrientations()[static_cast<std::size_t>(m.nearest)];
  rows.emplace_back("Mounting", html(o.name) + " (" + std::to_string(o.number) + ")" + kMiddleDot +
                                    degrees(m.misalignment_deg, 2) + kPlusMinus +
                                    degrees(m.uncertainty_deg, 2) + " off" + kMiddleDot +
                                    handednessName(m.handedness));
  rows.emplace_back("Inclination",
                    degrees(m.measuredInclination_deg, 2) + kPlusMinus +
                        degrees(m.inclinationUncertainty_deg, 2) + " at rest" +
                        (std::isfinite(m.modelInclination_deg)
                             ? kMiddleDot + ("model " + degrees(m.modelInclination_deg, 2))
                             : std::string()));
  return rows;
}

PlotSelection inAccelerometerFrame(const PlotSelection& selection,
                                   const CalibrationResult& result) {
  if (!result.accelerometer || !result.accelerometer->mounting.determined) {
    throw UsageError("the corrected samples cannot be shown in the accelerometer's axes: " +
                     (result.accelerometer ? "the mounting was not determined (" +
                                                 result.accelerometer->mounting.problem + ")"
                                           : std::string("the recording has no accelerometer")));
  }
  const Matrix3& mounting = result.accelerometer->mounting.matrix;
  PlotSelection turned = selection;
  for (std::vector<PlotSample>* samples : {&turned.kept, &turned.rejected}) {
    for (PlotSample& s : *samples) {
      s.corrected = times(mounting, s.corrected);
    }
  }
  return turned;
}

const char* planarModelName() {
  return "planar (a turn about one axis)";
}

}  // namespace detail
}  // namespace fluxtrim
