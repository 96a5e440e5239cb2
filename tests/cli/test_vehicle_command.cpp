// The command with an accelerometer beside the magnetometer: the mounting and the inclination it
// shows, in text, JSON, the autopilots' files and apply; and the calibration of a turn about one
// axis. The mathematics is tested in tests/lib/test_vehicle.cpp; here, what the command makes of
// it on examples/imu.csv and on generated recordings.
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "fluxtrim/calibration.hpp"
#include "fluxtrim/field.hpp"
#include "fluxtrim/vehicle.hpp"
#include "imu_recording.h"
#include "parameter_lines.h"
#include "test_support.h"

namespace {

using fluxtrim::Matrix3;
using fluxtrim::Vec3;
using imu_recording::Device;
using Json = nlohmann::json;
using test_support::RunResult;
using test_support::splitLines;

constexpr double kDegrees = 180.0 / 3.14159265358979323846;
const std::string kImuExample = std::string(FLUXTRIM_SOURCE_DIR) + "/examples/imu.csv";
const std::string kMagExample = std::string(FLUXTRIM_SOURCE_DIR) + "/examples/mag.csv";
const std::vector<std::string> kPlace{"--lat", "48.5578", "--lon",  "3.2914",
                                      "--alt", "89",      "--date", "2026-12-08"};

// A recording as an IMU logger writes it: accelerometer in m/s^2, magnetometer in gauss; without
// the accelerometer when accelerometer is false.
std::string imuCsv(const std::vector<imu_recording::Sample>& samples, bool accelerometer = true) {
  std::string text = accelerometer ? "ax,ay,az,mx,my,mz\n" : "mx,my,mz\n";
  char line[200];
  for (const imu_recording::Sample& s : samples) {
    if (accelerometer) {
      std::snprintf(line, sizeof line, "%.5f,%.5f,%.5f,", s.accel[0], s.accel[1], s.accel[2]);
      text += line;
    }
    std::snprintf(line, sizeof line, "%.7f,%.7f,%.7f\n", s.mag[0], s.mag[1], s.mag[2]);
    text += line;
  }
  return text;
}

// A vehicle at the examples' place: hard iron with a large vertical part, soft iron in the plane
// of a turn about the device's Z only (a turn cannot show the rest).
Device vehicle() {
  Device device;
  device.field = fluxtrim::Reference::fromField(
                     fluxtrim::evaluateField(fluxtrim::FieldModel::WMM2025,
                                             fluxtrim::GeodeticPosition{48.5578, 3.2914, 89.0},
                                             fluxtrim::decimalYear(2026, 12, 8)))
                     .vector_G();
  device.hardIron = {{0.06, -0.04, 0.09}};
  device.softIron = {{{{1.07, 0.05, 0.0}}, {{0.05, 0.937, 0.0}}, {{0.0, 0.0, 1.0}}}};
  device.seed = 31;
  return device;
}

Vec3 times(const Matrix3& m, const Vec3& v) {
  return imu_recording::times(m, v);
}

double angleOf(const Matrix3& a, const Matrix3& b) {
  const Matrix3 r = imu_recording::multiply(imu_recording::transpose(a), b);
  return std::acos(std::fmax(-1.0, std::fmin(1.0, 0.5 * (r[0][0] + r[1][1] + r[2][2] - 1.0)))) *
         kDegrees;
}

Matrix3 matrixOf(const Json& rows) {
  Matrix3 m{};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) m[r][c] = rows.at(r).at(c).get<double>();
  }
  return m;
}

// The rows of numbers of a CSV text, its header and any other text skipped.
std::vector<std::vector<double>> rowsOf(const std::string& text) {
  std::vector<std::vector<double>> rows;
  for (const std::string& line : splitLines(text)) {
    std::vector<double> row;
    std::istringstream cells(line);
    for (std::string cell; std::getline(cells, cell, ',');) {
      char* end = nullptr;
      row.push_back(std::strtod(cell.c_str(), &end));
      if (end == cell.c_str()) row.clear();
      if (row.empty()) break;
    }
    if (!row.empty()) rows.push_back(row);
  }
  return rows;
}

