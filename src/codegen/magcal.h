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

// The steps of magcalFits after a decomposition, for fits whose coefficient vectors come from
// elsewhere (the library's streaming fit), so that both turn coefficients into models alike.

// The general ellipsoid from the unit coefficient vector beta of its quadric, in the order x^2,
// 2xy, 2xz, y^2, 2yz, z^2, x, y, z, 1 (negated in place when that makes det(A) > 0): the soft-iron
// matrix Winv = sqrtm(A / det(A)^(1/3)) (complex, column-major), the centre V and whether the
// shape matrix A is positive definite; returns the field strength B. NaN in, NaN out.
double generalFromCoefficients(double beta[10], creal_T Winv[9], double V[3], boolean_T& ispd);

// The axis-aligned ellipsoid from beta in the order x^2, y^2, z^2, x, y, z, 1 (negated in place
// when that makes the determinant positive): soft-iron matrix A7, centre v, positive
// definiteness; returns the field strength.
double axisAlignedFromCoefficients(double beta[7], creal_T A7[9], double v[3],
                                   bool& positiveDefinite);

// The residuals sum_k (W * (m - V))_k^2 - radiusSquared of m samples (coordinates in x, y, z) into
// r, complex squares, not squared moduli; r needs room for m + 1 values.
void residuals(const creal_T Winv[9], const double V[3], double radiusSquared, const double* x,
               const double* y, const double* z, int m, creal_T* r);

// An ellipsoid's normalised fit error from the sum of its squared residuals over sampleCount
// samples: the real part of the principal square root of their mean, divided by 2 B^2.
double errorFromSumOfSquares(creal_T meanSquare, int sampleCount, double B);

}  // namespace coder

#endif
