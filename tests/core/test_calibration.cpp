// End-to-end tests of the calibration core on samples generated with a known calibration, and of
// the entry point's acceptance window, blocked mean and degenerate inputs. The entry point's unit
// is compiled into this test so that its scaled norm can be checked directly.
#include "staticMagCalibration.cpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FERROKIT.hpp"
#include "calibration_test_data.h"
#include "magcal.h"

namespace {

using calibration_test::Coverage;
using calibration_test::Mat3;
using calibration_test::sampleMatrix;
using calibration_test::Truth;
using calibration_test::Vec3;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Calibration {
  double offset[3];
  double matrix[9];  // column-major: (r, c) at r + 3c
  double meanNorm;
};

Calibration calibrate(const std::vector<Vec3>& samples, const Vec3& reference, double tolerance) {
  Calibration out;
  // Sentinels: every output must be written.
  for (double& v : out.offset) v = 12345.0;
  for (double& v : out.matrix) v = 12345.0;
  out.meanNorm = 12345.0;
  staticMagCalibration(sampleMatrix(samples), reference.data(), tolerance, out.offset, out.matrix,
                       &out.meanNorm);
  return out;
}

// Bitwise equality, NaN equal to NaN.
bool sameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

void expectSameCalibration(const double offsetA[3], const double matrixA[9],
                           const double offsetB[3], const double matrixB[9]) {
  for (int k = 0; k < 3; ++k) {
    EXPECT_TRUE(sameBits(offsetA[k], offsetB[k])) << "offset " << k;
  }
  for (int k = 0; k < 9; ++k) {
    EXPECT_TRUE(sameBits(matrixA[k], matrixB[k])) << "matrix " << k;
  }
}

void expectUncalibrated(const Calibration& c) {
  for (int k = 0; k < 9; ++k) {
    EXPECT_EQ(c.matrix[k], k % 4 == 0 ? 1.0 : 0.0);
  }
  for (double v : c.offset) {
    EXPECT_EQ(v, 0.0);
  }
  EXPECT_TRUE(std::isnan(c.meanNorm));
}

// The model that the matrix reveals: exactly the identity for the sphere, exactly zero off the
// diagonal for the axis-aligned ellipsoid, anything else for the general ellipsoid.
enum class Model { kSphere, kAxisAligned, kGeneral };

Model selectedModel(const double m[9]) {
  const bool diagonal =
      m[1] == 0.0 && m[2] == 0.0 && m[3] == 0.0 && m[5] == 0.0 && m[6] == 0.0 && m[7] == 0.0;
  if (diagonal && m[0] == 1.0 && m[4] == 1.0 && m[8] == 1.0) {
    return Model::kSphere;
  }
  return diagonal ? Model::kAxisAligned : Model::kGeneral;
}

const char* modelName(Model m) {
  switch (m) {
    case Model::kSphere:
      return "sphere";
    case Model::kAxisAligned:
      return "axis-aligned ellipsoid";
    case Model::kGeneral:
      return "general ellipsoid";
  }
  return "?";
}

// |(m - offset) * matrix| for one sample.
double correctedMagnitude(const Vec3& m, const Calibration& c) {
  double sumOfSquares = 0.0;
  for (int col = 0; col < 3; ++col) {
    double v = 0.0;
    for (int row = 0; row < 3; ++row) {
      v += (m[row] - c.offset[row]) * c.matrix[row + 3 * col];
    }
    sumOfSquares += v * v;
  }
  return std::sqrt(sumOfSquares);
}

// The calibration's matrix scaled to determinant 1, row-major.
Mat3 normalisedMatrix(const Calibration& c) {
  Mat3 found;
  for (int r = 0; r < 3; ++r) {
    for (int col = 0; col < 3; ++col) {
      found[r][col] = c.matrix[r + 3 * col];
    }
  }
  return calibration_test::unitDeterminant(found);
}

void expectCalibration(const Calibration& c, const Truth& truth, double offsetTolerance,
                       double matrixTolerance) {
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(c.offset[k], truth.offset[k], offsetTolerance) << "offset " << k;
  }
  const Mat3 expected = calibration_test::unitDeterminant(truth.correction());
  const Mat3 found = normalisedMatrix(c);
  for (int r = 0; r < 3; ++r) {
    for (int col = 0; col < 3; ++col) {
      EXPECT_NEAR(found[r][col], expected[r][col], matrixTolerance)
          << "matrix (" << r << ", " << col << ")";
    }
  }
}

