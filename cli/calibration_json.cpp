// Writing and reading the command's JSON documents.
#include "calibration_json.hpp"

#include <array>
#include <cmath>
#include <fstream>
#include <limits>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "fluxtrim/error.hpp"
#include "fluxtrim/field.hpp"
#include "fluxtrim/text.hpp"
#include "fluxtrim/version.hpp"
#include "vehicle_json.hpp"

namespace fluxtrim_cli {

namespace {

Json finiteOrNull(double value) {
  return std::isfinite(value) ? Json(value) : Json(nullptr);
}

// The unit suffix of a check's value and limit: the check's unit as the file spells units.
std::string checkUnitSuffix(const std::string& unit) {
  if (unit == "lines" || unit == "samples" || unit == "coefficients") return "count";
  if (unit == "%") return "percent";
  if (unit == "deg" || unit == "ratio" || unit == "G") return unit;
  throw std::logic_error("a check in unit '" + unit + "' has no key in the calibration file");
}

// Lower-case words joined by _: "spun about one axis" gives "spun_about_one_axis".
std::string keyWords(const char* text) {
  std::string out = text;
  for (char& c : out) {
    if (c == ' ' || c == '-') c = '_';
  }
  return out;
}

Json reasonJson(const fluxtrim::Check& check) {
  const std::string unit = checkUnitSuffix(check.unit);
  return Json{
      {"code", fluxtrim::checkCodeName(check.code)},
      {"severity", fluxtrim::severityName(check.severity)},
      {"message", check.message},
      {"action", check.action},
      {"value_" + unit, figureJson(check.value)},
      {"limit_" + unit, figureJson(check.limit)},
      {"limit_kind", check.limitKind == fluxtrim::LimitKind::Maximum ? "maximum" : "minimum"},
      {"follows_from",
       check.followsFrom ? Json(fluxtrim::checkCodeName(*check.followsFrom)) : Json(nullptr)}};
}

// A figure in the samples' unit under stem_U, and the same figure in gauss (or milligauss) under
// stem_G (stem_mG) unless that is the key just written.
void putFigure(Json& object, const std::string& stem, const fluxtrim::SampleUnit& unit,
               double value, const char* gaussSymbol, double valueInGauss) {
  object[unitKey(stem, unit)] = figureJson(value);
  const std::string gaussKey = stem + "_" + gaussSymbol;
  if (!object.contains(gaussKey)) object[gaussKey] = figureJson(valueInGauss);
}

// One of the three fits; kept is false for each when the calibration is a planar one.
Json fitJson(const fluxtrim::ModelFit& fit, const fluxtrim::SampleUnit& unit, bool planar) {
  const bool fitted = fit.decision != fluxtrim::ModelDecision::NotFitted;
  Json out{{"fit", fitName(fit.kind)},
           {"decision", keyWords(fluxtrim::modelDecisionName(fit.decision))},
           {"kept", fit.decision == fluxtrim::ModelDecision::Kept && !planar},
           {"coefficient_count", fluxtrim::modelCoefficients(fit.kind)}};
  out[unitKey("offset", unit)] = fitted ? vectorJson(fit.calibration.offset) : Json(nullptr);
  out["matrix"] = fitted ? matrixJson(fit.calibration.matrix) : Json(nullptr);
  out[unitKey("radius", unit)] = figureJson(fit.radius);
  putFigure(out, "residual", unit, fit.residual, "mG", fit.residual_mG);
  out["error_ratio"] = figureJson(fit.error);
  out["positive_definite"] = fit.positiveDefinite;
  out["exactly_real"] = fit.exactlyReal;
  out["note"] = fit.reason;
  return out;
}

Json metricsJson(const fluxtrim::CalibrationResult& r) {
  const fluxtrim::Figures& f = r.figures;
  const fluxtrim::SampleUnit& unit = r.unit;
  const auto count = [&f](fluxtrim::SampleStatus status) {
    return f.byStatus[static_cast<int>(status)];
  };
  Json m{{"sample_count", f.samples},
         {"accepted_sample_count", f.kept()},
         {"invalid_sample_count", count(fluxtrim::SampleStatus::Invalid)},
         {"outside_window_sample_count", count(fluxtrim::SampleStatus::OutsideWindow)},
         {"disturbed_sample_count", count(fluxtrim::SampleStatus::Disturbed)},
         {"outlier_sample_count", count(fluxtrim::SampleStatus::Outlier)},
         {"clipped_sample_count", f.clipped}};
  putFigure(m, "reference_field", unit, f.field_G / f.gaussPerUnit, "G", f.field_G);
  putFigure(m, "fitted_field", unit, f.radius, "G", f.radius_G);
  m["fitted_to_reference_ratio"] = figureJson(f.radiusToField);
  m[unitKey("mean_corrected", unit)] = figureJson(r.meanCorrectedMagnitude);
  putFigure(m, "scale", unit, f.scale, "G", f.scale_G);
  if (std::isfinite(f.scale)) {
    Json apparent = sampleUnitJson(f.apparentUnit, false);
    apparent.erase("given");
    m["apparent_unit"] = apparent;
  } else {
    m["apparent_unit"] = nullptr;
  }
  m["unit_matches"] = f.unitMatches;
  putFigure(m, "offset_norm", unit, f.offsetNorm, "G", f.offsetNorm_G);
  m["offset_largest_G"] = figureJson(f.offsetLargest_G);
  m["offset_to_field_ratio"] = figureJson(f.offsetToField);
  putFigure(m, "residual", unit, f.residual, "mG", f.residual_mG);
  m["residual_to_field_ratio"] = figureJson(f.residualToField);
  m["heading_error_deg"] = figureJson(f.heading_deg);
  m["soft_iron_condition_ratio"] = figureJson(f.softIronCondition);
  // Coverage is not judged for a device that was not turned: no cell count either.
  const bool covered = std::isfinite(r.coverage.fraction);
  m["coverage_percent"] = figureJson(100.0 * r.coverage.fraction);
  m["occupied_cell_count"] = covered ? Json(r.coverage.occupiedCells) : Json(nullptr);
  m["cell_count"] = r.coverage.grid.cells();
  m["largest_gap_deg"] = figureJson(r.coverage.largestGap_deg);
  m["motion"] = keyWords(fluxtrim::motionPatternName(r.motion.pattern));
  m["spread_ratio"] = figureJson(r.motion.spread);
  m["planarity_ratio"] = figureJson(r.motion.planarity);
  m["arc_deg"] = figureJson(r.motion.arc_deg);
  return m;
}

// The scale and unit of the corrected samples as apply makes them, from raw samples in the
// samples' unit.
Json outputJson(const OutputScaling& output, const fluxtrim::SampleUnit& sampleUnit) {
  return Json{{"scale", output.toField ? "field" : "fitted"},
              {"scale_factor_ratio", finiteOrNull(output.fieldRatio)},
              {"unit", sampleUnitJson(output.unitFor(sampleUnit), output.unit.has_value())},
              {"matrix_factor_ratio", finiteOrNull(output.factorFor(sampleUnit))}};
}

// Checks on a calibration document; each failure names the document and the key.
class Checker {
 public:
  explicit Checker(std::string name) : name_(std::move(name)) {}

