// Black-box tests of the fluxtrim command on the logs hobbyists make: each layout calibrated with
// the columns and the unit it names, the choice said in the output, and a question with status 2
// where the log does not say which columns or lines are the magnetometer's.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "logger_layouts.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

using test_support::RunResult;
using test_support::splitLines;

const std::string kSchemaDir = std::string(FLUXTRIM_SOURCE_DIR) + "/cli/schema";

class CommandInputTest : public test_support::TempDirTest {
 protected:
  CommandInputTest() : TempDirTest("fluxtrim_inputs") {}

  RunResult run(const std::vector<std::string>& args) {
    test_support::RunOptions options;
    options.stdinPath = "/dev/null";
    options.limit = std::chrono::seconds(60);
    return test_support::runProgram(FLUXTRIM_CLI_EXE, args, dir_, options);
  }

  // calibrate with the generated device's field strength and the extra arguments.
  RunResult calibrate(const std::string& path, std::vector<std::string> extra = {}) {
    const imu_recording::Device device;
    const double field_uT =
        100.0 * std::sqrt(device.field[0] * device.field[0] + device.field[1] * device.field[1] +
                          device.field[2] * device.field[2]);
    std::vector<std::string> args{"calibrate", path, "--field-strength",
                                  std::to_string(field_uT) + "uT"};
    args.insert(args.end(), extra.begin(), extra.end());
    return run(args);
  }

  void expectValid(const std::vector<std::string>& files) {
    std::vector<std::string> args{
        std::string(FLUXTRIM_SOURCE_DIR) + "/tests/support/validate_json.py", kSchemaDir,
        "calibration.schema.json"};
    args.insert(args.end(), files.begin(), files.end());
    const fs::path scratch = dir_ / "validator";
    fs::create_directories(scratch);
    const RunResult r = test_support::runProgram(FLUXTRIM_PYTHON, args, scratch);
    EXPECT_EQ(r.status, 0) << r.err;
  }
};

// Each layout passes, its offset (12, -7.5, 20) uT recovered in microtesla, and the text says
// which columns, which unit and which lines were read and why: a Raw: log read in its tenths of a
// microtesla, a serial log's accelerometer lines left out, named columns with their unit.
// Catches the accelerometer fitted instead (a unit failure), and a choice made silently.
TEST_F(CommandInputTest, EachLogIsCalibratedWithWhatItNames) {
  const std::vector<logger_layouts::Row> rows = logger_layouts::tumbledRows();
  const std::string n = std::to_string(rows.size());
  struct Case {
    std::string file;
    std::string text;
    std::vector<std::string> said;  // in the text output
  };
  const std::vector<Case> cases = {
      {"raw.log",
       logger_layouts::rawWithBanner(rows),
       {"  columns 7 to 9, the Raw: layout's magnetometer",
        "microtesla, the Raw: layout's tenths of a microtesla, divided by"}},
      {"serial.log",
       logger_layouts::alternatingSerial(rows),
       {"microtesla, written after",
        "  lines: " + n + " 'Accel' lines (m/s^2) left out, " + n + " 'Mag' lines (uT) kept"}},
      {"raw_uni.log",
       logger_layouts::rawAndUni(rows),
       {"'Raw' lines kept, " + n + " 'Uni' lines left out"}},
      {"named.csv",
       logger_layouts::namedWithUnits(rows),
       {"  columns 5 to 7, named 'Magnetometer X (uT)'", "microtesla, from the header"}},
  };
  std::vector<std::string> documents;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = writeFile(c.file, c.text);
    const RunResult text = calibrate(path);
    EXPECT_EQ(text.status, 0) << text.out << text.err;
    for (const std::string& words : c.said) {
      EXPECT_NE(text.out.find(words), std::string::npos) << words << "\n" << text.out;
    }
    for (const std::string& line : splitLines(text.out)) EXPECT_LE(line.size(), 80u) << line;

    const RunResult json = calibrate(path, {"--format", "json"});
    ASSERT_EQ(json.status, 0) << json.err;
    documents.push_back(writeFile(c.file + ".json", json.out));
    const nlohmann::json d = nlohmann::json::parse(json.out);
    EXPECT_EQ(d.at("sample_unit").at("symbol"), "uT");
    EXPECT_TRUE(d.at("sample_unit").at("given"));
    const std::vector<double> offset =
        d.at("calibration").at("offset_uT").get<std::vector<double>>();
    EXPECT_NEAR(offset[0], 12.0, 0.5);
    EXPECT_NEAR(offset[1], -7.5, 0.5);
    EXPECT_NEAR(offset[2], 20.0, 0.5);
  }
  expectValid(documents);

  // A unit given against the one the header states is used, with a warning.
  const RunResult conflict =
      calibrate(writeFile("named.csv", logger_layouts::namedWithUnits(rows)), {"--units", "G"});
  EXPECT_NE(conflict.out.find("warning: the unit is given as gauss, but the input states"),
            std::string::npos)
      << conflict.out;
}

