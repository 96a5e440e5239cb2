// Entry point of the calibration core: acceptance of the samples by magnitude, model fit, and the
// mean corrected magnitude.
#include "staticMagCalibration.h"

#include <cmath>
#include <memory>

#include "coder_array.h"
#include "coreThreads.h"
#include "pairMath.h"
#include "magcal.h"
#include "rtwtypes.h"
#include "sampleColumns.h"
#include "workBuffer.h"
#include "xnrm2.h"

namespace {

using coder::internal::loadPair;
using coder::internal::Pair;
using coder::internal::splat;
using coder::internal::blas::scaledNorm3;
using coder::internal::blas::scaledNorm3Pair;

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
  coder::internal::WorkBuffer<unsigned char> accepted(static_cast<std::size_t>(n));
  int partCount[2] = {0, 0};
  const bool split = coder::internal::splitPays(n);
  const int secondPart = split ? n / 2 : n;
  coder::internal::runTwoParts(split, [&](int part) {
    const int first = part == 0 ? 0 : secondPart;
    const int last = part == 0 ? secondPart : n;
    int count = 0;
    auto decide = [&](int i, double normMag) {
      const bool in =
          (rowMask == nullptr || rowMask[i] != 0) && normMag <= upper && normMag >= lower;
      accepted.data()[i] = in ? 1 : 0;
      count += in ? 1 : 0;
    };
    int i = first;
    for (; i + 2 <= last; i += 2) {
      const Pair normMag =
          scaledNorm3Pair(loadPair(sampleX + i), loadPair(sampleY + i), loadPair(sampleZ + i));
      decide(i, normMag[0]);
      decide(i + 1, normMag[1]);
    }
    for (; i < last; ++i) {
      decide(i, scaledNorm3(sampleX[i], sampleY[i], sampleZ[i]));
    }
    partCount[part] = count;
  });
  const int count = partCount[0] + partCount[1];
  const coder::SampleColumns samples =
      coder::makeSampleColumns(sampleX, sampleY, sampleZ, n, accepted.data(), count);

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
  // block boundary, so each part sums whole blocks. correctedNorms gives the corrected magnitudes
  // of m samples, two at a time; out needs room for m + 1 values.
  const Pair offset[3] = {splat(hardIronOffset[0]), splat(hardIronOffset[1]),
                          splat(hardIronOffset[2])};
  auto correctedNorms = [&](const double* x, const double* y, const double* z, int m, double* out) {
    for (int j = 0; j < m; j += 2) {
      const int second = j + 1 < m ? j + 1 : j;  // an odd m repeats the last sample
      const Pair b[3] = {Pair{x[j], x[second]} - offset[0], Pair{y[j], y[second]} - offset[1],
                         Pair{z[j], z[second]} - offset[2]};
      Pair corrected[3];
      for (int c = 0; c < 3; ++c) {
        const double* column = softIronMatrix + 3 * c;
        corrected[c] = (b[0] * column[0] + b[1] * column[1]) + b[2] * column[2];
      }
      const Pair norm = scaledNorm3Pair(corrected[0], corrected[1], corrected[2]);
      out[j] = norm[0];
      out[j + 1] = norm[1];
    }
  };
  const int kBlock = 1024;
  static_assert(coder::kSplitAlignment % kBlock == 0, "the parts meet at a block boundary");
  const int blockCount = (count + kBlock - 1) / kBlock;
  std::unique_ptr<double[]> blockSum(new double[blockCount > 0 ? blockCount : 1]);
  coder::forSampleParts(samples, [&](int, int first, int last, int startRow) {
    double sum = 0.0;
    double term[coder::kSampleChunk + 1];
    coder::forSampleChunks(
        samples, first, last, startRow,
        [&](const double* x, const double* y, const double* z, int chunk, int firstRank) {
          correctedNorms(x, y, z, chunk, term);
          for (int j = 0; j < chunk; ++j) {
            const int k = firstRank + j;
            sum = k % kBlock == 0 ? term[j] : sum + term[j];
            if (k % kBlock == kBlock - 1 || k == count - 1) {
              blockSum[k / kBlock] = sum;
            }
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