  [[noreturn]] void fail(const std::string& what) const {
    throw fluxtrim::IoError(name_ + ": " + what);
  }
  const Json& member(const Json& object, const char* key) const {
    if (!object.is_object() || !object.contains(key)) fail(std::string("no \"") + key + "\"");
    return object.at(key);
  }
  std::string text(const Json& object, const char* key) const {
    const Json& value = member(object, key);
    if (!value.is_string()) fail(std::string("\"") + key + "\" is not a string");
    return value.get<std::string>();
  }
  double number(const Json& value, const std::string& key) const {
    if (!value.is_number() || !std::isfinite(value.get<double>())) {
      fail("\"" + key + "\" holds something other than a finite number");
    }
    return value.get<double>();
  }
  bool flag(const Json& object, const char* key) const {
    const Json& value = member(object, key);
    if (!value.is_boolean()) fail(std::string("\"") + key + "\" is not true or false");
    return value.get<bool>();
  }
  // The number under key, or NaN when the key is missing or null.
  double figure(const Json& object, const char* key) const {
    if (!object.is_object() || !object.contains(key) || object.at(key).is_null()) {
      return std::numeric_limits<double>::quiet_NaN();
    }
    return number(object.at(key), key);
  }
  fluxtrim::Vec3 vector(const Json& value, const std::string& key) const {
    if (!value.is_array() || value.size() != 3) fail("\"" + key + "\" is not three numbers");
    fluxtrim::Vec3 v{};
    for (int i = 0; i < 3; ++i) v[i] = number(value[i], key);
    return v;
  }

