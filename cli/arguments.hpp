// Conversion of the command's option text into the library's values: numbers, the field strength,
// the date, the reference field and the options for reading samples. Every function throws
// fluxtrim::UsageError with a one-line message that names the option and quotes its text.
#ifndef FLUXTRIM_CLI_ARGUMENTS_HPP
#define FLUXTRIM_CLI_ARGUMENTS_HPP

#include <string>

#include "fluxtrim/calibration.hpp"
#include "fluxtrim/field.hpp"
#include "fluxtrim/samples.hpp"

namespace fluxtrim_cli {

// The options that choose the reference field, as typed; empty when not given.
struct ReferenceArgs {
  std::string latitude;       // --lat, degrees north
  std::string longitude;      // --lon, degrees east
  std::string height;         // --alt, metres above the WGS-84 ellipsoid
  std::string date;           // --date, YYYY-MM-DD or a decimal year; empty for today
  std::string model;          // --model, wmm2025 or wmm2020; empty for WMM2025
  std::string fieldStrength;  // --field-strength, a number and a unit: 0.48G, 48uT, 48000nT
};

// The options about an accelerometer beside the magnetometer and a calibration from a turn about
// one axis, as typed; empty when not given.
struct VehicleArgs {
  std::string accelColumns;  // --accel-columns, as --columns
  std::string accelUnits;    // --accel-units, as fluxtrim::parseAccelerometerUnit reads it
  bool planar = false;       // --planar
  std::string mounting;      // --mounting, a named orientation ("roll 180 yaw 90")
  std::string down;          // --down, the magnetometer's axis that points down: +Z, -X, ...
};

// The options that say how to read samples, as typed; empty when not given.
struct ReadArgs {
  std::string units;      // --units, as fluxtrim::parseUnit reads it
  std::string columns;    // --columns, three names or three 1-based numbers, comma-separated
  std::string delimiter;  // --delimiter, auto, comma, semicolon, tab or blanks
  std::string header;     // --header, auto, yes or no
  std::string match;      // --match, a text the lines to read hold
};

// The whole text as one finite number, as strtod reads it in the "C" locale: no blank around it.
double parseNumber(const std::string& option, const std::string& text);

// A field strength with its unit (G, mG, uT, µT, nT, T or their names; a blank between number and
// unit is allowed), in gauss, converted by the unit's fluxtrim::SampleUnit::toGauss (rounded
// once). The number must be finite and above zero.
double parseFieldStrength_G(const std::string& text);

// The decimal year of --date; empty text is today's date (UTC).
double parseDateOption(const std::string& text);

// The model field at --lat, --lon, --alt on --date with --model. Latitude and longitude must be
// given; the library checks their ranges.
fluxtrim::ReferenceField modelField(const ReferenceArgs& args);

// The reference of a calibration: the model field when --lat and --lon are given, the strength of
// --field-strength, or none. Refuses half a position, a height, date or model without a position,
// and --field-strength together with any of them.
fluxtrim::Reference calibrationReference(const ReferenceArgs& args);

// The library's read options for the options given; unit left unset when --units is not given.
fluxtrim::ReadOptions readOptions(const ReadArgs& args);

// The direction of --down: a signed axis (+X, -X, ..., Z for +Z, in either case) as a unit vector
// in the magnetometer's axes.
fluxtrim::Vec3 parseDown(const std::string& text);

// --frame: whether corrected samples are to be turned into the accelerometer's axes ("accel";
// "mag" or empty: the magnetometer's, as fitted).
bool parseFrame(const std::string& text);

// The vehicle's options into the read options (--accel-columns) and the calibration's options,
// whose reference must already be set: --planar needs a model field (--lat and --lon).
void vehicleOptions(const VehicleArgs& args, fluxtrim::ReadOptions& read,
                    fluxtrim::CalibrationOptions& options);

}  // namespace fluxtrim_cli

#endif
