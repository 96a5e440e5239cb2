// Conversions between doubles and text as std::to_chars and std::from_chars make them, for a C++
// library that lacks their floating-point overloads (the WebAssembly build's libc++ 13). The page
// must read the same doubles from a recording as the command, and write its numbers with the
// command's digits.
//
// Writing: the shortest text that reads back as the same double, in fixed or scientific form,
// whichever is shorter (fixed on a tie; a whole number in fixed form with its exact digits); and
// printf's forms for a precision. The shortest digits come from JavaScript's Number, whose
// toExponential() gives the shortest digits nearest the value, in the page; elsewhere from a
// search with printf and strtod (both correctly rounded): the nearest decimal of 1, 2, ... 17
// significant digits, or the next one above when the nearest lies below the value and misses it
// (possible for a power of two, whose gap to the next double above is twice the gap below),
// until one reads back as the value.
//
// Reading: decimal text of at most 19 significant digits whose value is an integer of at most
// 2^53 times a power of ten within 1e22 either way is one exact operation on exact operands, so
// correctly rounded; everything else goes to strtod, correctly rounded too but slow where long
// double is emulated in software, as in WebAssembly.
//
// The web build includes this header in every source (-include). With a C++ library that has the
// overloads, only the functions in fluxtrim_compat are defined, for the test that compares them
// with the standard ones.
#ifndef FLUXTRIM_WEB_COMPAT_FLOAT_CHARS_H
#define FLUXTRIM_WEB_COMPAT_FLOAT_CHARS_H

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

#if defined(__EMSCRIPTEN__)
// Writes value.toExponential() of JavaScript, ASCII, to out (room for 32 bytes); returns its
// length. Defined in float_chars.cpp.
extern "C" int fluxtrim_js_exponential(double value, char* out);
#endif

namespace fluxtrim_compat {

// "inf", "-inf", "nan" or "-nan"; empty for a finite value.
inline std::string nonFiniteText(double value) {
  if (std::isinf(value)) return value < 0.0 ? "-inf" : "inf";
  if (std::isnan(value)) return std::signbit(value) ? "-nan" : "nan";
  return "";
}

// The copy of text into [first, last), or value_too_large with last when it does not fit.
inline std::to_chars_result copyChars(char* first, char* last, const std::string& text) {
  if (text.size() > static_cast<std::size_t>(last - first)) {
    return {last, std::errc::value_too_large};
  }
  std::memcpy(first, text.data(), text.size());
  return {first + text.size(), std::errc()};
}

// Whether mantissa * 10^exponent reads back as value (finite and above 0).
inline bool readsBack(std::uint64_t mantissa, int exponent, double value) {
  char text[48];
  std::snprintf(text, sizeof text, "%llue%d", static_cast<unsigned long long>(mantissa), exponent);
  return std::strtod(text, nullptr) == value;
}

// The shortest text of a finite value: its digits as an integer mantissa and a power of ten,
// the mantissa without trailing zeros.
struct ShortestDigits {
  std::uint64_t mantissa = 0;
  int exponent = 0;
};

// The digits of "d.ddde+XX" (printf's %e, or JavaScript's toExponential) as an integer and the
// power of ten of its last digit.
inline ShortestDigits exponentialDigits(const char* text) {
  ShortestDigits d;
  int count = 0;
  const char* p = text;
  for (; *p != 'e'; ++p) {
    if (*p != '.') {
      d.mantissa = d.mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
      ++count;
    }
  }
  d.exponent = std::atoi(p + 1) - (count - 1);
  return d;
}

inline ShortestDigits withoutTrailingZeros(ShortestDigits d) {
  while (d.mantissa % 10 == 0) {
    d.mantissa /= 10;
    ++d.exponent;
  }
  return d;
}

// The shortest digits by search (finite magnitude above 0).
inline ShortestDigits searchedDigits(double magnitude) {
  for (int digits = 1; digits <= 17; ++digits) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*e", digits - 1, magnitude);
    ShortestDigits found = exponentialDigits(text);
    if (readsBack(found.mantissa, found.exponent, magnitude)) {
      return withoutTrailingZeros(found);
    }
    if (std::strtod(text, nullptr) < magnitude &&
        readsBack(found.mantissa + 1, found.exponent, magnitude)) {
      ++found.mantissa;  // above a power of two, where the gap is the wider one
      return withoutTrailingZeros(found);
    }
  }
  return {};  // not reached: 17 significant digits always read back
}

inline ShortestDigits shortestDigits(double magnitude) {
#if defined(__EMSCRIPTEN__)
  char text[40] = {};
  fluxtrim_js_exponential(magnitude, text);
  return withoutTrailingZeros(exponentialDigits(text));
#else
  return searchedDigits(magnitude);
#endif
}

