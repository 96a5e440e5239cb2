// Tests of FERROKIT::readMagnetometerMeasures on small files: row counts, parsed values, the
// messages on standard error and what survives a second read.
#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FERROKIT.hpp"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

using Row = std::vector<double>;  // X, Y, Z of one sample

class CsvReaderTest : public test_support::TempDirTest {
 protected:
  CsvReaderTest() : TempDirTest("fluxtrim_csv") {}

  // Reads the path into kit, returning the reader's result; its standard error text goes to
  // messages_. Standard error is restored also when the reader throws.
  bool read(FERROKIT& kit, const std::string& path) {
    std::ostringstream captured;
    struct Capture {
      std::streambuf* previous;
      ~Capture() { std::cerr.rdbuf(previous); }
    } capture{std::cerr.rdbuf(captured.rdbuf())};
    messages_.clear();
    const bool opened = kit.readMagnetometerMeasures(path);
    messages_ = captured.str();
    return opened;
  }

  std::string messages_;
};

std::vector<Row> rowsOf(const FERROKIT& kit) {
  const auto& columns = kit.getMagnetometerMeasures();
  EXPECT_EQ(columns[0].size(), columns[1].size());
  EXPECT_EQ(columns[0].size(), columns[2].size());
  std::vector<Row> rows;
  for (size_t k = 0; k < columns[0].size(); ++k) {
    rows.push_back({columns[0][k], columns[1][k], columns[2][k]});
  }
  return rows;
}

const Row kZero = {0.0, 0.0, 0.0};

TEST(FerrokitTest, FreshObjectHasZeroRecordWithThreeMatrixRows) {
  const FERROKIT kit;
  const FERROKIT::MAGRESULT& r = kit.getMagCalibResult();
  EXPECT_FALSE(r.isCalibrationSucess);
  const double scalars[] = {r.WMMRef[0],         r.WMMRef[1],          r.WMMRef[2],
                            r.WMMRefNorm,        r.WMMRefHorizNorm,    r.WMMRefVerticalNorm,
                            r.inclination,       r.declination,        r.magNormRef,
                            r.magNormRefHoriz,   r.magNormRefVertical, r.hardIronOffset[0],
                            r.hardIronOffset[1], r.hardIronOffset[2]};
  for (double value : scalars) {
    EXPECT_EQ(value, 0.0);
  }
  ASSERT_EQ(r.softIronMatrix.size(), 3u);
  for (const auto& row : r.softIronMatrix) {
    EXPECT_EQ(row[0], 0.0);
    EXPECT_EQ(row[1], 0.0);
    EXPECT_EQ(row[2], 0.0);
  }
  for (const auto& column : kit.getMagnetometerMeasures()) {
    EXPECT_TRUE(column.empty());
  }
}

// A calibration succeeds when at least one sample was accepted and the whole record is finite.
TEST_F(CsvReaderTest, CalibrationSuccessNeedsAnAcceptedSampleAndAFiniteRecord) {
  const std::string example =
      test_support::readFile(std::string(FLUXTRIM_SOURCE_DIR) + "/examples/mag.csv");
  FERROKIT kit;
  ASSERT_TRUE(read(kit, writeFile("mag.csv", example)));
  kit.magCalibration(48.5578, 3.2914, 89, 0.2);
  EXPECT_TRUE(kit.getMagCalibResult().isCalibrationSucess);
  kit.magCalibration(48.5578, 3.2914, 89, 0.0);  // nothing accepted
  EXPECT_FALSE(kit.getMagCalibResult().isCalibrationSucess);

  // An infinite tolerance accepts an infinite sample, whose fit is not finite.
  ASSERT_TRUE(read(kit, writeFile("inf.csv", example + "inf,0,0\n")));
  kit.magCalibration(48.5578, 3.2914, 89, HUGE_VAL);
  EXPECT_FALSE(kit.getMagCalibResult().isCalibrationSucess);
}

TEST_F(CsvReaderTest, HeaderRowDataRowsAndTrailingZeroRow) {
  FERROKIT kit;
  ASSERT_TRUE(read(kit, writeFile("mag.csv",
                                  "CAP_magX,CAP_magY,CAP_magZ\n"
                                  "0.171030819416046,-0.16620759665966,0.386092156171799\n"
                                  "-1e-3,2.5E2,-0x1p-2\n")));
  EXPECT_EQ(messages_, "Header : CAP_magX\nHeader : CAP_magY\nHeader : CAP_magZ\n");
  const std::vector<Row> expected = {kZero,
                                     {0.171030819416046, -0.16620759665966, 0.386092156171799},
                                     {-1e-3, 250.0, -0.25},
                                     kZero};
  EXPECT_EQ(rowsOf(kit), expected);

  // Without a final newline there is no trailing zero row.
  FERROKIT unterminated;
  ASSERT_TRUE(read(unterminated, writeFile("last.csv", "x,y,z\n1,2,3\n4,5,6")));
  EXPECT_EQ(rowsOf(unterminated), (std::vector<Row>{kZero, {1, 2, 3}, {4, 5, 6}}));
}

