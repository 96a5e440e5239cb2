// The library's reference field: the double synthesis against the published test values, the
// single one against fluxtrim.out's reference, argument checks, and dates.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "FERROKIT.hpp"
#include "fluxtrim/error.hpp"
#include "fluxtrim/field.hpp"

namespace {

using fluxtrim::FieldModel;
using fluxtrim::GeodeticPosition;
using fluxtrim::Precision;

// Every row of the published WMM2025 test values: year, height (km), latitude, longitude, then
// X, Y, Z, H, F (nT) and I, D (degrees). Each published value is rounded to 0.1 nT or 0.01
// degree at most, so a correct synthesis stays within those. The single-precision evaluation
// of the same model stays within 1 nT, which ties its float coefficient table to the same truth.
TEST(Field, DoubleMatchesEveryPublishedTestValue) {
  std::ifstream file(std::string(FLUXTRIM_SOURCE_DIR) + "/tests/data/WMM2025_TEST_VALUES.csv");
  std::string line;
  ASSERT_TRUE(std::getline(file, line));  // header
  int rows = 0;
  while (std::getline(file, line)) {
    std::replace(line.begin(), line.end(), ',', ' ');
    std::istringstream fields(line);
    double year, height_km, v[9];
    fields >> year >> height_km;
    for (double& value : v) fields >> value;
    ASSERT_FALSE(fields.fail()) << line;
    const GeodeticPosition place{v[0], v[1], height_km * 1000.0};
    const fluxtrim::ReferenceField r = fluxtrim::evaluateField(FieldModel::WMM2025, place, year);
    const fluxtrim::FieldElements& e = r.elements;
    SCOPED_TRACE(line);
    EXPECT_TRUE(r.withinValidity);
    const double got[7] = {e.north_nT, e.east_nT,         e.down_nT,        e.horizontal_nT,
                           e.total_nT, e.inclination_deg, e.declination_deg};
    for (int k = 0; k < 7; ++k) EXPECT_NEAR(got[k], v[k + 2], k < 5 ? 0.1 : 0.01) << k;
    const fluxtrim::FieldElements s =
        fluxtrim::evaluateField(FieldModel::WMM2025, place, year, Precision::Single).elements;
    EXPECT_NEAR(s.north_nT, e.north_nT, 1.0);
    EXPECT_NEAR(s.east_nT, e.east_nT, 1.0);
    EXPECT_NEAR(s.down_nT, e.down_nT, 1.0);
    ++rows;
  }
  EXPECT_EQ(rows, 112);
}

// WMM2020 has no published values here; its double table must agree with the float one, which
// the reference field tests tie to the coefficient file. A transposed, mis-signed or
// mis-normalised double coefficient shows as more than a nanotesla somewhere on this grid.
TEST(Field, DoubleAndSingleAgreeForWmm2020) {
  double worst = 0.0;
  for (double lat = -90.0; lat <= 90.0; lat += 15.0) {
    for (double lon = -180.0; lon < 180.0; lon += 30.0) {
      for (double height : {0.0, 400000.0}) {
        const GeodeticPosition place{lat, lon, height};
        const auto d = fluxtrim::evaluateField(FieldModel::WMM2020, place, 2022.5).elements;
        const auto s =
            fluxtrim::evaluateField(FieldModel::WMM2020, place, 2022.5, Precision::Single).elements;
        for (double diff : {d.north_nT - s.north_nT, d.east_nT - s.east_nT, d.down_nT - s.down_nT})
          worst = std::max(worst, std::fabs(diff));
      }
    }
  }
  EXPECT_LT(worst, 1.0);
}

// fluxtrim.out's gauss reference is the float field widened and divided by 100000; the single
// evaluation must give those doubles to the bit.
TEST(Field, SingleIsTheReferenceOfTheTool) {
  const double pi = 3.141592653589793;
  const GeodeticPosition places[] = {{48.5578, 3.2914, 89.0}, {-33.9, 151.2, 0.0}, {0, 0, 0}};
  for (const GeodeticPosition& place : places) {
    FERROKIT tool;
    tool.magCalibration(place.latitude_deg, place.longitude_deg, place.height_m, 0.2);
    const FERROKIT::MAGRESULT& r = tool.getMagCalibResult();
    const fluxtrim::ReferenceField f =
        fluxtrim::evaluateField(FieldModel::WMM2020, place, 2024.0, Precision::Single);
    EXPECT_EQ(f.elements.north_nT / 100000.0, r.WMMRef[0]);
    EXPECT_EQ(f.elements.east_nT / 100000.0, r.WMMRef[1]);
    EXPECT_EQ(f.elements.down_nT / 100000.0, r.WMMRef[2]);
    EXPECT_EQ(f.elements.inclination_deg * pi / 180.0, r.inclination);
    EXPECT_EQ(f.elements.declination_deg * pi / 180.0, r.declination);
    EXPECT_TRUE(f.withinValidity);
  }
}

TEST(Field, ArgumentsOutsideTheirDomainAreRefused) {
  const double nan = std::nan(""), inf = HUGE_VAL;
  const GeodeticPosition bad[] = {
      {90.000001, 0, 0}, {-90.5, 0, 0}, {nan, 0, 0},    {0, inf, 0},        {0, 360.5, 0},
      {0, 0, nan},       {0, 0, -1001}, {0, 0, 850001}, {0, 0, -6378137.0},
  };
  for (const GeodeticPosition& place : bad) {
    EXPECT_THROW(fluxtrim::evaluateField(FieldModel::WMM2025, place, 2026.0), fluxtrim::UsageError)
        << place.latitude_deg << " " << place.longitude_deg << " " << place.height_m;
  }
  for (double year : {nan, -inf, 0.5, 10000.5}) {
    EXPECT_THROW(fluxtrim::evaluateField(FieldModel::WMM2025, {}, year), fluxtrim::UsageError);
  }
  // The edges themselves are evaluated, poles and both longitude conventions included.
  const GeodeticPosition edges[] = {{90, 0, -1000}, {-90, -360, 850000}, {0, 360, 0}};
  for (const GeodeticPosition& place : edges) {
    const auto e = fluxtrim::evaluateField(FieldModel::WMM2025, place, 2026.0).elements;
    EXPECT_TRUE(std::isfinite(e.total_nT) && e.total_nT > 10000.0);
  }
}

// A date outside the validity is still evaluated, with a note that says so and names the model
// that covers it; both ends of the interval are inside.
TEST(Field, ValidityOfTheDate) {
  const GeodeticPosition place{48.5578, 3.2914, 89.0};
  const auto late = fluxtrim::evaluateField(FieldModel::WMM2020, place, 2026.0);
  EXPECT_FALSE(late.withinValidity);
  EXPECT_NE(late.validityNote.find("outside"), std::string::npos);
  EXPECT_NE(late.validityNote.find("WMM2025 covers"), std::string::npos);
  EXPECT_GT(late.elements.total_nT, 40000.0);
  for (double year : {2024.99, 2025.0, 2030.0, 2030.01}) {
    const auto r = fluxtrim::evaluateField(FieldModel::WMM2025, place, year);
    EXPECT_EQ(r.withinValidity, year >= 2025.0 && year <= 2030.0) << year;
    EXPECT_EQ(r.validityNote.find("outside") == std::string::npos, r.withinValidity) << year;
  }
  // A year just outside is never rounded onto the bound it lies beyond: 2024.99999 was shown as
  // "2025.0 lies outside ... 2025.0 to 2030.0".
  EXPECT_EQ(fluxtrim::evaluateField(FieldModel::WMM2025, place, 2024.99999)
                .validityNote.rfind("2024.99999 lies outside", 0),
            0u);
  EXPECT_EQ(fluxtrim::evaluateField(FieldModel::WMM2025, place, 2030.0004)
                .validityNote.rfind("2030.0004 lies outside", 0),
            0u);
}

TEST(Field, ModelsByName) {
  EXPECT_EQ(fluxtrim::parseFieldModel("wmm2025"), FieldModel::WMM2025);
  EXPECT_EQ(fluxtrim::parseFieldModel("WMM2020"), FieldModel::WMM2020);
  for (const char* text : {"", "wmm2021", "wmm 2025", "wmm2025 "}) {
    EXPECT_THROW(fluxtrim::parseFieldModel(text), fluxtrim::UsageError) << text;
  }
  const fluxtrim::FieldModelInfo info = fluxtrim::fieldModelInfo(FieldModel::WMM2020);
  EXPECT_STREQ(info.name, "WMM2020");
  EXPECT_EQ(info.validFrom, 2020.0);
  EXPECT_EQ(info.validTo, 2025.0);
}

// Leap years (every fourth, not centuries unless divisible by 400), the last day of a year,
// and the two forms a user types.
TEST(Field, Dates) {
  EXPECT_EQ(fluxtrim::decimalYear(2024, 1, 1), 2024.0);
  EXPECT_EQ(fluxtrim::decimalYear(2024, 3, 1), 2024.0 + 60.0 / 366.0);
  EXPECT_EQ(fluxtrim::decimalYear(2025, 12, 31), 2025.0 + 364.0 / 365.0);
  EXPECT_EQ(fluxtrim::decimalYear(2000, 2, 29), 2000.0 + 59.0 / 366.0);
  const int noSuchDate[][3] = {{1900, 2, 29}, {2023, 2, 29}, {2025, 13, 1},
                               {2025, 4, 31}, {2025, 1, 0},  {0, 1, 1}};
  for (const auto& d : noSuchDate) {
    EXPECT_THROW(fluxtrim::decimalYear(d[0], d[1], d[2]), fluxtrim::UsageError);
  }

  EXPECT_EQ(fluxtrim::parseDate("2026-07-02"), fluxtrim::decimalYear(2026, 7, 2));
  EXPECT_EQ(fluxtrim::parseDate("2026.5"), 2026.5);
  EXPECT_EQ(fluxtrim::parseDate("2026.1"), 2026.1);  // as strtod reads it
  for (const char* text : {"", "2026-7-2", "2026-02-30", "26.5", "2026.", "2026.5x", " 2026",
                           "-2026", "2026e0", "nan", "0000", "2026/07/02"}) {
    EXPECT_THROW(fluxtrim::parseDate(text), fluxtrim::UsageError) << text;
  }

  // Today's date from the C library (skipped if the day changes in between).
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  const double today = fluxtrim::currentDecimalYear();
  if (std::time(nullptr) / 86400 != now / 86400) GTEST_SKIP() << "the day changed";
  EXPECT_EQ(today, fluxtrim::decimalYear(utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday));
}

// Every day of a common year, a leap year and the century years either side of the rule reads
// back from its decimal year, and a time within a day is no date. Catches an off-by-one in the
// day of the year, the leap rule broken for 1900 or 2000, and a date rounded from a fraction.
TEST(Field, CalendarDatesReadBackFromTheirDecimalYears) {
  for (int year : {1900, 2000, 2023, 2024}) {
    int days = 0;
    for (int month = 1; month <= 12; ++month) {
      for (int day = 1; day <= 31; ++day) {
        double decimal = 0.0;
        try {
          decimal = fluxtrim::decimalYear(year, month, day);
        } catch (const fluxtrim::UsageError&) {
          continue;
        }
        ++days;
        const std::optional<fluxtrim::CalendarDate> date = fluxtrim::calendarDate(decimal);
        ASSERT_TRUE(date.has_value()) << year << "-" << month << "-" << day;
        EXPECT_EQ(date->year * 10000 + date->month * 100 + date->day,
                  year * 10000 + month * 100 + day);
        EXPECT_FALSE(fluxtrim::calendarDate(decimal + 0.5 / 366.0).has_value()) << decimal;
      }
    }
    EXPECT_EQ(days, year % 4 == 0 && year != 1900 ? 366 : 365) << year;
  }
  for (double notADate : {0.5, 10000.0, std::nan("")}) {
    EXPECT_FALSE(fluxtrim::calendarDate(notADate).has_value()) << notADate;
  }
  EXPECT_EQ(fluxtrim::dateText({2026, 12, 8}), "2026-12-08");
  EXPECT_EQ(fluxtrim::decimalYearText(2025.0), "2025.0");
  EXPECT_EQ(fluxtrim::decimalYearText(2026.5), "2026.5");
  EXPECT_EQ(fluxtrim::decimalYearText(fluxtrim::decimalYear(2026, 12, 8)), "2026.934");
  EXPECT_EQ(fluxtrim::decimalYearText(2026.99981), "2026.99981");  // not the next year's 2027.0
  EXPECT_EQ(fluxtrim::positionText({-33.5, 151.25, -12.0}), "33.5 S, 151.25 E, -12 m");
  EXPECT_EQ(fluxtrim::positionText({48.5578, -3.2914, 89.0}), "48.5578 N, 3.2914 W, 89 m");
}

}  // namespace
