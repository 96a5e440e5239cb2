// Black-box tests of the files the fluxtrim command writes for firmware: each autopilot's
// parameter file applied with that autopilot's own formula, written here from the file's text,
// against `fluxtrim apply`; two named C headers built into one program; the scale to the field;
// and `export` of a saved calibration against `calibrate`.
#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "calibration_test_data.h"
#include "fluxtrim/units.hpp"
#include "parameter_lines.h"
#include "test_support.h"

namespace {

using calibration_test::Vec3;
using test_support::RunResult;
using test_support::splitLines;

const std::vector<std::string> kPlace{"--lat",  "48.5578", "--lon",
                                      "3.2914", "--date",  "2026-12-08"};

// The soft-iron correction's gains of the generated recordings.
const Vec3 kGains{1.12, 0.94, 0.9};

class ExportTest : public test_support::TempDirTest {
 protected:
  ExportTest() : TempDirTest("fluxtrim_export") {}

  RunResult run(std::vector<std::string> args, const std::vector<std::string>& more = {}) {
    args.insert(args.end(), more.begin(), more.end());
    return test_support::runProgram(FLUXTRIM_CLI_EXE, args, dir_);
  }

  // A tumbled device with a hard-iron offset and a rotated soft-iron distortion, in gauss (field
  // 0.47 G, a little below the model field at kPlace), written multiplied by perGauss.
  std::string recording(const std::string& name, double perGauss) {
    calibration_test::Truth truth;
    truth.offset = {0.21, -0.13, 0.34};
    truth.gains = kGains;
    truth.axes = calibration_test::rotation(0.4, -0.3, 0.7);
    truth.field = 0.47;
    samples_ = calibration_test::generate(truth, 1500, calibration_test::Coverage::kFullSphere,
                                          0.0005, 11);
    std::ostringstream text;
    text.precision(17);
    text << "x,y,z\n";
    for (const Vec3& s : samples_) {
      text << s[0] * perGauss << "," << s[1] * perGauss << "," << s[2] * perGauss << "\n";
    }
    return writeFile(name, text.str());
  }

  // The corrected samples `fluxtrim apply` writes with the calibration calibrate gives for args.
  std::vector<Vec3> applied(const std::vector<std::string>& args, const std::string& input) {
    const std::string calibration = (dir_ / "applied.json").string();
    EXPECT_EQ(run(args, {"--format", "json", "-o", calibration}).status, 0);
    const RunResult r = run({"apply", calibration, input});
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<Vec3> rows;
    for (const std::string& line : splitLines(r.out)) {
      Vec3 v{};
      if (std::sscanf(line.c_str(), "%lf,%lf,%lf", &v[0], &v[1], &v[2]) == 3) rows.push_back(v);
    }
    EXPECT_EQ(rows.size(), samples_.size());
    return rows;
  }

  std::vector<Vec3> samples_;  // of the last recording, in gauss
};

// NAME,VALUE lines, or the tab-separated "vehicle component NAME VALUE type" lines; # comments.
std::map<std::string, double> parameters(const std::string& text, char separator) {
  std::map<std::string, double> values;
  for (const std::vector<std::string>& cells : test_support::parameterLines(text, separator)) {
    const bool tabs = separator == '\t';
    EXPECT_EQ(cells.size(), tabs ? 5u : 2u) << cells.front();
    if (cells.size() != (tabs ? 5u : 2u)) continue;
    if (tabs) {
      EXPECT_EQ(cells[0] + cells[1] + cells[4], "119") << cells[2];
    }
    values[cells[tabs ? 2 : 0]] = std::strtod(cells[tabs ? 3 : 1].c_str(), nullptr);
  }
  return values;
}

double at(const std::map<std::string, double>& values, const std::string& name) {
  const auto found = values.find(name);
  if (found == values.end()) {
    ADD_FAILURE() << "no parameter " << name;
    return std::nan("");
  }
  return found->second;
}

// A symmetric matrix from its diagonal and its xy, xz, yz terms.
calibration_test::Mat3 symmetric(const Vec3& diagonal, double xy, double xz, double yz) {
  return {{{diagonal[0], xy, xz}, {xy, diagonal[1], yz}, {xz, yz, diagonal[2]}}};
}

Vec3 times(const calibration_test::Mat3& a, const Vec3& v) {
  Vec3 out{};
  for (int r = 0; r < 3; ++r) out[r] = a[r][0] * v[0] + a[r][1] * v[1] + a[r][2] * v[2];
  return out;
}

void expectNear(const std::vector<Vec3>& got, const std::vector<Vec3>& expected, double tolerance) {
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t k = 0; k < got.size(); ++k) {
    for (int c = 0; c < 3; ++c) {
      ASSERT_NEAR(got[k][c], expected[k][c], tolerance) << "sample " << k << " axis " << c;
    }
  }
}