TEST_F(CsvReaderTest, CrLfLinesGiveTheSameNumbers) {
  FERROKIT lf;
  FERROKIT crlf;
  ASSERT_TRUE(read(lf, writeFile("lf.csv", "a,b,c\n0.5,-1.25,3\n7,8,9\n")));
  ASSERT_TRUE(read(crlf, writeFile("crlf.csv", "a,b,c\r\n0.5,-1.25,3\r\n7,8,9\r\n")));
  EXPECT_EQ(rowsOf(crlf), rowsOf(lf));
  EXPECT_EQ(rowsOf(crlf).size(), 4u);
  // The carriage return belongs to the line end, not to the third header cell.
  EXPECT_EQ(messages_, "Header : a\nHeader : b\nHeader : c\n");
  EXPECT_EQ(crlf.getCompleteRows(), (std::vector<std::uint8_t>{0, 1, 1, 0}));
}

// Each line kind and whether it gives a complete row: nan and inf convert, a number out of range
// does not; a line that is not blank and has fewer than three cells is reported with its number.
TEST_F(CsvReaderTest, IrregularCells) {
  FERROKIT kit;
  ASSERT_TRUE(read(kit, writeFile("cells.csv",
                                  "1,,3\n"            // empty middle cell: reported, stays 0
                                  "4,5,\n"            // trailing comma: two cells, short line
                                  "7,8,9,10,x\n"      // cells after the third are never read
                                  "\n"                // empty line: row stays 0, no message
                                  "0.5abc, 2x ,3e\n"  // trailing letters ignored, blanks skipped
                                  "1e999,-1e999,2\n"  // out of range: reported, stays 0
                                  "12\n"              // short line: missing cells stay 0
                                  ",,\n"              // two empty cells reported, short line
                                  "nan,-inf,INF\n"    // not finite, but numbers
                                  " \t \n")));        // blank: its one cell is reported
  const std::vector<Row> expected = {{1, 0, 3},   {4, 5, 0}, {7, 8, 9},  kZero,
                                     {0.5, 2, 3}, {0, 0, 2}, {12, 0, 0}, kZero};
  const std::vector<Row> rows = rowsOf(kit);
  ASSERT_EQ(rows.size(), 11u);
  EXPECT_EQ(std::vector<Row>(rows.begin(), rows.begin() + 8), expected);
  EXPECT_TRUE(std::isnan(rows[8][0]));
  EXPECT_EQ(rows[8][1], -HUGE_VAL);
  EXPECT_EQ(rows[8][2], HUGE_VAL);
  EXPECT_EQ(kit.getCompleteRows(), (std::vector<std::uint8_t>{0, 0, 1, 0, 1, 0, 0, 0, 1, 0, 0}));
  EXPECT_EQ(kit.completeRowCount(), 3u);
  EXPECT_EQ(messages_,
            "Header : \n"
            "Line 2 : fewer than 3 comma-separated cells : 4,5,\n"
            "Header : 1e999\nHeader : -1e999\n"
            "Line 7 : fewer than 3 comma-separated cells : 12\n"
            "Header : \nHeader : \n"
            "Line 8 : fewer than 3 comma-separated cells : ,,\n"
            "Header :  \t \n");
}

// Echoed cells and lines cannot drive a terminal: control bytes other than the tab are escaped
// and long text is cut. Past 40 messages only their count is printed.
TEST_F(CsvReaderTest, MessagesAreEscapedCutAndCapped) {
  FERROKIT kit;
  const std::string longCell(1000, 'x');
  ASSERT_TRUE(read(kit, writeFile("hostile.csv", "\x1b]0;title\x07,1,2\n" + longCell + ",1,2\n")));
  EXPECT_EQ(messages_,
            "Header : \\x1B]0;title\\x07\nHeader : " + longCell.substr(0, 200) + "...\n");

  std::string manyShortLines;
  for (int line = 0; line < 100; ++line) {
    manyShortLines += "0.1;0.2;0.3\n";
  }
  ASSERT_TRUE(read(kit, writeFile("semicolons.csv", manyShortLines)));
  const std::vector<std::string> lines = test_support::splitLines(messages_);
  ASSERT_EQ(lines.size(), 41u);
  EXPECT_EQ(lines[0], "Line 1 : fewer than 3 comma-separated cells : 0.1;0.2;0.3");
  EXPECT_EQ(lines[39], "Line 40 : fewer than 3 comma-separated cells : 0.1;0.2;0.3");
  EXPECT_EQ(lines[40], "(60 more messages not shown)");
  EXPECT_EQ(kit.completeRowCount(), 0u);
}

// A read error ends the read with an exception that names the file and the reason, and leaves no
// samples. Reading the process's own memory at address 0 fails with an I/O error.
TEST_F(CsvReaderTest, ReadErrorThrowsAndLeavesNoSamples) {
  FERROKIT kit;
  ASSERT_TRUE(read(kit, writeFile("mag.csv", "1,2,3\n")));
  try {
    read(kit, "/proc/self/mem");
    FAIL() << "no exception";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "cannot read '/proc/self/mem': Input/output error");
  }
  EXPECT_TRUE(rowsOf(kit).empty());
  EXPECT_TRUE(kit.getCompleteRows().empty());
}

