// Principal square root of a real 3-by-3 matrix.
#include "sqrtm.h"

#include <cmath>

#include "rt_nonfinite.h"
#include "sqrt.h"
#include "staticMagCalibration_rtwutil.h"
#include "xdlanv2.h"
#include "xgehrd.h"
#include "xgemv.h"
#include "xgerc.h"
#include "xhseqr.h"

namespace coder {

namespace {

const int kOrder = 3;

// Storage index of element (row, col), both counted from 0, of a column-major 3-by-3 matrix.
inline int idx(int row, int col) {
  return row + kOrder * col;
}

inline creal_T cmul(const creal_T& a, const creal_T& b) {
  return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}

inline creal_T conjOf(const creal_T& a) {
  return {a.re, -a.im};
}

// a + s*b for a real s.
inline creal_T addScaled(const creal_T& a, double s, const creal_T& b) {
  return {a.re + s * b.re, a.im + s * b.im};
}

// a - s*b for a real s.
inline creal_T subScaled(const creal_T& a, double s, const creal_T& b) {
  return {a.re - s * b.re, a.im - s * b.im};
}

// a / b for complex a and b, with the zero parts of either taken exactly and the larger part
// of b as the pivot (no intermediate overflow for finite operands). b = 0 yields Inf or NaN.
creal_T complexDivide(const creal_T& a, const creal_T& b) {
  const double ar = a.re;
  const double ai = a.im;
  const double br = b.re;
  const double bi = b.im;
  creal_T y;
  if (bi == 0.0) {
    if (ai == 0.0) {
      y = {ar / br, 0.0};
    } else if (ar == 0.0) {
      y = {0.0, ai / br};
    } else {
      y = {ar / br, ai / br};
    }
  } else if (br == 0.0) {
    if (ar == 0.0) {
      y = {ai / bi, 0.0};
    } else if (ai == 0.0) {
      y = {0.0, -(ar / bi)};
    } else {
      y = {ai / bi, -(ar / bi)};
    }
  } else {
    const double brm = std::fabs(br);
    const double bim = std::fabs(bi);
    if (brm > bim) {
      const double t = bi / br;
      const double d = br + t * bi;
      y = {(ar + t * ai) / d, (ai - t * ar) / d};
    } else if (brm == bim) {
      const double sb = (br > 0.0) ? 0.5 : -0.5;
      const double si = (bi > 0.0) ? 0.5 : -0.5;
      y = {(ar * sb + ai * si) / brm, (ai * sb - ar * si) / brm};
    } else {
      const double t = br / bi;
      const double d = bi + t * br;
      y = {(t * ar + ai) / d, (t * ai - ar) / d};
    }
  }
  return y;
}

// Real Schur factorisation A = Vr * T * Vr' of a finite A: Hessenberg reduction, the explicit
// orthogonal factor of that reduction, then QR sweeps. T and Vr are column-major 3-by-3.
void realSchur(const double A[9], double T[9], double Vr[9]) {
  double tau[2];
  for (int k = 0; k < 9; ++k) {
    T[k] = A[k];
  }
  internal::lapack::xgehrd(T, tau);

  // The orthogonal factor: identity in row/column 0, the reflector acting on rows 1 and 2.
  const double x = T[idx(2, 0)];  // second component of the reflector vector (1, x)
  for (int k = 0; k < 9; ++k) {
    Vr[k] = 0.0;
  }
  Vr[idx(0, 0)] = 1.0;
  Vr[idx(1, 1)] = 1.0;
  Vr[idx(2, 1)] = x;
  Vr[idx(2, 2)] = 1.0 - tau[1];
  Vr[idx(1, 2)] = 0.0;
  if (tau[0] != 0.0) {
    // Apply the first reflector from the left to rows 1 .. lastv of column 2; storage position
    // 8 is element (1,2) and position 5 is the reflector's leading 1 at (1,1).
    const int lastv = (x != 0.0) ? 2 : 1;
    const int lastc = ((lastv == 2) && (1.0 - tau[1] != 0.0)) ? 1 : 0;
    double work[kOrder] = {0.0, 0.0, 0.0};
    internal::blas::xgemv(lastv, lastc, Vr, 8, Vr, 5, work);
    internal::blas::xgerc(lastv, lastc, -tau[0], 5, work, Vr, 8);
  }
  Vr[idx(1, 1)] = 1.0 - tau[0];
  Vr[idx(2, 1)] = -tau[0] * x;

  internal::lapack::xhseqr(T, Vr);
}

// Splits the 2-by-2 block of the real Schur form rS in rows/columns m-1, m by a complex Givens
// rotation G = [conj(cc) s; -s cc], applied as T := G*T (rows) and T := T*G', U := U*G'
// (columns), so that T(m, m-1) becomes 0 and T stays similar to A through U.
void splitComplexBlock(const double rS[9], int m, creal_T T[9], creal_T U[9]) {
  double a = rS[idx(m - 1, m - 1)];
  double b = rS[idx(m - 1, m)];
  double c = rS[idx(m, m - 1)];
  double d = rS[idx(m, m)];
  double rt1i;
  double rt2r;
  double rt2i;
  double cs;
  double sn;
  const double rt1r = internal::reflapack::xdlanv2(a, b, c, d, rt1i, rt2r, rt2i, cs, sn);

  // mu = (first eigenvalue) - T(m, m); r = |(mu, T(m, m-1))|.
  const double sub = rS[idx(m, m - 1)];
  const double mure = rt1r - rS[idx(m, m)];
  const double r = rt_hypotd_snf(rt_hypotd_snf(mure, rt1i), sub);
  creal_T cc;
  if (rt1i == 0.0) {
    cc = {mure / r, 0.0};
  } else if (mure == 0.0) {
    cc = {0.0, rt1i / r};
  } else {
    cc = {mure / r, rt1i / r};
  }
  const double s = sub / r;
  const creal_T ccConj = conjOf(cc);

  for (int j = m - 1; j < kOrder; ++j) {
    const creal_T p = T[idx(m - 1, j)];
    const creal_T q = T[idx(m, j)];
    T[idx(m - 1, j)] = addScaled(cmul(ccConj, p), s, q);
    T[idx(m, j)] = subScaled(cmul(cc, q), s, p);
  }
  for (int i = 0; i <= m; ++i) {
    const creal_T p = T[idx(i, m - 1)];
    const creal_T q = T[idx(i, m)];
    T[idx(i, m - 1)] = addScaled(cmul(p, cc), s, q);
    T[idx(i, m)] = subScaled(cmul(q, ccConj), s, p);
  }
  for (int i = 0; i < kOrder; ++i) {
    const creal_T p = U[idx(i, m - 1)];
    const creal_T q = U[idx(i, m)];
    U[idx(i, m - 1)] = addScaled(cmul(p, cc), s, q);
    U[idx(i, m)] = subScaled(cmul(q, ccConj), s, p);
  }
  T[idx(m, m - 1)] = {0.0, 0.0};
}

// R = upper-triangular square root of the upper-triangular T (R*R = T), column by column.
void triangularSqrt(const creal_T T[9], creal_T R[9]) {
  for (int k = 0; k < 9; ++k) {
    R[k] = {0.0, 0.0};
  }
  const int upper[3] = {idx(0, 1), idx(0, 2), idx(1, 2)};
  bool diagonal = true;
  for (int k : upper) {
    if ((T[k].re != 0.0) || (T[k].im != 0.0)) {
      diagonal = false;
    }
  }
  for (int j = 0; j < kOrder; ++j) {
    R[idx(j, j)] = T[idx(j, j)];
    b_sqrt(R[idx(j, j)]);
    if (diagonal) {
      continue;
    }
    for (int i = j - 1; i >= 0; --i) {
      creal_T s = {0.0, 0.0};
      for (int k = i + 1; k <= j - 1; ++k) {
        const creal_T term = cmul(R[idx(i, k)], R[idx(k, j)]);
        s.re += term.re;
        s.im += term.im;
      }
      const creal_T num = {T[idx(i, j)].re - s.re, T[idx(i, j)].im - s.im};
      const creal_T den = {R[idx(i, i)].re + R[idx(j, j)].re, R[idx(i, i)].im + R[idx(j, j)].im};
      R[idx(i, j)] = complexDivide(num, den);
    }
  }
}

// Largest column sum of the magnitudes given by mag(element); NaN if any column sum is NaN.
template <typename Magnitude>
double oneNorm(const creal_T X[9], Magnitude mag) {
  double norm = 0.0;
  for (int j = 0; j < kOrder; ++j) {
    double colSum = 0.0;
    for (int i = 0; i < kOrder; ++i) {
      colSum += mag(X[idx(i, j)]);
    }
    if (std::isnan(colSum)) {
      return rtNaN;
    }
    if (colSum > norm) {
      norm = colSum;
    }
  }
  return norm;
}

}  // namespace

void sqrtm(const double A[9], creal_T X[9]) {
  // Imaginary parts below 10 * order * eps (eps = 2^-52) relative to X are rounding noise.
  const double imagTolerance = 6.661338147750939e-15;

  creal_T T[9];
  creal_T U[9];
  bool finite = true;
  for (int k = 0; k < 9; ++k) {
    if (!std::isfinite(A[k])) {
      finite = false;
    }
  }
  if (!finite) {
    for (int k = 0; k < 9; ++k) {
      U[k] = {rtNaN, 0.0};
      T[k] = {rtNaN, 0.0};
    }
    U[idx(2, 0)] = {0.0, 0.0};
  } else {
    double rS[9];
    double Vr[9];
    realSchur(A, rS, Vr);
    for (int k = 0; k < 9; ++k) {
      T[k] = {rS[k], 0.0};
      U[k] = {Vr[k], 0.0};
    }
    for (int m = 2; m >= 1; --m) {
      if (rS[idx(m, m - 1)] != 0.0) {
        splitComplexBlock(rS, m, T, U);
      }
    }
  }

  creal_T R[9];
  triangularSqrt(T, R);

  // X = U * R * U', with T reused for U * R.
  for (int i = 0; i < kOrder; ++i) {
    for (int j = 0; j < kOrder; ++j) {
      creal_T sum = {0.0, 0.0};
      for (int k = 0; k < kOrder; ++k) {
        const creal_T term = cmul(U[idx(i, k)], R[idx(k, j)]);
        sum.re += term.re;
        sum.im += term.im;
      }
      T[idx(i, j)] = sum;
    }
  }
  for (int i = 0; i < kOrder; ++i) {
    for (int j = 0; j < kOrder; ++j) {
      creal_T sum = {0.0, 0.0};
      for (int k = 0; k < kOrder; ++k) {
        const creal_T term = cmul(T[idx(i, k)], conjOf(U[idx(j, k)]));
        sum.re += term.re;
        sum.im += term.im;
      }
      X[idx(i, j)] = sum;
    }
  }

  const double normI = oneNorm(X, [](const creal_T& x) { return std::fabs(x.im); });
  const double normX = oneNorm(X, [](const creal_T& x) { return rt_hypotd_snf(x.re, x.im); });
  if (normI <= imagTolerance * normX) {
    for (int k = 0; k < 9; ++k) {
      X[k].im = 0.0;
    }
  }
}

}  // namespace coder
