// A serial port opened to read what a board prints: raw, 8 data bits, no parity, one stop bit at
// the speed asked for, set with termios. The port's own settings come back when the object goes,
// and when a signal ends the program while it is open.
#ifndef FLUXTRIM_CLI_SERIAL_PORT_HPP
#define FLUXTRIM_CLI_SERIAL_PORT_HPP

#include <termios.h>

#include <string>

namespace fluxtrim_cli {

// The speed of --baud: one of the standard rates from 1200 to 4000000 bits per second. Throws
// fluxtrim::UsageError listing the common ones for anything else.
speed_t parseBaud(const std::string& text);

class SerialPort {
 public:
  // Opens and configures the device at path, without waiting for a carrier and without making it
  // the program's controlling terminal. Throws fluxtrim::IoError with one line that names the
  // likely cause: no such device (not plugged in), permission denied (the dialout group), busy
  // (another program holds it), not a serial port. One port at a time.
  SerialPort(const std::string& path, speed_t speed);
  ~SerialPort();  // the settings restored, the port closed
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // The open port, read without blocking.
  int fd() const { return fd_; }

 private:
  void release();
  int fd_ = -1;
};

}  // namespace fluxtrim_cli

#endif
