// End-to-end tests of fluxtrim.out: the real executable runs in a child process with its standard
// output and standard error sent to separate files, and both texts and the exit status are checked.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;

using test_support::RunResult;
using test_support::splitLines;

class CliTest : public test_support::TempDirTest {
 protected:
  CliTest() : TempDirTest("fluxtrim_cli") {}

  // Runs fluxtrim.out with the arguments (program name excluded). Standard output goes to
  // stdoutPath when given (e.g. /dev/full), else to a file that is read back.
  RunResult run(const std::vector<std::string>& args, const std::string& stdoutPath = "") {
    return test_support::runTool(args, dir_, stdoutPath);
  }
};

const char* const kUsage =
    "No enough arguments, please provide: file_path.csv latitude longitude altitude \n"
    "The input csv file format is: \n"
    "CAP_magX,CAP_magY,CAP_magZ \n"
    "0.171030819416046,-0.16620759665966,0.386092156171799 \n"
    "0.171149805188179,-0.165583327412605,0.398465633392334 \n"
    "0.17495721578598,-0.168829515576363,0.382784396409988 \n"
    "... \n"
    "Example for latitude longitude altitude: 48.557800 3.291400 89.000000 \n"
    "You can find these informations at: https://www.freemaptools.com/elevation-finder.htm \n"
    "\n"
    "You have to specify a tolerance value for norm acceptance, 0.2 is the default value \n"
    "\n"
    "Full command example: ./fluxtrim.out mag.csv 42.5578 6.2914 89 0.2\n";

const char* const kSampleCsv =
    "CAP_magX,CAP_magY,CAP_magZ\n"
    "0.171030819416046,-0.16620759665966,0.386092156171799\n"
    "0.171149805188179,-0.165583327412605,0.398465633392334\n"
    "0.17495721578598,-0.168829515576363,0.382784396409988\n";

const char* const kHeaderMessages = "Header : CAP_magX\nHeader : CAP_magY\nHeader : CAP_magZ\n";

// Matches text against a printf-like pattern in which "%f" stands for a number as %f prints it
// (an optional minus, digits, a point and six digits, or nan or inf) and "%d" for an integer.
bool matchesFormat(const std::string& text, const std::string& pattern) {
  const auto isDigit = [&text](size_t at) {
    return at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) != 0;
  };
  size_t t = 0;
  for (size_t p = 0; p < pattern.size(); ++p) {
    if (pattern[p] != '%') {
      if (t >= text.size() || text[t] != pattern[p]) {
        return false;
      }
      ++t;
      continue;
    }
    const char kind = pattern[++p];
    if (t < text.size() && text[t] == '-') {
      ++t;
    }
    if (kind == 'f' && (text.compare(t, 3, "nan") == 0 || text.compare(t, 3, "inf") == 0)) {
      t += 3;
      continue;
    }
    if (!isDigit(t)) {
      return false;
    }
    while (isDigit(t)) {
      ++t;
    }
    if (kind == 'f') {
      if (t >= text.size() || text[t] != '.') {
        return false;
      }
      ++t;
      for (int decimal = 0; decimal < 6; ++decimal, ++t) {
        if (!isDigit(t)) {
          return false;
        }
      }
    }
  }
  return t == text.size();
}

// Checks the 21 report lines by format only: the numbers depend on the calibration.
void expectReport(const std::string& out) {
  const std::vector<std::string> patterns = {
      "WMMRef[0] = %f",
      "WMMRef[1] = %f",
      "WMMRef[2] = %f",
      "WMMRefNorm = %f",
      "WMMRefHorizNorm = %f",
      "WMMRefVerticalNorm = %f",
      "inclination = %f",
      "declination = %f",
      "magNormRef = %f",
      "magNormRefHoriz = %f",
      "magNormRefVertical = %f",
      "hardIronOffset:",
      "[ %f %f %f ]",
      "SoftIronMatrix:",
      "[ %f %f %f ]",
      "[ %f %f %f ]",
      "[ %f %f %f ]",
      "Execution time : %d us ",
      "Calibration done",
      "You can use the calibration result with: ",
      "(MagVector3 - hardIronOffset) * SoftIronMatrix ",
  };
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.back(), '\n');
  const std::vector<std::string> lines = splitLines(out);
  ASSERT_EQ(lines.size(), patterns.size()) << out;
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_TRUE(matchesFormat(lines[i], patterns[i]))
        << "line " << i + 1 << ": '" << lines[i] << "' is not '" << patterns[i] << "'";
  }
}

// The report without its execution-time line, to compare two runs.
std::string withoutTime(const std::string& out) {
  std::string kept;
  for (const std::string& line : splitLines(out)) {
    if (line.rfind("Execution time : ", 0) != 0) {
      kept += line + "\n";
    }
  }
  return kept;
}