// The values of a parameter file by name, the name in column `name` and the value after it.
std::map<std::string, double> parameters(const std::string& text, char separator, int name) {
  std::map<std::string, double> values;
  for (const std::vector<std::string>& cells : test_support::parameterLines(text, separator)) {
    if (cells.size() > static_cast<std::size_t>(name + 1)) {
      values[cells[name]] = std::strtod(cells[name + 1].c_str(), nullptr);
    }
  }
  return values;
}

class VehicleCommandTest : public test_support::TempDirTest {
 protected:
  VehicleCommandTest() : TempDirTest("fluxtrim_vehicle") {}

  RunResult run(std::vector<std::string> args, bool atPlace = true) {
    if (atPlace) args.insert(args.end(), kPlace.begin(), kPlace.end());
    test_support::RunOptions options;
    options.stdinPath = "/dev/null";
    return test_support::runProgram(FLUXTRIM_CLI_EXE, args, dir_, options);
  }

  Json document(const std::vector<std::string>& args, int status, bool atPlace = true) {
    std::vector<std::string> json = args;
    json.insert(json.end(), {"--format", "json"});
    const RunResult r = run(json, atPlace);
    EXPECT_EQ(r.status, status) << r.err;
    const std::string file = writeFile("document.json", r.out);
    const RunResult valid = test_support::runProgram(
        FLUXTRIM_PYTHON,
        {std::string(FLUXTRIM_SOURCE_DIR) + "/tests/support/validate_json.py",
         std::string(FLUXTRIM_SOURCE_DIR) + "/cli/schema", "calibration.schema.json", file},
        dir_);
    EXPECT_EQ(valid.status, 0) << valid.err;
    return Json::parse(r.out);
  }
};

// The example's magnetometer is mounted roll 180 yaw 90, turned 1.2 degrees further about
// (0.6, -0.48, 0.64). The text and the JSON name it with its number and misalignment; the JSON's
// matrix is the estimate, not its transpose nor the named one; the inclination matches the model
// at the true place, and 1,000 km north it fails as a wrong place (steady from pose to pose).
TEST_F(VehicleCommandTest, ExampleNamesItsMountingAndTheInclinationTellsAWrongPlace) {
  const RunResult text = run({"calibrate", kImuExample, "--units", "uT"});
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("Verdict: WARN"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("warn mounting: the magnetometer's axes are the accelerometer's turned "
                          "'roll\n    180 yaw 90' (orientation 10), 1.2 degrees off it"),
            std::string::npos)
      << text.out;

  const Json d = document({"calibrate", kImuExample, "--units", "uT"}, 0);
  EXPECT_EQ(d.at("mounting").at("name"), "roll 180 yaw 90");
  EXPECT_EQ(d.at("mounting").at("number"), 10);
  EXPECT_NEAR(d.at("mounting").at("misalignment_deg").get<double>(), 1.2, 0.3);
  const Matrix3 truth =
      imu_recording::multiply(fluxtrim::orientationMatrix("roll 180 yaw 90"),
                              imu_recording::rotationAbout({{0.6, -0.48, 0.64}}, 1.2));
  EXPECT_LT(angleOf(matrixOf(d.at("mounting").at("matrix")), truth), 0.3);
  EXPECT_NEAR(d.at("inclination").at("measured_deg").get<double>(),
              d.at("inclination").at("model_deg").get<double>(), 0.5);
  for (const Json& reason : d.at("reasons")) EXPECT_NE(reason.at("code"), "inclination");

  std::vector<std::string> farNorth{"calibrate", kImuExample, "--units", "uT",
                                    "--lat",     "57.5578",   "--lon",   "3.2914"};
  const Json far = document(farNorth, 1, false);
  ASSERT_FALSE(far.at("reasons").empty());
  EXPECT_EQ(far.at("reasons")[0].at("code"), "inclination");
  EXPECT_EQ(far.at("reasons")[0].at("severity"), "fail");
  EXPECT_NE(far.at("reasons")[0].at("message").get<std::string>().find("wrong place"),
            std::string::npos);
}

