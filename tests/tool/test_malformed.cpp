// Malformed input end to end: every file of tests/tool/malformed (plus a few made here: 10 MB
// single lines, a FIFO) goes through the real fluxtrim.out. Whatever the bytes, the tool must end
// normally (no signal, no hang) with status 0 (a calibration) or 2 (none), print the whole report,
// and write to standard error nothing but the reader's own messages, its "Can not open csv file"
// and, with status 2, one last line that says why there is no calibration.
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::RunResult;
using test_support::splitLines;

const fs::path kCorpus = fs::path(FLUXTRIM_SOURCE_DIR) / "tests" / "tool" / "malformed";

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

// Standard error holds only whole reader messages ("Header : <cell>", "Line <n> : ...", the count
// of those not shown; an echoed cell never contains a newline) and, when noCalibration, ends with
// the line that says why.
bool onlyReaderMessages(const std::string& err, bool noCalibration) {
  std::vector<std::string> lines = splitLines(err);
  if (!err.empty() && err.back() != '\n') {
    return false;
  }
  if (noCalibration) {
    if (lines.empty() || lines.back().rfind("fluxtrim.out: no calibration: ", 0) != 0) {
      return false;
    }
    lines.pop_back();
  }
  for (const std::string& line : lines) {
    const bool known =
        line.rfind("Header : ", 0) == 0 ||
        (line.rfind("Line ", 0) == 0 && line.find(" : ") != std::string::npos) ||
        (line.rfind("(", 0) == 0 && line.find(" more messages not shown)") != std::string::npos);
    if (!known) {
      return false;
    }
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

const std::string kNoCalibration =
    "fluxtrim.out: no calibration: 0 complete rows read, none with a magnitude within [0.386707, "
    "0.580061] gauss (reference magnitude 0.483384 gauss, tolerance 0.2)\n";

TEST_F(MalformedInputTest, EveryCorpusFileEndsNormallyWithAReport) {
  using namespace std::string_literals;
  // Exact messages where the file fixes them; the others are checked for their form only.
  const std::map<std::string, std::string> expectedErr = {
      {"empty.csv", kNoCalibration},
      {"only_newlines.csv", kNoCalibration},
      {"only_commas.csv", headers(std::vector<std::string>(8, "")) +
                              "Line 3 : fewer than 3 comma-separated cells : ,,\n" +
                              kNoCalibration},
      {"blank_cells.csv", headers({"   ", "\t\t", " ", " ", " "}) + kNoCalibration},
      {"bom_header.csv", headers({"\xef\xbb\xbf"
                                  "CAP_magX",
                                  "CAP_magY", "CAP_magZ"})},
      {"carriage_returns_only.csv", headers({"X", "Y", "Z\\x0D0.1"}) + kNoCalibration},
      {"quoted_cells.csv",
       headers({"\"X\"", "\"Y\"", "\"Z\"", "\"0.1\"", "\"0.2\"", "\"0.3\""}) + kNoCalibration},
      {"special_numbers.csv",
       headers({"X", "Y", "Z", "1e999", "1e-400", "-1e999"}) +
           "fluxtrim.out: no calibration: 3 complete rows read, none with a magnitude within "
           "[0.386707, 0.580061] gauss (reference magnitude 0.483384 gauss, tolerance 0.2)\n"},
      {"nul_bytes.csv", headers({"CAP_magX", "CAP_magY", "CAP_magZ", "\\x00\\x00\\x00"}) +
                            "Line 3 : fewer than 3 comma-separated cells : \\x00\\x00\\x00\n" +
                            headers({"\\x00", "\\x00"})},
      {"long_cells.csv",
       headers({std::string(200, '1') + "...", "0." + std::string(198, '0') + "..."}) +
           kNoCalibration},
  };
  // Files in which no row has a magnitude within 20 % of the reference field.
  const char* const nothingAccepted[] = {
      "empty.csv",           "only_newlines.csv",         "only_commas.csv", "blank_cells.csv",
      "quoted_cells.csv",    "carriage_returns_only.csv", "utf16.csv",       "long_cells.csv",
      "special_numbers.csv", "binary_garbage.bin"};

  int files = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(kCorpus)) {
    const std::string name = entry.path().filename().string();
    const RunResult r = run(entry.path().string());
    ++files;
    EXPECT_FALSE(r.timedOut) << name;
    ASSERT_TRUE(r.exited) << name << " ended on a signal";
    const bool quiet = std::find(std::begin(nothingAccepted), std::end(nothingAccepted), name) !=
                       std::end(nothingAccepted);
    EXPECT_EQ(r.status == 2, quiet) << name << ": status " << r.status;
    EXPECT_TRUE(r.status == 0 || r.status == 2) << name << ": status " << r.status;
    expectReport(r.out, name);
    EXPECT_TRUE(onlyReaderMessages(r.err, r.status == 2)) << name << ":\n" << r.err;
    const auto expected = expectedErr.find(name);
    if (expected != expectedErr.end()) {
      EXPECT_EQ(r.err, expected->second) << name;
    }
    if (quiet) {
      expectNothingAccepted(r.out, name);
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
  // The sample (0.25, -0.5, 0.75) is 0.94 gauss, far outside the window.
  RunResult r = run(writeFile("cells.csv", cells));
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err,
            "fluxtrim.out: no calibration: 1 complete rows read, none with a magnitude within "
            "[0.386707, 0.580061] gauss (reference magnitude 0.483384 gauss, tolerance 0.2)\n");
  expectReport(r.out, "10 MB of cells");

  // One number of ten million digits overflows a double; its echo is cut.
  const std::string digits(tenMegabytes, '9');
  r = run(writeFile("digits.csv", digits + "\n"));
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "Header : " + digits.substr(0, 200) +
                       "...\nLine 1 : fewer than 3 comma-separated cells : " +
                       digits.substr(0, 200) + "...\n" + kNoCalibration);
  expectReport(r.out, "10 MB number");
  expectNothingAccepted(r.out, "10 MB number");
}

TEST_F(MalformedInputTest, PathsThatAreNoRegularFileAreReportedAsUnopenable) {
  // A FIFO would block a blocking open without a writer, and its samples could not be read
  // again; a character device is no file of samples either. Both are refused once opened.
  const fs::path fifo = dir_ / "samples.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo.string(), std::string("/dev/null")}) {
    const RunResult r = run(path);
    EXPECT_FALSE(r.timedOut) << path;
    ASSERT_TRUE(r.exited) << path;
    EXPECT_EQ(r.status, 2) << path;
    EXPECT_EQ(r.err, "Can not open csv file\n" + kNoCalibration) << path;
    expectReport(r.out, path);
    expectNothingAccepted(r.out, path);
  }
}

// Memory that runs out while the file is read ends the run like a read error: one line naming the
// file, no report, status 1. The file is a sparse gigabyte of NUL bytes, one line, read under a
// 256 MiB address-space limit. Address sanitizer needs far more address space than that.
TEST_F(MalformedInputTest, MemoryRunningOutWhileReadingEndsWithOneLine) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "address-space limit and address sanitizer do not mix";
#endif
  const fs::path big = dir_ / "big.csv";
  std::ofstream(big).close();
  fs::resize_file(big, std::uintmax_t{1} << 30);
  const std::string command = "ulimit -v 262144 && exec '" + std::string(FLUXTRIM_EXE) + "' '" +
                              big.string() + "' 48.5578 3.2914 89 0.2 >'" +
                              (dir_ / "stdout").string() + "' 2>'" + (dir_ / "stderr").string() +
                              "'";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(test_support::readFile(dir_ / "stdout"), "");
  EXPECT_EQ(test_support::readFile(dir_ / "stderr"),
            "fluxtrim.out: cannot read '" + big.string() + "': out of memory\n");
}

}  // namespace
