#include "streamingFit.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "coder_array.h"
#include "coreThreads.h"
#include "sampleColumns.h"
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

// Rows per block of the QR: a block of 11 columns (88 KiB) stays in the second-level cache.
constexpr std::size_t kBlockRows = 1024;

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

// Normalised fit errors below this are rounding noise (noise-free samples), and errors closer than
// this fraction of each other cannot be ordered reliably: the choice between them, and the
// figures quoted for it, are left to the core.
constexpr double kErrorFloor = 1e-12;
constexpr double kErrorTie = 1e-9;

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

// Folds the m rows of block (row-major, kColumns per row; overwritten) into R: the Householder QR
// of [R; block], one reflection per column, each zeroing the block's column against R's diagonal.
// A reflection's update of the block and the dot products of the next one share a pass over the
// rows, so each reflection reads the block once. No entry may exceed 1e100 in magnitude.
void foldRows(Triangle& t, double* block, std::size_t m) {
  double dots[kColumns] = {};  // sum over the rows of block(i, j) * block(i, k), k >= j
  for (std::size_t i = 0; i < m; ++i) {
    const double* row = block + i * kColumns;
    for (int k = 0; k < kColumns; ++k) {
      dots[k] += row[0] * row[k];
    }
  }
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
    for (int k = j + 1; k < kColumns; ++k) {
      dots[k] = 0.0;
    }
    for (std::size_t i = 0; i < m; ++i) {
      double* row = block + i * kColumns;
      const double pivot = row[j];
      for (int k = j + 1; k < kColumns; ++k) {
        row[k] -= factor[k] * pivot;
      }
      const double next = row[j + 1];
      for (int k = j + 1; k < kColumns; ++k) {
        dots[k] += next * row[k];
      }
    }
  }
}

// The samples of ranks [first, last) in two halves of whole blocks: the first from `first`,
// the second (possibly empty) from `middle`. The split depends on the count alone, never on the
// threads, so that the sums are the same on one thread and two.
struct Halves {
  std::size_t bounds[3];
};

Halves halves(std::size_t count) {
  const std::size_t blocks = (count + kBlockRows - 1) / kBlockRows;
  const std::size_t middle = std::min(count, (blocks + 1) / 2 * kBlockRows);
  return {{0, middle, count}};
}

// Runs part(0) and part(1) on the core's two threads when the samples are many enough for the
// core to split its own passes, otherwise one after the other.
template <typename Part>
void runHalves(std::size_t count, const Part& part) {
  const bool split = count >= static_cast<std::size_t>(coder::internal::coreSplitThreshold());
  coder::internal::runTwoParts(split, part);
}

