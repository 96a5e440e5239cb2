// Silences standard output and standard error around one call of the code under test, so the
// tool's report and its per-cell complaints do not flood the fuzzer's log. Sanitizer reports are
// sent to a copy of the original standard error made once, so a finding in the middle of a
// silenced call is still printed. The same targets also build without sanitizers (the test suite
// replays the committed seeds through them), where that redirection is left out.
#ifndef FLUXTRIM_FUZZ_QUIET_OUTPUT_HPP
#define FLUXTRIM_FUZZ_QUIET_OUTPUT_HPP

#include <fcntl.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define FLUXTRIM_FUZZ_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FLUXTRIM_FUZZ_ASAN 1
#endif
#endif
#if defined(FLUXTRIM_FUZZ_ASAN)
#include <sanitizer/common_interface_defs.h>
#endif

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace fuzzquiet {

struct Descriptors {
  int devNull = -1;
  int savedOut = -1;
  int savedErr = -1;
};

// Opened once per process; the copies of fds 1 and 2 stay open for its whole life.
inline Descriptors& descriptors() {
  static Descriptors fds = [] {
    Descriptors d;
    d.devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    d.savedOut = fcntl(1, F_DUPFD_CLOEXEC, 3);
    d.savedErr = fcntl(2, F_DUPFD_CLOEXEC, 3);
    if (d.devNull < 0 || d.savedOut < 0 || d.savedErr < 0) {
      std::perror("fuzz: cannot set up output redirection");
      std::abort();
    }
#if defined(FLUXTRIM_FUZZ_ASAN)
    __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<std::intptr_t>(d.savedErr)));
#endif
    return d;
  }();
  return fds;
}

// While alive, fds 1 and 2 point at /dev/null; buffered output is flushed on both edges so
// nothing written inside leaks out afterwards.
class Silence {
 public:
  Silence() {
    Descriptors& d = descriptors();
    flushAll();
    dup2(d.devNull, 1);
    dup2(d.devNull, 2);
  }
  ~Silence() {
    Descriptors& d = descriptors();
    flushAll();
    dup2(d.savedOut, 1);
    dup2(d.savedErr, 2);
  }
  Silence(const Silence&) = delete;
  Silence& operator=(const Silence&) = delete;

 private:
  static void flushAll() {
    std::cout.flush();
    std::cerr.flush();
    std::fflush(stdout);
    std::fflush(stderr);
  }
};

}  // namespace fuzzquiet

#endif