// The .parm file, applied as m' = A * (m + OFS) to samples in milligauss, A symmetric from
// COMPASS_DIA and COMPASS_ODI (xy, xz, yz), gives apply's corrected samples in milligauss, within
// the rounding of the file's single-precision values, for the first and the last instance, from a
// recording in microtesla scaled to the field. Catches a wrong sign of the offset, an
// off-diagonal term under another name, values left in microtesla and instance names that the
// autopilot does not know.
TEST_F(ExportTest, ArdupilotParametersApplyAsApply) {
  const std::string input = recording("uT.csv", 100.0);
  std::vector<std::string> args{"calibrate", input, "--units", "uT", "--scale", "field"};
  args.insert(args.end(), kPlace.begin(), kPlace.end());
  std::vector<std::string> inMilligauss = args;
  inMilligauss.insert(inMilligauss.end(), {"--output-units", "mG"});
  const std::vector<Vec3> expected = applied(inMilligauss, input);
  const fluxtrim::SampleUnit microtesla{fluxtrim::Unit::Microtesla};
  const fluxtrim::SampleUnit milligauss{fluxtrim::Unit::Milligauss};
  for (const std::string instance : {"1", "3"}) {
    SCOPED_TRACE("instance " + instance);
    const RunResult r = run(args, {"--format", "ardupilot", "--instance", instance});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("# Magnetometer calibration by fluxtrim ", 0), 0u) << r.out;
    const std::map<std::string, double> p = parameters(r.out, ',');
    EXPECT_EQ(p.size(), 9u);
    const std::string n = instance == "1" ? "" : instance;
    const auto value = [&](const std::string& stem, const char* axis) {
      return at(p, "COMPASS_" + stem + n + "_" + axis);
    };
    const Vec3 ofs{value("OFS", "X"), value("OFS", "Y"), value("OFS", "Z")};
    const calibration_test::Mat3 a =
        symmetric({value("DIA", "X"), value("DIA", "Y"), value("DIA", "Z")}, value("ODI", "X"),
                  value("ODI", "Y"), value("ODI", "Z"));
    std::vector<Vec3> corrected;
    for (const Vec3& s : samples_) {
      Vec3 m{};
      for (int c = 0; c < 3; ++c) {
        m[c] = fluxtrim::convertUnit(s[c] * 100.0, microtesla, milligauss) + ofs[c];
      }
      corrected.push_back(times(a, m));
    }
    expectNear(corrected, expected, 1e-3);  // mG, of a field of about 484 mG
  }
}

// The tab-separated file, applied as m' = S * (m - OFF) (the autopilot's rotation R set apart)
// to samples in gauss, gives apply's corrected samples in gauss within float rounding, for
// instances 0 and 3, from a recording in counts: the counts converted to gauss, the matrix as
// fitted.
TEST_F(ExportTest, Px4ParametersApplyAsApply) {
  const std::string input = recording("counts.csv", 1090.0);
  std::vector<std::string> args{"calibrate", input, "--units", "counts:1090"};
  args.insert(args.end(), kPlace.begin(), kPlace.end());
  std::vector<std::string> inGauss = args;
  inGauss.insert(inGauss.end(), {"--output-units", "G"});
  const std::vector<Vec3> expected = applied(inGauss, input);
  for (const std::string instance : {"0", "3"}) {
    SCOPED_TRACE("instance " + instance);
    const RunResult r = run(args, {"--format", "px4", "--instance", instance});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::map<std::string, double> p = parameters(r.out, '\t');
    EXPECT_EQ(p.size(), 9u);
    EXPECT_EQ(p.count("CAL_MAG" + instance + "_ID"), 0u);
    const auto value = [&](const std::string& name) {
      return at(p, "CAL_MAG" + instance + "_" + name);
    };
    const Vec3 off{value("XOFF"), value("YOFF"), value("ZOFF")};
    const calibration_test::Mat3 s = symmetric({value("XSCALE"), value("YSCALE"), value("ZSCALE")},
                                               value("XODIAG"), value("YODIAG"), value("ZODIAG"));
    std::vector<Vec3> corrected;
    for (const Vec3& raw : samples_) {
      const Vec3 counts{raw[0] * 1090.0, raw[1] * 1090.0, raw[2] * 1090.0};
      Vec3 m{};
      for (int c = 0; c < 3; ++c) {
        m[c] = fluxtrim::SampleUnit::counts(1090.0).toGauss(counts[c]) - off[c];
      }
      corrected.push_back(times(s, m));
    }
    expectNear(corrected, expected, 1e-6);  // G
  }
}

