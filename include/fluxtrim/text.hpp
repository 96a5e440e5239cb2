/// @file
/// Text as the library writes it, for a program that prints beside it: numbers in the shortest
/// form that reads back exactly, untrusted text made safe to echo on a terminal, and
/// printf-style formatting into a string.
#ifndef FLUXTRIM_TEXT_HPP
#define FLUXTRIM_TEXT_HPP

#include <cstddef>
#include <string>
#include <string_view>

#if defined(__GNUC__)
#define FLUXTRIM_PRINTF_FORMAT(pattern, first) __attribute__((format(printf, pattern, first)))
#else
#define FLUXTRIM_PRINTF_FORMAT(pattern, first)
#endif

namespace fluxtrim {

/// The shortest decimal text that reads back as the same double ("0.483", "48300", "1e-05",
/// "-3"), written by std::to_chars and so the same under every locale; "nan", "inf" or "-inf"
/// for a value that is not finite.
std::string shortestText(double value);

/// The text with every byte below 0x20 except the tab, and 0x7f, written as \\xNN (two upper-case
/// hexadecimal digits), so that a file name or a cell of an input cannot drive a terminal; bytes
/// from 0x80 up pass unchanged. Text longer than maxBytes is cut after maxBytes bytes and "..."
/// appended. The library's messages and SkippedLine::text are escaped this way.
std::string printableText(std::string_view text, std::size_t maxBytes = 200);

/// printf-style formatting into a string of at most 511 bytes (the rest is cut). Numbers follow
/// the C library's LC_NUMERIC locale, "C" unless the program sets another.
std::string formatText(const char* pattern, ...) FLUXTRIM_PRINTF_FORMAT(1, 2);

/// Whether a figure can be shown as a number that means something: finite, and of magnitude
/// below 1e9. Beyond that (an infinity, a residual of 3e+300 %) it comes from a fit that failed
/// rather than from a measurement, and %f would print it with hundreds of digits.
bool judgeable(double value);

/// One figure in words where no number can be given: "not judged" for NaN, "beyond judgement"
/// for a value that is not judgeable; otherwise formatText(pattern, value). pattern holds exactly
/// one conversion, of a double ("%.2f %%", "%+.1f", "%.4g G"); nothing else is checked.
std::string figureText(const char* pattern, double value);

}  // namespace fluxtrim

#endif
