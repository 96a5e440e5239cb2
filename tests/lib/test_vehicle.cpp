// The vehicle routines on generated IMU recordings: the named mountings, the quasi-static
// samples, the mounting and inclination from a tumble, and the calibration from a turn.
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fluxtrim/calibration.hpp"
#include "fluxtrim/error.hpp"
#include "fluxtrim/field.hpp"
#include "fluxtrim/vehicle.hpp"
#include "imu_recording.h"
#include "lib/vehicleChecks.hpp"

namespace {

using namespace fluxtrim;
using imu_recording::Device;
using imu_recording::multiply;
using imu_recording::rotationAbout;
using imu_recording::transpose;

constexpr double kDegrees = 180.0 / 3.14159265358979323846;

// The place of the examples, or a place the given number of degrees of latitude north of it.
ReferenceField placeField(double northward_deg = 0.0) {
  return evaluateField(FieldModel::WMM2025, GeodeticPosition{48.5578 + northward_deg, 3.2914, 89.0},
                       decimalYear(2026, 12, 8));
}

double angleBetween(const Vec3& a, const Vec3& b) {
  const double d = a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
  const double n = std::sqrt((a[0] * a[0] + a[1] * a[1] + a[2] * a[2]) *
                             (b[0] * b[0] + b[1] * b[1] + b[2] * b[2]));
  return std::acos(std::fmin(1.0, d / n)) * kDegrees;
}

// Angle of the rotation a^T b, degrees.
double angleBetween(const Matrix3& a, const Matrix3& b) {
  const Matrix3 r = multiply(transpose(a), b);
  return std::acos(std::fmax(-1.0, std::fmin(1.0, 0.5 * (r[0][0] + r[1][1] + r[2][2] - 1.0)))) *
         kDegrees;
}

int orientationIndex(const std::string& name) {
  const auto& table = namedOrientations();
  for (int k = 0; k < kOrientationCount; ++k) {
    if (name == table[k].name) {
      return k;
    }
  }
  return -1;
}

// A device with hard and soft iron at the examples' place, its field the model's.
Device ironDevice(unsigned seed) {
  Device device;
  device.field = Reference::fromField(placeField()).vector_G();
  device.hardIron = {{0.06, -0.04, 0.09}};
  device.softIron = {{{{1.05, 0.03, -0.02}}, {{0.03, 0.97, 0.04}}, {{-0.02, 0.04, 1.01}}}};
  device.seed = seed;
  return device;
}

// What the command will do with a tumble: calibrate the magnetometer, find the quasi-static
// samples, estimate the mounting from both. With pushEvery > 0 every so many downs are turned by
// 20 degrees, as pushes that the quasi-static test let through would turn them.
MountingEstimate mountingOf(const Device& device, double modelInclination_deg,
                            std::size_t pushEvery = 0) {
  const std::vector<imu_recording::Sample> samples = device.handTumble(30);
  SampleSet set;
  set.values = imu_recording::magnetometer(samples);
  const CalibrationResult result = calibrate(set);
  std::vector<Vec3> corrected;
  for (const Vec3& raw : set.values) {
    corrected.push_back(applyCalibration(result.calibration, raw));
  }
  QuasiStatic steady =
      selectQuasiStatic(imu_recording::accelerations(samples), AccelerometerUnit{});
  for (std::size_t k = 0; pushEvery > 0 && k < steady.count(); k += pushEvery) {
    steady.down[k] = imu_recording::times(rotationAbout({{1.0, 0.0, 0.0}}, 20.0), steady.down[k]);
  }
  return estimateMounting(corrected, steady, modelInclination_deg);
}

TEST(NamedOrientations, AreTheTwentyFourRotationsAndFormAGroup) {
  // A wrong sign or order in a name's matrix makes two names coincide or one leave the group.
  const auto& table = namedOrientations();
  std::set<std::vector<double>> distinct;
  for (const NamedOrientation& o : table) {
    distinct.insert({o.matrix[0][0], o.matrix[0][1], o.matrix[0][2], o.matrix[1][0], o.matrix[1][1],
                     o.matrix[1][2], o.matrix[2][0], o.matrix[2][1], o.matrix[2][2]});
    EXPECT_NEAR(angleBetween(o.matrix, o.matrix), 0.0, 1e-6) << o.name;  // orthonormal
    const OrientationMatch self = nearestOrientation(o.matrix);
    EXPECT_EQ(table[self.index].number, o.number) << o.name;
    EXPECT_NEAR(self.angle_deg, 0.0, 1e-9) << o.name;
    for (const NamedOrientation& p : table) {
      EXPECT_NEAR(nearestOrientation(multiply(o.matrix, p.matrix)).angle_deg, 0.0, 1e-9);
    }
    EXPECT_NEAR(nearestOrientation(transpose(o.matrix)).angle_deg, 0.0, 1e-9);
  }
  EXPECT_EQ(distinct.size(), 24u);
}

TEST(NamedOrientations, NameRollThenPitchThenYawAppliedToTheReading) {
  // Written out by hand: the reading (x, y, z) = (1, 2, 3) as the firmware turns it.
  const Vec3 reading{{1.0, 2.0, 3.0}};
  const struct {
    const char* name;
    Vec3 turned;
  } cases[] = {{"yaw 90", {{-2.0, 1.0, 3.0}}},
               {"roll 180", {{1.0, -2.0, -3.0}}},
               {"pitch 90", {{3.0, 2.0, -1.0}}},
               {"roll 180 yaw 90", {{2.0, 1.0, -3.0}}},
               {"ROLL_90_YAW_270", {{-3.0, -1.0, 2.0}}}};
  for (const auto& c : cases) {
    const Vec3 turned = imu_recording::times(orientationMatrix(c.name), reading);
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(turned[k], c.turned[k]) << c.name << " component " << k;
    }
  }
  for (const char* bad : {"", "yaw 45", "yaw 90 roll 180", "roll", "roll 90 roll 90", "tilt 90"}) {
    EXPECT_THROW(orientationMatrix(bad), UsageError) << bad;
  }
}

