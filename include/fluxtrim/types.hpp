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

/// A calibration, applied as corrected = (raw - offset) * matrix with raw a row vector in the
/// sensor's axes. The corrected sample is in the samples' unit and the sensor's axes. The fits
/// scale the matrix to determinant 1 (up to rounding), so it reshapes without rescaling.
struct Calibration {
  Vec3 offset{{0.0, 0.0, 0.0}};  ///< hard iron, samples' unit
  Matrix3 matrix{
      {{{1.0, 0.0, 0.0}}, {{0.0, 1.0, 0.0}}, {{0.0, 0.0, 1.0}}}};  ///< soft iron, by rows
};

}  // namespace fluxtrim

#endif
