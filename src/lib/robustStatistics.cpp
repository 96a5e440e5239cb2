#include "robustStatistics.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
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
      search.add(&item.value, &item.weight, 1);
    }
    search.endPass();
  }
  return search.value(0);
}

namespace {

// w where take holds, else +0: a selection without a branch, whose sum with another weight is
// exactly that weight or the sum.
inline double weightWhere(bool take, double w) {
  std::uint64_t bits;
  std::memcpy(&bits, &w, sizeof bits);
  bits &= 0 - static_cast<std::uint64_t>(take);
  std::memcpy(&w, &bits, sizeof bits);
  return w;
}

}  // namespace

std::vector<Bracket> bracketsFromSample(std::vector<WeightedValue> sample,
                                        const std::vector<double>& fractions) {
  constexpr double kStandardErrors = 4.0;
  std::vector<Bracket> brackets;
  if (sample.empty()) {
    return brackets;
  }
  std::sort(sample.begin(), sample.end(),
            [](const WeightedValue& a, const WeightedValue& b) { return a.value < b.value; });
  double total = 0.0;
  double squares = 0.0;
  for (const WeightedValue& item : sample) {
    total += item.weight;
    squares += item.weight * item.weight;
  }
  const double effective = total * total / squares;
  // The smallest sample value at which the cumulative weight reaches fraction f of the total.
  const auto quantile = [&](double f) {
    double sum = 0.0;
    for (const WeightedValue& item : sample) {
      sum += item.weight;
      if (sum >= f * total) {
        return item.value;
      }
    }
    return sample.back().value;
  };
  const double infinity = std::numeric_limits<double>::infinity();
  for (double f : fractions) {
    const double margin = kStandardErrors * std::sqrt(f * (1.0 - f) / effective) + 2.0 / effective;
    brackets.push_back({f - margin <= 0.0 ? -infinity : quantile(f - margin),
                        f + margin >= 1.0 ? infinity : quantile(f + margin)});
  }
  return brackets;
}

OrderSearch::OrderSearch(const std::vector<double>& targets, bool ofTotal, double lowest,
                         double highest, const std::vector<Bracket>& brackets)
    : ofTotal_(ofTotal), lowest_(lowest), highest_(highest), pending_(targets.size()) {
  for (double target : targets) {
    targets_.push_back({target, std::numeric_limits<double>::quiet_NaN(), 0});
  }
  if (brackets.size() != targets_.size()) {
    Range all;
    all.lowest = lowest;
    all.highest = highest;
    all.below = 0.0;
    all.bracket = false;
    all.start(false);
    ranges_.push_back(std::move(all));
    return;
  }
  for (std::size_t k = 0; k < targets_.size(); ++k) {
    Range guess;
    guess.lowest = std::max(lowest, brackets[k].low);
    guess.highest = std::min(highest, brackets[k].high);
    guess.below = 0.0;
    guess.bracket = true;
    guess.start(false);
    targets_[k].range = static_cast<int>(k);
    ranges_.push_back(std::move(guess));
  }
}

// Buckets split [lowest, highest], taken within the finite doubles, evenly; halves are mapped so
// that no difference overflows.
void OrderSearch::Range::start(bool gatherValues) {
  gather = gatherValues;
  complete = true;
  const double largest = std::numeric_limits<double>::max();
  const double low = std::max(lowest, -largest) * 0.5;
  const double high = std::min(highest, largest) * 0.5;
  origin = low;
  perBucket = kBuckets / (high - low);
  buckets.assign(kBuckets, Bucket());
  values.clear();
}

