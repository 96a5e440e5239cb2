// Black-box tests of the fluxtrim command: the built executable runs in a child process and its
// exit status, standard output and standard error are checked; JSON output is validated against
// the JSON Schemas of cli/schema with Debian's python3-jsonschema.
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "fluxtrim/calibration.hpp"
#include "fluxtrim/samples.hpp"
#include "fluxtrim/units.hpp"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

using test_support::RunResult;
using test_support::splitLines;

const std::string kSchemaDir = std::string(FLUXTRIM_SOURCE_DIR) + "/cli/schema";
const std::string kExample = std::string(FLUXTRIM_SOURCE_DIR) + "/examples/mag.csv";

class FluxtrimTest : public test_support::TempDirTest {
 protected:
  FluxtrimTest() : TempDirTest("fluxtrim_command") {}

  RunResult run(const std::vector<std::string>& args, const std::string& stdinPath = "/dev/null",
                const std::string& stdoutPath = "") {
    test_support::RunOptions options;
    options.stdinPath = stdinPath;
    options.stdoutPath = stdoutPath;
    return test_support::runProgram(FLUXTRIM_CLI_EXE, args, dir_, options);
  }

  // Validates the JSON files against the named schema; the validator's messages on failure.
  void expectValid(const std::string& schema, const std::vector<std::string>& files) {
    std::vector<std::string> args{
        std::string(FLUXTRIM_SOURCE_DIR) + "/tests/support/validate_json.py", kSchemaDir, schema};
    args.insert(args.end(), files.begin(), files.end());
    const fs::path scratch = dir_ / "validator";
    fs::create_directories(scratch);
    const RunResult r = test_support::runProgram(FLUXTRIM_PYTHON, args, scratch);
    EXPECT_EQ(r.status, 0) << "(" FLUXTRIM_PYTHON " needs python3-jsonschema)\n" << r.err;
  }

  // A calibration file as calibrate writes it (the example against a field strength of 0.5 G)
  // with a hand-set calibration: offset (0.5, -0.25, 0.125) G and a matrix that is not
  // symmetric, so that a transposed product or an offset added instead of subtracted shows.
  // Each sample of kRawSamples is the offset plus a multiple of one axis, so that its corrected
  // value is that multiple of the matrix's row: corrected = (raw - offset) * matrix.
  std::string handSetCalibration(const std::string& verdict, bool withCalibration) {
    const RunResult r =
        run({"calibrate", kExample, "--field-strength", "0.5G", "--format", "json"});
    EXPECT_EQ(r.status, 0) << r.err;
    nlohmann::ordered_json c = nlohmann::ordered_json::parse(r.out);
    c["verdict"] = verdict;
    c["calibration"] = nlohmann::ordered_json::parse(R"({"fit": "ellipsoid",
        "offset_G": [0.5, -0.25, 0.125], "matrix": [[1.25, 0.5, 0], [0, 0.75, 0.25], [0.125, 0, 1]]})");
    if (!withCalibration) c["calibration"] = nullptr;
    // Its own figures as on kRawSamples: the mean of their corrected magnitudes, a spread that
    // covers them.
    c["metrics"]["mean_corrected_G"] = 1.3117;
    c["metrics"]["residual_G"] = 0.25;
    return c.dump(2);
  }
};

