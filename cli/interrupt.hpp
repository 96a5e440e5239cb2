// Signals that end the program, and Ctrl-C while standard input is read: the first interrupt
// ends the input, so that what was read is still calibrated; a second one ends the program at
// once. However the program is ended by a signal, the temporary files of unfinished outputs go.
#ifndef FLUXTRIM_CLI_INTERRUPT_HPP
#define FLUXTRIM_CLI_INTERRUPT_HPP

#include <functional>

namespace fluxtrim_cli {

// For SIGINT, SIGTERM and SIGHUP, unless the program was started with them ignored: a handler that
// removes the temporary files of unfinished outputs (removeUnfinishedOutputs) and then ends the
// program by the same signal, as without the handler (a shell reports 128 + the signal's
// number, 130 for Ctrl-C). Interrupted system calls are restarted. Called once, at the start.
void installSignalHandlers();

// For the time it exists, SIGINT is handled without restarting the system call it interrupts, so
// that a read of standard input returns. The first interrupt makes hook() return true; the second
// ends the program as installSignalHandlers' handler does. An interrupt delivered to another
// thread is passed on to the thread that made this object, the one reading. The previous handling
// of SIGINT is restored on destruction. One at a time.
class StandardInputInterrupt {
 public:
  StandardInputInterrupt();
  ~StandardInputInterrupt();
  StandardInputInterrupt(const StandardInputInterrupt&) = delete;
  StandardInputInterrupt& operator=(const StandardInputInterrupt&) = delete;

  // For fluxtrim::ReadOptions::interrupted.
  std::function<bool()> hook() const;
  // Whether an interrupt arrived.
  bool interrupted() const;
};

}  // namespace fluxtrim_cli

#endif
