// Tests of reading the recordings hobbyists' loggers really write: the magnetometer's columns
// named, known or asked for, never guessed; the kinds of line of a serial log told apart; the unit
// the recording states; the accelerometer beside the magnetometer; inputs that are no text.
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fluxtrim/error.hpp"
#include "fluxtrim/samples.hpp"
#include "logger_layouts.h"

namespace {

using fluxtrim::AmbiguousInput;
using fluxtrim::ReadOptions;
using fluxtrim::SampleSet;
using fluxtrim::Unit;
using fluxtrim::UnitSource;
using fluxtrim::Vec3;
using logger_layouts::Row;

SampleSet readText(const std::string& text, const ReadOptions& options = {}) {
  std::istringstream in(text);
  return fluxtrim::readSamples(in, options, "log.txt");
}

AmbiguousInput ambiguityOf(const std::string& text, const ReadOptions& options = {}) {
  try {
    readText(text, options);
  } catch (const AmbiguousInput& error) {
    return error;
  }
  ADD_FAILURE() << "read without asking:\n" << text.substr(0, 300);
  return AmbiguousInput("", "", {}, {});
}

void expectNear(const Vec3& got, const Vec3& want, double tolerance, const std::string& what) {
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(got[k], want[k], tolerance) << what << " axis " << k;
}

// Every line is counted in exactly one class.
void expectLinesAddUp(const fluxtrim::ReadSummary& s) {
  EXPECT_EQ(s.lines, s.headerLines + s.commentLines + s.blankLines + s.sampleLines +
                         s.skippedLines + s.leftOutLines);
}

const std::vector<Row>& rows() {
  static const std::vector<Row> rows = logger_layouts::tumbledRows();
  return rows;
}

// Each layout gives the magnetometer's samples of every row, in the unit it states or, where it
// states none, in gauss assumed. Catches the accelerometer (or a time column) fitted in the
// magnetometer's place, the Raw: layout read in the wrong unit, the phone's z, y, x taken as
// x, y, z, and the lines of another sensor read into the same series.
TEST(LoggerLayoutTest, EachLayoutGivesTheMagnetometerInItsUnit) {
  struct Case {
    const char* name;
    std::string text;
    std::array<int, 3> columns;
    Unit unit;
    UnitSource source;
    double tolerance;  // of the written values
    std::size_t leftOut;
    double scale = 1.0;  // of the values written, in microtesla
  };
  const std::size_t n = rows().size();
  const Case cases[] = {
      {"Raw: lines",
       logger_layouts::rawWithBanner(rows()),
       {{6, 7, 8}},
       Unit::Microtesla,
       UnitSource::Detected,
       0.05 + 1e-9,
       0},
      {"Accel and Mag lines",
       logger_layouts::alternatingSerial(rows()),
       {{2, 4, 6}},
       Unit::Microtesla,
       UnitSource::Detected,
       5e-4,
       n},
      {"Raw: and Uni: lines",
       logger_layouts::rawAndUni(rows()),
       {{6, 7, 8}},
       Unit::Microtesla,
       UnitSource::Detected,
       0.05 + 1e-9,
       n},
      {"phone export",
       logger_layouts::phoneExport(rows()),
       {{4, 3, 2}},
       Unit::Gauss,
       UnitSource::Default,
       5e-5,
       0},
      {"named with units",
       logger_layouts::namedWithUnits(rows()),
       {{4, 5, 6}},
       Unit::Microtesla,
       UnitSource::Header,
       5e-4,
       0},
      // Lines that name their values: the columns are the values' places in the first line.
      {"tab-separated labels",
       logger_layouts::tabLabelled(rows()),
       {{0, 1, 2}},
       Unit::Microtesla,
       UnitSource::Detected,
       5e-4,
       0},
      {"key=value pairs",
       logger_layouts::keyValuePairs(rows()),
       {{8, 9, 7}},
       Unit::Gauss,
       UnitSource::Default,
       5e-4,
       0},
      {"grouped sensors",
       logger_layouts::groupedSensors(rows()),
       {{6, 7, 8}},
       Unit::Microtesla,
       UnitSource::Detected,
       5e-4,
       0},
      {"JSON lines",
       logger_layouts::jsonLines(rows()),
       {{4, 5, 6}},
       Unit::Microtesla,
       UnitSource::Detected,
       5e-4,
       0},
      {"time-stamped CSV",
       logger_layouts::stampedCsv(rows()),
       {{0, 1, 2}},
       Unit::Gauss,
       UnitSource::Default,
       5e-4,
       0},
      {"unit after each value",
       logger_layouts::unitEach(rows()),
       {{0, 1, 2}},
       Unit::Microtesla,
       UnitSource::Detected,
       5e-4,
       0},
      {"MagneticField export in tesla",
       logger_layouts::magneticFieldExport(rows()),
       {{4, 5, 6}},
       Unit::Tesla,
       UnitSource::Detected,
       1e-12,
       0,
       1e-6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const SampleSet set = readText(c.text);
    EXPECT_EQ(set.summary.columns, c.columns) << set.summary.columnRule;
    EXPECT_EQ(set.unit.unit, c.unit);
    EXPECT_EQ(set.unitSource, c.source);
    EXPECT_EQ(set.unitGiven, c.source != UnitSource::Default);
    ASSERT_EQ(set.values.size(), n);
    for (std::size_t k = 0; k < n; k += 37) {
      const Vec3& uT = rows()[k].mag_uT;
      expectNear(set.values[k], {{c.scale * uT[0], c.scale * uT[1], c.scale * uT[2]}}, c.tolerance,
                 "row " + std::to_string(k));
    }
    EXPECT_EQ(set.summary.leftOutLines, c.leftOut);
    EXPECT_EQ(set.summary.skippedLines, 0u);
    expectLinesAddUp(set.summary);
  }

  // The banner before the Raw: lines is its header; the interleaved kinds are counted apart.
  EXPECT_EQ(readText(logger_layouts::rawWithBanner(rows())).summary.headerLines, 2u);
  const fluxtrim::ReadSummary serial = readText(logger_layouts::alternatingSerial(rows())).summary;
  ASSERT_EQ(serial.kinds.size(), 2u);
  EXPECT_EQ(serial.kinds[0].sensor, fluxtrim::Sensor::Accelerometer);
  EXPECT_EQ(fluxtrim::lineKindsText(serial), std::to_string(n) +
                                                 " 'Accel' lines (m/s^2) left out, " +
                                                 std::to_string(n) + " 'Mag' lines (uT) kept");

  // Raw counts and a time stamp before the three axes: read as they are, the unit assumed.
  const SampleSet counts = readText(logger_layouts::sensorCounts(rows()));
  EXPECT_EQ(counts.summary.columns, (std::array<int, 3>{{0, 1, 2}}));
  EXPECT_EQ(counts.unitSource, UnitSource::Default);
  const SampleSet serialMonitor = readText(
      "12:00:01.125 -> Mag X: 1.5 Y: 2 Z: 3 uT\n"
      "12:00:01.145 -> Accel X: 0 Y: 0 Z: 9.8 m/s^2\n"
      "12:00:01.165 -> Mag X: 4 Y: 5 Z: 6 uT\n");
  EXPECT_EQ(serialMonitor.values, (std::vector<Vec3>{{1.5, 2, 3}, {4, 5, 6}}));
}

// Each way a serial monitor, a logging library or an app writes one sample gives its three
// values, in the unit written beside them. Catches a time stamp, a tick count or another sensor's
// group read as an axis, named values taken by their place instead of their name, and a unit word
// missed (the values then taken for gauss).
TEST(LoggerLayoutTest, EachWrittenFormGivesItsThreeValues) {
  struct Case {
    const char* line;  // one sample, 1.5, -2 and 40.25 in its unit
    Unit unit;
    UnitSource source;
  };
  const UnitSource detected = UnitSource::Detected;
  const UnitSource assumed = UnitSource::Default;
  const Case cases[] = {
      {"X: 1.5 \tY: -2 \tZ: 40.25 uTesla", Unit::Microtesla, detected},
      {"X: 1.5  Y: -2  Z: 40.25 uTesla", Unit::Microtesla, detected},
      {"mx:1.5,my:-2,mz:40.25", Unit::Gauss, assumed},
      {"mz=40.25 mx=1.5 my=-2", Unit::Gauss, assumed},
      {"Mag: x=1.5 y=-2 z=40.25", Unit::Gauss, assumed},
      {"MAG | 1.5 | -2 | 40.25", Unit::Gauss, assumed},
      {"accX:0.1 accY:0.2 accZ:9.8 magX:1.5 magY:-2 magZ:40.25", Unit::Gauss, assumed},
      {"Mag (uT) [ 1.5, -2, 40.25 ]", Unit::Microtesla, detected},
      {"mag: (1.5, -2, 40.25)", Unit::Gauss, assumed},
      {"{1.5, -2, 40.25}", Unit::Gauss, assumed},
      {"acc: [0.1, 0.2, 9.8] gyro: [3, 4, 5] mag: [1.5, -2, 40.25]", Unit::Gauss, assumed},
      {R"({"mx": 1.5, "my": -2, "mz": 40.25})", Unit::Gauss, assumed},
      {R"({"t": 7, "mag": {"x": 1.5, "y": -2, "z": 40.25}})", Unit::Gauss, assumed},
      {R"({"mag": [1.5, -2, 40.25], "unit": "nT"})", Unit::Nanotesla, detected},
      {"14:32:05.123 -> 1.5,-2,40.25", Unit::Gauss, assumed},
      {"[12345] 1.5,-2,40.25", Unit::Gauss, assumed},
      {"I (1234) mag: 1.5, -2, 40.25", Unit::Gauss, assumed},
      {"1.5,-2,40.25 uT", Unit::Microtesla, detected},
      {"1.5 uT, -2 uT, 40.25 uT", Unit::Microtesla, detected},
      {"Mag: 1.5 -2 40.25 \xC2\xB5T", Unit::Microtesla, detected},
      {"Mag: 1.5 -2 40.25 \xCE\xBCT", Unit::Microtesla, detected},
      {"Mag: 1.5 -2 40.25 microtesla", Unit::Microtesla, detected},
      {"Mag: 1.5 -2 40.25 micro-tesla", Unit::Microtesla, detected},
      {"Mag: 1.5 -2 40.25 nanotesla", Unit::Nanotesla, detected},
      {"Mag: 1.5 -2 40.25 mG", Unit::Milligauss, detected},
      {"Mag: 1.5 -2 40.25 milligauss", Unit::Milligauss, detected},
      {"Mag: 1.5 -2 40.25 Gauss", Unit::Gauss, detected},
      {"Mag: 1.5 -2 40.25 Ga", Unit::Gauss, detected},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::string text;
    for (int k = 0; k < 3; ++k) text.append(c.line).append("\n");
    const SampleSet set = readText(text);
    ASSERT_EQ(set.values.size(), 3u) << fluxtrim::noSamplesText(set);
    EXPECT_EQ(set.values[2], (Vec3{{1.5, -2, 40.25}})) << fluxtrim::readChoiceText(set);
    EXPECT_EQ(set.unit.unit, c.unit);
    EXPECT_EQ(set.unitSource, c.source);
  }
  // The text says what was read: the values by their names, the unit and where it came from.
  EXPECT_EQ(fluxtrim::readChoiceText(readText("mz=3 mx=1 my=2 uT\nmz=3 mx=1 my=2 uT\n")),
            "the values labelled 'mx', 'my', 'mz'; microtesla, written in the lines");
  // A line of the kept kind without the values is skipped and listed, not read as zeros.
  const SampleSet status = readText(
      "{\"mx\": 1, \"my\": 2, \"mz\": 3}\n{\"event\": 4}\n{\"mx\": NaN, \"my\": 2, \"mz\": 3}\n");
  EXPECT_EQ(status.values.size(), 1u);
  using fluxtrim::LineProblem;
  const auto& problems = status.summary.skippedByProblem;
  EXPECT_EQ(problems[static_cast<std::size_t>(LineProblem::TooFewCells)], 1u);
  EXPECT_EQ(problems[static_cast<std::size_t>(LineProblem::NotFinite)], 1u);
  expectLinesAddUp(status.summary);

  // Hostile lines, deeply nested or with a long name before many numbers, are passed over
  // without holding the name once per number (5 GB here).
  std::string hostile =
      "mag: [1, 2, 3]\n" + std::string(100000, '[') + "\n{\"" + std::string(100000, 'm') + "\": [";
  for (int k = 0; k < 50000; ++k) hostile += "1,";
  hostile += "]}\nmag: [4, 5, 6]\n";
  const SampleSet survived = readText(hostile);
  EXPECT_EQ(survived.values, (std::vector<Vec3>{{1, 2, 3}, {4, 5, 6}}));
  expectLinesAddUp(survived.summary);

  // A spreadsheet's sep= line, quoted names and a byte order mark.
  for (const std::string& text :
       {std::string("sep=;\n\"mag_x\";\"mag_y\";\"mag_z\"\n1.5;-2;40.25\n"),
        std::string("sep=,\nmag_x,mag_y,mag_z\n1.5,-2,40.25\n"),
        std::string("\xEF\xBB\xBF\"mag_x\",\"mag_y\",\"mag_z\"\n\"1.5\",\"-2\",\"40.25\"\n")}) {
    const SampleSet set = readText(text);
    ASSERT_EQ(set.values.size(), 1u) << text;
    EXPECT_EQ(set.values[0], (Vec3{{1.5, -2, 40.25}})) << text;
    EXPECT_EQ(set.summary.skippedLines, 0u) << text;
  }
}

// Lines that hold no magnetometer's values give none, and say why: another sensor's groups, and
// values in lower-case mg, which is milli-g (an accelerometer's), unless the unit is given as
// milligauss. Catches an accelerometer read as a magnetometer for its three values.
TEST(LoggerLayoutTest, OtherSensorsAndMilliGAreNotTheMagnetometer) {
  for (const std::string line : {"acc: [0.1, 0.2, 9.8] gyro: [3, 4, 5]", "Accel: x=1 y=2 z=3",
                                 "ax=1,ay=2,az=3,temp=20", "12 -3 980 mg"}) {
    const SampleSet set = readText(std::string(line).append("\n").append(line).append("\n"));
    EXPECT_TRUE(set.values.empty()) << line << ": " << fluxtrim::readChoiceText(set);
  }
  const std::string milliG = "10 -20 990 mg\n12 -21 985 mg\n";
  const SampleSet none = readText(milliG);
  ASSERT_EQ(none.summary.warnings.size(), 1u);
  EXPECT_NE(fluxtrim::noSamplesText(none).find("milli-g"), std::string::npos);
  ReadOptions milligauss;
  milligauss.unit = fluxtrim::SampleUnit{Unit::Milligauss};
  EXPECT_EQ(readText(milliG, milligauss).values.size(), 2u);
  EXPECT_TRUE(readText("Acc: 10 -20 990 mg\nAcc: 1 2 3 mg\n", milligauss).values.empty());

  // The counts of the message agree with their nouns.
  ReadOptions noHeader;
  noHeader.header = fluxtrim::HeaderMode::Absent;
  EXPECT_EQ(fluxtrim::noSamplesText(readText("1,2\n", noHeader)), "1 line, not a sample");
  EXPECT_EQ(fluxtrim::noSamplesText(readText("x,y,z\n1,2\n")), "2 lines, 1 of them not a sample");
  EXPECT_EQ(fluxtrim::noSamplesText(readText("Accel: 1 2 3 m/s^2\n")),
            "1 line; 1 'Accel' line (m/s^2) left out");
}

// Where nothing names the magnetometer among more than three numeric columns, or several kinds
// of line could hold it, the reader asks instead of taking the first three: the fault was a
// headerless nine-axis log whose accelerometer was fitted. A column that never changes, and a
// time stamp, are no magnetometer axis.
TEST(LoggerLayoutTest, AsksWhenNothingNamesTheMagnetometer) {
  const AmbiguousInput imu = ambiguityOf(logger_layouts::headerlessImu(rows()));
  EXPECT_EQ(imu.source(), "'log.txt'");
  ASSERT_EQ(imu.columns().size(), 10u);
  EXPECT_TRUE(imu.columns()[0].time);
  EXPECT_FALSE(imu.columns()[7].time);
  double low = 1e300;
  double high = -1e300;
  for (std::size_t k = 0; k < 256; ++k) {  // the first lines
    low = std::fmin(low, rows()[k].mag_uT[0]);
    high = std::fmax(high, rows()[k].mag_uT[0]);
  }
  EXPECT_NEAR(imu.columns()[7].min, low, 5e-4);
  EXPECT_NEAR(imu.columns()[7].max, high, 5e-4);
  EXPECT_NE(std::string(imu.what()).find("column 8 "), std::string::npos) << imu.what();

  std::string counterAndConstants;  // a counter, then four columns that never change
  std::string notRising;            // four numbers, the first not a counter
  for (int k = 0; k < 10; ++k) {
    counterAndConstants += std::to_string(100 + k) + ",0.1,0.2,0.3,0.4\n";
    notRising += std::to_string(k % 3) + ",0.1,0.2," + std::to_string(k) + "\n";
  }
  for (const std::string& text :
       {counterAndConstants, notRising, std::string("seq,time,a,b,c,d\n1,0.5,1,2,3,4\n")}) {
    EXPECT_FALSE(ambiguityOf(text).columns().empty()) << text;
  }
  // With the constant and time columns set aside, three are left: those.
  std::string constants;
  for (int k = 0; k < 10; ++k) {
    constants += std::to_string(20 * k) + ",25.0," + std::to_string(k) + ",-" + std::to_string(k) +
                 "," + std::to_string(k * k) + ",0\n";
  }
  EXPECT_EQ(readText(constants).summary.columns, (std::array<int, 3>{{2, 3, 4}}));
  ReadOptions given;
  given.columnIndices = {7, 8, 9};
  EXPECT_EQ(readText(logger_layouts::headerlessImu(rows()), given).values.size(), rows().size());

  // Two kinds that name a magnetometer, or two that name nothing: which? --match answers.
  const std::string twoMagnetometers = "Mag: 1 2 3 uT\nCompass: 4 5 6\nMag: 1 2 3 uT\n";
  const std::string twoUnnamed = "Left: 1 2 3\nRight: 4 5 6\nLeft: 7 8 9\n";
  for (const std::string& text : {twoMagnetometers, twoUnnamed}) {
    const AmbiguousInput kinds = ambiguityOf(text);
    ASSERT_EQ(kinds.kinds().size(), 2u) << text;
    EXPECT_EQ(kinds.kinds()[0].lines, 2u) << text;
    EXPECT_TRUE(kinds.columns().empty());
  }
  ReadOptions match;
  match.match = "Left";
  const SampleSet left = readText(twoUnnamed, match);
  EXPECT_EQ(left.values, (std::vector<Vec3>{{1, 2, 3}, {7, 8, 9}}));
  EXPECT_EQ(left.summary.leftOutLines, 1u);
  expectLinesAddUp(left.summary);
}

// Lines left out by kind are counted by kind and never fail the input as skipped lines do; a kind
// first met after the first lines is left out too, while a plain line that holds no sample stays
// a skipped line. An input of another sensor alone gives no sample and says why.
TEST(LoggerLayoutTest, LinesOfOtherKindsAreLeftOutAndCounted) {
  std::string text = logger_layouts::alternatingSerial(rows());
  text += "Gyro X: 0.5 Y: 0.25 Z: 0 dps\ncalibrating...\nMag X: 1 Y: 2 Z: 3 uT\n";
  const SampleSet set = readText(text);
  const fluxtrim::ReadSummary& s = set.summary;
  EXPECT_EQ(set.values.back(), (Vec3{{1, 2, 3}}));
  ASSERT_EQ(s.kinds.size(), 3u);
  EXPECT_EQ(s.kinds[2].label, "Gyro");
  EXPECT_EQ(s.kinds[2].sensor, fluxtrim::Sensor::Other);
  EXPECT_EQ(s.kinds[2].lines, 1u);
  EXPECT_EQ(s.leftOutLines, rows().size() + 1);
  EXPECT_EQ(s.skippedLines, 1u);
  ASSERT_EQ(s.skipped.size(), 1u);
  EXPECT_EQ(s.skipped[0].text, "calibrating...");
  expectLinesAddUp(s);

  // A text column of single letters labels nothing: every line is read.
  EXPECT_EQ(readText("A,1,2,3\nB,4,5,6\nM,7,8,9\n").values.size(), 3u);

  std::string accelerometer;
  for (int k = 0; k < 5; ++k) accelerometer += "Accel X: 0.1 Y: 0.2 Z: 9.8 m/s^2\n";
  const SampleSet none = readText(accelerometer);
  EXPECT_TRUE(none.values.empty());
  EXPECT_EQ(none.summary.leftOutLines, 5u);
  EXPECT_NE(fluxtrim::noSamplesText(none).find("5 'Accel' lines (m/s^2) left out"),
            std::string::npos)
      << fluxtrim::noSamplesText(none);
}

// A unit the recording states is used and said to come from it; a unit given wins, and a given
// unit that differs from the stated one is said in a warning, not silently ignored. Catches a
// Raw: log taken in microtesla as written (ten times too large) or divided when the unit is
// given for the values as written.
TEST(LoggerLayoutTest, UnitStatedGivenOrAssumed) {
  const std::string header = "mag_x_uT,mag_y_uT,mag_z_uT\n1,2,3\n";
  const SampleSet stated = readText(header);
  EXPECT_EQ(stated.unit.unit, Unit::Microtesla);
  EXPECT_EQ(stated.unitSource, UnitSource::Header);
  EXPECT_EQ(fluxtrim::readChoiceText(stated),
            "columns 1 to 3, named 'mag_x_uT', 'mag_y_uT', 'mag_z_uT'; microtesla, from the "
            "header");
  EXPECT_TRUE(stated.summary.warnings.empty());

  ReadOptions gauss;
  gauss.unit = fluxtrim::SampleUnit{Unit::Gauss};
  const SampleSet given = readText(header, gauss);
  EXPECT_EQ(given.unit.unit, Unit::Gauss);
  EXPECT_EQ(given.unitSource, UnitSource::Given);
  ASSERT_EQ(given.summary.warnings.size(), 1u);
  EXPECT_NE(given.summary.warnings[0].find("given as gauss, but the input states microtesla"),
            std::string::npos)
      << given.summary.warnings[0];

  // Raw: values are tenths of a microtesla: divided by 10 for microtesla, as written when the
  // unit is given (and then said to differ when it is not milligauss, their unit as written).
  const std::string raw = "Raw:0,0,8192,0,0,0,-305,126,374\nRaw:0,0,8192,0,0,0,101,-22,402\n";
  EXPECT_EQ(readText(raw).values[0], (Vec3{{-30.5, 12.6, 37.4}}));
  ReadOptions milligauss;
  milligauss.unit = fluxtrim::SampleUnit{Unit::Milligauss};
  const SampleSet asWritten = readText(raw, milligauss);
  EXPECT_EQ(asWritten.values[0], (Vec3{{-305, 126, 374}}));
  EXPECT_TRUE(asWritten.summary.warnings.empty());
  ReadOptions microtesla;
  microtesla.unit = fluxtrim::SampleUnit{Unit::Microtesla};
  EXPECT_EQ(readText(raw, microtesla).summary.warnings.size(), 1u);

  // Columns in different units state none; an assumed unit stands in for gauss only then.
  ReadOptions assumed;
  assumed.assumedUnit = fluxtrim::SampleUnit{Unit::Milligauss};
  const SampleSet mixed = readText("Bx (uT),By (uT),Bz (mG)\n1,2,3\n", assumed);
  EXPECT_EQ(mixed.unit.unit, Unit::Milligauss);
  EXPECT_EQ(mixed.unitSource, UnitSource::Default);
  EXPECT_FALSE(mixed.unitGiven);
  EXPECT_EQ(readText(header, assumed).unit.unit, Unit::Microtesla);
}

// The accelerometer's samples come with the magnetometer's, one per sample row and of the same
// line, NaN where a cell does not convert; given columns may not be the magnetometer's.
TEST(LoggerLayoutTest, AccelerometerBesideTheMagnetometer) {
  const SampleSet named = readText(logger_layouts::namedWithUnits(rows()));
  ASSERT_EQ(named.accelerometer.size(), named.values.size());
  EXPECT_EQ(named.summary.accelerometerColumns, (std::array<int, 3>{{1, 2, 3}}));
  ASSERT_TRUE(named.accelerometerUnit.has_value());
  EXPECT_EQ(named.accelerometerUnit->unit, fluxtrim::AccelUnit::MetresPerSecondSquared);
  expectNear(named.accelerometer[100], rows()[100].accel, 5e-4, "named");

  // Named values: the accelerometer's pairs and groups, with the unit written after them.
  const SampleSet pairs = readText(logger_layouts::keyValuePairs(rows()));
  EXPECT_EQ(pairs.summary.accelerometerColumns, (std::array<int, 3>{{0, 1, 2}}));
  ASSERT_EQ(pairs.accelerometer.size(), pairs.values.size());
  expectNear(pairs.accelerometer[100], rows()[100].accel, 5e-4, "pairs");
  const SampleSet groups = readText(logger_layouts::groupedSensors(rows()));
  ASSERT_TRUE(groups.accelerometerUnit.has_value());
  EXPECT_EQ(groups.accelerometerUnit->unit, fluxtrim::AccelUnit::MetresPerSecondSquared);

  const SampleSet raw = readText(logger_layouts::rawWithBanner(rows()));
  EXPECT_EQ(raw.summary.accelerometerColumns, (std::array<int, 3>{{0, 1, 2}}));
  ASSERT_EQ(raw.accelerometer.size(), raw.values.size());
  EXPECT_EQ(raw.accelerometer[0][0],
            std::round(rows()[0].accel[0] * (8192.0 / imu_recording::kGravity)));
  EXPECT_FALSE(raw.accelerometerUnit.has_value());

  const SampleSet partial =
      readText("ax,ay,az,mx,my,mz\n1,x,3,4,5,6\n7,8,9,10,11,12\n1,2,3,4,5,6\n");
  EXPECT_EQ(partial.values.size(), 3u);
  EXPECT_TRUE(std::isnan(partial.accelerometer[0][1]));
  EXPECT_EQ(partial.accelerometer[1], (Vec3{{7, 8, 9}}));
  EXPECT_TRUE(readText("x,y,z\n1,2,3\n").accelerometer.empty());

  ReadOptions given;
  given.columnIndices = {3, 4, 5};
  given.accelerometerColumnIndices = {0, 1, 2};
  EXPECT_EQ(readText("1,2,3,4,5,6\n", given).accelerometer[0], (Vec3{{1, 2, 3}}));
  given.accelerometerColumnIndices = {0, 1, 5};
  EXPECT_THROW(readText("1,2,3,4,5,6\n", given), fluxtrim::UsageError);
}

// An endless input without a line end (/dev/zero), or a line longer than any recording writes,
// ends the read with an error instead of reading forever; numbers with decimal commas get a hint.
TEST(LoggerLayoutTest, NoTextAndDecimalCommasAreSaid) {
  try {
    fluxtrim::readSamples("/dev/zero");
    ADD_FAILURE() << "read /dev/zero";
  } catch (const fluxtrim::IoError& error) {
    EXPECT_NE(std::string(error.what()).find("no line end"), std::string::npos) << error.what();
  }
  std::string longLine = "x,y,z\n1,2,3\n" + std::string(std::size_t{17} << 20, '7');
  EXPECT_THROW(readText(longLine), fluxtrim::IoError);

  const SampleSet comma = readText("0,48;0,12;0,33\n0,47;-0,1;0,3\n");
  EXPECT_TRUE(comma.values.empty());
  ASSERT_EQ(comma.summary.warnings.size(), 1u);
  EXPECT_NE(fluxtrim::noSamplesText(comma).find("'0,48' are written with a decimal comma"),
            std::string::npos)
      << fluxtrim::noSamplesText(comma);
}

}  // namespace
