#include "robustStatistics.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

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

// Selection by repeated partitioning around the middle rank of the remaining range: the side that
// holds the half-weight point is kept, so the work shrinks geometrically.
double weightedMedian(std::vector<WeightedValue>& items) {
  if (items.empty()) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  double total = 0.0;
  for (const WeightedValue& item : items) {
    total += item.weight;
  }
  const double half = 0.5 * total;
  const auto byValue = [](const WeightedValue& a, const WeightedValue& b) {
    return a.value < b.value;
  };
  std::size_t lo = 0;
  std::size_t hi = items.size();
  double below = 0.0;  // weight of the values ranked before lo
  while (hi - lo > 1) {
    const std::size_t mid = lo + (hi - lo) / 2;
    std::nth_element(items.begin() + static_cast<std::ptrdiff_t>(lo),
                     items.begin() + static_cast<std::ptrdiff_t>(mid),
                     items.begin() + static_cast<std::ptrdiff_t>(hi), byValue);
    double left = 0.0;
    for (std::size_t k = lo; k < mid; ++k) {
      left += items[k].weight;
    }
    if (below + left >= half) {
      hi = mid;
    } else if (below + left + items[mid].weight >= half) {
      return items[mid].value;
    } else {
      below += left + items[mid].weight;
      lo = mid + 1;
    }
  }
  // One value left (or, through rounding of the sums, none: the last one examined).
  return items[lo < items.size() ? lo : items.size() - 1].value;
}

}  // namespace detail
}  // namespace fluxtrim
