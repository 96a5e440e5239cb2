// Hard- and soft-iron calibration of magnetometer samples by model fitting and selection.
#ifndef MAGCAL_H
#define MAGCAL_H

#include "coder_array.h"
#include "rtwtypes.h"
#include "sampleColumns.h"

namespace coder {

// Fits a sphere, an axis-aligned ellipsoid and a general ellipsoid to the N-by-3 samples d (one
// sample per row, any unit) and keeps the most general model that is positive definite, exactly
// real and has a strictly smaller error than the best so far. Writes the soft-iron matrix A
// (3-by-3, column-major: (r, c) at r + 3c) and the offset b such that (m - b) * A lies on a sphere,
// and returns that sphere's radius. With N = 0: A = identity, b = 0, result 0. Nothing is checked.
double magcal(const array<double, 2>& d, double A[9], double b[3]);

// One candidate model of magcalFits: soft-iron matrix A (real parts, column-major), offset b and
// radius in the samples' unit, the model's normalised fit error (the figure the choice compares),
// and the two conditions a model must meet to be chosen.
struct MagcalFit {
  double A[9];
  double b[3];
  double radius;
  double error;
  bool positiveDefinite;
  bool exactlyReal;  // the complex square root of the shape matrix had no imaginary part
};

// The three candidates that magcal chooses from, in order: sphere (A = identity), axis-aligned
// ellipsoid, general ellipsoid; chosen is the index magcal keeps (0 when a later model is not
// positive definite, not exactly real or not strictly better). Without samples only the sphere is
// fitted: the other two hold NaN and are not positive definite. magcal(d, A, b) returns exactly
// fit[chosen].radius and writes fit[chosen].A and .b.
struct MagcalFits {
  MagcalFit fit[3];
  int chosen;
};
void magcalFits(const array<double, 2>& d, MagcalFits& fits);

// The same on the samples of a view (one sample per taking-part row, in row order): exactly the
// result of magcalFits on the N-by-3 matrix of those rows. Needs 10 doubles of working storage per
// sample, in one allocation.
void magcalFits(const SampleColumns& samples, MagcalFits& fits);

}  // namespace coder

#endif
