// Conversion of option text into the library's values, with one-line messages for bad text.
#include "arguments.hpp"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "fluxtrim/error.hpp"
#include "fluxtrim/text.hpp"
#include "fluxtrim/units.hpp"
#include "fluxtrim/vehicle.hpp"

namespace fluxtrim_cli {

namespace {

using fluxtrim::UsageError;

std::string quoted(const std::string& text) {
  return "'" + fluxtrim::printableText(text, 60) + "'";
}

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string trimmed(const std::string& text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && isBlank(text[first])) ++first;
  while (last > first && isBlank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

bool allDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::vector<std::string> splitCommas(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    parts.push_back(trimmed(text.substr(start, comma - start)));
    if (comma == std::string::npos) return parts;
    start = comma + 1;
  }
}

// The columns of --columns or --accel-columns (option): three header names, or three 1-based
// column numbers given to the library as 0-based indices.
void parseColumns(const std::string& option, const std::string& text,
                  std::vector<std::string>& names, std::vector<int>& indices) {
  const std::vector<std::string> parts = splitCommas(text);
  bool anyEmpty = false;
  int numbers = 0;
  for (const std::string& part : parts) {
    anyEmpty = anyEmpty || part.empty();
    numbers += allDigits(part) ? 1 : 0;
  }
  if (parts.size() != 3 || anyEmpty) {
    throw UsageError(option + " " + quoted(text) +
                     ": expected three comma-separated names or column numbers, such as "
                     "magX,magY,magZ or 2,3,4");
  }
  if (numbers == 0) {
    names = parts;
    return;
  }
  if (numbers != 3) {
    throw UsageError(option + " " + quoted(text) + ": give three names or three numbers, not both");
  }
  for (const std::string& part : parts) {
    int number = 0;
    const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), number);
    if (error != std::errc() || end != part.data() + part.size() || number < 1) {
      throw UsageError(option + " " + quoted(text) + ": column numbers start at 1");
    }
    for (const int index : indices) {
      if (index == number - 1) {
        throw UsageError(option + " " + quoted(text) + ": column " + std::to_string(number) +
                         " is given twice");
      }
    }
    indices.push_back(number - 1);
  }
}

fluxtrim::Delimiter parseDelimiter(const std::string& text) {
  if (text == "auto") return fluxtrim::Delimiter::Auto;
  if (text == "comma" || text == ",") return fluxtrim::Delimiter::Comma;
  if (text == "semicolon" || text == ";") return fluxtrim::Delimiter::Semicolon;
  if (text == "tab") return fluxtrim::Delimiter::Tab;
  if (text == "blanks") return fluxtrim::Delimiter::Blanks;
  throw UsageError("--delimiter " + quoted(text) +
                   ": expected auto, comma, semicolon, tab or blanks");
}

fluxtrim::HeaderMode parseHeader(const std::string& text) {
  if (text == "auto") return fluxtrim::HeaderMode::Auto;
  if (text == "yes") return fluxtrim::HeaderMode::Present;
  if (text == "no") return fluxtrim::HeaderMode::Absent;
  throw UsageError("--header " + quoted(text) + ": expected auto, yes or no");
}

}  // namespace

double parseNumber(const std::string& option, const std::string& text) {
  const char* begin = text.c_str();
  char* end = nullptr;
  const double value = std::strtod(begin, &end);
  if (text.empty() || isBlank(text.front()) || end != begin + text.size()) {
    throw UsageError(option + " " + quoted(text) + ": not a number");
  }
  if (!std::isfinite(value)) {
    throw UsageError(option + " " + quoted(text) + ": not a finite number");
  }
  return value;
}

double parseFieldStrength_G(const std::string& text) {
  const char* begin = text.c_str();
  char* end = nullptr;
  const double value = std::strtod(begin, &end);
  const std::string unitText = trimmed(std::string(end));
  if (end == begin || isBlank(text.front())) {
    throw UsageError("--field-strength " + quoted(text) +
                     ": expected a number and a unit, such as 0.48G, 48uT or 48000nT");
  }
  if (unitText.empty()) {
    throw UsageError("--field-strength " + quoted(text) +
                     ": give the unit too, such as 0.48G, 48uT or 48000nT");
  }
  fluxtrim::SampleUnit unit;
  bool fieldUnit = false;  // a unit of magnetic field, not raw counts
  try {
    unit = fluxtrim::parseUnit(unitText);
    fieldUnit = unit.unit != fluxtrim::Unit::Counts;
  } catch (const UsageError&) {
  }
  if (!fieldUnit) {
    throw UsageError("--field-strength " + quoted(text) + ": unknown unit " + quoted(unitText) +
                     ": expected G, mG, uT, nT or T");
  }
  if (!std::isfinite(value) || !(value > 0.0)) {
    throw UsageError("--field-strength " + quoted(text) + ": must be a finite strength above 0");
  }
  return unit.toGauss(value);
}