// Every published test value through the command line: each element within the rounding of the
// table (0.1 nT, 0.01 degree), which catches a swapped or mis-signed component, a height taken in
// the wrong unit and too few printed digits. Every document is checked against the schema, and
// the text of the first row shows the same figures with their units.
TEST_F(FluxtrimTest, FieldAgreesWithEveryPublishedTestValue) {
  std::ifstream table(std::string(FLUXTRIM_SOURCE_DIR) + "/tests/data/WMM2025_TEST_VALUES.csv");
  std::string line;
  ASSERT_TRUE(std::getline(table, line));
  const char* const keys[7] = {"north_nT", "east_nT",         "down_nT",        "horizontal_nT",
                               "total_nT", "inclination_deg", "declination_deg"};
  std::vector<std::string> documents;
  while (std::getline(table, line)) {
    SCOPED_TRACE(line);
    std::vector<std::string> cells;
    std::istringstream row(line);
    for (std::string cell; std::getline(row, cell, ',');) cells.push_back(cell);
    ASSERT_EQ(cells.size(), 11u);
    const std::string height_m = std::to_string(std::stod(cells[1]) * 1000.0);
    const std::vector<std::string> place{"field",  "--lat",  cells[2], "--lon",   cells[3], "--alt",
                                         height_m, "--date", cells[0], "--model", "wmm2025"};
    std::vector<std::string> args = place;
    args.insert(args.end(), {"--format", "json"});
    const RunResult r = run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json field = nlohmann::json::parse(r.out);
    for (int k = 0; k < 7; ++k) {
      EXPECT_NEAR(field.at(keys[k]).get<double>(), std::stod(cells[k + 4]), k < 5 ? 0.1 : 0.01)
          << keys[k];
    }
    documents.push_back(writeFile("field" + std::to_string(documents.size()) + ".json", r.out));

    if (documents.size() == 1) {
      const RunResult text = run(place);
      ASSERT_EQ(text.status, 0);
      EXPECT_EQ(text.out.find('\x1b'), std::string::npos) << "colour in a file";
      const char* const labels[7] = {"North        X", "East         Y", "Vertical     Z",
                                     "Horizontal   H", "Total        F", "Inclination  I",
                                     "Declination  D"};
      for (int k = 0; k < 7; ++k) {
        const std::size_t at = text.out.find(labels[k]);
        ASSERT_NE(at, std::string::npos) << labels[k] << "\n" << text.out;
        std::istringstream figures(text.out.substr(at + 14));
        double value = 0.0;
        std::string unit;
        figures >> value >> unit;
        EXPECT_NEAR(value, field.at(keys[k]).get<double>(), k < 5 ? 0.05 : 0.005) << labels[k];
        EXPECT_EQ(unit, k < 5 ? "nT" : "deg") << labels[k];
      }
      EXPECT_NE(text.out.find("WMM2025 is valid from 2025.0 to 2030.0"), std::string::npos);
    }
  }
  EXPECT_EQ(documents.size(), 112u);
  expectValid("field.schema.json", documents);
}

