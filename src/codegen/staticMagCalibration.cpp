// Entry point of the calibration core: acceptance of the samples by magnitude,
// model fit, and the mean corrected magnitude.
#include "staticMagCalibration.h"

#include <cmath>

#include "coder_array.h"
#include "magcal.h"
#include "rtwtypes.h"

namespace {

// Euclidean norm of (x0, x1, x2) by the scaled sum of squares, which neither
// overflows for components near the largest double nor underflows for tiny
// ones. A NaN component makes the result NaN, an infinite one makes it
// infinite.
inline double scaledNorm3(double x0, double x1, double x2) {
  // 2^-563: the initial scale, below which components are squared relative to
  // it.
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

// Sum of normMag[r[k]] for k = first .. first + count - 1 (count >= 1), left to
// right starting from the first term.
inline double sumSelected(const coder::array<double, 1>& normMag, const coder::array<int, 1>& r,
                          int first, int count) {
  double sum = normMag[r[first]];
  for (int k = 1; k < count; ++k) {
    sum += normMag[r[first + k]];
  }
  return sum;
}

}  // namespace

void staticMagCalibration(const coder::array<double, 2>& magVector, const double WMM_magXYZ[3],
                          double tolerance, double hardIronOffset[3], double softIronMatrix[9],
                          double* refNormMag) {
  const int n = magVector.size(0);
  const double* sampleX = magVector.data();
  const double* sampleY = sampleX + n;
  const double* sampleZ = sampleY + n;

  // Raw magnitudes and the acceptance window around the reference magnitude
  // (ends included; a NaN magnitude fails both comparisons).
  coder::array<double, 1> normMag;
  normMag.set_size(n);
  for (int i = 0; i < n; ++i) {
    normMag[i] = scaledNorm3(sampleX[i], sampleY[i], sampleZ[i]);
  }
  const double refNorm = scaledNorm3(WMM_magXYZ[0], WMM_magXYZ[1], WMM_magXYZ[2]);
  const double halfWidth = refNorm * tolerance;
  const double upper = refNorm + halfWidth;
  const double lower = refNorm - halfWidth;

  int count = 0;
  for (int i = 0; i < n; ++i) {
    if (normMag[i] <= upper && normMag[i] >= lower) {
      ++count;
    }
  }
  coder::array<int, 1> r;
  r.set_size(count);
  int next = 0;
  for (int i = 0; i < n; ++i) {
    if (normMag[i] <= upper && normMag[i] >= lower) {
      r[next] = i;
      ++next;
    }
  }

  // Fit on the accepted samples only.
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

  // Correct every sample: (sample - offset) * S, the sample taken as a row
  // vector.
  b_magVector.set_size(n, 3);
  for (int c = 0; c < 3; ++c) {
    const double* source = sampleX + static_cast<long>(c) * n;
    double* target = b_magVector.data() + static_cast<long>(c) * n;
    for (int i = 0; i < n; ++i) {
      target[i] = source[i] - hardIronOffset[c];
    }
  }
  coder::array<double, 2> magVectorCorr;
  magVectorCorr.set_size(n, 3);
  const double* offsetFreeX = b_magVector.data();
  const double* offsetFreeY = offsetFreeX + n;
  const double* offsetFreeZ = offsetFreeY + n;
  for (int c = 0; c < 3; ++c) {
    const double s0 = softIronMatrix[0 + 3 * c];
    const double s1 = softIronMatrix[1 + 3 * c];
    const double s2 = softIronMatrix[2 + 3 * c];
    double* target = magVectorCorr.data() + static_cast<long>(c) * n;
    for (int i = 0; i < n; ++i) {
      target[i] = (offsetFreeX[i] * s0 + offsetFreeY[i] * s1) + offsetFreeZ[i] * s2;
    }
  }
  normMag.set_size(n);
  const double* correctedX = magVectorCorr.data();
  const double* correctedY = correctedX + n;
  const double* correctedZ = correctedY + n;
  for (int i = 0; i < n; ++i) {
    normMag[i] = scaledNorm3(correctedX[i], correctedY[i], correctedZ[i]);
  }

  // Mean corrected magnitude of the accepted samples, summed in blocks of 1024
  // terms: the first block is the running total and each later block's own sum
  // is added to it.
  const int kBlock = 1024;
  double total = 0.0;
  if (count > 0) {
    const int firstBlockLength = count <= kBlock ? count : kBlock;
    total = sumSelected(normMag, r, 0, firstBlockLength);
    for (int offset = kBlock; offset < count; offset += kBlock) {
      const int length = count - offset < kBlock ? count - offset : kBlock;
      total += sumSelected(normMag, r, offset, length);
    }
  }
  *refNormMag = total / static_cast<double>(count);
}
