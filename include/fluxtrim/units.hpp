/// @file
/// Units in which magnetometer and accelerometer samples may be given.
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
  Counts,  ///< raw sensor counts; needs the sensor's scale in counts per gauss
};

/// The unit of a set of samples. For Counts, countsPerGauss is the sensor's scale (finite, > 0);
/// for the other units it is not used.
struct SampleUnit {
  Unit unit = Unit::Gauss;
  double countsPerGauss = 0.0;

  static SampleUnit counts(double countsPerGauss) {
    return SampleUnit{Unit::Counts, countsPerGauss};
  }

  /// Gauss in one unit of the samples: 1, 1e-3, 1e-2, 1e-5, 1e4, or 1 / countsPerGauss (each the
  /// double nearest the exact ratio). Throws UsageError for Counts with a scale that is not finite
  /// and > 0.
  double gaussPerUnit() const;
  /// A value of this unit in gauss, correctly rounded: value / 1000, / 100, / 100000, * 10000 or
  /// / countsPerGauss, so that 48300 nT gives the double nearest 0.483, where 48300 * 1e-5 gives
  /// 0.48300000000000004. Throws UsageError as gaussPerUnit does.
  double toGauss(double value) const;
  /// A value in gauss in this unit, correctly rounded: value_G * 1000, * 100, * 100000, / 10000 or
  /// * countsPerGauss, the inverse of toGauss. Throws UsageError as gaussPerUnit does.
  double fromGauss(double value_G) const;
  /// Short symbol for output: "G", "mG", "uT", "nT", "T" or "counts".
  std::string symbol() const;
  /// Full name for messages: "gauss", "milligauss", "microtesla", "nanotesla", "tesla" or
  /// "counts (N per gauss)", N in the shortest form that reads back to the same double.
  std::string name() const;
};

/// A value in unit from, in unit to: to.fromGauss(from.toGauss(value)), each step rounded once;
/// the value itself, to the bit, when both units hold as many gauss (G and G, counts:1000 and mG).
/// convertUnit(1.0, from, to) is the factor between the two. Throws UsageError as gaussPerUnit
/// does.
double convertUnit(double value, const SampleUnit& from, const SampleUnit& to);

/// Reads a unit as a user types it, surrounding blanks ignored: the symbols G, mG, uT, µT, nT and
/// T exactly as written here (µ the micro sign U+00B5 or the Greek mu U+03BC, in UTF-8), the names
/// gauss, milligauss, microtesla, nanotesla and tesla in any case, or counts:N ("counts" in any
/// case) with N counts per gauss, one number as strtod reads it, finite and > 0. Throws UsageError
/// naming the text for anything else.
SampleUnit parseUnit(const std::string& text);

// ---- Accelerometer samples.

/// Standard gravity, m/s^2: the value of 1 g.
constexpr double kStandardGravity_mps2 = 9.80665;

enum class AccelUnit {
  MetresPerSecondSquared,
  StandardGravity,  // g
  Counts,           // raw counts; needs the sensor's scale in counts per g
};

/// The unit of accelerometer samples. For Counts, countsPerG is the scale (finite, > 0); for the
/// other units it is not used.
struct AccelerometerUnit {
  AccelUnit unit = AccelUnit::MetresPerSecondSquared;
  double countsPerG = 0.0;

  static AccelerometerUnit counts(double countsPerG) {
    return AccelerometerUnit{AccelUnit::Counts, countsPerG};
  }
  /// Units in 1 g: 9.80665, 1 or countsPerG. Throws UsageError for Counts with a scale that is not
  /// finite and > 0.
  double perG() const;
  /// "m/s^2", "g" or "counts".
  std::string symbol() const;
};

/// Reads an accelerometer unit as a user types it, surrounding blanks ignored: m/s^2, m/s2 or
/// m/s² for metres per second squared, g or G for standard gravity, counts:N ("counts" in any
/// case) with N counts per g, one number as strtod reads it, finite and > 0. Throws UsageError
/// naming the text for anything else.
AccelerometerUnit parseAccelerometerUnit(const std::string& text);

}  // namespace fluxtrim

#endif