// Bad arguments of every kind: status 2, nothing on standard output, one line naming the problem
// and the usage hint of the command; never an abort, an ignored option or a success. --help and
// --version succeed on standard output.
TEST_F(FluxtrimTest, BadArgumentsGiveOneLineAndTheUsageHint) {
  const std::string samples = writeFile("s.csv", "1,2,3\n");
  const std::string calibration = writeFile("c.json", "{}");
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"", {}},
      {"", {"calibrat"}},
      {"", {"--frobnicate"}},
      {"field", {"field", "--lat", "48"}},
      {"field", {"field", "--lat", "48", "--lon", "3", "--frobnicate"}},
      {"field", {"field", "--lat", "48", "--lon", "3", "--verbose", "extra"}},
      {"field", {"field", "--lat", "48.5x", "--lon", "3"}},
      {"field", {"field", "--lat", "nan", "--lon", "3"}},
      {"field", {"field", "--lat", "91", "--lon", "3"}},
      {"field", {"field", "--lat", "48", "--lon", "3", "--alt", "-5000"}},
      {"field", {"field", "--lat", "48", "--lon", "3", "--date", "2026-02-30"}},
      {"field", {"field", "--lat", "48", "--lon", "3", "--model", "igrf14"}},
      {"field", {"field", "--lat", "48", "--lon", "3", "--format", "xml"}},
      {"field", {"field", "--lat", "48", "--lat", "49", "--lon", "3"}},
      {"calibrate", {"calibrate"}},
      {"calibrate", {"calibrate", samples, "--lat", "48"}},
      {"calibrate", {"calibrate", samples, "--alt", "89"}},
      {"calibrate", {"calibrate", samples, "--field-strength", "0.48"}},
      {"calibrate", {"calibrate", samples, "--field-strength", "48 furlongs"}},
      {"calibrate", {"calibrate", samples, "--field-strength", "-48uT"}},
      {"calibrate", {"calibrate", samples, "--field-strength", "48uT", "--lat", "1", "--lon", "2"}},
      {"calibrate", {"calibrate", samples, "--units", "furlong"}},
      {"calibrate", {"calibrate", samples, "--units", ""}},
      {"calibrate", {"calibrate", samples, "--columns", "1,2"}},
      {"calibrate", {"calibrate", samples, "--columns", "x,2,3"}},
      {"calibrate", {"calibrate", samples, "--columns", "0,1,2"}},
      {"calibrate", {"calibrate", samples, "--delimiter", "pipe"}},
      {"calibrate", {"calibrate", samples, "--header", "maybe"}},
      {"calibrate", {"calibrate", samples, "--tolerance", "-0.2"}},
      {"calibrate", {"calibrate", samples, "--jobs", "0"}},
      {"calibrate", {"calibrate", samples, samples, "--format", "c"}},
      {"calibrate", {"calibrate", "-", "-"}},
      {"calibrate", {"calibrate", samples, "--frobnicate"}},
      {"calibrate", {"calibrate", samples, "--tolerance", "0.2"}},  // no reference
      {"calibrate", {"calibrate", samples, "-o", samples}},
      {"calibrate", {"calibrate", samples, "--report", samples}},
      {"calibrate", {"calibrate", samples, "--scale", "field"}},  // nothing to scale to
      {"calibrate", {"calibrate", samples, "--field-strength", "48uT", "--scale", "unit"}},
      {"calibrate", {"calibrate", samples, "--output-units", "counts:5"}},
      {"calibrate", {"calibrate", samples, "--format", "c", "--name", "9lives"}},
      {"calibrate", {"calibrate", samples, "--format", "c", "--c-type", "half"}},
      {"calibrate", {"calibrate", samples, "--format", "ardupilot", "--instance", "0"}},
      {"calibrate", {"calibrate", samples, "--format", "px4", "--instance", "4"}},
      {"calibrate", {"calibrate", samples, "--format", "px4", "--name", "mag"}},
      {"calibrate", {"calibrate", samples, samples, "--format", "px4"}},
      {"export", {"export", calibration}},
      {"export", {"export", calibration, "--format", "text"}},
      {"export", {"export", calibration, "--format", "c", "-o", calibration}},
      {"apply", {"apply", calibration}},
      {"apply", {"apply", calibration, samples, "--units", "furlong"}},
  };
  for (const auto& [command, args] : cases) {
    std::string shown;
    for (const std::string& arg : args) shown += " " + arg;
    SCOPED_TRACE("fluxtrim" + shown);
    const RunResult r = run(args);
    const std::string program = command.empty() ? "fluxtrim" : "fluxtrim " + command;
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    const std::vector<std::string> lines = splitLines(r.err);
    ASSERT_EQ(lines.size(), 2u) << r.err;
    EXPECT_EQ(lines[0].rfind(program + ": ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1], "Run '" + program + " --help' for usage.");
  }

  const RunResult help = run({"calibrate", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--field-strength"), std::string::npos);
  const RunResult version = run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("fluxtrim ", 0), 0u);
}

// An input that cannot be read is a run that could not be made (status 2), told in one line that
// names it, without a usage hint.
TEST_F(FluxtrimTest, UnreadableInputIsNoRun) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"calibrate", (dir_ / "missing.csv").string()},
        std::vector<std::string>{"apply", (dir_ / "missing.json").string(), "-"}}) {
    const RunResult r = run(args);
    EXPECT_EQ(r.status, 2) << args[0];
    ASSERT_EQ(splitLines(r.err).size(), 1u) << r.err;
    EXPECT_NE(r.err.find("missing."), std::string::npos) << r.err;
  }
}

const char* const kRawSamples = "x,y,z\n1.5,-0.25,0.125\n0.5,1.75,0.125\n0.5,-0.25,-0.875\n";
const char* const kCorrected = "x_G,y_G,z_G\n1.25,0.5,0\n0,1.5,0.5\n-0.125,0,-1\n";