// Two headers of different --name, one in float and one in double scaled to the field in
// microtesla, build into one C program with every conversion warning an error, and correct the
// samples as apply does with the same options: the double one to the bit, the float one within
// float rounding. Catches a name or include guard shared between headers, a double literal in
// float code, and a header that scales otherwise than apply.
TEST_F(ExportTest, TwoNamedHeadersBuildIntoOneProgramAndCorrectAsApply) {
  const std::string input = recording("counts.csv", 1090.0);
  std::vector<std::string> args{"calibrate", input, "--units", "counts:1090"};
  args.insert(args.end(), kPlace.begin(), kPlace.end());
  std::vector<std::string> scaled = args;
  scaled.insert(scaled.end(), {"--scale", "field", "--output-units", "uT"});
  ASSERT_EQ(run(args, {"--format", "c", "--name", "left", "-o", (dir_ / "left.h").string()}).status,
            0);
  ASSERT_EQ(run(scaled, {"--format", "c", "--name", "right", "--c-type", "double", "-o",
                         (dir_ / "right.h").string()})
                .status,
            0);

  std::ostringstream program;
  program.precision(17);
  program << "#include <stdio.h>\n#include \"left.h\"\n#include \"right.h\"\n"
             "static const double raw[][3] = {";
  for (std::size_t k = 0; k < 40; ++k) {
    const Vec3& s = samples_[k * 30];
    program << "{" << s[0] * 1090.0 << ", " << s[1] * 1090.0 << ", " << s[2] * 1090.0 << "},";
  }
  program << "};\nint main(void) {\n  int k;\n  for (k = 0; k < 40; ++k) {\n"
             "    float single[3], left[3];\n    double right[3];\n    int c;\n"
             "    for (c = 0; c < 3; ++c) single[c] = (float)raw[k][c];\n"
             "    left_correct(single, left);\n    right_correct(raw[k], right);\n"
             "    printf(\"%.9g %.9g %.9g %.17g %.17g %.17g\\n\", (double)left[0], (double)left[1],"
             " (double)left[2], right[0], right[1], right[2]);\n  }\n  return 0;\n}\n";
  const std::string source = writeFile("main.c", program.str());
  const RunResult built = test_support::buildC(source, dir_, dir_ / "main");
  ASSERT_EQ(built.status, 0) << built.err;
  const RunResult corrected = test_support::runProgram((dir_ / "main").string(), {}, dir_);

  const std::vector<Vec3> left = applied(args, input);
  const std::vector<Vec3> right = applied(scaled, input);
  std::istringstream values(corrected.out);
  for (std::size_t k = 0; k < 40; ++k) {
    Vec3 single{}, twice{};
    values >> single[0] >> single[1] >> single[2] >> twice[0] >> twice[1] >> twice[2];
    for (int c = 0; c < 3; ++c) {
      EXPECT_NEAR(single[c], left[k * 30][c], 1e-3) << "sample " << k * 30;  // of ~520 counts
      EXPECT_EQ(twice[c], right[k * 30][c]) << "sample " << k * 30;
    }
  }
}

