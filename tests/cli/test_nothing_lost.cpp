// The command's promise that nothing is lost: no output overwrites an input or another output,
// an output replaces the old file only when complete, a thread that cannot start or a Ctrl-C
// does not lose the run, apply refuses or flags what it cannot trust, and a file name cannot
// forge a line of an output or break the C header. Black-box, in child processes.
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;

using test_support::readFile;
using test_support::RunResult;
using test_support::splitLines;

const std::string kExample = std::string(FLUXTRIM_SOURCE_DIR) + "/examples/mag.csv";

// The example with every value multiplied by factor; with a time column before and a temperature
// column after the three when framed.
std::string scaledExample(double factor, bool framed = false) {
  std::istringstream in(readFile(kExample));
  std::string line;
  std::getline(in, line);
  std::ostringstream out;
  out.precision(17);
  out << (framed ? "time," + line + ",temp" : line) << "\n";
  for (int row = 0; std::getline(in, line); ++row) {
    std::istringstream cells(line);
    if (framed) out << row * 10 << ",";
    const char* separator = "";
    for (std::string cell; std::getline(cells, cell, ',');) {
      out << separator << std::stod(cell) * factor;
      separator = ",";
    }
    out << (framed ? ",21." + std::to_string(row % 10) : "") << "\n";
  }
  return out.str();
}

class NothingLost : public test_support::TempDirTest {
 protected:
  NothingLost() : TempDirTest("fluxtrim_nothing_lost") {}

  RunResult run(const std::vector<std::string>& args, const std::string& stdinPath = "/dev/null",
                const std::string& stdoutPath = "") {
    return test_support::runProgram(FLUXTRIM_CLI_EXE, args, dir_, {stdoutPath, stdinPath});
  }

  // The command run by /bin/sh after the given ulimit settings, such as "ulimit -f 64".
  RunResult runLimited(const std::string& limits, const std::vector<std::string>& args) {
    std::string line = limits + "; exec '" FLUXTRIM_CLI_EXE "'";
    for (const std::string& arg : args) line += " '" + arg + "'";
    return test_support::runProgram("/bin/sh", {"-c", line}, dir_, {"", "/dev/null"});
  }

  // The example's calibration file, in gauss against a field strength.
  std::string calibration() {
    const std::string path = (dir_ / "cal.json").string();
    EXPECT_EQ(
        run({"calibrate", kExample, "--field-strength", "0.48G", "--format", "json", "-o", path})
            .status,
        0);
    return path;
  }

  // Temporary files left in dir_.
  std::ptrdiff_t leftovers() const {
    return std::count_if(fs::directory_iterator(dir_), {}, [](const fs::directory_entry& entry) {
      return entry.path().filename().string().rfind(".fluxtrim-", 0) == 0;
    });
  }
};

