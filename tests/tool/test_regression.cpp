// Regression corpus of whole-tool outputs: fluxtrim.out runs on recordings generated here from
// fixed seeds, and its status, its standard output (without the execution-time line) and its
// standard error must equal the outputs recorded in tests/tool/regression/<case>.txt, byte for
// byte. The recordings cover the three models winning, sizes from 0 to 200,000 rows, header or
// none, final newline or none, CRLF, blank, short and bad lines, every form of number the
// conversion knows, several tolerances, units and positions.
//
// The generator uses only the 64-bit Mersenne Twister (fixed by the C++ standard) and correctly
// rounded arithmetic (+, -, *, /, sqrt, %.17g), so the files are the same on every platform.
// With FLUXTRIM_RECORD_REGRESSION=1 in the environment the test rewrites the expected files
// instead of comparing; review their diff before committing.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::RunResult;

using Vec3 = std::array<double, 3>;
using Mat3 = std::array<Vec3, 3>;  // rows

class Random {
 public:
  explicit Random(std::uint64_t seed) : engine_(seed) {}
  double uniform() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }  // [0, 1)
  double symmetric() { return 2.0 * uniform() - 1.0; }                           // [-1, 1)
  std::uint64_t next() { return engine_(); }

 private:
  std::mt19937_64 engine_;
};

// A point uniform on the unit sphere, by rejection from the cube.
Vec3 onSphere(Random& random) {
  for (;;) {
    const Vec3 v = {random.symmetric(), random.symmetric(), random.symmetric()};
    const double q = (v[0] * v[0] + v[1] * v[1]) + v[2] * v[2];
    if (q > 1e-4 && q <= 1.0) {
      const double n = std::sqrt(q);
      return {v[0] / n, v[1] / n, v[2] / n};
    }
  }
}

// Samples (gauss) of a field of the given magnitude seen through a distortion and an offset:
// offset + field * u * distortion + noise, u on the unit sphere, the noise a sum of four uniform
// values (standard deviation 0.58 * noise).
struct Truth {
  Mat3 distortion;
  double noise;
};
const Mat3 kSphere = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
const Mat3 kAligned = {{{1.07, 0, 0}, {0, 0.95, 0}, {0, 0, 1.01}}};
const Mat3 kGeneral = {{{1.05, 0.06, -0.03}, {0.06, 0.97, 0.04}, {-0.03, 0.04, 1.0}}};

std::vector<Vec3> samples(const Mat3& distortion, double noise, int count, std::uint64_t seed) {
  const Vec3 offset = {0.06, -0.04, 0.09};
  const double field = 0.48;
  Random random(seed);
  std::vector<Vec3> out;
  for (int i = 0; i < count; ++i) {
    const Vec3 u = onSphere(random);
    Vec3 s;
    for (int c = 0; c < 3; ++c) {
      const double d =
          (u[0] * distortion[0][c] + u[1] * distortion[1][c]) + u[2] * distortion[2][c];
      const double n =
          ((random.uniform() + random.uniform()) + (random.uniform() + random.uniform())) - 2.0;
      s[c] = offset[c] + field * d + n * noise;
    }
    out.push_back(s);
  }
  return out;
}

