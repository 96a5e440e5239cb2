/// @file
/// The Earth's main field from the World Magnetic Model, as a reference for calibration.
#ifndef FLUXTRIM_FIELD_HPP
#define FLUXTRIM_FIELD_HPP

#include <optional>
#include <string>

namespace fluxtrim {

/// The field models, by the years they cover (distinct from the fits of calibration.hpp).
enum class FieldModel {
  WMM2025,  ///< the default; valid from 2025.0 to 2030.0
  WMM2020,  ///< valid from 2020.0 to 2025.0
};

struct FieldModelInfo {
  const char* name;  ///< "WMM2025" or "WMM2020"
  double validFrom;  ///< decimal year
  double validTo;    ///< decimal year
};
/// Name and validity of a model. Throws UsageError for a value that names no model.
FieldModelInfo fieldModelInfo(FieldModel model);

/// "wmm2025" or "wmm2020", in any case. Throws UsageError for anything else.
FieldModel parseFieldModel(const std::string& text);

/// Heights above the ellipsoid, metres, at which the model is evaluated: the range for which it
/// is published as valid. evaluateField refuses other heights rather than return a field of no
/// stated accuracy (far below the range the synthesis would reach the Earth's centre, where it
/// divides by zero).
constexpr double kMinFieldHeight_m = -1000.0;
constexpr double kMaxFieldHeight_m = 850000.0;

/// Decimal years at which the model is evaluated at all; dates outside the model's validity
/// but inside this span are evaluated with a note (see ReferenceField).
constexpr double kMinFieldYear = 1.0;
constexpr double kMaxFieldYear = 10000.0;

/// A place on the WGS-84 ellipsoid.
struct GeodeticPosition {
  double latitude_deg = 0.0;   ///< geodetic, north positive, in [-90, 90]
  double longitude_deg = 0.0;  ///< east positive, in [-360, 360] (0 to 360 and -180 to 180 alike)
  double height_m = 0.0;       ///< above the ellipsoid, in [kMinFieldHeight_m, kMaxFieldHeight_m]
};

/// The position for a person, with hemisphere letters instead of signs, every number in its
/// shortest exact form and the height above the ellipsoid last: "48.5578 N, 3.2914 E, 89 m".
std::string positionText(const GeodeticPosition& position);

/// The field at a place: components in the local north-east-down frame (down positive towards the
/// Earth's centre), nanotesla, and the angles in degrees.
struct FieldElements {
  double north_nT = 0.0;  ///< X
  double east_nT = 0.0;   ///< Y
  double down_nT = 0.0;   ///< Z
  double horizontal_nT = 0.0;
  double total_nT = 0.0;
  double inclination_deg = 0.0;  ///< positive when the field points down
  double declination_deg = 0.0;  ///< positive east of true north
};

/// How the model is evaluated. Double is accurate to the published test values (within their
/// rounding: 0.1 nT, 0.01 degree). Single is the single-precision evaluation that fluxtrim.out
/// prints, kept to reproduce its digits: the arguments rounded to float, the synthesis in float
/// with the coefficients rounded to float, and the float elements widened to double. For
/// WMM2020 at 2024.0 its north, east and down divided by 100000.0 are, to the bit, the gauss
/// reference of fluxtrim.out; it is within about 1 nT of Double. Both precisions run the same
/// synthesis code.
enum class Precision { Double, Single };

struct ReferenceField {
  FieldModel model = FieldModel::WMM2025;
  double decimalYear = 0.0;
  GeodeticPosition position;
  FieldElements elements;
  bool withinValidity = true;  ///< validFrom <= decimalYear <= validTo (both ends included)
  std::string validityNote;    ///< one sentence on the model's validity for this date; when the
                               ///< date is outside, it says so and names the model that covers it
};

/// Evaluates the model at the position and decimal year. A date outside the model's validity is
/// evaluated all the same (the secular variation extrapolated linearly) and reported through
/// withinValidity and validityNote. Throws UsageError, naming the argument and its value, for a
/// coordinate, height or year that is not finite, a latitude outside [-90, 90], a longitude
/// outside [-360, 360], a height outside [kMinFieldHeight_m, kMaxFieldHeight_m], a year outside
/// [kMinFieldYear, kMaxFieldYear], or a model or precision that is not one of the enumerators.
ReferenceField evaluateField(FieldModel model, const GeodeticPosition& position, double decimalYear,
                             Precision precision = Precision::Double);

/// A date of the Gregorian calendar.
struct CalendarDate {
  int year = 1;   ///< 1 to 9999
  int month = 1;  ///< 1 to 12
  int day = 1;    ///< 1 to the length of the month
};

/// Decimal year of a calendar date (00:00 UTC): year + (day of the year - 1) / days in the year,
/// in the Gregorian calendar. Throws UsageError for a date that does not exist or a year outside
/// 1 to 9999.
double decimalYear(int year, int month, int day);
double decimalYear(const CalendarDate& date);

/// The calendar date whose decimal year is exactly decimalYear (00:00 UTC of that date), or none
/// when the decimal year falls within a day or outside the years 1 to 9999.
std::optional<CalendarDate> calendarDate(double decimalYear);

/// "2026-12-08". Nothing is checked.
std::string dateText(const CalendarDate& date);

/// A decimal year for a person: three decimals at most (a day is 0.0027 years), trailing zeros
/// dropped but one kept: "2025.0", "2026.5", "2026.934". A year that three decimals would round
/// onto a whole year it is not is written with every digit ("2024.99999", not "2025.0"), so that
/// it is never shown in the wrong year nor on the wrong side of a model's validity. The figures
/// of programs keep the double.
std::string decimalYearText(double decimalYear);

/// Today's date (UTC), and its decimal year.
CalendarDate currentDate();
double currentDecimalYear();

/// A date as a user types it: YYYY-MM-DD, or a decimal year of four integer digits with an
/// optional fraction (2026, 2026.5), read exactly as strtod reads it. No blanks, signs or
/// exponents. Throws UsageError, quoting the text, for anything else and for dates that do not
/// exist.
double parseDate(const std::string& text);

}  // namespace fluxtrim

#endif
