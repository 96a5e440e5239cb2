// Entry point of the calibration core: acceptance of the samples by magnitude, model fit, and the
// mean corrected magnitude.
#include "staticMagCalibration.h"

#include <cmath>
#include <memory>

#include "coder_array.h"
#include "coreThreads.h"
#include "magcal.h"
#include "rtwtypes.h"
#include "sampleColumns.h"

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
  const double* x = magVector.data();
  staticMagCalibrationColumns(x, x + n, x + 2 * static_cast<long>(n), n, nullptr, WMM_magXYZ,
                              tolerance, hardIronOffset, softIronMatrix, refNormMag);
}

void staticMagCalibrationColumns(const double* sampleX, const double* sampleY,
                                 const double* sampleZ, int n, const unsigned char* rowMask,
                                 const double WMM_magXYZ[3], double tolerance,
                                 double hardIronOffset[3], double softIronMatrix[9],
                                 double* refNormMag) {
  // Acceptance: the rows whose raw magnitude lies in [refNorm - refNorm * tolerance,
  // refNorm + refNorm * tolerance], both ends included (a NaN magnitude fails both comparisons),
  // marked with one byte per row. The rows are split between two threads; each counts its own.
  const double refNorm = scaledNorm3(WMM_magXYZ[0], WMM_magXYZ[1], WMM_magXYZ[2]);
  const double halfWidth = refNorm * tolerance;
  const double upper = refNorm + halfWidth;
  const double lower = refNorm - halfWidth;
  std::unique_ptr<unsigned char[]> accepted(new unsigned char[n > 0 ? n : 1]);
  int partCount[2] = {0, 0};
  const bool split = coder::internal::splitPays(n);
  const int secondPart = split ? n / 2 : n;
  coder::internal::runTwoParts(split, [&](int part) {
    const int first = part == 0 ? 0 : secondPart;
    const int last = part == 0 ? secondPart : n;
    int count = 0;
    for (int i = first; i < last; ++i) {
      bool in = false;
      if (rowMask == nullptr || rowMask[i] != 0) {
        const double normMag = scaledNorm3(sampleX[i], sampleY[i], sampleZ[i]);
        in = normMag <= upper && normMag >= lower;
      }
      accepted[i] = in ? 1 : 0;
      count += in ? 1 : 0;
    }
    partCount[part] = count;
  });
  const int count = partCount[0] + partCount[1];
  const coder::SampleColumns samples =
      coder::makeSampleColumns(sampleX, sampleY, sampleZ, n, accepted.get(), count);

  // Fit on the accepted samples only.
  {
    coder::MagcalFits fits;
    coder::magcalFits(samples, fits);
    const coder::MagcalFit& kept = fits.fit[fits.chosen];
    for (int m = 0; m < 9; ++m) {
      softIronMatrix[m] = kept.A[m];
    }
    for (int c = 0; c < 3; ++c) {
      hardIronOffset[c] = kept.b[c];
    }
  }

  // Mean magnitude of the accepted samples after correction, (sample - offset) * S with the sample
  // as a row vector. Only the accepted rows enter the mean, so only they are corrected. The sum
  // runs in blocks of 1024 terms: the first block is the running total and each later block's own
  // sum, started from its first term, is added to it. The two parts of the samples meet at a
  // block boundary, so each part sums whole blocks.
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
  const int kBlock = 1024;
  static_assert(coder::kSplitAlignment % kBlock == 0, "the parts meet at a block boundary");
  const int blockCount = (count + kBlock - 1) / kBlock;
  std::unique_ptr<double[]> blockSum(new double[blockCount > 0 ? blockCount : 1]);
  coder::forSampleParts(samples, [&](int, int first, int last, int startRow) {
    double sum = 0.0;
    coder::forSamples(samples, first, last, startRow, [&](int i, int k) {
      const double term = correctedNorm(i);
      if (k % kBlock == 0) {
        sum = term;
      } else {
        sum += term;
      }
      if (k % kBlock == kBlock - 1 || k == count - 1) {
        blockSum[k / kBlock] = sum;
      }
    });
  });
  double total = 0.0;
  if (count > 0) {
    total = blockSum[0];
    for (int block = 1; block < blockCount; ++block) {
      total += blockSum[block];
    }
  }
  *refNormMag = total / static_cast<double>(count);
}