// Scaled to the field in microtesla, a recording in counts whose field is 3 % below the model's
// gives corrected magnitudes whose mean is the model field in microtesla within the residual, and
// apply labels them so. Without the scale the fitted matrix, of determinant 1, gives the
// recording's field over the cube root of the gains' product, converted to microtesla.
TEST_F(ExportTest, ScaleFieldGivesTheModelFieldInTheOutputUnit) {
  const std::string input = recording("counts.csv", 1090.0);
  std::vector<std::string> args{"calibrate", input, "--units", "counts:1090", "--format", "json"};
  args.insert(args.end(), kPlace.begin(), kPlace.end());
  const fluxtrim::SampleUnit microtesla{fluxtrim::Unit::Microtesla};
  for (const bool toField : {true, false}) {
    SCOPED_TRACE(toField ? "--scale field" : "fitted");
    std::vector<std::string> scaled = args;
    scaled.insert(scaled.end(), {"--output-units", "uT", "--scale", toField ? "field" : "fitted"});
    const std::string calibration = writeFile("cal.json", run(scaled).out);
    const nlohmann::json document = nlohmann::json::parse(test_support::readFile(calibration));
    const double field_uT =
        fluxtrim::convertUnit(document.at("reference").at("total_nT"),
                              fluxtrim::SampleUnit{fluxtrim::Unit::Nanotesla}, microtesla);
    const double residual_uT =
        fluxtrim::convertUnit(document.at("metrics").at("residual_mG"),
                              fluxtrim::SampleUnit{fluxtrim::Unit::Milligauss}, microtesla);

    const RunResult r = run({"apply", calibration, input});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = splitLines(r.out);
    ASSERT_EQ(lines.size(), samples_.size() + 1);
    EXPECT_EQ(lines[0], "x_uT,y_uT,z_uT");
    double sum = 0.0;
    for (std::size_t k = 1; k < lines.size(); ++k) {
      Vec3 v{};
      ASSERT_EQ(std::sscanf(lines[k].c_str(), "%lf,%lf,%lf", &v[0], &v[1], &v[2]), 3);
      sum += std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    }
    const double mean = sum / static_cast<double>(samples_.size());
    const double fitted_uT = 47.0 / std::cbrt(kGains[0] * kGains[1] * kGains[2]);
    EXPECT_NEAR(mean, toField ? field_uT : fitted_uT, residual_uT);
    EXPECT_GT(std::fabs(field_uT - fitted_uT), 5.0 * residual_uT);
  }
}

// export of a saved calibration gives calibrate's bytes in every format with the same options;
// a file written before the scale was recorded still exports and applies as the fitted scale in
// its unit. A failed calibration writes no firmware file (status 1, an existing file left alone)
// unless --force, whose file says so first; a matrix an autopilot cannot hold is refused.
TEST_F(ExportTest, ExportWritesWhatCalibrateWrites) {
  const std::string input = recording("uT.csv", 100.0);
  std::vector<std::string> args{"calibrate", input,   "--units",        "uT",
                                "--scale",   "field", "--output-units", "nT"};
  args.insert(args.end(), kPlace.begin(), kPlace.end());
  const std::string saved = writeFile("saved.json", run(args, {"--format", "json"}).out);
  for (const char* format : {"json", "c", "ardupilot", "px4"}) {
    const RunResult direct = run(args, {"--format", format});
    const RunResult exported = run({"export", saved, "--format", format});
    EXPECT_EQ(direct.status, 0) << format << direct.err;
    EXPECT_EQ(exported.status, 0) << format << exported.err;
    EXPECT_EQ(exported.out, direct.out) << format;
  }

  std::vector<std::string> plain{"calibrate", input, "--units", "uT"};
  plain.insert(plain.end(), kPlace.begin(), kPlace.end());
  nlohmann::ordered_json old = nlohmann::ordered_json::parse(run(plain, {"--format", "json"}).out);
  const std::string current = writeFile("current.json", old.dump(2));
  old.erase("output");
  const std::string before = writeFile("before.json", old.dump(2));
  EXPECT_EQ(run({"export", before, "--format", "c"}).out, run(plain, {"--format", "c"}).out);
  EXPECT_EQ(run({"apply", before, input}).out, run({"apply", current, input}).out);

  const std::string parm = writeFile("failed.parm", "kept\n");
  const std::string wrongUnit = recording("wrong.csv", 100.0);  // microtesla read as gauss
  std::vector<std::string> failed{"calibrate", wrongUnit, "--format", "ardupilot"};
  failed.insert(failed.end(), kPlace.begin(), kPlace.end());
  EXPECT_EQ(run(failed, {"-o", parm}).status, 1);
  EXPECT_EQ(test_support::readFile(parm), "kept\n");
  const RunResult forced = run(failed, {"--force"});
  EXPECT_EQ(forced.status, 1);
  EXPECT_EQ(forced.out.rfind("# FAILED CALIBRATION", 0), 0u) << forced.out;

  nlohmann::ordered_json asymmetric = nlohmann::ordered_json::parse(test_support::readFile(saved));
  asymmetric["calibration"]["matrix"][0][1] = 0.5;
  const RunResult refused =
      run({"export", writeFile("asymmetric.json", asymmetric.dump()), "--format", "px4"});
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(refused.out, "");
  EXPECT_NE(refused.err.find("not symmetric"), std::string::npos) << refused.err;
}

}  // namespace
