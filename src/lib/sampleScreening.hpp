// What the raw samples show before any fit: values clipped at a sensor's limit, and whether the
// device was turned at all.
#ifndef FLUXTRIM_LIB_SAMPLE_SCREENING_HPP
#define FLUXTRIM_LIB_SAMPLE_SCREENING_HPP

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

// The clipped extremes of the columns of values[rows], by axis, the minimum before the maximum.
// An extreme is clipped when the column takes at least 8 distinct values (a still or constant
// column has no limit to judge), the extreme occurs at least 5 times, and at least 4 times as
// often as each of the 3 distinct values next to it: samples pile up at a limit, while the tail
// of a distribution thins towards its end, on integer counts as on decimals. Rows must index
// values; their components must be finite. Linear in the rows.
std::vector<ClippedExtreme> findClipping(const std::vector<Vec3>& values,
                                         const std::vector<std::size_t>& rows);

// Whether a component of v lies at one of the extremes.
bool isClipped(const Vec3& v, const std::vector<ClippedExtreme>& extremes);

// Motion::spread of values[rows]: the root mean square distance from their mean over their root
// mean square magnitude, 0 to 1, by two passes (the mean first). NaN without rows or when every
// row is zero. Rows must index values.
double spreadRatio(const std::vector<Vec3>& values, const std::vector<std::size_t>& rows);

}  // namespace detail
}  // namespace fluxtrim

#endif
