// The autopilots' parameter files.
#include "parameter_files.hpp"

#include <cmath>

#include "export_formats.hpp"
#include "fluxtrim/text.hpp"
#include "fluxtrim/units.hpp"
#include "fluxtrim/vehicle.hpp"
#include "terminal.hpp"

namespace fluxtrim_cli {

namespace {

struct Parameter {
  std::string name;
  double value;
};

// The text with every @ replaced by the instance's part of the parameters' names.
std::string named(std::string text, const std::string& instance) {
  for (std::size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at)) {
    text.replace(at, 1, instance);
    at += instance.size();
  }
  return text;
}

// Comment lines "# text", wrapped within the command's line width and continued with "#   ".
std::string comments(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += "# " + wrapped(line, kLineWidth - 2, "#   ") + "\n";
  return out;
}

// The comment lines of a parameter file: the failed line first when the verdict is fail, what
// the calibration is, the formula and notes of the format, then the details behind the verdict.
std::vector<std::string> openingLines(const StoredCalibration& stored,
                                      const TargetCalibration& target,
                                      const std::vector<std::string>& formula) {
  std::vector<std::string> lines;
  if (stored.verdict == "fail") lines.push_back(failedLine(stored));
  for (const auto& part : {descriptionLines(stored, target), formula, detailLines(stored)}) {
    lines.insert(lines.end(), part.begin(), part.end());
  }
  return lines;
}

// Beyond these the autopilot refuses the calibration: offsets in milligauss, each component; the
// diagonal of its matrix.
constexpr double kArdupilotOffsetLimit_mG = 1800.0;
constexpr double kArdupilotDiagonalMin = 0.2;
constexpr double kArdupilotDiagonalMax = 5.0;

std::vector<std::string> ardupilotWarnings(const std::vector<Parameter>& parameters) {
  std::vector<std::string> warnings;
  for (const Parameter& p : parameters) {
    const std::string value = p.name + " = " + floatText(p.value);
    if (p.name.find("_OFS") != std::string::npos &&
        !(std::fabs(p.value) <= kArdupilotOffsetLimit_mG)) {
      warnings.push_back(value + " mG lies beyond the 1800 mG the autopilot accepts");
    }
    if (p.name.find("_DIA") != std::string::npos &&
        !(p.value >= kArdupilotDiagonalMin && p.value <= kArdupilotDiagonalMax)) {
      warnings.push_back(value + " lies outside the 0.2 to 5 the autopilot accepts");
    }
  }
  return warnings;
}

// The orientation a recorded mounting asks the autopilot to set: the nearest named one of a
// mounting that is not mirrored (a mirrored set no orientation repairs) and not none.
const fluxtrim::NamedOrientation* orientationToSet(const StoredCalibration& stored) {
  if (!stored.mounting || stored.mounting->handedness == "mirrored") return nullptr;
  for (const fluxtrim::NamedOrientation& o : fluxtrim::namedOrientations()) {
    if (o.number == stored.mounting->number && o.number != 0) return &o;
  }
  return nullptr;
}

// The offset and the symmetric matrix in the vehicle's axes: r * offset and r * a * r^T, exact
// for a right-angle orientation, whose entries are 0 and +-1.
void turnInto(const fluxtrim::Matrix3& r, fluxtrim::Vec3& offset, fluxtrim::Matrix3& a) {
  fluxtrim::Vec3 o{};
  fluxtrim::Matrix3 ra{};
  for (int i = 0; i < 3; ++i) {
    o[i] = r[i][0] * offset[0] + r[i][1] * offset[1] + r[i][2] * offset[2];
    for (int j = 0; j < 3; ++j)
      ra[i][j] = r[i][0] * a[0][j] + r[i][1] * a[1][j] + r[i][2] * a[2][j];
  }
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j)
      a[i][j] = ra[i][0] * r[j][0] + ra[i][1] * r[j][1] + ra[i][2] * r[j][2];
  }
  offset = o;
}

