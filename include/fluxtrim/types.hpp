/// @file
/// Small value types shared by the fluxtrim library.
#ifndef FLUXTRIM_TYPES_HPP
#define FLUXTRIM_TYPES_HPP

#include <array>

namespace fluxtrim {

/// Three components in the sensor's own axes (X, Y, Z as the file gives them), or a direction.
using Vec3 = std::array<double, 3>;

/// A 3-by-3 matrix by rows: m[row][column].
using Matrix3 = std::array<std::array<double, 3>, 3>;

}  // namespace fluxtrim

#endif