 private:
  std::string name_;
};

// The file parsed as JSON.
Json parseCalibrationFile(const Checker& check, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) check.fail("cannot be opened");
  Json document;
  try {
    document = Json::parse(in);
  } catch (const Json::exception& e) {
    check.fail(std::string("not JSON: ") + e.what());
  }
  if (in.bad()) check.fail("cannot be read to its end");
  return document;
}

// The document is of the one schema this command reads, and no error record.
void checkSchema(const Checker& check, const Json& document) {
  const std::string schema = check.text(document, "schema");
  const std::string family = "fluxtrim.calibration/";
  if (schema.compare(0, family.size(), family) != 0) {
    check.fail("not a fluxtrim calibration (schema \"" + fluxtrim::printableText(schema, 60) +
               "\")");
  }
  if (schema != kCalibrationSchema) {
    check.fail("schema \"" + fluxtrim::printableText(schema, 60) +
               "\" is not the one this fluxtrim reads (" + kCalibrationSchema + ")");
  }
  if (document.contains("error")) {
    check.fail("holds no calibration: its run failed: " +
               fluxtrim::printableText(check.text(document.at("error"), "message")));
  }
}

// The sample_unit block: a unit symbol, or counts with its counts per gauss.
fluxtrim::SampleUnit storedUnit(const Checker& check, const Json& unit) {
  const std::string symbol = check.text(unit, "symbol");
  fluxtrim::SampleUnit stored;
  try {
    stored = symbol == "counts" ? fluxtrim::SampleUnit::counts(check.number(
                                      check.member(unit, "counts_per_gauss"), "counts_per_gauss"))
                                : fluxtrim::parseUnit(symbol);
  } catch (const fluxtrim::UsageError& e) {
    check.fail(std::string("sample_unit: ") + e.what());
  }
  if (stored.unit == fluxtrim::Unit::Counts && !(stored.countsPerGauss > 0.0)) {
    check.fail("counts_per_gauss must be above 0");
  }
  return stored;
}

// The reference block: the model field as recorded (its model, position, date and elements), the
// strength, or none.
fluxtrim::Reference storedReference(const Checker& check, const Json& reference) {
  const std::string kind = check.text(reference, "kind");
  if (kind == "none") return fluxtrim::Reference();
  if (kind != "model" && kind != "strength") {
    check.fail("reference kind \"" + fluxtrim::printableText(kind, 20) +
               "\" is not model, strength or none");
  }
  const auto number = [&](const char* key) {
    return check.number(check.member(reference, key), key);
  };
  const double total_nT = number("total_nT");
  if (!(total_nT > 0.0)) check.fail("reference total_nT must be above 0");
  try {
    if (kind == "strength") {
      return fluxtrim::Reference::fromStrength(
          fluxtrim::SampleUnit{fluxtrim::Unit::Nanotesla}.toGauss(total_nT));
    }
    fluxtrim::ReferenceField field;
    field.model = fluxtrim::parseFieldModel(check.text(reference, "model"));
    field.decimalYear = number("decimal_year");
    field.position = {number("latitude_deg"), number("longitude_deg"), number("height_m")};
    field.elements.north_nT = number("north_nT");
    field.elements.east_nT = number("east_nT");
    field.elements.down_nT = number("down_nT");
    field.elements.total_nT = total_nT;
    return fluxtrim::Reference::fromField(field);
  } catch (const fluxtrim::UsageError& e) {
    check.fail(std::string("reference: ") + e.what());
  }
}

// The output block: the scale and unit of the corrected samples. A file without one, written
// before it existed, has the fitted scale in its samples' unit.
OutputScaling storedOutput(const Checker& check, const Json& document) {
  OutputScaling output;
  if (!document.contains("output")) return output;
  const Json& block = document.at("output");
  const std::string scale = check.text(block, "scale");
  if (scale != "fitted" && scale != "field") {
    check.fail("output scale \"" + fluxtrim::printableText(scale, 20) +
               "\" is not fitted or field");
  }
  output.toField = scale == "field";
  output.fieldRatio = check.number(check.member(block, "scale_factor_ratio"), "scale_factor_ratio");
  if (output.toField ? !(output.fieldRatio > 0.0) : output.fieldRatio != 1.0) {
    check.fail("output scale_factor_ratio must be above 0, and 1 for the fitted scale");
  }
  const Json& unit = check.member(block, "unit");
  if (check.flag(unit, "given")) output.unit = storedUnit(check, unit);
  return output;
}

// What the calibration came from: input, mode, residual and reasons. Only apply's figures are
// required of a file; these are read where present.
void readDescription(const Checker& check, const Json& document, StoredCalibration& stored) {
  const Json none;
  const auto optional = [&none](const Json& object, const char* key) -> const Json& {
    return object.is_object() && object.contains(key) ? object.at(key) : none;
  };
  const Json& input = optional(document, "input");
  stored.source = input.contains("source") ? check.text(input, "source") : std::string("?");
  const double count = check.figure(input, "sample_count");
  if (count >= 0.0) stored.sampleCount = static_cast<std::size_t>(count);
  const Json& tolerance = optional(optional(document, "settings"), "tolerance");
  if (!tolerance.is_null() && tolerance != "auto") {
    stored.tolerance = check.number(tolerance, "tolerance");
  }
  stored.residual_mG = check.figure(optional(document, "metrics"), "residual_mG");
  const Json& motion = optional(optional(document, "metrics"), "motion");
  if (motion.is_string()) stored.motion = motion.get<std::string>();
  const Json& reasons = optional(document, "reasons");
  if (!reasons.is_null() && !reasons.is_array()) check.fail("\"reasons\" is not a list");
  for (const Json& reason : reasons) {
    const Json& follows = optional(reason, "follows_from");
    stored.reasons.push_back({check.text(reason, "severity"), check.text(reason, "code"),
                              check.text(reason, "message"), !follows.is_null()});
  }
}

// The mounting block, when it records a determined mounting: its matrix must be orthonormal and
// its name and number one of the named orientations, since firmware is set from them.
void readMounting(const Checker& check, const Json& document, StoredCalibration& stored) {
  if (!document.contains("mounting") || !check.flag(document.at("mounting"), "determined")) return;
  const Json& block = document.at("mounting");
  StoredMounting mounting;
  const Json& matrix = check.member(block, "matrix");
  if (!matrix.is_array() || matrix.size() != 3) check.fail("mounting \"matrix\" is not three rows");
  for (int row = 0; row < 3; ++row) {
    mounting.matrix[row] = check.vector(matrix[row], "mounting matrix");
  }
  constexpr double kOrthonormal = 1e-6;  // far above rounding, far below any real error
  for (int a = 0; a < 3; ++a) {
    for (int b = 0; b < 3; ++b) {
      const fluxtrim::Vec3& p = mounting.matrix[a];
      const fluxtrim::Vec3& q = mounting.matrix[b];
      const double product = p[0] * q[0] + p[1] * q[1] + p[2] * q[2];
      if (!(std::fabs(product - (a == b ? 1.0 : 0.0)) <= kOrthonormal)) {
        check.fail("the mounting matrix is not a rotation");
      }
    }
  }
  mounting.handedness = check.text(block, "handedness");
  mounting.name = check.text(block, "name");
  mounting.number = static_cast<int>(check.number(check.member(block, "number"), "number"));
  bool named = false;
  for (const fluxtrim::NamedOrientation& o : fluxtrim::namedOrientations()) {
    named = named || (mounting.name == o.name && mounting.number == o.number);
  }
  if (!named) {
    check.fail("mounting \"" + fluxtrim::printableText(mounting.name, 40) +
               "\" is not a named orientation with its number");
  }
  mounting.misalignment_deg = check.figure(block, "misalignment_deg");
  stored.mounting = mounting;
}

// How the samples' unit was chosen, as the file words it.
const char* unitSourceKey(fluxtrim::UnitSource source) {
  switch (source) {
    case fluxtrim::UnitSource::Given:
      return "given";
    case fluxtrim::UnitSource::Header:
      return "header";
    case fluxtrim::UnitSource::Detected:
      return "detected";
    case fluxtrim::UnitSource::Default:
      break;
  }
  return "default";
}

}  // namespace

