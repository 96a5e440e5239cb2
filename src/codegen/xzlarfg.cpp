// Generation of an elementary Householder reflector of order at most 3.
#include "xzlarfg.h"

#include <cmath>

#include "staticMagCalibration_rtwutil.h"
#include "xnrm2.h"

namespace coder {
namespace internal {
namespace reflapack {

namespace {

// -sign(alpha) * hypot(alpha, xnorm), zero alpha counting as positive.
inline double reflectedLength(double alpha, double xnorm) {
  const double length = rt_hypotd_snf(alpha, xnorm);
  return (alpha >= 0.0) ? -length : length;
}

}  // namespace

double xzlarfg(int n, double* v) {
  // 2^-970 (the smallest normal double over the epsilon) and its reciprocal 2^970.
  const double underflowLimit = 1.0020841800044864e-292;
  const double rescale = 9.9792015476736e+291;
  const int maxRescalings = 20;

  double xnorm = blas::xnrm2(n - 1, v);
  if (xnorm == 0.0) {
    return 0.0;
  }
  double alpha = v[0];
  double beta = reflectedLength(alpha, xnorm);
  int rescalings = 0;
  if (std::fabs(beta) < underflowLimit) {
    // beta may be inaccurate: scale x, beta and alpha up until it is not, then recompute it.
    do {
      ++rescalings;
      for (int i = 1; i < n; ++i) {
        v[i] *= rescale;
      }
      beta *= rescale;
      alpha *= rescale;
    } while ((std::fabs(beta) < underflowLimit) && (rescalings < maxRescalings));
    xnorm = blas::xnrm2(n - 1, v);
    beta = reflectedLength(alpha, xnorm);
  }
  const double tau = (beta - alpha) / beta;
  const double scaleX = 1.0 / (alpha - beta);
  for (int i = 1; i < n; ++i) {
    v[i] *= scaleX;
  }
  for (int i = 0; i < rescalings; ++i) {
    beta *= underflowLimit;
  }
  v[0] = beta;
  return tau;
}

}  // namespace reflapack
}  // namespace internal
}  // namespace coder
