// The library's text helpers: shortest numbers, escaping and formatting.
#include "fluxtrim/text.hpp"

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "printable.hpp"

namespace fluxtrim {

std::string shortestText(double value) {
  if (std::isnan(value)) {
    return "nan";
  }
  char text[32];
  const std::to_chars_result end = std::to_chars(text, text + sizeof text, value);
  return std::string(text, end.ptr);
}

std::string shortestFloatText(float value) {
  if (!std::isfinite(value)) {
    return shortestText(static_cast<double>(value));
  }
  // The nearest decimal of 1, 2, ... significant digits until one reads back: 9 always do.
  // std::to_chars with a precision writes printf's %g without regard to the locale.
  char text[32] = {};
  constexpr int kFloatDigits = 9;
  for (int digits = 1; digits <= kFloatDigits; ++digits) {
    const std::to_chars_result end =
        std::to_chars(text, text + sizeof text - 1, static_cast<double>(value),
                      std::chars_format::general, digits);
    *end.ptr = '\0';
    if (std::strtof(text, nullptr) == value) {
      break;
    }
  }
  // The same digits in shortestText's form, fixed or scientific whichever is shorter ("1800",
  // where %g writes "1.8e+03"), unless that reads back otherwise.
  const std::string shortest = shortestText(std::strtod(text, nullptr));
  return std::strtof(shortest.c_str(), nullptr) == value ? shortest : std::string(text);
}

namespace {

// The code point of the two- or three-byte UTF-8 sequence at text[i] when visibleText escapes it,
// with the sequence's length; 0 otherwise.
std::pair<char32_t, std::size_t> reshapingCharacter(std::string_view text, std::size_t i) {
  const auto at = [&](std::size_t k) {
    return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u;
  };
  const unsigned lead = at(i);
  const unsigned second = at(i + 1);
  if (lead == 0xC2u && second >= 0x80u && second <= 0x9Fu) {
    return {second, 2};  // C1 controls U+0080 to U+009F
  }
  if (lead == 0xD8u && second == 0x9Cu) {
    return {0x061C, 2};  // Arabic letter mark
  }
  const unsigned third = at(i + 2);
  if (lead != 0xE2u || (third & 0xC0u) != 0x80u) {
    return {0, 0};
  }
  const char32_t code = 0x2000u + ((second & 0x3Fu) << 6) + (third & 0x3Fu);
  const bool reshapes = (second == 0x80u || second == 0x81u) &&
                        (code == 0x200E || code == 0x200F || (code >= 0x2028 && code <= 0x202E) ||
                         (code >= 0x2066 && code <= 0x2069));
  return reshapes ? std::make_pair(code, std::size_t{3})
                  : std::make_pair(char32_t{0}, std::size_t{0});
}

}  // namespace

std::string printableText(std::string_view text, std::size_t maxBytes) {
  return visibleText(::printableText(text.data(), text.data() + text.size(), maxBytes));
}

std::string visibleText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto [code, length] = reshapingCharacter(text, i);
    if (length == 0) {
      out += text[i++];
      continue;
    }
    out += formatText("\\u%04X", static_cast<unsigned>(code));
    i += length;
  }
  return out;
}

std::string formatText(const char* pattern, ...) {
  char text[512];
  va_list arguments;
  va_start(arguments, pattern);
  std::vsnprintf(text, sizeof text, pattern, arguments);
  va_end(arguments);
  return text;
}

namespace {

// The magnitude from which a figure is beyond judgement (see judgeable).
constexpr double kBeyondJudgement = 1e9;

}  // namespace

bool judgeable(double value) {
  return std::fabs(value) < kBeyondJudgement;
}

std::string figureText(const char* pattern, double value) {
  if (std::isnan(value)) {
    return "not judged";
  }
  if (!judgeable(value)) {
    return "beyond judgement";
  }
  return formatText(pattern, value);
}

}  // namespace fluxtrim