// The corrected samples from a file, from standard input and from milligauss read with --units,
// the summary against the recorded reference, and the hand-written file valid under the schema.
TEST_F(FluxtrimTest, ApplyCorrectsWithTheRowVectorConvention) {
  const std::string calibration = writeFile("cal.json", handSetCalibration("pass", true));
  expectValid("calibration.schema.json", {calibration});
  const std::string raw = writeFile("raw.csv", kRawSamples);

  const RunResult fromFile = run({"apply", calibration, raw});
  EXPECT_EQ(fromFile.status, 0) << fromFile.err;
  EXPECT_EQ(fromFile.out, kCorrected);
  EXPECT_NE(fromFile.err.find("3 samples corrected"), std::string::npos) << fromFile.err;
  EXPECT_NE(fromFile.err.find("reference field:      0.5 G"), std::string::npos) << fromFile.err;

  const RunResult fromStdin = run({"apply", calibration, "-"}, raw);
  EXPECT_EQ(fromStdin.status, 0) << fromStdin.err;
  EXPECT_EQ(fromStdin.out, kCorrected);

  const std::string milligauss =
      writeFile("mG.csv", "x,y,z\n1500,-250,125\n500,1750,125\n500,-250,-875\n");
  const RunResult converted = run({"apply", calibration, milligauss, "--units", "mG"});
  EXPECT_EQ(converted.status, 0) << converted.err;
  EXPECT_EQ(converted.out, kCorrected);

  const std::string output = (dir_ / "out.csv").string();
  EXPECT_EQ(run({"apply", calibration, raw, "-o", output}).status, 0);
  EXPECT_EQ(test_support::readFile(output), kCorrected);
}

// The statuses of apply: a failed calibration is applied but unusable (1); one without a
// calibration, nothing written (1); an unreadable, foreign or newer file, an input without
// samples and an output that cannot be written are no run (2), never a success.
TEST_F(FluxtrimTest, ApplyExitStatuses) {
  const std::string raw = writeFile("raw.csv", kRawSamples);
  const std::string failed = writeFile("failed.json", handSetCalibration("fail", true));
  const RunResult r = run({"apply", failed, raw});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kCorrected);
  EXPECT_NE(r.err.find("fail"), std::string::npos);

  const std::string none = writeFile("none.json", handSetCalibration("fail", false));
  expectValid("calibration.schema.json", {none});
  const RunResult empty = run({"apply", none, raw});
  EXPECT_EQ(empty.status, 1);
  EXPECT_EQ(empty.out, "");

  std::string newer = handSetCalibration("pass", true);
  newer.replace(newer.find("calibration/1"), 13, "calibration/2");
  std::string microtesla = handSetCalibration("pass", true);
  microtesla.replace(microtesla.find("\"symbol\": \"G\""), 13, "\"symbol\": \"uT\"");
  const std::string good = writeFile("good.json", handSetCalibration("pass", true));
  const std::vector<std::vector<std::string>> noRun = {
      {"apply", writeFile("text.json", "offset 0.5 -0.25 0.125\n"), raw},
      {"apply", writeFile("newer.json", newer), raw},
      {"apply", writeFile("uT.json", microtesla), raw},  // no offset_uT key
      {"apply", good, writeFile("header.csv", "x,y,z\n")},
      {"apply", good, raw, "-o", "/dev/full"},
      {"apply", good, raw, "-o", (dir_ / "no" / "such" / "dir.csv").string()},
  };
  for (const std::vector<std::string>& args : noRun) {
    SCOPED_TRACE(args[1] + " " + args[2] + (args.size() > 4 ? " -o " + args[4] : ""));
    const RunResult bad = run(args);
    EXPECT_EQ(bad.status, 2) << bad.err;
    EXPECT_EQ(bad.out, "");
  }
  EXPECT_EQ(run({"field", "--lat", "1", "--lon", "2"}, "/dev/null", "/dev/full").status, 2);
}

