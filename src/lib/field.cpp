// The reference field of the library: the model's synthesis in double or single precision behind
// checked arguments, the models' validity, and the conversion of calendar dates to decimal years.
#include "fluxtrim/field.hpp"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "fluxtrim/error.hpp"
#include "fluxtrim/text.hpp"
#include "geomag.hpp"
#include "numparse.hpp"

namespace fluxtrim {

namespace {

std::string quoted(const std::string& text) {
  return "'" + printableText(text, 60) + "'";
}

// The coefficient tables of a model in each precision.
template <typename T>
const geomag::BasicConstModel<T>& coefficients(FieldModel model);

template <>
const geomag::ConstModel& coefficients<float>(FieldModel model) {
  return model == FieldModel::WMM2020 ? geomag::WMM2020 : geomag::WMM2025;
}

template <>
const geomag::BasicConstModel<double>& coefficients<double>(FieldModel model) {
  return model == FieldModel::WMM2020 ? geomag::WMM2020Double : geomag::WMM2025Double;
}

// The three steps of the synthesis in precision T, the arguments rounded to T once and the
// elements widened to double. With T = float this is, operation for operation, the reference
// field of fluxtrim.out.
template <typename T>
FieldElements synthesise(FieldModel model, const GeodeticPosition& position, double decimalYear) {
  const T lat = static_cast<T>(position.latitude_deg);
  const T lon = static_cast<T>(position.longitude_deg);
  const T height = static_cast<T>(position.height_m);
  const geomag::BasicVector<T> ecef = geomag::geodetic2ecef<T>(lat, lon, height);
  const geomag::BasicVector<T> field =
      geomag::GeoMag(static_cast<T>(decimalYear), ecef, coefficients<T>(model));
  const geomag::BasicElements<T> e = geomag::magField2Elements(field, lat, lon);
  FieldElements out;
  out.north_nT = static_cast<double>(e.north);
  out.east_nT = static_cast<double>(e.east);
  out.down_nT = static_cast<double>(e.down);
  out.horizontal_nT = static_cast<double>(e.horizontal);
  out.total_nT = static_cast<double>(e.total);
  out.inclination_deg = static_cast<double>(e.inclination);
  out.declination_deg = static_cast<double>(e.declination);
  return out;
}

void requireInRange(const char* what, double value, double low, double high, const char* unit) {
  if (!std::isfinite(value)) {
    throw UsageError(std::string(what) + " is not a finite number: " + shortestText(value));
  }
  if (value < low || value > high) {
    throw UsageError(std::string(what) + " " + shortestText(value) + unit + " is outside [" +
                     shortestText(low) + ", " + shortestText(high) + "]" + unit);
  }
}

bool isLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Days of the month, or 0 for a month outside 1 to 12.
int daysInMonth(int year, int month) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

int daysInYear(int year) {
  return isLeapYear(year) ? 366 : 365;
}

bool isDigits(const std::string& text, std::size_t first, std::size_t count) {
  if (first + count > text.size()) return false;
  for (std::size_t i = first; i < first + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

int digitsValue(const std::string& text, std::size_t first, std::size_t count) {
  int value = 0;
  for (std::size_t i = first; i < first + count; ++i) value = value * 10 + (text[i] - '0');
  return value;
}

}  // namespace

FieldModelInfo fieldModelInfo(FieldModel model) {
  switch (model) {
    case FieldModel::WMM2025:
      return FieldModelInfo{"WMM2025", 2025.0, 2030.0};
    case FieldModel::WMM2020:
      return FieldModelInfo{"WMM2020", 2020.0, 2025.0};
  }
  throw UsageError("unknown field model number " + std::to_string(static_cast<int>(model)));
}

FieldModel parseFieldModel(const std::string& text) {
  std::string lower = text;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (lower == "wmm2025") return FieldModel::WMM2025;
  if (lower == "wmm2020") return FieldModel::WMM2020;
  throw UsageError("unknown field model " + quoted(text) + ": expected WMM2025 or WMM2020");
}

std::string positionText(const GeodeticPosition& position) {
  const auto signedAngle = [](double value, const char* positive, const char* negative) {
    return shortestText(std::fabs(value)) + " " + (value < 0.0 ? negative : positive);
  };
  return signedAngle(position.latitude_deg, "N", "S") + ", " +
         signedAngle(position.longitude_deg, "E", "W") + ", " + shortestText(position.height_m) +
         " m";
}

ReferenceField evaluateField(FieldModel model, const GeodeticPosition& position, double decimalYear,
                             Precision precision) {
  const FieldModelInfo info = fieldModelInfo(model);
  requireInRange("latitude", position.latitude_deg, -90.0, 90.0, " degrees");
  requireInRange("longitude", position.longitude_deg, -360.0, 360.0, " degrees");
  requireInRange("height above the ellipsoid", position.height_m, kMinFieldHeight_m,
                 kMaxFieldHeight_m, " m");
  requireInRange("decimal year", decimalYear, kMinFieldYear, kMaxFieldYear, "");
  if (precision != Precision::Double && precision != Precision::Single) {
    throw UsageError("unknown precision number " + std::to_string(static_cast<int>(precision)));
  }

  ReferenceField result;
  result.model = model;
  result.decimalYear = decimalYear;
  result.position = position;
  result.elements = precision == Precision::Double
                        ? synthesise<double>(model, position, decimalYear)
                        : synthesise<float>(model, position, decimalYear);

  char interval[64];
  std::snprintf(interval, sizeof interval, "%.1f to %.1f", info.validFrom, info.validTo);
  const std::string year = decimalYearText(decimalYear);
  result.withinValidity = decimalYear >= info.validFrom && decimalYear <= info.validTo;
  if (result.withinValidity) {
    result.validityNote =
        std::string(info.name) + " is valid from " + interval + ", which includes " + year + ".";
  } else {
    const FieldModel other =
        model == FieldModel::WMM2025 ? FieldModel::WMM2020 : FieldModel::WMM2025;
    const FieldModelInfo otherInfo = fieldModelInfo(other);
    const bool otherCovers = decimalYear >= otherInfo.validFrom && decimalYear <= otherInfo.validTo;
    result.validityNote = year + " lies outside the validity of " + info.name + " (" + interval +
                          "), so the field is extrapolated in time and loses accuracy; " +
                          (otherCovers ? std::string(otherInfo.name) + " covers this date."
                                       : std::string("neither WMM2025 nor WMM2020 covers it."));
  }
  return result;
}

double decimalYear(int year, int month, int day) {
  const int monthDays = daysInMonth(year, month);
  if (year < 1 || year > 9999 || monthDays == 0 || day < 1 || day > monthDays) {
    throw UsageError("no such date: year " + std::to_string(year) + ", month " +
                     std::to_string(month) + ", day " + std::to_string(day));
  }
  int dayOfYear = day;
  for (int m = 1; m < month; ++m) dayOfYear += daysInMonth(year, m);
  return static_cast<double>(year) +
         static_cast<double>(dayOfYear - 1) / static_cast<double>(daysInYear(year));
}

double decimalYear(const CalendarDate& date) {
  return decimalYear(date.year, date.month, date.day);
}

std::optional<CalendarDate> calendarDate(double year) {
  if (!(year >= 1.0 && year < 10000.0)) {
    return std::nullopt;
  }
  CalendarDate date;
  date.year = static_cast<int>(std::floor(year));
  long day = std::lround((year - date.year) * daysInYear(date.year)) + 1;
  while (date.month < 12 && day > daysInMonth(date.year, date.month)) {
    day -= daysInMonth(date.year, date.month);
    ++date.month;
  }
  if (day > daysInMonth(date.year, date.month)) {
    return std::nullopt;
  }
  date.day = static_cast<int>(day);
  if (decimalYear(date) != year) {
    return std::nullopt;
  }
  return date;
}

std::string dateText(const CalendarDate& date) {
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.year, date.month, date.day);
  return text;
}

std::string decimalYearText(double year) {
  std::string text = formatText("%.3f", year);
  // Rounded onto a whole year it is not, such as 2024.99999 to 2025.000, the year would read as
  // the first day of the next year: every digit is shown instead.
  if (std::strtod(text.c_str(), nullptr) == std::round(year) && std::round(year) != year) {
    return shortestText(year);
  }
  while (text.size() > 2 && text.back() == '0' && text[text.size() - 2] != '.') {
    text.pop_back();
  }
  return text;
}

CalendarDate currentDate() {
  // Days since 1970-01-01 (UTC), rounded towards the past, turned into a civil date by
  // counting 400-year eras of 146097 days from 0000-03-01, so that February ends each year.
  const long long seconds = std::chrono::duration_cast<std::chrono::seconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count();
  long long days = seconds / 86400;
  if (seconds % 86400 < 0) --days;
  const long long shifted = days + 719468;  // days from 0000-03-01 to 1970-01-01
  const long long era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
  const long long dayOfEra = shifted - era * 146097;  // [0, 146096]
  const long long yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;  // [0, 399]
  const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const long long monthIndex = (5 * dayOfYear + 2) / 153;  // 0 for March ... 11 for February
  CalendarDate date;
  date.day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  date.month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
  date.year = static_cast<int>(yearOfEra + era * 400 + (date.month <= 2 ? 1 : 0));
  return date;
}

double currentDecimalYear() {
  return decimalYear(currentDate());
}

double parseDate(const std::string& text) {
  // YYYY-MM-DD
  if (text.size() == 10 && isDigits(text, 0, 4) && text[4] == '-' && isDigits(text, 5, 2) &&
      text[7] == '-' && isDigits(text, 8, 2)) {
    try {
      return decimalYear(digitsValue(text, 0, 4), digitsValue(text, 5, 2), digitsValue(text, 8, 2));
    } catch (const UsageError&) {
      throw UsageError("no such date: " + quoted(text));
    }
  }
  // YYYY or YYYY.fraction
  const bool wholeYear = text.size() == 4 && isDigits(text, 0, 4);
  const bool fractionalYear = text.size() > 5 && isDigits(text, 0, 4) && text[4] == '.' &&
                              isDigits(text, 5, text.size() - 5);
  if (wholeYear || fractionalYear) {
    double value = 0.0;
    numparse::toDouble(text.data(), text.data() + text.size(), value);
    if (value >= 1.0) return value;
  }
  throw UsageError("not a date: " + quoted(text) +
                   ": expected YYYY-MM-DD or a decimal year such as 2026.5");
}

}  // namespace fluxtrim