const Mat3 kAligned = calibration_test::rotation(0, 0, 0);
const Mat3 kTilted = calibration_test::rotation(0.7, -0.6, 0.9);

// Without noise every model that can describe the samples fits them to rounding, so the result is
// exact whichever of those wins on rounding; a model that cannot describe them has a clearly larger
// error and is not kept: an axis-aligned ellipsoid never ends as the sphere, a rotated one only as
// the general ellipsoid.
TEST(Calibration, ExactSamplesAreFittedExactlyByAModelThatDescribesThem) {
  const Truth sphere{{1.0, 2.0, 3.0}, {1, 1, 1}, kAligned, 0.7};
  const Truth aligned{{-0.2, 0.1, 0.3}, {1.3, 1.0, 0.8}, kAligned, 0.5};
  const Truth rotated{{0.05, 0.0, -0.1}, {1.2, 1.0, 0.7}, kTilted, 0.45};
  for (Coverage coverage : {Coverage::kFullSphere, Coverage::kHemisphere, Coverage::kBand}) {
    SCOPED_TRACE(static_cast<int>(coverage));
    for (const Truth* truth : {&sphere, &aligned, &rotated}) {
      const std::vector<Vec3> samples = calibration_test::generate(*truth, 500, coverage, 0.0, 5);
      // A window wide enough to keep every sample.
      const Calibration c = calibrate(samples, {0.0, truth->field, 0.0}, 100.0);
      expectCalibration(c, *truth, 1e-9, 1e-9);
      for (const Vec3& m : samples) {
        EXPECT_NEAR(correctedMagnitude(m, c), c.meanNorm, 1e-9);
      }
      if (truth == &aligned) {
        EXPECT_NE(selectedModel(c.matrix), Model::kSphere);
      }
      if (truth == &rotated) {
        EXPECT_STREQ(modelName(selectedModel(c.matrix)), modelName(Model::kGeneral));
      }
    }
  }
}

struct Scenario {
  const char* name;
  Truth truth;
  Coverage coverage;
  double offsetTolerance;  // gauss
  double matrixTolerance;  // per element of the determinant-1 matrix
};

// 0.5 gauss field, 2 milligauss of noise per axis (a consumer sensor's), 2000 samples. The
// tolerances are about four times the largest error seen over 30 seeds; partial coverage leaves the
// ellipsoid less constrained (a hemisphere mostly the offset along its axis). With noise the
// general model also fits part of the noise and usually has the smallest error, so it is often
// selected even for a spherical or axis-aligned truth; for a rotated truth it is the only model
// that can be selected.
TEST(Calibration, RecoversKnownCalibrationFromNoisySamples) {
  const double field = 0.5;
  const double noise = 0.002;
  const Vec3 offset = {0.06, -0.04, 0.09};
  const Truth sphere{offset, {1, 1, 1}, kAligned, field};
  const Truth aligned{offset, {1.1, 0.95, 0.9}, kAligned, field};
  const Truth rotated{offset, {1.07, 0.99, 0.93}, kTilted, field};
  const Scenario scenarios[] = {
      {"sphere, full", sphere, Coverage::kFullSphere, 1e-3, 3e-3},
      {"sphere, hemisphere", sphere, Coverage::kHemisphere, 8e-3, 1e-2},
      {"axis-aligned, full", aligned, Coverage::kFullSphere, 1e-3, 3e-3},
      {"axis-aligned, band", aligned, Coverage::kBand, 2e-3, 1e-2},
      {"rotated, full", rotated, Coverage::kFullSphere, 1e-3, 3e-3},
      {"rotated, hemisphere", rotated, Coverage::kHemisphere, 8e-3, 1e-2},
      {"rotated, band", rotated, Coverage::kBand, 2e-3, 1e-2},
  };
  for (const Scenario& s : scenarios) {
    SCOPED_TRACE(s.name);
    const std::vector<Vec3> samples =
        calibration_test::generate(s.truth, 2000, s.coverage, noise, 42);
    const Calibration c = calibrate(samples, {0.0, 0.0, field}, 0.5);
    expectCalibration(c, s.truth, s.offsetTolerance, s.matrixTolerance);
    if (s.truth.gains[0] == rotated.gains[0]) {
      EXPECT_STREQ(modelName(selectedModel(c.matrix)), modelName(Model::kGeneral));
    }

    // The corrected samples lie on a sphere: their magnitudes scatter about as much as the noise.
    double sum = 0.0;
    for (const Vec3& m : samples) {
      sum += correctedMagnitude(m, c);
    }
    const double mean = sum / static_cast<double>(samples.size());
    EXPECT_NEAR(c.meanNorm, mean, 1e-12 * mean);
    double sumOfSquares = 0.0;
    for (const Vec3& m : samples) {
      const double deviation = correctedMagnitude(m, c) - mean;
      sumOfSquares += deviation * deviation;
    }
    EXPECT_LT(std::sqrt(sumOfSquares / static_cast<double>(samples.size())), 1.25 * noise);
  }
}

