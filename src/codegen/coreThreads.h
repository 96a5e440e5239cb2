// Two-way splitting of the calibration core's passes over the samples.
//
// A pass is split into two parts that touch disjoint data (rows of a column, or whole columns) and
// never share a sum, so the results do not depend on whether the parts run at the same time. With
// two threads allowed the second part runs on a thread of its own; otherwise, or when no thread
// can be started, both parts run one after the other on the calling thread.
#ifndef CORETHREADS_H
#define CORETHREADS_H

#include <system_error>
#include <thread>

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

// Runs part(0) and part(1), the second on its own thread when split is set and two threads are
// allowed; returns when both are done. The parts must not throw and must not write what the other
// one reads.
template <typename Part>
void runTwoParts(bool split, const Part& part) {
  if (split && coreThreadCount() > 1) {
    std::thread second;
    try {
      second = std::thread([&part] { part(1); });
    } catch (const std::system_error&) {
      // No thread to be had: both parts on this one.
    }
    part(0);
    if (second.joinable()) {
      second.join();
    } else {
      part(1);
    }
  } else {
    part(0);
    part(1);
  }
}

// Like runTwoParts, for parts that may hand work to each other while both run: part(which,
// together) is told whether the two run at the same time (together) or one after the other, part(0)
// first. A part may wait for the other only when together is set.
template <typename Part>
void runTwoPartsTogether(bool split, const Part& part) {
  if (split && coreThreadCount() > 1) {
    std::thread second;
    try {
      second = std::thread([&part] { part(1, true); });
    } catch (const std::system_error&) {
      // No thread to be had: the parts run one after the other below.
    }
    if (second.joinable()) {
      part(0, true);
      second.join();
      return;
    }
  }
  part(0, false);
  part(1, false);
}

}  // namespace internal
}  // namespace coder

#endif
