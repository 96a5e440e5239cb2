// The accelerometer's and the planar calibration's blocks of the calibration document.
#include "vehicle_json.hpp"

#include <cstddef>

#include "fluxtrim/vehicle.hpp"

namespace fluxtrim_cli {

namespace {

Json accelerometerJson(const fluxtrim::AccelerometerFindings& a) {
  Json out{{"sample_count", a.samples}};
  if (a.unit) {
    out["unit"] = a.unit->symbol();
    if (a.unit->unit == fluxtrim::AccelUnit::Counts) out["counts_per_g"] = a.unit->countsPerG;
  } else {
    out["unit"] = nullptr;
  }
  out["unit_source"] = a.unitSource == fluxtrim::UnitSource::Given    ? "given"
                       : a.unitSource == fluxtrim::UnitSource::Header ? "header"
                       : a.unit                                       ? "detected"
                                                                      : "unknown";
  out["quasi_static_sample_count"] = a.quasiStatic;
  return out;
}

Json mountingJson(const fluxtrim::MountingEstimate& m) {
  Json out{{"determined", m.determined}, {"problem", m.problem}};
  if (!m.determined) return out;
  const fluxtrim::NamedOrientation& o =
      fluxtrim::namedOrientations()[static_cast<std::size_t>(m.nearest)];
  out["matrix"] = matrixJson(m.matrix);
  out["handedness"] = fluxtrim::handednessName(m.handedness);
  out["name"] = o.name;
  out["number"] = o.number;
  out["misalignment_deg"] = figureJson(m.misalignment_deg);
  out["uncertainty_deg"] = figureJson(m.uncertainty_deg);
  out["residual_deg"] = figureJson(m.residual_deg);
  out["sample_count"] = m.samples;
  out["used_sample_count"] = m.used;
  out["pose_count"] = m.poses;
  return out;
}

Json inclinationJson(const fluxtrim::MountingEstimate& m) {
  return Json{{"measured_deg", figureJson(m.measuredInclination_deg)},
              {"uncertainty_deg", figureJson(m.inclinationUncertainty_deg)},
              {"model_deg", figureJson(m.modelInclination_deg)}};
}

Json planarJson(const fluxtrim::PlanarCalibration& p, bool automatic,
                const fluxtrim::SampleUnit& unit) {
  Json out{{"automatic", automatic}, {"determined", p.determined}, {"problem", p.problem}};
  out["axis"] = vectorJson(p.axis);
  out["tilt_deg"] = figureJson(p.tilt_deg);
  out["arc_deg"] = figureJson(p.arc_deg);
  out["model_inclination_deg"] = figureJson(p.modelInclination_deg);
  out[unitKey("across_axis_field", unit)] = figureJson(p.acrossAxisField);
  out[unitKey("along_axis_field", unit)] = figureJson(p.alongAxisField);
  out[unitKey("along_axis_offset", unit)] = figureJson(p.alongAxisOffset);
  out[unitKey("along_axis_uncertainty", unit)] = figureJson(p.alongAxisUncertainty);
  out[unitKey("residual", unit)] = figureJson(p.residual);
  out[unitKey("plane_residual", unit)] = figureJson(p.planeResidual);
  out["heading_error_tilted_10_deg"] = figureJson(p.headingErrorAtTilt_deg[0]);
  out["heading_error_tilted_20_deg"] = figureJson(p.headingErrorAtTilt_deg[1]);
  out["undetermined"] = p.undetermined;
  out["sample_count"] = p.samples;
  out["used_sample_count"] = p.used;
  out["quasi_static_sample_count"] = p.steady;
  return out;
}

}  // namespace

void addVehicleJson(Json& document, const fluxtrim::CalibrationResult& result) {
  if (result.planar) {
    document["planar"] = planarJson(*result.planar, result.planarAutomatic, result.unit);
  }
  if (!result.accelerometer) return;
  const fluxtrim::AccelerometerFindings& a = *result.accelerometer;
  document["accelerometer"] = accelerometerJson(a);
  document["mounting"] = mountingJson(a.mounting);
  if (a.mounting.determined) document["inclination"] = inclinationJson(a.mounting);
}

}  // namespace fluxtrim_cli