TEST(StaticMagCalibration, ScaledNormNeitherOverflowsNorUnderflows) {
  EXPECT_EQ(scaledNorm3(1e200, 1e200, 1e200), 1e200 * std::sqrt(3.0));
  EXPECT_NEAR(scaledNorm3(1e-200, 1e-200, 1e-200), 1e-200 * std::sqrt(3.0), 1e-215);
  EXPECT_GT(scaledNorm3(1e-200, 1e-200, 1e-200), 0.0);
  EXPECT_EQ(scaledNorm3(0.3, 0.0, 0.4), 0.5);
  EXPECT_EQ(scaledNorm3(0.0, -3.0, 0.0), 3.0);
  EXPECT_EQ(scaledNorm3(0.0, 0.0, 0.0), 0.0);
  EXPECT_TRUE(std::isnan(scaledNorm3(1.0, kNaN, 1.0)));
  EXPECT_TRUE(std::isinf(scaledNorm3(1.0, 0.0, std::numeric_limits<double>::infinity())));
}

// Rows of a sample set picked by index.
std::vector<Vec3> pick(const std::vector<Vec3>& rows, const std::vector<int>& which) {
  std::vector<Vec3> picked;
  for (int i : which) {
    picked.push_back(rows[i]);
  }
  return picked;
}

// The entry point fits exactly the samples that it accepts: its offset and matrix equal those of
// the fit on the expected subset, bit for bit.
void expectAcceptedRows(const std::vector<Vec3>& rows, const Vec3& reference, double tolerance,
                        const std::vector<int>& accepted) {
  const Calibration c = calibrate(rows, reference, tolerance);
  double A[9];
  double b[3];
  coder::magcal(sampleMatrix(pick(rows, accepted)), A, b);
  expectSameCalibration(c.offset, c.matrix, b, A);
}

TEST(StaticMagCalibration, WindowIncludesBothEnds) {
  // Reference magnitude 0.5 and tolerance 0.5: the window is [0.25, 0.75].
  const Truth truth{{0, 0, 0}, {1, 1, 1}, calibration_test::rotation(0, 0, 0), 0.5};
  std::vector<Vec3> rows = calibration_test::generate(truth, 30, Coverage::kFullSphere, 0.01, 9);
  std::vector<int> accepted;
  for (int i = 0; i < 30; ++i) {
    accepted.push_back(i);
  }
  rows.push_back({0.75, 0.0, 0.0});
  accepted.push_back(30);
  rows.push_back({0.0, std::nextafter(0.75, 1.0), 0.0});
  rows.push_back({0.0, 0.0, 0.25});
  accepted.push_back(32);
  rows.push_back({std::nextafter(0.25, 0.0), 0.0, 0.0});
  rows.push_back({0.0, 0.0, 0.0});
  expectAcceptedRows(rows, {0.0, 0.0, 0.5}, 0.5, accepted);

  // The rejected rows would have changed the fit.
  double A[9];
  double b[3];
  coder::magcal(sampleMatrix(rows), A, b);
  const Calibration c = calibrate(rows, {0.0, 0.0, 0.5}, 0.5);
  EXPECT_FALSE(sameBits(b[0], c.offset[0]) && sameBits(b[1], c.offset[1]) &&
               sameBits(b[2], c.offset[2]));
}

TEST(StaticMagCalibration, ZeroToleranceKeepsExactMagnitudesOnly) {
  const std::vector<Vec3> rows = {{0.3, 0.0, 0.4},   {0.5, 0.0, 0.0},
                                  {0.0, 0.3, 0.4},   {std::nextafter(0.5, 1.0), 0.0, 0.0},
                                  {0.0, -0.5, 0.0},  {0.0, 0.0, std::nextafter(0.5, 0.0)},
                                  {-0.3, -0.4, 0.0}, {0.4, 0.0, -0.3}};
  expectAcceptedRows(rows, {0.0, 0.0, 0.5}, 0.0, {0, 1, 2, 4, 6, 7});
}

