// Conversion of decimal and hexadecimal text to double, exactly as the C library's strtod does
// in the "C" locale, without building a string per number. Shared by the readers of the tool
// object and of the library.
#ifndef NUMPARSE_HPP
#define NUMPARSE_HPP

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace numparse {

enum class Status {
  Ok,          // a number was converted
  NoNumber,    // no number starts the text (std::stod would throw std::invalid_argument)
  OutOfRange,  // strtod reported a range error (std::stod would throw std::out_of_range)
};

// Converts the longest numeric prefix of the text [first, last) as strtod does: leading white
// space skipped, an optional sign, decimal or hexadecimal digits with an exponent, inf, infinity
// and nan(...) in any case. value receives strtod's result (also on OutOfRange: +-HUGE_VAL, or the
// underflowed value) and *end, when end is given, the first character after the number (first
// when there is none). The text need not be terminated; nothing past last is read.
Status toDouble(const char* first, const char* last, double& value, const char** end = nullptr);

// The powers of ten that a double holds exactly.
inline constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
inline constexpr int kMostExactPower = 22;
inline constexpr std::uint64_t kMostExactInteger = std::uint64_t{1} << 53;

inline bool isDecimalDigit(char c) {
  return c >= '0' && c <= '9';
}

// Whether the eight characters at p are all decimal digits; if so, value receives their number.
// They are taken as one little-endian word, the first digit in its lowest byte: digits side by
// side are combined in pairs, then fours, then the eight, each step within lanes that cannot
// carry into their neighbours (99, 9999 and 99999999 fit a byte, 16 and 32 bits).
inline bool eightDigits(const char* p, std::uint64_t& value) {
  std::uint64_t word = 0;
  std::memcpy(&word, p, sizeof word);
  constexpr std::uint64_t kHighNibbles = 0xF0F0F0F0F0F0F0F0;
  constexpr std::uint64_t kZeros = 0x3030303030303030;
  // '0' to '9' are 0x30 to 0x39: the high nibble 3, and still 3 after adding 6.
  if ((word & kHighNibbles) != kZeros || ((word + 0x0606060606060606) & kHighNibbles) != kZeros) {
    return false;
  }
  word -= kZeros;
  word = (word * 10 + (word >> 8)) & 0x00FF00FF00FF00FF;
  word = (word * 100 + (word >> 16)) & 0x0000FFFF0000FFFF;
  value = (word * 10000 + (word >> 32)) & 0xFFFFFFFF;
  return true;
}

// The decimal digits from p on appended to mantissa (which wraps past 2^64 - 1: the caller
// counts the digits); returns the first character after them.
inline const char* appendDigits(const char* p, const char* last, std::uint64_t& mantissa) {
  std::uint64_t eight = 0;
  while (last - p >= 8 && eightDigits(p, eight)) {
    mantissa = mantissa * 100000000 + eight;
    p += 8;
  }
  for (; p != last && isDecimalDigit(*p); ++p) {
    mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
  }
  return p;
}

// The exact path of toDouble, which takes it first; also for a reader that wants no other
// conversion. Decimal text whose digits make a whole number m of at most 2^53 and whose power of
// ten p lies within +-22: m and 10^|p| are exact doubles, so that one multiplication or division
// rounds the exact value once, to the double strtod gives. This covers the numbers a logger writes
// (whole counts, a few decimals, up to 15 significant digits). Text of any other shape, a zero
// (whose sign and range status strtod decides) and an exponent without digits (where strtod stops
// before the 'e') return false and are left to the general conversion. value and *end (when end is
// given) are written only when it returns true.
inline bool exactShortDecimal(const char* first, const char* last, double& value,
                              const char** end) {
  const char* p = first;
  const bool negative = p != last && *p == '-';
  p += negative ? 1 : 0;
  const char* const whole = p;
  while (p != last && *p == '0') {
    ++p;
  }
  const char* significant = p;
  std::uint64_t mantissa = 0;
  p = appendDigits(p, last, mantissa);
  std::ptrdiff_t digits = p - significant;  // significant digits in mantissa
  bool anyDigit = p != whole;
  std::ptrdiff_t power = 0;
  if (p != last && *p == '.') {
    ++p;
    const char* const fraction = p;
    while (digits == 0 && p != last && *p == '0') {
      ++p;
    }
    significant = p;
    p = appendDigits(p, last, mantissa);
    digits += p - significant;
    power = fraction - p;
    anyDigit = anyDigit || p != fraction;
  }
  if (!anyDigit || digits > 19) {
    return false;
  }
  if (p != last && (*p == 'e' || *p == 'E')) {
    const char* q = p + 1;
    const bool negativeExponent = q != last && *q == '-';
    q += q != last && (*q == '-' || *q == '+') ? 1 : 0;
    if (q == last || !isDecimalDigit(*q)) {
      return false;
    }
    std::ptrdiff_t exponent = 0;
    for (; q != last && isDecimalDigit(*q); ++q) {
      exponent = exponent < 100000 ? exponent * 10 + (*q - '0') : exponent;
    }
    power += negativeExponent ? -exponent : exponent;
    p = q;
  }
  if (mantissa == 0 || mantissa > kMostExactInteger || power < -kMostExactPower ||
      power > kMostExactPower) {
    return false;
  }
  const double number = static_cast<double>(mantissa);
  const double magnitude = power < 0 ? number / kExactPowers[-power] : number * kExactPowers[power];
  value = negative ? -magnitude : magnitude;
  if (end != nullptr) {
    *end = p;
  }
  return true;
}

}  // namespace numparse

#endif
