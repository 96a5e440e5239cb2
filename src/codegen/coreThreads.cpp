// Two-way splitting of the calibration core's passes over the samples.
#include "coreThreads.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace coder {
namespace internal {

namespace {

// A pass over fewer rows than this runs on one thread: a thread costs some tens of microseconds
// to start and join, about what a pass over 30,000 rows of a few columns takes.
constexpr int kDefaultSplitThreshold = 32768;

std::atomic<int> gThreadOverride{0};
std::atomic<int> gThresholdOverride{0};

// Two when the machine reports at least two hardware threads, unless the environment variable
// FLUXTRIM_THREADS says 1 or 2 (any other value is ignored); read once, at the first pass.
int machineThreadCount() {
  static const int count = [] {
    const char* chosen = std::getenv("FLUXTRIM_THREADS");
    if (chosen != nullptr && (std::strcmp(chosen, "1") == 0 || std::strcmp(chosen, "2") == 0)) {
      return chosen[0] - '0';
    }
    return std::thread::hardware_concurrency() >= 2 ? 2 : 1;
  }();
  return count;
}

}  // namespace

int coreThreadCount() {
  const int forced = gThreadOverride.load(std::memory_order_relaxed);
  return forced > 0 ? forced : machineThreadCount();
}

int coreSplitThreshold() {
  const int forced = gThresholdOverride.load(std::memory_order_relaxed);
  return forced > 0 ? forced : kDefaultSplitThreshold;
}

void setCoreThreads(int threads, int minRows) {
  gThreadOverride.store(threads > 0 ? (threads > 2 ? 2 : threads) : 0, std::memory_order_relaxed);
  gThresholdOverride.store(minRows > 0 ? minRows : 0, std::memory_order_relaxed);
}

}  // namespace internal
}  // namespace coder