std::string number(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

std::string row(const Vec3& s) {
  return number(s[0]) + "," + number(s[1]) + "," + number(s[2]);
}

// The lines of a recording, joined with the line end; a final line end when finalNewline.
std::string join(const std::vector<std::string>& lines, const std::string& end = "\n",
                 bool finalNewline = true) {
  std::string text;
  for (std::size_t k = 0; k < lines.size(); ++k) {
    text += lines[k];
    if (k + 1 < lines.size() || finalNewline) {
      text += end;
    }
  }
  return text;
}

const char* const kHeader = "CAP_magX,CAP_magY,CAP_magZ";

std::vector<std::string> rows(const std::vector<Vec3>& s, bool header = true) {
  std::vector<std::string> lines;
  if (header) {
    lines.push_back(kHeader);
  }
  for (const Vec3& v : s) {
    lines.push_back(row(v));
  }
  return lines;
}

struct Case {
  std::string name;
  std::string content;  // the file; not written for the case "missing"
  std::vector<std::string> args = {"48.5578", "3.2914", "89", "0.2"};
};

// Cells in every form the number conversion distinguishes, most of them on lines that are
// otherwise samples within the window, so that their value reaches the fit.
const char* const kNumberForms[] = {
    "+0.3",
    " 0.3",
    "\t-0.25",
    "\v0.1",
    "+.5",
    "  .5e0",
    "-.25",
    "0.3.",
    "0.30000000000000000000001",
    "0x1.3p-2",
    "-0X1P-2",
    "0x.8p0",
    "0x",
    "0x1p-1074",
    "0x1p-1022",
    "0x1.fffffffffffffp1023",
    "inf",
    "-Infinity",
    "+INF",
    "infinit",
    "nan",
    "-nan",
    "NAN(123)",
    "nan(abc_1)",
    "nan(",
    "2.2250738585072014e-308",
    "2.2250738585072012e-308",
    "2.2250738585072011e-308",
    "4.9406564584124654e-324",
    "1e-310",
    "-1e-320",
    "1e-400",
    "-1e-99999",
    "0e99999",
    "1.7976931348623157e308",
    "1.7976931348623158e308",
    "1.8e308",
    "1e99999",
    "-1e309",
    "1e",
    "1e+",
    "1e-x",
    ".",
    "-",
    "+",
    "+-1",
    "1.",
    "0001.5000",
    "1_000",
    "0.5abc",
    "\"0.3\"",
    "0.33333333333333333333333333333333333333333333333333333333333333333333333333333333333",
    "1000000000000000000000000000000000000000000000000000000000000000e-64",
    ""};

std::vector<Case> corpus() {
  std::vector<Case> cases;
  const std::vector<Vec3> general = samples(kGeneral, 0.002, 2000, 7);
  const std::vector<Vec3> general500(general.begin(), general.begin() + 500);

  // Sizes, general ellipsoid with noise: header and final newline.
  cases.push_back({"empty", ""});
  cases.push_back({"header_only", std::string(kHeader) + "\n"});
  for (int n : {1, 2, 3, 9, 10, 11, 100, 1000, 10000, 200000}) {
    cases.push_back({"general_" + std::to_string(n), join(rows(samples(kGeneral, 0.002, n, n)))});
  }
  // The other two models winning: exact sphere samples, and axis-aligned samples too few for the
  // ten-parameter fit.
  cases.push_back({"sphere_exact_1000", join(rows(samples(kSphere, 0.0, 1000, 1)))});
  cases.push_back({"aligned_9", join(rows(samples(kAligned, 0.0005, 9, 3)))});
  cases.push_back({"aligned_exact_1000", join(rows(samples(kAligned, 0.0, 1000, 1)))});

  // Line ends and layout.
  const std::vector<std::string> lines = rows(general500);
  cases.push_back({"no_header", join(rows(general500, false))});
  cases.push_back({"no_final_newline", join(lines, "\n", false)});
  cases.push_back({"crlf", join(lines, "\r\n")});
  cases.push_back({"crlf_no_final_newline", join(lines, "\r\n", false)});
  {
    std::vector<std::string> blank = lines;  // an empty or white-space line after every 37
    for (std::size_t k = 37; k < blank.size(); k += 38) {
      blank.insert(blank.begin() + static_cast<std::ptrdiff_t>(k), (k / 38) % 2 ? " \t " : "");
    }
    cases.push_back({"blank_lines", join(blank)});
  }
  {
    std::vector<std::string> faulty = lines;
    const char* const defects[] = {"0.17,-0.16",  "0.17,,0.38",    "0.2,0.1,x",   "0.2,0.1,",
                                   "1,2,3,4,5",   "0.3",           ",,",          "a,b,c",
                                   "0.1;0.2;0.3", "0.1\t0.2\t0.3", "0.2 0.3 0.1", "0.1,0.2,0.3abc"};
    std::size_t at = 3;
    for (const char* defect : defects) {
      faulty.insert(faulty.begin() + static_cast<std::ptrdiff_t>(at), defect);
      at += 41;
    }
    cases.push_back({"faulty_lines", join(faulty)});
  }
  {
    std::string semicolons = join(lines);
    for (char& c : semicolons) {
      c = c == ',' ? ';' : c;
    }
    cases.push_back({"semicolons", semicolons});
  }

  // Number forms: each form once in each column, on a line whose other cells are samples.
  {
    std::vector<std::string> forms = {kHeader};
    int k = 0;
    for (const char* form : kNumberForms) {
      const Vec3& s = general[static_cast<std::size_t>(k++)];
      forms.push_back(std::string(form) + "," + number(s[1]) + "," + number(s[2]));
      forms.push_back(number(s[0]) + "," + form + "," + number(s[2]));
      forms.push_back(number(s[0]) + "," + number(s[1]) + "," + form);
    }
    for (std::size_t i = 100; i < 400; ++i) {
      forms.push_back(row(general[i]));
    }
    cases.push_back({"number_forms", join(forms)});
  }
  // The same values written in other exact forms: hexadecimal, a sign, blanks, more digits.
  {
    std::vector<std::string> exact = {kHeader};
    for (std::size_t i = 0; i < 500; ++i) {
      std::string cells[3];
      for (int c = 0; c < 3; ++c) {
        char text[64];
        const char* const formats[] = {"%a", "%+.17g", "  %.17e", "%.30g"};
        std::snprintf(text, sizeof text, formats[(i + static_cast<std::size_t>(c)) % 4],
                      general[i][static_cast<std::size_t>(c)]);
        cells[c] = text;
      }
      exact.push_back(cells[0] + "," + cells[1] + "," + cells[2]);
    }
    cases.push_back({"exact_forms", join(exact)});
  }

  // Tolerances, on 2000 samples.
  const std::string body = join(rows(general));
  for (const char* tolerance : {"0.05", "1", "5", "0", "-0.1", "nan", "inf", "1e-9"}) {
    cases.push_back(
        {std::string("tolerance_") + tolerance, body, {"48.5578", "3.2914", "89", tolerance}});
  }
  // Another place, and samples in other units.
  cases.push_back({"south", body, {"-33.9", "151.2", "0", "0.2"}});
  for (const auto& unit : {std::make_pair("microtesla", 100.0), std::make_pair("nanotesla", 1e5)}) {
    std::vector<Vec3> scaled = general500;
    for (Vec3& s : scaled) {
      for (double& v : s) {
        v *= unit.second;
      }
    }
    cases.push_back({unit.first, join(rows(scaled))});
  }

  // Hostile bytes.
  cases.push_back({"control_bytes", join({"\x1b]0;title\x07,1,2", std::string("a\0b,\x7f,c", 7),
                                          "0.3,0.3,0.2\r\r", row(general[0])})});
  cases.push_back({"bom_and_carriage_returns",
                   "\xef\xbb\xbf" + join(rows(general500), "\r") + "\n" + row(general[1])});
  cases.push_back({"long_cells",
                   join({std::string(300, '7') + ",0.1,0.2", "0." + std::string(300, '0') + "1,2,3",
                         std::string(300, 'x'), row(general[2])})});
  {
    std::string wide;
    while (wide.size() < 1000000) {
      wide += "0.25,-0.5,0.75,";
    }
    cases.push_back({"megabyte_line", join({kHeader, wide, row(general[3])})});
  }
  cases.push_back({"missing", ""});

  // 200,000 samples with defects in both halves: messages past the 40th are counted.
  {
    std::vector<std::string> big = rows(samples(kGeneral, 0.002, 200000, 11));
    for (std::size_t at = 1000; at < big.size(); at += 3001) {
      big[at] = at % 2 ? "0.17,-0.16" : "0.1,x,0.3";
    }
    cases.push_back({"large_with_defects", join(big)});
  }
  return cases;
}

class RegressionTest : public test_support::TempDirTest {
 protected:
  RegressionTest() : TempDirTest("fluxtrim_regression") {}
};

// What one run is compared by: status, standard output without the execution time, standard
// error.
std::string outcome(const RunResult& r) {
  std::string text = "status " + std::to_string(r.status) + "\n--- stdout\n";
  for (const std::string& line : test_support::splitLines(r.out)) {
    if (line.rfind("Execution time : ", 0) != 0) {
      text += line + "\n";
    }
  }
  return text + "--- stderr\n" + r.err;
}

TEST_F(RegressionTest, WholeToolOutputsMatchTheRecordings) {
  const fs::path expectedDir = fs::path(FLUXTRIM_SOURCE_DIR) / "tests" / "tool" / "regression";
  const bool recording = std::getenv("FLUXTRIM_RECORD_REGRESSION") != nullptr;
  for (const Case& c : corpus()) {
    SCOPED_TRACE(c.name);
    const std::string path = c.name == "missing" ? (dir_ / "missing.csv").string()
                                                 : writeFile(c.name + ".csv", c.content);
    std::vector<std::string> args = {path};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult r = test_support::runTool(args, dir_);
    ASSERT_TRUE(r.exited);
    const fs::path expected = expectedDir / (c.name + ".txt");
    if (recording) {
      std::ofstream(expected, std::ios::binary) << outcome(r);
    } else {
      EXPECT_EQ(outcome(r), test_support::readFile(expected));
    }
    fs::remove(path);
  }
}

}  // namespace
