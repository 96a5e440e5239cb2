// Order statistics that resist outliers: quantiles and the weighted median, in linear expected
// time, over values held in a vector or met in passes over the samples without a copy.
#ifndef FLUXTRIM_LIB_ROBUST_STATISTICS_HPP
#define FLUXTRIM_LIB_ROBUST_STATISTICS_HPP

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
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

// A range [low, high] of values likely to hold a quantile; -infinity or infinity where open.
struct Bracket {
  double low;
  double high;
};

// Brackets for quantiles given as fractions of the total weight, from a sample of the values
// taken evenly from all of them: the sample's quantiles at each fraction less and more a margin
// of four standard errors of a fraction estimated from that many samples (their effective number,
// given the weights). Empty without a sample.
std::vector<Bracket> bracketsFromSample(std::vector<WeightedValue> sample,
                                        const std::vector<double>& fractions);

// Order statistics of values that are met in passes, each pass the same values with the same
// weights in the same order, never stored or reordered: for each target the smallest value v at
// which the weights of the values <= v, summed, reach the target. A pass counts the values of the
// range that still holds a target into buckets, and the bucket where the target is reached
// becomes the next range; once a range holds few values they are kept, sorted and summed in
// ascending order. With a bracket for each target, the first pass sums the weight below it and
// keeps or buckets the values within it, and the ranges outside it are searched only when the
// target is not in it. A few passes, whatever the number of values, and memory for a few thousand
// of them; the sums are those of the ascending order up to rounding, and a target that rounding
// keeps out of reach gives the largest value.
//
// Usage: while (search.wanted()) { for each value: search.add(value, weight); search.endPass(); }
class OrderSearch {
 public:
  // Targets as weights summed from the smallest value (a rank r is the target r + 1 with weights
  // of 1), or with ofTotal as fractions of the total weight, which the first pass sums. [lowest,
  // highest] must hold every value that is added. brackets: none, or one per target.
  OrderSearch(const std::vector<double>& targets, bool ofTotal, double lowest, double highest,
              const std::vector<Bracket>& brackets = {});

  // Whether another pass is needed.
  bool wanted() const { return pending_ > 0; }
  // Values of the pass, not NaN, and their weights, > 0, count of each: a pass may come in
  // pieces of any size.
  void add(const double* values, const double* weights, std::size_t count);
  void endPass();
  // The value found for target k; NaN when no value was added.
  double value(std::size_t k) const { return targets_[k].value; }

 private:
  static constexpr int kBuckets = 2048;
  static constexpr std::size_t kGathered = 262144;  // values of a range kept rather than bucketed
  static constexpr int kMostPasses = 8;             // after which a range's values are kept

  struct Bucket {
    double weight = 0.0;
    double least = std::numeric_limits<double>::infinity();
    double most = -std::numeric_limits<double>::infinity();
    std::size_t count = 0;
  };
  // A range of values and what the pass found in it: counts and sums by bucket, and the values
  // themselves while they are few (complete) or once the range has had its passes (gather).
  struct Range {
    double lowest = 0.0;
    double highest = 0.0;
    double below = 0.0;    // weight of the values below lowest
    double above = 0.0;    // weight of the values above highest, in a bracket
    bool bracket = false;  // a first pass's guess: below is summed in the pass
    bool gather = false;
    bool complete = true;
    double origin = 0.0;  // bucket of v: (v / 2 - origin) * perBucket, clamped
    double perBucket = 0.0;
    std::vector<Bucket> buckets;
    std::vector<WeightedValue> values;

    void start(bool gatherValues);
    void add(const double* v, const double* w, std::size_t count);
    void addWithin(double value, double w) {
      if (complete) {
        values.push_back({value, w});
        complete = gather || values.size() <= kGathered;
      }
      // A position that is not a number (a span too small to divide) falls into the first
      // bucket: the pass limit settles such a range.
      const double position = std::min(std::max(0.0, (value * 0.5 - origin) * perBucket),
                                       static_cast<double>(kBuckets - 1));
      Bucket& bucket = buckets[static_cast<std::size_t>(position)];
      bucket.weight += w;
      ++bucket.count;
      bucket.least = std::min(bucket.least, value);
      bucket.most = std::max(bucket.most, value);
    }
    double within() const;
  };
  struct Target {
    double target;
    double value;
    int range;  // -1 once found
  };

  void settle(Target& target, Range& range);
  void narrow(Target& target, const Range& range, std::vector<Range>& next);
  bool leaveBracket(Target& target, const Range& range, std::vector<Range>& next);
  void addRange(Target& target, Range range, std::vector<Range>& next);

  std::vector<Target> targets_;
  std::vector<Range> ranges_;
  bool ofTotal_;
  double lowest_;
  double highest_;
  int passes_ = 0;
  std::size_t pending_ = 0;
};

}  // namespace detail
}  // namespace fluxtrim

#endif
