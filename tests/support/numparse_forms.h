// Generated number texts in every form where a fast decimal conversion and strtod could part:
// plain decimals of any length, values near DBL_MIN (which strtod flags as a range error when they
// round up to it), subnormals, values near and beyond DBL_MAX, huge exponents, hexadecimal
// numbers, inf and nan with signs and payloads, leading blanks and '+', and junk after the number.
// Shared by the conversion unit test and the long conversion check (tools/check_numparse.cpp).
#ifndef FLUXTRIM_TESTS_NUMPARSE_FORMS_H
#define FLUXTRIM_TESTS_NUMPARSE_FORMS_H

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "numparse.hpp"

namespace numparse_forms {

enum Form {
  kPrintedDouble,  // a random double printed with %.17g, %.6g, %.25g, %e or %f
  kRandomDecimal,  // random digits, point and exponent, 1 to 40 digits
  kNearDblMin,     // within a few units in the last place of DBL_MIN, 17 to 30 digits
  kSubnormal,      // a random subnormal or a decimal below DBL_MIN
  kNearDblMax,     // around DBL_MAX and beyond, and huge exponents
  kHexadecimal,    // 0x forms, also incomplete ones
  kInfNan,         // inf, infinity, nan, nan(payload), in any case
  kOddText,        // empty, lone signs and points, blanks only, embedded NUL
  kFormCount
};

inline const char* formName(int form) {
  static const char* const names[] = {"printed double", "random decimal", "near DBL_MIN",
                                      "subnormal",      "near DBL_MAX",   "hexadecimal",
                                      "inf and nan",    "odd text"};
  return names[form];
}

class Generator {
 public:
  explicit Generator(std::uint64_t seed) : engine_(seed) {}

  // The next text and its form. A third of the texts get a prefix of blanks or a '+', a third
  // some junk after the number.
  std::string next(int& form) {
    form = static_cast<int>(below(kFormCount));
    std::string body = make(form);
    std::string text;
    const std::uint64_t decoration = below(9);
    if (decoration < 3 && !body.empty() && body[0] != '-' && body[0] != '+') {
      const char* const prefixes[] = {"+", " ", "\t", "  +", "\n\v\f\r", " -"};
      text = prefixes[below(6)];
    }
    text += body;
    if (decoration >= 6) {
      const char* const suffixes[] = {"abc", "e",  "e+", "E-x", ".",  "..5", "p3", ",", "\r",
                                      " 1",  "x1", "(",  ")",   "_1", "f",   "i",  "n"};
      const std::uint64_t pick = below(18);
      text += pick == 17 ? std::string(1, '\0') + "5" : std::string(suffixes[pick]);
    }
    return text;
  }

 private:
  std::uint64_t below(std::uint64_t n) { return engine_() % n; }

  std::string digits(int count, bool leadingZerosAllowed = true) {
    std::string s;
    for (int k = 0; k < count; ++k) {
      char c = static_cast<char>('0' + below(10));
      if (k == 0 && !leadingZerosAllowed && c == '0') {
        c = '1';
      }
      s += c;
    }
    return s;
  }

  std::string printf1(const char* format, double v) {
    char text[512];
    std::snprintf(text, sizeof text, format, v);
    return text;
  }

  double randomDouble() {
    std::uint64_t bits = engine_();
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return std::isfinite(v) ? v : 1.5;
  }

