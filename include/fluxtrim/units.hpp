// Units in which magnetometer samples may be given.
#ifndef FLUXTRIM_UNITS_HPP
#define FLUXTRIM_UNITS_HPP

#include <string>

namespace fluxtrim {

enum class Unit {
  Gauss,
  Milligauss,
  Microtesla,
  Nanotesla,
  Tesla,
  Counts,  // raw sensor counts; needs the sensor's scale in counts per gauss
};

// The unit of a set of samples. For Counts, countsPerGauss is the sensor's scale (> 0).
struct SampleUnit {
  Unit unit = Unit::Gauss;
  double countsPerGauss = 0.0;

  static SampleUnit counts(double countsPerGauss) {
    return SampleUnit{Unit::Counts, countsPerGauss};
  }

  // Gauss in one unit of the samples: 1, 1e-3, 1e-2, 1e-5, 1e4, or 1 / countsPerGauss.
  double gaussPerUnit() const;
  // Short symbol for output: "G", "mG", "uT", "nT", "T" or "counts".
  std::string symbol() const;
  // Full name for messages: "gauss", "milligauss", "microtesla", "nanotesla", "tesla" or
  // "counts (N per gauss)".
  std::string name() const;
};

// Reads a unit as a user types it: the symbols G, mG, uT, µT, nT and T exactly as written here,
// the names gauss, milligauss, microtesla, nanotesla and tesla in any case, or counts:N with N
// counts per gauss (N finite and > 0). Throws UsageError for anything else.
SampleUnit parseUnit(const std::string& text);

}  // namespace fluxtrim

#endif
