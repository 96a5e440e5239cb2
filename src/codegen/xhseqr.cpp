// Real Schur form of a 3-by-3 upper Hessenberg matrix.
#include "xhseqr.h"

#include <algorithm>
#include <cmath>

#include "xdlanv2.h"
#include "xzlarfg.h"

namespace coder {
namespace internal {
namespace lapack {

namespace {

const int kOrder = 3;
// Relative machine precision 2^-52.
const double kUlp = 2.220446049250313e-16;
// The smallest normal double times the order, over the precision.
const double kSmallNumber = 3.006252540013459e-292;

// Element (row, col), both counted from 1, of a column-major 3-by-3 matrix.
inline double& at(double* a, int row, int col) {
  return a[(row - 1) + kOrder * (col - 1)];
}

// Applies the reflector I - t1*w*w', w = (1, v[1], v[2]) of order nr, to the nr values
// x[0], x[stride], ... : sum = x1 + v2*x2 [+ v3*x3], then xi -= sum*ti with ti = t1*vi.
inline void reflect(double* x, int stride, int nr, const double* v, const double* t) {
  double sum = x[0];
  for (int q = 1; q < nr; ++q) {
    sum += v[q] * x[q * stride];
  }
  for (int q = 0; q < nr; ++q) {
    x[q * stride] -= sum * t[q];
  }
}

// (x, y) := (cs*x + sn*y, cs*y - sn*x), the plane rotation of one pair of entries.
inline void rotate(double& x, double& y, double cs, double sn) {
  const double temp = cs * x + sn * y;
  y = cs * y - sn * x;
  x = temp;
}

// Largest k in (l, i] whose subdiagonal entry h(k, k-1) is negligible, or l if there is none.
int findDeflation(double* h, int l, int i) {
  int k = i;
  for (; k > l; --k) {
    const double sub = std::fabs(at(h, k, k - 1));
    if (sub <= kSmallNumber) {
      break;
    }
    double tst = std::fabs(at(h, k - 1, k - 1)) + std::fabs(at(h, k, k));
    if (tst == 0.0) {
      if (k - 2 >= 1) {
        tst += std::fabs(at(h, k - 1, k - 2));
      }
      if (k + 1 <= kOrder) {
        tst += std::fabs(at(h, k + 1, k));
      }
    }
    if (sub <= kUlp * tst) {
      const double sup = std::fabs(at(h, k - 1, k));
      const double ab = std::fmax(sub, sup);
      const double ba = std::fmin(sub, sup);
      const double diag = std::fabs(at(h, k, k));
      const double diff = std::fabs(at(h, k - 1, k - 1) - at(h, k, k));
      const double aa = std::fmax(diag, diff);
      const double bb = std::fmin(diag, diff);
      const double s = aa + bb;
      if (ba * (ab / s) <= std::fmax(kSmallNumber, kUlp * (bb * (aa / s)))) {
        break;
      }
    }
  }
  return k;
}

// The two shifts (rt1r + i*rt1i, rt2r + i*rt2i) of a sweep: the eigenvalues of the 2-by-2
// shift matrix [h11 h12; h21 h22], or the closer real one twice when they are real.
void computeShifts(double h11, double h12, double h21, double h22, double* rt) {
  const double s = std::fabs(h11) + std::fabs(h12) + std::fabs(h21) + std::fabs(h22);
  if (s == 0.0) {
    rt[0] = rt[1] = rt[2] = rt[3] = 0.0;
    return;
  }
  h11 /= s;
  h21 /= s;
  h12 /= s;
  h22 /= s;
  const double tr = (h11 + h22) / 2.0;
  const double det = (h11 - tr) * (h22 - tr) - h12 * h21;
  const double rtdisc = std::sqrt(std::fabs(det));
  if (det >= 0.0) {
    // Complex conjugate pair.
    rt[0] = tr * s;
    rt[2] = rt[0];
    rt[1] = rtdisc * s;
    rt[3] = -rt[1];
  } else {
    // Real pair: use the one closer to h22 twice.
    double rt1r = tr + rtdisc;
    double rt2r = tr - rtdisc;
    if (std::fabs(rt1r - h22) <= std::fabs(rt2r - h22)) {
      rt1r *= s;
      rt2r = rt1r;
    } else {
      rt2r *= s;
      rt1r = rt2r;
    }
    rt[0] = rt1r;
    rt[2] = rt2r;
    rt[1] = 0.0;
    rt[3] = 0.0;
  }
}

// One implicit double-shift QR sweep over rows l .. i of h, accumulated into z. kdefl counts
// the sweeps since the last deflation and selects the exceptional shifts.
void sweep(double* h, double* z, int l, int i, int kdefl) {
  // Exceptional-shift coefficients.
  const double dat1 = 0.75;
  const double dat2 = -0.4375;
  const int exceptionalPeriod = 10;

  double h11;
  double h12;
  double h21;
  double h22;
  if (kdefl % (2 * exceptionalPeriod) == 0) {
    const double s = std::fabs(at(h, i, i - 1)) + std::fabs(at(h, i - 1, i - 2));
    h11 = dat1 * s + at(h, i, i);
    h12 = dat2 * s;
    h21 = s;
    h22 = h11;
  } else if (kdefl % exceptionalPeriod == 0) {
    const double s = std::fabs(at(h, l + 1, l)) + std::fabs(at(h, l + 2, l + 1));
    h11 = dat1 * s + at(h, l, l);
    h12 = dat2 * s;
    h21 = s;
    h22 = h11;
  } else {
    h11 = at(h, i - 1, i - 1);
    h21 = at(h, i, i - 1);
    h12 = at(h, i - 1, i);
    h22 = at(h, i, i);
  }
  double rt[4];  // rt1r, rt1i, rt2r, rt2i
  computeShifts(h11, h12, h21, h22, rt);
  const double rt1r = rt[0];
  const double rt1i = rt[1];
  const double rt2r = rt[2];
  const double rt2i = rt[3];

  // First column of (H - rt1)(H - rt2), scaled; an order-3 sweep always starts at row l.
  const int m = l;
  double v[3];
  {
    const double hmm = at(h, m, m);
    double s = std::fabs(hmm - rt2r) + std::fabs(rt2i) + std::fabs(at(h, m + 1, m));
    const double h21s = at(h, m + 1, m) / s;
    v[0] = h21s * at(h, m, m + 1) + (hmm - rt1r) * ((hmm - rt2r) / s) - rt1i * (rt2i / s);
    v[1] = h21s * (hmm + at(h, m + 1, m + 1) - rt1r - rt2r);
    v[2] = h21s * at(h, m + 2, m + 1);
    s = std::fabs(v[0]) + std::fabs(v[1]) + std::fabs(v[2]);
    v[0] /= s;
    v[1] /= s;
    v[2] /= s;
  }

  // Chase the bulge down with reflectors of order 3 (and 2 at the last row).
  for (int k = m; k <= i - 1; ++k) {
    const int nr = std::min(3, i - k + 1);
    if (k > m) {
      for (int q = 0; q < nr; ++q) {
        v[q] = at(h, k + q, k - 1);
      }
    }
    const double t1 = reflapack::xzlarfg(nr, v);
    if (k > m) {
      at(h, k, k - 1) = v[0];
      at(h, k + 1, k - 1) = 0.0;
      if (k < i - 1) {
        at(h, k + 2, k - 1) = 0.0;
      }
    }
    double t[3] = {t1, t1 * v[1], 0.0};
    if (nr == 3) {
      t[2] = t1 * v[2];
    }
    for (int j = k; j <= kOrder; ++j) {
      reflect(&at(h, k, j), 1, nr, v, t);
    }
    const int lastRow = std::min(k + 3, i);
    for (int j = 1; j <= lastRow; ++j) {
      reflect(&at(h, j, k), kOrder, nr, v, t);
    }
    for (int j = 1; j <= kOrder; ++j) {
      reflect(&at(z, j, k), kOrder, nr, v, t);
    }
  }
}

// Standardises the split-off 2-by-2 block in rows/columns i-1, i and applies its rotation to
// the rest of h and to z.
void standardiseBlock(double* h, double* z, int i) {
  double rt1i;
  double rt2r;
  double rt2i;
  double cs;
  double sn;
  reflapack::xdlanv2(at(h, i - 1, i - 1), at(h, i - 1, i), at(h, i, i - 1), at(h, i, i), rt1i, rt2r,
                     rt2i, cs, sn);
  for (int j = i + 1; j <= kOrder; ++j) {
    rotate(at(h, i - 1, j), at(h, i, j), cs, sn);
  }
  for (int r = 1; r <= i - 2; ++r) {
    rotate(at(h, r, i - 1), at(h, r, i), cs, sn);
  }
  for (int r = 1; r <= kOrder; ++r) {
    rotate(at(z, r, i - 1), at(z, r, i), cs, sn);
  }
}

}  // namespace

int xhseqr(double h[9], double z[9]) {
  // Sweeps allowed per block: 30 * max(10, order), plus the first.
  const int itmax = 300;

  at(h, 3, 1) = 0.0;
  int i = kOrder;  // the active block ends at row i
  int kdefl = 0;
  while (i >= 1) {
    int l = 1;
    bool split = false;
    for (int its = 0; its <= itmax; ++its) {
      l = findDeflation(h, l, i);
      if (l > 1) {
        at(h, l, l - 1) = 0.0;
      }
      if (l >= i - 1) {
        split = true;
        break;
      }
      ++kdefl;
      sweep(h, z, l, i, kdefl);
    }
    if (!split) {
      at(h, 3, 1) = 0.0;
      return i;
    }
    if (l == i - 1) {
      standardiseBlock(h, z, i);
    }
    kdefl = 0;
    i = l - 1;
  }
  at(h, 3, 1) = 0.0;
  return 0;
}

}  // namespace lapack
}  // namespace internal
}  // namespace coder
