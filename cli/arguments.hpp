// Conversion of the command's option text into the library's values: numbers, the field strength,
// the date, the reference field and the options for reading samples. Every function throws
// fluxtrim::UsageError with a one-line message that names the option and quotes its text.
#ifndef FLUXTRIM_CLI_ARGUMENTS_HPP
#define FLUXTRIM_CLI_ARGUMENTS_HPP

#include <string>

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

// The options that say how to read samples, as typed; empty when not given.
struct ReadArgs {
  std::string units;      // --units, as fluxtrim::parseUnit reads it
  std::string columns;    // --columns, three names or three 1-based numbers, comma-separated
  std::string delimiter;  // --delimiter, auto, comma, semicolon, tab or blanks
  std::string header;     // --header, auto, yes or no
};

// The reference a calibration or a check is measured against.
struct Reference {
  enum class Kind {
    Model,     // the model field at a place and date: `field`
    Strength,  // a field strength the user gave: total_nT only
    None,      // no reference at all
  };
  Kind kind = Kind::None;
  fluxtrim::ReferenceField field;  // Kind::Model only
  double total_nT = 0.0;           // Kind::Model and Kind::Strength
  std::string calendarDate;        // YYYY-MM-DD of the date used, empty for a decimal year
};

// The whole text as one finite number, as strtod reads it in the "C" locale: no blank around it.
double parseNumber(const std::string& option, const std::string& text);

// A field strength with its unit (G, mG, uT, µT, nT, T or their names; a blank between number and
// unit is allowed), in nanotesla. The number must be finite and above zero.
double parseFieldStrength_nT(const std::string& text);

// The decimal year of --date, and its calendar date when it was given as one; empty text is
// today's date (UTC).
struct DateChoice {
  double decimalYear = 0.0;
  std::string calendarDate;
};
DateChoice parseDateOption(const std::string& text);

// The model field at --lat, --lon, --alt on --date with --model. Latitude and longitude must be
// given; the library checks their ranges.
Reference modelReference(const ReferenceArgs& args);

// The reference of a calibration: the model field when --lat and --lon are given, the strength of
// --field-strength, or none. Refuses half a position, a height, date or model without a position,
// and --field-strength together with any of them.
Reference calibrationReference(const ReferenceArgs& args);

// The library's read options for the options given; unit left unset when --units is not given.
fluxtrim::ReadOptions readOptions(const ReadArgs& args);

// "48.5578 N, 3.2914 E": the position with hemisphere letters instead of signs.
std::string placeText(double latitude_deg, double longitude_deg);

// Shortest decimal text that reads back as the same double: "48.5578", "-3", "2026.5".
std::string shortestText(double value);

}  // namespace fluxtrim_cli

#endif
