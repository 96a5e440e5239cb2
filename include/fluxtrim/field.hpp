// The Earth's main field from the World Magnetic Model, as a reference for calibration.
#ifndef FLUXTRIM_FIELD_HPP
#define FLUXTRIM_FIELD_HPP

#include <string>

namespace fluxtrim {

enum class Model {
  WMM2025,  // the default; valid from 2025.0 to 2030.0
  WMM2020,  // valid from 2020.0 to 2025.0
};

struct ModelInfo {
  const char* name;  // "WMM2025" or "WMM2020"
  double validFrom;  // decimal year
  double validTo;    // decimal year
};
ModelInfo modelInfo(Model model);

// "wmm2025" or "wmm2020", in any case. Throws UsageError for anything else.
Model parseModel(const std::string& text);

// A place on the WGS-84 ellipsoid.
struct GeodeticPosition {
  double latitude_deg = 0.0;   // geodetic, north positive, in [-90, 90]
  double longitude_deg = 0.0;  // east positive
  double height_m = 0.0;       // above the ellipsoid
};

// The field at a place: components in the local north-east-down frame (down positive towards the
// Earth's centre), nanotesla, and the angles in degrees.
struct FieldElements {
  double north_nT = 0.0;  // X
  double east_nT = 0.0;   // Y
  double down_nT = 0.0;   // Z
  double horizontal_nT = 0.0;
  double total_nT = 0.0;
  double inclination_deg = 0.0;  // positive when the field points down
  double declination_deg = 0.0;  // positive east of true north
};

// How the model is evaluated. Double is accurate to the published test values; Single is the
// single-precision evaluation that fluxtrim.out prints, kept to reproduce its digits.
enum class Precision { Double, Single };

struct ReferenceField {
  Model model = Model::WMM2025;
  double decimalYear = 0.0;
  GeodeticPosition position;
  FieldElements elements;
  bool withinValidity = true;  // decimalYear lies in the model's validity interval
  std::string validityNote;    // one sentence on the model's validity for this date
};

// Evaluates the model at the position and decimal year. A date outside the model's validity is
// evaluated all the same and reported through withinValidity and validityNote. Throws UsageError
// for a latitude outside [-90, 90] or a coordinate, height or year that is not finite.
ReferenceField evaluateField(Model model, const GeodeticPosition& position, double decimalYear,
                             Precision precision = Precision::Double);

// Decimal year of a calendar date (00:00 UTC): year + (day of the year - 1) / days in the year.
// Throws UsageError for a date that does not exist.
double decimalYear(int year, int month, int day);

// Decimal year of today's date (UTC).
double currentDecimalYear();

// A date as a user types it: YYYY-MM-DD or a decimal year such as 2026.5. Throws UsageError for
// anything else.
double parseDate(const std::string& text);

}  // namespace fluxtrim

#endif
