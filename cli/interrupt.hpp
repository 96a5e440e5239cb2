// Signals that end the program, and Ctrl-C while an input is read (standard input, a serial
// port): the first interrupt ends the input, so that what was read is still calibrated; a second
// one ends the program at once. However the program is ended by a signal, the temporary files of
// unfinished outputs go, and what the program changed in a terminal is put back.
#ifndef FLUXTRIM_CLI_INTERRUPT_HPP
#define FLUXTRIM_CLI_INTERRUPT_HPP

#include <functional>

namespace fluxtrim_cli {

// For SIGINT, SIGTERM and SIGHUP, unless the program was started with them ignored: a handler that
// removes the temporary files of unfinished outputs (removeUnfinishedOutputs) and then ends the
// program by the same signal, as without the handler (a shell reports 128 + the signal's
// number, 130 for Ctrl-C). Interrupted system calls are restarted. Called once, at the start.
void installSignalHandlers();

// A function the handler of installSignalHandlers calls before the program ends by a signal: it
// puts back what the program changed outside itself (a serial port's settings, a hidden cursor),
// with async-signal-safe calls only. At most four at a time; a hook added twice is called once.
using SignalExitHook = void (*)();
void addSignalExitHook(SignalExitHook hook);
void removeSignalExitHook(SignalExitHook hook);

// For the time it exists, SIGINT is handled without restarting the system call it interrupts, so
// that a read of standard input or a wait for a serial port returns. The first interrupt makes
// hook() return true; the second ends the program as installSignalHandlers' handler does. An
// interrupt delivered to another thread is passed on to the thread that made this object, the one
// reading. The previous handling of SIGINT is restored on destruction. One at a time.
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
