// Malformed input end to end: every file of tests/malformed (plus a few made here: 10 MB single
// lines, a FIFO) goes through the real fluxtrim.out. Whatever the bytes, the tool must end
// normally (no signal, no hang) with status 0, print the whole report, and write to standard
// error nothing but the reader's own "Header : <cell>" lines or its "Can not open csv file".
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::RunResult;
using test_support::splitLines;

const fs::path kCorpus = fs::path(FLUXTRIM_SOURCE_DIR) / "tests" / "malformed";

class MalformedInputTest : public test_support::TempDirTest {
 protected:
  MalformedInputTest() : TempDirTest("fluxtrim_malformed") {}

  // Runs fluxtrim.out on the file at a fixed position (48.5578 N, 3.2914 E, 89 m) with tolerance
  // 0.2, killing it after 60 s.
  RunResult run(const std::string& csvPath) {
    return test_support::runTool({csvPath, "48.5578", "3.2914", "89", "0.2"}, dir_, "",
                                 std::chrono::seconds(60));
  }
};

// The report: 21 lines in a fixed order; only the leading label of each line is compared.
void expectReport(const std::string& out, const std::string& what) {
  const char* const labels[] = {"WMMRef[0] = ",
                                "WMMRef[1] = ",
                                "WMMRef[2] = ",
                                "WMMRefNorm = ",
                                "WMMRefHorizNorm = ",
                                "WMMRefVerticalNorm = ",
                                "inclination = ",
                                "declination = ",
                                "magNormRef = ",
                                "magNormRefHoriz = ",
                                "magNormRefVertical = ",
                                "hardIronOffset:",
                                "[ ",
                                "SoftIronMatrix:",
                                "[ ",
                                "[ ",
                                "[ ",
                                "Execution time : ",
                                "Calibration done",
                                "You can use the calibration result with: ",
                                "(MagVector3 - hardIronOffset) * SoftIronMatrix "};
  const std::vector<std::string> lines = splitLines(out);
  ASSERT_EQ(lines.size(), sizeof labels / sizeof labels[0]) << what << ":\n" << out;
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].rfind(labels[i], 0), 0u) << what << ", line " << i + 1 << ": " << lines[i];
  }
}

// The defined result when no sample passes the acceptance window: zero offset, identity matrix
// and a mean magnitude that is not a number.
void expectNothingAccepted(const std::string& out, const std::string& what) {
  const std::vector<std::string> lines = splitLines(out);
  ASSERT_EQ(lines.size(), 21u) << what;
  EXPECT_NE(lines[8].find("nan"), std::string::npos) << what << ": " << lines[8];
  EXPECT_EQ(lines[12], "[ 0.000000 0.000000 0.000000 ]") << what;
  EXPECT_EQ(lines[14], "[ 1.000000 0.000000 0.000000 ]") << what;
  EXPECT_EQ(lines[15], "[ 0.000000 1.000000 0.000000 ]") << what;
  EXPECT_EQ(lines[16], "[ 0.000000 0.000000 1.000000 ]") << what;
}

// Standard error holds only whole "Header : <cell>" lines (a cell never contains a newline).
bool onlyHeaderMessages(const std::string& err) {
  const std::string prefix = "Header : ";
  size_t at = 0;
  while (at < err.size()) {
    if (err.compare(at, prefix.size(), prefix) != 0) {
      return false;
    }
    const size_t end = err.find('\n', at);
    if (end == std::string::npos) {
      return false;
    }
    at = end + 1;
  }
  return true;
}

std::string headers(const std::vector<std::string>& cells) {
  std::string text;
  for (const std::string& cell : cells) {
    text += "Header : " + cell + "\n";
  }
  return text;
}

TEST_F(MalformedInputTest, EveryCorpusFileEndsNormallyWithAReport) {
  using namespace std::string_literals;
  // Exact messages where the file fixes them; the others are checked for their form only.
  const std::map<std::string, std::string> expectedErr = {
      {"empty.csv", ""},
      {"only_newlines.csv", ""},
      {"only_commas.csv", headers(std::vector<std::string>(8, ""))},
      {"blank_cells.csv", headers({"   ", "\t\t", " ", " ", " "})},
      {"bom_header.csv", headers({"\xef\xbb\xbf"
                                  "CAP_magX",
                                  "CAP_magY", "CAP_magZ"})},
      {"carriage_returns_only.csv", headers({"X", "Y", "Z\r0.1"})},
      {"quoted_cells.csv", headers({"\"X\"", "\"Y\"", "\"Z\"", "\"0.1\"", "\"0.2\"", "\"0.3\""})},
      {"special_numbers.csv", headers({"X", "Y", "Z", "1e999", "1e-400", "-1e999"})},
      {"nul_bytes.csv", headers({"CAP_magX", "CAP_magY", "CAP_magZ", "\0\0\0"s, "\0"s, "\0"s})},
      {"long_cells.csv", headers({std::string(5000, '1'), "0." + std::string(5000, '0') + "1"})},
  };
  // Files in which no row has a magnitude within 20 % of the reference field.
  const char* const nothingAccepted[] = {
      "empty.csv",        "only_newlines.csv",         "only_commas.csv", "blank_cells.csv",
      "quoted_cells.csv", "carriage_returns_only.csv", "utf16.csv",       "long_cells.csv"};

  int files = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(kCorpus)) {
    const std::string name = entry.path().filename().string();
    const RunResult r = run(entry.path().string());
    ++files;
    EXPECT_FALSE(r.timedOut) << name;
    ASSERT_TRUE(r.exited) << name << " ended on a signal";
    EXPECT_EQ(r.status, 0) << name;
    expectReport(r.out, name);
    EXPECT_TRUE(onlyHeaderMessages(r.err)) << name << ":\n" << r.err;
    const auto expected = expectedErr.find(name);
    if (expected != expectedErr.end()) {
      EXPECT_EQ(r.err, expected->second) << name;
    }
    for (const char* quiet : nothingAccepted) {
      if (name == quiet) {
        expectNothingAccepted(r.out, name);
      }
    }
  }
  EXPECT_GE(files, 12);
}

TEST_F(MalformedInputTest, TenMegabyteSingleLines) {
  const size_t tenMegabytes = 10u * 1024u * 1024u;

  // Cells far beyond the third are never read: no message, one sample.
  std::string cells;
  while (cells.size() < tenMegabytes) {
    cells += "0.25,-0.5,0.75,";
  }
  RunResult r = run(writeFile("cells.csv", cells));
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  expectReport(r.out, "10 MB of cells");

  // One number of ten million digits overflows a double and is reported whole.
  const std::string digits(tenMegabytes, '9');
  r = run(writeFile("digits.csv", digits + "\n"));
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "Header : " + digits + "\n");
  expectReport(r.out, "10 MB number");
  expectNothingAccepted(r.out, "10 MB number");
}

TEST_F(MalformedInputTest, PathsThatAreNoRegularFileAreReportedAsUnopenable) {
  // A FIFO would block the open without a writer, and its content could not be read twice; a
  // character device is no file of samples either. Both are refused before opening.
  const fs::path fifo = dir_ / "samples.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo.string(), std::string("/dev/null")}) {
    const RunResult r = run(path);
    EXPECT_FALSE(r.timedOut) << path;
    ASSERT_TRUE(r.exited) << path;
    EXPECT_EQ(r.status, 0) << path;
    EXPECT_EQ(r.err, "Can not open csv file\n") << path;
    expectReport(r.out, path);
    expectNothingAccepted(r.out, path);
  }
}

}  // namespace
