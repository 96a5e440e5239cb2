// What the firmware formats share: options, the calibration as a target applies it, the words
// at the top of each file, and the refusal of a failed calibration.
#include "export_formats.hpp"

#include <charconv>
#include <cmath>
#include <limits>

#include "calibration_c.hpp"
#include "fluxtrim/error.hpp"
#include "fluxtrim/text.hpp"
#include "fluxtrim/version.hpp"
#include "parameter_files.hpp"

namespace fluxtrim_cli {

namespace {

using fluxtrim::UsageError;

struct NamedFormat {
  const char* name;
  FirmwareFormat format;
};
constexpr NamedFormat kFormats[] = {{"c", FirmwareFormat::C},
                                    {"ardupilot", FirmwareFormat::Ardupilot},
                                    {"px4", FirmwareFormat::Px4}};

const char* formatName(FirmwareFormat format) {
  for (const NamedFormat& named : kFormats) {
    if (named.format == format) return named.name;
  }
  return "?";
}

// A name the C header can prefix its identifiers with: a letter, then letters, digits and _.
bool cIdentifier(const std::string& name) {
  const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (name.empty() || name.size() > 64 || !letter(name[0])) return false;
  for (const char c : name) {
    if (!letter(c) && !(c >= '0' && c <= '9') && c != '_') return false;
  }
  return true;
}

int parseInstance(const std::string& text, int first, int last) {
  int instance = -1;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), instance);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
      instance < first || instance > last) {
    throw UsageError("--instance '" + fluxtrim::printableText(text, 20) + "': expected " +
                     std::to_string(first) + " to " + std::to_string(last));
  }
  return instance;
}

// An option given for a format that does not take it, refused rather than ignored.
void refuseUnless(bool applies, const std::string& text, const char* option, const char* formats) {
  if (!applies && !text.empty()) {
    throw UsageError(std::string(option) + " applies to --format " + formats + " only");
  }
}

// "the fitted matrix (determinant 1)" with what multiplies it.
std::string scaleWords(const StoredCalibration& stored, const TargetCalibration& target) {
  const std::string factor = fluxtrim::formatText("%.7g", target.factor);
  if (stored.output.toField) {
    return "the matrix is the fitted one times " + factor +
           ", so that the corrected magnitude is on average the reference field";
  }
  if (target.factor == 1.0) {
    return "the matrix is the fitted one (determinant 1): corrected samples keep the raw "
           "samples' scale";
  }
  return "the matrix is the fitted one (determinant 1) times " + factor + " for the change of unit";
}

std::string fitWords(const StoredCalibration& stored) {
  const std::optional<fluxtrim::ModelKind> kind = fitNamed(stored.fit);
  std::string words =
      std::string("Fit: ") +
      (kind                       ? fluxtrim::modelName(*kind)
       : stored.fit == kPlanarFit ? "planar, from a turn about one axis"
                                  : "?") +
      ", " +
      (stored.tolerance ? "fixed window of " + fluxtrim::shortestText(*stored.tolerance)
                        : std::string("automatic mode"));
  if (std::isfinite(stored.residual_mG)) {
    words += fluxtrim::formatText(", residual %.3g mG", stored.residual_mG);
  }
  return words + ".";
}

// Why a stored result holds no calibration, as the command says it for a fresh one.
std::string noCalibrationWords(const StoredCalibration& stored) {
  return stored.motion == "not_turned" ? "the device was not turned"
                                       : "no sample was kept for a fit";
}

}  // namespace

std::optional<FirmwareFormat> firmwareFormatNamed(const std::string& name) {
  for (const NamedFormat& named : kFormats) {
    if (name == named.name) return named.format;
  }
  return std::nullopt;
}

FirmwareOptions checkFirmwareArgs(const FirmwareArgs& args, std::optional<FirmwareFormat> format) {
  const bool c = format == FirmwareFormat::C;
  const bool autopilot = format == FirmwareFormat::Ardupilot || format == FirmwareFormat::Px4;
  refuseUnless(c, args.name, "--name", "c");
  refuseUnless(c, args.cType, "--c-type", "c");
  refuseUnless(autopilot, args.instance, "--instance", "ardupilot and px4");
  FirmwareOptions options;
  options.force = args.force;
  if (!args.name.empty()) {
    if (!cIdentifier(args.name)) {
      throw UsageError("--name '" + fluxtrim::printableText(args.name, 80) +
                       "': expected a C identifier: a letter, then letters, digits or _, at most "
                       "64 characters");
    }
    options.name = args.name;
  }
  if (!args.cType.empty() && args.cType != "float" && args.cType != "double") {
    throw UsageError("--c-type '" + fluxtrim::printableText(args.cType, 20) +
                     "': expected float or double");
  }
  options.cFloat = args.cType != "double";
  if (format == FirmwareFormat::Ardupilot) {
    options.instance = args.instance.empty() ? 1 : parseInstance(args.instance, 1, 3);
  } else if (format == FirmwareFormat::Px4) {
    options.instance = args.instance.empty() ? 0 : parseInstance(args.instance, 0, 3);
  }
  return options;
}

