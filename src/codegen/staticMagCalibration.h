// Entry point of the calibration core.
#ifndef STATICMAGCALIBRATION_H
#define STATICMAGCALIBRATION_H

#include "coder_array.h"
#include "rtwtypes.h"

// Calibrates the N-by-3 samples magVector (row i = X, Y, Z of sample i) using only the samples
// whose magnitude lies in [|ref| - |ref| * tolerance, |ref| + |ref| * tolerance], both ends
// included, where ref = WMM_magXYZ (3 values, same unit as the samples). Writes the hard-iron
// offset (3), the soft-iron matrix (9, column-major: (r, c) at r + 3c) and the mean magnitude of
// the corrected accepted samples (NaN when none is accepted). No input is rejected.
void staticMagCalibration(const coder::array<double, 2>& magVector, const double WMM_magXYZ[3],
                          double tolerance, double hardIronOffset[3], double softIronMatrix[9],
                          double* refNormMag);

// The same on samples held as three columns of n values each (sample i = sampleX[i], sampleY[i],
// sampleZ[i]), of which only the rows whose rowMask byte is not 0 are considered (every row when
// rowMask is null): the result is bit for bit that of staticMagCalibration on the N-by-3 matrix of
// those rows, without copying them. Needs one byte per row and, for the fits, 10 doubles per
// accepted sample of working storage.
void staticMagCalibrationColumns(const double* sampleX, const double* sampleY,
                                 const double* sampleZ, int n, const unsigned char* rowMask,
                                 const double WMM_magXYZ[3], double tolerance,
                                 double hardIronOffset[3], double softIronMatrix[9],
                                 double* refNormMag);

#endif