// Colour only on a terminal, and never when NO_COLOR is set: the field for a date outside the
// model's validity prints its warning in colour on a pseudo-terminal unless NO_COLOR is set.
TEST_F(FluxtrimTest, ColourOnlyOnATerminalWithoutNoColor) {
  for (const char* noColour : {"", "1"}) {
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      setenv("TERM", "xterm", 1);
      if (noColour[0] == '\0') {
        unsetenv("NO_COLOR");
      } else {
        setenv("NO_COLOR", noColour, 1);
      }
      execl(FLUXTRIM_CLI_EXE, "fluxtrim", "field", "--lat", "48", "--lon", "3", "--date", "2020.5",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    std::string screen;
    char buffer[4096];
    ssize_t got;
    while ((got = read(master, buffer, sizeof buffer)) > 0) screen.append(buffer, got);
    close(master);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << screen;
    EXPECT_NE(screen.find("Warning:"), std::string::npos) << screen;
    EXPECT_EQ(screen.find('\x1b') != std::string::npos, noColour[0] == '\0')
        << "NO_COLOR='" << noColour << "'\n"
        << screen;
  }
}

// The example scaled by 100, as a sensor in microtesla would log it.
std::string scaledExample(double factor) {
  std::ifstream in(kExample);
  std::string line;
  std::getline(in, line);
  std::ostringstream out;
  out.precision(17);
  out << line << "\n";
  while (std::getline(in, line)) {
    std::istringstream cells(line);
    std::string cell;
    const char* separator = "";
    while (std::getline(cells, cell, ',')) {
      out << separator << std::stod(cell) * factor;
      separator = ",";
    }
    out << "\n";
  }
  return out.str();
}

std::vector<double> numbers(const nlohmann::json& array) {
  return array.get<std::vector<double>>();
}

// The example at its place passes and recovers the offset it was made with, (0.06, -0.04, 0.09) G,
// within 1 mG; scaled by 100 it fails with the unit as the first reason, and passes with
// --units uT with the offset in microtesla. The text says the same, verdict first, within 80
// columns, and every JSON document is valid under the schema.
TEST_F(FluxtrimTest, CalibrateRecoversTheExampleAndJudgesTheUnit) {
  const std::vector<std::string> place{"--lat", "48.5578", "--lon", "3.2914", "--alt", "89"};
  const std::string scaled = writeFile("mag100.csv", scaledExample(100.0));
  struct Case {
    std::string input;
    std::vector<std::string> units;
    int status;
    std::string offsetKey;
    double offsetScale;  // the offset in the unit of the key, per gauss
  };
  const std::vector<Case> cases = {{kExample, {}, 0, "offset_G", 1.0},
                                   {scaled, {}, 1, "offset_G", 100.0},
                                   {scaled, {"--units", "uT"}, 0, "offset_uT", 100.0}};
  std::vector<std::string> documents;
  for (const Case& c : cases) {
    std::vector<std::string> args{"calibrate", c.input};
    args.insert(args.end(), place.begin(), place.end());
    args.insert(args.end(), c.units.begin(), c.units.end());
    SCOPED_TRACE(c.input + (c.units.empty() ? "" : " --units " + c.units[1]));

    const RunResult text = run(args);
    EXPECT_EQ(text.status, c.status) << text.err;
    const std::vector<std::string> lines = splitLines(text.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].rfind(c.status == 0 ? "Verdict: PASS" : "Verdict: FAIL", 0), 0u) << text.out;
    for (const std::string& line : lines) EXPECT_LE(line.size(), 80u) << line;
    EXPECT_NE(text.out.find("corrected = (raw - offset) * matrix"), std::string::npos);

    args.insert(args.end(), {"--format", "json"});
    const RunResult json = run(args);
    EXPECT_EQ(json.status, c.status) << json.err;
    documents.push_back(writeFile("doc" + std::to_string(documents.size()) + ".json", json.out));
    const nlohmann::json d = nlohmann::json::parse(json.out);
    EXPECT_EQ(d.at("verdict"), c.status == 0 ? "pass" : "fail");
    const std::vector<double> offset = numbers(d.at("calibration").at(c.offsetKey));
    const double truth[3] = {0.06, -0.04, 0.09};
    for (int i = 0; i < 3; ++i)
      EXPECT_NEAR(offset[i], truth[i] * c.offsetScale, 1e-3 * c.offsetScale);
    if (c.status == 1) {
      EXPECT_EQ(d.at("reasons").at(0).at("code"), "unit");
      EXPECT_NE(d.at("reasons").at(0).at("message").get<std::string>().find("microtesla"),
                std::string::npos);
      EXPECT_NE(text.out.find("Reasons\n  fail unit: samples look like microtesla"),
                std::string::npos)
          << text.out;
    }
  }
  expectValid("calibration.schema.json", documents);

  // --report writes the page of the same calibration beside the output.
  const std::string report = (dir_ / "report.html").string();
  std::vector<std::string> args{"calibrate", kExample, "--report", report};
  args.insert(args.end(), place.begin(), place.end());
  EXPECT_EQ(run(args).status, 0);
  const std::string html = test_support::readFile(report);
  EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(html.find("PASS"), std::string::npos);
}