  std::string make(int form) {
    switch (form) {
      case kPrintedDouble: {
        const char* const formats[] = {"%.17g", "%.6g", "%.25g", "%.17e", "%.3f", "%.15g"};
        double v = randomDouble();
        if (below(2) == 0) {  // the magnitudes of samples
          v = std::ldexp(static_cast<double>(engine_() >> 11), -53 - static_cast<int>(below(30)));
          v = below(2) ? -v : v;
        }
        return printf1(formats[below(6)], v);
      }
      case kRandomDecimal: {
        std::string s = below(2) ? "-" : "";
        const int intDigits = static_cast<int>(below(20));
        s += digits(intDigits);
        if (below(3) != 0) {
          s += "." + digits(static_cast<int>(below(21)));
        }
        if (below(2) == 0) {
          s += below(2) ? "e" : "E";
          const std::uint64_t sign = below(3);
          s += sign == 0 ? "-" : sign == 1 ? "+" : "";
          s += digits(1 + static_cast<int>(below(4)));
        }
        return s;
      }
      case kNearDblMin: {
        double v = DBL_MIN;
        const int steps = static_cast<int>(below(9)) - 4;
        for (int k = 0; k < steps; ++k) v = std::nextafter(v, 1.0);
        for (int k = 0; k > steps; --k) v = std::nextafter(v, 0.0);
        std::string s = printf1(below(2) ? "%.17g" : "%.30g", v);
        if (below(2) == 0) {  // perturb the digits past the 16th: rounds either way
          const std::size_t e = s.find('e');
          s.insert(e, digits(1 + static_cast<int>(below(12))));
        }
        return below(4) == 0 ? "-" + s : s;
      }
      case kSubnormal: {
        if (below(2) == 0) {
          const double v = std::ldexp(static_cast<double>(engine_() >> 12), -1074);
          return printf1(below(2) ? "%.17g" : "%.6g", v);
        }
        return "0." + std::string(300 + below(30), '0') + digits(1 + static_cast<int>(below(20)));
      }
      case kNearDblMax: {
        const std::uint64_t pick = below(4);
        if (pick == 0) {
          double v = DBL_MAX;
          for (std::uint64_t k = below(4); k > 0; --k) v = std::nextafter(v, 0.0);
          return printf1("%.17g", v);
        }
        if (pick == 1) {
          return "1.797693134862315" + digits(1 + static_cast<int>(below(10))) + "e308";
        }
        if (pick == 2) {
          return digits(1, false) + "." + digits(3) + "e" + std::to_string(290 + below(40));
        }
        return digits(1 + static_cast<int>(below(3)), false) + "e" + (below(2) ? "-" : "") +
               digits(3 + static_cast<int>(below(10)), false);
      }
      case kHexadecimal: {
        const char* const hex = "0123456789abcdefABCDEF";
        std::string s = below(2) ? "0x" : "0X";
        for (std::uint64_t k = below(15); k > 0; --k) s += hex[below(22)];
        if (below(2) == 0) {
          s += ".";
          for (std::uint64_t k = below(8); k > 0; --k) s += hex[below(22)];
        }
        if (below(3) != 0) {
          s += below(2) ? "p" : "P";
          s += below(2) ? "-" : "";
          s += std::to_string(below(1100));
        }
        return below(4) == 0 ? "-" + s : s;
      }
      case kInfNan: {
        const char* const words[] = {
            "inf", "INF",      "Inf",           "infinity", "Infinity", "infinit",  "nan", "NaN",
            "NAN", "nan(123)", "nan(abc_XYZ9)", "nan(",     "nan()",    "nan(1 2)", "in",  "na"};
        const std::string w = words[below(16)];
        return below(3) == 0 ? "-" + w : w;
      }
      default: {
        const char* const odd[] = {"",    "-",   "+", ".",  "-.",    "+.", " ",       "\t\t",  "e5",
                                   "-e5", ".e1", "0", "-0", "0.0e0", "00", "0e99999", "-0x0p0"};
        std::string s = odd[below(17)];
        if (below(5) == 0) {
          s.insert(s.begin() + static_cast<std::ptrdiff_t>(below(s.size() + 1)), '\0');
        }
        return s;
      }
    }
  }

  std::mt19937_64 engine_;
};

// Compares numparse::toDouble on text with strtod on a terminated copy of it (the process runs in
// the "C" locale): the status against what std::stod would throw (errno ERANGE: out of range; no
// character used: no number), the value bits and the end position. Returns an empty string when
// they agree, else what differs.
inline std::string compareWithStrtod(const std::string& text) {
  const std::string copy = text;  // c_str() ends the text at its first NUL, as strtod sees it
  char* stop = nullptr;
  errno = 0;
  const double expected = std::strtod(copy.c_str(), &stop);
  const bool rangeError = errno == ERANGE;
  const numparse::Status expectedStatus = stop == copy.c_str() ? numparse::Status::NoNumber
                                          : rangeError         ? numparse::Status::OutOfRange
                                                               : numparse::Status::Ok;
  double value = -12345.0;
  const char* end = nullptr;
  const numparse::Status status =
      numparse::toDouble(text.data(), text.data() + text.size(), value, &end);
  std::string difference;
  if (status != expectedStatus) {
    difference += " status";
  }
  if (std::memcmp(&value, &expected, sizeof value) != 0) {
    difference += " value";
  }
  if (end - text.data() != stop - copy.c_str()) {
    difference += " end";
  }
  return difference;
}

}  // namespace numparse_forms

#endif
