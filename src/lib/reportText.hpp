// Text of the calibration report: numbers written the same way under every locale, and untrusted
// text made safe to place in HTML.
#ifndef FLUXTRIM_LIB_REPORT_TEXT_HPP
#define FLUXTRIM_LIB_REPORT_TEXT_HPP

#include <string>

namespace fluxtrim {
namespace detail {

// value with `decimals` digits after the point ("0.48338"), rounded to nearest by std::to_chars,
// so independent of the C and C++ locales. A result that rounds to zero has no minus sign
// ("-0.0001" at 2 decimals is "0.00"). "n/a" for NaN, "inf" and "-inf" for infinities.
std::string fixed(double value, int decimals);

// A figure of the calibration: fixed(value, decimals), or "not judged" for NaN and "beyond
// judgement" for a value that is not judgeable (fluxtrim/text.hpp), whose fixed form could run to
// hundreds of digits.
std::string figure(double value, int decimals);

// The shortest decimal text that reads back to the same double ("0.059798231", "1e-05"), for
// numbers meant to be copied; formatted as fixed() formats NaN and infinities.
std::string shortest(double value);

// value to `digits` significant digits, trailing zeros of the fraction dropped, without exponent
// for magnitudes from 1e-6 to 1e6 ("0.4834", "48338", "35", "0.000065", "1.2e-07"); formatted as
// fixed() formats NaN and infinities.
std::string significant(double value, int digits);

// fixed(value, decimals) with a typographic minus sign (U+2212) for the labels of axis ticks.
std::string tickText(double value, int decimals);

// Digits after the point that show about five significant digits of values of the size of
// scale (0.48 gives 5, 48338 gives 0); 4 when scale is zero or not finite.
int decimalsFor(double scale);

// The text as HTML character data or an attribute value: & < > " ' escaped, every control byte
// (tab and line feed included) shown as \xNN, the characters that reorder or split the text
// around them shown as \uXXXX (fluxtrim::visibleText), and bytes that are not valid UTF-8
// replaced by U+FFFD, so that a file name or a cell of the input can neither add markup nor
// break a line, reorder what is shown, or break the page's encoding.
std::string html(const std::string& text);

}  // namespace detail
}  // namespace fluxtrim

#endif