TEST_F(CliTest, TooFewArgumentsPrintUsageAndReturnMinus22) {
  const std::string csv = writeFile("mag.csv", kSampleCsv);
  const std::vector<std::vector<std::string>> cases = {
      {}, {csv}, {csv, "48.5578", "3.2914", "89"}, {"missing.csv", "a", "b", "c"}};
  for (const auto& args : cases) {
    const RunResult r = run(args);
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, 234) << args.size() << " arguments";
    EXPECT_EQ(r.out, kUsage);
    EXPECT_EQ(r.err, "") << "the file must not be opened";
  }
}

TEST_F(CliTest, FiveArgumentsPrintTheReport) {
  const std::string csv = writeFile("mag.csv", kSampleCsv);
  const RunResult r = run({csv, "48.5578", "3.2914", "89", "0.2"});
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kHeaderMessages);
  expectReport(r.out);

  // Arguments after the fifth are ignored.
  const RunResult six = run({csv, "48.5578", "3.2914", "89", "0.2", "not-a-number"});
  EXPECT_EQ(six.status, 0);
  EXPECT_EQ(six.err, kHeaderMessages);
  EXPECT_EQ(withoutTime(six.out), withoutTime(r.out));
}

// The reference part of the report does not depend on the samples: the field in gauss with its
// norms, and the angles in degrees although the record holds radians. The angles are compared
// to 1e-4 degree: their last printed digit follows the platform's single-precision arc tangent.
TEST_F(CliTest, ReferenceLinesAreGaussAndDegrees) {
  struct Place {
    std::vector<std::string> args;
    std::vector<std::string> fieldLines;
    double inclination, declination;
  };
  const std::string csv = writeFile("mag.csv", kSampleCsv);
  const Place places[] = {
      {{csv, "48.5578", "3.2914", "89", "0.2"},
       {"WMMRef[0] = 0.210485", "WMMRef[1] = 0.007476", "WMMRef[2] = 0.435086",
        "WMMRefNorm = 0.483384", "WMMRefHorizNorm = 0.210618", "WMMRefVerticalNorm = 0.435086"},
       64.16922,
       2.03412},
      {{csv, "-33.9", "151.2", "0", "0.2"},
       {"WMMRef[0] = 0.240085", "WMMRef[1] = 0.054598", "WMMRef[2] = -0.514930",
        "WMMRefNorm = 0.570767", "WMMRefHorizNorm = 0.246215", "WMMRefVerticalNorm = -0.514930"},
       -64.44515,
       12.81186},
  };
  for (const Place& place : places) {
    SCOPED_TRACE(place.args[1] + " " + place.args[2]);
    const RunResult r = run(place.args);
    ASSERT_EQ(r.status, 0);
    const std::vector<std::string> lines = splitLines(r.out);
    ASSERT_GE(lines.size(), 8u);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 6), place.fieldLines);
    ASSERT_EQ(lines[6].rfind("inclination = ", 0), 0u) << lines[6];
    ASSERT_EQ(lines[7].rfind("declination = ", 0), 0u) << lines[7];
    EXPECT_NEAR(std::stod(lines[6].substr(14)), place.inclination, 1e-4);
    EXPECT_NEAR(std::stod(lines[7].substr(14)), place.declination, 1e-4);
  }
}

TEST_F(CliTest, UnconvertibleArgumentEndsWithOneLineAndStatus1) {
  const std::string csv = writeFile("mag.csv", kSampleCsv);
  const char* const names[] = {"latitude", "longitude", "altitude", "tolerance"};
  for (int position = 0; position < 4; ++position) {
    std::vector<std::string> args = {csv, "48.5578", "3.2914", "89", "0.2"};
    args[position + 1] = "abc";
    const RunResult r = run(args);
    EXPECT_TRUE(r.exited) << names[position];
    EXPECT_EQ(r.status, 1) << names[position];
    EXPECT_EQ(r.out, "") << names[position];
    // One line, and no "Header : " lines: the file is not read.
    EXPECT_EQ(r.err, std::string("fluxtrim.out: ") + names[position] + ": not a number: 'abc'\n");
  }

  const RunResult range = run({csv, "48.5578", "3.2914", "1e999", "0.2"});
  EXPECT_EQ(range.status, 1);
  EXPECT_EQ(range.out, "");
  EXPECT_EQ(range.err, "fluxtrim.out: altitude: out of range: '1e999'\n");

  // Arguments are converted in order: the first bad one is named.
  const RunResult twoBad = run({csv, "48.5578", "", "x", "0.2"});
  EXPECT_EQ(twoBad.status, 1);
  EXPECT_EQ(twoBad.err, "fluxtrim.out: longitude: not a number: ''\n");
}

