// Two-way splitting of the calibration core's passes over the samples.
#include "coreThreads.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

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

// The second thread and what it is given. Destroyed at exit, when no pass runs: it stops the
// thread and joins it.
class SecondThread {
 public:
  ~SecondThread() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
      thread_.join();
    }
  }

  bool start(void (*task)(const void*), const void* context) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (claimed_ || unavailable_) {
      return false;
    }
    if (!thread_.joinable()) {
      try {
        thread_ = std::thread([this] { serve(); });
      } catch (const std::system_error&) {
        unavailable_ = true;  // no thread to be had, now or later
        return false;
      }
    }
    claimed_ = true;
    task_ = task;
    context_ = context;
    wake_.notify_all();
    return true;
  }

  void await() {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, [this] { return task_ == nullptr; });
    claimed_ = false;
  }

 private:
  void serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return task_ != nullptr || stopping_; });
      if (task_ == nullptr) {
        return;
      }
      lock.unlock();
      task_(context_);
      lock.lock();
      task_ = nullptr;
      wake_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;  // a task given, a task done, or stopping
  std::thread thread_;
  void (*task_)(const void*) = nullptr;
  const void* context_ = nullptr;
  bool claimed_ = false;  // a caller has handed a task and not yet awaited it
  bool unavailable_ = false;
  bool stopping_ = false;
};

SecondThread& secondThread() {
  static SecondThread thread;
  return thread;
}

}  // namespace

bool startOnSecondThread(void (*task)(const void*), const void* context) {
  return secondThread().start(task, context);
}

void awaitSecondThread() {
  secondThread().await();
}

void PassProgress::advance(int value) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    value_ = value;
  }
  changed_.notify_one();
}

int PassProgress::waitBeyond(int seen) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this, seen] { return value_ > seen; });
  return value_;
}

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
