// Construction of a Givens plane rotation.
#include "xrotg.h"

#include <cmath>

namespace coder {
namespace internal {
namespace blas {

double xrotg(double& a, double& b, double& s) {
  const double absa = std::fabs(a);
  const double absb = std::fabs(b);
  const double roe = absa > absb ? a : b;
  const double scale = absa + absb;
  double c;
  if (scale == 0.0) {
    s = 0.0;
    c = 1.0;
    a = 0.0;
    b = 0.0;
  } else {
    // Dividing by the sum of magnitudes first keeps the squares in range.
    const double ads = a / scale;
    const double bds = b / scale;
    double r = scale * std::sqrt(ads * ads + bds * bds);
    if (roe < 0.0) {
      r = -r;
    }
    c = a / r;
    s = b / r;
    double z;
    if (absa > absb) {
      z = s;
    } else if (c != 0.0) {
      z = 1.0 / c;
    } else {
      z = 1.0;
    }
    a = r;
    b = z;
  }
  return c;
}

}  // namespace blas
}  // namespace internal
}  // namespace coder