TEST(Accelerometer, UnitsAndQuasiStaticSamples) {
  const std::vector<imu_recording::Sample> samples = ironDevice(3).handTumble(20);
  const std::vector<Vec3> accel = imu_recording::accelerations(samples);
  std::vector<Vec3> inG;
  std::vector<Vec3> inCounts;
  for (const Vec3& a : accel) {
    inG.push_back({{a[0] / kStandardGravity_mps2, a[1] / kStandardGravity_mps2,
                    a[2] / kStandardGravity_mps2}});
    inCounts.push_back({{inG.back()[0] * 4096.0, inG.back()[1] * 4096.0, inG.back()[2] * 4096.0}});
  }
  ASSERT_TRUE(detectAccelerometerUnit(accel).has_value());
  EXPECT_EQ(detectAccelerometerUnit(accel)->unit, AccelUnit::MetresPerSecondSquared);
  EXPECT_EQ(detectAccelerometerUnit(inG)->unit, AccelUnit::StandardGravity);
  EXPECT_FALSE(detectAccelerometerUnit(inCounts).has_value());
  EXPECT_EQ(parseAccelerometerUnit(" m/s^2 ").unit, AccelUnit::MetresPerSecondSquared);
  EXPECT_EQ(parseAccelerometerUnit("counts:4096").countsPerG, 4096.0);
  EXPECT_THROW(parseAccelerometerUnit("counts"), UsageError);
  EXPECT_THROW(parseAccelerometerUnit("km/h"), UsageError);

  // The same samples give the same selection in any unit; the pushes between poses are left
  // out, so every down is the true one (a reversed sign would be 180 degrees off).
  const QuasiStatic steady = selectQuasiStatic(accel, AccelerometerUnit{});
  const QuasiStatic counted = selectQuasiStatic(inCounts, AccelerometerUnit::counts(4096.0));
  EXPECT_EQ(steady.indices, counted.indices);
  std::size_t still = 0;
  for (const imu_recording::Sample& s : samples) {
    still += s.still ? 1 : 0;
  }
  EXPECT_GT(steady.count(), still * 3 / 4);
  double worst = 0.0;
  for (std::size_t k = 0; k < steady.count(); ++k) {
    worst = std::fmax(worst, angleBetween(steady.down[k], samples[steady.indices[k]].down));
  }
  EXPECT_LT(worst, 1.5);
}