Json figureJson(double value) {
  return fluxtrim::judgeable(value) ? Json(value) : Json(nullptr);
}

Json generatorJson() {
  return Json{{"name", "fluxtrim"}, {"version", fluxtrim::version()}};
}

std::string unitKey(const std::string& stem, const fluxtrim::SampleUnit& unit) {
  return stem + "_" + unit.symbol();
}

Json sampleUnitJson(const fluxtrim::SampleUnit& unit, bool given) {
  Json out{
      {"symbol", unit.symbol()}, {"name", unit.name()}, {"gauss_per_unit", unit.gaussPerUnit()}};
  if (unit.unit == fluxtrim::Unit::Counts) out["counts_per_gauss"] = unit.countsPerGauss;
  out["given"] = given;
  return out;
}

Json inputJson(const fluxtrim::SampleSet& samples) {
  const fluxtrim::ReadSummary& s = samples.summary;
  Json input{{"source", samples.source},
             {"line_count", s.lines},
             {"header_line_count", s.headerLines},
             {"blank_line_count", s.blankLines},
             {"sample_count", s.sampleLines},
             {"skipped_line_count", s.skippedLines},
             {"left_out_line_count", s.leftOutLines},
             {"delimiter", fluxtrim::delimiterName(s.delimiter)},
             {"column_numbers", {s.columns[0] + 1, s.columns[1] + 1, s.columns[2] + 1}},
             {"column_rule", s.columnRule}};
  const std::array<int, 3>& a = s.accelerometerColumns;
  if (a[0] >= 0) input["accelerometer_column_numbers"] = {a[0] + 1, a[1] + 1, a[2] + 1};
  Json kinds = Json::array();
  for (const fluxtrim::LineKind& kind : s.kinds) {
    kinds.push_back(Json{{"label", kind.label},
                         {"unit", kind.unit},
                         {"sensor", fluxtrim::sensorName(kind.sensor)},
                         {"line_count", kind.lines},
                         {"kept", kind.kept}});
  }
  input["line_kinds"] = kinds;
  input["warnings"] = s.warnings;
  return input;
}

