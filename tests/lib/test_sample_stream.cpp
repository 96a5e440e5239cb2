// The reader fed as a serial port feeds it: the same recordings pushed in pieces of random size
// give exactly what the whole-input reader gives, and a live input is read line by line once
// its columns are known.
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "fluxtrim/error.hpp"
#include "fluxtrim/samples.hpp"
#include "logger_layouts.h"
#include "test_support.h"

namespace {

using fluxtrim::ReadOptions;
using fluxtrim::SampleSet;

SampleSet readWhole(const std::string& text, const ReadOptions& options) {
  std::istringstream in(text);
  return fluxtrim::readSamples(in, options, "rec.csv");
}

// The text pushed in pieces of 1 to maxPiece bytes, sizes drawn from seed.
SampleSet readPushed(const std::string& text, const ReadOptions& options, std::size_t maxPiece,
                     unsigned seed) {
  fluxtrim::SampleStream stream(options, "rec.csv");
  std::mt19937 random(seed);
  std::uniform_int_distribution<std::size_t> piece(1, maxPiece);
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t size = std::min(piece(random), text.size() - at);
    stream.push(text.data() + at, size);
    at += size;
  }
  stream.finish();
  return stream.samples();
}

bool sameBits(const std::vector<fluxtrim::Vec3>& a, const std::vector<fluxtrim::Vec3>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(fluxtrim::Vec3)) == 0);
}

// The parts of a summary that two readings of the same bytes must share, the skipped lines and
// the kinds with their counts among them.
auto summaryParts(const fluxtrim::ReadSummary& s) {
  std::vector<std::tuple<std::uint64_t, std::string>> skipped;
  for (const fluxtrim::SkippedLine& line : s.skipped) skipped.emplace_back(line.line, line.text);
  std::vector<std::tuple<std::string, std::uint64_t, bool>> kinds;
  for (const fluxtrim::LineKind& kind : s.kinds)
    kinds.emplace_back(kind.label, kind.lines, kind.kept);
  return std::make_tuple(
      std::vector<std::uint64_t>{s.lines, s.headerLines, s.commentLines, s.blankLines,
                                 s.sampleLines, s.skippedLines, s.leftOutLines, s.bytes},
      s.skippedByProblem, skipped, s.delimiter, s.form, s.columns, s.accelerometerColumns,
      std::vector<std::string>{s.columnRule, s.unitRule}, s.warnings, s.header, kinds);
}

void expectSame(const SampleSet& pushed, const SampleSet& whole) {
  EXPECT_TRUE(sameBits(pushed.values, whole.values));
  EXPECT_TRUE(sameBits(pushed.accelerometer, whole.accelerometer));
  EXPECT_EQ(pushed.lineNumbers, whole.lineNumbers);
  EXPECT_EQ(
      std::make_tuple(pushed.unit.unit, pushed.unitSource, pushed.accelerometerUnit.has_value()),
      std::make_tuple(whole.unit.unit, whole.unitSource, whole.accelerometerUnit.has_value()));
  EXPECT_TRUE(summaryParts(pushed.summary) == summaryParts(whole.summary));
}