TEST(Mounting, NamesEveryRightAngleMounting) {
  const double inclination = placeField().elements.inclination_deg;
  for (int k = 0; k < kOrientationCount; ++k) {
    Device device = ironDevice(100 + static_cast<unsigned>(k));
    device.accelFromMag = namedOrientations()[k].matrix;
    const MountingEstimate m = mountingOf(device, inclination);
    ASSERT_TRUE(m.determined) << namedOrientations()[k].name << ": " << m.problem;
    EXPECT_EQ(m.handedness, Handedness::Right) << namedOrientations()[k].name;
    EXPECT_EQ(m.nearest, k) << namedOrientations()[k].name;
    EXPECT_LT(m.misalignment_deg, 0.5) << namedOrientations()[k].name;
  }
}

TEST(Mounting, RecoversASmallMisalignment) {
  const Matrix3 misaligned = rotationAbout(Vec3{{1.0 / 3.0, 2.0 / 3.0, 2.0 / 3.0}}, 3.0);
  Device device = ironDevice(7);
  device.accelFromMag = multiply(orientationMatrix("roll 180 yaw 90"), misaligned);
  // One down in ten pushed aside: they are left out.
  const MountingEstimate m = mountingOf(device, placeField().elements.inclination_deg, 10);
  ASSERT_TRUE(m.determined) << m.problem;
  EXPECT_LT(m.used, m.samples * 92 / 100);
  EXPECT_EQ(m.nearest, orientationIndex("roll 180 yaw 90"));
  EXPECT_LT(angleBetween(m.matrix, device.accelFromMag), 0.5);
  EXPECT_NEAR(m.misalignment_deg, 3.0, 0.5);
  EXPECT_LT(m.uncertainty_deg, 0.5);
}

TEST(Mounting, ReportsAMirroredAxisSetAndWhenItCannotTell) {
  Device device = ironDevice(11);
  device.accelFromMag =
      multiply(orientationMatrix("yaw 90"), {{{{1, 0, 0}}, {{0, 1, 0}}, {{0, 0, -1}}}});
  const double inclination = placeField().elements.inclination_deg;
  const MountingEstimate m = mountingOf(device, inclination);
  ASSERT_TRUE(m.determined) << m.problem;
  EXPECT_EQ(m.handedness, Handedness::Mirrored);
  EXPECT_LT(
      angleBetween(multiply(transpose(device.accelFromMag), m.matrix), imu_recording::identity()),
      0.5);
  EXPECT_EQ(m.nearest, orientationIndex("yaw 90"));  // once Z is negated
  EXPECT_LT(m.misalignment_deg, 0.5);
  EXPECT_NEAR(m.measuredInclination_deg, inclination, 0.5);
  // Without the model's inclination the sign that tells a mirror is missing.
  EXPECT_EQ(mountingOf(device, std::nan("")).handedness, Handedness::Unknown);
}

TEST(Mounting, InclinationAgainstTheModel) {
  const double truth = placeField().elements.inclination_deg;
  const MountingEstimate clean = mountingOf(ironDevice(5), truth);
  ASSERT_TRUE(clean.determined) << clean.problem;
  EXPECT_NEAR(clean.measuredInclination_deg, truth, 0.5);
  EXPECT_LT(clean.inclinationUncertainty_deg, 0.5);

  // The place given 1,000 km north of the true one: the samples still show the true inclination,
  // several degrees from the model's there.
  const double far = placeField(9.0).elements.inclination_deg;
  const MountingEstimate elsewhere = mountingOf(ironDevice(5), far);
  EXPECT_GT(std::fabs(elsewhere.measuredInclination_deg - far), 3.0);

  // A constant field in the world (steel nearby) changes the inclination the samples show.
  Device disturbed = ironDevice(5);
  disturbed.disturbance = {{0.08, 0.03, 0.0}};
  const MountingEstimate d = mountingOf(disturbed, truth);
  ASSERT_TRUE(d.determined) << d.problem;
  EXPECT_GT(std::fabs(d.measuredInclination_deg - truth), 3.0);
  EXPECT_EQ(d.nearest, 0);
}

