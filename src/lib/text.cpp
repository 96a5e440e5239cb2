// The library's text helpers: shortest numbers, escaping and formatting.
#include "fluxtrim/text.hpp"

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

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

std::string printableText(std::string_view text, std::size_t maxBytes) {
  return ::printableText(text.data(), text.data() + text.size(), maxBytes);
}

std::string formatText(const char* pattern, ...) {
  char text[512];
  va_list arguments;
  va_start(arguments, pattern);
  std::vsnprintf(text, sizeof text, pattern, arguments);
  va_end(arguments);
  return text;
}

}  // namespace fluxtrim
