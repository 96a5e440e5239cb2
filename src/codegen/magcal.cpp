// Magnetometer calibration by model fitting: a sphere, an axis-aligned ellipsoid and a general
// ellipsoid are fitted to the samples, and the most general acceptable one is kept.
#include "magcal.h"

#include <cmath>
#include <cstddef>
#include <memory>

#include "cat.h"
#include "chol.h"
#include "coder_array.h"
#include "mldivide.h"
#include "pairMath.h"
#include "rt_nonfinite.h"
#include "rtwtypes.h"
#include "sampleColumns.h"
#include "sqrt.h"
#include "sqrtm.h"
#include "svd.h"
#include "workBuffer.h"
#include "xzsvdc.h"

namespace {

// Position of element (row, col), counted from 0, of a column-major 3-by-3 matrix.
constexpr int at3(int row, int col) {
  return row + 3 * col;
}

// The double nearest 1/3, the exponent of the cube root of a determinant.
constexpr double kOneThird = 0.3333333333333333;

// z * z without conjugation.
inline creal_T square(const creal_T& z) {
  creal_T s;
  s.re = z.re * z.re - z.im * z.im;
  s.im = z.im * z.re + z.im * z.re;
  return s;
}

// True when every imaginary part of the 3-by-3 complex matrix is exactly 0 (a NaN is not 0).
inline bool isExactlyReal(const creal_T M[9]) {
  for (int k = 0; k < 9; ++k) {
    if (!(M[k].im == 0.0)) {
      return false;
    }
  }
  return true;
}

}  // namespace

// u0 raised to u1 with the special cases settled before the library pow: NaN in, NaN out; an
// infinite exponent by the magnitude of the base; exponents 0, +-1, 2 and 0.5 exactly; a negative
// base with a non-integer exponent gives NaN (so the cube root of a negative number is NaN).
static double rt_powd_snf(double u0, double u1) {
  double y;
  if (std::isnan(u0) || std::isnan(u1)) {
    y = rtNaN;
  } else {
    const double absBase = std::fabs(u0);
    const double absExponent = std::fabs(u1);
    if (std::isinf(u1)) {
      if (absBase == 1.0) {
        y = 1.0;
      } else if (absBase > 1.0) {
        y = u1 > 0.0 ? rtInf : 0.0;
      } else {
        y = u1 > 0.0 ? 0.0 : rtInf;
      }
    } else if (absExponent == 0.0) {
      y = 1.0;
    } else if (absExponent == 1.0) {
      y = u1 > 0.0 ? u0 : 1.0 / u0;
    } else if (u1 == 2.0) {
      y = u0 * u0;
    } else if (u1 == 0.5 && u0 >= 0.0) {
      y = std::sqrt(u0);
    } else if (u0 < 0.0 && u1 > std::floor(u1)) {
      y = rtNaN;
    } else {
      y = std::pow(u0, u1);
    }
  }
  return y;
}