// std::to_chars(first, last, value): the shortest text that reads back as value.
inline std::to_chars_result shortestChars(char* first, char* last, double value) {
  if (!std::isfinite(value)) return copyChars(first, last, nonFiniteText(value));
  const std::string sign = std::signbit(value) ? "-" : "";
  if (value == 0.0) return copyChars(first, last, sign + "0");
  const ShortestDigits d = shortestDigits(std::fabs(value));
  const std::string digits = std::to_string(d.mantissa);
  const int count = static_cast<int>(digits.size());

  std::string fixed;
  if (d.exponent >= 0) {
    // A whole number: every text of it has as many digits, and the exact one is the closest.
    char whole[400];
    std::snprintf(whole, sizeof whole, "%.0f", std::fabs(value));
    fixed = whole;
  } else if (-d.exponent < count) {
    fixed = digits.substr(0, count + d.exponent) + "." + digits.substr(count + d.exponent);
  } else {
    fixed = "0." + std::string(static_cast<std::size_t>(-d.exponent - count), '0') + digits;
  }
  const int power = d.exponent + count - 1;
  char exponentText[16];
  std::snprintf(exponentText, sizeof exponentText, "e%c%02d", power < 0 ? '-' : '+',
                power < 0 ? -power : power);
  const std::string scientific =
      digits.substr(0, 1) + (count > 1 ? "." + digits.substr(1) : "") + exponentText;
  return copyChars(first, last, sign + (scientific.size() < fixed.size() ? scientific : fixed));
}

// printf's %.*f of a finite value in integer arithmetic: value = m * 2^e exactly, so
// value * 10^p = m * 5^p * 2^(e + p), rounded to an integer half to even as printf rounds, its
// last p digits after the point. printf itself is slow where long double is emulated. False when
// value * 10^p might not fit in 128 bits (precision above 20, or a large value).
__extension__ typedef unsigned __int128 Wide;

inline bool fixedText(double value, int precision, std::string& text) {
  int exponent = 0;
  const double fraction = std::frexp(std::fabs(value), &exponent);  // in [0.5, 1), or 0
  // value * 10^p < 2^(exponent + 3.33 p), and the product below is as wide.
  if (precision < 0 || precision > 20 || exponent + 4 * precision > 124) return false;
  const Wide mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));  // exact
  const int power = exponent - 53;  // std::fabs(value) == mantissa * 2^power
  Wide scaled = mantissa;
  for (int i = 0; i < precision; ++i) scaled *= 5;  // below 2^100
  const int shift = power + precision;
  Wide whole = 0;
  if (shift >= 0) {
    whole = scaled << shift;
  } else if (shift > -128) {
    const int right = -shift;
    whole = scaled >> right;
    const Wide rest = scaled & ((Wide(1) << right) - 1);
    const Wide half = Wide(1) << (right - 1);
    if (rest > half || (rest == half && (whole & 1) != 0)) ++whole;
  }  // else below 2^-28 of a unit in the last place: rounds to 0
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(whole % 10)));
    whole /= 10;
  } while (whole != 0);
  if (static_cast<int>(digits.size()) <= precision) {
    digits.insert(0, static_cast<std::size_t>(precision + 1) - digits.size(), '0');
  }
  if (precision > 0) digits.insert(digits.size() - static_cast<std::size_t>(precision), ".");
  text = (std::signbit(value) ? "-" : "") + digits;
  return true;
}

// std::to_chars(first, last, value, format, precision): printf's %.*f, %.*e, %.*g or %.*a.
inline std::to_chars_result precisionChars(char* first, char* last, double value,
                                           std::chars_format format, int precision) {
  if (!std::isfinite(value)) return copyChars(first, last, nonFiniteText(value));
  std::string fixed;
  if (format == std::chars_format::fixed && fixedText(value, precision, fixed)) {
    return copyChars(first, last, fixed);
  }
  const char* pattern = format == std::chars_format::fixed        ? "%.*f"
                        : format == std::chars_format::scientific ? "%.*e"
                        : format == std::chars_format::hex        ? "%.*a"
                                                                  : "%.*g";
  char text[512];
  const int length = std::snprintf(text, sizeof text, pattern, precision, value);
  if (length < static_cast<int>(sizeof text)) {
    return copyChars(first, last, std::string(text, static_cast<std::size_t>(length)));
  }
  std::string longText(static_cast<std::size_t>(length) + 1, '\0');
  std::snprintf(&longText[0], longText.size(), pattern, precision, value);
  longText.pop_back();
  return copyChars(first, last, longText);
}