TEST(Mounting, RefusesPosesThatDoNotVary) {
  // A level turn leaves the rotation about the vertical free; a short recording has too few
  // quasi-static samples. Neither may name a mounting as determined.
  const Device device = ironDevice(9);
  const std::vector<imu_recording::Sample> turn = device.turn(0.0, 600);
  const QuasiStatic steady =
      selectQuasiStatic(imu_recording::accelerations(turn), AccelerometerUnit{});
  std::vector<Vec3> field;
  for (const imu_recording::Sample& s : turn) {
    field.push_back(s.field);
  }
  const MountingEstimate level = estimateMounting(field, steady, 64.0);
  EXPECT_FALSE(level.determined);
  EXPECT_FALSE(level.problem.empty());
  QuasiStatic few = steady;
  few.indices.resize(12);
  few.down.resize(12);
  EXPECT_FALSE(estimateMounting(field, few, 64.0).determined);
  few.indices.back() = field.size();
  EXPECT_THROW(estimateMounting(field, few, 64.0), UsageError);
}

// A device turned about its Z with soft iron in the plane only (the turn cannot show the rest)
// and a common gain that no unit accounts for.
Device turnDevice(const Matrix3& accelFromMag) {
  Device device = ironDevice(21);
  device.accelFromMag = accelFromMag;
  const Matrix3 shape = {
      {{{1.07, 0.05, 0.0}}, {{0.05, 1.0 / 1.07 + 0.05 * 0.05 / 1.07, 0.0}}, {{0.0, 0.0, 1.0}}}};
  device.softIron = shape;
  for (auto& row : device.softIron) {
    for (double& v : row) {
      v *= 1.04;
    }
  }
  return device;
}

void expectPlanarRecovers(const Device& device, const std::vector<imu_recording::Sample>& samples,
                          const PlanarCalibration& planar) {
  ASSERT_TRUE(planar.determined) << planar.problem;
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(planar.calibration.offset[k], device.hardIron[k], 0.002) << "component " << k;
  }
  // Directions are what a heading needs: corrected and true field agree in every sample.
  double worst = 0.0;
  for (const imu_recording::Sample& s : samples) {
    worst = std::fmax(worst, angleBetween(applyCalibration(planar.calibration, s.mag), s.field));
  }
  EXPECT_LT(worst, 1.0);
  EXPECT_GT(planar.arc_deg, 350.0);
  EXPECT_GT(planar.headingErrorAtTilt_deg[0], 0.0);
  EXPECT_GT(planar.headingErrorAtTilt_deg[1], planar.headingErrorAtTilt_deg[0]);
}

TEST(Planar, LevelTurnRecoversTheOffsetIncludingItsVerticalPart) {
  const Reference reference = Reference::fromField(placeField());
  // The magnetometer's Z down and up: the plane's normal must be turned towards down.
  for (const char* mounting : {"none", "roll 180"}) {
    const Device device = turnDevice(orientationMatrix(mounting));
    const std::vector<imu_recording::Sample> samples = device.turn(0.0, 1500);
    const QuasiStatic steady =
        selectQuasiStatic(imu_recording::accelerations(samples), AccelerometerUnit{});
    PlanarOptions options;
    options.accelFromMag = device.accelFromMag;
    const PlanarCalibration planar =
        calibratePlanar(imu_recording::magnetometer(samples), steady, reference, options);
    SCOPED_TRACE(mounting);
    expectPlanarRecovers(device, samples, planar);
    EXPECT_LT(planar.tilt_deg, 0.5);
  }

  const Device device = turnDevice(imu_recording::identity());
  const std::vector<imu_recording::Sample> samples = device.turn(0.0, 1500);
  const std::vector<Vec3> raw = imu_recording::magnetometer(samples);

  // Without the accelerometer, a hint of which way is down.
  PlanarOptions hinted;
  hinted.downHint = {{0.1, 0.0, 1.0}};
  expectPlanarRecovers(device, samples, calibratePlanar(raw, QuasiStatic{}, reference, hinted));
}

TEST(Planar, TiltedTurnWithAMountingRecoversTheOffset) {
  const Device device = turnDevice(orientationMatrix("yaw 90"));
  const std::vector<imu_recording::Sample> samples = device.turn(15.0, 1500);
  const QuasiStatic steady =
      selectQuasiStatic(imu_recording::accelerations(samples), AccelerometerUnit{});
  PlanarOptions options;
  options.accelFromMag = device.accelFromMag;
  const PlanarCalibration planar = calibratePlanar(imu_recording::magnetometer(samples), steady,
                                                   Reference::fromField(placeField()), options);
  expectPlanarRecovers(device, samples, planar);
  EXPECT_NEAR(planar.tilt_deg, 15.0, 0.5);
}

