// Kinds of line in serial logs that interleave several sensors: a line's label and the unit after
// its values, and the choice of the kind whose lines hold the magnetometer's samples, as the
// documentation of readSamples describes them. Not installed.
#ifndef FLUXTRIM_LINE_KINDS_HPP
#define FLUXTRIM_LINE_KINDS_HPP

#include <string>
#include <string_view>
#include <vector>

#include "fluxtrim/samples.hpp"

namespace fluxtrim::detail {

// The label and the unit of a line [first, last) without its line end, pointing into the line;
// both empty for a plain line.
struct LineSignature {
  std::string_view label;
  std::string_view unit;
  bool plain() const { return label.empty() && unit.empty(); }
};
LineSignature lineSignature(const char* first, const char* last);

// The kind of the signature's lines, with no line counted.
LineKind kindOf(const LineSignature& signature);

// Whether the label is that of the Raw: layout (any case).
bool isRawLabel(std::string_view label);

// The index of the kind with the signature's label (without regard to case) and unit, or -1.
int findKind(const std::vector<LineKind>& kinds, const LineSignature& signature);

// The index of the kind to keep, or -1 when every kind names another sensor. Throws
// AmbiguousInput, naming the input by sourceName, when several kinds name a magnetometer or
// several name nothing.
int chooseKind(const std::vector<LineKind>& kinds, const std::string& sourceName);

}  // namespace fluxtrim::detail

#endif
