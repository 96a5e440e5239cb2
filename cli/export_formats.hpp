// The files a calibration goes into firmware by: a C header (calibration_c) and the parameter
// files of two autopilots (parameter_files). Each is written from a stored calibration, the
// document that `calibrate --format json` writes, so that `calibrate --format X` and `export` of
// its JSON give the same bytes. Here: the options they share, the calibration as a target applies
// it (its unit, scale and symmetric matrix), the words every file opens with, and the refusal of a
// failed calibration. Text in, text out: no file is read or written, so that the browser page can
// offer the same files.
#ifndef FLUXTRIM_CLI_EXPORT_FORMATS_HPP
#define FLUXTRIM_CLI_EXPORT_FORMATS_HPP

#include <optional>
#include <string>
#include <vector>

#include "calibration_json.hpp"
#include "fluxtrim/calibration.hpp"
#include "fluxtrim/types.hpp"
#include "fluxtrim/units.hpp"

namespace fluxtrim_cli {

enum class FirmwareFormat { C, Ardupilot, Px4 };

// "c", "ardupilot" or "px4"; empty for any other name.
std::optional<FirmwareFormat> firmwareFormatNamed(const std::string& name);

// The options of the firmware formats as typed; empty when not given.
struct FirmwareArgs {
  std::string name;      // --name, the C header's prefix
  std::string cType;     // --c-type, float or double
  std::string instance;  // --instance, the autopilot's magnetometer
  bool force = false;    // --force: write a failed calibration all the same
};

// The checked options.
struct FirmwareOptions {
  std::string name = "fluxtrim";  // a C identifier
  bool cFloat = true;             // float in the C header, else double
  int instance = 0;               // ardupilot 1 to 3, px4 0 to 3
  bool force = false;
};

// Checks the options for the format (empty when the output is text or JSON). Throws
// fluxtrim::UsageError, naming the option, for a name that is no C identifier, a type other than
// float or double, an instance out of the autopilot's range, and an option the format does not
// take.
FirmwareOptions checkFirmwareArgs(const FirmwareArgs& args, std::optional<FirmwareFormat> format);

// A stored calibration as a target applies it: corrected = (raw - offset) * matrix, raw in input,
// corrected in output. The offset is the stored one converted to input (fluxtrim::convertUnit);
// the matrix the fitted one times factor, element by element (fluxtrim::scaledCalibration), so
// that every format and apply multiply the same numbers.
struct TargetCalibration {
  fluxtrim::SampleUnit input;
  fluxtrim::SampleUnit output;
  double factor = 1.0;  // the scale to the field and the change of unit, a pure number
  fluxtrim::Calibration calibration;
};

// The calibration for raw samples in input. Throws fluxtrim::Error when the file holds no
// calibration or a value comes out not finite.
TargetCalibration targetCalibration(const StoredCalibration& stored,
                                    const fluxtrim::SampleUnit& input);

// The matrix an autopilot holds, symmetric: the autopilots apply it to column vectors, so theirs
// is the transpose of ours, and ours is symmetric up to rounding (sphere: the identity;
// axis-aligned: diagonal; general: a symmetric square root). Each off-diagonal pair is written as
// the mean of its two entries, which differ by a few units in the last place. Throws
// fluxtrim::Error for a matrix whose pairs differ beyond rounding (1e-9 of its largest entry): an
// autopilot cannot hold it.
fluxtrim::Matrix3 symmetricMatrix(const fluxtrim::Matrix3& matrix);

// The first line of a failed calibration's file (written with --force), without comment marks.
std::string failedLine(const StoredCalibration& stored);

// What every file says first, one item per line, without comment marks or wrapping: the version,
// the input and the verdict; the samples' unit and whether it was assumed; the unit and scale of
// the corrected samples. The format follows them with the formula its target applies, then
// detailLines.
std::vector<std::string> descriptionLines(const StoredCalibration& stored,
                                          const TargetCalibration& target);

// What follows the formula: the reference, the fit and its residual, and each reason behind the
// verdict.
std::vector<std::string> detailLines(const StoredCalibration& stored);

// What a recorded mounting says, one line without comment marks: the nearest orientation and the
// angle off it, or a mirrored axis set; empty without a recorded mounting.
std::string mountingLine(const StoredCalibration& stored);

// The shortest text of the float nearest value (fluxtrim::shortestFloatText): the value as a
// target that holds it in single precision holds it. Throws fluxtrim::Error for a value beyond
// the range of a float.
std::string floatText(double value);

// A firmware file, or why none is written.
struct FirmwareFile {
  std::string text;                   // empty when refused
  std::vector<std::string> warnings;  // for standard error, one line each
  std::string refusal;                // non-empty when nothing is written
};

// The stored calibration in the format. A failed calibration is refused unless options.force,
// and then the file's first line says that it failed; one without a calibration is refused
// always. Warns when the samples' unit was assumed and the file's numbers depend on it, and where
// a value lies outside what the autopilot accepts. Throws fluxtrim::Error as targetCalibration
// and symmetricMatrix do.
FirmwareFile firmwareFile(FirmwareFormat format, const StoredCalibration& stored,
                          const FirmwareOptions& options);

}  // namespace fluxtrim_cli

#endif
