// Tests of the sample reader and the units: detection of the delimiter, the header and the
// columns; every line that gives no sample reported with its number; exact conversion; reading
// across buffer boundaries from a path, a stream, a pipe and standard input; I/O failures.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <streambuf>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "fluxtrim/error.hpp"
#include "fluxtrim/samples.hpp"
#include "fluxtrim/units.hpp"
#include "test_support.h"

namespace {

using fluxtrim::Delimiter;
using fluxtrim::LineProblem;
using fluxtrim::ReadOptions;
using fluxtrim::SampleSet;
using fluxtrim::Vec3;

SampleSet readText(const std::string& text, const ReadOptions& options = {}) {
  std::istringstream in(text);
  return fluxtrim::readSamples(in, options, "test.csv");
}

std::vector<Vec3> valuesOf(const std::string& text, const ReadOptions& options = {}) {
  return readText(text, options).values;
}

std::uint64_t problemCount(const SampleSet& set, LineProblem problem) {
  return set.summary.skippedByProblem[static_cast<std::size_t>(problem)];
}

// Every line is counted in exactly one class.
void expectLinesAddUp(const fluxtrim::ReadSummary& s) {
  EXPECT_EQ(s.lines,
            s.headerLines + s.commentLines + s.blankLines + s.sampleLines + s.skippedLines);
}

// The message of the exception fn throws, or a failure when it throws none of type E.
template <typename E, typename Fn>
std::string messageOf(Fn fn) {
  try {
    fn();
  } catch (const E& error) {
    return error.what();
  }
  ADD_FAILURE() << "no exception of the expected type";
  return "";
}

const std::vector<Vec3> kTwoSamples = {{1.5, -2.0, 3.25}, {4.0, 5.0, -6.5}};

TEST(SampleLayoutTest, DetectsEachDelimiterAndLineEnd) {
  struct Case {
    const char* text;
    Delimiter delimiter;
  };
  const Case cases[] = {
      {"x,y,z\n1.5,-2,3.25\n4,5,-6.5\n", Delimiter::Comma},
      {"x;y;z\r\n1.5;-2;3.25\r\n4;5;-6.5\r\n", Delimiter::Semicolon},
      {"x\ty\tz\n1.5\t-2\t3.25\n4\t5\t-6.5", Delimiter::Tab},  // no final line end
      {"  x    y    z\n  1.5  -2   3.25\n  4    5   -6.5  \n", Delimiter::Blanks},
      {"x, y, z\r1.5, -2, 3.25\r4, 5, -6.5\r", Delimiter::Comma},        // carriage returns only
      {"\xEF\xBB\xBFx,y,z\n1.5,-2,3.25\n4,5,-6.5\n", Delimiter::Comma},  // UTF-8 byte order mark
  };
  for (const Case& c : cases) {
    const SampleSet set = readText(c.text);
    EXPECT_EQ(set.summary.delimiter, c.delimiter) << c.text;
    EXPECT_EQ(set.values, kTwoSamples) << c.text;
    EXPECT_EQ(set.summary.headerLines, 1u) << c.text;
    EXPECT_EQ(set.lineNumbers, (std::vector<std::uint64_t>{2, 3})) << c.text;
  }
  // Semicolons beside decimal commas: the semicolon is the delimiter and "1,5" is no number.
  const SampleSet decimalComma = readText("x;y;z\n1,5;2,5;3,5\n1,5;2,5;3,5\n");
  EXPECT_EQ(decimalComma.summary.delimiter, Delimiter::Semicolon);
  EXPECT_EQ(problemCount(decimalComma, LineProblem::NotANumber), 2u);
  // A delimiter that is given wins over detection.
  ReadOptions blanks;
  blanks.delimiter = Delimiter::Blanks;
  EXPECT_EQ(valuesOf("4 5 6\n1,5 2 3\n", blanks).size(), 1u);
}

TEST(SampleLayoutTest, HeaderCommentAndBlankLinesAreCountedWithCorrectLineNumbers) {
  const SampleSet set = readText(
      "# logger 1.2\n"
      "Device: unit 7\n"
      "mag_x,mag_y,mag_z\n"
      "uT,uT,uT\n"
      "\n"
      "1.5,-2,3.25\n"
      "  # paused\n"
      " \t \n"
      "4,5,-6.5\n"
      "x,y,z\n");
  const fluxtrim::ReadSummary& s = set.summary;
  EXPECT_EQ(s.lines, 10u);
  EXPECT_EQ(s.headerLines, 3u);
  EXPECT_EQ(s.commentLines, 2u);
  EXPECT_EQ(s.blankLines, 2u);
  EXPECT_EQ(s.sampleLines, 2u);
  EXPECT_EQ(set.lineNumbers, (std::vector<std::uint64_t>{6, 9}));
  EXPECT_EQ(set.values, kTwoSamples);
  EXPECT_EQ(s.header, (std::vector<std::string>{"mag_x", "mag_y", "mag_z"}));
  // A header line after the data is a skipped line.
  ASSERT_EQ(s.skipped.size(), 1u);
  EXPECT_EQ(s.skipped[0].line, 10u);
  EXPECT_EQ(s.skipped[0].problem, LineProblem::NotANumber);
  expectLinesAddUp(s);

  // Without a header every line is data; with HeaderMode::Present the first line is the header
  // even when it holds numbers.
  EXPECT_EQ(readText("1.5,-2,3.25\n4,5,-6.5\n").summary.headerLines, 0u);
  ReadOptions present;
  present.header = fluxtrim::HeaderMode::Present;
  EXPECT_EQ(valuesOf("1,2,3\n1.5,-2,3.25\n4,5,-6.5\n", present), kTwoSamples);
  // A header in a comment, as numpy writes it, names the columns.
  ReadOptions named;
  named.columnNames = {"X", "Y", "Z"};
  EXPECT_EQ(valuesOf("# z y x\n3.25 -2 1.5\n-6.5 5 4\n", named), kTwoSamples);
}

TEST(SampleLayoutTest, ChoosesTheSampleColumns) {
  struct Case {
    std::string text;
    std::array<int, 3> columns;
  };
  std::string rising;  // a counter column without a header, then three numbers
  for (int k = 0; k < 10; ++k) {
    rising += std::to_string(100 + k) + "," + std::to_string(k % 3) + "," + std::to_string(k % 2) +
              "," + std::to_string(k % 4) + "\n";
  }
  const Case cases[] = {
      {"time_ms,x,y,z\n10,1,2,3\n20,4,5,6\n", {1, 2, 3}},
      {"1,2,3\n4,5,6\n", {0, 1, 2}},  // the only three numeric columns
      {"timestamp,Bx (uT),By (uT),Bz (uT)\n2024-05-01T12:00:00Z,1,2,3\n", {1, 2, 3}},
      {"time,seconds_elapsed,z,y,x\n1,0.1,3,2,1\n2,0.2,3,2,1\n", {4, 3, 2}},  // named out of order
      {"t,ax,ay,az,gx,gy,gz,mx,my,mz\n" + std::string("0,1,2,3,4,5,6,7,8,9\n"), {7, 8, 9}},
      {"accX,accY,accZ,CAP_magX,CAP_magY,CAP_magZ,temp\n1,2,3,4,5,6,7\n", {3, 4, 5}},
      {"time,x,y,z,mag_x,mag_y,mag_z\n0,1,2,3,4,5,6\n", {4, 5, 6}},  // magnetometer names first
      {"acc_x,acc_y,acc_z,x,y,z\n1,2,3,4,5,6\n", {3, 4, 5}},         // never another sensor's
      {"seq,time,a,b,c\n1,0.5,1,2,3\n", {2, 3, 4}},                  // named counters passed over
      {rising, {1, 2, 3}},
  };
  // More numeric columns than that, none named as the magnetometer's: the reader asks (see
  // test_sample_layouts.cpp).
  for (const Case& c : cases) {
    EXPECT_EQ(readText(c.text).summary.columns, c.columns) << c.text;
  }
}

TEST(SampleLayoutTest, ColumnsByNameOrIndexAndTheirErrors) {
  const std::string text = "Time,MagX,MagY,MagZ,Extra\n0,1.5,-2,3.25,9\n1,4,5,-6.5,9\n";
  ReadOptions byName;
  byName.columnNames = {"magx", " MAGY ", "magz"};
  EXPECT_EQ(valuesOf(text, byName), kTwoSamples);
  ReadOptions byIndex;
  byIndex.columnIndices = {3, 2, 1};
  EXPECT_EQ(valuesOf(text, byIndex), (std::vector<Vec3>{{3.25, -2.0, 1.5}, {-6.5, 5.0, 4.0}}));

  ReadOptions missing;
  missing.columnNames = {"MagX", "MagY", "mag_z"};
  const std::string message = messageOf<fluxtrim::UsageError>([&] { readText(text, missing); });
  EXPECT_NE(message.find("'mag_z'"), std::string::npos) << message;
  EXPECT_NE(message.find("Time, MagX, MagY, MagZ, Extra"), std::string::npos) << message;

  ReadOptions beyond;
  beyond.columnIndices = {0, 1, 7};
  EXPECT_NE(messageOf<fluxtrim::UsageError>([&] { readText(text, beyond); }).find("index 7"),
            std::string::npos);

  ReadOptions malformed[4];
  malformed[0].columnIndices = {0, 1};
  malformed[1].columnIndices = {0, 1, 1};
  malformed[2].columnIndices = {-1, 1, 2};
  malformed[3].columnNames = {"a", "b", "c"};
  malformed[3].columnIndices = {0, 1, 2};
  for (const ReadOptions& options : malformed) {
    EXPECT_THROW(readText(text, options), fluxtrim::UsageError);
  }
}

TEST(SampleUnitTest, ParsesUnitsAndConvertsToGauss) {
  using fluxtrim::Unit;
  const std::pair<const char*, Unit> accepted[] = {
      {"G", Unit::Gauss},
      {"gauss", Unit::Gauss},
      {"mG", Unit::Milligauss},
      {"MilliGauss", Unit::Milligauss},
      {"uT", Unit::Microtesla},
      {"\xC2\xB5T", Unit::Microtesla},
      {" microtesla ", Unit::Microtesla},
      {"nT", Unit::Nanotesla},
      {"NANOTESLA", Unit::Nanotesla},
      {"T", Unit::Tesla},
      {"tesla", Unit::Tesla},
  };
  for (const auto& [text, unit] : accepted) {
    EXPECT_EQ(fluxtrim::parseUnit(text).unit, unit) << text;
  }
  const fluxtrim::SampleUnit counts = fluxtrim::parseUnit("counts:1090");
  EXPECT_EQ(counts.unit, Unit::Counts);
  EXPECT_EQ(counts.countsPerGauss, 1090.0);
  EXPECT_EQ(counts.name(), "counts (1090 per gauss)");
  EXPECT_EQ(fluxtrim::SampleUnit::counts(0.1).name(), "counts (0.1 per gauss)");
  for (const char* text : {"", "g", "MG", "ut", "counts", "counts:", "counts:0", "counts:-5",
                           "counts:inf", "counts:12abc", "kilogauss"}) {
    EXPECT_THROW(fluxtrim::parseUnit(text), fluxtrim::UsageError) << text;
  }

  // gauss per unit and the correctly rounded conversion: 48300 nT is the double nearest 0.483 G,
  // which 48300 * 1e-5 misses by one unit in the last place.
  EXPECT_EQ(fluxtrim::parseUnit("uT").gaussPerUnit(), 0.01);
  EXPECT_EQ(fluxtrim::parseUnit("nT").gaussPerUnit(), 1e-5);
  EXPECT_EQ(fluxtrim::parseUnit("T").gaussPerUnit(), 1e4);
  EXPECT_EQ(counts.gaussPerUnit(), 1.0 / 1090.0);
  EXPECT_EQ(fluxtrim::parseUnit("nT").toGauss(48300.0), 0.483);
  EXPECT_NE(48300.0 * 1e-5, 0.483);
  EXPECT_EQ(fluxtrim::parseUnit("uT").toGauss(48.3), 0.483);
  EXPECT_EQ(fluxtrim::parseUnit("mG").toGauss(483.0), 0.483);
  EXPECT_THROW(fluxtrim::SampleUnit::counts(0.0).toGauss(1.0), fluxtrim::UsageError);

  // fromGauss is the inverse, rounded once: each unit's count per gauss exactly, and a strength
  // typed in one unit reaches another through gauss with two single roundings.
  const std::pair<Unit, double> perGauss[] = {{Unit::Gauss, 1.0},
                                              {Unit::Milligauss, 1000.0},
                                              {Unit::Microtesla, 100.0},
                                              {Unit::Nanotesla, 100000.0},
                                              {Unit::Tesla, 1e-4}};
  for (const auto& [unit, count] : perGauss) {
    EXPECT_EQ(fluxtrim::SampleUnit{unit}.fromGauss(1.0), count) << static_cast<int>(unit);
    EXPECT_EQ(fluxtrim::SampleUnit{unit}.toGauss(count), 1.0) << static_cast<int>(unit);
  }
  EXPECT_EQ(fluxtrim::parseUnit("nT").fromGauss(0.483), 48300.0);
  EXPECT_EQ(counts.fromGauss(2.0), 2180.0);
  EXPECT_THROW(fluxtrim::SampleUnit::counts(-1.0).fromGauss(1.0), fluxtrim::UsageError);

  // Between two units: through gauss, and not at all between units of as many gauss, so that a
  // value in its own unit (or in counts of 1000 per gauss taken as milligauss) keeps every bit.
  const fluxtrim::SampleUnit milligauss{Unit::Milligauss};
  EXPECT_EQ(fluxtrim::convertUnit(0.1 + 0.2, milligauss, milligauss), 0.1 + 0.2);
  EXPECT_EQ(fluxtrim::convertUnit(0.1 + 0.2, fluxtrim::SampleUnit::counts(1000.0), milligauss),
            0.1 + 0.2);
  EXPECT_EQ(fluxtrim::convertUnit(2180.0, counts, fluxtrim::parseUnit("uT")), 200.0);
  EXPECT_EQ(fluxtrim::convertUnit(1.0, fluxtrim::parseUnit("uT"), milligauss), 10.0);

  // A unit given to the reader is kept, and checked before anything is read.
  ReadOptions options;
  options.unit = fluxtrim::parseUnit("uT");
  const SampleSet set = readText("1,2,3\n", options);
  EXPECT_TRUE(set.unitGiven);
  EXPECT_EQ(set.unit.unit, Unit::Microtesla);
  options.unit = fluxtrim::SampleUnit::counts(std::nan(""));
  EXPECT_THROW(readText("1,2,3\n", options), fluxtrim::UsageError);
}

TEST(SampleReadTest, EveryLineWithoutASampleIsReportedWithItsNumber) {
  ReadOptions options;
  options.maxListedLines = 6;
  const SampleSet set = readText(
      "x,y,z\n"
      "1,2,3\n"
      "12abc,2,3\r\n"   // 3: not a number
      "1,,3\n"          // 4: empty cell
      "1,2\n"           // 5: too few cells
      "1,nan,3\n"       // 6: not finite
      "1,2,-inf\n"      // 7
      "1e999,2,3\n"     // 8: out of range
      "1,1e-400,3\n"    // 9: underflow, not a silent 0
      "1,2,3\x1b[2J\n"  // 10: an escape sequence, listed escaped
      "4,5,6\r\n",
      options);
  const fluxtrim::ReadSummary& s = set.summary;
  EXPECT_EQ(set.values, (std::vector<Vec3>{{1, 2, 3}, {4, 5, 6}}));
  EXPECT_EQ(set.lineNumbers, (std::vector<std::uint64_t>{2, 11}));
  EXPECT_EQ(s.skippedLines, 8u);
  EXPECT_EQ(problemCount(set, LineProblem::NotANumber), 3u);
  EXPECT_EQ(problemCount(set, LineProblem::TooFewCells), 1u);
  EXPECT_EQ(problemCount(set, LineProblem::NotFinite), 2u);
  EXPECT_EQ(problemCount(set, LineProblem::OutOfRange), 2u);
  expectLinesAddUp(s);

  // Only the first six are listed, with their line, problem and column.
  ASSERT_EQ(s.skipped.size(), 6u);
  const std::tuple<std::uint64_t, LineProblem, int> listed[] = {
      {3, LineProblem::NotANumber, 0},   {4, LineProblem::NotANumber, 1},
      {5, LineProblem::TooFewCells, -1}, {6, LineProblem::NotFinite, 1},
      {7, LineProblem::NotFinite, 2},    {8, LineProblem::OutOfRange, 0},
  };
  for (std::size_t k = 0; k < 6; ++k) {
    EXPECT_EQ(s.skipped[k].line, std::get<0>(listed[k])) << k;
    EXPECT_EQ(s.skipped[k].problem, std::get<1>(listed[k])) << k;
    EXPECT_EQ(s.skipped[k].column, std::get<2>(listed[k])) << k;
  }
  EXPECT_EQ(s.skipped[0].text, "12abc,2,3");
  options.maxListedLines = 100;
  EXPECT_EQ(readText("1,2,3\n1,2,3\x1b[2J\n", options).summary.skipped.at(0).text, "1,2,3\\x1B[2J");

  // Every problem and delimiter has its own words, the ones every message uses: a new
  // enumerator without a name would read "unknown" or repeat another's.
  std::set<std::string> names;
  for (int p = 0; p < fluxtrim::kLineProblemCount; ++p) {
    names.insert(fluxtrim::lineProblemName(static_cast<LineProblem>(p)));
  }
  EXPECT_EQ(names,
            (std::set<std::string>{"too few cells", "not a number", "out of range", "not finite"}));
  names.clear();
  for (fluxtrim::Delimiter d :
       {fluxtrim::Delimiter::Auto, fluxtrim::Delimiter::Comma, fluxtrim::Delimiter::Semicolon,
        fluxtrim::Delimiter::Tab, fluxtrim::Delimiter::Blanks}) {
    names.insert(fluxtrim::delimiterName(d));
  }
  EXPECT_EQ(names.size(), 5u);
}

TEST(SampleReadTest, ConversionIsExactlyStrtod) {
  const char* const numbers[] = {
      "0.1",
      "0.30000000000000004",
      "9007199254740993",  // 2^53 + 1: halfway, rounds to even
      "2.2250738585072014e-308",
      "1.7976931348623157e308",
      "-0",
      "0x1.8p1",
      "1.00000000000000011102230246251565404236316680908203125",  // halfway above 1
      "4.35679702957903e-1",
  };
  std::string text;
  std::vector<double> expected;
  for (const char* number : numbers) {
    text += std::string(number) + ", 1, \"" + number + "\"\n";
    expected.push_back(std::strtod(number, nullptr));
  }
  const SampleSet set = readText(text);
  ASSERT_EQ(set.values.size(), expected.size());
  for (std::size_t k = 0; k < expected.size(); ++k) {
    EXPECT_EQ(std::memcmp(&set.values[k][0], &expected[k], sizeof(double)), 0) << numbers[k];
    EXPECT_EQ(std::memcmp(&set.values[k][2], &expected[k], sizeof(double)), 0) << numbers[k];
  }
}

// Inputs larger than the reader's buffer, with lines of varied length so that buffer ends fall
// inside lines and cells.
class SampleInputTest : public test_support::TempDirTest {
 protected:
  SampleInputTest() : TempDirTest("fluxtrim_samples") {}