Json vectorJson(const fluxtrim::Vec3& v) {
  return Json::array({finiteOrNull(v[0]), finiteOrNull(v[1]), finiteOrNull(v[2])});
}

Json matrixJson(const fluxtrim::Matrix3& m) {
  return Json::array({vectorJson(m[0]), vectorJson(m[1]), vectorJson(m[2])});
}

Json fieldJson(const fluxtrim::ReferenceField& field) {
  const fluxtrim::FieldElements& e = field.elements;
  const std::optional<fluxtrim::CalendarDate> date = fluxtrim::calendarDate(field.decimalYear);
  return Json{{"model", fluxtrim::fieldModelInfo(field.model).name},
              {"date", date ? Json(fluxtrim::dateText(*date)) : Json(nullptr)},
              {"decimal_year", field.decimalYear},
              {"latitude_deg", field.position.latitude_deg},
              {"longitude_deg", field.position.longitude_deg},
              {"height_m", field.position.height_m},
              {"north_nT", e.north_nT},
              {"east_nT", e.east_nT},
              {"down_nT", e.down_nT},
              {"horizontal_nT", e.horizontal_nT},
              {"total_nT", e.total_nT},
              {"inclination_deg", e.inclination_deg},
              {"declination_deg", e.declination_deg},
              {"within_validity", field.withinValidity},
              {"validity_note", field.validityNote}};
}

