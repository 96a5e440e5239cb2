// Singular value decomposition of a tall matrix with 7 or 10 columns (the workers): Householder
// reduction to upper bidiagonal form, accumulation of the left and right factors, then
// implicitly shifted QR sweeps on the bidiagonal with deflation.
#include "xzsvdc.h"

#include <algorithm>
#include <cmath>

#include "coreThreads.h"
#include "pairMath.h"
#include "xaxpy.h"
#include "xdotc.h"
#include "xnrm2.h"
#include "xrot.h"
#include "xrotg.h"
#include "xswap.h"

namespace coder {
namespace internal {
namespace reflapack {

namespace {

using blas::ScaledSumOfSquares;
using internal::loadPair;
using internal::Pair;
using internal::splat;
using internal::storePair;

// Column-major view with 1-based element access and 1-based storage positions (as the vector
// kernels take them) for a buffer with leading dimension ld.
struct ColumnMajor {
  double* data;
  int ld;
  double& operator()(int row, int col) const { return data[(row - 1) + ld * (col - 1)]; }
  int position(int row, int col) const { return row + ld * (col - 1); }
};

// The fixed-length kernels of the p-column worker: runs of p in the p-by-p right factor, and the
// row reflector norm on the superdiagonal.
template <int P>
struct FixedKernels;

template <>
struct FixedKernels<7> {
  static double nrm2(int n, const double* x, int ix0) { return blas::xnrm2(n, x, ix0); }
  static void axpy(int n, double a, int ix0, double* y, int iy0) { blas::xaxpy(n, a, ix0, y, iy0); }
  static double dotc(int n, const double* x, int ix0, const double* y, int iy0) {
    return blas::xdotc(n, x, ix0, y, iy0);
  }
  static void rot(double* x, int ix0, int iy0, double c, double s) {
    blas::xrot(x, ix0, iy0, c, s);
  }
  static void swap(double* x, int ix0, int iy0) { blas::xswap(x, ix0, iy0); }
};

template <>
struct FixedKernels<10> {
  static double nrm2(int n, const double* x, int ix0) { return blas::b_xnrm2(n, x, ix0); }
  static void axpy(int n, double a, int ix0, double* y, int iy0) {
    blas::b_xaxpy(n, a, ix0, y, iy0);
  }
  static double dotc(int n, const double* x, int ix0, const double* y, int iy0) {
    return blas::b_xdotc(n, x, ix0, y, iy0);
  }
  static void rot(double* x, int ix0, int iy0, double c, double s) {
    blas::b_xrot(x, ix0, iy0, c, s);
  }
  static void swap(double* x, int ix0, int iy0) { blas::b_xswap(x, ix0, iy0); }
};

// Relative negligibility threshold, the double-precision epsilon 2^-52.
const double kEps = 2.2204460492503131E-16;
// Absolute negligibility threshold 2^-970 (the smallest normal double over the epsilon); also
// the magnitude below which a reflector is divided out rather than multiplied by its reciprocal.
const double kTiny = 1.0020841800044864E-292;
// Shifted QR sweeps allowed without a convergence.
const int kMaxSweeps = 75;
// Sweeps after which a superdiagonal entry is also negligible relative to the whole bidiagonal.
const int kLateTestSweeps = 20;

// x(first .. last) scaled by 1/norm: by the reciprocal when it is representable, else by
// dividing each entry.
template <typename At>
void scaleByInverse(At at, int first, int last, double norm) {
  if (std::fabs(norm) >= kTiny) {
    const double r = 1.0 / norm;
    for (int i = first; i <= last; ++i) {
      at(i) *= r;
    }
  } else {
    for (int i = first; i <= last; ++i) {
      at(i) /= norm;
    }
  }
}

// Columns colX, colY of M over rows 1 .. n: X := c*X + s*Y, Y := c*Y - s*X.
inline void rotateColumns(const ColumnMajor& M, int n, int colX, int colY, double c, double s) {
  for (int i = 1; i <= n; ++i) {
    const double xv = M(i, colX);
    const double yv = M(i, colY);
    M(i, colY) = c * yv - s * xv;
    M(i, colX) = c * xv + s * yv;
  }
}

// Columns colX, colY of M over rows 1 .. n exchanged.
inline void swapColumns(const ColumnMajor& M, int n, int colX, int colY) {
  for (int i = 1; i <= n; ++i) {
    std::swap(M(i, colX), M(i, colY));
  }
}

// Sum over rows first .. n of M(i, colX) * M(i, colY), in increasing i.
inline double columnDot(const ColumnMajor& M, int n, int first, int colX, int colY) {
  double t = 0.0;
  for (int i = first; i <= n; ++i) {
    t += M(i, colX) * M(i, colY);
  }
  return t;
}

// Rows per block of the fused passes of the bidiagonalisation: a block of every column touched
// stays in the first-level cache between the steps applied to it.
constexpr int kBlockRows = 256;

// The column reflector of one bidiagonalisation step, with column q of A not yet scaled: the
// reflector's vector is v(i) = A(i, q) * reciprocal (or A(i, q) / norm when the norm is too small
// for a reciprocal), plus 1 in row q.
struct ColumnReflector {
  int q;
  double norm;
  double reciprocal;
  bool byReciprocal;

