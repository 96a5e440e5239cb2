// The command's JSON: the calibration file that `calibrate --format json` writes and `apply`
// reads, and the document of `field --format json`. Their JSON Schemas are schema/*.schema.json.
// Every figure carries its unit at the end of its key (_nT, _deg, _m, _percent, _count, _ratio);
// figures in the samples' own unit end in the unit's symbol (offset_G, offset_uT, offset_counts).
#ifndef FLUXTRIM_CLI_CALIBRATION_JSON_HPP
#define FLUXTRIM_CLI_CALIBRATION_JSON_HPP

#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <vector>

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

// A figure behind the verdict: null where it could not be had or is beyond judgement
// (fluxtrim::judgeable), as the text says "not judged" or "beyond judgement".
Json figureJson(double value);

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

// The fit of a calibration from a turn about one axis, in the calibration block.
constexpr const char* kPlanarFit = "planar";

// The name of a fit in the calibration file: "sphere", "axis_aligned_ellipsoid" or "ellipsoid".
const char* fitName(fluxtrim::ModelKind kind);

// The kind of fit a calibration file names: sphere, axis_aligned_ellipsoid or ellipsoid.
std::optional<fluxtrim::ModelKind> fitNamed(const std::string& name);

// Whether the result holds a calibration to apply: its kept model was fitted, or it is a planar
// one.
bool hasCalibration(const fluxtrim::CalibrationResult& result);

// The scale and unit of the corrected samples. The fitted matrix has determinant 1: corrected
// samples keep the scale of the raw ones (counts stay counts). Scaled to the field, the matrix is
// multiplied by fieldRatio (fluxtrim::fieldScaleRatio); in another unit, also by the change of
// unit. A target that takes raw samples in unit U (the recording's own, or the milligauss of an
// autopilot) gets corrected samples in `unit` when given, else in U.
struct OutputScaling {
  bool toField = false;
  double fieldRatio = 1.0;                   // 1 unless toField
  std::optional<fluxtrim::SampleUnit> unit;  // --output-units; empty: the target's own unit

  fluxtrim::SampleUnit unitFor(const fluxtrim::SampleUnit& input) const {
    return unit.value_or(input);
  }
  // The factor on the fitted matrix for raw samples in input and corrected ones in unitFor(input).
  double factorFor(const fluxtrim::SampleUnit& input) const {
    return fieldRatio * fluxtrim::convertUnit(1.0, input, unitFor(input));
  }
};
// Why a result holds no calibration, in a few words: "the device was not turned", or "no sample
// was kept for a fit".
const char* noCalibrationReason(const fluxtrim::CalibrationResult& result);

// The calibration document of one input: what apply reads, and everything behind the verdict
// (reasons with their codes, the three fits, the key figures, and with a calibration the scale
// and unit of its corrected samples). tolerance is empty for the automatic mode.
Json calibrationDocument(const fluxtrim::SampleSet& samples, const fluxtrim::Reference& reference,
                         std::optional<double> tolerance, const fluxtrim::CalibrationResult& result,
                         const OutputScaling& output = {});

// Why an input gave no calibration at all.
enum class InputError {
  Unreadable,  // it cannot be opened or read to its end: "unreadable-input"
  Bad,         // it was read, but holds no samples or breaks the options: "bad-input"
};

// The document of an input that gave no calibration, in the place of its calibration document.
Json errorDocument(const std::string& source, InputError error, const std::string& message);

// The document of `field --format json`: the model field's keys with schema and generator.
Json fieldDocument(const fluxtrim::ReferenceField& field);

// One reason behind a stored verdict.
struct StoredReason {
  std::string severity;  // fail or warn
  std::string code;      // as fluxtrim::checkCodeName gives it
  std::string message;
  bool followsFrom = false;  // it only restates the reason before it (follows_from in the file)
};

// A figure a calibration file does not record.
constexpr double kNotKnown = std::numeric_limits<double>::quiet_NaN();

// The mounting a calibration file records as determined: the accelerometer's axes from the
// magnetometer's, v_acc = matrix * v_mag, and the nearest named orientation.
struct StoredMounting {
  fluxtrim::Matrix3 matrix{};  // orthonormal (checked), determinant -1 when mirrored
  std::string handedness;      // right-handed, mirrored or unknown
  std::string name;            // "roll 180 yaw 90", one of fluxtrim::namedOrientations()
  int number = 0;              // its number in the autopilots' lists
  double misalignment_deg = kNotKnown;
};

// What apply and export need from a calibration file.
struct StoredCalibration {
  fluxtrim::SampleUnit unit;      // of the offset and of the samples it was computed from
  bool unitGiven = false;         // false when gauss was assumed
  std::string verdict;            // pass, warn or fail
  bool hasCalibration = false;    // false when the file's calibration is null
  std::string fit;                // the kept fit: sphere, axis_aligned_ellipsoid or ellipsoid
  fluxtrim::Vec3 offset{};        // in unit
  fluxtrim::Matrix3 matrix{};     // corrected = (raw - offset) * matrix
  fluxtrim::Reference reference;  // measured against: the model field as the file records it,
                                  // the strength given, or none
  OutputScaling output;           // fitted scale in the samples' unit for files without one

  // What the calibration came from, for the files that carry it in a comment.
  std::string source;                                             // "-" for standard input
  std::optional<std::size_t> sampleCount;                         // when recorded
  std::optional<double> tolerance;                                // empty for the automatic mode
  double residual_mG = std::numeric_limits<double>::quiet_NaN();  // NaN when not recorded
  std::vector<StoredReason> reasons;
  std::string motion;  // the motion's pattern in the file's words ("not_turned"), when recorded
  // The mean corrected magnitude and the residual (rms) of the calibration's own samples, in unit;
  // NaN when the file does not record them.
  double meanCorrected = kNotKnown;
  double residual = kNotKnown;
  // The mounting, when the file records a determined one (an accelerometer beside the
  // magnetometer); empty otherwise.
  std::optional<StoredMounting> mounting;
  // For a calibration from a turn about one axis, what it did not determine and what that costs,
  // one sentence; empty otherwise.
  std::string planarNote;
};

// Reads and checks a calibration document: schema fluxtrim.calibration/1 (a newer major version
// is refused), not an error record, with an offset key in its sample unit and finite figures.
// name says in messages where the document comes from ("calibration file 'cal.json'"). Throws
// fluxtrim::IoError, naming it and what is wrong, for anything else.
StoredCalibration storedCalibration(const Json& document, const std::string& name);

// Reads a calibration file (parsed as JSON, then as storedCalibration reads it); the document as
// read in *document when not null. Throws fluxtrim::IoError, naming the file, when it cannot be
// read or is no calibration.
StoredCalibration readCalibrationFile(const std::string& path, Json* document = nullptr);

}  // namespace fluxtrim_cli

#endif
