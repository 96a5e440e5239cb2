// Scalar helpers shared by the routines of the calibration core.
#include "staticMagCalibration_rtwutil.h"

#include <cmath>

#include "rt_nonfinite.h"

double rt_hypotd_snf(double u0, double u1) {
  const double sqrt2 = 1.4142135623730951;
  const double a = std::fabs(u0);
  const double b = std::fabs(u1);
  double y;
  if (a < b) {
    const double ratio = u0 / u1;
    y = b * std::sqrt(ratio * ratio + 1.0);
  } else if (a > b) {
    const double ratio = u1 / u0;
    y = a * std::sqrt(ratio * ratio + 1.0);
  } else if (std::isnan(b)) {
    y = rtNaN;
  } else {
    y = a * sqrt2;
  }
  return y;
}

int div_nde_s32_floor(int numerator) {
  int quotient = numerator / 3;
  if (numerator < 0 && numerator % 3 != 0) {
    quotient -= 1;
  }
  return quotient;
}
