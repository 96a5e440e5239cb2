// Scalar helpers shared by the routines of the calibration core.
#ifndef STATICMAGCALIBRATION_RTWUTIL_H
#define STATICMAGCALIBRATION_RTWUTIL_H

// sqrt(u0^2 + u1^2) without intermediate overflow or underflow: the larger magnitude times
// sqrt(1 + ratio^2). Equal magnitudes give |u0| * sqrt(2); a NaN u1 gives rtNaN and a NaN u0
// propagates through the product.
double rt_hypotd_snf(double u0, double u1);

// numerator / 3 rounded toward minus infinity (index arithmetic on leading dimension 3).
int div_nde_s32_floor(int numerator);

#endif
