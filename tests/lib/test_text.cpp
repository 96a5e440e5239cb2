// The library's text helpers, which the command prints with too: numbers that read back exactly,
// untrusted text made safe for a terminal, and figures beyond judgement said in words.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "fluxtrim/text.hpp"

namespace {

// The shortest text reads back as the same double for doubles of every size and sign, and is no
// longer than the 17 significant digits that always suffice. Catches too few digits (a value that
// reads back as its neighbour) and a locale's decimal comma.
TEST(Text, ShortestTextReadsBackExactly) {
  std::mt19937_64 random(5);
  for (int trial = 0; trial < 20000; ++trial) {
    std::uint64_t bits = random();
    double value = 0.0;
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isfinite(value)) {
      continue;
    }
    const std::string text = fluxtrim::shortestText(value);
    EXPECT_EQ(std::strtod(text.c_str(), nullptr), value) << text;
    EXPECT_EQ(text.find(','), std::string::npos) << text;
  }
  EXPECT_EQ(fluxtrim::shortestText(0.483), "0.483");
  EXPECT_EQ(fluxtrim::shortestText(48300.0), "48300");
  EXPECT_EQ(fluxtrim::shortestText(1e-5), "1e-05");
  EXPECT_EQ(fluxtrim::shortestText(-0.0), "-0");
  EXPECT_EQ(fluxtrim::shortestText(std::numeric_limits<double>::infinity()), "inf");
  EXPECT_EQ(fluxtrim::shortestText(-std::numeric_limits<double>::infinity()), "-inf");
  EXPECT_EQ(fluxtrim::shortestText(-std::nan("")), "nan");
}

// Control bytes, DEL included, become \xNN; the tab, printable ASCII and UTF-8 pass; long text is
// cut at the byte limit with "..." after it. Catches an escape sequence reaching the terminal
// and a cut that loses the mark that text is missing.
TEST(Text, PrintableTextEscapesWhatCouldDriveATerminal) {
  EXPECT_EQ(fluxtrim::printableText("a\x1b[2Jb\r\n\x7f\t\x01"), "a\\x1B[2Jb\\x0D\\x0A\\x7F\t\\x01");
  EXPECT_EQ(fluxtrim::printableText(std::string("nul\0byte", 8)), "nul\\x00byte");
  EXPECT_EQ(fluxtrim::printableText("\xC2\xB5T caf\xC3\xA9"), "\xC2\xB5T caf\xC3\xA9");
  EXPECT_EQ(fluxtrim::printableText("abcdef", 4), "abcd...");
  EXPECT_EQ(fluxtrim::printableText("abcd", 4), "abcd");
  EXPECT_EQ(fluxtrim::formatText("%.3f %s %zu", 2.5, "G", std::size_t{7}), "2.500 G 7");
}

// A figure prints as its pattern says while it means something, and in words where it does not:
// never "nan", "-nan", "inf" or the hundreds of digits of %f on 3e300. Catches a limit applied to
// the wrong side and a NaN taken for a number.
TEST(Text, FiguresBeyondJudgementAreSaidInWords) {
  EXPECT_EQ(fluxtrim::figureText("%+.1f %%", -12.34), "-12.3 %");
  EXPECT_EQ(fluxtrim::figureText("%.2f", -9.9e8), "-990000000.00");
  EXPECT_EQ(fluxtrim::figureText("%.2f", std::nan("")), "not judged");
  EXPECT_EQ(fluxtrim::figureText("%.2f", -std::nan("")), "not judged");
  for (double beyond : {1e9, -1e9, 3e300, std::numeric_limits<double>::infinity()}) {
    EXPECT_EQ(fluxtrim::figureText("%.2f %%", beyond), "beyond judgement") << beyond;
    EXPECT_FALSE(fluxtrim::judgeable(beyond));
  }
  EXPECT_TRUE(fluxtrim::judgeable(0.0));
}

}  // namespace
