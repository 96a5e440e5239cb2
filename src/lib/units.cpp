#include "fluxtrim/units.hpp"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "fluxtrim/error.hpp"
#include "fluxtrim/text.hpp"
#include "numparse.hpp"

namespace fluxtrim {

namespace {

// Units of each field unit per gauss, the one home of these ratios. Each is exactly
// representable, so that a conversion by one of them rounds once.
constexpr double kMilligaussPerGauss = 1000.0;
constexpr double kMicroteslaPerGauss = 100.0;
constexpr double kNanoteslaPerGauss = 100000.0;
constexpr double kGaussPerTesla = 10000.0;

bool validScale(double countsPerGauss) {
  return std::isfinite(countsPerGauss) && countsPerGauss > 0.0;
}

void checkScale(const SampleUnit& unit) {
  if (unit.unit == Unit::Counts && !validScale(unit.countsPerGauss)) {
    throw UsageError("counts per gauss must be finite and greater than 0, not " +
                     shortestText(unit.countsPerGauss));
  }
}

std::string lowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return lower;
}

std::string_view trimBlanks(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) {
    return {};
  }
  const std::size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

}  // namespace

double SampleUnit::gaussPerUnit() const {
  checkScale(*this);
  switch (unit) {
    case Unit::Gauss:
      return 1.0;
    case Unit::Milligauss:
      return 1.0 / kMilligaussPerGauss;
    case Unit::Microtesla:
      return 1.0 / kMicroteslaPerGauss;
    case Unit::Nanotesla:
      return 1.0 / kNanoteslaPerGauss;
    case Unit::Tesla:
      return kGaussPerTesla;
    case Unit::Counts:
      return 1.0 / countsPerGauss;
  }
  return 1.0;
}

double SampleUnit::toGauss(double value) const {
  checkScale(*this);
  // Division by an exactly representable number of units per gauss rounds once; multiplying by
  // the rounded reciprocal would round twice.
  switch (unit) {
    case Unit::Gauss:
      return value;
    case Unit::Milligauss:
      return value / kMilligaussPerGauss;
    case Unit::Microtesla:
      return value / kMicroteslaPerGauss;
    case Unit::Nanotesla:
      return value / kNanoteslaPerGauss;
    case Unit::Tesla:
      return value * kGaussPerTesla;
    case Unit::Counts:
      return value / countsPerGauss;
  }
  return value;
}

double SampleUnit::fromGauss(double value_G) const {
  checkScale(*this);
  switch (unit) {
    case Unit::Gauss:
      return value_G;
    case Unit::Milligauss:
      return value_G * kMilligaussPerGauss;
    case Unit::Microtesla:
      return value_G * kMicroteslaPerGauss;
    case Unit::Nanotesla:
      return value_G * kNanoteslaPerGauss;
    case Unit::Tesla:
      return value_G / kGaussPerTesla;
    case Unit::Counts:
      return value_G * countsPerGauss;
  }
  return value_G;
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
      return "counts";
  }
  return "?";
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
      return "counts (" + shortestText(countsPerGauss) + " per gauss)";
  }
  return "?";
}

double convertUnit(double value, const SampleUnit& from, const SampleUnit& to) {
  if (from.gaussPerUnit() == to.gaussPerUnit()) {
    return value;
  }
  return to.fromGauss(from.toGauss(value));
}

