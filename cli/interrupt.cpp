// The handler of the signals that end the program, and its mode for reading standard input.
#include "interrupt.hpp"

#include <pthread.h>
#include <signal.h>

#include <atomic>

#include "output.hpp"

namespace fluxtrim_cli {

namespace {

std::atomic<bool> readingStandardInput{false};
std::atomic<bool> interruptedFlag{false};
pthread_t reader;
struct sigaction previousInterrupt {};
constexpr int kMostHooks = 4;
std::atomic<SignalExitHook> hooks[kMostHooks];

extern "C" void onSignal(int signal) {
  if (signal == SIGINT && readingStandardInput.load()) {
    if (pthread_equal(pthread_self(), reader) == 0) {
      pthread_kill(reader, signal);
      return;
    }
    if (!interruptedFlag.exchange(true)) return;  // the first: the read returns, the input ends
  }
  removeUnfinishedOutputs();
  for (const std::atomic<SignalExitHook>& hook : hooks) {
    const SignalExitHook call = hook.load();
    if (call != nullptr) call();
  }
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
  raise(signal);  // delivered when this handler returns, and ends the program
}

// Handles signal with onSignal unless it is ignored; restart says whether the system calls it
// interrupts are restarted.
void handle(int signal, bool restart) {
  struct sigaction current {};
  sigaction(signal, nullptr, &current);
  if (current.sa_handler == SIG_IGN) return;  // as for a command started in the background
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = restart ? SA_RESTART : 0;
  sigaction(signal, &action, nullptr);
}

}  // namespace

void installSignalHandlers() {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) handle(signal, true);
}

void addSignalExitHook(SignalExitHook hook) {
  for (std::atomic<SignalExitHook>& slot : hooks) {
    if (slot.load() == hook) return;
  }
  for (std::atomic<SignalExitHook>& slot : hooks) {
    SignalExitHook empty = nullptr;
    if (slot.compare_exchange_strong(empty, hook)) return;
  }
}

void removeSignalExitHook(SignalExitHook hook) {
  for (std::atomic<SignalExitHook>& slot : hooks) {
    SignalExitHook present = hook;
    slot.compare_exchange_strong(present, nullptr);
  }
}

StandardInputInterrupt::StandardInputInterrupt() {
  interruptedFlag.store(false);
  reader = pthread_self();
  sigaction(SIGINT, nullptr, &previousInterrupt);
  readingStandardInput.store(true);
  handle(SIGINT, false);
}

StandardInputInterrupt::~StandardInputInterrupt() {
  readingStandardInput.store(false);
  sigaction(SIGINT, &previousInterrupt, nullptr);
}

std::function<bool()> StandardInputInterrupt::hook() const {
  return [] { return interruptedFlag.load(); };
}

bool StandardInputInterrupt::interrupted() const {
  return interruptedFlag.load();
}

}  // namespace fluxtrim_cli
