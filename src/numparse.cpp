#include "numparse.hpp"

#include <locale.h>
#include <stdlib.h>

#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <system_error>

namespace numparse {

namespace {

// The "C" locale, whatever locale the process has selected; null when it cannot be made, and
// strtod is then used as it is.
locale_t cLocale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return locale;
}

// strtod itself, on a terminated copy of the text (a stack buffer for short text).
Status viaStrtod(const char* first, const char* last, double& value, const char** end) {
  const std::size_t length = static_cast<std::size_t>(last - first);
  char shortText[128];
  std::string longText;
  const char* text = shortText;
  if (length < sizeof shortText) {
    std::memcpy(shortText, first, length);
    shortText[length] = '\0';
  } else {
    longText.assign(first, last);
    text = longText.c_str();
  }
  char* stop = nullptr;
  const int savedErrno = errno;
  errno = 0;
  const locale_t locale = cLocale();
  value = locale != static_cast<locale_t>(nullptr) ? strtod_l(text, &stop, locale)
                                                   : std::strtod(text, &stop);
  const bool rangeError = errno == ERANGE;
  errno = savedErrno;
  if (end != nullptr) {
    *end = first + (stop - text);
  }
  if (stop == text) {
    return Status::NoNumber;
  }
  return rangeError ? Status::OutOfRange : Status::Ok;
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

// Short decimal text takes the exact path above. For the rest, std::from_chars reads decimal
// text to the correctly rounded double, as strtod does, and stops where strtod stops; it is used
// where the two are known to agree: text that starts with a digit or a point, after at most a
// minus sign, that is not hexadecimal, and a result that is finite, above DBL_MIN and below
// DBL_MAX in magnitude. Everything else goes to strtod: leading blanks and '+', which from_chars
// refuses; "0x", which it reads as 0; inf and nan(...); zero (also the underflow of a tiny
// number), subnormal results and those that round up to DBL_MIN, for which strtod reports a range
// error; overflow.
Status toDouble(const char* first, const char* last, double& value, const char** end) {
  if (exactShortDecimal(first, last, value, end)) {
    return Status::Ok;
  }
  const char* p = first;
  if (p != last && *p == '-') {
    ++p;
  }
  if (p != last && (isDigit(*p) || *p == '.')) {
    const bool hexadecimal = *p == '0' && last - p > 1 && (p[1] == 'x' || p[1] == 'X');
    if (!hexadecimal) {
      double fast = 0.0;
      const std::from_chars_result result = std::from_chars(first, last, fast);
      const double magnitude = std::fabs(fast);
      if (result.ec == std::errc() && magnitude > DBL_MIN && magnitude < DBL_MAX) {
        value = fast;
        if (end != nullptr) {
          *end = result.ptr;
        }
        return Status::Ok;
      }
    }
  }
  return viaStrtod(first, last, value, end);
}

}  // namespace numparse
