// End-to-end tests of fluxtrim.out: the real executable runs in a child process with its standard
// output and standard error sent to separate files, and both texts and the exit status are checked.
#include <cctype>
#include <filesystem>
#include <string>
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
      {csv, "12abc", "3.2914", "89", "0.2"},
      {csv, "inf", "-inf", "nan", "0.2"},
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

TEST_F(CliTest, UnreadableFilesStillGiveTheReport) {
  const RunResult missing =
      run({(dir_ / "missing.csv").string(), "48.5578", "3.2914", "89", "0.2"});
  EXPECT_EQ(missing.status, 0);
  EXPECT_EQ(missing.err, "Can not open csv file\n");
  expectReport(missing.out);

  const RunResult directory = run({dir_.string(), "48.5578", "3.2914", "89", "0.2"});
  EXPECT_EQ(directory.status, 0);
  EXPECT_EQ(directory.err, "Can not open csv file\n");
  expectReport(directory.out);

  const RunResult headerOnly = run(
      {writeFile("header.csv", "CAP_magX,CAP_magY,CAP_magZ\n"), "48.5578", "3.2914", "89", "0.2"});
  EXPECT_EQ(headerOnly.status, 0);
  EXPECT_EQ(headerOnly.err, kHeaderMessages);
  expectReport(headerOnly.out);
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
