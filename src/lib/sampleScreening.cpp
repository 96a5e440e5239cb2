#include "sampleScreening.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "constants.hpp"

namespace fluxtrim {
namespace detail {

namespace {

// Distinct values a column must take before its extremes are judged; also how many of its
// smallest (largest) distinct values are followed.
constexpr std::size_t kTracked = 8;
// The values next to an extreme it is compared with, and how much more often it must occur.
constexpr std::size_t kNeighbours = 3;
constexpr double kRepeatRatio = 4.0;
// The fewest repeats that make a limit: fewer say nothing about the sensor.
constexpr std::size_t kMinimumRepeats = 5;

// The kTracked smallest distinct values added so far, ascending, each with its count.
class SmallestValues {
 public:
  void add(double value) {
    if (size_ == kTracked && value > values_[size_ - 1]) {
      return;
    }
    std::size_t at = 0;
    while (at < size_ && values_[at] < value) {
      ++at;
    }
    if (at < size_ && values_[at] == value) {
      ++counts_[at];
      return;
    }
    const std::size_t last = std::min(size_, kTracked - 1);
    for (std::size_t k = last; k > at; --k) {
      values_[k] = values_[k - 1];
      counts_[k] = counts_[k - 1];
    }
    values_[at] = value;
    counts_[at] = 1;
    size_ = std::min(size_ + 1, kTracked);
  }

  // Whether the smallest value is a clipped limit (see findClipping).
  bool clipped() const {
    if (size_ < kTracked || counts_[0] < kMinimumRepeats) {
      return false;
    }
    for (std::size_t k = 1; k <= kNeighbours; ++k) {
      if (static_cast<double>(counts_[0]) < kRepeatRatio * static_cast<double>(counts_[k])) {
        return false;
      }
    }
    return true;
  }
  double smallest() const { return values_[0]; }
  std::size_t count() const { return counts_[0]; }

 private:
  std::array<double, kTracked> values_{};
  std::array<std::size_t, kTracked> counts_{};
  std::size_t size_ = 0;
};

}  // namespace

std::vector<ClippedExtreme> findClipping(const std::vector<Vec3>& values,
                                         const std::vector<std::size_t>& rows) {
  std::vector<ClippedExtreme> extremes;
  for (int axis = 0; axis < 3; ++axis) {
    // The largest values are followed as the smallest of the negated ones.
    SmallestValues low;
    SmallestValues high;
    for (std::size_t row : rows) {
      low.add(values[row][axis]);
      high.add(-values[row][axis]);
    }
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

double spreadRatio(const std::vector<Vec3>& values, const std::vector<std::size_t>& rows) {
  // Components are divided by the largest magnitude among them, so that no square overflows,
  // and the deviations taken from the first row, so that a constant recording spreads by 0.
  double largest = 0.0;
  for (std::size_t row : rows) {
    for (int k = 0; k < 3; ++k) {
      largest = std::max(largest, std::fabs(values[row][k]));
    }
  }
  if (!(largest > 0.0)) {
    return kNaN;
  }
  const Vec3& first = values[rows.front()];
  Vec3 mean{{0.0, 0.0, 0.0}};
  for (std::size_t row : rows) {
    for (int k = 0; k < 3; ++k) {
      mean[k] += values[row][k] / largest - first[k] / largest;
    }
  }
  for (double& m : mean) {
    m /= static_cast<double>(rows.size());
  }
  double deviations = 0.0;
  double squares = 0.0;
  for (std::size_t row : rows) {
    for (int k = 0; k < 3; ++k) {
      const double d = (values[row][k] / largest - first[k] / largest) - mean[k];
      const double v = values[row][k] / largest;
      deviations += d * d;
      squares += v * v;
    }
  }
  return std::sqrt(deviations / squares);
}

}  // namespace detail
}  // namespace fluxtrim
