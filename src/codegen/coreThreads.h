// Two-way splitting of the calibration core's passes over the samples.
//
// A pass is split into two parts that touch disjoint data (rows of a column, or whole columns) and
// never share a sum, so the results do not depend on whether the parts run at the same time. With
// two threads allowed the second part runs on a second thread, kept from pass to pass; otherwise,
// when that thread is busy with another caller's pass, or when no thread can be started, both
// parts run one after the other on the calling thread.
#ifndef CORETHREADS_H
#define CORETHREADS_H

#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace coder {
namespace internal {

// Threads the passes may use, 1 or 2: two when the machine reports at least two hardware threads,
// otherwise one (also when it reports none); the environment variable FLUXTRIM_THREADS, 1 or 2,
// overrides the machine's count.
int coreThreadCount();

// Rows below which a pass is not split: starting a thread costs more than half the pass.
int coreSplitThreshold();

// Overrides the thread count (1 or 2) and the split threshold, for tests that run the same input
// on one thread and on two threads split at a few rows. threads <= 0 restores the machine's
// count, minRows <= 0 the default threshold. Not to be called while a calibration runs.
void setCoreThreads(int threads, int minRows);

// Whether a pass over rows rows is worth splitting.
inline bool splitPays(int rows) {
  return coreThreadCount() > 1 && rows >= coreSplitThreshold();
}
inline bool splitPays(std::size_t rows) {
  return coreThreadCount() > 1 && rows >= static_cast<std::size_t>(coreSplitThreshold());
}

// The second thread: one thread, started at the first split pass and kept for the later ones,
// that runs one task at a time for one caller at a time. startOnSecondThread hands it task(context)
// and returns true, or returns false without running anything when another caller has it or no
// thread can be started (then none is tried again). A caller that got true must call
// awaitSecondThread, which blocks until the task has returned. The task must not throw.
bool startOnSecondThread(void (*task)(const void*), const void* context);
void awaitSecondThread();

// Runs part(0) and part(1), the second on the second thread when split is set, two threads are
// allowed and that thread is free; returns when both are done. The parts must not throw and must
// not write what the other one reads.
template <typename Part>
void runTwoParts(bool split, const Part& part) {
  if (split && coreThreadCount() > 1 &&
      startOnSecondThread([](const void* p) { (*static_cast<const Part*>(p))(1); }, &part)) {
    part(0);
    awaitSecondThread();
    return;
  }
  part(0);
  part(1);
}

// Like runTwoParts, for parts that may hand work to each other while both run: part(which,
// together) is told whether the two run at the same time (together) or one after the other, part(0)
// first. A part may wait for the other only when together is set.
template <typename Part>
void runTwoPartsTogether(bool split, const Part& part) {
  if (split && coreThreadCount() > 1 &&
      startOnSecondThread([](const void* p) { (*static_cast<const Part*>(p))(1, true); }, &part)) {
    part(0, true);
    awaitSecondThread();
    return;
  }
  part(0, false);
  part(1, false);
}

// How far one part of a pass has come, for the other part to follow: a count that only grows,
// waited for by blocking, not by spinning, so that a waiting part leaves its core to others.
class PassProgress {
 public:
  explicit PassProgress(int start) : value_(start) {}
  // Raises the count to value and wakes the waiting part.
  void advance(int value);
  // Blocks until the count exceeds seen, and returns it.
  int waitBeyond(int seen);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int value_;
};

}  // namespace internal
}  // namespace coder

#endif
