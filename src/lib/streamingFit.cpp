#include "streamingFit.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "coder_array.h"
#include "coreThreads.h"
#include "pairMath.h"
#include "xgeqp3.h"
#include "xzsvdc.h"

namespace fluxtrim {
namespace detail {

namespace {

// The columns of the streamed design, ordered so that the sphere's design [x y z 1] and the
// axis-aligned ellipsoid's are leading blocks of the general ellipsoid's, and the sphere's
// right-hand side |v|^2 comes last, where it touches none of them.
enum Column : int { kX, kY, kZ, kOne, kXX, kYY, kZZ, kXY, kXZ, kYZ, kNormSquared, kColumns };

// Where the core's coefficient vectors take each column: the axis-aligned ellipsoid's order x^2,
// y^2, z^2, x, y, z, 1 and the general ellipsoid's x^2, 2xy, 2xz, y^2, 2yz, z^2, x, y, z, 1.
constexpr int kAlignedColumns[7] = {kXX, kYY, kZZ, kX, kY, kZ, kOne};
constexpr int kGeneralColumns[10] = {kXX, kXY, kXZ, kYY, kYZ, kZZ, kX, kY, kZ, kOne};

// Rows folded into R at a time: their design rows (22 KiB) stay in the first-level cache through
// the eleven sweeps of a fold.
constexpr std::size_t kFoldRows = 256;

// Coordinates beyond this magnitude (1e50, squares beyond 1e100) go to the core, whose scaled
// norms survive them; below it no sum of squares of the blocks can overflow.
constexpr double kLargestCoordinate = 1e50;

// Double-precision epsilon (2^-52) and its square root 2^-26, as the core's rank test uses them.
constexpr double kEps = 2.220446049250313e-16;
constexpr double kSqrtEps = 1.4901161193847656e-08;

// How far from the core's rank threshold the sphere's design must stay, as a factor: closer, the
// core's pivoted solve and this one could disagree about the rank.
constexpr double kRankMargin = 1e3;

// The smallest singular value of an ellipsoid's design must lie below the next one by at least
// this fraction of the largest. The fitted vector moves by about eps / gap under rounding: with a
// smaller gap two decompositions could disagree beyond 1e-9, and with no gap at all the vector is
// fixed by rounding, not by the samples. (Recordings in nanotesla come to about 1e-5.)
constexpr double kSingularGap = 1e-6;

// A smallest singular value of the design, its columns scaled to norm 1, below this fraction of
// the largest is an exact fit: the samples lie on the quadric to rounding, which then decides the
// fitted vector and the model made from it (another decomposition may find another quadric
// through the same samples). The scaled value is about the noise over the field, in any unit.
constexpr double kExactFit = 1e-12;

// Normalised fit errors below this are rounding noise (noise-free samples), and errors closer than
// this fraction of each other cannot be ordered reliably: the choice between them, and the
// figures quoted for it, are left to the core.
constexpr double kErrorFloor = 1e-12;
constexpr double kErrorTie = 1e-9;
// An error is taken from R only when rounding cannot move it by more than this fraction.
constexpr double kErrorTrust = 1e-10;

// The upper triangle of the R factor, row by row; the strict lower triangle stays 0.
struct Triangle {
  double r[kColumns][kColumns] = {};
};

// The design row of a sample, with the core's products (2x formed once per mixed term).
inline void designRow(const Vec3& v, double* row) {
  const double x = v[0];
  const double y = v[1];
  const double z = v[2];
  row[kX] = x;
  row[kY] = y;
  row[kZ] = z;
  row[kOne] = 1.0;
  row[kXX] = x * x;
  row[kYY] = y * y;
  row[kZZ] = z * z;
  row[kXY] = (2.0 * x) * y;
  row[kXZ] = (2.0 * x) * z;
  row[kYZ] = (y * 2.0) * z;
  row[kNormSquared] = (x * x + y * y) + z * z;
}

// One pass over the m rows of block for column J: the reflection's update of columns J+1 on
// (subtracting factor[k] times the row's column J; none for J = -1) and the dot products of
// column J+1 with them, summed over the rows in order into dots. The bounds are constants and
// the columns go in pairs, each lane rounding as scalar code does, so the loops unroll and the
// sums stay in registers.
template <int J>
void sweepRows(double* block, std::size_t m, const double (&factor)[kColumns],
               double (&dots)[kColumns]) {
  using coder::internal::loadPair;
  using coder::internal::Pair;
  using coder::internal::storePair;
  constexpr int kRest = kColumns - J - 1;
  constexpr int kPairs = kRest / 2;
  const double* f = factor + J + 1;
  Pair sums[kPairs > 0 ? kPairs : 1] = {};
  double last = 0.0;  // the odd column's sum
  for (std::size_t i = 0; i < m; ++i) {
    double* row = block + i * kColumns + J + 1;
    if constexpr (J >= 0) {
      const double pivot = row[-1];
      for (int p = 0; p < kPairs; ++p) {
        storePair(row + 2 * p, loadPair(row + 2 * p) - loadPair(f + 2 * p) * pivot);
      }
      if (kRest % 2 != 0) {
        row[kRest - 1] -= f[kRest - 1] * pivot;
      }
    }
    const double next = row[0];
    for (int p = 0; p < kPairs; ++p) {
      sums[p] += next * loadPair(row + 2 * p);
    }
    if (kRest % 2 != 0) {
      last += next * row[kRest - 1];
    }
  }
  for (int p = 0; p < kPairs; ++p) {
    dots[J + 1 + 2 * p] = sums[p][0];
    dots[J + 2 + 2 * p] = sums[p][1];
  }
  if (kRest % 2 != 0) {
    dots[J + kRest] = last;
  }
}

void sweepRows(int j, double* block, std::size_t m, const double (&factor)[kColumns],
               double (&dots)[kColumns]) {
  using Sweep = void (*)(double*, std::size_t, const double(&)[kColumns], double(&)[kColumns]);
  static constexpr Sweep kSweeps[kColumns] = {
      sweepRows<-1>, sweepRows<0>, sweepRows<1>, sweepRows<2>, sweepRows<3>, sweepRows<4>,
      sweepRows<5>,  sweepRows<6>, sweepRows<7>, sweepRows<8>, sweepRows<9>};
  kSweeps[j + 1](block, m, factor, dots);
}

// Folds the m rows of block (row-major, kColumns per row; overwritten) into R: the Householder QR
// of [R; block], one reflection per column, each zeroing the block's column against R's diagonal.
// A reflection's update of the block and the dot products of the next one share a pass over the
// rows, so each reflection reads the block once. No entry may exceed 1e100 in magnitude.
void foldRows(Triangle& t, double* block, std::size_t m) {
  double dots[kColumns] = {};  // sum over the rows of block(i, j) * block(i, k), k >= j
  sweepRows(-1, block, m, dots, dots);
  for (int j = 0; j < kColumns; ++j) {
    double* rj = t.r[j];
    // H = I - tau [1; u][1; u]' with u = block(:, j) * scale maps (R(j, j), block(:, j)) onto
    // (beta, 0); applied to column k it subtracts tau * w_k from R(j, k) and tau * w_k * u from
    // block(:, k), w_k = R(j, k) + scale * dots[k].
    double factor[kColumns] = {};
    const double alpha = rj[j];
    if (dots[j] > 0.0) {
      const double norm = std::sqrt(alpha * alpha + dots[j]);
      const double beta = alpha >= 0.0 ? -norm : norm;
      const double tau = (beta - alpha) / beta;
      const double scale = 1.0 / (alpha - beta);
      for (int k = j + 1; k < kColumns; ++k) {
        const double w = rj[k] + scale * dots[k];
        rj[k] -= tau * w;
        factor[k] = (tau * w) * scale;
      }
      rj[j] = beta;
    }
    if (j + 1 == kColumns) {
      break;
    }
    sweepRows(j, block, m, factor, dots);
  }
}

// Whether the core's pivoted QR of the sphere's N-by-4 design (R's leading 4-by-4 block up to an
// orthogonal factor) finds full rank, with room to spare, at its threshold for N rows.
bool sphereWellPosed(const Triangle& t, std::size_t count) {
  double leading[16];
  for (int c = 0; c < 4; ++c) {
    for (int r = 0; r < 4; ++r) {
      leading[r + 4 * c] = t.r[r][c];
    }
  }
  const int extents[2] = {4, 4};
  coder::array<double, 2> a(leading, extents);
  double tau[4];
  int pivots[4];
  int pivotsSize[2];
  coder::internal::lapack::xgeqp3(a, tau, pivots, pivotsSize);
  const double tolerance = std::min(kSqrtEps, 10.0 * kEps * static_cast<double>(count));
  const double threshold = kRankMargin * tolerance * std::fabs(leading[0]);
  for (int k = 0; k < 4; ++k) {
    if (!(std::fabs(leading[k + 4 * k]) > threshold)) {
      return false;
    }
  }
  return true;
}

// The sphere's least-squares solution [x y z 1] s = |v|^2 by back substitution on R's leading
// block (full rank): centre s(0..2) / 2, radius sqrt(|centre|^2 + s(3)).
void sphereFromTriangle(const Triangle& t, coder::MagcalFit& sphere, double s[4]) {
  for (int i = 3; i >= 0; --i) {
    double sum = t.r[i][kNormSquared];
    for (int k = i + 1; k < 4; ++k) {
      sum -= t.r[i][k] * s[k];
    }
    s[i] = sum / t.r[i][i];
  }
  for (int k = 0; k < 3; ++k) {
    sphere.b[k] = 0.5 * s[k];
  }
  sphere.radius = std::sqrt(
      ((sphere.b[0] * sphere.b[0] + sphere.b[1] * sphere.b[1]) + sphere.b[2] * sphere.b[2]) + s[3]);
  for (int m = 0; m < 9; ++m) {
    sphere.A[m] = m % 4 == 0 ? 1.0 : 0.0;
  }
  sphere.positiveDefinite = true;
  sphere.exactlyReal = true;
}

// The singular values (descending) and right singular vectors of the P-by-P column-major block,
// which is overwritten.
template <int P>
void decompose(double* block, double s[P], double v[P * P]) {
  const int extents[2] = {P, P};
  coder::array<double, 2> a(block, extents);
  int vSize[2];
  if (P == 7) {
    coder::internal::reflapack::xzsvdc(a, s, v, vSize);
  } else {
    coder::internal::reflapack::b_xzsvdc(a, s, v, vSize);
  }
}

// Whether the samples lie on a quadric to rounding: the smallest singular value of the design
// (block, R's leading part, column-major) with every column scaled to norm 1, so that no unit of
// the samples moves it, is below kExactFit of the largest.
template <int P>
bool exactFit(const double (&block)[P * P]) {
  double scaled[P * P];
  for (int c = 0; c < P; ++c) {
    double squares = 0.0;
    for (int r = 0; r < P; ++r) {
      squares += block[r + P * c] * block[r + P * c];
    }
    const double norm = std::sqrt(squares);
    for (int r = 0; r < P; ++r) {
      scaled[r + P * c] = block[r + P * c] / norm;
    }
  }
  double s[P];
  double v[P * P];
  decompose<P>(scaled, s, v);
  return !(s[P - 1] > kExactFit * s[0]);
}

// The right singular vector of the smallest singular value of R's leading P-by-P block, in the
// core's coefficient order (order[c] is the streamed column of the core's column c); false when
// that value is not set apart from the next (kSingularGap) or the fit is exact (kExactFit).
template <int P>
bool smallestSingularVector(const Triangle& t, const int (&order)[P], double beta[P]) {
  double block[P * P];
  for (int c = 0; c < P; ++c) {
    for (int r = 0; r < P; ++r) {
      block[r + P * c] = t.r[order[r]][order[c]];
    }
  }
  if (exactFit<P>(block)) {
    return false;
  }
  // R's rows and columns taken in the same order: a symmetric permutation of its Gram matrix,
  // so the singular vectors come out in the core's order. The block need not be triangular.
  double s[P];
  double v[P * P];
  decompose<P>(block, s, v);
  for (int j = 0; j < P; ++j) {
    beta[j] = v[j + P * (P - 1)];
  }
  return s[P - 2] - s[P - 1] > kSingularGap * s[0];
}

// The real parts of a complex soft-iron matrix, and whether it has no imaginary part at all.
void takeMatrix(const creal_T w[9], coder::MagcalFit& fit) {
  fit.exactlyReal = true;
  for (int m = 0; m < 9; ++m) {
    fit.A[m] = w[m].re;
    fit.exactlyReal = fit.exactlyReal && w[m].im == 0.0;
  }
}

// Position of R(j, k), k >= j, in a block's packed upper triangle.
constexpr int packed(int j, int k) {
  return j * kColumns - j * (j - 1) / 2 + (k - j);
}

// A fit's residuals r = D c, D the streamed design and c complex coefficients by column, with the
// magnitude of the terms c is formed from (for a bound on its rounding).
struct Coefficients {
  double re[kColumns] = {};
  double im[kColumns] = {};
  double size[kColumns] = {};
};

// The sphere's residuals [x y z 1] s - |v|^2.
Coefficients sphereCoefficients(const double s[4]) {
  Coefficients c;
  for (int k = 0; k < 4; ++k) {
    c.re[k] = s[k];
    c.size[k] = std::fabs(s[k]);
  }
  c.re[kNormSquared] = -1.0;
  c.size[kNormSquared] = 1.0;
  return c;
}

// An ellipsoid's residuals sum_k (W (v - V))_k^2 - B^2 = v'Qv - 2 V'Q v + V'QV - B^2 with
// Q = W'W (complex, not conjugated), as coefficients of the design's columns.
Coefficients ellipsoidCoefficients(const creal_T w[9], const double centre[3], double radius) {
  double qRe[3][3];
  double qIm[3][3];
  double qSize[3][3];
  for (int a = 0; a < 3; ++a) {
    for (int b = 0; b < 3; ++b) {
      qRe[a][b] = 0.0;
      qIm[a][b] = 0.0;
      qSize[a][b] = 0.0;
      for (int k = 0; k < 3; ++k) {
        const creal_T& p = w[k + 3 * a];
        const creal_T& q = w[k + 3 * b];
        qRe[a][b] += p.re * q.re - p.im * q.im;
        qIm[a][b] += p.re * q.im + p.im * q.re;
        qSize[a][b] += std::hypot(p.re, p.im) * std::hypot(q.re, q.im);
      }
    }
  }
  Coefficients c;
  const int squares[3] = {kXX, kYY, kZZ};
  const int mixed[3][3] = {{-1, kXY, kXZ}, {kXY, -1, kYZ}, {kXZ, kYZ, -1}};
  double constantRe = -radius * radius;
  double constantIm = 0.0;
  double constantSize = radius * radius;
  for (int a = 0; a < 3; ++a) {
    const int linear = kX + a;
    for (int b = 0; b < 3; ++b) {
      const int column = a == b ? squares[a] : mixed[a][b];
      c.re[column] = qRe[a][b];
      c.im[column] = qIm[a][b];
      c.size[column] = qSize[a][b];
      c.re[linear] -= 2.0 * qRe[a][b] * centre[b];
      c.im[linear] -= 2.0 * qIm[a][b] * centre[b];
      c.size[linear] += 2.0 * qSize[a][b] * std::fabs(centre[b]);
      constantRe += centre[a] * qRe[a][b] * centre[b];
      constantIm += centre[a] * qIm[a][b] * centre[b];
      constantSize += std::fabs(centre[a]) * qSize[a][b] * std::fabs(centre[b]);
    }
  }
  c.re[kOne] = constantRe;
  c.im[kOne] = constantIm;
  c.size[kOne] = constantSize;
  return c;
}

// Sum over the samples of r^2 (complex squares), from R: sum (R c)_j^2. bound: how far rounding,
// of c and of R c, can move it.
struct SquareSum {
  creal_T sum = {0.0, 0.0};
  double bound = 0.0;
};

SquareSum squareSum(const Triangle& t, const Coefficients& c) {
  // Each (R c)_j is within kTerms * eps of the sizes of its terms: eleven products and the few
  // operations that formed each coefficient.
  constexpr double kTerms = 16.0;
  SquareSum s;
  for (int j = 0; j < kColumns; ++j) {
    double re = 0.0;
    double im = 0.0;
    double size = 0.0;
    for (int k = j; k < kColumns; ++k) {
      re += t.r[j][k] * c.re[k];
      im += t.r[j][k] * c.im[k];
      size += std::fabs(t.r[j][k]) * c.size[k];
    }
    const double error = kTerms * kEps * size;
    s.sum.re += re * re - im * im;
    s.sum.im += im * re + im * re;
    s.bound += 2.0 * std::hypot(re, im) * error + error * error;
  }
  return s;
}

// A fit's error with how far the rounding of its sum of squares can move it: the error is the
// real part of sqrt(sum / n) / (2 B^2), whose change is at most half the sum's relative one
// times the modulus of the root.
struct Error {
  double value;
  double bound;
};

Error ellipsoidError(const SquareSum& s, std::size_t n, double radius) {
  const double error = coder::errorFromSumOfSquares(s.sum, static_cast<int>(n), radius);
  const double modulus = std::sqrt(std::hypot(s.sum.re, s.sum.im) / static_cast<double>(n));
  const double root = modulus / ((radius + radius) * radius);
  return {error, 0.5 * root * s.bound / std::hypot(s.sum.re, s.sum.im)};
}

Error sphereError(const SquareSum& s, std::size_t n, double radius) {
  const double error =
      1.0 / ((radius + radius) * radius) * std::sqrt(s.sum.re / static_cast<double>(n));
  return {error, 0.5 * error * s.bound / std::fabs(s.sum.re)};
}

// Whether the core's rule compares two errors that rounding alone could order either way.
bool tooClose(const Error& a, const Error& b) {
  const double smaller = std::min(std::fabs(a.value), std::fabs(b.value));
  // Written so that a NaN error counts as too close.
  return !(smaller > kErrorFloor) ||
         !(std::fabs(a.value - b.value) > kErrorTie * smaller + a.bound + b.bound);
}

// The three candidate models from R (full rank, well posed), without their errors; s the sphere's
// coefficients, a7 and winv the ellipsoids' complex matrices. False when a smallest singular
// value is not set apart.
bool modelsFromTriangle(const Triangle& t, coder::MagcalFits& fits, double s[4], creal_T a7[9],
                        creal_T winv[9]) {
  double alignedBeta[7];
  double generalBeta[10];
  if (!smallestSingularVector(t, kAlignedColumns, alignedBeta) ||
      !smallestSingularVector(t, kGeneralColumns, generalBeta)) {
    return false;
  }
  sphereFromTriangle(t, fits.fit[0], s);
  coder::MagcalFit& aligned = fits.fit[1];
  aligned.radius =
      coder::axisAlignedFromCoefficients(alignedBeta, a7, aligned.b, aligned.positiveDefinite);
  takeMatrix(a7, aligned);
  coder::MagcalFit& general = fits.fit[2];
  boolean_T generalDefinite;
  general.radius = coder::generalFromCoefficients(generalBeta, winv, general.b, generalDefinite);
  general.positiveDefinite = generalDefinite;
  takeMatrix(winv, general);
  return true;
}

// The core's rule: each later model replaces the choice when positive definite, exactly real
// and strictly better. False when two errors it compares agree to rounding.
bool choose(const Error (&errors)[3], coder::MagcalFits& fits) {
  fits.chosen = 0;
  for (int f = 1; f < 3; ++f) {
    const coder::MagcalFit& candidate = fits.fit[f];
    if (candidate.positiveDefinite && candidate.exactlyReal) {
      if (tooClose(errors[fits.chosen], errors[f])) {
        return false;
      }
      if (fits.fit[fits.chosen].error > candidate.error) {
        fits.chosen = f;
      }
    }
  }
  return true;
}

}  // namespace

void coreMagcalFits(const std::vector<Vec3>& values, const std::vector<std::size_t>& rows,
                    coder::MagcalFits& fits) {
  const int n = static_cast<int>(rows.size());
  coder::array<double, 2> d;
  d.set_size(n, 3);
  for (int c = 0; c < 3; ++c) {
    double* column = d.data() + static_cast<long>(c) * n;
    for (int k = 0; k < n; ++k) {
      column[k] = values[rows[static_cast<std::size_t>(k)]][c];
    }
  }
  coder::magcalFits(d, fits);
}

StreamedDesign::Scratch::Scratch()
    : samples(kFitBlockSamples), design(kFitBlockSamples * kColumns) {}

void StreamedDesign::foldBlock(std::size_t m, Scratch& scratch, Block& block) {
  block.rows = static_cast<std::uint32_t>(m);
  block.bounded = true;
  for (std::size_t i = 0; i < m; ++i) {
    const Vec3& v = *scratch.samples[i];
    // Written so that a NaN fails.
    block.bounded = block.bounded && std::fabs(v[0]) <= kLargestCoordinate &&
                    std::fabs(v[1]) <= kLargestCoordinate && std::fabs(v[2]) <= kLargestCoordinate;
    designRow(v, scratch.design.data() + i * kColumns);
  }
  Triangle t;
  if (block.bounded) {
    for (std::size_t first = 0; first < m; first += kFoldRows) {
      foldRows(t, scratch.design.data() + first * kColumns, std::min(kFoldRows, m - first));
    }
  }
  for (int j = 0; j < kColumns; ++j) {
    for (int k = j; k < kColumns; ++k) {
      block.r[packed(j, k)] = t.r[j][k];
    }
  }
}

std::size_t StreamedDesign::rows() const {
  std::size_t n = 0;
  for (const Block& block : blocks_) {
    n += block.rows;
  }
  return n;
}

bool StreamedDesign::fits(coder::MagcalFits& fits) const {
  const std::size_t n = rows();
  // The blocks' factors, folded in block order: a block of m rows has at most m rows of R.
  Triangle t;
  double rowsOfBlock[kColumns * kColumns];
  for (const Block& block : blocks_) {
    if (!block.bounded) {
      return false;
    }
    const int m = static_cast<int>(std::min<std::uint32_t>(block.rows, kColumns));
    for (int j = 0; j < m; ++j) {
      for (int k = 0; k < kColumns; ++k) {
        rowsOfBlock[j * kColumns + k] = k < j ? 0.0 : block.r[packed(j, k)];
      }
    }
    foldRows(t, rowsOfBlock, static_cast<std::size_t>(m));
  }
  double s[4];
  creal_T a7[9];
  creal_T winv[9];
  if (n < kColumns || !sphereWellPosed(t, n) || !modelsFromTriangle(t, fits, s, a7, winv)) {
    return false;
  }
  coder::MagcalFit* fit = fits.fit;
  const Error errors[3] = {
      sphereError(squareSum(t, sphereCoefficients(s)), n, fit[0].radius),
      ellipsoidError(squareSum(t, ellipsoidCoefficients(a7, fit[1].b, fit[1].radius)), n,
                     fit[1].radius),
      ellipsoidError(squareSum(t, ellipsoidCoefficients(winv, fit[2].b, fit[2].radius)), n,
                     fit[2].radius)};
  for (int f = 0; f < 3; ++f) {
    fit[f].error = errors[f].value;
    // Written so that a NaN bound fails.
    if (!(errors[f].bound <= kErrorTrust * std::fabs(errors[f].value))) {
      return false;
    }
  }
  return choose(errors, fits);
}

}  // namespace detail
}  // namespace fluxtrim