TEST(StaticMagCalibration, NothingAcceptedGivesIdentityZeroOffsetAndNaNMean) {
  const std::vector<Vec3> rows = {{0.0, 0.0, 0.0}, {0.3, 0.0, 0.0}, {2.0, 0.0, 0.0}};
  expectUncalibrated(calibrate(rows, {0.0, 0.0, 0.5}, 0.2));
  // A negative tolerance turns the window inside out.
  expectUncalibrated(calibrate({{0.5, 0.0, 0.0}}, {0.0, 0.0, 0.5}, -0.1));
  // No samples at all (a file that could not be read).
  expectUncalibrated(calibrate({}, {0.0, 0.0, 0.5}, 0.2));
}

// Fewer accepted samples than a model has parameters: the fits still run on what there is, and a
// model that the samples cannot determine does not displace the exact sphere.
TEST(StaticMagCalibration, FewerSamplesThanParameters) {
  const Truth truth{{0.1, -0.1, 0.05}, {1, 1, 1}, calibration_test::rotation(0, 0, 0), 0.5};
  for (int count : {5, 6, 8, 9}) {
    SCOPED_TRACE(count);
    const std::vector<Vec3> rows =
        calibration_test::generate(truth, count, Coverage::kFullSphere, 0.0, 11);
    const Calibration c = calibrate(rows, {0.5, 0.0, 0.0}, 0.8);
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(c.offset[k], truth.offset[k], 1e-9);
    }
    EXPECT_NEAR(c.meanNorm, 0.5, 1e-9);
    if (count < 7) {
      // The ellipsoid fits get a vector of a non-zero singular value: clearly worse than the exact
      // sphere.
      EXPECT_STREQ(modelName(selectedModel(c.matrix)), modelName(Model::kSphere));
    }
  }
  // One and two samples: still written, nothing read out of bounds.
  for (int count : {1, 2}) {
    const std::vector<Vec3> rows =
        calibration_test::generate(truth, count, Coverage::kFullSphere, 0.0, 11);
    const Calibration c = calibrate(rows, {0.5, 0.0, 0.0}, 0.8);
    EXPECT_NE(c.offset[0], 12345.0);
    EXPECT_NE(c.matrix[0], 12345.0);
  }
}

// A sample with a NaN coordinate is never accepted; the calibration is that of the others and the
// mean is finite.
TEST(StaticMagCalibration, NaNCoordinateIsRejected) {
  const Truth truth{{0.1, 0.0, -0.1}, {1.1, 1, 0.9}, calibration_test::rotation(0, 0.4, 0), 0.5};
  std::vector<Vec3> rows = calibration_test::generate(truth, 100, Coverage::kFullSphere, 0.001, 4);
  std::vector<int> others;
  for (int i = 0; i < 100; ++i) {
    if (i != 40) {
      others.push_back(i);
    }
  }
  rows[40][2] = kNaN;
  expectAcceptedRows(rows, {0.0, 0.0, 0.5}, 0.5, others);
  EXPECT_TRUE(std::isfinite(calibrate(rows, {0.0, 0.0, 0.5}, 0.5).meanNorm));
}

// The corrected magnitude of one sample, with the entry point's own operation order.
double correctedNorm(const Vec3& m, const Calibration& c) {
  double v[3];
  for (int col = 0; col < 3; ++col) {
    const double* S = c.matrix;
    v[col] = ((m[0] - c.offset[0]) * S[0 + 3 * col] + (m[1] - c.offset[1]) * S[1 + 3 * col]) +
             (m[2] - c.offset[2]) * S[2 + 3 * col];
  }
  return scaledNorm3(v[0], v[1], v[2]);
}

