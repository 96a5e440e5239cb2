// Order statistics that resist outliers: quantiles and the weighted median, in linear expected
// time.
#ifndef FLUXTRIM_LIB_ROBUST_STATISTICS_HPP
#define FLUXTRIM_LIB_ROBUST_STATISTICS_HPP

#include <cstddef>
#include <vector>

namespace fluxtrim {
namespace detail {

// The element of the given rank (0 for the smallest) in ascending order; NaN when rank is not
// below the number of values. Reorders values. NaN values are not allowed.
double orderStatistic(std::vector<double>& values, std::size_t rank);

struct WeightedValue {
  double value;
  double weight;  // > 0
};

// The smallest value v for which the weights of the values <= v sum to at least half of all the
// weights; NaN when there are none. Reorders items. NaN values or weights are not allowed.
double weightedMedian(std::vector<WeightedValue>& items);

}  // namespace detail
}  // namespace fluxtrim

#endif
