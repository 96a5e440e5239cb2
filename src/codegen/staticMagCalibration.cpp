// Entry point of the calibration core: acceptance of the samples by magnitude, model fit, and the
// mean corrected magnitude.
#include "staticMagCalibration.h"

#include <cmath>

#include "coder_array.h"
#include "magcal.h"
#include "rtwtypes.h"

namespace {

// Euclidean norm of (x0, x1, x2) by the scaled sum of squares, which neither overflows for
// components near the largest double nor underflows for tiny ones. A NaN component makes the result
// NaN, an infinite one makes it infinite.
inline double scaledNorm3(double x0, double x1, double x2) {
  // 2^-563: the initial scale, below which components are squared relative to it.
  double scale = 3.3121686421112381e-170;
  double y;
  double absxk = std::fabs(x0);
  if (absxk > scale) {
    y = 1.0;
    scale = absxk;
  } else {
    const double t = absxk / scale;
    y = t * t;
  }
  const double rest[2] = {x1, x2};
  for (int k = 0; k < 2; ++k) {
    absxk = std::fabs(rest[k]);
    if (absxk > scale) {
      const double t = scale / absxk;
      y = (y * t) * t + 1.0;
      scale = absxk;
    } else {
      const double t = absxk / scale;
      y += t * t;
    }
  }
  return scale * std::sqrt(y);
}

}  // namespace

void staticMagCalibration(const coder::array<double, 2>& magVector, const double WMM_magXYZ[3],
                          double tolerance, double hardIronOffset[3], double softIronMatrix[9],
                          double* refNormMag) {
  const int n = magVector.size(0);
  const double* sampleX = magVector.data();
  const double* sampleY = sampleX + n;
  const double* sampleZ = sampleY + n;

  // Acceptance: the rows whose raw magnitude lies in [refNorm - refNorm * tolerance,
  // refNorm + refNorm * tolerance], both ends included (a NaN magnitude fails both comparisons).
  // Counted first, so that the row list is allocated once at its final size.
  const double refNorm = scaledNorm3(WMM_magXYZ[0], WMM_magXYZ[1], WMM_magXYZ[2]);
  const double halfWidth = refNorm * tolerance;
  const double upper = refNorm + halfWidth;
  const double lower = refNorm - halfWidth;
  coder::array<int, 1> r;
  int count = 0;
  {
    coder::array<double, 1> normMag;
    normMag.set_size(n);
    for (int i = 0; i < n; ++i) {
      normMag[i] = scaledNorm3(sampleX[i], sampleY[i], sampleZ[i]);
    }
    for (int i = 0; i < n; ++i) {
      if (normMag[i] <= upper && normMag[i] >= lower) {
        ++count;
      }
    }
    r.set_size(count);
    int next = 0;
    for (int i = 0; i < n; ++i) {
      if (normMag[i] <= upper && normMag[i] >= lower) {
        r[next] = i;
        ++next;
      }
    }
  }

  // Fit on the accepted samples only.
  {
    coder::array<double, 2> b_magVector;
    b_magVector.set_size(count, 3);
    for (int c = 0; c < 3; ++c) {
      const double* source = sampleX + static_cast<long>(c) * n;
      double* target = b_magVector.data() + static_cast<long>(c) * count;
      for (int k = 0; k < count; ++k) {
        target[k] = source[r[k]];
      }
    }
    coder::magcal(b_magVector, softIronMatrix, hardIronOffset);
  }

  // Mean magnitude of the accepted samples after correction, (sample - offset) * S with the sample
  // as a row vector. Only the accepted rows enter the mean, so only they are corrected. The sum
  // runs in blocks of 1024 terms: the first block is the running total and each later block's own
  // sum, started from its first term, is added to it.
  auto correctedNorm = [&](int i) {
    const double b[3] = {sampleX[i] - hardIronOffset[0], sampleY[i] - hardIronOffset[1],
                         sampleZ[i] - hardIronOffset[2]};
    double corrected[3];
    for (int c = 0; c < 3; ++c) {
      const double* column = softIronMatrix + 3 * c;
      corrected[c] = (b[0] * column[0] + b[1] * column[1]) + b[2] * column[2];
    }
    return scaledNorm3(corrected[0], corrected[1], corrected[2]);
  };
  auto blockSum = [&](int first, int length) {
    double sum = correctedNorm(r[first]);
    for (int k = 1; k < length; ++k) {
      sum += correctedNorm(r[first + k]);
    }
    return sum;
  };
  const int kBlock = 1024;
  double total = 0.0;
  if (count > 0) {
    total = blockSum(0, count <= kBlock ? count : kBlock);
    for (int first = kBlock; first < count; first += kBlock) {
      total += blockSum(first, count - first < kBlock ? count - first : kBlock);
    }
  }
  *refNormMag = total / static_cast<double>(count);
}
