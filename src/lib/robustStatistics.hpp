// Order statistics that resist outliers: quantiles and the weighted median, in linear expected
// time, over values held in a vector or met in passes over the samples without a copy.
#ifndef FLUXTRIM_LIB_ROBUST_STATISTICS_HPP
#define FLUXTRIM_LIB_ROBUST_STATISTICS_HPP

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fluxtrim {
namespace detail {

// 1 / (the normal distribution's 75th percentile): turns a median absolute deviation into a
// standard deviation for normally distributed values.
constexpr double kMadToSigma = 1.4826;

// The element of the given rank (0 for the smallest) in ascending order; NaN when rank is not
// below the number of values. Reorders values. NaN values are not allowed.
double orderStatistic(std::vector<double>& values, std::size_t rank);

struct WeightedValue {
  double value;
  double weight;  // > 0
};

// The smallest value v for which the weights of the values <= v sum to at least half of all the
// weights; NaN when there are none (an OrderSearch over the items). NaN values or weights are not
// allowed.
double weightedMedian(const std::vector<WeightedValue>& items);

// Order statistics of values that are met in passes, each pass the same values with the same
// weights in the same order, never stored or reordered: for each target the smallest value v at
// which the weights of the values <= v, summed, reach the target. A pass counts the values of the
// range that still holds a target into buckets, and the bucket where the target is reached
// becomes the next range; once a range holds few values they are kept, sorted and summed in
// ascending order. Two or three passes, whatever the number of values, and memory for a few
// thousand of them; the sums are those of the ascending order up to rounding, and a target that
// rounding keeps out of reach gives the largest value.
//
// Usage: while (search.wanted()) { for each value: search.add(value, weight); search.endPass(); }
class OrderSearch {
 public:
  // Targets as weights summed from the smallest value (a rank r is the target r + 1 with weights
  // of 1), or with ofTotal as fractions of the total weight, which the first pass sums in the
  // order the values come. [lowest, highest] must hold every value that is added.
  OrderSearch(std::vector<double> targets, bool ofTotal, double lowest, double highest);

  // Whether another pass is needed.
  bool wanted() const { return pending_ > 0; }
  // One value of the pass, not NaN, and its weight, > 0.
  void add(double value, double weight) {
    if (ofTotal_ && passes_ == 0) {
      total_ += weight;
    }
    for (Range& range : ranges_) {
      if (value >= range.lowest && value <= range.highest) {
        range.add(value, weight);
      }
    }
  }
  void endPass();
  // The value found for target k; NaN when no value was added.
  double value(std::size_t k) const { return targets_[k].value; }

 private:
  static constexpr int kBuckets = 2048;
  static constexpr std::size_t kGathered = 16384;  // values of a range kept rather than bucketed
  static constexpr int kMostPasses = 8;            // after which a range's values are kept

  // A range of values and what the pass found in it: counts and sums by bucket, or the values.
  struct Range {
    double lowest;
    double highest;
    double below;  // weight of the values below lowest
    bool gather;
    double origin;  // bucket of v: (v / 2 - origin) * perBucket, clamped
    double perBucket;
    std::vector<double> weight, least, most;
    std::vector<std::size_t> count;
    std::vector<WeightedValue> values;

    void start(bool gatherValues);
    void add(double value, double w);
  };
  struct Target {
    double target;
    double value;
    int range;  // -1 once found
  };

  void settle(Target& target, Range& range);
  void narrow(Target& target, const Range& range, std::vector<Range>& next);

  std::vector<Target> targets_;
  std::vector<Range> ranges_;
  bool ofTotal_;
  double total_ = 0.0;
  int passes_ = 0;
  std::size_t pending_ = 0;
};

}  // namespace detail
}  // namespace fluxtrim

#endif
