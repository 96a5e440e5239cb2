#include "fluxtrim/units.hpp"

#include <charconv>
#include <cmath>
#include <string_view>

#include "fluxtrim/error.hpp"
#include "numparse.hpp"
#include "printable.hpp"

namespace fluxtrim {

namespace {

bool validScale(double countsPerGauss) {
  return std::isfinite(countsPerGauss) && countsPerGauss > 0.0;
}

// The shortest decimal text that reads back to the same double.
std::string shortest(double value) {
  char text[32];
  const std::to_chars_result result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

void checkScale(const SampleUnit& unit) {
  if (unit.unit == Unit::Counts && !validScale(unit.countsPerGauss)) {
    throw UsageError("counts per gauss must be finite and greater than 0, not " +
                     shortest(unit.countsPerGauss));
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
      return 1e-3;
    case Unit::Microtesla:
      return 1e-2;
    case Unit::Nanotesla:
      return 1e-5;
    case Unit::Tesla:
      return 1e4;
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
      return value / 1000.0;
    case Unit::Microtesla:
      return value / 100.0;
    case Unit::Nanotesla:
      return value / 100000.0;
    case Unit::Tesla:
      return value * 10000.0;
    case Unit::Counts:
      return value / countsPerGauss;
  }
  return value;
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
      return "counts (" + shortest(countsPerGauss) + " per gauss)";
  }
  return "?";
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
  const std::string quoted = "'" + printableText(text.data(), text.data() + text.size()) + "'";
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

}  // namespace fluxtrim