// The ardupilot file's words on the mounting: the orientation to set, and the frame of the values
// that follows from it.
std::vector<std::string> ardupilotMounting(const StoredCalibration& stored, const std::string& n) {
  if (!stored.mounting) return {};
  std::vector<std::string> lines{mountingLine(stored)};
  const fluxtrim::NamedOrientation* orientation = orientationToSet(stored);
  if (orientation != nullptr) {
    lines.push_back(named(
        fluxtrim::formatText(
            "COMPASS_ORIENT@ = %d turns its readings into the vehicle's axes (the "
            "accelerometer's). The autopilot corrects a reading after turning it, so OFS and A "
            "below are in the vehicle's axes: OFS = -R * offset, A = R * A_sensor * R^T, R that "
            "orientation's matrix. This holds for a recording made with COMPASS_ORIENT@ at 0 "
            "(none); for one made with another orientation set, set COMPASS_ORIENT@ to 0 and "
            "record again.",
            orientation->number),
        n));
  } else if (stored.mounting->handedness != "mirrored") {
    lines.push_back(named("COMPASS_ORIENT@ needs no change.", n));
  }
  return lines;
}

}  // namespace

std::string ardupilotParameters(const StoredCalibration& stored, int instance,
                                std::vector<std::string>& warnings) {
  const TargetCalibration target =
      targetCalibration(stored, fluxtrim::SampleUnit{fluxtrim::Unit::Milligauss});
  fluxtrim::Matrix3 a = symmetricMatrix(target.calibration.matrix);
  const std::string n = instance == 1 ? "" : std::to_string(instance);
  fluxtrim::Vec3 offset = target.calibration.offset;
  const fluxtrim::NamedOrientation* orientation = orientationToSet(stored);
  if (orientation != nullptr) turnInto(orientation->matrix, offset, a);
  std::vector<Parameter> parameters{
      {named("COMPASS_OFS@_X", n), -offset[0]}, {named("COMPASS_OFS@_Y", n), -offset[1]},
      {named("COMPASS_OFS@_Z", n), -offset[2]}, {named("COMPASS_DIA@_X", n), a[0][0]},
      {named("COMPASS_DIA@_Y", n), a[1][1]},    {named("COMPASS_DIA@_Z", n), a[2][2]},
      {named("COMPASS_ODI@_X", n), a[0][1]},    {named("COMPASS_ODI@_Y", n), a[0][2]},
      {named("COMPASS_ODI@_Z", n), a[1][2]}};

  std::vector<std::string> formula{
      named("The autopilot corrects m, the magnetometer in milligauss in the frame of its logged "
            "magnetometer messages, as m' = A * (m + OFS): OFS = (COMPASS_OFS@_X, COMPASS_OFS@_Y, "
            "COMPASS_OFS@_Z) is minus the offset; A is symmetric, with diagonal COMPASS_DIA@_X, "
            "COMPASS_DIA@_Y, COMPASS_DIA@_Z and off-diagonal COMPASS_ODI@_X (xy), COMPASS_ODI@_Y "
            "(xz), COMPASS_ODI@_Z "
            "(yz), each the mean of the calibration matrix's two entries, which agree to "
            "rounding. m' is in ",
            n) +
          target.output.name() + ".",
      "Values as the autopilot holds them, in single precision. Load the file from the ground "
      "station's parameter screen and write the parameters to the vehicle."};
  const std::vector<std::string> mounting = ardupilotMounting(stored, n);
  formula.insert(formula.end(), mounting.begin(), mounting.end());
  const std::vector<std::string> outOfRange = ardupilotWarnings(parameters);
  for (const std::string& warning : outOfRange) formula.push_back("Warning: " + warning + ".");
  warnings.insert(warnings.end(), outOfRange.begin(), outOfRange.end());

  std::string text = comments(openingLines(stored, target, formula));
  for (const Parameter& p : parameters) text += p.name + "," + floatText(p.value) + "\n";
  if (orientation != nullptr) {
    text += named("COMPASS_ORIENT@", n) + "," + std::to_string(orientation->number) + "\n";
  }
  return text;
}