// What the mounting changes downstream. apply --frame accel writes each corrected sample turned
// by the recorded matrix, as a column vector (a transposed matrix would differ by the
// misalignment). The ardupilot file sets COMPASS_ORIENT and gives offset and matrix in the
// vehicle's axes, where the autopilot applies them after turning: applied as it applies them,
// they give apply's values turned. px4 sets CAL_MAG0_ROT and keeps the sensor's axes. The report
// turns its corrected samples on request, and refuses to for a recording without an
// accelerometer.
TEST_F(VehicleCommandTest, TheMountingReachesApplyTheAutopilotFilesAndTheReport) {
  const std::string calibration = (dir_ / "cal.json").string();
  ASSERT_EQ(run({"calibrate", kImuExample, "--units", "uT", "--format", "json", "-o", calibration})
                .status,
            0);
  const Matrix3 mounting =
      matrixOf(Json::parse(test_support::readFile(calibration)).at("mounting").at("matrix"));
  const RunResult inMag = run({"apply", calibration, kImuExample}, false);
  const RunResult inAccel = run({"apply", calibration, kImuExample, "--frame", "accel"}, false);
  ASSERT_EQ(inAccel.status, 0) << inAccel.err;
  const std::vector<std::vector<double>> imu = rowsOf(test_support::readFile(kImuExample));
  const std::vector<std::vector<double>> mag = rowsOf(inMag.out);
  const std::vector<std::vector<double>> accel = rowsOf(inAccel.out);
  ASSERT_EQ(accel.size(), imu.size());
  ASSERT_EQ(mag.size(), imu.size());
  for (std::size_t k = 0; k < imu.size(); k += 13) {
    const Vec3 turned = times(mounting, {{mag[k][0], mag[k][1], mag[k][2]}});
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(accel[k][c], turned[c], 1e-9) << "sample " << k;
  }

  // (x, y, z) in the magnetometer's axes is (y, x, -z) in the vehicle's, for roll 180 yaw 90.
  const RunResult ardupilot = run({"export", calibration, "--format", "ardupilot"}, false);
  ASSERT_EQ(ardupilot.status, 0) << ardupilot.err;
  std::map<std::string, double> p = parameters(ardupilot.out, ',', 0);
  EXPECT_EQ(p["COMPASS_ORIENT"], 10.0);
  const Matrix3 a{{{{p["COMPASS_DIA_X"], p["COMPASS_ODI_X"], p["COMPASS_ODI_Y"]}},
                   {{p["COMPASS_ODI_X"], p["COMPASS_DIA_Y"], p["COMPASS_ODI_Z"]}},
                   {{p["COMPASS_ODI_Y"], p["COMPASS_ODI_Z"], p["COMPASS_DIA_Z"]}}}};
  const Vec3 ofs{{p["COMPASS_OFS_X"], p["COMPASS_OFS_Y"], p["COMPASS_OFS_Z"]}};
  for (std::size_t k = 0; k < imu.size(); k += 97) {
    const Vec3 raw_mG{{imu[k][8] * 10.0, imu[k][7] * 10.0, -imu[k][9] * 10.0}};
    const Vec3 m = times(a, {{raw_mG[0] + ofs[0], raw_mG[1] + ofs[1], raw_mG[2] + ofs[2]}});
    const Vec3 expected{{mag[k][1] * 10.0, mag[k][0] * 10.0, -mag[k][2] * 10.0}};
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(m[c], expected[c], 0.01) << "sample " << k;
  }
  const RunResult px4 = run({"export", calibration, "--format", "px4"}, false);
  EXPECT_EQ(parameters(px4.out, '\t', 2)["CAL_MAG0_ROT"], 10.0) << px4.out;
  EXPECT_NE(px4.out.find("1\t1\tCAL_MAG0_ROT\t10\t6\n"), std::string::npos);

  const RunResult report = run({"calibrate", kImuExample, "--units", "uT", "--report",
                                (dir_ / "r.html").string(), "--frame", "accel"});
  EXPECT_EQ(report.status, 0) << report.err;
  EXPECT_NE(test_support::readFile(dir_ / "r.html").find("in the accelerometer's axes"),
            std::string::npos);
  const RunResult noAccelerometer =
      run({"calibrate", kMagExample, "--report", (dir_ / "m.html").string(), "--frame", "accel"});
  EXPECT_EQ(noAccelerometer.status, 2);
  EXPECT_NE(noAccelerometer.err.find("no accelerometer"), std::string::npos) << noAccelerometer.err;
}