  double v(const ColumnMajor& a, int i) const {
    const double scaled = byReciprocal ? a(i, q) * reciprocal : a(i, q) / norm;
    return i == q ? scaled + 1.0 : scaled;
  }

  // v(first) .. v(first + rows - 1) into out.
  void block(const ColumnMajor& a, int first, int rows, double* out) const {
    const double* source = &a(first, q);
    if (byReciprocal) {
      for (int k = 0; k < rows; ++k) {
        out[k] = source[k] * reciprocal;
      }
    } else {
      for (int k = 0; k < rows; ++k) {
        out[k] = source[k] / norm;
      }
    }
    if (first == q) {
      out[0] += 1.0;
    }
  }
};

// Adds v(k) * column_c(k) to t[c] for k = 0 .. rows-1 in increasing k, for C columns starting at
// base with leading dimension ld; two columns share a vector register, each lane keeping its own
// sequential sum.
template <int C>
void dotsFixed(const double* v, const double* base, std::ptrdiff_t ld, int rows, double* t) {
  constexpr int kPairs = C / 2;
  Pair acc[kPairs > 0 ? kPairs : 1];
  for (int j = 0; j < kPairs; ++j) {
    acc[j] = Pair{t[2 * j], t[2 * j + 1]};
  }
  double last = (C % 2 != 0) ? t[C - 1] : 0.0;
  for (int k = 0; k < rows; ++k) {
    const Pair vk = splat(v[k]);
    for (int j = 0; j < kPairs; ++j) {
      const Pair x = {base[(2 * j) * ld + k], base[(2 * j + 1) * ld + k]};
      acc[j] += vk * x;
    }
    if (C % 2 != 0) {
      last += v[k] * base[(C - 1) * ld + k];
    }
  }
  for (int j = 0; j < kPairs; ++j) {
    t[2 * j] = acc[j][0];
    t[2 * j + 1] = acc[j][1];
  }
  if (C % 2 != 0) {
    t[C - 1] = last;
  }
}

// dotsFixed for a column count known only at run time (1 .. 9).
void dotsBlock(int columns, const double* v, const double* base, std::ptrdiff_t ld, int rows,
               double* t) {
  switch (columns) {
    case 1:
      dotsFixed<1>(v, base, ld, rows, t);
      break;
    case 2:
      dotsFixed<2>(v, base, ld, rows, t);
      break;
    case 3:
      dotsFixed<3>(v, base, ld, rows, t);
      break;
    case 4:
      dotsFixed<4>(v, base, ld, rows, t);
      break;
    case 5:
      dotsFixed<5>(v, base, ld, rows, t);
      break;
    case 6:
      dotsFixed<6>(v, base, ld, rows, t);
      break;
    case 7:
      dotsFixed<7>(v, base, ld, rows, t);
      break;
    case 8:
      dotsFixed<8>(v, base, ld, rows, t);
      break;
    default:
      dotsFixed<9>(v, base, ld, rows, t);
      break;
  }
}

// Dot products t(jj) = sum over rows q .. n of v(i) * A(i, jj), for the columns jj = first .. last
// (at most 9), each summed in increasing i as a sequence of its own; A is only read.
void reflectorDots(const ColumnMajor& a, int n, const ColumnReflector& h, int first, int last,
                   double* t) {
  const int columns = last - first + 1;
  if (columns < 1) {
    return;
  }
  double sums[9];
  for (int c = 0; c < columns; ++c) {
    sums[c] = 0.0;
  }
  double v[kBlockRows];
  for (int i0 = h.q; i0 <= n; i0 += kBlockRows) {
    const int rows = std::min(kBlockRows, n - i0 + 1);
    h.block(a, i0, rows, v);
    dotsBlock(columns, v, &a(i0, first), a.ld, rows, sums);
  }
  for (int c = 0; c < columns; ++c) {
    t[first - 1 + c] = sums[c];
  }
}

// What the fused pass applies to the rows below row q of one bidiagonalisation step.
template <int P>
struct StepUpdate {
  int q;
  const ColumnReflector* column;  // null when the column reflector is skipped
  double f[P];                    // A(:, jj) += f(jj) * v, for f(jj) != 0
  bool rowReflector;              // the row reflector e(q+1 .. P) is applied to rows q+1 .. n
  double e[P];                    // its vector ...
  double g[P];                    // ... and the factors -e(jj) / e(q+1)
  bool noZeroFactor;              // no f, e or g in use is exactly 0
  bool keepVector;                // the scaled v is stored in column q (the left factor needs it)
};

// The update of one block of rows for C columns starting at base (leading dimension ld), two rows
// at a time: the column update x += f(c) * v when Column is set, then the row reflector w =
// sum over c of e(c) * x(c) from 0 and x += g(c) * w when Row is set. Every factor in use must be
// non-zero (a zero one is skipped, which the general form handles).
template <int C, bool Column, bool Row>
void updateFixed(const double* v, double* base, std::ptrdiff_t ld, int rows, const double* f,
                 const double* e, const double* g) {
  Pair fs[C];
  Pair es[C];
  Pair gs[C];
  for (int c = 0; c < C; ++c) {
    fs[c] = splat(Column ? f[c] : 0.0);
    es[c] = splat(Row ? e[c] : 0.0);
    gs[c] = splat(Row ? g[c] : 0.0);
  }
  int k = 0;
  for (; k + 2 <= rows; k += 2) {
    Pair x[C];
    for (int c = 0; c < C; ++c) {
      x[c] = loadPair(base + c * ld + k);
    }
    if (Column) {
      const Pair vk = loadPair(v + k);
      for (int c = 0; c < C; ++c) {
        x[c] = fs[c] * vk + x[c];
      }
    }
    if (Row) {
      Pair w = splat(0.0);
      for (int c = 0; c < C; ++c) {
        w = es[c] * x[c] + w;
      }
      for (int c = 0; c < C; ++c) {
        x[c] = gs[c] * w + x[c];
      }
    }
    for (int c = 0; c < C; ++c) {
      storePair(base + c * ld + k, x[c]);
    }
  }
  for (; k < rows; ++k) {
    double x[C];
    for (int c = 0; c < C; ++c) {
      x[c] = base[c * ld + k];
    }
    if (Column) {
      for (int c = 0; c < C; ++c) {
        x[c] = f[c] * v[k] + x[c];
      }
    }
    if (Row) {
      double w = 0.0;
      for (int c = 0; c < C; ++c) {
        w = e[c] * x[c] + w;
      }
      for (int c = 0; c < C; ++c) {
        x[c] = g[c] * w + x[c];
      }
    }
    for (int c = 0; c < C; ++c) {
      base[c * ld + k] = x[c];
    }
  }
}

template <int C>
void updateFixedFlags(bool column, bool row, const double* v, double* base, std::ptrdiff_t ld,
                      int rows, const double* f, const double* e, const double* g) {
  if (column && row) {
    updateFixed<C, true, true>(v, base, ld, rows, f, e, g);
  } else if (column) {
    updateFixed<C, true, false>(v, base, ld, rows, f, e, g);
  } else {
    updateFixed<C, false, true>(v, base, ld, rows, f, e, g);
  }
}

// updateFixed for a column count known only at run time (1 .. 9).
void updateBlock(int columns, bool column, bool row, const double* v, double* base,
                 std::ptrdiff_t ld, int rows, const double* f, const double* e, const double* g) {
  switch (columns) {
    case 1:
      updateFixedFlags<1>(column, row, v, base, ld, rows, f, e, g);
      break;
    case 2:
      updateFixedFlags<2>(column, row, v, base, ld, rows, f, e, g);
      break;
    case 3:
      updateFixedFlags<3>(column, row, v, base, ld, rows, f, e, g);
      break;
    case 4:
      updateFixedFlags<4>(column, row, v, base, ld, rows, f, e, g);
      break;
    case 5:
      updateFixedFlags<5>(column, row, v, base, ld, rows, f, e, g);
      break;
    case 6:
      updateFixedFlags<6>(column, row, v, base, ld, rows, f, e, g);
      break;
    case 7:
      updateFixedFlags<7>(column, row, v, base, ld, rows, f, e, g);
      break;
    case 8:
      updateFixedFlags<8>(column, row, v, base, ld, rows, f, e, g);
      break;
    default:
      updateFixedFlags<9>(column, row, v, base, ld, rows, f, e, g);
      break;
  }
}

// Rows first .. last (> q) of one step: the column update A(i, jj) += f(jj) * v(i) (writing the
// scaled v(i) into column q when the left factor is wanted; nothing else reads it), then the row
// reflector: w = sum over jj of e(jj) * A(i, jj), in increasing jj from 0, and A(i, jj) += g(jj) *
// w. Every element sees the same operations in the same order as when each update is a pass of its
// own. When norm is given, the rows' entries of column q+1, final after the update, are added to it
// in increasing i.
template <int P>
void updateRows(const ColumnMajor& a, const StepUpdate<P>& u, int first, int last,
                ScaledSumOfSquares* norm, internal::PassProgress* done = nullptr) {
  const int q = u.q;
  const int columns = P - q;
  double v[kBlockRows];
  double w[kBlockRows];
  for (int i0 = first; i0 <= last; i0 += kBlockRows) {
    const int rows = std::min(kBlockRows, last - i0 + 1);
    if (u.column != nullptr) {
      u.column->block(a, i0, rows, v);
      if (u.keepVector) {
        double* vq = &a(i0, q);
        for (int k = 0; k < rows; ++k) {
          vq[k] = v[k];
        }
      }
    }
    if (u.noZeroFactor) {
      if (columns > 0 && (u.column != nullptr || u.rowReflector)) {
        updateBlock(columns, u.column != nullptr, u.rowReflector, v, &a(i0, q + 1), a.ld, rows,
                    u.f + q, u.e + q, u.g + q);
      }
    } else {
      if (u.column != nullptr) {
        for (int jj = q + 1; jj <= P; ++jj) {
          const double f = u.f[jj - 1];
          if (f != 0.0) {
            double* target = &a(i0, jj);
            for (int k = 0; k < rows; ++k) {
              target[k] = f * v[k] + target[k];
            }
          }
        }
      }
      if (u.rowReflector) {
        for (int k = 0; k < rows; ++k) {
          w[k] = 0.0;
        }
        for (int jj = q + 1; jj <= P; ++jj) {
          const double e = u.e[jj - 1];
          if (e != 0.0) {
            const double* source = &a(i0, jj);
            for (int k = 0; k < rows; ++k) {
              w[k] = e * source[k] + w[k];
            }
          }
        }
        for (int jj = q + 1; jj <= P; ++jj) {
          const double g = u.g[jj - 1];
          if (g != 0.0) {
            double* target = &a(i0, jj);
            for (int k = 0; k < rows; ++k) {
              target[k] = g * w[k] + target[k];
            }
          }
        }
      }
    }
    if (norm != nullptr) {
      norm->addRun(&a(i0, q + 1), rows);
    }
    if (done != nullptr) {
      done->advance(i0 + rows - 1);
    }
  }
}

// Norm of A(first .. n, col) as the column form of xnrm2 computes it (exactly |A(n, col)| for a
// single row).
double columnNorm(const ColumnMajor& a, int n, int first, int col) {
  if (first > n) {
    return 0.0;
  }
  if (first == n) {
    return std::fabs(a(n, col));
  }
  ScaledSumOfSquares sum;
  sum.addRun(&a(first, col), n - first + 1);
  return sum.norm();
}

// The decomposition for P columns; see xzsvdc in the header. U is computed only when given.
template <int P>
int decompose(coder::array<double, 2>& A, coder::array<double, 2>* U, double* S_data,
              double* V_data, int* V_size) {
  typedef FixedKernels<P> K;
  const int n = A.size(0);
  const int k = std::min(n, P);

  double s[P];
  double e[P];
  double Vf[P * P];
  std::fill(s, s + P, 0.0);
  std::fill(e, e + P, 0.0);
  std::fill(Vf, Vf + P * P, 0.0);
  if (U != nullptr) {
    U->set_size(n, k);
    const int numelU = n * k;
    for (int i = 0; i < numelU; ++i) {
      (*U)[i] = 0.0;
    }
  }
  V_size[0] = P;
  V_size[1] = k;
  if (n == 0) {
    return 0;
  }

  auto S = [&s](int q) -> double& { return s[q - 1]; };
  auto E = [&e](int q) -> double& { return e[q - 1]; };
  const ColumnMajor a{A.data(), n};
  const ColumnMajor u{U != nullptr ? U->data() : nullptr, n};
  const ColumnMajor v{Vf, P};

  const int nct = std::min(n - 1, P);  // column reflectors
  const int nrt = std::min(n, P - 2);  // row reflectors
  const int lu = std::max(nct, nrt);
  int m = std::min(n + 1, P);  // order of the bidiagonal
  const int mm = m;

  // Householder bidiagonalisation: s holds the diagonal, e the superdiagonal. Each step takes two
  // passes over the rows below the diagonal: the dot products of the column reflector with every
  // remaining column, then the column update, the row reflector and the norm of the next column
  // together. Each sum keeps its own sequential order, so the bits are those of one pass per
  // column and per update. The first pass splits the columns between two threads, the second
  // the rows.
  double nextNorm = nct >= 1 ? columnNorm(a, n, 1, 1) : 0.0;
  for (int q = 1; q <= lu; ++q) {
    StepUpdate<P> step;
    step.q = q;
    step.column = nullptr;
    step.rowReflector = false;
    step.noZeroFactor = true;
    step.keepVector = U != nullptr;
    ColumnReflector h{q, 0.0, 0.0, false};
    if (q <= nct) {
      double nrm = nextNorm;
      if (nrm > 0.0) {
        if (a(q, q) < 0.0) {
          nrm = -nrm;
        }
        h.norm = nrm;
        h.byReciprocal = std::fabs(nrm) >= kTiny;
        h.reciprocal = 1.0 / nrm;
        S(q) = -nrm;
        step.column = &h;
      } else {
        S(q) = 0.0;
      }
    }

    // Column update factors f(jj) = -t(jj) / v(q), then row q itself.
    if (step.column != nullptr) {
      double t[P];
      const int columns = P - q;
      const bool split = columns >= 2 && splitPays(n - q + 1);
      const int firstOfSecond = q + 1 + columns / 2;
      runTwoParts(split, [&](int part) {
        if (!split) {
          if (part == 0) {
            reflectorDots(a, n, h, q + 1, P, t);
          }
        } else if (part == 0) {
          reflectorDots(a, n, h, q + 1, firstOfSecond - 1, t);
        } else {
          reflectorDots(a, n, h, firstOfSecond, P, t);
        }
      });
      const double vq = h.v(a, q);
      a(q, q) = vq;
      for (int jj = q + 1; jj <= P; ++jj) {
        step.f[jj - 1] = -t[jj - 1] / vq;
        if (step.f[jj - 1] != 0.0) {
          a(q, jj) = step.f[jj - 1] * vq + a(q, jj);
        } else {
          step.noZeroFactor = false;
        }
      }
    }
    for (int jj = q + 1; jj <= P; ++jj) {
      E(jj) = a(q, jj);
    }

    // Row reflector on e(q+1 .. P).
    if (q <= nrt) {
      double nrm = K::nrm2(P - q, e, q + 1);
      if (nrm != 0.0) {
        if (E(q + 1) < 0.0) {
          nrm = -nrm;
        }
        E(q) = nrm;
        scaleByInverse(E, q + 1, P, nrm);
        E(q + 1) += 1.0;
        E(q) = -E(q);
        if (q + 1 <= n) {
          step.rowReflector = true;
          for (int jj = q + 1; jj <= P; ++jj) {
            step.e[jj - 1] = E(jj);
            step.g[jj - 1] = -E(jj) / E(q + 1);
            if (step.e[jj - 1] == 0.0 || step.g[jj - 1] == 0.0) {
              step.noZeroFactor = false;
            }
          }
        }
      } else {
        E(q) = 0.0;
      }
      for (int i = q + 1; i <= P; ++i) {
        v(i, q) = E(i);
      }
    }

    // Rows q+1 .. n: column update, row reflector, and the norm of the next column below its
    // diagonal. Split by rows: the first part adds its rows to the norm and then follows the
    // second part, adding each block of rows that the second part has finished; run one after
    // the other, the second part's rows are added at the end.
    const bool wantNorm = q + 1 <= nct;
    const bool update = step.column != nullptr || step.rowReflector;
    if (update || wantNorm) {
      ScaledSumOfSquares norm;
      const bool split = update && splitPays(n - q);
      const int firstOfSecond = split ? q + 1 + (n - q) / 2 : n + 1;
      int normThrough = q;  // the rows q+1 .. normThrough are in the norm
      if (update) {
        internal::PassProgress secondDone(firstOfSecond - 1);
        runTwoPartsTogether(split, [&](int part, bool together) {
          if (part == 0) {
            updateRows(a, step, q + 1, firstOfSecond - 1, wantNorm ? &norm : nullptr);
            normThrough = firstOfSecond - 1;
            while (together && wantNorm && normThrough < n) {
              const int done = secondDone.waitBeyond(normThrough);
              norm.addRun(&a(normThrough + 1, q + 1), done - normThrough);
              normThrough = done;
            }
          } else if (firstOfSecond <= n) {
            updateRows(a, step, firstOfSecond, n, nullptr, &secondDone);
          }
        });
      }
      if (wantNorm) {
        if (normThrough < n) {
          norm.addRun(&a(normThrough + 1, q + 1), n - normThrough);
        }
        nextNorm = q + 1 == n ? std::fabs(a(n, q + 1)) : norm.norm();
      }
    }

    if (U != nullptr && q <= nct) {
      for (int i = q; i <= n; ++i) {
        u(i, q) = a(i, q);
      }
    }
  }

  // The bidiagonal of order m.
  if (nct < P) {
    S(nct + 1) = a(nct + 1, nct + 1);
  }
  if (n < m) {
    S(m) = 0.0;
  }
  if (nrt + 1 < m) {
    E(nrt + 1) = a(nrt + 1, m);
  }
  E(m) = 0.0;

  // Left factor: the first k columns of the product of the column reflectors.
  if (U != nullptr) {
    for (int j = nct + 1; j <= k; ++j) {
      for (int i = 1; i <= n; ++i) {
        u(i, j) = 0.0;
      }
      u(j, j) = 1.0;
    }
    for (int q = nct; q >= 1; --q) {
      if (S(q) != 0.0) {
        for (int jj = q + 1; jj <= k; ++jj) {
          const double f = -columnDot(u, n, q, q, jj) / u(q, q);
          if (f != 0.0) {
            for (int i = q; i <= n; ++i) {
              u(i, jj) = f * u(i, q) + u(i, jj);
            }
          }
        }
        for (int i = q; i <= n; ++i) {
          u(i, q) = -u(i, q);
        }
        u(q, q) += 1.0;
        for (int i = 1; i < q; ++i) {
          u(i, q) = 0.0;
        }
      } else {
        for (int i = 1; i <= n; ++i) {
          u(i, q) = 0.0;
        }
        u(q, q) = 1.0;
      }
    }
  }

  // Right factor: the product of the row reflectors, all P columns.
  for (int q = P; q >= 1; --q) {
    if ((q <= nrt) && (E(q) != 0.0)) {
      const int qp1q = v.position(q + 1, q);
      for (int jj = q + 1; jj <= P; ++jj) {
        const int qp1jj = v.position(q + 1, jj);
        const double t = K::dotc(P - q, Vf, qp1q, Vf, qp1jj);
        K::axpy(P - q, -t / v(q + 1, q), qp1q, Vf, qp1jj);
      }
    }
    for (int i = 1; i <= P; ++i) {
      v(i, q) = 0.0;
    }
    v(q, q) = 1.0;
  }

  // Make the bidiagonal non-negative, moving the signs into U and V.
  for (int q = 1; q <= m; ++q) {
    if (S(q) != 0.0) {
      const double r = S(q) / std::fabs(S(q));
      S(q) = std::fabs(S(q));
      if (q < m) {
        E(q) /= r;
      }
      if (U != nullptr && q <= n) {
        for (int i = 1; i <= n; ++i) {
          u(i, q) *= r;
        }
      }
    }
    if ((q < m) && (E(q) != 0.0)) {
      const double r = std::fabs(E(q)) / E(q);
      E(q) = std::fabs(E(q));
      S(q + 1) *= r;
      for (int i = 1; i <= P; ++i) {
        v(i, q + 1) *= r;
      }
    }
  }

  double snorm = 0.0;
  for (int i = 1; i <= m; ++i) {
    snorm = std::fmax(snorm, std::fmax(std::fabs(S(i)), std::fabs(E(i))));
  }

  // Shifted QR sweeps on the active block s(l..m), e(l..m-1) until every value has converged.
  int iter = 0;
  while ((m > 0) && (iter < kMaxSweeps)) {
    // Split at the last negligible superdiagonal entry e(l); l = 0 if there is none.
    int l = m - 1;
    for (; l >= 1; --l) {
      const double test = std::fabs(E(l));
      if ((test <= kEps * (std::fabs(S(l)) + std::fabs(S(l + 1)))) || (test <= kTiny) ||
          ((iter > kLateTestSweeps) && (test <= kEps * snorm))) {
        E(l) = 0.0;
        break;
      }
    }

    // Case 1: deflate a negligible s(m); case 2: split at a negligible s(l); case 3: QR sweep;
    // case 4: s(m) has converged.
    int kase;
    if (l == m - 1) {
      kase = 4;
    } else {
      int ls = m;
      for (; ls > l; --ls) {
        const double t =
            ((ls < m) ? std::fabs(E(ls)) : 0.0) + ((ls > l + 1) ? std::fabs(E(ls - 1)) : 0.0);
        const double ztest = std::fabs(S(ls));
        if ((ztest <= kEps * t) || (ztest <= kTiny)) {
          S(ls) = 0.0;
          break;
        }
      }
      if (ls == l) {
        kase = 3;
      } else if (ls == m) {
        kase = 1;
      } else {
        kase = 2;
        l = ls;
      }
    }
    l += 1;

    switch (kase) {
      case 1: {
        // Chase e(m-1) up the column m of the bidiagonal and out.
        double f = E(m - 1);
        E(m - 1) = 0.0;
        for (int kk = m - 1; kk >= l; --kk) {
          double sn;
          const double cs = blas::xrotg(S(kk), f, sn);
          if (kk > l) {
            const double b = E(kk - 1);
            f = -sn * b;
            E(kk - 1) = b * cs;
          }
          K::rot(Vf, v.position(1, kk), v.position(1, m), cs, sn);
        }
        break;
      }
      case 2: {
        // Chase e(l-1) along row l-1 and out; only U changes. While m = n + 1 < P, U has no
        // column m: s(m) is then exactly 0 and every pass takes case 1 or 4, unless an overflow
        // or a NaN in A has made s(m) NaN, and only then is the missing column skipped.
        double f = E(l - 1);
        E(l - 1) = 0.0;
        for (int kk = l; kk <= m; ++kk) {
          double sn;
          const double cs = blas::xrotg(S(kk), f, sn);
          const double b = E(kk);
          f = -sn * b;
          E(kk) = b * cs;
          if (U != nullptr && kk <= n) {
            rotateColumns(u, n, kk, l - 1, cs, sn);
          }
        }
        break;
      }
      case 3: {
        // Shift from the trailing 2-by-2 block of B'B, computed on scaled values.
        const double scale = std::fmax(
            std::fmax(
                std::fmax(std::fmax(std::fabs(S(m)), std::fabs(S(m - 1))), std::fabs(E(m - 1))),
                std::fabs(S(l))),
            std::fabs(E(l)));
        const double sm = S(m) / scale;
        const double smm1 = S(m - 1) / scale;
        const double emm1 = E(m - 1) / scale;
        const double sl = S(l) / scale;
        const double el = E(l) / scale;
        const double b = ((smm1 + sm) * (smm1 - sm) + emm1 * emm1) / 2.0;
        double c = sm * emm1;
        c *= c;
        double shift = 0.0;
        if ((b != 0.0) || (c != 0.0)) {
          shift = std::sqrt(b * b + c);
          if (b < 0.0) {
            shift = -shift;
          }
          shift = c / (b + shift);
        }
        double f = (sl + sm) * (sl - sm) + shift;
        double g = sl * el;
        for (int kk = l; kk <= m - 1; ++kk) {
          double sn;
          double cs = blas::xrotg(f, g, sn);
          if (kk > l) {
            E(kk - 1) = f;
          }
          f = cs * S(kk) + sn * E(kk);
          E(kk) = cs * E(kk) - sn * S(kk);
          g = sn * S(kk + 1);
          S(kk + 1) *= cs;
          K::rot(Vf, v.position(1, kk), v.position(1, kk + 1), cs, sn);
          cs = blas::xrotg(f, g, sn);
          S(kk) = f;
          f = cs * E(kk) + sn * S(kk + 1);
          S(kk + 1) = cs * S(kk + 1) - sn * E(kk);
          g = sn * E(kk + 1);
          E(kk + 1) *= cs;
          if (U != nullptr && kk < n) {
            rotateColumns(u, n, kk, kk + 1, cs, sn);
          }
        }
        E(m - 1) = f;
        ++iter;
        break;
      }
      default: {
        // s(l) has converged: make it non-negative and move it down past smaller values.
        if (S(l) < 0.0) {
          S(l) = -S(l);
          for (int i = 1; i <= P; ++i) {
            v(i, l) = -v(i, l);
          }
        }
        while ((l < mm) && (S(l) < S(l + 1))) {
          std::swap(S(l), S(l + 1));
          K::swap(Vf, v.position(1, l), v.position(1, l + 1));
          if (U != nullptr && l < n) {
            swapColumns(u, n, l, l + 1);
          }
          ++l;
        }
        iter = 0;
        --m;
        break;
      }
    }
  }

  for (int j = 1; j <= k; ++j) {
    S_data[j - 1] = S(j);
    for (int i = 1; i <= P; ++i) {
      V_data[(i - 1) + P * (j - 1)] = v(i, j);
    }
  }
  return k;
}

}  // namespace

int xzsvdc(coder::array<double, 2>& A, coder::array<double, 2>& U, double* S_data, double* V_data,
           int* V_size) {
  return decompose<7>(A, &U, S_data, V_data, V_size);
}

int xzsvdc(coder::array<double, 2>& A, double* S_data, double* V_data, int* V_size) {
  return decompose<7>(A, nullptr, S_data, V_data, V_size);
}

int b_xzsvdc(coder::array<double, 2>& A, coder::array<double, 2>& U, double* S_data, double* V_data,
             int* V_size) {
  return decompose<10>(A, &U, S_data, V_data, V_size);
}

int b_xzsvdc(coder::array<double, 2>& A, double* S_data, double* V_data, int* V_size) {
  return decompose<10>(A, nullptr, S_data, V_data, V_size);
}

}  // namespace reflapack
}  // namespace internal
}  // namespace coder
