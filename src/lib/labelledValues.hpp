// Lines that name their values instead of placing them in columns: label:value pairs
// ("mx:1.0,my:2.0", "Mag: x=1 y=2 z=3"), groups ("acc: [1, 2, 3] mag: (4, 5, 6)", "{1, 2, 3}"),
// JSON objects ({"mag": {"x": 1, ...}}), values with their unit beside them ("1 uT, 2 uT"), each
// after the prefix a serial monitor or a logging library writes before it. Each number of such a
// line gets a key from the names around it, and the layout of these lines is the three keys of
// the magnetometer. Not installed.
#ifndef FLUXTRIM_LABELLED_VALUES_HPP
#define FLUXTRIM_LABELLED_VALUES_HPP

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fluxtrim/samples.hpp"
#include "sampleLayout.hpp"

namespace fluxtrim::detail {

// The line [first, last) after what a serial monitor or a logging library writes before the
// text of a line: a time of day ("12:00:01.123 -> "), a bracketed count or time ("[12345] "),
// a log level and tick count ("I (1234) "); first itself when none is there.
const char* afterLinePrefix(const char* first, const char* last);

// One number of a line and its key: the names it is written under joined by '.' ("mx",
// "mag.x", "Mag.X", "acc.x" for the first of three in "acc: [..]"), or '#' and its 1-based
// position in the line for a number no name precedes ("#2").
struct LabelledValue {
  std::string key;
  Cell cell;
};

struct LabelledLine {
  std::vector<LabelledValue> values;
  std::vector<std::string_view> units;  // the unit words the line writes, in order
};

// The numbers of the line [first, last) (its prefix already passed over) with their keys, and its
// unit words. line is cleared first; its storage is reused.
void readLabelledLine(const char* first, const char* last, LabelledLine& line);

// The value of the key in the line, or nullptr.
const LabelledValue* findValue(const LabelledLine& line, std::string_view key);

// The layout of lines that name their values, when their keys name the magnetometer's three
// values (or the lines hold three unnamed values and nothing else), for an input whose cells do
// not show three numeric columns. base is the layout the columns gave (its header, delimiter and
// warnings are kept). strongOnly: only keys that name the magnetometer are taken, for an input
// whose columns were ambiguous. Returns nothing when the lines do not name their values so;
// throws AmbiguousInput when they hold more than three unnamed values.
std::optional<Layout> chooseLabelledLayout(const std::vector<FirstLine>& lines,
                                           const ReadOptions& options,
                                           const std::string& sourceName, const Layout& base,
                                           bool strongOnly);

}  // namespace fluxtrim::detail

#endif
