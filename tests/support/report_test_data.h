// Recordings with a known truth for the report tests: a good tumble (with a few disturbed
// samples), a flat spin and a hemisphere, in gauss, against the model field at one place and date.
#ifndef FLUXTRIM_TESTS_REPORT_TEST_DATA_H
#define FLUXTRIM_TESTS_REPORT_TEST_DATA_H

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "calibration_test_data.h"
#include "fluxtrim/fluxtrim.hpp"

namespace report_test {

namespace ct = calibration_test;

enum class Recording { kTumble, kFlatSpin, kHemisphere };

struct Calibrated {
  fluxtrim::SampleSet samples;
  fluxtrim::CalibrationOptions options;
  fluxtrim::CalibrationResult result;
};

inline fluxtrim::CalibrationOptions modelOptions() {
  fluxtrim::CalibrationOptions options;
  options.reference = fluxtrim::Reference::fromField(
      fluxtrim::evaluateField(fluxtrim::FieldModel::WMM2025, {48.5578, 3.2914, 89.0}, 2026.0));
  return options;
}

// count samples of the recording, calibrated in the automatic mode.
inline Calibrated calibrated(Recording recording, int count = 3000) {
  Calibrated c;
  c.options = modelOptions();
  const double field_G = c.options.reference.total_G();
  const ct::Truth truth = {
      {0.06, -0.04, 0.09}, {1.08, 0.97, 0.94}, ct::rotation(0.3, -0.2, 0.5), field_G};
  std::vector<ct::Vec3> values;
  if (recording == Recording::kFlatSpin) {
    // Lying flat and turned about its Z axis: the field's horizontal part turns, its vertical
    // part (inclination 64 degrees) stays, with a slight wobble.
    std::mt19937_64 random(7);
    std::normal_distribution<double> wobble(0.0, 0.01);
    std::normal_distribution<double> noise(0.0, 0.001);
    const ct::Mat3 distortion = ct::symmetric(
        truth.axes, {1.0 / truth.gains[0], 1.0 / truth.gains[1], 1.0 / truth.gains[2]});
    const double inclination = 64.0 * 3.141592653589793 / 180.0;
    for (int i = 0; i < count; ++i) {
      const double heading = 2.0 * 3.141592653589793 * i / count;
      ct::Vec3 u = {std::cos(inclination) * std::cos(heading) + wobble(random),
                    std::cos(inclination) * std::sin(heading) + wobble(random),
                    std::sin(inclination) + wobble(random)};
      const double n = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
      ct::Vec3 m;
      for (int k = 0; k < 3; ++k) {
        m[k] = truth.offset[k] +
               truth.field * (u[0] * distortion[0][k] / n + u[1] * distortion[1][k] / n +
                              u[2] * distortion[2][k] / n) +
               noise(random);
      }
      values.push_back(m);
    }
  } else {
    values = ct::generate(
        truth, count,
        recording == Recording::kTumble ? ct::Coverage::kFullSphere : ct::Coverage::kHemisphere,
        0.001, 11);
  }
  if (recording == Recording::kTumble) {
    // One sample in a hundred disturbed: half as strong again.
    for (std::size_t i = 50; i < values.size(); i += 100) {
      for (int k = 0; k < 3; ++k) {
        values[i][k] = truth.offset[k] + 1.5 * (values[i][k] - truth.offset[k]);
      }
    }
  }
  static const char* const kNames[] = {"tumble.csv", "flat-spin.csv", "hemisphere.csv"};
  c.samples.source = kNames[static_cast<int>(recording)];
  for (const ct::Vec3& v : values) {
    c.samples.values.push_back({{v[0], v[1], v[2]}});
  }
  c.result = fluxtrim::calibrate(c.samples, c.options);
  return c;
}

}  // namespace report_test

#endif