Json referenceJson(const fluxtrim::Reference& reference) {
  switch (reference.kind()) {
    case fluxtrim::Reference::Kind::Field: {
      Json out{{"kind", "model"}};
      out.update(fieldJson(reference.field()));
      return out;
    }
    case fluxtrim::Reference::Kind::Strength: {
      const fluxtrim::SampleUnit nanotesla{fluxtrim::Unit::Nanotesla};
      return Json{{"kind", "strength"}, {"total_nT", nanotesla.fromGauss(reference.total_G())}};
    }
    case fluxtrim::Reference::Kind::None:
      break;
  }
  return Json{{"kind", "none"}};
}

const char* fitName(fluxtrim::ModelKind kind) {
  switch (kind) {
    case fluxtrim::ModelKind::Sphere:
      return "sphere";
    case fluxtrim::ModelKind::AxisAligned:
      return "axis_aligned_ellipsoid";
    case fluxtrim::ModelKind::General:
      return "ellipsoid";
  }
  return "sphere";
}

std::optional<fluxtrim::ModelKind> fitNamed(const std::string& name) {
  for (const fluxtrim::ModelKind kind :
       {fluxtrim::ModelKind::Sphere, fluxtrim::ModelKind::AxisAligned,
        fluxtrim::ModelKind::General}) {
    if (name == fitName(kind)) return kind;
  }
  return std::nullopt;
}

bool hasCalibration(const fluxtrim::CalibrationResult& result) {
  return fluxtrim::isPlanar(result) || result.models[static_cast<int>(result.model)].decision !=
                                           fluxtrim::ModelDecision::NotFitted;
}

const char* noCalibrationReason(const fluxtrim::CalibrationResult& result) {
  return result.motion.pattern == fluxtrim::MotionPattern::NotTurned
             ? "the device was not turned"
             : "no sample was kept for a fit";
}

Json calibrationDocument(const fluxtrim::SampleSet& samples, const fluxtrim::Reference& reference,
                         std::optional<double> tolerance, const fluxtrim::CalibrationResult& result,
                         const OutputScaling& output) {
  Json document{{"schema", kCalibrationSchema},
                {"generator", generatorJson()},
                {"convention", kConvention},
                {"input", inputJson(samples)},
                {"sample_unit", sampleUnitJson(result.unit, result.unitGiven)},
                {"reference", referenceJson(reference)},
                {"settings", {{"tolerance", tolerance ? Json(*tolerance) : Json("auto")}}},
                {"verdict", fluxtrim::verdictName(result.diagnostics.verdict)}};
  document["sample_unit"]["source"] = unitSourceKey(samples.unitSource);
  document["sample_unit"]["rule"] = samples.summary.unitRule;
  Json reasons = Json::array();
  for (const fluxtrim::Check& check : result.diagnostics.reasons) {
    reasons.push_back(reasonJson(check));
  }
  document["reasons"] = reasons;
  if (hasCalibration(result)) {
    document["calibration"] = {
        {"fit", fluxtrim::isPlanar(result) ? kPlanarFit : fitName(result.model)},
        {unitKey("offset", result.unit), vectorJson(result.calibration.offset)},
        {"matrix", matrixJson(result.calibration.matrix)}};
    document["output"] = outputJson(output, result.unit);
  } else {
    document["calibration"] = nullptr;
  }
  Json fits = Json::array();
  for (const fluxtrim::ModelFit& fit : result.models) {
    fits.push_back(fitJson(fit, result.unit, fluxtrim::isPlanar(result)));
  }
  document["fits"] = fits;
  document["metrics"] = metricsJson(result);
  addVehicleJson(document, result);
  return document;
}

