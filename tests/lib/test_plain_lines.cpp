// The reader's one-scan path for plain delimited lines: every line it reads must give the sample
// the general rules give (bit for bit, as strtod reads each cell), and every line it cannot read
// (quotes, hexadecimal, too many digits, too few cells, text) must fall back to those rules with
// the same sample or the same skip, problem and column.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fluxtrim/samples.hpp"

namespace {

struct Expected {
  const char* line;
  bool sample;                    // read as a sample; otherwise skipped
  fluxtrim::LineProblem problem;  // of a skipped line
  int column;                     // of a skipped line, -1 for the line as a whole
};

using fluxtrim::LineProblem;

// strtod of each of the first three cells, as the general rules read them after trimming.
fluxtrim::Vec3 strtodCells(const std::string& line, char separator) {
  fluxtrim::Vec3 value{};
  std::size_t start = 0;
  for (int axis = 0; axis < 3; ++axis) {
    std::size_t end = line.find(separator, start);
    std::string cell = line.substr(start, end == std::string::npos ? end : end - start);
    cell.erase(0, cell.find_first_not_of(" \t\r\""));
    value[static_cast<std::size_t>(axis)] = std::strtod(cell.c_str(), nullptr);
    start = end + 1;
  }
  return value;
}

void expectRead(const std::vector<Expected>& lines, const std::string& header, char separator) {
  std::string text = header + "\n";
  for (const Expected& e : lines) {
    text += std::string(e.line) + "\n";
  }
  std::istringstream in(text);
  fluxtrim::ReadOptions options;
  const fluxtrim::SampleSet set = fluxtrim::readSamples(in, options, "plain");
  std::size_t sample = 0;
  std::size_t skipped = 0;
  for (std::size_t k = 0; k < lines.size(); ++k) {
    const Expected& e = lines[k];
    SCOPED_TRACE(e.line);
    const std::uint64_t lineNumber = k + 2;
    if (e.sample) {
      ASSERT_LT(sample, set.values.size());
      EXPECT_EQ(set.lineNumbers[sample], lineNumber);
      const fluxtrim::Vec3 expected = strtodCells(e.line, separator);
      EXPECT_EQ(std::memcmp(&set.values[sample], &expected, sizeof expected), 0)
          << set.values[sample][0] << " " << set.values[sample][1] << " " << set.values[sample][2];
      ++sample;
    } else {
      ASSERT_LT(skipped, set.summary.skipped.size());
      const fluxtrim::SkippedLine& s = set.summary.skipped[skipped];
      EXPECT_EQ(s.line, lineNumber);
      EXPECT_EQ(s.problem, e.problem);
      EXPECT_EQ(s.column, e.column);
      ++skipped;
    }
  }
  EXPECT_EQ(set.values.size(), sample);
  EXPECT_EQ(set.summary.skippedLines, skipped);
}

// Faults caught: a fast number that differs from strtod's (rounding, sign of zero, digits past
// 2^53), a cell passed whose text goes on after the number, quotes or hexadecimal refused where
// the general rules read them, and a line it cannot read counted twice or not at all.
TEST(PlainLines, CommaLinesReadAsTheGeneralRulesReadThem) {
  expectRead(
      {
          {"-0.322593324895122,0.00705886092941945,-0.187678522409749", true, {}, 0},
          {" 1.5 , 2.5 ,3.5 ", true, {}, 0},
          {"\"1.5\",2,3", true, {}, 0},
          {"0x10,2,3", true, {}, 0},
          {"-0,0.000,3", true, {}, 0},
          {"12345678901234567890,9007199254740993,1e23", true, {}, 0},
          {"1.,-.5,4E-3", true, {}, 0},
          {"1,2,3,some text", true, {}, 0},
          {"1,2,3\r", true, {}, 0},
          {"1e,2,3", false, LineProblem::NotANumber, 0},
          {"1,2.5.1,3", false, LineProblem::NotANumber, 1},
          {"1,,3", false, LineProblem::NotANumber, 1},
          {"1,2,3x", false, LineProblem::NotANumber, 2},
          {"1,2", false, LineProblem::TooFewCells, -1},
          {"1e400,2,3", false, LineProblem::OutOfRange, 0},
          {"1,nan,3", false, LineProblem::NotFinite, 1},
          {"4,5,6", true, {}, 0},
      },
      "x,y,z", ',');
}

// Tabs are both the separator and blanks about a cell: a blank before a tab must not take it.
TEST(PlainLines, TabLinesKeepTheirSeparator) {
  expectRead(
      {
          {"1.25\t2.5\t3.75", true, {}, 0},
          {" 1.25 \t 2.5 \t 3.75 ", true, {}, 0},
          {"1.25\t\t3.75", false, LineProblem::NotANumber, 1},
          {"1.25\t2.5", false, LineProblem::TooFewCells, -1},
          {"7\t8\t9", true, {}, 0},
      },
      "x\ty\tz", '\t');
}

}  // namespace