// What the command cannot judge it says in words. A device held still: the motion reason first,
// no calibration, coverage "not judged", null figures in the JSON. Microtesla read as gauss: the
// reasons that only restate the unit indented after it as "also", follows_from "unit" in the
// JSON. A scale off by a factor 1e9: figures beyond judgement in words and null, never "nan",
// "inf" or a number of dozens of digits. Every document valid against the schema.
TEST_F(FluxtrimTest, CalibrateSaysWhatItCannotJudge) {
  std::string held = "x,y,z\n";
  for (int k = 0; k < 400; ++k) held += k % 2 == 0 ? "20.01,-5.00,42.00\n" : "20.00,-5.01,41.99\n";
  const std::vector<std::vector<std::string>> cases = {
      {"calibrate", writeFile("still.csv", held), "--units", "uT"},
      {"calibrate", writeFile("mag100.csv", scaledExample(100.0)), "--lat", "48.5578", "--lon",
       "3.2914"},
      {"calibrate", kExample, "--units", "counts:1e-9", "--field-strength", "0.48G"}};
  std::vector<std::string> documents;
  for (std::size_t k = 0; k < cases.size(); ++k) {
    SCOPED_TRACE(cases[k][1]);
    std::vector<std::string> args = cases[k];
    const RunResult text = run(args);
    EXPECT_EQ(text.status, 1) << text.err;
    EXPECT_NE(text.out.find(k == 0 ? "Reasons\n  fail motion: the device was not turned"
                                   : "Reasons\n  fail unit: samples look like"),
              std::string::npos)
        << text.out;
    for (const char* word : {"nan", "inf", "0000000000"}) {
      EXPECT_EQ(text.out.find(word), std::string::npos) << word << "\n" << text.out;
    }
    args.insert(args.end(), {"--format", "json"});
    const nlohmann::json d = nlohmann::json::parse(run(args).out);
    documents.push_back(writeFile("doc" + std::to_string(k) + ".json", d.dump()));
    if (k == 0) {
      EXPECT_NE(text.out.find("none: the device was not turned"), std::string::npos);
      EXPECT_NE(text.out.find("coverage          not judged"), std::string::npos) << text.out;
      EXPECT_TRUE(d.at("calibration").is_null());
      EXPECT_EQ(d.at("metrics").at("motion"), "not_turned");
      EXPECT_TRUE(d.at("metrics").at("coverage_percent").is_null());
      continue;
    }
    EXPECT_NE(text.out.find("\n    also fail radius: fitted field"), std::string::npos) << text.out;
    EXPECT_TRUE(d.at("reasons").at(0).at("follows_from").is_null());
    for (const nlohmann::json& reason : d.at("reasons")) {
      EXPECT_TRUE(reason.at("code") != "radius" || reason.at("follows_from") == "unit");
    }
    EXPECT_EQ(text.out.find("beyond judgement") != std::string::npos, k == 2) << text.out;
    EXPECT_EQ(d.at("metrics").at("residual_mG").is_null(), k == 2);
  }
  expectValid("calibration.schema.json", documents);
}

