// The library's text helpers, which the command prints with too: numbers that read back exactly,
// untrusted text made safe for a terminal, and figures beyond judgement said in words.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <utility>

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

// The float text reads back through strtof as the same float for floats of every size and sign,
// in at most the 9 significant digits that always suffice, and is as short as the float's own
// precision allows rather than the double's. Catches digits of the double the float widens to
// ("0.10000000149011612" for 0.1f) and too few digits (a neighbouring float).
TEST(Text, ShortestFloatTextReadsBackAsTheSameFloat) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 20000; ++trial) {
    const std::uint32_t bits = random();
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isfinite(value)) {
      continue;
    }
    const std::string text = fluxtrim::shortestFloatText(value);
    EXPECT_EQ(std::strtof(text.c_str(), nullptr), value) << text;
    std::string digits;
    for (const char c : text.substr(0, text.find('e'))) {
      if (c >= '0' && c <= '9') digits += c;
    }
    const std::size_t first = digits.find_first_not_of('0');
    const std::size_t last = digits.find_last_not_of('0');
    EXPECT_LE(first == std::string::npos ? 0 : last - first + 1, 9u) << text;
  }
  EXPECT_EQ(fluxtrim::shortestFloatText(0.1f), "0.1");
  EXPECT_EQ(fluxtrim::shortestFloatText(0.98895115f), "0.98895115");
  EXPECT_EQ(fluxtrim::shortestFloatText(-1800.0f), "-1800");
  EXPECT_EQ(fluxtrim::shortestFloatText(1e-5f), "1e-05");
  EXPECT_EQ(fluxtrim::shortestFloatText(std::numeric_limits<float>::infinity()), "inf");
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

// The characters that reorder or split the text around them are written as \u escapes, by
// visibleText and within printableText, and nothing else is: the ends of each range, and their
// neighbours that must pass. Catches a name that shows reversed ("\u202Evsc.txt") or breaks a
// line in a viewer, and an escape that garbles ordinary text or JSON.
TEST(Text, VisibleTextEscapesWhatReordersOrSplitsText) {
  const std::pair<const char*, const char*> escaped[] = {
      {"\xC2\x80", "\\u0080"},     {"\xC2\x9F", "\\u009F"},     {"\xD8\x9C", "\\u061C"},
      {"\xE2\x80\x8E", "\\u200E"}, {"\xE2\x80\x8F", "\\u200F"}, {"\xE2\x80\xA8", "\\u2028"},
      {"\xE2\x80\xAE", "\\u202E"}, {"\xE2\x81\xA6", "\\u2066"}, {"\xE2\x81\xA9", "\\u2069"}};
  for (const auto& [raw, shown] : escaped) {
    EXPECT_EQ(fluxtrim::visibleText(std::string("a") + raw + "b"), std::string("a") + shown + "b");
    EXPECT_EQ(fluxtrim::printableText(raw), shown);
  }
  // No-break space, U+200D, U+202F, U+2065, U+206A, a cut sequence and "{\"": unchanged.
  for (const char* kept : {"\xC2\xA0", "\xE2\x80\x8D", "\xE2\x80\xAF", "\xE2\x81\xA5",
                           "\xE2\x81\xAA", "\xE2\x80", "{\"k\": \"\xC3\xA9\"}"}) {
    EXPECT_EQ(fluxtrim::visibleText(kept), kept);
  }
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
