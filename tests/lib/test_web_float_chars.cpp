// The browser page's conversions between doubles and text against std::to_chars and
// std::from_chars: the page reads recordings and writes the numbers of its C header, corrected
// CSV and report with them, and must give the command's doubles and digits.
#include <gtest/gtest.h>

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../../web/compat/float_chars.h"
#include "numparse_forms.h"

namespace {

std::string standardShortest(double value) {
  char text[64];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

std::string compatShortest(double value) {
  char text[64];
  const std::to_chars_result end = fluxtrim_compat::shortestChars(text, text + sizeof text, value);
  EXPECT_EQ(end.ec, std::errc());
  return std::string(text, end.ptr);
}

double fromBits(std::uint64_t bits) {
  double value = 0.0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// Doubles where shortest digits go wrong: powers of two and their neighbours (the uneven gap),
// the ends of the range, the switch between fixed and scientific form, and random bit patterns
// over every exponent.
std::vector<double> awkwardDoubles() {
  std::vector<double> values = {0.0,     -0.0,    1.0,      0.1,     0.3,   1e5,    1e-5,
                                100000., 123456., 1234567., 1e21,    1e22,  5e-324, DBL_MIN,
                                DBL_MAX, 0.001,   0.0001,   9.5e-5,  1e16,  1.5e16, -2.5,
                                1e15,    1e-7,    12e10,    0.48338, 48338, 2.0e-3, 1234.5e-8};
  for (int power = -1074; power <= 1023; ++power) {
    const double two = std::ldexp(1.0, power);
    values.insert(values.end(), {two, std::nextafter(two, 0.0), std::nextafter(two, INFINITY)});
  }
  std::mt19937_64 random(20260101);
  for (int i = 0; i < 40000; ++i) {
    const double value = fromBits(random());
    if (std::isfinite(value)) values.push_back(value);
  }
  std::uniform_real_distribution<double> field(-1.0, 1.0);
  for (int i = 0; i < 20000; ++i) values.push_back(field(random));
  return values;
}

TEST(WebFloatChars, ShortestTextIsTheStandardLibrarys) {
  int mismatches = 0;
  for (const double value : awkwardDoubles()) {
    const std::string expected = standardShortest(value);
    const std::string text = compatShortest(value);
    if (text != expected && ++mismatches <= 10) {
      ADD_FAILURE() << "bits " << std::hexfloat << value << ": " << text << " instead of "
                    << expected;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// Fixed decimals are written in integer arithmetic: every precision the report uses and beyond,
// on values of every size, ties (0.125 to two decimals) and negative values that round to zero.
TEST(WebFloatChars, FixedDecimalsAreTheStandardLibrarys) {
  std::vector<double> values = {0.125,
                                -0.125,
                                2.5,
                                0.5,
                                1.5,
                                -0.0001,
                                1e-9,
                                0.0,
                                -0.0,
                                1e20,
                                123456789.987654321,
                                9.5e-5,
                                0.05,
                                4503599627370497.5};
  std::mt19937_64 random(11);
  for (int i = 0; i < 20000; ++i) {
    values.push_back(std::ldexp(std::uniform_real_distribution<double>(-1.0, 1.0)(random),
                                static_cast<int>(random() % 120) - 60));
  }
  int mismatches = 0;
  for (const double value : values) {
    for (int precision = 0; precision <= 24; precision += (precision < 12 ? 1 : 4)) {
      char expected[400];
      char text[400];
      const auto standard = std::to_chars(expected, expected + sizeof expected, value,
                                          std::chars_format::fixed, precision);
      const auto compat = fluxtrim_compat::precisionChars(text, text + sizeof text, value,
                                                          std::chars_format::fixed, precision);
      if (std::string(text, compat.ptr) != std::string(expected, standard.ptr) &&
          ++mismatches <= 10) {
        ADD_FAILURE() << std::hexfloat << value << " to " << precision
                      << " decimals: " << std::string(text, compat.ptr) << " instead of "
                      << std::string(expected, standard.ptr);
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(WebFloatChars, PrecisionFormsAndNonFiniteValuesAreTheStandardLibrarys) {
  const double values[] = {0.0, -0.0, 0.48338, -0.000049, 48338.25,  1e-9,
                           2.5, 3.5,  DBL_MAX, INFINITY,  -INFINITY, NAN};
  const std::chars_format formats[] = {std::chars_format::fixed, std::chars_format::scientific,
                                       std::chars_format::general};
  for (const double value : values) {
    for (const std::chars_format format : formats) {
      for (const int precision : {0, 1, 4, 17}) {
        char expected[400];
        char text[400];
        const auto standard =
            std::to_chars(expected, expected + sizeof expected, value, format, precision);
        const auto compat =
            fluxtrim_compat::precisionChars(text, text + sizeof text, value, format, precision);
        EXPECT_EQ(std::string(text, compat.ptr), std::string(expected, standard.ptr))
            << value << " format " << static_cast<int>(format) << " precision " << precision;
      }
    }
    if (!std::isnan(value)) {
      EXPECT_EQ(compatShortest(value), standardShortest(value));
    }
  }
}

TEST(WebFloatChars, TextThatDoesNotFitIsRefusedNotCut) {
  char text[4];
  const std::to_chars_result end =
      fluxtrim_compat::shortestChars(text, text + sizeof text, 0.48338);
  EXPECT_EQ(end.ec, std::errc::value_too_large);
  EXPECT_EQ(end.ptr, text + sizeof text);
}

// Every text the number conversion's test generates (decimals of any length, near DBL_MIN and
// DBL_MAX, subnormals, hexadecimal, inf and nan, junk before and after), and sensor readings as
// loggers print them: the same stop, error and double as the standard library's from_chars.
// A range error leaves the value alone in both; a subnormal is no range error.
TEST(WebFloatChars, ReadingIsTheStandardLibrarys) {
  std::vector<std::string> texts = {"0.171030819416046",
                                    "-0.16620759665966",
                                    "48.32",
                                    "1e-400",
                                    "1e400",
                                    "00012.500e-2",
                                    "5.",
                                    ".5",
                                    "-",
                                    ".",
                                    "1e",
                                    "1e+",
                                    "0x1p3",
                                    "-nan(7)",
                                    "INFINITY",
                                    "123456789012345678901234567890e-30"};
  numparse_forms::Generator generator(20260102);
  for (int i = 0; i < 100000; ++i) {
    int form = 0;
    texts.push_back(generator.next(form));
  }
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> reading(-2.0, 2.0);
  for (int i = 0; i < 20000; ++i) {
    char text[40];
    std::snprintf(text, sizeof text, i % 2 == 0 ? "%.9g" : "%.15f", reading(random));
    texts.push_back(text);
  }
  int mismatches = 0;
  for (const std::string& text : texts) {
    const char* first = text.data();
    const char* last = first + text.size();
    double expected = 1234.5;
    double value = 1234.5;
    const std::from_chars_result standard = std::from_chars(first, last, expected);
    const std::from_chars_result compat = fluxtrim_compat::decimalChars(first, last, value);
    // NaN payloads are the C library's business; the sign is not.
    const bool sameValue = std::isnan(expected)
                               ? std::isnan(value) && std::signbit(value) == std::signbit(expected)
                               : std::memcmp(&expected, &value, sizeof value) == 0;
    const bool same = standard.ptr == compat.ptr && standard.ec == compat.ec && sameValue;
    if (!same && ++mismatches <= 10) {
      ADD_FAILURE() << "'" << text << "': stops after " << compat.ptr - first << " bytes with "
                    << std::hexfloat << value << " instead of " << standard.ptr - first << " with "
                    << expected;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
