#include "noCalibration.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "xnrm2.h"

namespace {

// A number in the %g form, six significant digits.
std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

// Magnitude of a sample or of the reference field, by the same scaled norm as the core's
// acceptance test, so that the count below is the core's.
double magnitude(double x, double y, double z) {
  const double v[3] = {x, y, z};
  return coder::internal::blas::xnrm2(3, v, 1);
}

// The unit whose gauss value the ratio of the samples' median magnitude to the reference
// magnitude suggests, or nullptr.
const char* likelyUnit(double ratio, double& factor) {
  struct Unit {
    double perGauss;
    const char* name;
  };
  const Unit units[] = {{100.0, "microtesla"}, {1000.0, "milligauss"}, {100000.0, "nanotesla"}};
  for (const Unit& unit : units) {
    if (ratio >= unit.perGauss / 2 && ratio <= unit.perGauss * 2) {
      factor = unit.perGauss;
      return unit.name;
    }
  }
  return nullptr;
}

}  // namespace

std::string noCalibrationReason(const FERROKIT& kit, double tolerance) {
  const FERROKIT::MAGRESULT& result = kit.getMagCalibResult();
  const double reference = magnitude(result.WMMRef[0], result.WMMRef[1], result.WMMRef[2]);
  const double halfWidth = reference * tolerance;
  const double upper = reference + halfWidth;
  const double lower = reference - halfWidth;

  const auto& columns = kit.getMagnetometerMeasures();
  const std::vector<std::uint8_t>& complete = kit.getCompleteRows();
  std::vector<double> magnitudes;  // of the complete rows, NaN left out
  std::size_t completeRows = 0;
  std::size_t accepted = 0;
  for (std::size_t row = 0; row < complete.size(); ++row) {
    if (complete[row] == 0) {
      continue;
    }
    ++completeRows;
    const double m = magnitude(columns[0][row], columns[1][row], columns[2][row]);
    if (m <= upper && m >= lower) {
      ++accepted;
    }
    if (!std::isnan(m)) {
      magnitudes.push_back(m);
    }
  }

  std::string text = std::to_string(completeRows) + " complete rows read, ";
  text += accepted == 0 ? std::string("none") : std::to_string(accepted);
  text += " with a magnitude within [" + number(lower) + ", " + number(upper) +
          "] gauss (reference magnitude " + number(reference) + " gauss, tolerance " +
          number(tolerance) + ")";
  if (accepted > 0) {
    text += ", but their calibration is not finite";
  }
  if (!(tolerance > 0.0)) {
    text += "; the tolerance must be above 0";
  }
  if (accepted == 0 && !magnitudes.empty()) {
    const auto middle = magnitudes.begin() + static_cast<std::ptrdiff_t>(magnitudes.size() / 2);
    std::nth_element(magnitudes.begin(), middle, magnitudes.end());
    const double median = *middle;
    double factor = 0.0;
    const char* const unit = likelyUnit(median / reference, factor);
    if (unit != nullptr) {
      text += "; the samples look like " + std::string(unit) + ": their median magnitude " +
              number(median) + " is about " + number(factor) +
              " times the reference, and samples must be in gauss";
    }
  }
  return text;
}