// Several inputs on two threads, standard input among them: one JSON line per input in the order
// given, an unreadable file (its name not even UTF-8) and one without samples as error documents
// with one line each on standard error, the others calibrated all the same; the highest status
// wins. One thread gives the same bytes.
TEST_F(FluxtrimTest, CalibrateBatchGoesPastBadInputsInOrder) {
  const std::string scaled = writeFile("mag100.csv", scaledExample(100.0));
  const std::string missing = (dir_ / "missing\xff.csv").string();
  const std::string empty = writeFile("empty.csv", "x,y,z\n");
  const std::vector<std::string> inputs{kExample, missing, "-", empty, scaled};
  std::vector<std::string> args{"calibrate", "--field-strength", "48uT", "--format", "json"};
  args.insert(args.end(), inputs.begin(), inputs.end());
  std::vector<std::string> parallel = args;
  parallel.insert(parallel.end(), {"--jobs", "2"});

  const RunResult r = run(parallel, kExample);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(splitLines(r.err).size(), 2u) << r.err;
  const std::vector<std::string> lines = splitLines(r.out);
  ASSERT_EQ(lines.size(), 5u) << r.out;
  const char* const expected[5] = {"pass", "unreadable-input", "pass", "bad-input", "fail"};
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const nlohmann::json d = nlohmann::json::parse(lines[i]);
    const std::string source = d.at("input").at("source");
    if (i == 1) {
      EXPECT_NE(source.find("missing"), std::string::npos) << source;
    } else {
      EXPECT_EQ(source, inputs[i]);
    }
    const std::string got = d.contains("error") ? d.at("error").at("code").get<std::string>()
                                                : d.at("verdict").get<std::string>();
    EXPECT_EQ(got, expected[i]) << lines[i].substr(0, 200);
  }
  expectValid("calibration.schema.json", {writeFile("batch.json", r.out)});
  EXPECT_EQ(run(args, kExample).out, r.out);

  // Without the bad inputs a failed calibration is not hidden by a passed one.
  EXPECT_EQ(run({"calibrate", kExample, scaled, "--jobs", "2"}).status, 1);
}

// The C header in double, compiled into a small C program, corrects samples to the same bits as
// the library's applyCalibration with the calibration of the JSON output; a failed calibration's
// header, written only with --force, does not compile.
TEST_F(FluxtrimTest, CalibrateHeaderCompilesAndCorrectsAsTheLibrary) {
  const std::vector<std::string> args{"calibrate", kExample, "--lat", "48.5578", "--lon", "3.2914"};
  std::vector<std::string> header = args;
  header.insert(header.end(),
                {"--format", "c", "--c-type", "double", "-o", (dir_ / "calibration.h").string()});
  ASSERT_EQ(run(header).status, 0);
  std::vector<std::string> json = args;
  json.insert(json.end(), {"--format", "json"});
  const nlohmann::json d = nlohmann::json::parse(run(json).out).at("calibration");
  fluxtrim::Calibration calibration;
  for (int i = 0; i < 3; ++i) {
    calibration.offset[i] = d.at("offset_G").at(i);
    for (int j = 0; j < 3; ++j) calibration.matrix[i][j] = d.at("matrix").at(i).at(j);
  }

  const fluxtrim::SampleSet samples = fluxtrim::readSamples(kExample);
  std::ostringstream program;
  program.precision(17);
  program << "#include <stdio.h>\n#include \"calibration.h\"\nint main(void) {\n"
             "  double raw[][3] = {";
  for (std::size_t k = 0; k < 50; ++k) {
    const fluxtrim::Vec3& v = samples.values[k * 60];
    program << "{" << v[0] << ", " << v[1] << ", " << v[2] << "},";
  }
  program << "};\n  for (int k = 0; k < 50; ++k) {\n    double c[3];\n"
             "    fluxtrim_correct(raw[k], c);\n"
             "    printf(\"%.17g %.17g %.17g\\n\", c[0], c[1], c[2]);\n  }\n  return 0;\n}\n";
  const std::string source = writeFile("main.c", program.str());
  const RunResult built = test_support::buildC(source, dir_, dir_ / "main");
  ASSERT_EQ(built.status, 0) << built.err;
  const RunResult corrected = test_support::runProgram((dir_ / "main").string(), {}, dir_);
  std::istringstream values(corrected.out);
  for (std::size_t k = 0; k < 50; ++k) {
    const fluxtrim::Vec3 expected = fluxtrim::applyCalibration(calibration, samples.values[k * 60]);
    for (int c = 0; c < 3; ++c) {
      std::string value;
      values >> value;
      EXPECT_EQ(std::strtod(value.c_str(), nullptr), expected[c]) << "sample " << k * 60;
    }
  }

  const std::string scaled = writeFile("mag100.csv", scaledExample(100.0));
  EXPECT_EQ(run({"calibrate", scaled, "--lat", "48.5578", "--lon", "3.2914", "--format", "c",
                 "--force", "-o", (dir_ / "calibration.h").string()})
                .status,
            1);
  // The object goes to the test's directory: a compiler that fails deletes its output file, and
  // run as root it would delete /dev/null itself.
  EXPECT_NE(
      test_support::runProgram(
          "/usr/bin/cc", {"-c", "-I", dir_.string(), source, "-o", (dir_ / "x.o").string()}, dir_)
          .status,
      0);
}

