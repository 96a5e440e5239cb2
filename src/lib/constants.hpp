// The library's numerical constants, each named once; every source file of the library uses these
// (units convert only through SampleUnit, units.cpp).
#ifndef FLUXTRIM_LIB_CONSTANTS_HPP
#define FLUXTRIM_LIB_CONSTANTS_HPP

#include <limits>

namespace fluxtrim {
namespace detail {

// The double nearest pi.
constexpr double kPi = 3.141592653589793;
constexpr double kDegreesPerRadian = 180.0 / kPi;

// A figure that cannot be had.
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The Earth's field at the surface lies in about [0.22, 0.67] gauss; its geometric middle is the
// nominal strength when no reference is given.
constexpr double kEarthFieldMin_G = 0.22;
constexpr double kEarthFieldMax_G = 0.67;

}  // namespace detail
}  // namespace fluxtrim

#endif