TEST(Planar, RefusesWhatATurnCannotGive) {
  const Device device = turnDevice(imu_recording::identity());
  const Reference reference = Reference::fromField(placeField());
  const auto planarOf = [&](const std::vector<imu_recording::Sample>& samples) {
    const QuasiStatic steady =
        selectQuasiStatic(imu_recording::accelerations(samples), AccelerometerUnit{});
    return calibratePlanar(imu_recording::magnetometer(samples), steady, reference);
  };
  // A tumble is no turn about one axis; a third of a turn fixes no ellipse's centre. Neither may
  // pass for a calibration.
  const PlanarCalibration tumbled = planarOf(device.handTumble(20));
  EXPECT_FALSE(tumbled.determined);
  EXPECT_NE(tumbled.problem.find("plane"), std::string::npos) << tumbled.problem;
  const PlanarCalibration arc = planarOf(device.turn(0.0, 400, 0.3));
  EXPECT_FALSE(arc.determined);
  EXPECT_NEAR(arc.arc_deg, 105.0, 5.0);

  // The component along the axis needs the field's direction; the axis's sign needs down.
  const std::vector<imu_recording::Sample> samples = device.turn(0.0, 200);
  const std::vector<Vec3> raw = imu_recording::magnetometer(samples);
  const QuasiStatic steady =
      selectQuasiStatic(imu_recording::accelerations(samples), AccelerometerUnit{});
  EXPECT_THROW(calibratePlanar(raw, steady, Reference()), UsageError);
  EXPECT_THROW(calibratePlanar(raw, steady, Reference::fromStrength(0.48)), UsageError);
  EXPECT_THROW(calibratePlanar(raw, QuasiStatic{}, reference), UsageError);
}

// The checks judge a figure against its limit only where it stands out of its own uncertainty,
// and tell a mirror from a sign they cannot know. Catches a flipped comparison, a significance
// test turned the wrong way and a handedness read the wrong way round.
TEST(VehicleChecks, JudgeAgainstTheirUncertainty) {
  MountingEstimate m;
  m.determined = true;
  m.handedness = Handedness::Right;
  m.modelInclination_deg = 64.0;
  const struct {
    double misalignment, uncertainty;
    Severity expected;
  } alignments[] = {{3.0, 2.0, Severity::Ok},
                    {3.0, 0.5, Severity::Warn},
                    {12.0, 0.5, Severity::Fail},
                    {1.5, 0.1, Severity::Ok}};
  for (const auto& a : alignments) {
    m.misalignment_deg = a.misalignment;
    m.uncertainty_deg = a.uncertainty;
    EXPECT_EQ(detail::alignmentCheck(m).severity, a.expected) << a.misalignment;
  }

  m.inclinationUncertainty_deg = 0.1;
  m.residual_deg = 0.2;
  m.measuredInclination_deg = 71.0;
  const Check steady = detail::inclinationCheck(m);
  EXPECT_EQ(steady.severity, Severity::Fail);
  EXPECT_NE(steady.message.find("wrong place"), std::string::npos) << steady.message;
  m.residual_deg = 2.5;
  EXPECT_NE(detail::inclinationCheck(m).message.find("distorts"), std::string::npos);
  m.measuredInclination_deg = 61.5;
  EXPECT_EQ(detail::inclinationCheck(m).severity, Severity::Warn);
  m.inclinationUncertainty_deg = 1.5;
  EXPECT_EQ(detail::inclinationCheck(m).severity, Severity::Ok);
  // Of unknown handedness the measured sign may be the mirror's.
  m.measuredInclination_deg = -64.0;
  EXPECT_EQ(detail::inclinationCheck(m).severity, Severity::Fail);
  m.handedness = Handedness::Unknown;
  EXPECT_EQ(detail::inclinationCheck(m).severity, Severity::Ok);

  AccelerometerFindings findings;
  findings.mounting = m;
  findings.mounting.handedness = Handedness::Right;
  findings.mounting.nearest = orientationIndex("roll 180");
  EXPECT_EQ(detail::mountingCheck(findings).severity, Severity::Warn);
  findings.expected = findings.mounting.nearest;
  EXPECT_EQ(detail::mountingCheck(findings).severity, Severity::Ok);
  findings.mounting.handedness = Handedness::Mirrored;
  EXPECT_EQ(detail::mountingCheck(findings).severity, Severity::Fail);
}

}  // namespace
