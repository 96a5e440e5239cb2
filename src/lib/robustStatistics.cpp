#include "robustStatistics.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>

namespace fluxtrim {
namespace detail {

double orderStatistic(std::vector<double>& values, std::size_t rank) {
  if (rank >= values.size()) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(rank),
                   values.end());
  return values[rank];
}

double weightedMedian(const std::vector<WeightedValue>& items) {
  const double infinity = std::numeric_limits<double>::infinity();
  OrderSearch search({0.5}, true, -infinity, infinity);
  while (search.wanted()) {
    for (const WeightedValue& item : items) {
      search.add(item.value, item.weight);
    }
    search.endPass();
  }
  return search.value(0);
}

OrderSearch::OrderSearch(std::vector<double> targets, bool ofTotal, double lowest, double highest)
    : ofTotal_(ofTotal), pending_(targets.size()) {
  for (double target : targets) {
    targets_.push_back({target, std::numeric_limits<double>::quiet_NaN(), 0});
  }
  Range all;
  all.lowest = lowest;
  all.highest = highest;
  all.below = 0.0;
  all.start(false);
  ranges_.push_back(std::move(all));
}

// Buckets split [lowest, highest], taken within the finite doubles, evenly; halves are mapped so
// that no difference overflows. A position that is not a number (a span too small to divide)
// falls into the first bucket: the pass limit settles such a range.
void OrderSearch::Range::start(bool gatherValues) {
  gather = gatherValues;
  const double largest = std::numeric_limits<double>::max();
  const double low = std::max(lowest, -largest) * 0.5;
  const double high = std::min(highest, largest) * 0.5;
  origin = low;
  perBucket = kBuckets / (high - low);
  weight.assign(kBuckets, 0.0);
  count.assign(kBuckets, 0);
  least.assign(kBuckets, std::numeric_limits<double>::infinity());
  most.assign(kBuckets, -std::numeric_limits<double>::infinity());
  values.clear();
}

void OrderSearch::Range::add(double value, double w) {
  // Kept while few (or always, once the range has had its passes), so that a small range is
  // settled in the pass that meets it.
  if (gather || values.size() <= kGathered) {
    values.push_back({value, w});
  }
  const double position = (value * 0.5 - origin) * perBucket;
  const int bucket = !(position >= 1.0)           ? 0
                     : position >= kBuckets - 1.0 ? kBuckets - 1
                                                  : static_cast<int>(position);
  const std::size_t b = static_cast<std::size_t>(bucket);
  weight[b] += w;
  ++count[b];
  least[b] = std::min(least[b], value);
  most[b] = std::max(most[b], value);
}

// The target from the range's values, in ascending order after the weight below them.
void OrderSearch::settle(Target& target, Range& range) {
  std::sort(range.values.begin(), range.values.end(),
            [](const WeightedValue& a, const WeightedValue& b) { return a.value < b.value; });
  double sum = range.below;
  for (const WeightedValue& item : range.values) {
    sum += item.weight;
    target.value = item.value;
    if (sum >= target.target) {
      break;
    }
  }
  target.range = -1;
}

// The bucket of the range where the target is reached becomes the target's next range (shared
// with another target that reaches it there); a bucket of one value settles it.
void OrderSearch::narrow(Target& target, const Range& range, std::vector<Range>& next) {
  double sum = range.below;
  std::size_t chosen = kBuckets;
  std::size_t last = kBuckets;
  for (std::size_t b = 0; b < static_cast<std::size_t>(kBuckets); ++b) {
    if (range.count[b] == 0) {
      continue;
    }
    last = b;
    if (sum + range.weight[b] >= target.target) {
      chosen = b;
      break;
    }
    sum += range.weight[b];
  }
  if (chosen == kBuckets || range.least[chosen] == range.most[chosen]) {
    // Out of reach through rounding: the largest value; or the one value of the bucket.
    target.value = chosen == kBuckets ? range.most[last] : range.least[chosen];
    target.range = -1;
    return;
  }
  for (std::size_t r = 0; r < next.size(); ++r) {
    if (next[r].lowest == range.least[chosen] && next[r].highest == range.most[chosen]) {
      target.range = static_cast<int>(r);
      return;
    }
  }
  Range narrowed;
  narrowed.lowest = range.least[chosen];
  narrowed.highest = range.most[chosen];
  narrowed.below = sum;
  narrowed.start(passes_ + 1 >= kMostPasses);
  target.range = static_cast<int>(next.size());
  next.push_back(std::move(narrowed));
}

void OrderSearch::endPass() {
  if (ofTotal_ && passes_ == 0) {
    for (Target& target : targets_) {
      target.target *= total_;
    }
  }
  std::vector<Range> next;
  pending_ = 0;
  for (Target& target : targets_) {
    if (target.range < 0) {
      continue;
    }
    Range& range = ranges_[static_cast<std::size_t>(target.range)];
    if (range.values.empty()) {
      target.range = -1;  // no value at all
    } else if (range.gather || range.values.size() <= kGathered) {
      settle(target, range);
    } else {
      narrow(target, range, next);
    }
    pending_ += target.range >= 0 ? 1 : 0;
  }
  ranges_ = std::move(next);
  ++passes_;
}

}  // namespace detail
}  // namespace fluxtrim