double parseDateOption(const std::string& text) {
  if (text.empty()) return fluxtrim::currentDecimalYear();
  try {
    return fluxtrim::parseDate(text);
  } catch (const UsageError& e) {
    throw UsageError(std::string("--date: ") + e.what());
  }
}

fluxtrim::ReferenceField modelField(const ReferenceArgs& args) {
  fluxtrim::GeodeticPosition position;
  position.latitude_deg = parseNumber("--lat", args.latitude);
  position.longitude_deg = parseNumber("--lon", args.longitude);
  position.height_m = args.height.empty() ? 0.0 : parseNumber("--alt", args.height);
  const double year = parseDateOption(args.date);
  fluxtrim::FieldModel model = fluxtrim::FieldModel::WMM2025;
  if (!args.model.empty()) {
    try {
      model = fluxtrim::parseFieldModel(args.model);
    } catch (const UsageError& e) {
      throw UsageError(std::string("--model: ") + e.what());
    }
  }
  return fluxtrim::evaluateField(model, position, year);
}

fluxtrim::Reference calibrationReference(const ReferenceArgs& args) {
  const bool latitude = !args.latitude.empty();
  const bool longitude = !args.longitude.empty();
  if (!args.fieldStrength.empty()) {
    if (latitude || longitude || !args.height.empty() || !args.date.empty() ||
        !args.model.empty()) {
      throw UsageError(
          "--field-strength replaces the model field: give it without --lat, --lon, --alt, "
          "--date and --model");
    }
    return fluxtrim::Reference::fromStrength(parseFieldStrength_G(args.fieldStrength));
  }
  if (latitude != longitude) {
    throw UsageError(latitude ? "--lat needs --lon too" : "--lon needs --lat too");
  }
  if (latitude) return fluxtrim::Reference::fromField(modelField(args));
  if (!args.height.empty()) throw UsageError("--alt needs --lat and --lon");
  if (!args.date.empty()) throw UsageError("--date needs --lat and --lon");
  if (!args.model.empty()) throw UsageError("--model needs --lat and --lon");
  return fluxtrim::Reference();
}

fluxtrim::ReadOptions readOptions(const ReadArgs& args) {
  fluxtrim::ReadOptions options;
  if (!args.units.empty()) {
    try {
      options.unit = fluxtrim::parseUnit(args.units);
    } catch (const UsageError& e) {
      throw UsageError(std::string("--units: ") + e.what());
    }
  }
  if (!args.columns.empty()) {
    parseColumns("--columns", args.columns, options.columnNames, options.columnIndices);
  }
  if (!args.delimiter.empty()) options.delimiter = parseDelimiter(args.delimiter);
  if (!args.header.empty()) options.header = parseHeader(args.header);
  options.match = args.match;
  return options;
}

fluxtrim::Vec3 parseDown(const std::string& text) {
  std::string axis = trimmed(text);
  double sign = 1.0;
  if (!axis.empty() && (axis[0] == '+' || axis[0] == '-')) {
    sign = axis[0] == '-' ? -1.0 : 1.0;
    axis.erase(0, 1);
  }
  const std::string names = "xyz";
  const std::size_t index =
      axis.size() == 1
          ? names.find(static_cast<char>(std::tolower(static_cast<unsigned char>(axis[0]))))
          : std::string::npos;
  if (index == std::string::npos) {
    throw UsageError("--down " + quoted(text) +
                     ": expected the magnetometer's axis that points down: +X, -X, +Y, -Y, +Z or "
                     "-Z");
  }
  fluxtrim::Vec3 down{{0.0, 0.0, 0.0}};
  down[index] = sign;
  return down;
}

bool parseFrame(const std::string& text) {
  if (text.empty() || text == "mag") return false;
  if (text == "accel") return true;
  throw UsageError("--frame " + quoted(text) +
                   ": expected mag (the magnetometer's axes) or accel (the accelerometer's)");
}

void vehicleOptions(const VehicleArgs& args, fluxtrim::ReadOptions& read,
                    fluxtrim::CalibrationOptions& options) {
  if (!args.accelColumns.empty()) {
    parseColumns("--accel-columns", args.accelColumns, read.accelerometerColumnNames,
                 read.accelerometerColumnIndices);
  }
  try {
    if (!args.accelUnits.empty()) {
      options.accelerometerUnit = fluxtrim::parseAccelerometerUnit(args.accelUnits);
    }
  } catch (const UsageError& e) {
    throw UsageError(std::string("--accel-units: ") + e.what());
  }
  try {
    if (!args.mounting.empty()) options.mounting = fluxtrim::orientationMatrix(args.mounting);
  } catch (const UsageError& e) {
    throw UsageError(std::string("--mounting: ") + e.what());
  }
  if (!args.down.empty()) options.down = parseDown(args.down);
  if (args.planar) {
    if (options.reference.kind() != fluxtrim::Reference::Kind::Field) {
      throw UsageError(
          "--planar takes the offset along the turn axis from the field's inclination at the "
          "place of the recording: give --lat and --lon");
    }
    options.planar = fluxtrim::PlanarMode::Always;
  }
}

}  // namespace fluxtrim_cli