Json errorDocument(const std::string& source, InputError error, const std::string& message) {
  return Json{{"schema", kCalibrationSchema},
              {"generator", generatorJson()},
              {"input", {{"source", source}}},
              {"error",
               {{"code", error == InputError::Unreadable ? "unreadable-input" : "bad-input"},
                {"message", message}}}};
}

Json fieldDocument(const fluxtrim::ReferenceField& field) {
  Json document{{"schema", kFieldSchema}, {"generator", generatorJson()}};
  document.update(fieldJson(field));
  return document;
}

StoredCalibration storedCalibration(const Json& document, const std::string& name) {
  const Checker check(name);
  checkSchema(check, document);
  StoredCalibration stored;
  const Json& unit = check.member(document, "sample_unit");
  stored.unit = storedUnit(check, unit);
  stored.unitGiven = check.flag(unit, "given");
  stored.verdict = check.text(document, "verdict");
  if (stored.verdict != "pass" && stored.verdict != "warn" && stored.verdict != "fail") {
    check.fail("verdict \"" + fluxtrim::printableText(stored.verdict, 20) +
               "\" is not pass, warn or fail");
  }
  const Json& calibration = check.member(document, "calibration");
  stored.hasCalibration = !calibration.is_null();
  if (stored.hasCalibration) {
    stored.fit = check.text(calibration, "fit");
    if (!fitNamed(stored.fit) && stored.fit != kPlanarFit) {
      check.fail("fit \"" + fluxtrim::printableText(stored.fit, 30) + "\" is not one of the three");
    }
    const std::string offsetKey = unitKey("offset", stored.unit);
    stored.offset = check.vector(check.member(calibration, offsetKey.c_str()), offsetKey);
    const Json& matrix = check.member(calibration, "matrix");
    if (!matrix.is_array() || matrix.size() != 3) check.fail("\"matrix\" is not three rows");
    for (int row = 0; row < 3; ++row) stored.matrix[row] = check.vector(matrix[row], "matrix");
    stored.output = storedOutput(check, document);
  }
  stored.reference = storedReference(check, check.member(document, "reference"));
  readDescription(check, document, stored);
  readMounting(check, document, stored);
  if (stored.fit == kPlanarFit && document.contains("planar")) {
    const Json& planar = document.at("planar");
    stored.planarNote = fluxtrim::formatText(
        "Calibrated from a turn about one axis; not determined: %s. Tilted by 10 degrees the "
        "heading may be off by up to %.1f degrees, by 20 degrees up to %.1f.",
        check.text(planar, "undetermined").c_str(),
        check.figure(planar, "heading_error_tilted_10_deg"),
        check.figure(planar, "heading_error_tilted_20_deg"));
  }
  // What the calibration gave on its own samples, when recorded: figures written as null (not
  // finite) or left out are not known.
  const Json none;
  const Json& metrics = document.contains("metrics") ? document.at("metrics") : none;
  const auto recorded = [&](const char* stem) {
    const std::string key = unitKey(stem, stored.unit);
    const bool known = metrics.is_object() && metrics.contains(key) && metrics.at(key).is_number();
    return known ? metrics.at(key).get<double>() : kNotKnown;
  };
  stored.meanCorrected = recorded("mean_corrected");
  stored.residual = recorded("residual");
  return stored;
}

StoredCalibration readCalibrationFile(const std::string& path, Json* document) {
  const std::string name = "calibration file '" + fluxtrim::printableText(path) + "'";
  Json parsed = parseCalibrationFile(Checker(name), path);
  StoredCalibration stored = storedCalibration(parsed, name);
  if (document != nullptr) *document = std::move(parsed);
  return stored;
}

}  // namespace fluxtrim_cli
