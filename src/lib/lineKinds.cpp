#include "lineKinds.hpp"

#include "labelledValues.hpp"
#include "sampleLayout.hpp"
#include "sampleWords.hpp"

namespace fluxtrim::detail {

namespace {

bool isLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

const char* skipBlanks(const char* p, const char* last) {
  while (p != last && isBlank(*p)) {
    ++p;
  }
  return p;
}

// The leading word of a line when it labels the line: followed by ':' or '=' (after at most one
// axis letter, "Mag X:"), or a word of two letters or more naming a sensor ("mag 1 2 3"). Words
// that strtod reads (nan, inf) are values.
std::string_view labelOf(const char* first, const char* last) {
  const char* p = afterLinePrefix(first, last);
  const char* end = p;
  while (end != last && isLetter(*end)) {
    ++end;
  }
  const std::string_view word(p, static_cast<std::size_t>(end - p));
  if (word.empty() || equalIgnoringCase(word, "nan") || equalIgnoringCase(word, "inf") ||
      equalIgnoringCase(word, "infinity")) {
    return {};
  }
  const char* q = skipBlanks(end, last);
  const bool axis =
      q != last && (*q == 'X' || *q == 'Y' || *q == 'Z' || *q == 'x' || *q == 'y' || *q == 'z');
  if (axis && (q + 1 == last || !(isLetter(q[1]) || isDigit(q[1])))) {
    q = skipBlanks(q + 1, last);
  }
  if (q != last && (*q == ':' || *q == '=')) {
    return word;
  }
  // Without ':' a single letter (a, b, m) is too common in text columns to name a sensor.
  return word.size() > 1 && classifyName(word).sensor != Sensor::Unknown ? word
                                                                         : std::string_view{};
}

// The last word of a line when it is a unit.
std::string_view unitAtEnd(const char* first, const char* last) {
  while (last != first && isBlank(last[-1])) {
    --last;
  }
  const char* start = last;
  while (start != first && !isBlank(start[-1]) && start[-1] != ',' && start[-1] != ';') {
    --start;
  }
  const std::string_view word(start, static_cast<std::size_t>(last - start));
  return unitOfWord(word).sensor != Sensor::Unknown ? word : std::string_view{};
}

}  // namespace

LineSignature lineSignature(const char* first, const char* last) {
  return LineSignature{labelOf(first, last), unitAtEnd(first, last)};
}

LineKind kindOf(const LineSignature& signature) {
  LineKind kind;
  kind.label = std::string(signature.label);
  kind.unit = std::string(signature.unit);
  const Sensor byLabel =
      signature.label.empty() ? Sensor::Unknown : classifyName(signature.label).sensor;
  const Sensor byUnit = unitOfWord(signature.unit).sensor;
  if (byLabel != Sensor::Unknown && byUnit != Sensor::Unknown && byLabel != byUnit) {
    kind.sensor = Sensor::Other;  // the label and the unit disagree: neither is believed
  } else {
    kind.sensor = byLabel != Sensor::Unknown ? byLabel : byUnit;
  }
  return kind;
}

bool isRawLabel(std::string_view label) {
  return equalIgnoringCase(label, "raw");
}

int findKind(const std::vector<LineKind>& kinds, const LineSignature& signature) {
  for (std::size_t k = 0; k < kinds.size(); ++k) {
    if (kinds[k].unit == signature.unit && equalIgnoringCase(kinds[k].label, signature.label)) {
      return static_cast<int>(k);
    }
  }
  return -1;
}

int chooseKind(const std::vector<LineKind>& kinds, const std::string& sourceName) {
  std::vector<int> magnetometer;
  std::vector<int> layout;
  std::vector<int> unnamed;
  for (std::size_t k = 0; k < kinds.size(); ++k) {
    const int index = static_cast<int>(k);
    if (kinds[k].sensor == Sensor::Magnetometer) {
      magnetometer.push_back(index);
    } else if (kinds[k].sensor == Sensor::Unknown) {
      (isRawLabel(kinds[k].label) ? layout : unnamed).push_back(index);
    }
  }
  std::string listed;
  for (const LineKind& kind : kinds) {
    listed += (listed.empty() ? "" : ", ") + std::to_string(kind.lines) + " " + lineKindText(kind);
  }
  if (magnetometer.size() > 1) {
    throw AmbiguousInput(sourceName + ": " + std::to_string(magnetometer.size()) +
                             " kinds of line name a magnetometer, which is it? " + listed,
                         sourceName, {}, kinds);
  }
  if (magnetometer.size() == 1) {
    return magnetometer.front();
  }
  if (layout.size() == 1) {
    return layout.front();
  }
  if (unnamed.size() > 1 || !layout.empty()) {
    throw AmbiguousInput(sourceName + ": " + std::to_string(kinds.size()) +
                             " kinds of line and none names a magnetometer, which is it? " + listed,
                         sourceName, {}, kinds);
  }
  return unnamed.empty() ? -1 : unnamed.front();
}

}  // namespace fluxtrim::detail
