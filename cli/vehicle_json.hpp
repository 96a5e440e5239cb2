// The blocks a calibration document gains from an accelerometer beside the magnetometer
// (accelerometer, mounting, inclination) and from a calibration from a turn about one axis
// (planar). A result without either gains nothing, so that the documents of magnetometer-only
// recordings stay as they were.
#ifndef FLUXTRIM_CLI_VEHICLE_JSON_HPP
#define FLUXTRIM_CLI_VEHICLE_JSON_HPP

#include "calibration_json.hpp"
#include "fluxtrim/calibration.hpp"

namespace fluxtrim_cli {

// Appends to the document, after its metrics: "planar" when the result holds a planar
// calibration; "accelerometer" and "mounting" with accelerometer samples; "inclination" with a
// determined mounting. Figures in the samples' unit end in its symbol, as the metrics' do.
void addVehicleJson(Json& document, const fluxtrim::CalibrationResult& result);

}  // namespace fluxtrim_cli

#endif
