// The serial port: opened without blocking, locked against a second reader, set raw with termios,
// and its settings put back on every way out.
#include "serial_port.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "fluxtrim/error.hpp"
#include "fluxtrim/text.hpp"
#include "interrupt.hpp"

namespace fluxtrim_cli {

namespace {

struct Rate {
  unsigned long bits;
  speed_t speed;
};

const Rate kRates[] = {
    {1200, B1200},       {2400, B2400},       {4800, B4800},       {9600, B9600},
    {19200, B19200},     {38400, B38400},     {57600, B57600},     {115200, B115200},
    {230400, B230400},   {460800, B460800},   {500000, B500000},   {576000, B576000},
    {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000},
    {4000000, B4000000},
};

// The port whose settings a signal handler puts back, and those settings.
int openPort = -1;
struct termios savedSettings {};

extern "C" void restoreOpenPort() {
  if (openPort >= 0) tcsetattr(openPort, TCSANOW, &savedSettings);
}

std::string quoted(const std::string& path) {
  return "'" + fluxtrim::printableText(path, 120) + "'";
}

// The reason an open failed, with what usually causes it.
std::string openFailure(const std::string& path, int error) {
  const std::string name = quoted(path);
  switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
      return "cannot open " + name + ": no such device; is the board plugged in? (ls " +
             "/dev/ttyACM* /dev/ttyUSB*)";
    case EACCES:
    case EPERM:
      return "cannot open " + name + ": permission denied; add yourself to the dialout group " +
             "(sudo usermod -aG dialout $USER) and log in again";
    case EBUSY:
      return "cannot open " + name + ": the port is busy; another program holds it (a serial " +
             "monitor, a modem manager): close it and try again";
    default:
      break;
  }
  return "cannot open " + name + ": " + std::strerror(error);
}

}  // namespace

speed_t parseBaud(const std::string& text) {
  for (const Rate& rate : kRates) {
    if (text == std::to_string(rate.bits)) return rate.speed;
  }
  throw fluxtrim::UsageError("--baud '" + fluxtrim::printableText(text, 40) +
                             "': expected a standard rate such as 9600, 57600, 115200 (default), "
                             "230400, 460800, 921600 or 1000000");
}

SerialPort::SerialPort(const std::string& path, speed_t speed) {
  do {
    fd_ = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) throw fluxtrim::IoError(openFailure(path, errno));
  struct termios settings {};
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    ::close(fd_);
    throw fluxtrim::IoError(openFailure(path, EBUSY));
  }
  if (::tcgetattr(fd_, &settings) != 0) {
    const int error = errno;
    ::close(fd_);
    throw fluxtrim::IoError(
        "cannot configure " + quoted(path) + ": " +
        (error == ENOTTY ? std::string("it is not a serial port; watch reads a serial device, or "
                                       "- for standard input")
                         : std::string(std::strerror(error))));
  }
  savedSettings = settings;
  openPort = fd_;
  addSignalExitHook(restoreOpenPort);
  ::cfmakeraw(&settings);
  settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
  settings.c_cflag |= CS8 | CLOCAL | CREAD;
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  if (::cfsetispeed(&settings, speed) != 0 || ::cfsetospeed(&settings, speed) != 0 ||
      ::tcsetattr(fd_, TCSANOW, &settings) != 0) {
    const int error = errno;
    release();
    throw fluxtrim::IoError("cannot configure " + quoted(path) + ": " + std::strerror(error));
  }
}

SerialPort::~SerialPort() {
  release();
}

void SerialPort::release() {
  if (fd_ < 0) return;
  ::tcsetattr(fd_, TCSANOW, &savedSettings);
  removeSignalExitHook(restoreOpenPort);
  openPort = -1;
  ::close(fd_);
  fd_ = -1;
}

}  // namespace fluxtrim_cli
