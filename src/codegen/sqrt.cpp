// Principal square root of a complex number.
#include "sqrt.h"

#include <cmath>

#include "rt_nonfinite.h"
#include "staticMagCalibration_rtwutil.h"

namespace coder {

void b_sqrt(creal_T& x) {
  // A quarter of the largest double: above it |x| + |re x| could overflow, so both parts are
  // halved before the hypotenuse is taken.
  const double overflowGuard = 4.4942328371557893e+307;
  const double sqrt2 = 1.4142135623730951;
  const double xr = x.re;
  const double xi = x.im;
  double absxr;
  double absxi;
  if (xi == 0.0) {
    if (xr < 0.0) {
      absxr = 0.0;
      absxi = std::sqrt(-xr);
    } else {
      absxr = std::sqrt(xr);
      absxi = 0.0;
    }
  } else if (xr == 0.0) {
    if (xi < 0.0) {
      absxr = std::sqrt(-xi * 0.5);
      absxi = -absxr;
    } else {
      absxr = std::sqrt(0.5 * xi);
      absxi = absxr;
    }
  } else if (std::isnan(xr) || std::isnan(xi)) {
    absxr = rtNaN;
    absxi = rtNaN;
  } else if (std::isinf(xi)) {
    absxr = std::fabs(xi);
    absxi = xi;
  } else if (std::isinf(xr)) {
    if (xr < 0.0) {
      absxr = 0.0;
      absxi = xi * -xr;
    } else {
      absxr = xr;
      absxi = 0.0;
    }
  } else {
    double ar = std::fabs(xr);
    double ai = std::fabs(xi);
    if ((ar > overflowGuard) || (ai > overflowGuard)) {
      ar *= 0.5;
      ai *= 0.5;
      const double h = rt_hypotd_snf(ar, ai);
      if (h > ar) {
        absxr = std::sqrt(h) * std::sqrt(1.0 + ar / h);
      } else {
        absxr = std::sqrt(h) * sqrt2;
      }
    } else {
      absxr = std::sqrt((rt_hypotd_snf(ar, ai) + ar) * 0.5);
    }
    if (xr > 0.0) {
      absxi = 0.5 * (xi / absxr);
    } else {
      // Left half-plane: the root of larger magnitude is the imaginary part.
      absxi = (xi < 0.0) ? -absxr : absxr;
      absxr = 0.5 * (xi / absxi);
    }
  }
  x.re = absxr;
  x.im = absxi;
}

}  // namespace coder
