// A long file read in two halves, the second on another thread, must give what one reader gives
// reading the same bytes front to back (a stream is never split): the samples bit for bit, their
// line numbers, every count and the skipped lines listed, whatever lies where the halves meet.
#include <cstring>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "coreThreads.h"
#include "fluxtrim/error.hpp"
#include "fluxtrim/samples.hpp"
#include "test_support.h"

namespace {

class SplitRead : public test_support::TempDirTest {
 protected:
  SplitRead() : TempDirTest("split_read") {}
  void SetUp() override {
    TempDirTest::SetUp();
    coder::internal::setCoreThreads(2, 0);
  }
  void TearDown() override {
    coder::internal::setCoreThreads(0, 0);
    TempDirTest::TearDown();
  }

  // Reads text from a file and from a stream and compares the two.
  void expectSameAsOneReader(const std::string& text, const fluxtrim::ReadOptions& options) {
    const std::string path = writeFile("samples.csv", text);
    const fluxtrim::SampleSet split = fluxtrim::readSamples(path, options);
    std::istringstream in(text);
    const fluxtrim::SampleSet whole = fluxtrim::readSamples(in, options, path);
    ASSERT_EQ(split.values.size(), whole.values.size());
    if (!whole.values.empty()) {
      EXPECT_EQ(std::memcmp(split.values.data(), whole.values.data(),
                            whole.values.size() * sizeof(fluxtrim::Vec3)),
                0);
    }
    EXPECT_EQ(split.lineNumbers, whole.lineNumbers);
    ASSERT_EQ(split.accelerometer.size(), whole.accelerometer.size());
    if (!whole.accelerometer.empty()) {
      EXPECT_EQ(std::memcmp(split.accelerometer.data(), whole.accelerometer.data(),
                            whole.accelerometer.size() * sizeof(fluxtrim::Vec3)),
                0);
    }
    const fluxtrim::ReadSummary& a = split.summary;
    const fluxtrim::ReadSummary& b = whole.summary;
    EXPECT_EQ(a.lines, b.lines);
    EXPECT_EQ(a.headerLines, b.headerLines);
    EXPECT_EQ(a.commentLines, b.commentLines);
    EXPECT_EQ(a.blankLines, b.blankLines);
    EXPECT_EQ(a.sampleLines, b.sampleLines);
    EXPECT_EQ(a.skippedLines, b.skippedLines);
    EXPECT_EQ(a.leftOutLines, b.leftOutLines);
    EXPECT_EQ(a.unmatchedLines, b.unmatchedLines);
    EXPECT_EQ(a.skippedByProblem, b.skippedByProblem);
    EXPECT_EQ(a.bytes, b.bytes);
    EXPECT_EQ(a.warnings, b.warnings);
    ASSERT_EQ(a.skipped.size(), b.skipped.size());
    for (std::size_t k = 0; k < a.skipped.size(); ++k) {
      EXPECT_EQ(a.skipped[k].line, b.skipped[k].line) << k;
      EXPECT_EQ(a.skipped[k].problem, b.skipped[k].problem) << k;
      EXPECT_EQ(a.skipped[k].column, b.skipped[k].column) << k;
      EXPECT_EQ(a.skipped[k].text, b.skipped[k].text) << k;
    }
  }
};

// About 12 MB of samples, with odd lines every so often, so that both halves hold some; the
// piece inserted at the middle (or at three quarters) of the samples.
std::string recording(const std::string& header, const std::string& atMiddle,
                      const std::string& atThreeQuarters, const char* lineEnd) {
  constexpr int kLines = 400000;
  std::string text = header + lineEnd;
  for (int k = 0; k < kLines; ++k) {
    if (k == kLines / 2) {
      text += atMiddle;
    }
    if (k == kLines / 4 * 3) {
      text += atThreeQuarters;
    }
    text += std::to_string(0.25 + k % 1000 * 1e-4) + "," + std::to_string(-0.125 - k % 7 * 1e-3) +
            ",0." + std::to_string(100000 + k % 99991) + lineEnd;
    if (k % 50000 == 7) {
      text += std::string("# a comment") + lineEnd + lineEnd + "1,2" + lineEnd + "1,x,3" + lineEnd;
    }
  }
  return text;
}

// Faults caught: line numbers of the second half counted from its own start, skipped lines
// listed past the limit or out of order, counts of one half lost, the line where the halves meet
// read twice or not at all, a cut long line handled otherwise in the second half.
TEST_F(SplitRead, HalvesGiveWhatOneReaderGives) {
  fluxtrim::ReadOptions options;
  options.maxListedLines = 5;
  const std::string longLine = "1," + std::string(std::size_t{3} << 20, '7') + ",3\n";
  expectSameAsOneReader(recording("x,y,z", "\n\n# middle\n9,9\n", longLine, "\n"), options);
  options.maxListedLines = 1000;
  expectSameAsOneReader(recording("x,y,z", longLine, "1e400,2,3\n", "\n"), options);
  // Carriage returns before the line feeds, and a last line without a line end.
  std::string text = recording("x,y,z", "nan,1,2\r\n", "", "\r\n");
  text += "4,5,6";
  expectSameAsOneReader(text, options);
  // Only the lines that hold a text are read.
  options.match = "5";
  expectSameAsOneReader(recording("x,y,z", "", "", "\n"), options);
}

// A column beyond every line is a usage error, found over both halves together.
TEST_F(SplitRead, ColumnBeyondEveryLineIsStillAUsageError) {
  std::string text;
  for (int k = 0; k < 700000; ++k) {
    text += "1.5,2.5\n";
  }
  const std::string path = writeFile("two.csv", text);
  fluxtrim::ReadOptions options;
  options.columnIndices = {0, 1, 2};
  EXPECT_THROW(fluxtrim::readSamples(path, options), fluxtrim::UsageError);
}

}  // namespace
