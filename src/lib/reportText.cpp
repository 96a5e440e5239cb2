#include "reportText.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

#include "fluxtrim/text.hpp"

namespace fluxtrim {
namespace detail {

namespace {

// Room for the fixed form of the largest double (309 integer digits) and the decimals asked for.
constexpr int kMaxDecimals = 17;
constexpr int kBufferSize = 400;

// "n/a", "inf" or "-inf"; empty for a finite value.
const char* nonFinite(double value) {
  if (std::isnan(value)) {
    return "n/a";
  }
  if (std::isinf(value)) {
    return value < 0.0 ? "-inf" : "inf";
  }
  return "";
}

// A minus sign in front of nothing but zeros and a point is dropped.
std::string withoutNegativeZero(std::string text) {
  if (!text.empty() && text[0] == '-' && text.find_first_not_of("0.", 1) == std::string::npos) {
    text.erase(0, 1);
  }
  return text;
}

}  // namespace

std::string fixed(double value, int decimals) {
  if (!std::isfinite(value)) {
    return nonFinite(value);
  }
  decimals = decimals < 0 ? 0 : (decimals > kMaxDecimals ? kMaxDecimals : decimals);
  char text[kBufferSize];
  const std::to_chars_result end =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  return withoutNegativeZero(std::string(text, end.ptr));
}

std::string figure(double value, int decimals) {
  return judgeable(value) ? fixed(value, decimals) : figureText("%f", value);
}

std::string shortest(double value) {
  return std::isfinite(value) ? shortestText(value) : nonFinite(value);
}

std::string significant(double value, int digits) {
  if (!std::isfinite(value)) {
    return nonFinite(value);
  }
  if (value == 0.0) {
    return "0";
  }
  digits = digits < 1 ? 1 : (digits > kMaxDecimals ? kMaxDecimals : digits);
  const double magnitude = std::fabs(value);
  std::string text;
  if (magnitude >= 1e-6 && magnitude < 1e6) {
    const int exponent = static_cast<int>(std::floor(std::log10(magnitude)));
    text = fixed(value, digits - 1 - exponent);
  } else {
    char buffer[kBufferSize];
    const std::to_chars_result end = std::to_chars(buffer, buffer + sizeof buffer, value,
                                                   std::chars_format::scientific, digits - 1);
    text.assign(buffer, end.ptr);
  }
  // Trailing zeros of the fraction, and a point left alone, go.
  const std::size_t point = text.find('.');
  if (point != std::string::npos) {
    const std::size_t exponent = text.find('e');
    const std::size_t fractionEnd = exponent == std::string::npos ? text.size() : exponent;
    std::size_t keep = fractionEnd;
    while (keep > point + 1 && text[keep - 1] == '0') {
      --keep;
    }
    if (keep == point + 1) {
      keep = point;
    }
    text.erase(keep, fractionEnd - keep);
  }
  return text;
}

std::string tickText(double value, int decimals) {
  std::string text = fixed(value, decimals);
  if (!text.empty() && text[0] == '-') {
    text.replace(0, 1, "\xE2\x88\x92");  // U+2212 minus sign
  }
  return text;
}

int decimalsFor(double scale) {
  if (!std::isfinite(scale) || scale == 0.0) {
    return 4;
  }
  const int exponent = static_cast<int>(std::floor(std::log10(std::fabs(scale))));
  const int decimals = 4 - exponent;
  return decimals < 0 ? 0 : (decimals > 12 ? 12 : decimals);
}

namespace {

bool continuation(unsigned char byte) {
  return (byte & 0xC0u) == 0x80u;
}

// Length of the valid UTF-8 sequence of two or more bytes at text[i], or 0 when there is none.
std::size_t sequenceLength(const std::string& text, std::size_t i) {
  const auto at = [&](std::size_t k) {
    return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u;
  };
  const unsigned lead = at(i);
  const unsigned second = at(i + 1);
  if (lead >= 0xC2u && lead <= 0xDFu) {
    return continuation(second) ? 2 : 0;
  }
  if (lead >= 0xE0u && lead <= 0xEFu) {
    // No overlong forms (E0 80..9F) and no surrogates (ED A0..BF).
    const bool secondValid = lead == 0xE0u   ? (second >= 0xA0u && second <= 0xBFu)
                             : lead == 0xEDu ? (second >= 0x80u && second <= 0x9Fu)
                                             : continuation(second);
    return secondValid && continuation(at(i + 2)) ? 3 : 0;
  }
  if (lead >= 0xF0u && lead <= 0xF4u) {
    // No overlong forms (F0 80..8F) and nothing beyond U+10FFFF (F4 90..).
    const bool secondValid = lead == 0xF0u   ? (second >= 0x90u && second <= 0xBFu)
                             : lead == 0xF4u ? (second >= 0x80u && second <= 0x8Fu)
                                             : continuation(second);
    return secondValid && continuation(at(i + 2)) && continuation(at(i + 3)) ? 4 : 0;
  }
  return 0;
}

}  // namespace

std::string html(const std::string& untrusted) {
  static const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD in UTF-8
  const std::string text = visibleText(untrusted);
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x80u) {
      const std::size_t length = sequenceLength(text, i);
      if (length == 0) {
        out += kReplacement;
        ++i;
      } else {
        out.append(text, i, length);
        i += length;
      }
      continue;
    }
    switch (byte) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        if (byte < 0x20u || byte == 0x7Fu) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
          out += escaped;
        } else {
          out += static_cast<char>(byte);
        }
    }
    ++i;
  }
  return out;
}

}  // namespace detail
}  // namespace fluxtrim