// Every layout a logger writes, and the text around it that a port delivers (a cut first line,
// status lines, blank lines and comments, CRLF, a byte order mark, no final line end, a line
// longer than the reader's buffer), read in pieces of one byte to several kilobytes. Catches a
// line split across two pushes read as two, a line end or a carriage return lost at a piece's
// edge, the layout decided from other lines than the whole-input reader's, and a long line's
// rest read as lines of its own.
TEST(SampleStream, PiecesOfAnySizeGiveWhatTheWholeInputGives) {
  using namespace logger_layouts;
  const std::vector<Row> rows = tumbledRows(10);
  std::string plain = "x,y,z\r\n";
  for (int k = 0; k < 400; ++k) {
    plain += std::to_string(0.1 * k) + "," + std::to_string(-0.2 * k) + ",0.3\r\n";
    if (k % 97 == 5) plain += "status: battery low\r\n\r\n# comment\r\n1,2\r\n";
    if (k == 300) plain += std::string(std::size_t{3} << 20, '7') + ",1,2\r\n";
  }
  struct Case {
    std::string name;
    std::string text;
    ReadOptions options;
  };
  ReadOptions matchMag;
  matchMag.match = "Mag";
  ReadOptions imuColumns;
  imuColumns.columnIndices = {7, 8, 9};
  imuColumns.accelerometerColumnIndices = {1, 2, 3};
  const Case cases[] = {
      {"headerless", headerlessImu(rows), imuColumns},
      {"raw with banner", "0,12,-\n" + rawWithBanner(rows), {}},
      {"alternating", alternatingSerial(rows), {}},
      {"alternating, matched", alternatingSerial(rows), matchMag},
      {"raw and uni", rawAndUni(rows), {}},
      {"phone", "\xEF\xBB\xBF" + phoneExport(rows), {}},
      {"named with units", namedWithUnits(rows) + "1,2,3", {}},
      {"counts", sensorCounts(rows), {}},
      {"tab-separated labels", tabLabelled(rows), {}},
      {"key=value pairs", keyValuePairs(rows) + "status: ok\nmx=1 my=2\n", {}},
      {"grouped sensors", groupedSensors(rows), {}},
      {"JSON lines", jsonLines(rows) + "{\"event\": 1}\n", {}},
      {"time-stamped CSV", stampedCsv(rows), {}},
      {"unit after each value", unitEach(rows), {}},
      {"MagneticField export", magneticFieldExport(rows), {}},
      {"plain with a long line", plain, {}},
      {"carriage returns only", "1 2 3\r4 5 6\r7 8 9", {}},
      {"header alone", "mag_x,mag_y,mag_z\n", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const SampleSet whole = readWhole(c.text, c.options);
    for (const std::size_t maxPiece : {std::size_t{1}, std::size_t{7}, std::size_t{4096}}) {
      SCOPED_TRACE(maxPiece);
      expectSame(readPushed(c.text, c.options, maxPiece, 17u + maxPiece), whole);
    }
  }
}

// Inputs that cannot be read fail pushed as they fail whole, with the same message, and the
// stream takes nothing after. Catches an ambiguity or UTF-16 text read as samples because a
// stream decided before seeing enough, and a stream that goes on after its failure.
TEST(SampleStream, FailsAsTheWholeInputFails) {
  std::string ambiguous;
  for (int k = 0; k < 300; ++k) {
    ambiguous += std::to_string(k % 7) + "," + std::to_string(k % 5) + "," + std::to_string(k % 3) +
                 "," + std::to_string(k % 11) + "\n";
  }
  for (const std::string& text : {ambiguous, std::string("\xFF\xFE"
                                                         "1\0,2\0",
                                                         8)}) {
    std::string whole;
    try {
      readWhole(text, {});
    } catch (const fluxtrim::Error& e) {
      whole = e.what();
    }
    ASSERT_FALSE(whole.empty());
    fluxtrim::SampleStream stream({}, "rec.csv");
    std::string pushed;
    try {
      for (char c : text) stream.push(&c, 1);
      stream.finish();
    } catch (const fluxtrim::Error& e) {
      pushed = e.what();
    }
    EXPECT_EQ(pushed, whole);
    EXPECT_THROW(stream.push("1,2,3\n", 6), fluxtrim::Error);
  }
}

// A live input is decided early when its first lines already show the columns, and each line
// then gives its sample as soon as its line end arrives; a banner alone does not decide it.
// Catches a stream that waits for 256 lines at 10 samples a second, one that decides from a
// banner and then reads no sample, and a sample held back until the next line.
TEST(SampleStream, LiveInputIsReadLineByLineOnceDecided) {
  fluxtrim::SampleStream stream({}, "/dev/ttyACM0");
  const std::string banner = "Magnetometer logger 2.1\nready\n";
  stream.push(banner.data(), banner.size());
  EXPECT_FALSE(stream.decideEarly());
  for (int k = 0; k < 12; ++k) {
    const std::string line = std::to_string(k) + ".5,-3," + std::to_string(40 + k) + "\n";
    EXPECT_EQ(stream.push(line.data(), line.size()), 0u);
  }
  EXPECT_EQ(stream.heldLines(), 14u);
  ASSERT_TRUE(stream.decideEarly());
  EXPECT_EQ(stream.samples().values.size(), 12u);
  EXPECT_EQ(stream.samples().summary.headerLines, 2u);
  EXPECT_EQ(stream.push("20,21,2", 7), 0u);
  EXPECT_EQ(stream.push("2\n", 2), 1u);
  EXPECT_EQ(stream.samples().values.back()[2], 22.0);
  EXPECT_EQ(stream.finish(), 0u);
}

// An input cut short (Ctrl-C, a board unplugged) in the middle of a line, after enough text that
// the reader has moved its incomplete line to the front of its buffer: the complete lines give
// their samples, the cut one none. Catches the search for a line end resuming past the bytes
// kept, which read beyond them (a crash, or a sample made of the cut line and stale bytes).
TEST(SampleStream, InputCutShortKeepsEveryCompleteLineAndNothingElse) {
  fluxtrim::SampleStream stream({}, "/dev/ttyUSB0");
  std::string text = "x,y,z\n";
  const int lines = 60000;
  for (int k = 0; k < lines; ++k) text += std::to_string(k % 977) + ".25,-3.5,41\n";
  for (std::size_t at = 0; at < text.size(); at += 4096) {
    stream.push(text.data() + at, std::min<std::size_t>(4096, text.size() - at));
  }
  stream.push("4,5", 3);
  EXPECT_EQ(stream.finish(true), 0u);
  const SampleSet& set = stream.samples();
  ASSERT_EQ(set.values.size(), static_cast<std::size_t>(lines));
  EXPECT_EQ(set.values.back()[0], (lines - 1) % 977 + 0.25);
  EXPECT_EQ(set.summary.lines, static_cast<std::uint64_t>(lines + 1));
  EXPECT_EQ(set.summary.bytes, text.size());
}

}  // namespace
