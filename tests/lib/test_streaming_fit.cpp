// The library's streamed fits against the core's own fits of the same rows: the same candidates
// (offset and matrix within 1e-9 of their largest element), the same flags and the same choice on
// every kind of recording the tests use, and the same bits on one thread and on two.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "calibration_test_data.h"
#include "coreThreads.h"
#include "fluxtrim/samples.hpp"
#include "lib/streamingFit.hpp"

namespace {

namespace ct = calibration_test;
using fluxtrim::Vec3;

constexpr double kPi = 3.141592653589793;

struct Recording {
  std::string name;
  std::vector<Vec3> values;
  std::vector<std::size_t> rows;  // the rows fitted, in order
  bool streams;                   // whether the streamed path should serve it (not the core)
};

Recording recording(const std::string& name, const std::vector<ct::Vec3>& samples, bool streams,
                    double scale = 1.0) {
  Recording r{name, {}, {}, streams};
  for (const ct::Vec3& s : samples) {
    r.rows.push_back(r.values.size());
    r.values.push_back({{s[0] * scale, s[1] * scale, s[2] * scale}});
  }
  return r;
}

ct::Truth truth(const ct::Vec3& offset = {0.06, -0.04, 0.09}) {
  return {offset, {1.08, 0.97, 0.94}, ct::rotation(0.3, -0.2, 0.5), 0.48};
}

// count samples on the circle of the given radius about (cx, cy) in the plane z = height, with a
// wobble of `wobble` in x.
std::vector<ct::Vec3> circle(int count, double cx, double cy, double radius, double height,
                             double wobble) {
  std::vector<ct::Vec3> samples;
  for (int k = 0; k < count; ++k) {
    const double a = 2.0 * kPi * k / count;
    samples.push_back({cx + radius * std::cos(a) + wobble * std::sin(7.0 * k),
                       cy + radius * std::sin(a), height});
  }
  return samples;
}

std::vector<Recording> recordings() {
  using ct::Coverage;
  const ct::Truth t = truth();
  const ct::Truth sphere{{0.1, 0.2, -0.3}, {1.0, 1.0, 1.0}, ct::rotation(0.0, 0.0, 0.0), 0.48};
  const ct::Truth aligned{{0.1, 0.2, -0.3}, {1.1, 0.9, 1.0}, ct::rotation(0.0, 0.0, 0.0), 0.48};
  const ct::Truth offset = truth({0.1728, -0.13824, 0.18432});
  const std::vector<ct::Vec3> tumble = ct::generate(t, 2000, Coverage::kFullSphere, 0.001, 11);
  std::vector<ct::Vec3> counts = tumble;
  for (ct::Vec3& v : counts) {
    for (double& c : v) {
      c = std::round(c * 1090.0);
    }
  }
  // A band only 4 % of the field high: nearly flat, still an ellipsoid.
  std::vector<ct::Vec3> thin;
  for (const ct::Vec3& v : ct::generate(t, 20000, Coverage::kBand, 0.001, 14)) {
    if (std::fabs(v[2] - t.offset[2]) < 0.02) {
      thin.push_back(v);
    }
  }

  std::vector<Recording> all = {
      recording("tumble", tumble, true),
      recording("hemisphere", ct::generate(t, 2000, Coverage::kHemisphere, 0.001, 12), true),
      recording("band", ct::generate(t, 2000, Coverage::kBand, 0.001, 13), true),
      recording("large offset", ct::generate(offset, 3000, Coverage::kFullSphere, 0.003, 1), true),
      recording("microtesla", tumble, true, 100.0),
      recording("nanotesla", tumble, true, 1e5),
      recording("raw counts", counts, true),
      recording("sphere only", ct::generate(sphere, 2000, Coverage::kFullSphere, 0.001, 5), true),
      recording("axis-aligned", ct::generate(aligned, 2000, Coverage::kFullSphere, 0.001, 6), true),
      recording("thin band", thin, true),
      recording("200,000 samples", ct::generate(t, 200000, Coverage::kFullSphere, 0.002, 9), true),
      recording("1025 samples", ct::generate(t, 1025, Coverage::kFullSphere, 0.001, 10), true),
      recording("11 samples", ct::generate(t, 11, Coverage::kFullSphere, 0.001, 8), true),
      // Noise-free: the errors are rounding, which the core's figures decide.
      recording("exact sphere", ct::generate(sphere, 2000, Coverage::kFullSphere, 0.0, 5), false),
      recording("exact ellipsoid", ct::generate(t, 2000, Coverage::kFullSphere, 0.0, 7), false),
      // Flat: the sphere's design loses its rank, the ellipsoids' vectors are not determined.
      recording("flat circle", circle(1000, 0.1, -0.2, 0.4, 0.3, 1e-3), false),
      recording("cone about z", circle(1000, 0.06, -0.04, 0.21, 0.52, 0.0), false),
      recording("10 samples", ct::generate(t, 10, Coverage::kFullSphere, 0.001, 8), false),
      recording("5 samples", ct::generate(t, 5, Coverage::kFullSphere, 0.0, 62), false),
      recording("no sample", {}, false),
      recording("a spike of 1e60", {{1e60, 0.0, 0.0}}, false),
  };
  // The spike among a tumble, and a NaN: the core's fits take both.
  all.back().values.insert(all.back().values.end(), all[0].values.begin(), all[0].values.end());
  all.back().rows.clear();
  for (std::size_t i = 0; i < all.back().values.size(); ++i) {
    all.back().rows.push_back(i);
  }
  Recording withNaN = all[0];
  withNaN.name = "a NaN";
  withNaN.values[700][1] = std::nan("");
  withNaN.streams = false;
  all.push_back(withNaN);

  const fluxtrim::SampleSet example =
      fluxtrim::readSamples(std::string(FLUXTRIM_SOURCE_DIR) + "/examples/mag.csv");
  Recording whole{"examples/mag.csv", example.values, {}, true};
  Recording sparse{"every third row of it", example.values, {}, true};
  for (std::size_t i = 0; i < example.values.size(); ++i) {
    whole.rows.push_back(i);
    if (i % 3 == 1) {
      sparse.rows.push_back(i);
    }
  }
  all.push_back(whole);
  all.push_back(sparse);
  return all;
}

// The streamed fits of the recording's rows, or where they cannot decide (false) the core's.
bool streamedFits(const Recording& r, coder::MagcalFits& fits) {
  std::vector<bool> taken(r.values.size(), false);
  for (std::size_t row : r.rows) {
    taken[row] = true;
  }
  const fluxtrim::detail::StreamedDesign design(r.values,
                                                [&](std::size_t i) { return bool(taken[i]); });
  EXPECT_EQ(design.rows(), r.rows.size());
  if (design.fits(fits)) {
    return true;
  }
  fluxtrim::detail::coreMagcalFits(r.values, r.rows, fits);
  return false;
}

// |expected - actual| / (largest |expected|) over count values; 0 when both are NaN throughout.
double relativeDifference(const double* expected, const double* actual, int count) {
  double largest = 0.0;
  double difference = 0.0;
  for (int k = 0; k < count; ++k) {
    if (std::isnan(expected[k]) && std::isnan(actual[k])) {
      continue;
    }
    largest = std::max(largest, std::fabs(expected[k]));
    difference = std::max(difference, std::fabs(expected[k] - actual[k]));
  }
  return difference == 0.0 ? 0.0 : difference / largest;
}

// Would catch: a column of the streamed design out of the core's coefficient order, a wrong sign
// in a reflection, a block or half left out of R, the sphere solved against the wrong column, a
// residual of the wrong model, a changed choice rule, and a fallback that is never or always
// taken (streams says which recordings must stream).
TEST(StreamingFit, AgreesWithTheCoreOnEveryKindOfRecording) {
  for (const Recording& r : recordings()) {
    SCOPED_TRACE(r.name);
    coder::MagcalFits core;
    coder::MagcalFits streamed;
    fluxtrim::detail::coreMagcalFits(r.values, r.rows, core);
    EXPECT_EQ(streamedFits(r, streamed), r.streams);
    EXPECT_EQ(streamed.chosen, core.chosen);
    for (int f = 0; f < 3; ++f) {
      SCOPED_TRACE("fit " + std::to_string(f));
      const coder::MagcalFit& a = core.fit[f];
      const coder::MagcalFit& b = streamed.fit[f];
      EXPECT_LE(relativeDifference(a.b, b.b, 3), 1e-9);
      EXPECT_LE(relativeDifference(a.A, b.A, 9), 1e-9);
      EXPECT_LE(relativeDifference(&a.radius, &b.radius, 1), 1e-9);
      EXPECT_LE(relativeDifference(&a.error, &b.error, 1), 1e-9);
      EXPECT_EQ(b.positiveDefinite, a.positiveDefinite);
      EXPECT_EQ(b.exactlyReal, a.exactlyReal);
    }
  }
}

// The halves are fixed by the sample count alone: one thread and two, and a split at any size,
// give the same bits. Would catch a partition or a combination order that follows the threads.
TEST(StreamingFit, OneThreadAndTwoGiveTheSameBits) {
  const std::vector<Recording> cases = {
      recording("many", ct::generate(truth(), 100000, ct::Coverage::kFullSphere, 0.002, 3), true),
      recording("few", ct::generate(truth(), 3000, ct::Coverage::kHemisphere, 0.002, 4), true)};
  for (const Recording& r : cases) {
    coder::MagcalFits runs[3];
    const int threads[3] = {1, 2, 2};
    const int threshold[3] = {0, 0, 3};
    for (int k = 0; k < 3; ++k) {
      coder::internal::setCoreThreads(threads[k], threshold[k]);
      EXPECT_TRUE(streamedFits(r, runs[k]));
    }
    coder::internal::setCoreThreads(0, 0);
    for (int k = 1; k < 3; ++k) {
      EXPECT_EQ(runs[k].chosen, runs[0].chosen);
      for (int f = 0; f < 3; ++f) {
        const coder::MagcalFit& a = runs[0].fit[f];
        const coder::MagcalFit& b = runs[k].fit[f];
        // The doubles of a fit lie together before its two flags.
        EXPECT_EQ(std::memcmp(a.A, b.A, sizeof a.A + sizeof a.b + 2 * sizeof(double)), 0)
            << r.name << ", run " << k << ", fit " << f;
        EXPECT_EQ(a.positiveDefinite, b.positiveDefinite);
        EXPECT_EQ(a.exactlyReal, b.exactlyReal);
      }
    }
  }
}

}  // namespace