// A magnetometer with one axis reversed against the accelerometer fails: no orientation
// repairs it, and the action names the one to set once Z is negated. The autopilot's file is
// then refused.
TEST_F(VehicleCommandTest, AMirroredMagnetometerFails) {
  Device device = vehicle();
  device.softIron = imu_recording::identity();
  device.accelFromMag = imu_recording::multiply(fluxtrim::orientationMatrix("yaw 90"),
                                                {{{{1, 0, 0}}, {{0, 1, 0}}, {{0, 0, -1}}}});
  const std::string file = writeFile("mirrored.csv", imuCsv(device.handTumble(30)));
  const Json d = document({"calibrate", file, "--units", "G"}, 1);
  EXPECT_EQ(d.at("mounting").at("handedness"), "mirrored");
  ASSERT_FALSE(d.at("reasons").empty());
  const Json& reason = d.at("reasons")[0];
  EXPECT_EQ(reason.at("code"), "mounting");
  EXPECT_EQ(reason.at("severity"), "fail");
  EXPECT_NE(reason.at("action").get<std::string>().find("'yaw 90' (orientation 2)"),
            std::string::npos)
      << reason.at("action");
  EXPECT_EQ(run({"calibrate", file, "--units", "G", "--format", "ardupilot"}).status, 1);
}

// An accelerometer the header does not name and that logs raw counts: found with
// --accel-columns, and its samples at rest only with --accel-units, without which the text says
// that the unit is missing. --mounting states the orientation the firmware sets: the same one
// passes, another is named against it.
TEST_F(VehicleCommandTest, AccelerometerColumnsUnitsAndMountingAsGiven) {
  Device device = vehicle();
  device.accelFromMag = fluxtrim::orientationMatrix("yaw 270");
  std::string text = "t,c1,c2,c3,mx,my,mz\n";
  int k = 0;
  for (const imu_recording::Sample& s : device.handTumble(30)) {
    char line[200];
    std::snprintf(line, sizeof line, "%d,%.0f,%.0f,%.0f,%.7f,%.7f,%.7f\n", k++,
                  s.accel[0] / 9.80665 * 4096.0, s.accel[1] / 9.80665 * 4096.0,
                  s.accel[2] / 9.80665 * 4096.0, s.mag[0], s.mag[1], s.mag[2]);
    text += line;
  }
  const std::string file = writeFile("counts.csv", text);
  const std::vector<std::string> args{"calibrate",       file,   "--units", "G",
                                      "--accel-columns", "2,3,4"};
  const RunResult unknown = run(args);
  EXPECT_NE(unknown.out.find("unit not known: give\n                    --accel-units"),
            std::string::npos)
      << unknown.out;
  std::vector<std::string> counted = args;
  counted.insert(counted.end(), {"--accel-units", "counts:4096"});
  const Json d = document(counted, 0);
  EXPECT_EQ(d.at("accelerometer").at("unit"), "counts");
  EXPECT_EQ(d.at("mounting").at("name"), "yaw 270");
  const auto mountingReason = [&](const std::string& given) {
    std::vector<std::string> stated = counted;
    stated.insert(stated.end(), {"--mounting", given});
    const Json withMounting = document(stated, 0);
    for (const Json& reason : withMounting.at("reasons")) {
      if (reason.at("code") == "mounting") return reason.at("message").get<std::string>();
    }
    return std::string();
  };
  EXPECT_EQ(mountingReason("yaw 270"), "");
  EXPECT_NE(mountingReason("yaw 90").find("not 'yaw 90' (orientation 2) as given"),
            std::string::npos);
}