// More than 1024 accepted samples: the mean is summed in blocks of 1024, each block from its own
// first term, and the block sums added to the first block's.
TEST(StaticMagCalibration, MeanIsSummedInBlocksOf1024) {
  const Truth truth{
      {0.02, 0.03, -0.01}, {1.05, 1, 0.97}, calibration_test::rotation(0.1, 0, 0), 0.5};
  for (int accepted : {1000, 1500, 2048, 3000}) {
    SCOPED_TRACE(accepted);
    std::vector<Vec3> rows =
        calibration_test::generate(truth, accepted, Coverage::kFullSphere, 0.003, 21);
    // Interleave rejected rows so that the accepted ones are not contiguous.
    std::vector<Vec3> mixed;
    for (size_t i = 0; i < rows.size(); ++i) {
      mixed.push_back(rows[i]);
      if (i % 3 == 0) {
        mixed.push_back({0.0, 0.0, 0.0});
      }
    }
    const Calibration c = calibrate(mixed, {0.0, 0.0, 0.5}, 0.5);

    double total = 0.0;
    for (int first = 0; first < accepted; first += 1024) {
      const int last = std::min(first + 1024, accepted);
      double block = correctedNorm(rows[first], c);
      for (int k = first + 1; k < last; ++k) {
        block += correctedNorm(rows[k], c);
      }
      total = first == 0 ? block : total + block;
    }
    EXPECT_TRUE(sameBits(c.meanNorm, total / accepted));
  }
}

// The tool object hands its samples (header and final zero rows included) to the core and turns
// the core's outputs into the result record.
TEST(Handoff, ResultRecordFromTheCore) {
  // No file: no samples, so the identity, a zero offset and NaN magnitudes.
  FERROKIT empty;
  empty.readMagnetometerMeasures("/nonexistent/fluxtrim/mag.csv");
  empty.magCalibration(48.5578, 3.2914, 89.0, 0.2);
  const FERROKIT::MAGRESULT& none = empty.getMagCalibResult();
  for (int row = 0; row < 3; ++row) {
    EXPECT_EQ(none.hardIronOffset[row], 0.0);
    for (int col = 0; col < 3; ++col) {
      EXPECT_EQ(none.softIronMatrix[row][col], row == col ? 1.0 : 0.0);
    }
  }
  EXPECT_TRUE(std::isnan(none.magNormRef));
  EXPECT_TRUE(std::isnan(none.magNormRefHoriz));
  EXPECT_TRUE(std::isnan(none.magNormRefVertical));

  // South of the magnetic equator (the field points up): the vertical part of the mean magnitude
  // is negative, like the inclination.
  std::string dir = (std::filesystem::temp_directory_path() / "fluxtrim_handoff_XXXXXX").string();
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  const std::string path = dir + "/mag.csv";
  const Truth truth{{0.05, -0.02, 0.03}, {1.1, 1.0, 0.9}, kTilted, 0.6};
  const std::vector<Vec3> samples =
      calibration_test::generate(truth, 400, Coverage::kFullSphere, 0.0, 17);
  {
    std::ofstream out(path);
    out << "X,Y,Z\n";
    char line[96];
    for (const Vec3& m : samples) {
      std::snprintf(line, sizeof line, "%.17g,%.17g,%.17g\n", m[0], m[1], m[2]);
      out << line;
    }
  }
  FERROKIT kit;
  kit.readMagnetometerMeasures(path);
  std::filesystem::remove_all(dir);
  kit.magCalibration(-40.0, 140.0, 0.0, 0.9);
  const FERROKIT::MAGRESULT first = kit.getMagCalibResult();
  EXPECT_LT(first.inclination, 0.0);
  EXPECT_LT(first.magNormRefVertical, 0.0);
  EXPECT_EQ(first.magNormRefVertical, first.magNormRef * std::sin(first.inclination));
  EXPECT_EQ(first.magNormRefHoriz, std::cos(first.inclination) * first.magNormRef);
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(first.hardIronOffset[k], truth.offset[k], 1e-9);
  }
  const Mat3 expected = calibration_test::unitDeterminant(truth.correction());
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) {
      EXPECT_NEAR(first.softIronMatrix[row][col], expected[row][col], 1e-9);
    }
  }

  // The header row and the row after the final newline are zeros outside the window: the same
  // calibration as the samples alone, and a second call gives the same record.
  const Calibration direct =
      calibrate(samples, {first.WMMRef[0], first.WMMRef[1], first.WMMRef[2]}, 0.9);
  EXPECT_TRUE(sameBits(first.magNormRef, direct.meanNorm));
  kit.magCalibration(-40.0, 140.0, 0.0, 0.9);
  const FERROKIT::MAGRESULT& second = kit.getMagCalibResult();
  EXPECT_TRUE(sameBits(second.magNormRef, first.magNormRef));
  for (int row = 0; row < 3; ++row) {
    EXPECT_TRUE(sameBits(second.hardIronOffset[row], direct.offset[row]));
    for (int col = 0; col < 3; ++col) {
      EXPECT_TRUE(sameBits(second.softIronMatrix[row][col], direct.matrix[row + 3 * col]));
    }
  }
}

}  // namespace
