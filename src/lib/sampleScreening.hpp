// What the raw samples show before any fit: values clipped at a sensor's limit, and whether the
// device was turned at all.
#ifndef FLUXTRIM_LIB_SAMPLE_SCREENING_HPP
#define FLUXTRIM_LIB_SAMPLE_SCREENING_HPP

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <vector>

#include "fluxtrim/types.hpp"

namespace fluxtrim {
namespace detail {

// Below this spread (Motion::spread) the device was not turned: the raw samples lie within
// about 3 degrees of one direction seen from the origin. A sensor's noise is well below 1 % of
// the field (under 0.02 as a spread, all three axes together), a device held in the hand without
// being turned spreads by a few per cent, and a recording that is turned by tens of per cent: 0.3
// even with an offset three times the field.
constexpr double kNotTurnedSpread = 0.05;

// One end of one axis whose extreme value repeats far more often than the values next to it:
// the sensor's limit, or the code a sensor writes when its range is exceeded (-4096 for some).
struct ClippedExtreme {
  int axis = 0;          // 0 X, 1 Y, 2 Z
  bool maximum = false;  // the column's largest value; else its smallest
  double value = 0.0;    // samples' unit
  std::size_t count = 0;
};

// The kTrackedValues smallest distinct values added so far, ascending, each with its count.
constexpr std::size_t kTrackedValues = 8;
class SmallestValues {
 public:
  void add(double value) {
    if (size_ == kTrackedValues && value > values_[size_ - 1]) {
      return;  // the usual case, once the smallest are known
    }
    insert(value);
  }
  // Whether the smallest value is a clipped limit (see ClippingSearch).
  bool clipped() const;
  double smallest() const { return values_[0]; }
  std::size_t count() const { return counts_[0]; }

 private:
  void insert(double value);

  std::array<double, kTrackedValues> values_{};
  std::array<std::size_t, kTrackedValues> counts_{};
  std::size_t size_ = 0;
};

// The clipped extremes of the samples added, by axis, the minimum before the maximum. An extreme
// is clipped when the column takes at least 8 distinct values (a still or constant column has no
// limit to judge), the extreme occurs at least 5 times, and at least 4 times as often as each of
// the 3 distinct values next to it: samples pile up at a limit, while the tail of a distribution
// thins towards its end, on integer counts as on decimals. Components must be finite.
class ClippingSearch {
 public:
  void add(const Vec3& v) {
    for (int axis = 0; axis < 3; ++axis) {
      // The largest values are followed as the smallest of the negated ones.
      low_[axis].add(v[axis]);
      high_[axis].add(-v[axis]);
    }
  }
  std::vector<ClippedExtreme> extremes() const;

 private:
  SmallestValues low_[3];
  SmallestValues high_[3];
};

// Whether a component of v lies at one of the extremes.
bool isClipped(const Vec3& v, const std::vector<ClippedExtreme>& extremes);

// Motion::spread of samples: the root mean square distance from their mean over their root mean
// square magnitude, 0 to 1. Fed in three passes over the same samples in the same order (the
// largest component, the mean, the deviations), components divided by the largest magnitude
// among them so that no square overflows and deviations taken from the first sample so that a
// constant recording spreads by 0. NaN without samples or when every sample is zero.
class SpreadSums {
 public:
  void addToLargest(const Vec3& v) {
    if (count_ == 0) {
      first_ = v;
    }
    ++count_;
    for (int k = 0; k < 3; ++k) {
      largest_ = std::max(largest_, std::fabs(v[k]));
    }
  }
  void addToMean(const Vec3& v) {
    for (int k = 0; k < 3; ++k) {
      mean_[k] += v[k] / largest_ - first_[k] / largest_;
    }
  }
  // Called once, between the passes of addToMean and addToDeviations.
  void endMean();
  void addToDeviations(const Vec3& v) {
    for (int k = 0; k < 3; ++k) {
      const double d = (v[k] / largest_ - first_[k] / largest_) - mean_[k];
      const double scaled = v[k] / largest_;
      deviations_ += d * d;
      squares_ += scaled * scaled;
    }
  }
  double ratio() const;

 private:
  std::size_t count_ = 0;
  double largest_ = 0.0;
  Vec3 first_{{0.0, 0.0, 0.0}};
  Vec3 mean_{{0.0, 0.0, 0.0}};
  double deviations_ = 0.0;
  double squares_ = 0.0;
};

}  // namespace detail
}  // namespace fluxtrim

#endif
