#include "sampleScreening.hpp"

#include <algorithm>
#include <cmath>

#include "constants.hpp"

namespace fluxtrim {
namespace detail {

namespace {

// A column must take all kTrackedValues distinct values before its extremes are judged. The
// values next to an extreme it is compared with, and how much more often it must occur.
constexpr std::size_t kNeighbours = 3;
constexpr double kRepeatRatio = 4.0;
// The fewest repeats that make a limit: fewer say nothing about the sensor.
constexpr std::size_t kMinimumRepeats = 5;

}  // namespace

void SmallestValues::insert(double value) {
  std::size_t at = 0;
  while (at < size_ && values_[at] < value) {
    ++at;
  }
  if (at < size_ && values_[at] == value) {
    ++counts_[at];
    return;
  }
  const std::size_t last = std::min(size_, kTrackedValues - 1);
  for (std::size_t k = last; k > at; --k) {
    values_[k] = values_[k - 1];
    counts_[k] = counts_[k - 1];
  }
  values_[at] = value;
  counts_[at] = 1;
  size_ = std::min(size_ + 1, kTrackedValues);
}

bool SmallestValues::clipped() const {
  if (size_ < kTrackedValues || counts_[0] < kMinimumRepeats) {
    return false;
  }
  for (std::size_t k = 1; k <= kNeighbours; ++k) {
    if (static_cast<double>(counts_[0]) < kRepeatRatio * static_cast<double>(counts_[k])) {
      return false;
    }
  }
  return true;
}

std::vector<ClippedExtreme> ClippingSearch::extremes() const {
  std::vector<ClippedExtreme> extremes;
  for (int axis = 0; axis < 3; ++axis) {
    const SmallestValues& low = low_[axis];
    const SmallestValues& high = high_[axis];
    if (low.clipped()) {
      extremes.push_back({axis, false, low.smallest(), low.count()});
    }
    if (high.clipped()) {
      extremes.push_back({axis, true, -high.smallest(), high.count()});
    }
  }
  return extremes;
}

bool isClipped(const Vec3& v, const std::vector<ClippedExtreme>& extremes) {
  for (const ClippedExtreme& e : extremes) {
    if (v[e.axis] == e.value) {
      return true;
    }
  }
  return false;
}

void SpreadSums::endMean() {
  for (double& m : mean_) {
    m /= static_cast<double>(count_);
  }
}

double SpreadSums::ratio() const {
  if (!(largest_ > 0.0)) {
    return kNaN;
  }
  return std::sqrt(deviations_ / squares_);
}

}  // namespace detail
}  // namespace fluxtrim
