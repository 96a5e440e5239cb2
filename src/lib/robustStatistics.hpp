// Order statistics that resist outliers: quantiles and the weighted median, in linear expected
// time.
#ifndef FLUXTRIM_LIB_ROBUST_STATISTICS_HPP
#define FLUXTRIM_LIB_ROBUST_STATISTICS_HPP

#include <vector>

namespace fluxtrim {
namespace detail {

// The element of rank floor(q * (n - 1)) in ascending order (q in [0, 1]) of the n values; NaN
// when there are none. Reorders values. NaN values are not allowed.
double quantile(std::vector<double>& values, double q);

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