// The R factor of the streamed design of the samples, or false when a coordinate is not finite
// or beyond kLargestCoordinate.
bool streamedTriangle(const std::vector<Vec3>& values, const std::vector<std::size_t>& rows,
                      Triangle& t) {
  const Halves h = halves(rows.size());
  Triangle second;
  bool bounded[2] = {true, true};
  std::vector<double> blocks(2 * kBlockRows * kColumns);
  runHalves(rows.size(), [&](int half) {
    Triangle& target = half == 0 ? t : second;
    double* block = blocks.data() + static_cast<std::size_t>(half) * kBlockRows * kColumns;
    bool inRange = true;
    for (std::size_t first = h.bounds[half]; first < h.bounds[half + 1]; first += kBlockRows) {
      const std::size_t m = std::min(kBlockRows, h.bounds[half + 1] - first);
      for (std::size_t i = 0; i < m; ++i) {
        const Vec3& v = values[rows[first + i]];
        // Written so that a NaN fails.
        inRange = inRange && std::fabs(v[0]) <= kLargestCoordinate &&
                  std::fabs(v[1]) <= kLargestCoordinate && std::fabs(v[2]) <= kLargestCoordinate;
        designRow(v, block + i * kColumns);
      }
      if (!inRange) {
        break;
      }
      foldRows(target, block, m);
    }
    bounded[half] = inRange;
  });
  if (!bounded[0] || !bounded[1]) {
    return false;
  }
  if (h.bounds[1] < h.bounds[2]) {
    foldRows(t, &second.r[0][0], kColumns);
  }
  return true;
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

// The right singular vector of the smallest singular value of R's leading P-by-P block, in the
// core's coefficient order (order[c] is the streamed column of the core's column c); false when
// that value is not set apart from the next (kSingularGap).
template <int P>
bool smallestSingularVector(const Triangle& t, const int (&order)[P], double beta[P]) {
  double block[P * P];
  for (int c = 0; c < P; ++c) {
    for (int r = 0; r < P; ++r) {
      block[r + P * c] = t.r[order[r]][order[c]];
    }
  }
  // R's rows and columns taken in the same order: a symmetric permutation of its Gram matrix,
  // so the singular vectors come out in the core's order. The block need not be triangular.
  const int extents[2] = {P, P};
  coder::array<double, 2> a(block, extents);
  double s[P];
  double v[P * P];
  int vSize[2];
  if (P == 7) {
    coder::internal::reflapack::xzsvdc(a, s, v, vSize);
  } else {
    coder::internal::reflapack::b_xzsvdc(a, s, v, vSize);
  }
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

// Sums of the squared residuals of the three models.
struct SquaredResiduals {
  double sphere = 0.0;
  creal_T aligned = {0.0, 0.0};
  creal_T general = {0.0, 0.0};
};

void addSquares(const creal_T* r, int m, creal_T& sum) {
  for (int j = 0; j < m; ++j) {
    sum.re += r[j].re * r[j].re - r[j].im * r[j].im;
    sum.im += r[j].im * r[j].re + r[j].im * r[j].re;
  }
}

// The three fits' squared residuals over the samples, the core's residuals of each model summed
// half by half, then the second half's sum added to the first's.
SquaredResiduals squaredResiduals(const std::vector<Vec3>& values,
                                  const std::vector<std::size_t>& rows, const double sphere[4],
                                  const creal_T aligned[9], const double alignedCentre[3],
                                  double alignedRadius, const creal_T general[9],
                                  const double generalCentre[3], double generalRadius) {
  const Halves h = halves(rows.size());
  SquaredResiduals sums[2];
  runHalves(rows.size(), [&](int half) {
    SquaredResiduals& sum = sums[half];
    constexpr int kChunk = coder::kSampleChunk;
    double x[kChunk];
    double y[kChunk];
    double z[kChunk];
    creal_T r[kChunk + 1];
    for (std::size_t first = h.bounds[half]; first < h.bounds[half + 1]; first += kChunk) {
      const int m = static_cast<int>(std::min<std::size_t>(kChunk, h.bounds[half + 1] - first));
      for (int j = 0; j < m; ++j) {
        const Vec3& v = values[rows[first + static_cast<std::size_t>(j)]];
        x[j] = v[0];
        y[j] = v[1];
        z[j] = v[2];
        const double fitted =
            (((0.0 + x[j] * sphere[0]) + y[j] * sphere[1]) + z[j] * sphere[2]) + sphere[3];
        const double res = fitted - ((x[j] * x[j] + y[j] * y[j]) + z[j] * z[j]);
        sum.sphere += res * res;
      }
      coder::residuals(aligned, alignedCentre, alignedRadius * alignedRadius, x, y, z, m, r);
      addSquares(r, m, sum.aligned);
      coder::residuals(general, generalCentre, generalRadius * generalRadius, x, y, z, m, r);
      addSquares(r, m, sum.general);
    }
  });
  sums[0].sphere += sums[1].sphere;
  for (creal_T SquaredResiduals::*c : {&SquaredResiduals::aligned, &SquaredResiduals::general}) {
    (sums[0].*c).re += (sums[1].*c).re;
    (sums[0].*c).im += (sums[1].*c).im;
  }
  return sums[0];
}

// Whether the core's rule compares two errors that rounding alone could order either way.
bool tooClose(double a, double b) {
  const double smaller = std::min(std::fabs(a), std::fabs(b));
  // Written so that a NaN error counts as too close.
  return !(smaller > kErrorFloor) || !(std::fabs(a - b) > kErrorTie * smaller);
}

// The streamed fits, or false where rounding would decide them (see streamingMagcalFits).
bool streamedFits(const std::vector<Vec3>& values, const std::vector<std::size_t>& rows,
                  coder::MagcalFits& fits) {
  const std::size_t n = rows.size();
  Triangle t;
  if (n < kColumns || !streamedTriangle(values, rows, t) || !sphereWellPosed(t, n)) {
    return false;
  }
  double alignedBeta[7];
  double generalBeta[10];
  if (!smallestSingularVector(t, kAlignedColumns, alignedBeta) ||
      !smallestSingularVector(t, kGeneralColumns, generalBeta)) {
    return false;
  }

  coder::MagcalFit& sphere = fits.fit[0];
  double s[4];
  sphereFromTriangle(t, sphere, s);

  creal_T a7[9];
  coder::MagcalFit& aligned = fits.fit[1];
  aligned.radius =
      coder::axisAlignedFromCoefficients(alignedBeta, a7, aligned.b, aligned.positiveDefinite);
  takeMatrix(a7, aligned);

  creal_T winv[9];
  coder::MagcalFit& general = fits.fit[2];
  boolean_T generalDefinite;
  general.radius = coder::generalFromCoefficients(generalBeta, winv, general.b, generalDefinite);
  general.positiveDefinite = generalDefinite;
  takeMatrix(winv, general);

  const SquaredResiduals sums = squaredResiduals(values, rows, s, a7, aligned.b, aligned.radius,
                                                 winv, general.b, general.radius);
  const int count = static_cast<int>(n);
  sphere.error = 1.0 / ((sphere.radius + sphere.radius) * sphere.radius) *
                 std::sqrt(sums.sphere / static_cast<double>(n));
  aligned.error = coder::errorFromSumOfSquares(sums.aligned, count, aligned.radius);
  general.error = coder::errorFromSumOfSquares(sums.general, count, general.radius);

  // The core's rule: each later model replaces the choice when positive definite, exactly real
  // and strictly better.
  fits.chosen = 0;
  double best = sphere.error;
  for (int f = 1; f < 3; ++f) {
    const coder::MagcalFit& candidate = fits.fit[f];
    if (candidate.positiveDefinite && candidate.exactlyReal) {
      if (tooClose(best, candidate.error)) {
        return false;
      }
      if (best > candidate.error) {
        fits.chosen = f;
        best = candidate.error;
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

bool streamingMagcalFits(const std::vector<Vec3>& values, const std::vector<std::size_t>& rows,
                         coder::MagcalFits& fits) {
  if (streamedFits(values, rows, fits)) {
    return true;
  }
  coreMagcalFits(values, rows, fits);
  return false;
}

}  // namespace detail
}  // namespace fluxtrim
