// Helpers shared by the tests that work on files and on the built programs: a fixture with a
// private temporary directory, reading a file back, splitting text into lines, and running a
// program (fluxtrim.out, fluxtrim, a script) in a child process with its two output streams sent
// to files.
#ifndef FLUXTRIM_TESTS_TEST_SUPPORT_H
#define FLUXTRIM_TESTS_TEST_SUPPORT_H

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace test_support {

namespace fs = std::filesystem;

// The whole content of the file at path, byte for byte; empty when it cannot be read.
inline std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The lines of text without their newline characters; a final newline ends the last line and
// does not start an empty one.
inline std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

// A fixture that gives each test a fresh directory dir_ below the test temporary directory, named
// after prefix, and removes it with everything in it when the test ends.
class TempDirTest : public ::testing::Test {
 protected:
  explicit TempDirTest(std::string prefix) : prefix_(std::move(prefix)) {}

  void SetUp() override {
    std::string pattern = (fs::path(::testing::TempDir()) / (prefix_ + "_XXXXXX")).string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // Writes content, byte for byte, to the file name in dir_ and returns its path.
  std::string writeFile(const std::string& name, const std::string& content) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
  }

  fs::path dir_;

 private:
  std::string prefix_;
};

// How a child process ended, and what it wrote.
struct RunResult {
  bool exited = false;    // false after a signal (a crash, an abort) or a kill at the time limit
  bool timedOut = false;  // killed at the time limit
  int status = -1;        // exit status, low eight bits, when exited
  std::string out;
  std::string err;
};

// How to run a child process beyond its arguments.
struct RunOptions {
  std::string stdoutPath;              // standard output goes here, not read back (e.g. /dev/full)
  std::string stdinPath;               // standard input comes from here; empty: inherited
  std::chrono::milliseconds limit{0};  // killed when running longer; 0: awaited however long
  int stdinFd = -1;                    // standard input is this descriptor (a pipe), if not -1
};

// Starts the executable at program with args (program name excluded) in a child process whose
// standard output and standard error go to the files stdout and stderr in dir, and returns its
// process id, -1 when it could not be started.
inline pid_t startProgram(const std::string& program, const std::vector<std::string>& args,
                          const fs::path& dir, const RunOptions& options = {}) {
  const std::string& stdoutPath = options.stdoutPath;
  const std::string outPath = stdoutPath.empty() ? (dir / "stdout").string() : stdoutPath;
  const std::string errPath = (dir / "stderr").string();
  std::vector<std::string> argvText{program};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argvText) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || dup2(out, STDOUT_FILENO) < 0 || dup2(err, STDERR_FILENO) < 0) {
      _exit(127);
    }
    if (!options.stdinPath.empty()) {
      const int in = open(options.stdinPath.c_str(), O_RDONLY);
      if (in < 0 || dup2(in, STDIN_FILENO) < 0) _exit(127);
    }
    if (options.stdinFd >= 0 && dup2(options.stdinFd, STDIN_FILENO) < 0) _exit(127);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// Runs the executable at program as startProgram does, awaits it and reads its two outputs
// back. A child that cannot be started or awaited is a test failure.
inline RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                            const fs::path& dir, const RunOptions& options = {}) {
  const std::chrono::milliseconds limit = options.limit;
  const pid_t pid = startProgram(program, args, dir, options);
  RunResult result;
  if (pid < 0) {
    ADD_FAILURE() << "could not start " << program;
    return result;
  }
  int waitStatus = 0;
  if (limit.count() > 0) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (waitpid(pid, &waitStatus, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        result.timedOut = true;
        kill(pid, SIGKILL);
        waitpid(pid, &waitStatus, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  } else if (waitpid(pid, &waitStatus, 0) != pid) {
    ADD_FAILURE() << "could not run " << program;
    return result;
  }
  result.exited = WIFEXITED(waitStatus);
  result.status = result.exited ? WEXITSTATUS(waitStatus) : -1;
  if (options.stdoutPath.empty()) {
    result.out = readFile(dir / "stdout");
  }
  result.err = readFile(dir / "stderr");
  return result;
}

// Builds the C99 program source with the system's cc into program, headers searched in dir,
// every warning of -Wall -Wextra -Wconversion -Wdouble-promotion -pedantic an error and no
// contraction into fused multiply-add; the compiler's status and messages.
inline RunResult buildC(const fs::path& source, const fs::path& dir, const fs::path& program) {
  return runProgram(
      "/usr/bin/cc",
      {"-std=c99", "-Wall", "-Wextra", "-Wconversion", "-Wdouble-promotion", "-pedantic", "-Werror",
       "-ffp-contract=off", "-I", dir.string(), source.string(), "-o", program.string()},
      dir);
}

// Runs fluxtrim.out as runProgram does; stdoutPath and limit as in RunOptions.
inline RunResult runTool(const std::vector<std::string>& args, const fs::path& dir,
                         const std::string& stdoutPath = "",
                         std::chrono::milliseconds limit = std::chrono::milliseconds(0)) {
  RunOptions options;
  options.stdoutPath = stdoutPath;
  options.limit = limit;
  return runProgram(FLUXTRIM_EXE, args, dir, options);
}

}  // namespace test_support

#endif