TEST_F(CliTest, LenientNumbersAreAccepted) {
  const std::string csv = writeFile("mag.csv", kSampleCsv);
  const std::vector<std::vector<std::string>> cases = {
      {csv, "48.5578abc", "3.2914", "89", "0.2"},
      {csv, "48.5578", "-356.7086", "89", "0.2"},  // a longitude past -180
      {csv, " 48.5578", "0x1.8p1", "89m", "0.2 "},
  };
  for (const auto& args : cases) {
    const RunResult r = run(args);
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, 0) << args[1] << " " << args[2] << " " << args[3] << " " << args[4];
    EXPECT_EQ(r.err, kHeaderMessages);
    expectReport(r.out);
  }
}

// The line that ends a run without calibration at 48.5578 N, 3.2914 E, 89 m, tolerance 0.2, for a
// given count of complete rows.
std::string noCalibration(const std::string& completeRows) {
  return "fluxtrim.out: no calibration: " + completeRows +
         " complete rows read, none with a magnitude within [0.386707, 0.580061] gauss (reference "
         "magnitude 0.483384 gauss, tolerance 0.2)\n";
}

TEST_F(CliTest, UnreadableFilesGiveTheReportAndStatus2) {
  const RunResult missing =
      run({(dir_ / "missing.csv").string(), "48.5578", "3.2914", "89", "0.2"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "Can not open csv file\n" + noCalibration("0"));
  expectReport(missing.out);

  const RunResult directory = run({dir_.string(), "48.5578", "3.2914", "89", "0.2"});
  EXPECT_EQ(directory.status, 2);
  EXPECT_EQ(directory.err, "Can not open csv file\n" + noCalibration("0"));
  expectReport(directory.out);

  const RunResult headerOnly = run(
      {writeFile("header.csv", "CAP_magX,CAP_magY,CAP_magZ\n"), "48.5578", "3.2914", "89", "0.2"});
  EXPECT_EQ(headerOnly.status, 2);
  EXPECT_EQ(headerOnly.err, kHeaderMessages + noCalibration("0"));
  expectReport(headerOnly.out);

  // The process's own memory fails to read: one line, no report.
  const RunResult readError = run({"/proc/self/mem", "48.5578", "3.2914", "89", "0.2"});
  EXPECT_EQ(readError.status, 1);
  EXPECT_EQ(readError.out, "");
  EXPECT_EQ(readError.err, "fluxtrim.out: cannot read '/proc/self/mem': Input/output error\n");
}

// A position that names no place is refused like an unconvertible number; the file is not read.
TEST_F(CliTest, ImpossiblePositionsAreRefused) {
  const std::string csv = writeFile("mag.csv", kSampleCsv);
  const std::vector<std::vector<std::string>> cases = {
      {"180", "3.2914", "89", "latitude: not within [-90, 90] degrees: '180'"},
      {"-90.0001", "3.2914", "89", "latitude: not within [-90, 90] degrees: '-90.0001'"},
      {"nan", "3.2914", "89", "latitude: not within [-90, 90] degrees: 'nan'"},
      {"48.5578", "inf", "89", "longitude: not finite: 'inf'"},
      {"48.5578", "-nan", "89", "longitude: not finite: '-nan'"},
      {"48.5578", "3.2914", "-inf", "altitude: not finite: '-inf'"},
  };
  for (const auto& c : cases) {
    const RunResult r = run({csv, c[0], c[1], c[2], "0.2"});
    EXPECT_EQ(r.status, 1) << c[3];
    EXPECT_EQ(r.out, "") << c[3];
    EXPECT_EQ(r.err, "fluxtrim.out: " + c[3] + "\n");
  }
  // The limits themselves are places.
  for (const char* latitude : {"90", "-90"}) {
    const RunResult r = run({csv, latitude, "3.2914", "89", "0.2"});
    EXPECT_NE(r.status, 1) << latitude;
    expectReport(r.out);
  }
}

// Only complete rows are samples: a header, blank lines, short lines, lines with a bad cell and
// the empty row after a final newline change neither the window nor the fit, even at tolerances
// wide enough to accept the zero rows they used to give.
TEST_F(CliTest, OnlyCompleteRowsAreCalibrated) {
  const std::string example =
      test_support::readFile(std::string(FLUXTRIM_SOURCE_DIR) + "/examples/mag.csv");
  const size_t body = example.find('\n') + 1;
  const std::string bare = writeFile("bare.csv", example.substr(body, example.size() - body - 1));
  std::string noisy = example;
  noisy.insert(body, "\n  \n0.17,-0.16\n0.17,,0.38\n0.2,0.1,x\n");
  const std::string noisyCsv = writeFile("noisy.csv", noisy);
  for (const char* tolerance : {"0.2", "1", "5"}) {
    SCOPED_TRACE(tolerance);
    const RunResult reference = run({bare, "48.5578", "3.2914", "89", tolerance});
    EXPECT_EQ(reference.status, 0);
    EXPECT_EQ(reference.err, "");
    const RunResult r = run({noisyCsv, "48.5578", "3.2914", "89", tolerance});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(withoutTime(r.out), withoutTime(reference.out));
    EXPECT_EQ(r.err, std::string(kHeaderMessages) + "Header :   \n" +
                         "Line 4 : fewer than 3 comma-separated cells : 0.17,-0.16\n"
                         "Header : \nHeader : x\n");
  }
}

// Samples that cannot be calibrated give the report, one line that says why, and status 2.
TEST_F(CliTest, NoCalibrationEndsWithStatus2AndTheReason) {
  const std::string example =
      test_support::readFile(std::string(FLUXTRIM_SOURCE_DIR) + "/examples/mag.csv");
  const std::vector<std::string> lines = splitLines(example);

  // Every value scaled to another unit: the hint names it.
  const std::pair<double, const char*> units[] = {
      {100.0, "microtesla"}, {1000.0, "milligauss"}, {100000.0, "nanotesla"}};
  for (const auto& unit : units) {
    std::string scaled = lines[0] + "\n";
    for (size_t k = 1; k < lines.size(); ++k) {
      double v[3];
      ASSERT_EQ(std::sscanf(lines[k].c_str(), "%lf,%lf,%lf", &v[0], &v[1], &v[2]), 3);
      char text[128];
      std::snprintf(text, sizeof text, "%.17g,%.17g,%.17g\n", v[0] * unit.first, v[1] * unit.first,
                    v[2] * unit.first);
      scaled += text;
    }
    const RunResult r = run({writeFile("scaled.csv", scaled), "48.5578", "3.2914", "89", "0.2"});
    EXPECT_EQ(r.status, 2) << unit.second;
    expectReport(r.out);
    const std::vector<std::string> err = splitLines(r.err);
    ASSERT_EQ(err.size(), 4u) << r.err;
    EXPECT_EQ(err[3].rfind("fluxtrim.out: no calibration: 3000 complete rows read, none with", 0),
              0u);
    EXPECT_NE(err[3].find(std::string("the samples look like ") + unit.second), std::string::npos)
        << err[3];
  }

  // Semicolons: short lines (the header's also one unconvertible cell), no sample, and the
  // messages past the 40th only counted.
  std::string semicolons = example;
  std::replace(semicolons.begin(), semicolons.end(), ',', ';');
  const RunResult r = run({writeFile("semi.csv", semicolons), "48.5578", "3.2914", "89", "0.2"});
  EXPECT_EQ(r.status, 2);
  const std::vector<std::string> err = splitLines(r.err);
  ASSERT_EQ(err.size(), 42u);
  EXPECT_EQ(err[40], "(2962 more messages not shown)");
  EXPECT_EQ(err[41] + "\n", noCalibration("0"));

  // Tolerances that accept nothing, and one that accepts a sample whose fit is not finite.
  const std::string csv = writeFile("mag.csv", kSampleCsv);
  const RunResult zero = run({csv, "48.5578", "3.2914", "89", "0"});
  EXPECT_EQ(zero.status, 2);
  EXPECT_EQ(splitLines(zero.err).back(),
            "fluxtrim.out: no calibration: 3 complete rows read, none with a magnitude within "
            "[0.483384, 0.483384] gauss (reference magnitude 0.483384 gauss, tolerance 0); the "
            "tolerance must be above 0");
  const RunResult infinite = run({writeFile("inf.csv", std::string(kSampleCsv) + "inf,0,0\n"),
                                  "48.5578", "3.2914", "89", "inf"});
  EXPECT_EQ(infinite.status, 2);
  EXPECT_EQ(splitLines(infinite.err).back(),
            "fluxtrim.out: no calibration: 4 complete rows read, 4 with a magnitude within [-inf, "
            "inf] gauss (reference magnitude 0.483384 gauss, tolerance inf), but their calibration "
            "is not finite");
}

TEST_F(CliTest, ReportThatCannotBeWrittenIsAFailure) {
  if (!fs::exists("/dev/full")) {
    GTEST_SKIP() << "no /dev/full";
  }
  const std::string csv = writeFile("mag.csv", kSampleCsv);
  const RunResult r = run({csv, "48.5578", "3.2914", "89", "0.2"}, "/dev/full");
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, std::string(kHeaderMessages) +
                       "fluxtrim.out: cannot write the report: No space left on device\n");
}

}  // namespace