TEST_F(CsvReaderTest, EmptyAndHeaderOnlyFiles) {
  FERROKIT empty;
  EXPECT_TRUE(read(empty, writeFile("empty.csv", "")));
  EXPECT_EQ(messages_, "");
  EXPECT_EQ(rowsOf(empty), std::vector<Row>{kZero});

  FERROKIT header;
  EXPECT_TRUE(read(header, writeFile("header.csv", "CAP_magX,CAP_magY,CAP_magZ\n")));
  EXPECT_EQ(messages_, "Header : CAP_magX\nHeader : CAP_magY\nHeader : CAP_magZ\n");
  EXPECT_EQ(rowsOf(header), (std::vector<Row>{kZero, kZero}));
}

TEST_F(CsvReaderTest, UnopenablePathsLeaveTheColumnsUnchanged) {
  FERROKIT kit;
  EXPECT_FALSE(read(kit, (dir_ / "missing.csv").string()));
  EXPECT_EQ(messages_, "Can not open csv file\n");
  EXPECT_TRUE(rowsOf(kit).empty());

  // A directory is no file of samples, even where the system lets it be opened.
  EXPECT_FALSE(read(kit, dir_.string()));
  EXPECT_EQ(messages_, "Can not open csv file\n");
  EXPECT_TRUE(rowsOf(kit).empty());

  // Nor is a FIFO (opening one without a writer would block) or a device.
  const std::string fifo = (dir_ / "fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(read(kit, fifo));
  EXPECT_FALSE(read(kit, "/dev/null"));
  EXPECT_EQ(messages_, "Can not open csv file\n");

  ASSERT_TRUE(read(kit, writeFile("mag.csv", "x,y,z\n1,2,3\n")));
  EXPECT_FALSE(read(kit, (dir_ / "missing.csv").string()));
  EXPECT_EQ(rowsOf(kit), (std::vector<Row>{kZero, {1, 2, 3}, kZero}));
}

// A link to a sample file is read like the file itself (absolute, relative and chained links);
// a dangling link and a link to a directory are refused like a missing file.
TEST_F(CsvReaderTest, LinksToAFileAreFollowed) {
  const std::string target = writeFile("mag.csv", "x,y,z\n1,2,3\n");
  fs::create_symlink(target, dir_ / "absolute.csv");
  fs::create_symlink("mag.csv", dir_ / "relative.csv");
  fs::create_symlink(dir_ / "absolute.csv", dir_ / "chained.csv");
  for (const char* name : {"absolute.csv", "relative.csv", "chained.csv"}) {
    SCOPED_TRACE(name);
    FERROKIT kit;
    EXPECT_TRUE(read(kit, (dir_ / name).string()));
    EXPECT_EQ(messages_, "Header : x\nHeader : y\nHeader : z\n");
    EXPECT_EQ(rowsOf(kit), (std::vector<Row>{kZero, {1, 2, 3}, kZero}));
  }

  fs::create_symlink(dir_ / "gone.csv", dir_ / "dangling.csv");
  fs::create_directory_symlink(dir_, dir_ / "folder");
  for (const char* name : {"dangling.csv", "folder"}) {
    SCOPED_TRACE(name);
    FERROKIT kit;
    EXPECT_FALSE(read(kit, (dir_ / name).string()));
    EXPECT_EQ(messages_, "Can not open csv file\n");
    EXPECT_TRUE(rowsOf(kit).empty());
  }
}

TEST_F(CsvReaderTest, SecondReadResizesAndKeepsUnparsedEntries) {
  FERROKIT kit;
  ASSERT_TRUE(read(kit, writeFile("first.csv", "1,2,3\n4,5,6\n7,8,9\n10,11,12\n")));
  ASSERT_EQ(rowsOf(kit).size(), 5u);

  // Shorter file: the tail is dropped, cells that do not convert keep the first file's values.
  ASSERT_TRUE(read(kit, writeFile("second.csv", "hdr,-2,\n40,x")));
  EXPECT_EQ(messages_,
            "Header : hdr\nLine 1 : fewer than 3 comma-separated cells : hdr,-2,\n"
            "Header : x\nLine 2 : fewer than 3 comma-separated cells : 40,x\n");
  EXPECT_EQ(rowsOf(kit), (std::vector<Row>{{1, -2, 3}, {40, 5, 6}}));

  // Longer file: new rows start at zero.
  ASSERT_TRUE(read(kit, writeFile("third.csv", "\n\n\n,9\n")));
  EXPECT_EQ(rowsOf(kit), (std::vector<Row>{{1, -2, 3}, {40, 5, 6}, kZero, {0, 9, 0}, kZero}));
  EXPECT_EQ(kit.completeRowCount(), 0u);
}

}  // namespace