// A field strength in every unit and spelling goes through the library's conversion alone: the
// JSON's reference strength is SampleUnit::toGauss of the number typed, to the bit, and its
// total_nT that strength in nanotesla by SampleUnit::fromGauss. Catches the command converting
// with constants of its own or rounding twice: 48300nT came out as 48300.00000000001 nT and
// 0.4830000000000001 G when it was multiplied by a rounded 1e-5 and then by 1e5.
TEST_F(FluxtrimTest, FieldStrengthInEveryUnitIsTheLibrarysConversion) {
  struct StrengthCase {
    const char* text;
    double value;
    fluxtrim::Unit unit;
  };
  const StrengthCase table[] = {{"48300nT", 48300.0, fluxtrim::Unit::Nanotesla},
                                {"48300 nT", 48300.0, fluxtrim::Unit::Nanotesla},
                                {"23456 nanotesla", 23456.0, fluxtrim::Unit::Nanotesla},
                                {"47.1uT", 47.1, fluxtrim::Unit::Microtesla},
                                {"47.1 \xC2\xB5T", 47.1, fluxtrim::Unit::Microtesla},
                                {"483mG", 483.0, fluxtrim::Unit::Milligauss},
                                {"0.483G", 0.483, fluxtrim::Unit::Gauss},
                                {"4.83e-5T", 4.83e-5, fluxtrim::Unit::Tesla},
                                {"0.0000483 tesla", 0.0000483, fluxtrim::Unit::Tesla}};
  const std::string samples =
      writeFile("tumble.csv", "x,y,z\n0.4,0.1,0.2\n-0.3,0.3,0.1\n0.1,-0.4,0.25\n0.2,0.2,-0.4\n");
  for (const StrengthCase& c : table) {
    SCOPED_TRACE(c.text);
    const RunResult r = run({"calibrate", samples, "--field-strength", c.text, "--format", "json"});
    ASSERT_LE(r.status, 1) << r.err;
    const nlohmann::json document = nlohmann::json::parse(r.out);
    const double strength_G = fluxtrim::SampleUnit{c.unit}.toGauss(c.value);
    const double strength_nT =
        fluxtrim::SampleUnit{fluxtrim::Unit::Nanotesla}.fromGauss(strength_G);
    EXPECT_EQ(document.at("reference").at("kind"), "strength");
    EXPECT_EQ(document.at("reference").at("total_nT").get<double>(), strength_nT);
    EXPECT_EQ(document.at("metrics").at("reference_field_G").get<double>(), strength_G);
  }
}

// The named fault itself, in the figures a person compares: 48300 nT typed is 48300 nT written.
TEST_F(FluxtrimTest, FieldStrengthInNanoteslaReadsBackExactly) {
  const RunResult r =
      run({"calibrate", kExample, "--field-strength", "48300nT", "--format", "json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const nlohmann::json document = nlohmann::json::parse(r.out);
  EXPECT_EQ(document.at("reference").at("total_nT").get<double>(), 48300.0);
  EXPECT_EQ(document.at("metrics").at("reference_field_G").get<double>(), 0.483);
}

}  // namespace