// Each output that is an input (standard input too, by any path to it) or another output is
// refused with status 2 in one line naming both, before anything is written. Catches the
// recording overwritten by -o, --report or -o /dev/fd/0 while read from standard input, the
// report lost under -o of the same name, and apply writing over its calibration.
TEST_F(NothingLost, OutputsNeverOverwriteInputsOrEachOther) {
  const std::string recording = writeFile("rec.csv", readFile(kExample));
  const std::string cal = calibration();
  const std::string calText = readFile(cal);
  const std::string old = writeFile("old.txt", "an earlier output\n");
  const std::string link = (dir_ / "link.csv").string();
  fs::create_symlink(recording, link);
  const std::string fresh = (dir_ / "fresh.txt").string();
  struct Case {
    std::vector<std::string> args;
    std::string stdinPath;
    const char* names[2];  // what the message names
  };
  const Case cases[] = {
      {{"calibrate", "-", "-o", recording}, recording, {"rec.csv", "standard input"}},
      {{"calibrate", "-", "--report", recording}, recording, {"rec.csv", "standard input"}},
      {{"calibrate", "-", "-o", "/dev/fd/0"}, recording, {"/dev/fd/0", "standard input"}},
      {{"calibrate", recording, "-o", link}, "/dev/null", {"link.csv", "rec.csv"}},
      {{"calibrate", kExample, "-o", old, "--report", old}, "/dev/null", {"-o", "--report"}},
      {{"calibrate", kExample, "-o", fresh, "--report", dir_.string() + "/./fresh.txt"},
       "/dev/null",
       {"-o", "--report"}},
      {{"calibrate", kExample, "--report", "-"}, "/dev/null", {"-o", "--report"}},
      {{"apply", cal, recording, "-o", cal}, "/dev/null", {"cal.json", "calibration"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    const RunResult r = run(c.args, c.stdinPath);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    for (const char* name : c.names) EXPECT_NE(r.err.find(name), std::string::npos) << r.err;
  }
  EXPECT_EQ(readFile(recording), readFile(kExample));
  EXPECT_EQ(readFile(cal), calText);
  EXPECT_EQ(readFile(old), "an earlier output\n");
  EXPECT_FALSE(fs::exists(fresh));
  // Standard output redirected to the report's file.
  const std::string report = (dir_ / "report.html").string();
  EXPECT_EQ(run({"calibrate", kExample, "--report", report}, "/dev/null", report).status, 2);
}

// An output that cannot be written completely (a file size limit, a full device) leaves the
// earlier file as it was, leaves no temporary file, and says why with the first failure's reason;
// a complete one keeps the old file's permissions and the link it was written through. Catches a
// good report replaced by a truncated one, and "cannot write" said without a reason.
TEST_F(NothingLost, AnOutputReplacesTheOldFileOnlyWhenComplete) {
  const std::string report = (dir_ / "report.html").string();
  ASSERT_EQ(run({"calibrate", kExample, "--report", report}).status, 0);
  const std::string good = readFile(report);
  chmod(report.c_str(), 0640);
  // 100 blocks of 512 or 1024 bytes: less than the report; the signal ignored, a write fails.
  const RunResult limited =
      runLimited("ulimit -f 100; trap '' XFSZ",
                 {"calibrate", kExample, "--report", report, "--field-strength", "0.5G"});
  EXPECT_EQ(limited.status, 2);
  EXPECT_NE(limited.err.find("File too large"), std::string::npos) << limited.err;
  EXPECT_EQ(readFile(report), good);
  EXPECT_EQ(leftovers(), 0);

  const RunResult full =
      run({"calibrate", kExample, kExample, "--format", "json", "-o", "/dev/full"});
  EXPECT_EQ(full.status, 2);
  EXPECT_NE(full.err.find("cannot write '/dev/full': No space left on device"), std::string::npos)
      << full.err;

  const std::string link = (dir_ / "latest.html").string();
  fs::create_symlink(report, link);
  ASSERT_EQ(run({"calibrate", kExample, "--report", link, "--field-strength", "0.5G"}).status, 0);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_NE(readFile(report), good);
  struct stat status {};
  ASSERT_EQ(stat(report.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(leftovers(), 0);
}

// Worker threads that cannot start (each thread's stack beyond the address-space limit) leave
// the run to those that could, or to the calling thread, with one warning: every input is
// calibrated. Catches std::terminate (status 134) when a thread fails after others started.
TEST_F(NothingLost, JobsRunWithTheThreadsThatCouldStart) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "address-space limit and address sanitizer do not mix";
#endif
  const std::vector<std::string> args{"calibrate", kExample, kExample, kExample,
                                      "--format",  "json",   "--jobs", "3"};
  const RunResult one = run(args);
  ASSERT_EQ(one.status, 0);
  // Stacks of about 1 GB in 1.6 GB of address space: one worker can start, or none.
  for (const char* limits :
       {"ulimit -s 1000000; ulimit -v 1600000", "ulimit -s 1000000; ulimit -v 900000"}) {
    SCOPED_TRACE(limits);
    const RunResult r = runLimited(limits, args);
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, one.out);
    const std::vector<std::string> lines = splitLines(r.err);
    ASSERT_EQ(lines.size(), 1u) << r.err;
    EXPECT_NE(lines[0].find("threads could start"), std::string::npos) << r.err;
  }
}

// The command in a child process reading the pipe input as standard input.
pid_t startReading(const std::vector<std::string>& args, int input, const fs::path& dir) {
  test_support::RunOptions options;
  options.stdinFd = input;
  return test_support::startProgram(FLUXTRIM_CLI_EXE, args, dir, options);
}

// Writes text into the pipe and waits until the child has read all of it.
void feed(int pipeEnd, const std::string& text) {
  for (std::size_t at = 0; at < text.size();) {
    const ssize_t wrote = write(pipeEnd, text.data() + at, text.size() - at);
    ASSERT_GT(wrote, 0);
    at += static_cast<std::size_t>(wrote);
  }
  for (int unread = 1; unread > 0;) {
    ASSERT_EQ(ioctl(pipeEnd, FIONREAD, &unread), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

// Ctrl-C on a stream that never ends: the first interrupt ends standard input and the samples
// read are calibrated (a cut last line left out); a second one ends the program as Ctrl-C does,
// its unfinished output removed and the earlier file kept. Catches every sample lost to the
// first Ctrl-C, a cut line read as a sample, and a temporary file left behind.
TEST_F(NothingLost, InterruptOnStandardInput) {
  int stream[2];
  ASSERT_EQ(pipe(stream), 0);
  pid_t pid = startReading({"calibrate", "-"}, stream[0], dir_);
  feed(stream[1], readFile(kExample) + "0.1,0.2,0.3");  // a line cut by the interrupt
  kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  close(stream[0]);
  close(stream[1]);
  ASSERT_TRUE(WIFEXITED(status)) << readFile(dir_ / "stderr");
  EXPECT_EQ(WEXITSTATUS(status), 0) << readFile(dir_ / "stderr");
  EXPECT_NE(readFile(dir_ / "stdout").find("Input: standard input, 3000 samples"),
            std::string::npos)
      << readFile(dir_ / "stdout");
  EXPECT_NE(readFile(dir_ / "stderr").find("interrupted"), std::string::npos);

  // The second interrupt while the next input, a named pipe, is awaited and the output of the
  // first is being written.
  const std::string output = writeFile("out.json", "an earlier output\n");
  const std::string waiting = (dir_ / "waiting").string();
  ASSERT_EQ(mkfifo(waiting.c_str(), 0600), 0);
  ASSERT_EQ(pipe(stream), 0);
  pid =
      startReading({"calibrate", "-", waiting, "--format", "json", "-o", output}, stream[0], dir_);
  feed(stream[1], readFile(kExample));
  kill(pid, SIGINT);
  const int other = open(waiting.c_str(), O_WRONLY);  // returns once the child opens it
  ASSERT_GE(other, 0);
  EXPECT_EQ(leftovers(), 1);
  kill(pid, SIGINT);
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  close(other);
  close(stream[0]);
  close(stream[1]);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
  EXPECT_EQ(readFile(output), "an earlier output\n");
  EXPECT_EQ(leftovers(), 0);
}

// apply refuses samples that are not in the calibration's unit unless --units says what they
// are in (then it converts), and flags with status 1, the samples still written, corrected
// magnitudes off the calibration's own and samples that correct to no finite value. Catches
// gauss or counts applied to microtesla with status 0 and a mean "+10000 %" off the field.
TEST_F(NothingLost, ApplyRefusesOrFlagsWhatItCannotTrust) {
  const std::string cal = calibration();
  const std::string output = (dir_ / "out.csv").string();
  const std::string microtesla = writeFile("uT.csv", scaledExample(100.0));
  const RunResult refused = run({"apply", cal, microtesla, "-o", output});
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("--units"), std::string::npos) << refused.err;
  EXPECT_FALSE(fs::exists(output));

  const RunResult converted = run({"apply", cal, microtesla, "--units", "uT"});
  EXPECT_EQ(converted.status, 0) << converted.err;
  const std::vector<std::string> expected = splitLines(run({"apply", cal, kExample}).out);
  EXPECT_EQ(splitLines(converted.out).size(), expected.size());

  // A calibration in counts applied to microtesla.
  const std::string counts = writeFile("counts.csv", scaledExample(1090.0));
  const std::string countsCal = (dir_ / "counts.json").string();
  ASSERT_EQ(run({"calibrate", counts, "--units", "counts:1090", "--field-strength", "0.48G",
                 "--format", "json", "-o", countsCal})
                .status,
            0);
  EXPECT_EQ(run({"apply", countsCal, microtesla}).status, 2);

  // Ten per cent larger, and one sample beyond what a double holds once corrected.
  const RunResult larger = run({"apply", cal, writeFile("larger.csv", scaledExample(1.1))});
  EXPECT_EQ(larger.status, 1);
  EXPECT_NE(larger.err.find("does not fit"), std::string::npos) << larger.err;
  EXPECT_EQ(splitLines(larger.out).size(), expected.size());
  const RunResult huge = run(
      {"apply", cal, writeFile("huge.csv", readFile(kExample) + "1.79e308,1.79e308,1.79e308\n")});
  EXPECT_EQ(huge.status, 1);
  EXPECT_NE(huge.err.find("samples that are not finite: 1, the first from line 3002"),
            std::string::npos)
      << huge.err;
}

// apply --keep-columns writes every column of each sample line, the corrected three in place of
// the raw ones and the same values as apply without it, and the header with the three renamed.
// Catches rows that no longer join to their time stamps.
TEST_F(NothingLost, ApplyKeepsTheOtherColumns) {
  const std::string cal = calibration();
  const std::string framed = writeFile("framed.csv", scaledExample(1.0, true));
  const RunResult kept = run({"apply", cal, framed, "--keep-columns"});
  ASSERT_EQ(kept.status, 0) << kept.err;
  const std::vector<std::string> rows = splitLines(kept.out);
  const std::vector<std::string> inputRows = splitLines(readFile(framed));
  const std::vector<std::string> corrected = splitLines(run({"apply", cal, kExample}).out);
  ASSERT_EQ(rows.size(), inputRows.size());
  EXPECT_EQ(rows[0], "time,x_G,y_G,z_G,temp");
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const std::string& input = inputRows[i];
    const std::string time = input.substr(0, input.find(','));
    const std::string temp = input.substr(input.rfind(','));
    ASSERT_EQ(rows[i], time + "," + corrected[i] + temp) << i;
  }
}

// A file name holding a line feed with a forged calibration line, a right-to-left override, a
// C1 control, "/*", "*/" and a trigraph: shown escaped in the text, out of the report's block to
// copy, the same name in the JSON with the reordering character as a \u escape, and a C header
// that compiles under every warning. Catches "offset = [9, 9, 9]" in the copied block and a
// header that -Werror rejects.
TEST_F(NothingLost, UntrustedNamesCannotForgeOrBreakAnOutput) {
  const std::string folder = (dir_ / "a*" / "*b??").string();
  fs::create_directories(folder);
  const std::string name = folder +
                           "/\xE2\x80\xAEvsc y\noffset = [9, 9, 9]\n\xC2\x9B"
                           "1m.csv";
  std::ofstream(name, std::ios::binary) << readFile(kExample);
  const std::string report = (dir_ / "report.html").string();
  const RunResult text = run({"calibrate", name, "--report", report});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("\\x0Aoffset"), std::string::npos) << text.out;
  EXPECT_EQ(text.out.find("\noffset"), std::string::npos) << text.out;
  EXPECT_EQ(text.out.find("\xE2\x80\xAE"), std::string::npos);

  const std::string page = readFile(report);
  const std::size_t block = page.find("<pre id=\"calibration-text\">");
  ASSERT_NE(block, std::string::npos);
  const std::string copied = page.substr(block, page.find("</pre>", block) - block);
  EXPECT_EQ(copied.find("offset = [9"), std::string::npos) << copied;
  EXPECT_EQ(copied.find("vsc"), std::string::npos) << copied;
  EXPECT_EQ(page.find("\xE2\x80\xAE"), std::string::npos);

  const RunResult json = run({"calibrate", name, "--format", "json"});
  EXPECT_EQ(json.out.find("\xE2\x80\xAE"), std::string::npos);
  EXPECT_EQ(nlohmann::json::parse(json.out).at("input").at("source"), name);

  const std::string header = (dir_ / "calibration.h").string();
  ASSERT_EQ(run({"calibrate", name, "--format", "c", "-o", header}).status, 0);
  const std::string source = writeFile("main.c",
                                       "#include \"calibration.h\"\nint main(void) {\n"
                                       "  return fluxtrim_offset[0] > 1.0;\n}\n");
  const RunResult built =
      test_support::runProgram("/usr/bin/cc",
                               {"-std=c99", "-Wall", "-Wextra", "-pedantic", "-Werror", "-I",
                                dir_.string(), "-c", source, "-o", (dir_ / "main.o").string()},
                               dir_);
  EXPECT_EQ(built.status, 0) << built.err;
}

// The smaller promises: --columns counts from 1 in its errors as the option does, and --report -
// is standard output, never a file named "-". Catches "column index 8" for --columns 1,2,9.
TEST_F(NothingLost, ColumnsAndReportToStandardOutput) {
  const RunResult beyond = run({"calibrate", kExample, "--columns", "1,2,9"});
  EXPECT_EQ(beyond.status, 2);
  EXPECT_NE(beyond.err.find("column 9 "), std::string::npos) << beyond.err;
  const RunResult twice = run({"calibrate", kExample, "--columns", "2,2,3"});
  EXPECT_EQ(twice.status, 2);
  EXPECT_NE(twice.err.find("column 2 is given twice"), std::string::npos) << twice.err;

  const std::string text = (dir_ / "text.txt").string();
  const RunResult page = run({"calibrate", kExample, "--report", "-", "-o", text});
  EXPECT_EQ(page.status, 0) << page.err;
  EXPECT_EQ(page.out.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_EQ(readFile(text).rfind("Verdict: PASS", 0), 0u);
}

}  // namespace
