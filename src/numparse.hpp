// Conversion of decimal and hexadecimal text to double, exactly as the C library's strtod does
// in the "C" locale, without building a string per number. Shared by the readers of the tool
// object and of the library.
#ifndef NUMPARSE_HPP
#define NUMPARSE_HPP

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

}  // namespace numparse

#endif