namespace coder {

// Real cube root of a determinant dA >= 0, refined by one Newton step when the power of the library
// does not reproduce dA exactly. NaN for a negative or NaN dA.
static double cubeRootOfDeterminant(double dA) {
  double root = rt_powd_snf(dA, kOneThird);
  if (std::isfinite(root) && dA != 0.0) {
    const double cube = rt_powd_snf(root, 3.0);
    if (cube - dA != 0.0) {
      root -= (cube - dA) / ((cube / root) * 3.0);
    }
  }
  return root;
}

// Makes a fitted quadric's shape matrix positive-determinant: when dA < 0, negates the 3-by-3
// shape matrix A, the nParams coefficients beta it came from and dA itself. A NaN dA is left
// alone. The quadric's zero set, and so the fit, is the same for either sign.
static void normaliseQuadricSign(double A[9], double* beta, int nParams, double& dA) {
  if (dA < 0.0) {
    for (int m = 0; m < 9; ++m) {
      A[m] = -A[m];
    }
    for (int j = 0; j < nParams; ++j) {
      beta[j] = -beta[j];
    }
    dA = -dA;
  }
}

// Residuals sum_k (W * (m - V))_k^2 - radiusSquared of two samples m at once (lane by lane; the
// coordinates x, y, z hold one sample per lane), for a complex 3-by-3 W (column-major) and offset
// V, as real parts re and imaginary parts im. Squares are complex squares (z * z), not squared
// moduli. Each lane goes through the operations of the scalar complex arithmetic: the product of
// W(k, c) and the real u(c) by the full complex rule, the three products added in order.
static inline void residualPair(const creal_T Winv[9], const double V[3], double radiusSquared,
                                internal::Pair x, internal::Pair y, internal::Pair z,
                                internal::Pair& re, internal::Pair& im) {
  using internal::Pair;
  const Pair u[3] = {x - V[0], y - V[1], z - V[2]};
  Pair sumRe[3];
  Pair sumIm[3];
  for (int k = 0; k < 3; ++k) {
    Pair pRe[3];
    Pair pIm[3];
    for (int c = 0; c < 3; ++c) {
      const creal_T w = Winv[at3(k, c)];
      pRe[c] = w.re * u[c] - w.im * 0.0;
      pIm[c] = w.re * 0.0 + w.im * u[c];
    }
    const Pair zRe = (pRe[0] + pRe[1]) + pRe[2];
    const Pair zIm = (pIm[0] + pIm[1]) + pIm[2];
    sumRe[k] = zRe * zRe - zIm * zIm;
    sumIm[k] = zIm * zRe + zIm * zRe;
  }
  re = (sumRe[0] + sumRe[1]) + sumRe[2] - radiusSquared;
  im = (sumIm[0] + sumIm[1]) + sumIm[2];
}

// The residuals of m samples (coordinates in x, y, z) into r, two at a time; r needs room for
// m + 1 values (an odd m repeats its last sample in the unused lane).
void residuals(const creal_T Winv[9], const double V[3], double radiusSquared, const double* x,
               const double* y, const double* z, int m, creal_T* r) {
  for (int j = 0; j < m; j += 2) {
    const int second = j + 1 < m ? j + 1 : j;
    internal::Pair re;
    internal::Pair im;
    residualPair(Winv, V, radiusSquared, internal::Pair{x[j], x[second]},
                 internal::Pair{y[j], y[second]}, internal::Pair{z[j], z[second]}, re, im);
    r[j] = {re[0], im[0]};
    r[j + 1] = {re[1], im[1]};
  }
}

// Residual r_i = sum_k (W * (m_i - V))_k^2 - B^2 of each sample row m_i of the N-by-3 data, for a
// complex 3-by-3 W (column-major) and offset V: 0 for a sample that W maps onto the sphere of
// radius B. Squares are complex squares (z * z), not squared moduli. r is resized to N.
[[maybe_unused]] static void residual(const creal_T Winv[9], const double V[3], double B,
                                      const array<double, 2>& data, array<creal_T, 1>& r) {
  const int n = data.size(0);
  r.set_size(n);
  const double* x = data.data();
  const double radiusSquared = B * B;
  for (int i0 = 0; i0 < n; i0 += kSampleChunk) {
    const int m = n - i0 < kSampleChunk ? n - i0 : kSampleChunk;
    creal_T chunk[kSampleChunk + 1];
    residuals(Winv, V, radiusSquared, x + i0, x + n + i0, x + 2 * static_cast<long>(n) + i0, m,
              chunk);
    for (int j = 0; j < m; ++j) {
      r[i0 + j] = chunk[j];
    }
  }
}

// Normalised fit error of an ellipsoid model of strength B from the sum of the squared residuals
// over sampleCount samples: the real part of the principal square root of the complex mean,
// divided by 2 B^2.
double errorFromSumOfSquares(creal_T meanSquare, int sampleCount, double B) {
  const double count = static_cast<double>(sampleCount);
  if (meanSquare.im == 0.0) {
    meanSquare.re /= count;
    meanSquare.im = 0.0;
  } else if (meanSquare.re == 0.0) {
    meanSquare.re = 0.0;
    meanSquare.im /= count;
  } else {
    meanSquare.re /= count;
    meanSquare.im /= count;
  }
  b_sqrt(meanSquare);
  return 1.0 / ((B + B) * B) * meanSquare.re;
}

// Normalised fit error of an ellipsoid model (W, V, B) over the samples: the sum of res_i^2 in
// sample order, then errorFromSumOfSquares. The residuals are not stored; when the samples are
// split, the second part's squares go to scratch (2 doubles per sample of that part) while the
// first part is summed, and are added after it.
static double ellipsoidError(const creal_T Winv[9], const double V[3], double B,
                             const SampleColumns& s, double* scratch) {
  const double radiusSquared = B * B;
  creal_T sum = {0.0, 0.0};
  forSampleParts(s, [&](int part, int first, int last, int startRow) {
    creal_T r[kSampleChunk + 1];
    forSampleChunks(s, first, last, startRow,
                    [&](const double* x, const double* y, const double* z, int m, int firstRank) {
                      residuals(Winv, V, radiusSquared, x, y, z, m, r);
                      if (part == 0) {
                        for (int j = 0; j < m; ++j) {
                          const creal_T sq = square(r[j]);
                          sum.re += sq.re;
                          sum.im += sq.im;
                        }
                      } else {
                        double* out = scratch + 2 * (firstRank - first);
                        for (int j = 0; j < m; ++j) {
                          const creal_T sq = square(r[j]);
                          out[2 * j] = sq.re;
                          out[2 * j + 1] = sq.im;
                        }
                      }
                    });
  });
  for (int k = s.splitRank; k < s.count; ++k) {
    sum.re += scratch[2 * (k - s.splitRank)];
    sum.im += scratch[2 * (k - s.splitRank) + 1];
  }
  return errorFromSumOfSquares(sum, s.count, B);
}

// Writes the design matrix of the samples into design (count rows, P columns, column-major), a
// chunk of samples at a time: terms(x, y, z, m, column) writes the rows of m samples into the P
// columns. Returns whether every entry is finite (an entry whose magnitude exceeds the largest
// double, or a NaN, is not).
template <int P, typename Terms>
static bool buildDesign(const SampleColumns& s, double* design, const Terms& terms) {
  const std::size_t ld = static_cast<std::size_t>(s.count);
  bool finite[2] = {true, true};
  forSampleParts(s, [&](int part, int first, int last, int startRow) {
    bool partFinite = true;
    forSampleChunks(s, first, last, startRow,
                    [&](const double* x, const double* y, const double* z, int m, int firstRank) {
                      double* columns[P];
                      for (int c = 0; c < P; ++c) {
                        columns[c] = design + c * ld + firstRank;
                      }
                      terms(x, y, z, m, columns);
                      // v - v is 0 for a finite v and NaN for an infinite or NaN one.
                      bool chunkFinite = true;
                      for (int c = 0; c < P; ++c) {
                        for (int j = 0; j < m; ++j) {
                          chunkFinite &= columns[c][j] - columns[c][j] == 0.0;
                        }
                      }
                      partFinite = partFinite && chunkFinite;
                    });
    finite[part] = partFinite;
  });
  return finite[0] && finite[1];
}

// Determinant of a 3-by-3 matrix (column-major) by LU factorisation with partial pivoting of a
// copy; a later row becomes the pivot only when strictly larger in magnitude.
static double determinant3(const double M[9]) {
  double lu[9];
  for (int k = 0; k < 9; ++k) {
    lu[k] = M[k];
  }
  int ipiv[2] = {1, 2};
  for (int j = 0; j < 2; ++j) {
    int pivotRow = j;
    double largest = std::fabs(lu[at3(j, j)]);
    for (int row = j + 1; row < 3; ++row) {
      const double magnitude = std::fabs(lu[at3(row, j)]);
      if (magnitude > largest) {
        pivotRow = row;
        largest = magnitude;
      }
    }
    if (lu[at3(pivotRow, j)] != 0.0) {
      if (pivotRow != j) {
        ipiv[j] = pivotRow + 1;
        for (int col = 0; col < 3; ++col) {
          const double held = lu[at3(j, col)];
          lu[at3(j, col)] = lu[at3(pivotRow, col)];
          lu[at3(pivotRow, col)] = held;
        }
      }
      for (int row = j + 1; row < 3; ++row) {
        lu[at3(row, j)] /= lu[at3(j, j)];
      }
    }
    for (int col = j + 1; col < 3; ++col) {
      const double multiplier = lu[at3(j, col)];
      if (multiplier != 0.0) {
        for (int row = j + 1; row < 3; ++row) {
          lu[at3(row, col)] += -multiplier * lu[at3(row, j)];
        }
      }
    }
  }
  double det = lu[at3(0, 0)] * lu[at3(1, 1)] * lu[at3(2, 2)];
  bool isodd = ipiv[0] > 1;
  if (ipiv[1] > 2) {
    isodd = !isodd;
  }
  if (isodd) {
    det = -det;
  }
  return det;
}

// Solves M * w = rhs for a 3-by-3 M (column-major) by LU with partial pivoting written out for
// order 3 (strict comparisons: ties keep the earlier row). Nothing is checked: a singular M gives
// infinities or NaNs.
static void solve3(const double M[9], const double rhs[3], double w[3]) {
  double a[9];
  for (int k = 0; k < 9; ++k) {
    a[k] = M[k];
  }
  int r1 = 0;
  int r2 = 1;
  int r3 = 2;
  double largest = std::fabs(a[at3(0, 0)]);
  if (std::fabs(a[at3(1, 0)]) > largest) {
    largest = std::fabs(a[at3(1, 0)]);
    r1 = 1;
    r2 = 0;
  }
  if (std::fabs(a[at3(2, 0)]) > largest) {
    r1 = 2;
    r2 = 1;
    r3 = 0;
  }
  a[at3(r2, 0)] /= a[at3(r1, 0)];
  a[at3(r3, 0)] /= a[at3(r1, 0)];
  a[at3(r2, 1)] -= a[at3(r2, 0)] * a[at3(r1, 1)];
  a[at3(r3, 1)] -= a[at3(r3, 0)] * a[at3(r1, 1)];
  a[at3(r2, 2)] -= a[at3(r2, 0)] * a[at3(r1, 2)];
  a[at3(r3, 2)] -= a[at3(r3, 0)] * a[at3(r1, 2)];
  if (std::fabs(a[at3(r3, 1)]) > std::fabs(a[at3(r2, 1)])) {
    const int held = r2;
    r2 = r3;
    r3 = held;
  }
  a[at3(r3, 1)] /= a[at3(r2, 1)];
  a[at3(r3, 2)] -= a[at3(r3, 1)] * a[at3(r2, 2)];
  double w0 = rhs[r1];
  double w1 = rhs[r2] - a[at3(r2, 0)] * w0;
  const double w2 = (rhs[r3] - a[at3(r3, 0)] * w0 - a[at3(r3, 1)] * w1) / a[at3(r3, 2)];
  w1 = (w1 - a[at3(r2, 2)] * w2) / a[at3(r2, 1)];
  w0 = (w0 - a[at3(r1, 2)] * w2 - a[at3(r1, 1)] * w1) / a[at3(r1, 0)];
  w[0] = w0;
  w[1] = w1;
  w[2] = w2;
}

// Copies coordinate column v into column col of the n-row matrix m; a single value is repeated and
// a column of any other length than n has no value (NaN), so no read leaves v.
static void copyColumn(const array<double, 1>& v, array<double, 2>& m, int col, int n) {
  double* target = m.data() + static_cast<long>(col) * n;
  const int length = v.size(0);
  for (int i = 0; i < n; ++i) {
    target[i] = length == n ? v[i] : (length == 1 ? v[0] : rtNaN);
  }
}

// The columns x, y, z and 1 of a design matrix, m rows from column[0] on.
static void copyCoordinates(const double* x, const double* y, const double* z, int m,
                            double* const* column) {
  for (int j = 0; j < m; ++j) {
    column[0][j] = x[j];
  }
  for (int j = 0; j < m; ++j) {
    column[1][j] = y[j];
  }
  for (int j = 0; j < m; ++j) {
    column[2][j] = z[j];
  }
  for (int j = 0; j < m; ++j) {
    column[3][j] = 1.0;
  }
}

// The rows of the general ellipsoid's design matrix: the monomials of the quadric v'Av + b'v + c,
// the mixed ones doubled (2x is formed once per product).
struct GeneralTerms {
  void operator()(const double* x, const double* y, const double* z, int m,
                  double* const* column) const {
    for (int j = 0; j < m; ++j) {
      column[0][j] = x[j] * x[j];
    }
    for (int j = 0; j < m; ++j) {
      column[1][j] = (2.0 * x[j]) * y[j];
    }
    for (int j = 0; j < m; ++j) {
      column[2][j] = (2.0 * x[j]) * z[j];
    }
    for (int j = 0; j < m; ++j) {
      column[3][j] = y[j] * y[j];
    }
    for (int j = 0; j < m; ++j) {
      column[4][j] = (y[j] * 2.0) * z[j];
    }
    for (int j = 0; j < m; ++j) {
      column[5][j] = z[j] * z[j];
    }
    copyCoordinates(x, y, z, m, column + 6);
  }
};

// General ellipsoid from its n-by-10 design matrix d (overwritten by the decomposition): the ten
// coefficients of the quadric are the right singular vector of the smallest singular value, NaN
// when the matrix is not finite or has no rows. Writes the soft-iron matrix Winv = sqrtm(A /
// det(A)^(1/3)) (complex, column-major), the centre V and whether A is positive definite; returns
// the field strength B.
static double generalFromDesign(array<double, 2>& d, bool finite, creal_T Winv[9], double V[3],
                                boolean_T& ispd) {
  double beta[10];
  double V1_data[100];
  int V1_size[2] = {10, 0};
  if (finite && d.size(0) > 0) {
    double s[10];
    internal::reflapack::b_xzsvdc(d, s, V1_data, V1_size);
  }
  const int k = V1_size[1];
  for (int j = 0; j < 10; ++j) {
    beta[j] = (finite && k > 0) ? V1_data[j + 10 * (k - 1)] : rtNaN;
  }
  return generalFromCoefficients(beta, Winv, V, ispd);
}

double generalFromCoefficients(double beta[10], creal_T Winv[9], double V[3], boolean_T& ispd) {
  // Maps the six quadratic coefficients onto the symmetric 3-by-3 shape matrix (column-major).
  static const signed char iv[9] = {0, 1, 2, 1, 3, 4, 2, 4, 5};

  // Shape matrix, with the sign of the singular vector chosen so that det(A) > 0.
  double A[9];
  for (int m = 0; m < 9; ++m) {
    A[m] = beta[iv[m]];
  }
  double dA = determinant3(A);
  normaliseQuadricSign(A, beta, 10, dA);

  // Centre: A * w = (beta6, beta7, beta8) and V = -w / 2.
  double w[3];
  const double linear[3] = {beta[6], beta[7], beta[8]};
  solve3(A, linear, w);
  V[0] = -0.5 * w[0];
  V[1] = -0.5 * w[1];
  V[2] = -0.5 * w[2];

  // V'AV - c, summed term by term in this order.
  const double terms[7] = {A[at3(0, 0)] * V[0] * V[0],
                           2.0 * A[at3(1, 0)] * V[1] * V[0],
                           2.0 * A[at3(2, 0)] * V[2] * V[0],
                           A[at3(1, 1)] * V[1] * V[1],
                           2.0 * A[at3(2, 1)] * V[1] * V[2],
                           A[at3(2, 2)] * V[2] * V[2],
                           -beta[9]};
  double radiusTerm = terms[0];
  for (int t = 1; t < 7; ++t) {
    radiusTerm += terms[t];
  }

  // Soft-iron matrix: square root of A scaled to determinant 1, and the matching field strength.
  const double det3root = cubeRootOfDeterminant(dA);
  double normalised[9];
  for (int m = 0; m < 9; ++m) {
    normalised[m] = A[m] / det3root;
  }
  sqrtm(normalised, Winv);
  int jmax;
  ispd = internal::chol(A, jmax) == 0;
  return std::sqrt(std::fabs(radiusTerm)) / std::sqrt(det3root);
}

// General ellipsoid fit to the samples, with buffer (10 doubles per sample) as the design
// matrix's storage; see correctEllipsoid10.
static double generalFit(const SampleColumns& samples, double* buffer, creal_T Winv[9], double V[3],
                         double& er, boolean_T& ispd) {
  const int n = samples.count;
  const bool finite = buildDesign<10>(samples, buffer, GeneralTerms());
  const int extents[2] = {n, 10};
  array<double, 2> d(buffer, extents);
  const double B = generalFromDesign(d, finite, Winv, V, ispd);
  er = ellipsoidError(Winv, V, B, samples, buffer);
  return B;
}

// General ellipsoid fit to the samples (x_i, y_i, z_i): the ten coefficients of the quadric q(v) =
// v'Av + b'v + c are the right singular vector of the smallest singular value of the design matrix.
// Writes the offset V (the centre), the soft-iron matrix Winv = sqrtm(A/det(A)^(1/3)) (complex,
// column-major), the fit error er and whether A is positive definite; returns the field strength B.
// Non-finite samples, or no sample at all, give NaN outputs and ispd false. Columns of unequal
// lengths are expanded as binary_expand_op does.
[[maybe_unused]] static double correctEllipsoid10(const array<double, 1>& x,
                                                  const array<double, 1>& y,
                                                  const array<double, 1>& z, creal_T Winv[9],
                                                  double V[3], double& er, boolean_T& ispd) {
  const int n = x.size(0);
  if (y.size(0) == n && z.size(0) == n) {
    const SampleColumns samples = makeSampleColumns(x.data(), y.data(), z.data(), n, nullptr, n);
    internal::WorkBuffer<double> buffer(static_cast<std::size_t>(n) * 10);
    return generalFit(samples, buffer.data(), Winv, V, er, ispd);
  }

  array<double, 1> r;
  r.set_size(n);
  for (int i = 0; i < n; ++i) {
    r[i] = 2.0 * x[i];
  }
  array<double, 2> d;
  binary_expand_op(d, x, r, y, z);
  bool finite = true;
  const int designCount = d.numel();
  for (int k = 0; k < designCount; ++k) {
    if (!std::isfinite(d[k])) {
      finite = false;
      break;
    }
  }
  const double B = generalFromDesign(d, finite, Winv, V, ispd);
  array<double, 2> copy;
  copy.set_size(n, 3);
  copyColumn(x, copy, 0, n);
  copyColumn(y, copy, 1, n);
  copyColumn(z, copy, 2, n);
  const SampleColumns samples = makeSampleColumns(
      copy.data(), copy.data() + n, copy.data() + 2 * static_cast<long>(n), n, nullptr, n);
  std::unique_ptr<double[]> scratch(new double[static_cast<std::size_t>(n) * 2]);
  er = ellipsoidError(Winv, V, B, samples, scratch.get());
  return B;
}

// Sphere |m - c| = R fitted by linear least squares: x^2 + y^2 + z^2 = [x y z 1] * s with
// s = (2c, R^2 - |c|^2), the design matrix and right-hand side built in buffer (5 doubles per
// sample). Writes the centre c and returns R; er receives the normalised error
// sqrt(mean(res^2)) / (2 R^2) of the linear residuals (NaN without samples).
static double sphereFit(const SampleColumns& samples, double* buffer, double c[3], double& er) {
  const int n = samples.count;
  auto squaredNorm = [](double x, double y, double z) { return (x * x + y * y) + z * z; };
  buildDesign<5>(
      samples, buffer,
      [&](const double* x, const double* y, const double* z, int m, double* const* column) {
        copyCoordinates(x, y, z, m, column);
        for (int j = 0; j < m; ++j) {
          column[4][j] = squaredNorm(x[j], y[j], z[j]);
        }
      });
  const int designExtents[2] = {n, 4};
  array<double, 2> design(buffer, designExtents);
  array<double, 1> soln(buffer + 4 * static_cast<std::size_t>(n), &n);
  mldivideInPlace(design, soln);

  c[0] = 0.5 * soln[0];
  c[1] = 0.5 * soln[1];
  c[2] = 0.5 * soln[2];
  const double s[4] = {soln[0], soln[1], soln[2], soln[3]};
  const double radius = std::sqrt(((c[0] * c[0] + c[1] * c[1]) + c[2] * c[2]) + s[3]);
  double sumOfSquares = 0.0;
  forSamples(samples, 0, n, 0, [&](int i, int) {
    const double x = samples.x[i];
    const double y = samples.y[i];
    const double z = samples.z[i];
    const double fitted = (((0.0 + x * s[0]) + y * s[1]) + z * s[2]) + s[3];
    const double res = fitted - squaredNorm(x, y, z);
    sumOfSquares += res * res;
  });
  er = 1.0 / ((radius + radius) * radius) * std::sqrt(sumOfSquares / static_cast<double>(n));
  return radius;
}

// Axis-aligned ellipsoid beta0 x^2 + beta1 y^2 + beta2 z^2 + beta3 x + beta4 y + beta5 z + beta6
// = 0 from the right singular vector of the smallest singular value of the N-by-7 design matrix
// (N >= 1), built in buffer (7 doubles per sample). Writes the soft-iron matrix A7 =
// sqrtm(diag(beta0..2) / det^(1/3)) (complex), the centre v, the error er7 and whether
// diag(beta0..2) is positive definite; returns the strength.
static double axisAlignedFit(const SampleColumns& samples, double* buffer, creal_T A7[9],
                             double v[3], double& er7, bool& positiveDefinite) {
  const int n = samples.count;
  const bool finite = buildDesign<7>(
      samples, buffer,
      [](const double* x, const double* y, const double* z, int m, double* const* column) {
        for (int j = 0; j < m; ++j) {
          column[0][j] = x[j] * x[j];
        }
        for (int j = 0; j < m; ++j) {
          column[1][j] = y[j] * y[j];
        }
        for (int j = 0; j < m; ++j) {
          column[2][j] = z[j] * z[j];
        }
        copyCoordinates(x, y, z, m, column + 3);
      });
  double V1_data[49];
  int V1_size[2];
  if (finite) {
    const int extents[2] = {n, 7};
    array<double, 2> design(buffer, extents);
    double s[7];
    internal::reflapack::xzsvdc(design, s, V1_data, V1_size);
  } else {
    // A non-finite design matrix has no meaningful decomposition: the vectors are NaN.
    V1_size[0] = 7;
    V1_size[1] = n < 7 ? n : 7;
    for (int k = 0; k < 49; ++k) {
      V1_data[k] = rtNaN;
    }
  }
  double beta[7];
  for (int j = 0; j < 7; ++j) {
    beta[j] = V1_data[j + 7 * (V1_size[1] - 1)];
  }
  const double magB7 = axisAlignedFromCoefficients(beta, A7, v, positiveDefinite);
  er7 = ellipsoidError(A7, v, magB7, samples, buffer);
  return magB7;
}

double axisAlignedFromCoefficients(double beta[7], creal_T A7[9], double v[3],
                                   bool& positiveDefinite) {
  double cA[9] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
  cA[at3(0, 0)] = beta[0];
  cA[at3(1, 1)] = beta[1];
  cA[at3(2, 2)] = beta[2];
  double dA = (beta[1] * beta[0]) * beta[2];
  normaliseQuadricSign(cA, beta, 7, dA);
  for (int k = 0; k < 3; ++k) {
    v[k] = (beta[k + 3] / beta[k]) * -0.5;
  }
  const double det3root = cubeRootOfDeterminant(dA);
  double normalised[9];
  for (int m = 0; m < 9; ++m) {
    normalised[m] = cA[m] / det3root;
  }
  sqrtm(normalised, A7);
  const double magB7 =
      std::sqrt(std::fabs(((cA[at3(0, 0)] * v[0]) * v[0] + (cA[at3(1, 1)] * v[1]) * v[1]) +
                          (cA[at3(2, 2)] * v[2]) * v[2] - beta[6])) /
      std::sqrt(det3root);
  int jmax;
  positiveDefinite = internal::chol(cA, jmax) == 0;
  return magB7;
}

void magcalFits(const SampleColumns& samples, MagcalFits& fits) {
  const int n = samples.count;

  // One buffer serves the three fits in turn: the sphere's design matrix and right-hand side (5
  // doubles per sample), the axis-aligned ellipsoid's design matrix (7) and the general
  // ellipsoid's (10), each followed by the squared residuals of the error.
  internal::WorkBuffer<double> buffer(static_cast<std::size_t>(n) * 10);

  // The running choice starts as the sphere: identity matrix, its centre, strength and error.
  MagcalFit& sphere = fits.fit[0];
  sphere.radius = sphereFit(samples, buffer.data(), sphere.b, sphere.error);
  for (int m = 0; m < 9; ++m) {
    sphere.A[m] = 0.0;
  }
  sphere.A[at3(0, 0)] = 1.0;
  sphere.A[at3(1, 1)] = 1.0;
  sphere.A[at3(2, 2)] = 1.0;
  sphere.positiveDefinite = true;
  sphere.exactlyReal = true;
  fits.chosen = 0;

  // Without samples the sphere's error is NaN, so no later model could be chosen; the
  // decompositions of the ellipsoid fits would not even return a vector.
  if (n == 0) {
    for (int f = 1; f < 3; ++f) {
      MagcalFit& empty = fits.fit[f];
      for (int m = 0; m < 9; ++m) {
        empty.A[m] = rtNaN;
      }
      empty.b[0] = empty.b[1] = empty.b[2] = rtNaN;
      empty.radius = rtNaN;
      empty.error = rtNaN;
      empty.positiveDefinite = false;
      empty.exactlyReal = false;
    }
    return;
  }

  // Each later model replaces the choice only when positive definite, exactly real and strictly
  // better (a NaN error never is); ties keep the simpler model.
  creal_T A7[9];
  MagcalFit& aligned = fits.fit[1];
  aligned.radius = axisAlignedFit(samples, buffer.data(), A7, aligned.b, aligned.error,
                                  aligned.positiveDefinite);
  aligned.exactlyReal = isExactlyReal(A7);
  for (int m = 0; m < 9; ++m) {
    aligned.A[m] = A7[m].re;
  }
  double er = sphere.error;
  if (aligned.positiveDefinite && aligned.exactlyReal && er > aligned.error) {
    fits.chosen = 1;
    er = aligned.error;
  }

  creal_T Winv[9];
  MagcalFit& general = fits.fit[2];
  boolean_T ispd10;
  general.radius = generalFit(samples, buffer.data(), Winv, general.b, general.error, ispd10);
  general.positiveDefinite = ispd10;
  general.exactlyReal = isExactlyReal(Winv);
  for (int m = 0; m < 9; ++m) {
    general.A[m] = Winv[m].re;
  }
  if (general.positiveDefinite && general.exactlyReal && er > general.error) {
    fits.chosen = 2;
  }
}

void magcalFits(const array<double, 2>& d, MagcalFits& fits) {
  const int n = d.size(0);
  const double* x = d.data();
  magcalFits(makeSampleColumns(x, x + n, x + 2 * static_cast<long>(n), n, nullptr, n), fits);
}

double magcal(const array<double, 2>& d, double A[9], double b[3]) {
  MagcalFits fits;
  magcalFits(d, fits);
  const MagcalFit& kept = fits.fit[fits.chosen];
  for (int m = 0; m < 9; ++m) {
    A[m] = kept.A[m];
  }
  b[0] = kept.b[0];
  b[1] = kept.b[1];
  b[2] = kept.b[2];
  return kept.radius;
}

}  // namespace coder