  static constexpr int kLines = 150000;  // about 4 MB: several buffers and sample blocks

  static std::string bigText() {
    std::string text = "mag_x,mag_y,mag_z\r\n";
    char line[96];
    for (int k = 0; k < kLines; ++k) {
      const int length = std::snprintf(line, sizeof line, "%d.%0*d,%d,-%d.125\r\n", k, k % 7 + 1,
                                       k % 10, k * 3, k);
      text.append(line, static_cast<std::size_t>(length));
    }
    return text;
  }

  static void expectBig(const SampleSet& set) {
    ASSERT_EQ(set.values.size(), static_cast<std::size_t>(kLines));
    for (int k = 0; k < kLines; k += 997) {
      char x[32];
      std::snprintf(x, sizeof x, "%d.%0*d", k, k % 7 + 1, k % 10);
      EXPECT_EQ(set.values[k][0], std::strtod(x, nullptr)) << k;
      EXPECT_EQ(set.values[k][1], 3.0 * k) << k;
      EXPECT_EQ(set.values[k][2], -(k + 0.125)) << k;
      EXPECT_EQ(set.lineNumbers[k], static_cast<std::uint64_t>(k) + 2) << k;
    }
    EXPECT_EQ(set.values.back()[1], 3.0 * (kLines - 1));
    EXPECT_EQ(set.summary.skippedLines, 0u);
  }
};

TEST_F(SampleInputTest, ReadsAPathAStreamAPipeAndStandardInputAlike) {
  const std::string text = bigText();
  const std::string path = writeFile("big.csv", text);

  std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
  ReadOptions options;
  options.progress = [&](std::uint64_t done, std::uint64_t total) {
    calls.emplace_back(done, total);
  };
  const SampleSet fromPath = fluxtrim::readSamples(path, options);
  expectBig(fromPath);
  EXPECT_EQ(fromPath.source, path);
  EXPECT_EQ(fromPath.summary.bytes, text.size());
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back(), std::make_pair(std::uint64_t{text.size()}, std::uint64_t{text.size()}));

