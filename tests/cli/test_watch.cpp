// fluxtrim watch, black-box: a generated tumble written at a real rate into a pseudo-terminal
// that the command reads as its serial port, or into a pipe on its standard input; stopped by its
// rule, by Ctrl-C, by the device or the pipe closing; the port's settings checked afterwards.
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "calibration_test_data.h"
#include "test_support.h"

namespace {

using nlohmann::json;
using test_support::readFile;
using test_support::splitLines;

// A banner, then a tumble in gauss at 0.48 G with hard and soft iron, with status text and a cut
// line among the samples.
std::vector<std::string> tumble(int count) {
  const calibration_test::Truth truth = {
      {0.06, -0.04, 0.09}, {1.05, 0.97, 0.98}, calibration_test::rotation(0.3, -0.2, 0.5), 0.48};
  std::vector<std::string> lines{"magnetometer logger 1.0\n", "streaming x,y,z\n"};
  char line[96];
  for (const calibration_test::Vec3& v : calibration_test::generate(
           truth, count, calibration_test::Coverage::kFullSphere, 0.002, 11)) {
    std::snprintf(line, sizeof line, "%.6f,%.6f,%.6f\n", v[0], v[1], v[2]);
    lines.push_back(line);
    if (lines.size() % 150 == 0)
      lines.push_back(lines.size() % 300 == 0 ? "status: ok\n" : "0.1,\n");
  }
  return lines;
}

bool sameSettings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && cfgetispeed(&a) == cfgetispeed(&b);
}

class Watch : public test_support::TempDirTest {
 protected:
  Watch() : TempDirTest("fluxtrim_watch") {}

  void SetUp() override {
    TempDirTest::SetUp();
    signal(SIGPIPE, SIG_IGN);
  }

  // A pseudo-terminal whose slave end is the port, set as a terminal left canonical at 9600
  // baud without echo; the test keeps its own descriptor of the slave to see its settings.
  void openPort() {
    char name[256];
    ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    port_ = name;
    termios t{};
    tcgetattr(slave_, &t);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    tcsetattr(slave_, TCSANOW, &t);
    tcgetattr(slave_, &before_);
    fcntl(master_, F_SETFL, O_NONBLOCK);
  }

  void TearDown() override {
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
    TempDirTest::TearDown();
  }

  // Starts watch with args; its standard input the pipe's read end when inputFd >= 0.
  pid_t start(const std::vector<std::string>& args, int inputFd = -1) {
    std::vector<std::string> all{"watch"};
    all.insert(all.end(), args.begin(), args.end());
    test_support::RunOptions options;
    options.stdinPath = inputFd >= 0 ? "" : "/dev/null";
    options.stdinFd = inputFd;
    return test_support::startProgram(FLUXTRIM_CLI_EXE, all, dir_, options);
  }