// A headerless nine-axis log is not guessed at: status 2, nothing on standard output, and on
// standard error the question with every numeric column and its range and the option that
// answers; the answer calibrates it. Two kinds of line that name nothing are asked about the same
// way (--match answers); a decimal-comma file and an endless input say what is wrong.
TEST_F(CommandInputTest, AsksWhenTheLogDoesNotSay) {
  const std::vector<logger_layouts::Row> rows = logger_layouts::tumbledRows();
  const std::string imu = writeFile("imu.csv", logger_layouts::headerlessImu(rows));
  const RunResult asked = calibrate(imu);
  EXPECT_EQ(asked.status, 2);
  EXPECT_EQ(asked.out, "");
  const std::vector<std::string> lines = splitLines(asked.err);
  ASSERT_EQ(lines.size(), 12u) << asked.err;
  EXPECT_NE(lines[0].find("which columns are the magnetometer's X, Y and Z?"), std::string::npos);
  EXPECT_EQ(lines[1].rfind("  column 1: 0 to ", 0), 0u) << lines[1];
  EXPECT_NE(lines[1].find("a time stamp or counter"), std::string::npos) << lines[1];
  EXPECT_EQ(lines[8].rfind("  column 8: ", 0), 0u) << lines[8];
  EXPECT_NE(lines[11].find("--columns X,Y,Z"), std::string::npos) << lines[11];
  const RunResult json = calibrate(imu, {"--format", "json"});
  EXPECT_EQ(json.status, 2);
  EXPECT_EQ(nlohmann::json::parse(json.out).at("error").at("code"), "bad-input");
  expectValid({writeFile("asked.json", json.out)});
  EXPECT_EQ(calibrate(imu, {"--columns", "8,9,10", "--units", "uT"}).status, 0);
  // apply asks the same question.
  const std::string calibration = writeFile(
      "c.json", calibrate(imu, {"--columns", "8,9,10", "--units", "uT", "--format", "json"}).out);
  const RunResult applied = run({"apply", calibration, imu});
  EXPECT_EQ(applied.status, 2);
  EXPECT_NE(applied.err.find("  column 10: "), std::string::npos) << applied.err;

  std::string twoKinds;
  for (int k = 0; k < 40; ++k) {
    twoKinds += "Left: " + std::to_string(k % 7) + " " + std::to_string(k % 5) + " 3\n";
    twoKinds += "Right: 1 " + std::to_string(k % 3) + " " + std::to_string(k) + "\n";
  }
  const std::string sides = writeFile("sides.log", twoKinds);
  const RunResult kinds = calibrate(sides);
  EXPECT_EQ(kinds.status, 2);
  EXPECT_NE(kinds.err.find("which lines are the magnetometer's?"), std::string::npos) << kinds.err;
  EXPECT_NE(kinds.err.find("40 'Right' lines"), std::string::npos) << kinds.err;
  EXPECT_NE(kinds.err.find("--match TEXT"), std::string::npos) << kinds.err;
  const RunResult matched = calibrate(sides, {"--match", "Left:"});
  EXPECT_TRUE(matched.status == 0 || matched.status == 1) << matched.err;
  EXPECT_NE(matched.out.find("kept, 40 lines without the text matched left out"), std::string::npos)
      << matched.out;

  const RunResult comma = calibrate(writeFile("comma.csv", "0,48;0,12;0,33\n0,47;0,1;0,3\n"));
  EXPECT_EQ(comma.status, 2);
  EXPECT_NE(comma.err.find("decimal comma"), std::string::npos) << comma.err;
  const RunResult endless = calibrate("/dev/zero");
  EXPECT_FALSE(endless.timedOut);
  EXPECT_EQ(endless.status, 2);
  EXPECT_NE(endless.err.find("no line end"), std::string::npos) << endless.err;
}

}  // namespace
