// The library's text helpers: shortest numbers, escaping and formatting.
#include "fluxtrim/text.hpp"

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>

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
