// Hard- and soft-iron calibration of magnetometer samples by model fitting and selection.
#ifndef MAGCAL_H
#define MAGCAL_H

#include "coder_array.h"
#include "rtwtypes.h"

namespace coder {

// Fits a sphere, an axis-aligned ellipsoid and a general ellipsoid to the N-by-3 samples d (one
// sample per row, any unit) and keeps the most general model that is positive definite, exactly
// real and has a strictly smaller error than the best so far. Writes the soft-iron matrix A
// (3-by-3, column-major: (r, c) at r + 3c) and the offset b such that (m - b) * A lies on a sphere,
// and returns that sphere's radius. With N = 0: A = identity, b = 0, result 0. Nothing is checked.
double magcal(const array<double, 2>& d, double A[9], double b[3]);

}  // namespace coder

#endif
