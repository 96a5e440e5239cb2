// Runs fluxtrim.out on the shipped example file and checks that the reported calibration matches
// the one its generator (tools/gen_example.py) built in: hard-iron offset (0.06, -0.04, 0.09)
// gauss and a soft-iron distortion Q diag(1.07, 0.99, 0.93) Q' with Q the rotation by
// (0.7, -0.6, 0.9) radians about x, y, z, so the correction is its inverse scaled to determinant 1.
// Also checks that the README shows exactly this report.
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "calibration_test_data.h"

namespace {

using calibration_test::Mat3;

// Standard output and exit status of a shell command.
struct RunResult {
  std::string out;
  int status = -1;
};

RunResult run(const std::string& command) {
  RunResult result;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return result;
  }
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    result.out.append(buffer, got);
  }
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// The three numbers of a report line "[ a b c ]".
bool parseTriple(const std::string& line, double v[3]) {
  return std::sscanf(line.c_str(), "[ %lf %lf %lf ]", &v[0], &v[1], &v[2]) == 3;
}

TEST(ExampleRun, ReportsTheGeneratorsCalibration) {
  const std::string csv = std::string(FLUXTRIM_SOURCE_DIR) + "/examples/mag.csv";
  const RunResult r =
      run("'" + std::string(FLUXTRIM_EXE) + "' '" + csv + "' 48.5578 3.2914 89 0.2 2>/dev/null");
  ASSERT_EQ(r.status, 0) << r.out;

  std::vector<std::string> lines;
  std::istringstream stream(r.out);
  for (std::string line; std::getline(stream, line);) {
    lines.push_back(line);
  }
  double offset[3] = {0, 0, 0};
  double matrix[3][3] = {};
  double magNormRef = 0.0;
  bool haveOffset = false;
  int matrixRows = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::sscanf(lines[i].c_str(), "magNormRef = %lf", &magNormRef);
    if (lines[i] == "hardIronOffset:" && i + 1 < lines.size()) {
      haveOffset = parseTriple(lines[i + 1], offset);
    }
    if (lines[i] == "SoftIronMatrix:") {
      for (int row = 0; row < 3 && i + 1 + row < lines.size(); ++row) {
        matrixRows += parseTriple(lines[i + 1 + row], matrix[row]) ? 1 : 0;
      }
    }
  }
  ASSERT_TRUE(haveOffset) << r.out;
  ASSERT_EQ(matrixRows, 3) << r.out;

  // 3000 samples with 2 milligauss of noise: the offset is known to well under a milligauss; the
  // printed six decimals and the hand's uneven coverage leave a few milligauss of margin.
  const double hardIron[3] = {0.06, -0.04, 0.09};
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(offset[k], hardIron[k], 3e-3) << "offset " << k;
  }
  const Mat3 axes = calibration_test::rotation(0.7, -0.6, 0.9);
  const Mat3 correction = calibration_test::symmetric(axes, {1 / 1.07, 1 / 0.99, 1 / 0.93});
  const Mat3 expected = calibration_test::unitDeterminant(correction);
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) {
      EXPECT_NEAR(matrix[row][col], expected[row][col], 1e-2) << "(" << row << ", " << col << ")";
    }
  }
  // The field magnitude there, 0.48345 gauss, times the cube root of the distortion's determinant
  // (the correction is scaled to determinant 1).
  const double expectedMagnitude = 0.48345 * std::cbrt(1.07 * 0.99 * 0.93);
  EXPECT_NEAR(magNormRef, expectedMagnitude, 2e-3);

  // The README shows this run's report: every line but the execution time must match it.
  std::ifstream readme(std::string(FLUXTRIM_SOURCE_DIR) + "/README.md");
  ASSERT_TRUE(readme.is_open());
  std::vector<std::string> shown;
  bool inExample = false;
  bool inBlock = false;
  for (std::string line; std::getline(readme, line);) {
    if (line == "### Example output") {
      inExample = true;
    } else if (inExample && line == "```") {
      if (inBlock) {
        break;
      }
      inBlock = true;
    } else if (inBlock && line.rfind("Header : ", 0) != 0) {
      shown.push_back(line);
    }
  }
  ASSERT_EQ(shown.size(), lines.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind("Execution time : ", 0) != 0) {
      EXPECT_EQ(shown[i], lines[i]);
    }
  }
}

}  // namespace