  std::istringstream stream(text);
  expectBig(fluxtrim::readSamples(stream));

  // Standard input from a pipe, written by another thread; then a named pipe by path.
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  std::thread writer([&] {
    EXPECT_EQ(write(ends[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(ends[1]);
  });
  const int savedInput = dup(STDIN_FILENO);
  dup2(ends[0], STDIN_FILENO);
  close(ends[0]);
  const SampleSet fromStdin = fluxtrim::readSamples("-");
  dup2(savedInput, STDIN_FILENO);
  close(savedInput);
  writer.join();
  expectBig(fromStdin);
  EXPECT_EQ(fromStdin.source, "-");

  const std::string fifo = (dir_ / "fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::thread fifoWriter([&] { writeFile("fifo", text); });
  const SampleSet fromFifo = fluxtrim::readSamples(fifo);
  fifoWriter.join();
  expectBig(fromFifo);
}

TEST_F(SampleInputTest, ALineLongerThanTheBufferKeepsTheLinesAfterIt) {
  const std::string path =
      writeFile("long.csv", "x,y,z\n1.5,-2,3.25," + std::string(3 << 20, 'a') + "\n7,8," +
                                std::string(2 << 20, '9') + "\n4,5,-6.5\n");
  const SampleSet set = fluxtrim::readSamples(path);
  EXPECT_EQ(set.values, kTwoSamples);
  EXPECT_EQ(set.lineNumbers, (std::vector<std::uint64_t>{2, 4}));
  ASSERT_EQ(set.summary.skipped.size(), 1u);
  EXPECT_EQ(set.summary.skipped[0].line, 3u);
  EXPECT_EQ(set.summary.skipped[0].column, 2);
  EXPECT_LT(set.summary.skipped[0].text.size(), 300u);
}

// A stream buffer that gives some lines, then fails as a file buffer does on a read error.
class FailingBuffer : public std::streambuf {
 public:
  FailingBuffer() { setg(text_, text_, text_ + sizeof text_ - 1); }

 protected:
  int_type underflow() override { throw std::ios_base::failure("disk on fire"); }

 private:
  char text_[19] = "x,y,z\n1,2,3\n4,5,6\n";
};

TEST_F(SampleInputTest, InputThatCannotBeReadIsAnIoErrorNamingTheSourceAndReason) {
  const auto expectIoError = [](const std::function<void()>& read,
                                std::initializer_list<const char*> parts) {
    const std::string message = messageOf<fluxtrim::IoError>(read);
    for (const char* part : parts) {
      EXPECT_NE(message.find(part), std::string::npos) << message << " lacks " << part;
    }
  };
  const std::string missing = (dir_ / "missing.csv").string();
  expectIoError([&] { fluxtrim::readSamples(missing); }, {"missing.csv", "No such file"});
  expectIoError([&] { fluxtrim::readSamples(dir_.string()); }, {"directory"});
  // Opens, then every read fails.
  expectIoError([] { fluxtrim::readSamples("/proc/self/mem"); },
                {"/proc/self/mem", "Input/output error"});
  // Fails after some lines: no partial result.
  FailingBuffer failing;
  std::istream failingStream(&failing);
  expectIoError([&] { fluxtrim::readSamples(failingStream, {}, "sensor.log"); },
                {"sensor.log", "disk on fire"});
  std::ifstream unopened(missing);
  expectIoError([&] { fluxtrim::readSamples(unopened, {}, missing); }, {"missing.csv"});
  const std::string utf16 = writeFile("utf16.csv", std::string("\xFF\xFEx\0,\0", 6));
  expectIoError([&] { fluxtrim::readSamples(utf16); }, {"UTF-16"});
}

}  // namespace