  // Waits until watch has set the port raw (its first act), at most five seconds.
  bool portConfigured() {
    for (int k = 0; k < 500; ++k) {
      termios t{};
      tcgetattr(slave_, &t);
      if ((t.c_lflag & ICANON) == 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  // Writes the lines to fd at rate_Hz until they run out or the child ends; after `at` lines,
  // calls then() once. Returns the lines written.
  std::size_t feed(int fd, pid_t child, const std::vector<std::string>& lines, double rate_Hz,
                   std::size_t at = 0, const std::function<void()>& then = {}) {
    const auto begin = std::chrono::steady_clock::now();
    std::size_t k = 0;
    for (; k < lines.size(); ++k) {
      if (then && k == at) then();
      int status = 0;
      if (waitpid(child, &status, WNOHANG) == child) {
        ended_ = status;
        return k;
      }
      if (write(fd, lines[k].data(), lines[k].size()) < 0 && errno != EAGAIN) return k;
      std::this_thread::sleep_until(
          begin + std::chrono::microseconds(static_cast<long>(1e6 * (k + 1) / rate_Hz)));
    }
    return k;
  }

  // The child's end: exit status, or 128 + the signal that ended it.
  int finish(pid_t child) {
    if (ended_ < 0) waitpid(child, &ended_, 0);
    return WIFEXITED(ended_) ? WEXITSTATUS(ended_) : 128 + WTERMSIG(ended_);
  }

  // The command's calibration and the recording's own, with their inputs aside, are the same;
  // returns the number of samples.
  std::size_t expectLikeItsRecording() {
    const json watched = json::parse(readFile(dir_ / "cal.json"));
    const test_support::RunResult again = test_support::runProgram(
        FLUXTRIM_CLI_EXE, {"calibrate", (dir_ / "rec.csv").string(), "--format", "json"}, dir_);
    json recorded = json::parse(again.out);
    EXPECT_EQ(recorded["input"]["sample_count"], watched["input"]["sample_count"]);
    json a = watched;
    a.erase("input");
    recorded.erase("input");
    EXPECT_EQ(a, recorded);
    return watched["input"]["sample_count"].get<std::size_t>();
  }

  std::string err() const { return readFile(dir_ / "stderr"); }

  std::vector<std::string> outputs() const {
    return {"--save", (dir_ / "rec.csv").string(), "--format", "json",
            "-o",     (dir_ / "cal.json").string()};
  }

  int master_ = -1;
  int slave_ = -1;
  std::string port_;
  termios before_{};
  int ended_ = -1;
};

// Through the port: the tumble at 400 samples a second stops by itself once the verdict has held,
// long before the data run out; banner, status and cut lines do not keep it from passing, and the
// end of a line the port was opened in the middle of is no sample; the calibration is the
// recording's, and the port's settings are back. Catches a stop that never comes, garbage lines
// fitted or failing the verdict, a recording that does not give the same calibration, and a port
// left raw.
TEST_F(Watch, StopsByItselfOnAPortAndRestoresIt) {
  openPort();
  std::vector<std::string> args{port_, "--baud", "57600"};
  for (const std::string& o : outputs()) args.push_back(o);
  const pid_t child = start(args);
  ASSERT_TRUE(portConfigured()) << err();
  std::vector<std::string> lines = tumble(4000);
  lines.insert(lines.begin(), "6,-0.25,0.125\n");
  const std::size_t written = feed(master_, child, lines, 400.0);
  EXPECT_EQ(finish(child), 0) << err();
  EXPECT_LT(written, lines.size() / 2);
  EXPECT_NE(err().find("stopped after"), std::string::npos) << err();
  EXPECT_GT(expectLikeItsRecording(), 300u);
  const json watched = json::parse(readFile(dir_ / "cal.json"));
  EXPECT_EQ(watched["verdict"], "pass");
  EXPECT_GE(watched["input"]["skipped_line_count"].get<int>(), 2);
  EXPECT_EQ(readFile(dir_ / "rec.csv").find(",6,-0.25,0.125\n"), std::string::npos);
  termios after{};
  tcgetattr(slave_, &after);
  EXPECT_TRUE(sameSettings(after, before_));
}

// Ctrl-C once keeps what was read: the recording and the calibration are written and the port
// restored. Twice quits at once: no calibration written, no temporary file. A signal that ends
// the program while it reads leaves the port restored all the same. The device going away is said
// and what came before it calibrated. Catches samples lost on Ctrl-C, a second Ctrl-C that
// writes, a port left raw by a signal, and a vanished device taken for the end of a file without
// a word.
TEST_F(Watch, CtrlCAndAVanishedDevice) {
  openPort();
  std::vector<std::string> args{port_, "--until", "never"};
  for (const std::string& o : outputs()) args.push_back(o);
  pid_t child = start(args);
  ASSERT_TRUE(portConfigured());
  const std::vector<std::string> lines = tumble(2000);
  feed(master_, child, lines, 400.0, 500, [child] { kill(child, SIGINT); });
  EXPECT_LE(finish(child), 1) << err();
  EXPECT_NE(err().find("interrupted after"), std::string::npos) << err();
  const std::size_t samples = expectLikeItsRecording();
  EXPECT_GT(samples, 300u);
  EXPECT_LT(samples, 520u);
  termios after{};
  tcgetattr(slave_, &after);
  EXPECT_TRUE(sameSettings(after, before_));

  std::filesystem::remove(dir_ / "rec.csv");
  std::filesystem::remove(dir_ / "cal.json");
  // The second Ctrl-C once the first has stopped the reading, while the calibration and its
  // report are made.
  ended_ = -1;
  std::vector<std::string> withReport = args;
  withReport.insert(withReport.end(), {"--report", (dir_ / "report.html").string()});
  child = start(withReport);
  ASSERT_TRUE(portConfigured());
  feed(master_, child, lines, 400.0, 400, [this, child] {
    kill(child, SIGINT);
    for (int k = 0; k < 2000 && err().find("interrupted after") == std::string::npos; ++k) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    kill(child, SIGINT);
  });
  EXPECT_EQ(finish(child), 128 + SIGINT) << err();
  EXPECT_FALSE(std::filesystem::exists(dir_ / "cal.json"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "report.html"));
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
    EXPECT_NE(entry.path().filename().string().rfind(".fluxtrim-", 0), 0u) << entry.path();
  }
  tcgetattr(slave_, &after);
  EXPECT_TRUE(sameSettings(after, before_));

  // A signal that ends the program while the port is open.
  ended_ = -1;
  child = start(args);
  ASSERT_TRUE(portConfigured());
  feed(master_, child, lines, 400.0, 200, [child] { kill(child, SIGTERM); });
  EXPECT_EQ(finish(child), 128 + SIGTERM);
  tcgetattr(slave_, &after);
  EXPECT_TRUE(sameSettings(after, before_));

  ended_ = -1;
  child = start(args);
  ASSERT_TRUE(portConfigured());
  feed(master_, child, lines, 400.0, 400, [this] {
    close(master_);
    master_ = -1;
    close(slave_);
    slave_ = -1;
  });
  EXPECT_LE(finish(child), 1) << err();
  EXPECT_NE(err().find("closed after"), std::string::npos) << err();
  EXPECT_NE(err().find("(unplugged?)"), std::string::npos) << err();
  EXPECT_GT(expectLikeItsRecording(), 300u);
}

// Through standard input: a pipe stops by the rule as the port does, and a pipe closed early is
// said to have ended and its samples calibrated. Catches standard input read only to its end,
// and the end of a pipe reported as a failure.
TEST_F(Watch, StandardInputFromAPipe) {
  const std::vector<std::string> lines = tumble(3000);
  for (const bool early : {false, true}) {
    SCOPED_TRACE(early);
    int pipeFds[2];
    ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
    std::vector<std::string> args{"-"};
    for (const std::string& o : outputs()) args.push_back(o);
    ended_ = -1;
    const pid_t child = start(args, pipeFds[0]);
    close(pipeFds[0]);
    const std::vector<std::string> sent(lines.begin(), lines.begin() + (early ? 500 : 3000));
    const std::size_t written = feed(pipeFds[1], child, sent, 400.0);
    close(pipeFds[1]);
    EXPECT_LE(finish(child), 1) << err();
    EXPECT_NE(err().find(early ? "standard input ended after" : "stopped after"), std::string::npos)
        << err();
    if (!early) {
      EXPECT_LT(written, sent.size() / 2);
    }
    EXPECT_GT(expectLikeItsRecording(), 300u);
  }
}

// A port that cannot be used gives one line naming the likely cause and status 2, and options
// out of their domain are refused before anything is opened. Catches a busy or missing device
// reported as a bare errno, a plain file read as a port, and a bad rate or rule accepted.
TEST_F(Watch, PortsThatCannotBeUsed) {
  openPort();
  ASSERT_EQ(flock(slave_, LOCK_EX | LOCK_NB), 0);
  const std::string file = writeFile("rec.csv", "1,2,3\n");
  const struct {
    std::vector<std::string> args;
    const char* words;
  } cases[] = {
      {{"/dev/ttyNOSUCH9"}, "is the board plugged in?"},
      {{file}, "not a serial port"},
      {{port_}, "another program holds it"},
      {{port_, "--baud", "12345"}, "--baud '12345'"},
      {{"-", "--until", "passed"}, "stop rule 'passed'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.words);
    ended_ = -1;
    EXPECT_EQ(finish(start(c.args)), 2);
    const std::vector<std::string> errLines = splitLines(err());
    ASSERT_FALSE(errLines.empty());
    EXPECT_NE(errLines[0].find(c.words), std::string::npos) << err();
  }
  termios after{};
  tcgetattr(slave_, &after);
  EXPECT_TRUE(sameSettings(after, before_));
}

// On a terminal the screen is redrawn in place within 80 columns, with a map of 16 rows, the
// cursor hidden while it runs and shown again at the end. Catches a screen that scrolls (a line
// beyond the width, more rows than it moves up), a cleared screen that flickers, and a cursor
// left hidden.
TEST_F(Watch, ScreenOnATerminal) {
  int screen = -1;
  int terminal = -1;
  winsize size{};
  size.ws_row = 30;
  size.ws_col = 100;
  ASSERT_EQ(openpty(&screen, &terminal, nullptr, nullptr, &size), 0);
  fcntl(screen, F_SETFD, FD_CLOEXEC);
  int pipeFds[2];
  ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(pipeFds[1]);
    dup2(pipeFds[0], STDIN_FILENO);
    dup2(terminal, STDERR_FILENO);
    const int out = open("/dev/null", O_WRONLY);
    dup2(out, STDOUT_FILENO);
    setenv("NO_COLOR", "1", 1);
    execl(FLUXTRIM_CLI_EXE, FLUXTRIM_CLI_EXE, "watch", "-", "--until", "never", nullptr);
    _exit(127);
  }
  close(pipeFds[0]);
  close(terminal);
  std::string shown;
  std::thread drain([&shown, screen] {
    char buffer[65536];
    for (ssize_t got; (got = read(screen, buffer, sizeof buffer)) > 0;) {
      shown.append(buffer, static_cast<std::size_t>(got));
    }
  });
  feed(pipeFds[1], child, tumble(600), 400.0);
  close(pipeFds[1]);
  finish(child);
  drain.join();
  close(screen);
  ASSERT_EQ(shown.rfind("\x1b[?25l", 0), 0u) << shown.substr(0, 40);
  EXPECT_NE(shown.find("\x1b[?25h"), std::string::npos);
  EXPECT_EQ(shown.find("\x1b[2J"), std::string::npos);
  EXPECT_NE(shown.find("\x1b[22A"), std::string::npos);
  std::size_t mapRows = 0;
  for (const std::string& line : splitLines(shown)) {
    // The display columns of the line, escape sequences and carriage returns aside.
    std::size_t columns = 0;
    for (std::size_t k = 0; k < line.size(); ++k) {
      if (line[k] == '\x1b') {
        k = line.find_first_of("ABCDHJKhlm", k);
        continue;
      }
      columns += line[k] != '\r' && (static_cast<unsigned char>(line[k]) & 0xC0) != 0x80 ? 1 : 0;
    }
    EXPECT_LE(columns, 80u) << line;
    const std::string text = line;
    mapRows += text.find("█") != std::string::npos || text.find("░") != std::string::npos;
  }
  EXPECT_GT(mapRows, 0u);
  EXPECT_EQ(mapRows % 16, 0u);
}

}  // namespace
