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

/// The shortest text, of at most 9 significant digits, that C's strtof reads back as the same
/// float ("0.98895115", "1e-05", "-3"), in printf's %g form with a decimal point: the value as a
/// program that holds it in single precision holds it. "nan", "inf" or "-inf" for a value that is
/// not finite.
std::string shortestFloatText(float value);

/// The text with every byte below 0x20 except the tab, and 0x7f, written as \\xNN (two upper-case
/// hexadecimal digits), and the characters that visibleText escapes written as visibleText writes
/// them, so that a file name or a cell of an input can neither drive a terminal nor reorder or
/// split the text it is shown in; other bytes from 0x80 up pass unchanged. Text longer than
/// maxBytes is cut after maxBytes bytes and "..." appended. The library's messages and
/// SkippedLine::text are escaped this way.
std::string printableText(std::string_view text, std::size_t maxBytes = 200);

/// The UTF-8 text with every character that changes how the text around it is shown written as
/// \\uXXXX (four upper-case hexadecimal digits): the C1 controls U+0080 to U+009F, the
/// bidirectional marks, embeddings, overrides and isolates (U+061C, U+200E, U+200F, U+202A to
/// U+202E, U+2066 to U+2069) and the line and paragraph separators (U+2028, U+2029). Everything
/// else passes unchanged, so that JSON text stays JSON with the same values.
std::string visibleText(std::string_view text);

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