TargetCalibration targetCalibration(const StoredCalibration& stored,
                                    const fluxtrim::SampleUnit& input) {
  if (!stored.hasCalibration) throw fluxtrim::Error("the file holds no calibration");
  TargetCalibration target;
  target.input = input;
  target.output = stored.output.unitFor(input);
  target.factor = stored.output.factorFor(input);
  fluxtrim::Calibration fitted;
  for (int axis = 0; axis < 3; ++axis) {
    fitted.offset[axis] = fluxtrim::convertUnit(stored.offset[axis], stored.unit, input);
  }
  fitted.matrix = stored.matrix;
  target.calibration = fluxtrim::scaledCalibration(fitted, target.factor);
  bool finite = std::isfinite(target.factor);
  for (int row = 0; row < 3; ++row) {
    finite = finite && std::isfinite(target.calibration.offset[row]);
    for (const double element : target.calibration.matrix[row]) {
      finite = finite && std::isfinite(element);
    }
  }
  if (!finite) throw fluxtrim::Error("the calibration holds a value that is not finite");
  return target;
}

fluxtrim::Matrix3 symmetricMatrix(const fluxtrim::Matrix3& matrix) {
  double largest = 0.0;
  for (const fluxtrim::Vec3& row : matrix) {
    for (const double element : row) largest = std::fmax(largest, std::fabs(element));
  }
  constexpr double kRounding = 1e-9;  // far above the square root's rounding, far below a fit's
  fluxtrim::Matrix3 symmetric = matrix;
  for (int row = 0; row < 3; ++row) {
    for (int column = row + 1; column < 3; ++column) {
      const double upper = matrix[row][column];
      const double lower = matrix[column][row];
      if (!(std::fabs(upper - lower) <= kRounding * largest)) {
        throw fluxtrim::Error(fluxtrim::formatText(
            "the matrix is not symmetric (entries %d,%d and %d,%d: %.9g and %.9g): an autopilot "
            "holds only a symmetric one",
            row + 1, column + 1, column + 1, row + 1, upper, lower));
      }
      symmetric[row][column] = symmetric[column][row] = 0.5 * (upper + lower);
    }
  }
  return symmetric;
}

std::string failedLine(const StoredCalibration& stored) {
  return "FAILED CALIBRATION (verdict " + stored.verdict + "): do not use it.";
}

std::vector<std::string> descriptionLines(const StoredCalibration& stored,
                                          const TargetCalibration& target) {
  const std::string source = stored.source == "-" ? "standard input" : stored.source;
  return {"Magnetometer calibration by fluxtrim " + std::string(fluxtrim::version()) + " of " +
              fluxtrim::printableText(source, 200) +
              (stored.sampleCount ? " (" + std::to_string(*stored.sampleCount) + " samples)"
                                  : std::string()) +
              ": verdict " + stored.verdict + ".",
          "Recorded in " + stored.unit.name() +
              (stored.unitGiven ? "." : ", assumed: the unit was not given."),
          "Corrected samples in " + target.output.name() + " (" + target.output.symbol() +
              ") from raw samples in " + target.input.name() + "; " + scaleWords(stored, target) +
              "."};
}

std::vector<std::string> detailLines(const StoredCalibration& stored) {
  std::vector<std::string> lines{"Reference: " + fluxtrim::referenceText(stored.reference) + ". " +
                                 fitWords(stored)};
  if (!stored.planarNote.empty()) lines.push_back(fluxtrim::printableText(stored.planarNote, 400));
  for (const StoredReason& reason : stored.reasons) {
    // A reason that only restates the one before it is marked "also", as the text marks it.
    lines.push_back(std::string(reason.followsFrom ? "Reason: also " : "Reason: ") +
                    reason.severity + " " + reason.code + ": " +
                    fluxtrim::printableText(reason.message, 400));
  }
  return lines;
}

std::string mountingLine(const StoredCalibration& stored) {
  if (!stored.mounting) return std::string();
  const StoredMounting& m = *stored.mounting;
  if (m.handedness == "mirrored") {
    return "The accelerometer beside the magnetometer shows its axes mirrored: a left-handed set "
           "that no orientation repairs; negate one axis and calibrate again.";
  }
  return fluxtrim::formatText(
      "The accelerometer beside the magnetometer shows it mounted '%s' (orientation %d), %.1f "
      "degrees off it.",
      m.name.c_str(), m.number, m.misalignment_deg);
}

std::string floatText(double value) {
  if (!(std::fabs(value) <= static_cast<double>(std::numeric_limits<float>::max()))) {
    throw fluxtrim::Error("the calibration holds a value beyond the range of a float: " +
                          fluxtrim::shortestText(value));
  }
  return fluxtrim::shortestFloatText(static_cast<float>(value));
}

FirmwareFile firmwareFile(FirmwareFormat format, const StoredCalibration& stored,
                          const FirmwareOptions& options) {
  FirmwareFile file;
  const std::string what = format == FirmwareFormat::C ? "no C header written"
                                                       : std::string("no ") + formatName(format) +
                                                             " parameter file written";
  if (!stored.hasCalibration) {
    file.refusal = noCalibrationWords(stored) + ": " + what + " (verdict " + stored.verdict + ")";
    return file;
  }
  if (stored.verdict == "fail" && !options.force) {
    file.refusal =
        "the calibration failed its checks: " + what + " (--force writes it all the same)";
    return file;
  }
  const bool autopilot = format != FirmwareFormat::C;
  if (!stored.unitGiven && (autopilot || stored.output.unit)) {
    file.warnings.push_back(
        "the samples' unit was not given: the file's values take them to be in gauss, and are "
        "wrong if they were not (give the unit with --units when calibrating)");
  }
  switch (format) {
    case FirmwareFormat::C:
      file.text = calibrationHeader(stored, options);
      break;
    case FirmwareFormat::Ardupilot:
      file.text = ardupilotParameters(stored, options.instance, file.warnings);
      break;
    case FirmwareFormat::Px4:
      file.text = px4Parameters(stored, options.instance);
      break;
  }
  return file;
}

}  // namespace fluxtrim_cli