// The target from the range's values, after the weight below them: halves of the values are
// selected about their middle rank, the weight of the lower half deciding which half holds the
// target, until few are left, which are sorted and summed in ascending order. Reorders the
// values (which two targets may share).
void OrderSearch::settle(Target& target, Range& range) {
  constexpr std::size_t kSorted = 64;
  const auto byValue = [](const WeightedValue& a, const WeightedValue& b) {
    return a.value < b.value;
  };
  std::vector<WeightedValue>& values = range.values;
  std::size_t lo = 0;
  std::size_t hi = values.size();
  double sum = range.below;  // weight of the values ranked before lo
  while (hi - lo > kSorted) {
    const std::size_t mid = lo + (hi - lo) / 2;
    std::nth_element(values.begin() + static_cast<std::ptrdiff_t>(lo),
                     values.begin() + static_cast<std::ptrdiff_t>(mid),
                     values.begin() + static_cast<std::ptrdiff_t>(hi), byValue);
    double left = 0.0;
    for (std::size_t k = lo; k < mid; ++k) {
      left += values[k].weight;
    }
    if (sum + left >= target.target) {
      hi = mid;
    } else {
      sum += left;
      lo = mid;
    }
  }
  std::sort(values.begin() + static_cast<std::ptrdiff_t>(lo),
            values.begin() + static_cast<std::ptrdiff_t>(hi), byValue);
  for (std::size_t k = lo; k < hi; ++k) {
    sum += values[k].weight;
    target.value = values[k].value;
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
    const Bucket& bucket = range.buckets[b];
    if (bucket.count == 0) {
      continue;
    }
    last = b;
    if (sum + bucket.weight >= target.target) {
      chosen = b;
      break;
    }
    sum += bucket.weight;
  }
  if (chosen == kBuckets || range.buckets[chosen].least == range.buckets[chosen].most) {
    // Out of reach through rounding: the largest value; or the one value of the bucket.
    target.value = chosen == kBuckets ? range.buckets[last].most : range.buckets[chosen].least;
    target.range = -1;
    return;
  }
  const Bucket& bucket = range.buckets[chosen];
  for (std::size_t r = 0; r < next.size(); ++r) {
    if (next[r].lowest == bucket.least && next[r].highest == bucket.most) {
      target.range = static_cast<int>(r);
      return;
    }
  }
  Range narrowed;
  narrowed.lowest = bucket.least;
  narrowed.highest = bucket.most;
  narrowed.below = sum;
  addRange(target, std::move(narrowed), next);
}

void OrderSearch::addRange(Target& target, Range range, std::vector<Range>& next) {
  range.bracket = false;
  range.start(passes_ + 1 >= kMostPasses);
  target.range = static_cast<int>(next.size());
  next.push_back(std::move(range));
}

// When the target lies outside its bracket, the values below or above the bracket become its
// range, and true is returned.
bool OrderSearch::leaveBracket(Target& target, const Range& range, std::vector<Range>& next) {
  const double within = range.within();
  Range outside;
  if (!(target.target > range.below)) {
    outside.lowest = lowest_;
    outside.highest = std::nextafter(range.lowest, -std::numeric_limits<double>::infinity());
    outside.below = 0.0;
  } else if (target.target > range.below + within) {
    outside.lowest = std::nextafter(range.highest, std::numeric_limits<double>::infinity());
    outside.highest = highest_;
    outside.below = range.below + within;
  } else {
    return false;
  }
  addRange(target, std::move(outside), next);
  return true;
}

void OrderSearch::add(const double* values, const double* weights, std::size_t count) {
  for (Range& range : ranges_) {
    range.add(values, weights, count);
  }
}

// Values in random order would defeat a branch on the side of a bracket they lie on: the weights
// outside are summed without one.
void OrderSearch::Range::add(const double* v, const double* w, std::size_t count) {
  const double low = lowest;
  const double high = highest;
  double outsideBelow = 0.0;
  double outsideAbove = 0.0;
  for (std::size_t k = 0; k < count; ++k) {
    const double value = v[k];
    const bool lower = value < low;
    const bool higher = value > high;
    outsideBelow += weightWhere(lower, w[k]);
    outsideAbove += weightWhere(higher, w[k]);
    if (!(lower | higher)) {
      addWithin(value, w[k]);
    }
  }
  if (bracket) {
    below += outsideBelow;
    above += outsideAbove;
  }
}

double OrderSearch::Range::within() const {
  double sum = 0.0;
  for (const Bucket& bucket : buckets) {
    sum += bucket.weight;
  }
  return sum;
}

void OrderSearch::endPass() {
  // The first pass has seen every value: in its one range, or below, in or above a bracket.
  const double total =
      passes_ == 0 ? ranges_[0].below + ranges_[0].within() + ranges_[0].above : 0.0;
  if (ofTotal_ && passes_ == 0) {
    for (Target& target : targets_) {
      target.target *= total;
    }
  }
  std::vector<Range> next;
  pending_ = 0;
  for (Target& target : targets_) {
    if (target.range < 0) {
      continue;
    }
    Range& range = ranges_[static_cast<std::size_t>(target.range)];
    const bool none = passes_ == 0 && !(total > 0.0);  // no value at all
    if (!none && range.bracket && leaveBracket(target, range, next)) {
      // searched outside the bracket from the next pass on
    } else if (none || range.values.empty()) {
      target.range = -1;
    } else if (range.complete) {
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
