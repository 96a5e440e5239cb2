// The command's JSON: the calibration file that `calibrate --format json` writes and `apply`
// reads, and the document of `field --format json`. Their JSON Schemas are schema/*.schema.json.
// Every figure carries its unit at the end of its key (_nT, _deg, _m, _percent, _count, _ratio);
// figures in the samples' own unit end in the unit's symbol (offset_G, offset_uT, offset_counts).
#ifndef FLUXTRIM_CLI_CALIBRATION_JSON_HPP
#define FLUXTRIM_CLI_CALIBRATION_JSON_HPP

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "fluxtrim/calibration.hpp"
#include "fluxtrim/field.hpp"
#include "fluxtrim/samples.hpp"
#include "fluxtrim/types.hpp"
#include "fluxtrim/units.hpp"

namespace fluxtrim_cli {

// JSON objects keep their keys in the order written: schema first, figures in a reading order.
using Json = nlohmann::ordered_json;

// Names and major versions of the two formats.
constexpr const char* kCalibrationSchema = "fluxtrim.calibration/1";
constexpr const char* kFieldSchema = "fluxtrim.field/1";

// How a calibration is applied, as the file spells it out.
constexpr const char* kConvention =
    "corrected = (raw - offset) * matrix, with raw = [x y z] a row vector; raw, offset and "
    "corrected in sample_unit, matrix[row][column] a pure number";

// {"name": "fluxtrim", "version": ...}
Json generatorJson();

// The key of a figure in the samples' unit: stem + "_" + symbol, e.g. "offset_uT".
std::string unitKey(const std::string& stem, const fluxtrim::SampleUnit& unit);

// The unit block: symbol, name, gauss_per_unit, counts_per_gauss (counts only) and given.
Json sampleUnitJson(const fluxtrim::SampleUnit& unit, bool given);

// The input block of a read: source, line counts, delimiter, 1-based column numbers and why,
// the kinds of line and the reader's warnings.
Json inputJson(const fluxtrim::SampleSet& samples);

// A vector or matrix by rows; a value that is not finite becomes null, the whole then being
// refused by the schema, never written as a number it is not.
Json vectorJson(const fluxtrim::Vec3& v);
Json matrixJson(const fluxtrim::Matrix3& m);

// The model field's keys: model, date (null when the decimal year is no calendar date exactly),
// decimal_year, position, the seven elements and the validity.
Json fieldJson(const fluxtrim::ReferenceField& field);

// The reference block: kind "model" with the model field's keys, "strength" with total_nT (the
// strength converted by fluxtrim::SampleUnit), or "none".
Json referenceJson(const fluxtrim::Reference& reference);

// The name of a fit in the calibration file: "sphere", "axis_aligned_ellipsoid" or "ellipsoid".
const char* fitName(fluxtrim::ModelKind kind);

// Whether the result holds a calibration to apply: its kept model was fitted.
bool hasCalibration(const fluxtrim::CalibrationResult& result);

// The calibration document of one input: what apply reads, and everything behind the verdict
// (reasons with their codes, the three fits, the key figures). tolerance is empty for the
// automatic mode.
Json calibrationDocument(const fluxtrim::SampleSet& samples, const fluxtrim::Reference& reference,
                         std::optional<double> tolerance,
                         const fluxtrim::CalibrationResult& result);

// Why an input gave no calibration at all.
enum class InputError {
  Unreadable,  // it cannot be opened or read to its end: "unreadable-input"
  Bad,         // it was read, but holds no samples or breaks the options: "bad-input"
};

// The document of an input that gave no calibration, in the place of its calibration document.
Json errorDocument(const std::string& source, InputError error, const std::string& message);

// The document of `field --format json`: the model field's keys with schema and generator.
Json fieldDocument(const fluxtrim::ReferenceField& field);

// What apply needs from a calibration file.
struct StoredCalibration {
  fluxtrim::SampleUnit unit;      // of the offset and of the samples it was computed from
  std::string verdict;            // pass, warn or fail
  bool hasCalibration = false;    // false when the file's calibration is null
  std::string fit;                // the kept fit: sphere, axis_aligned_ellipsoid or ellipsoid
  fluxtrim::Vec3 offset{};        // in unit
  fluxtrim::Matrix3 matrix{};     // corrected = (raw - offset) * matrix
  fluxtrim::Reference reference;  // measured against: the model field as the file records it,
                                  // the strength given, or none
};

// Reads and checks a calibration file: JSON of schema fluxtrim.calibration/1 (a newer major
// version is refused), not an error record, with an offset key in its sample unit and finite
// figures. Throws fluxtrim::IoError, naming the file and what is wrong, for anything else.
StoredCalibration readCalibrationFile(const std::string& path);

}  // namespace fluxtrim_cli

#endif