// value from strtod on a terminated copy of [first, last). An overflow, or an underflow to zero,
// leaves value as it was and gives result_out_of_range, as std::from_chars does; a subnormal
// result is a value like any other (strtod flags it with ERANGE).
inline std::from_chars_result strtodChars(const char* first, const char* last, double& value) {
  const std::string text(first, last);
  char* end = nullptr;
  const int savedErrno = errno;
  errno = 0;
  const double converted = std::strtod(text.c_str(), &end);
  const bool rangeError = errno == ERANGE;
  errno = savedErrno;
  const char* stop = first + (end - text.c_str());
  if (stop == first) return {first, std::errc::invalid_argument};
  if (rangeError && (converted == 0.0 || std::isinf(converted))) {
    return {stop, std::errc::result_out_of_range};
  }
  value = converted;
  return {stop, std::errc()};
}

inline bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// std::from_chars(first, last, value) in the general format: an optional minus sign (no blank,
// no plus), decimal digits with an optional point and exponent, or inf, infinity, nan and
// nan(...) in any case. Hexadecimal text reads as its leading 0.
inline std::from_chars_result decimalChars(const char* first, const char* last, double& value) {
  const char* p = first;
  const bool negative = p != last && *p == '-';
  if (negative) ++p;
  if (p == last) return {first, std::errc::invalid_argument};
  if (*p == 'i' || *p == 'I' || *p == 'n' || *p == 'N') return strtodChars(first, last, value);

  // Up to 19 significant digits are kept: their value fits in 64 bits.
  std::uint64_t mantissa = 0;
  int kept = 0;
  int exponent = 0;        // of the last digit kept
  bool anyDigit = false;   // the text has a digit at all
  bool truncated = false;  // a digit other than 0 was not kept
  const auto digit = [&](char c, bool fraction) {
    anyDigit = true;
    const unsigned value = static_cast<unsigned>(c - '0');
    if (mantissa == 0 && value == 0) {
      exponent -= fraction ? 1 : 0;  // a leading zero
    } else if (kept < 19) {
      mantissa = mantissa * 10 + value;
      ++kept;
      exponent -= fraction ? 1 : 0;
    } else {
      exponent += fraction ? 0 : 1;
      truncated = truncated || value != 0;
    }
  };
  for (; p != last && isDigit(*p); ++p) digit(*p, false);
  if (p != last && *p == '.') {
    for (++p; p != last && isDigit(*p); ++p) digit(*p, true);
  }
  if (!anyDigit) return {first, std::errc::invalid_argument};
  if (p != last && (*p == 'e' || *p == 'E')) {
    const char* q = p + 1;
    const bool negativeExponent = q != last && *q == '-';
    if (q != last && (*q == '-' || *q == '+')) ++q;
    if (q != last && isDigit(*q)) {
      int written = 0;
      for (; q != last && isDigit(*q); ++q) {
        if (written < 100000) written = written * 10 + (*q - '0');
      }
      exponent += negativeExponent ? -written : written;
      p = q;
    }
  }

  while (mantissa != 0 && mantissa % 10 == 0) {
    mantissa /= 10;
    ++exponent;
  }
  static const double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  const std::uint64_t kExactIntegers = std::uint64_t{1}
                                       << 53;  // every integer up to it is a double
  if (mantissa == 0 && !truncated) {
    value = negative ? -0.0 : 0.0;
    return {p, std::errc()};
  }
  if (!truncated && mantissa <= kExactIntegers && exponent >= -22 && exponent <= 22) {
    const double whole = static_cast<double>(mantissa);
    const double magnitude =
        exponent < 0 ? whole / kPowersOfTen[-exponent] : whole * kPowersOfTen[exponent];
    value = negative ? -magnitude : magnitude;
    return {p, std::errc()};
  }
  return strtodChars(first, p, value);
}

}  // namespace fluxtrim_compat

#if defined(_LIBCPP_VERSION) && _LIBCPP_VERSION < 14000
namespace std {

inline to_chars_result to_chars(char* first, char* last, double value) {
  return fluxtrim_compat::shortestChars(first, last, value);
}

inline to_chars_result to_chars(char* first, char* last, double value, chars_format format,
                                int precision) {
  return fluxtrim_compat::precisionChars(first, last, value, format, precision);
}

inline from_chars_result from_chars(const char* first, const char* last, double& value,
                                    chars_format = chars_format::general) {
  return fluxtrim_compat::decimalChars(first, last, value);
}

}  // namespace std
#endif

#endif
