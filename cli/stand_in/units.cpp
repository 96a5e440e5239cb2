// Stand-in for the library's sample units (fluxtrim/units.hpp), linked into the command only
// while no library source defines them (see ../CMakeLists.txt). It follows the header's contract.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fluxtrim/error.hpp"
#include "fluxtrim/units.hpp"

namespace fluxtrim {

double SampleUnit::gaussPerUnit() const {
  switch (unit) {
    case Unit::Gauss:
      return 1.0;
    case Unit::Milligauss:
      return 1e-3;
    case Unit::Microtesla:
      return 1e-2;
    case Unit::Nanotesla:
      return 1e-5;
    case Unit::Tesla:
      return 1e4;
    case Unit::Counts:
      break;
  }
  return 1.0 / countsPerGauss;
}

std::string SampleUnit::symbol() const {
  switch (unit) {
    case Unit::Gauss:
      return "G";
    case Unit::Milligauss:
      return "mG";
    case Unit::Microtesla:
      return "uT";
    case Unit::Nanotesla:
      return "nT";
    case Unit::Tesla:
      return "T";
    case Unit::Counts:
      break;
  }
  return "counts";
}

std::string SampleUnit::name() const {
  switch (unit) {
    case Unit::Gauss:
      return "gauss";
    case Unit::Milligauss:
      return "milligauss";
    case Unit::Microtesla:
      return "microtesla";
    case Unit::Nanotesla:
      return "nanotesla";
    case Unit::Tesla:
      return "tesla";
    case Unit::Counts:
      break;
  }
  char scale[32];
  std::snprintf(scale, sizeof scale, "%.17g", countsPerGauss);
  return std::string("counts (") + scale + " per gauss)";
}

SampleUnit parseUnit(const std::string& text) {
  struct Named {
    const char* symbol;
    const char* name;
    Unit unit;
  };
  static const Named kUnits[] = {{"G", "gauss", Unit::Gauss},
                                 {"mG", "milligauss", Unit::Milligauss},
                                 {"uT", "microtesla", Unit::Microtesla},
                                 {"\xC2\xB5T", "microtesla", Unit::Microtesla},
                                 {"nT", "nanotesla", Unit::Nanotesla},
                                 {"T", "tesla", Unit::Tesla}};
  std::string lower = text;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  for (const Named& named : kUnits) {
    if (text == named.symbol || lower == named.name) return SampleUnit{named.unit, 0.0};
  }
  const std::string counts = "counts:";
  if (lower.compare(0, counts.size(), counts) == 0 && text.size() > counts.size()) {
    const char* begin = text.c_str() + counts.size();
    char* end = nullptr;
    const double scale = std::strtod(begin, &end);
    if (*end == '\0' && std::isfinite(scale) && scale > 0.0) return SampleUnit::counts(scale);
  }
  throw UsageError("unknown unit '" + text +
                   "': expected G, mG, uT, nT, T, a unit's name, or counts:N with N counts per "
                   "gauss");
}

}  // namespace fluxtrim