SampleUnit parseUnit(const std::string& text) {
  const std::string_view unit = trimBlanks(text);
  // Symbols are case-sensitive: "mG" is milligauss, "MG" would be megagauss.
  if (unit == "G") {
    return SampleUnit{Unit::Gauss};
  }
  if (unit == "mG") {
    return SampleUnit{Unit::Milligauss};
  }
  if (unit == "uT" || unit == "\xC2\xB5T" || unit == "\xCE\xBCT") {  // micro sign, Greek mu
    return SampleUnit{Unit::Microtesla};
  }
  if (unit == "nT") {
    return SampleUnit{Unit::Nanotesla};
  }
  if (unit == "T") {
    return SampleUnit{Unit::Tesla};
  }
  const std::string lower = lowerAscii(unit);
  if (lower == "gauss") {
    return SampleUnit{Unit::Gauss};
  }
  if (lower == "milligauss") {
    return SampleUnit{Unit::Milligauss};
  }
  if (lower == "microtesla") {
    return SampleUnit{Unit::Microtesla};
  }
  if (lower == "nanotesla") {
    return SampleUnit{Unit::Nanotesla};
  }
  if (lower == "tesla") {
    return SampleUnit{Unit::Tesla};
  }
  const std::string quoted = "'" + printableText(text) + "'";
  const std::string_view countsPrefix = "counts";
  if (lower.compare(0, countsPrefix.size(), countsPrefix) == 0) {
    const std::string_view scale = trimBlanks(unit.substr(countsPrefix.size()));
    if (scale.empty() || scale.front() != ':') {
      throw UsageError("unit " + quoted +
                       ": raw counts need the sensor's scale, as counts:N with N counts per gauss");
    }
    const std::string_view number = trimBlanks(scale.substr(1));
    const char* const first = number.data();
    const char* const last = first + number.size();
    double value = 0.0;
    const char* end = nullptr;
    if (!number.empty() && numparse::toDouble(first, last, value, &end) == numparse::Status::Ok &&
        end == last && validScale(value)) {
      return SampleUnit::counts(value);
    }
    throw UsageError("unit " + quoted +
                     ": the counts per gauss must be one number, finite and greater than 0");
  }
  throw UsageError("unknown unit " + quoted +
                   "; expected G, mG, uT, nT, T, gauss, milligauss, microtesla, nanotesla, "
                   "tesla or counts:N (N counts per gauss)");
}

// ---- Accelerometer units.

double AccelerometerUnit::perG() const {
  switch (unit) {
    case AccelUnit::MetresPerSecondSquared:
      return kStandardGravity_mps2;
    case AccelUnit::StandardGravity:
      return 1.0;
    case AccelUnit::Counts:
      if (!(std::isfinite(countsPerG) && countsPerG > 0.0)) {
        throw UsageError("accelerometer counts per g must be finite and greater than 0");
      }
      return countsPerG;
  }
  return 1.0;
}

std::string AccelerometerUnit::symbol() const {
  switch (unit) {
    case AccelUnit::MetresPerSecondSquared:
      return "m/s^2";
    case AccelUnit::StandardGravity:
      return "g";
    case AccelUnit::Counts:
      return "counts";
  }
  return "?";
}

AccelerometerUnit parseAccelerometerUnit(const std::string& text) {
  const std::size_t first = std::min(text.find_first_not_of(" \t"), text.size());
  const std::string unit = text.substr(first, text.find_last_not_of(" \t") + 1 - first);
  if (unit == "m/s^2" || unit == "m/s2" || unit == "m/s\xC2\xB2") {  // superscript two in UTF-8
    return AccelerometerUnit{AccelUnit::MetresPerSecondSquared};
  }
  if (unit == "g" || unit == "G") {
    return AccelerometerUnit{AccelUnit::StandardGravity};
  }
  const std::string quoted = "'" + printableText(text) + "'";
  std::string lower = unit.substr(0, 6);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  });
  if (lower == "counts") {
    // The counts:N form is the magnetometer's; only the quantity per count differs.
    try {
      return AccelerometerUnit::counts(parseUnit(unit).countsPerGauss);
    } catch (const UsageError&) {
      throw UsageError("accelerometer unit " + quoted +
                       ": raw counts need the sensor's scale, as counts:N with N counts per g, "
                       "one number, finite and greater than 0");
    }
  }
  throw UsageError("unknown accelerometer unit " + quoted +
                   "; expected m/s^2, g or counts:N (N counts per g)");
}

}  // namespace fluxtrim