std::string px4Parameters(const StoredCalibration& stored, int instance) {
  const TargetCalibration target =
      targetCalibration(stored, fluxtrim::SampleUnit{fluxtrim::Unit::Gauss});
  const fluxtrim::Matrix3 s = symmetricMatrix(target.calibration.matrix);
  const std::string n = std::to_string(instance);
  const fluxtrim::Vec3& offset = target.calibration.offset;
  const std::vector<Parameter> parameters{
      {named("CAL_MAG@_XOFF", n), offset[0]}, {named("CAL_MAG@_YOFF", n), offset[1]},
      {named("CAL_MAG@_ZOFF", n), offset[2]}, {named("CAL_MAG@_XSCALE", n), s[0][0]},
      {named("CAL_MAG@_YSCALE", n), s[1][1]}, {named("CAL_MAG@_ZSCALE", n), s[2][2]},
      {named("CAL_MAG@_XODIAG", n), s[0][1]}, {named("CAL_MAG@_YODIAG", n), s[0][2]},
      {named("CAL_MAG@_ZODIAG", n), s[1][2]}};

  std::vector<std::string> formula{
      named("The autopilot corrects m, the magnetometer in gauss in its own axes, as m' = R * (S "
            "* (m - OFF)): OFF = (CAL_MAG@_XOFF, CAL_MAG@_YOFF, CAL_MAG@_ZOFF) is the offset; S "
            "is symmetric, with diagonal CAL_MAG@_XSCALE, CAL_MAG@_YSCALE, CAL_MAG@_ZSCALE and "
            "off-diagonal "
            "CAL_MAG@_XODIAG (xy), CAL_MAG@_YODIAG (xz), CAL_MAG@_ZODIAG (yz), each the mean of "
            "the calibration matrix's two entries, which agree to rounding; R is the autopilot's "
            "rotation of the sensor, its own setting. S * (m - OFF) is in ",
            n) +
          target.output.name() + ".",
      named("CAL_MAG@_ID, the device id of the magnetometer these values belong to, cannot be "
            "known from a recording and is left out: the autopilot applies them to the "
            "magnetometer whose id CAL_MAG@_ID holds on the vehicle; check that it is this one.",
            n),
      "Values as the autopilot holds them, in single precision, for vehicle 1, component 1 (edit "
      "the first two columns for other ids). Load the file from the ground station's parameter "
      "screen."};
  const fluxtrim::NamedOrientation* orientation = orientationToSet(stored);
  if (stored.mounting) {
    formula.push_back(mountingLine(stored));
    formula.push_back(
        orientation != nullptr
            ? named(fluxtrim::formatText(
                        "CAL_MAG@_ROT = %d is R, which turns its corrected readings into the "
                        "vehicle's axes (the accelerometer's); the values above stay in the "
                        "sensor's own axes. The autopilot keeps -1 for an internal magnetometer, "
                        "which turns with the board.",
                        orientation->number),
                    n)
            : named("CAL_MAG@_ROT needs no change.", n));
  }
  std::string text = comments(openingLines(stored, target, formula));
  text += "#\n# Vehicle-Id Component-Id Name Value Type\n";
  constexpr int kFloatType = 9;    // a 32-bit float in the parameter protocol
  constexpr int kIntegerType = 6;  // a 32-bit signed integer
  for (const Parameter& p : parameters) {
    text +=
        "1\t1\t" + p.name + "\t" + floatText(p.value) + "\t" + std::to_string(kFloatType) + "\n";
  }
  if (orientation != nullptr) {
    text += "1\t1\t" + named("CAL_MAG@_ROT", n) + "\t" + std::to_string(orientation->number) +
            "\t" + std::to_string(kIntegerType) + "\n";
  }
  return text;
}

}  // namespace fluxtrim_cli
