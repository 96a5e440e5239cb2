// Standardised real Schur factorisation of a real 2-by-2 block.
#include "xdlanv2.h"

#include <cmath>

#include "staticMagCalibration_rtwutil.h"

namespace coder {
namespace internal {
namespace reflapack {

namespace {

// +1 or -1 with the sign of x; zero (of either sign) counts as positive.
inline double signOf(double x) {
  return (x < 0.0) ? -1.0 : 1.0;
}

}  // namespace

double xdlanv2(double& a, double& b, double& c, double& d, double& rt1i, double& rt2r, double& rt2i,
               double& cs, double& sn) {
  // Four times the double-precision epsilon 2^-52: below it the discriminant is treated as
  // non-positive and the block goes through the complex-pair branch.
  const double realPairThreshold = 8.881784197001252e-16;
  // 2^458 and 2^-458: bounds and factors that keep sigma and temp away from overflow and
  // underflow before their hypotenuse is taken.
  const double rescaleBig = 7.4428285367870146e+137;
  const double rescaleSmall = 1.3435752215134178e-138;
  const int maxRescalings = 20;

  if (c == 0.0) {
    cs = 1.0;
    sn = 0.0;
  } else if (b == 0.0) {
    // Exchange rows and columns: the block becomes upper triangular.
    cs = 0.0;
    sn = 1.0;
    const double temp = d;
    d = a;
    a = temp;
    b = -c;
    c = 0.0;
  } else if ((a - d == 0.0) && (signOf(b) != signOf(c))) {
    // Equal diagonal and b*c < 0: already standard.
    cs = 1.0;
    sn = 0.0;
  } else {
    double temp = a - d;
    double p = temp / 2.0;
    const double bcmax = std::fmax(std::fabs(b), std::fabs(c));
    const double bcmis = std::fmin(std::fabs(b), std::fabs(c)) * signOf(b) * signOf(c);
    double scale = std::fmax(std::fabs(p), bcmax);
    double z = (p / scale) * p + (bcmax / scale) * bcmis;
    if (z >= realPairThreshold) {
      // Real eigenvalues: rotate to upper triangular form.
      z = p + signOf(p) * std::sqrt(scale) * std::sqrt(z);
      a = d + z;
      d -= (bcmax / z) * bcmis;
      const double tau = rt_hypotd_snf(c, z);
      cs = z / tau;
      sn = c / tau;
      b -= c;
      c = 0.0;
    } else {
      // Complex or nearly equal eigenvalues: make the diagonal entries equal.
      double sigma = b + c;
      int count = 0;
      for (;;) {
        ++count;
        scale = std::fmax(std::fabs(temp), std::fabs(sigma));
        if (scale >= rescaleBig) {
          sigma *= rescaleSmall;
          temp *= rescaleSmall;
          if (count <= maxRescalings) {
            continue;
          }
        }
        if (scale <= rescaleSmall) {
          sigma *= rescaleBig;
          temp *= rescaleBig;
          if (count <= maxRescalings) {
            continue;
          }
        }
        break;
      }
      p = temp / 2.0;
      double tau = rt_hypotd_snf(sigma, temp);
      cs = std::sqrt((1.0 + std::fabs(sigma) / tau) / 2.0);
      sn = -(p / (tau * cs)) * signOf(sigma);

      // [aa bb; cc dd] = [a b; c d] * [cs -sn; sn cs]
      const double aa = a * cs + b * sn;
      const double bb = -a * sn + b * cs;
      const double cc = c * cs + d * sn;
      const double dd = -c * sn + d * cs;
      // [a b; c d] = [cs sn; -sn cs] * [aa bb; cc dd]
      a = aa * cs + cc * sn;
      b = bb * cs + dd * sn;
      c = -aa * sn + cc * cs;
      d = -bb * sn + dd * cs;

      temp = (a + d) / 2.0;
      a = temp;
      d = temp;
      if (c != 0.0) {
        if (b != 0.0) {
          if (signOf(b) == signOf(c)) {
            // Real eigenvalues after all: reduce to upper triangular form.
            const double sab = std::sqrt(std::fabs(b));
            const double sac = std::sqrt(std::fabs(c));
            p = signOf(c) * sab * sac;
            tau = 1.0 / std::sqrt(std::fabs(b + c));
            a = temp + p;
            d = temp - p;
            b -= c;
            c = 0.0;
            const double cs1 = sab * tau;
            const double sn1 = sac * tau;
            temp = cs * cs1 - sn * sn1;
            sn = cs * sn1 + sn * cs1;
            cs = temp;
          }
        } else {
          b = -c;
          c = 0.0;
          temp = cs;
          cs = -sn;
          sn = temp;
        }
      }
    }
  }

  const double rt1r = a;
  rt2r = d;
  if (c == 0.0) {
    rt1i = 0.0;
    rt2i = 0.0;
  } else {
    rt1i = std::sqrt(std::fabs(b)) * std::sqrt(std::fabs(c));
    rt2i = -rt1i;
  }
  return rt1r;
}

}  // namespace reflapack
}  // namespace internal
}  // namespace coder