// A level turn, the vehicle's case: calibrated from the turn automatically (and the same with
// --planar), the 3-D offset within 2 mG including its vertical part, which the turn itself
// cannot show, and a verdict that is not a fail. Without the accelerometer the same turn fails
// on its motion, and --planar with the direction of down calibrates it.
TEST_F(VehicleCommandTest, ALevelTurnIsCalibratedFromTheTurn) {
  const Device device = vehicle();
  const std::vector<imu_recording::Sample> turn = device.turn(0.0, 1500);
  const std::string file = writeFile("turn.csv", imuCsv(turn));
  const std::string bare = writeFile("bare.csv", imuCsv(turn, false));
  const auto expectOffset = [&](const Json& d) {
    EXPECT_NE(d.at("verdict"), "fail") << d.at("reasons");
    ASSERT_FALSE(d.at("calibration").is_null());
    EXPECT_EQ(d.at("calibration").at("fit"), "planar");
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(d.at("calibration").at("offset_G")[k].get<double>(), device.hardIron[k], 0.002)
          << "component " << k;
    }
  };
  const Json automatic = document({"calibrate", file, "--units", "G"}, 0);
  expectOffset(automatic);
  EXPECT_EQ(automatic.at("planar").at("automatic"), true);
  const Json asked = document({"calibrate", file, "--units", "G", "--planar"}, 0);
  expectOffset(asked);
  EXPECT_EQ(asked.at("calibration"), automatic.at("calibration"));

  EXPECT_EQ(run({"calibrate", bare, "--units", "G"}).status, 1);
  expectOffset(document({"calibrate", bare, "--units", "G", "--planar", "--down", "+Z"}, 0));
}

// Tilted by 15 degrees the turn is no level turn and is not taken for one; with --planar the
// accelerometer's down gives the tilt, and the offset comes back as for a level turn.
TEST_F(VehicleCommandTest, ATiltedTurnWithPlanar) {
  const Device device = vehicle();
  const std::string file = writeFile("tilted.csv", imuCsv(device.turn(15.0, 1500)));
  const Json plain = document({"calibrate", file, "--units", "G"}, 1);
  EXPECT_FALSE(plain.contains("planar"));
  const Json d = document({"calibrate", file, "--units", "G", "--planar"}, 0);
  EXPECT_NE(d.at("verdict"), "fail");
  EXPECT_NEAR(d.at("planar").at("tilt_deg").get<double>(), 15.0, 0.5);
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(d.at("calibration").at("offset_G")[k].get<double>(), device.hardIron[k], 0.002);
  }
}

// --planar takes the vertical offset from the model's inclination: without a place it is refused
// before anything is read, as in the fixed window; without an accelerometer or --down, the input
// is refused, since no one knows which way the axis points; and what is no turn fails.
TEST_F(VehicleCommandTest, PlanarRefusesWhatItCannotDo) {
  const std::string file = writeFile("turn.csv", imuCsv(vehicle().turn(0.0, 300)));
  const RunResult noPlace = run({"calibrate", file, "--planar"}, false);
  EXPECT_EQ(noPlace.status, 2);
  EXPECT_NE(noPlace.err.find("--planar"), std::string::npos) << noPlace.err;
  EXPECT_NE(noPlace.err.find("--lat"), std::string::npos) << noPlace.err;
  EXPECT_EQ(run({"calibrate", file, "--planar", "--tolerance", "0.2"}).status, 2);
  EXPECT_EQ(run({"calibrate", file, "--planar", "--down", "up"}).status, 2);
  const RunResult noDown = run({"calibrate", kMagExample, "--planar"});
  EXPECT_EQ(noDown.status, 2);
  EXPECT_NE(noDown.err.find("which way is down"), std::string::npos) << noDown.err;
  // A tumble asked to be a turn: no calibration from it, and a failure that says why.
  const Json tumbled = document({"calibrate", kImuExample, "--units", "uT", "--planar"}, 1);
  ASSERT_FALSE(tumbled.at("reasons").empty());
  EXPECT_EQ(tumbled.at("reasons")[0].at("code"), "planar");
  EXPECT_NE(tumbled.at("calibration").at("fit"), "planar");
}

// A magnetometer alone gains nothing: no new block in its document, no new check.
TEST_F(VehicleCommandTest, AMagnetometerAloneIsUntouched) {
  const Json d = document({"calibrate", kMagExample}, 0);
  std::set<std::string> keys;
  for (const auto& item : d.items()) keys.insert(item.key());
  EXPECT_EQ(keys, (std::set<std::string>{"schema", "generator", "convention", "input",
                                         "sample_unit", "reference", "settings", "verdict",
                                         "reasons", "calibration", "output", "fits", "metrics"}));
  EXPECT_EQ(d.at("calibration").at("fit"), "ellipsoid");
}

}  // namespace
