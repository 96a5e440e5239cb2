// The calibration core's three candidate fits (sphere, axis-aligned and general ellipsoid) on
// the kept samples, computed by blocked Householder QR over the samples instead of the core's
// decompositions of N-by-4, N-by-7 and N-by-10 design matrices.
#ifndef FLUXTRIM_LIB_STREAMING_FIT_HPP
#define FLUXTRIM_LIB_STREAMING_FIT_HPP

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "coreThreads.h"
#include "fluxtrim/types.hpp"
#include "magcal.h"

namespace fluxtrim {
namespace detail {

// The core's own fits (coder::magcalFits) of the samples values[rows[k]], in the order of rows,
// on a copy of them as the N-by-3 matrix it takes (24 bytes per sample, and the core's 80 bytes
// per sample of working storage). Rows must index values.
void coreMagcalFits(const std::vector<Vec3>& values, const std::vector<std::size_t>& rows,
                    coder::MagcalFits& fits);

// Samples per block of the streamed design.
constexpr std::size_t kFitBlockSamples = 1024;

// The streamed design of some of the samples: the R factor of the 11 columns x, y, z, 1, x^2,
// y^2, z^2, 2xy, 2xz, 2yz and |v|^2 of the samples of each block of kFitBlockSamples consecutive
// ones, by Householder reflections on the block's rows built on the fly; no design matrix is
// held, and 66 doubles per block. The leading 4, 7 and 10 columns are the designs of the sphere
// and the two ellipsoids. Blocks are split between the core's two threads by their index alone,
// and their factors combined in block order, so one thread and two give the same bits.
class StreamedDesign {
 public:
  // The design of the samples values[i] for which take(i) holds. take is called once for each
  // sample, in order within a block, for the blocks of one half on the calling thread and of the
  // other on the core's second thread: it may write what belongs to sample i alone.
  template <typename Take>
  StreamedDesign(const std::vector<Vec3>& values, const Take& take);

  // The same design after the samples listed (ascending) changed whether they are taken: the
  // blocks that hold them are built again, with take as above.
  template <typename Take>
  void rebuild(const std::vector<Vec3>& values, const std::vector<std::size_t>& changed,
               const Take& take);

  // Samples taken.
  std::size_t rows() const;

  // The three candidates and the core's choice among them: the sphere solves the leading 4-by-4
  // block of R against the last column; the ellipsoids take the right singular vector of the
  // smallest singular value of their leading 7-by-7 and 10-by-10 blocks, which the core turns into
  // models; each fit's sum of squared residuals is the square of R times its coefficients. The
  // results are the core's within rounding (offsets and matrices within about 1e-12 relative on
  // well-posed recordings). Returns false, with fits unspecified, where rounding alone would decide
  // the answer and the core must fit the samples itself (coreMagcalFits): fewer samples than 11, a
  // coordinate beyond 1e50 or not finite, a sphere design near rank deficiency, a smallest singular
  // value not set apart from the next, a sum of squares that R cannot give to 1e-10, or a choice
  // between two errors that agree to rounding.
  bool fits(coder::MagcalFits& fits) const;

 private:
  // The upper triangle of a block's R, row by row, and the block's rows.
  struct Block {
    double r[66];
    std::uint32_t rows;
    bool bounded;  // every coordinate finite and within 1e50
  };
  // Room for the samples of one block and their design rows, for one thread.
  struct Scratch {
    std::vector<const Vec3*> samples;
    std::vector<double> design;
    Scratch();
  };
  // Folds the design rows of the m samples in scratch into block.
  static void foldBlock(std::size_t m, Scratch& scratch, Block& block);
  // Builds the listed blocks (all when none are listed) on the core's threads: samplesOf(b, out)
  // writes the samples of block b that are taken into out and returns how many.
  template <typename SamplesOf>
  void buildBlocks(const std::vector<std::size_t>& listed, const SamplesOf& samplesOf);

  std::vector<Block> blocks_;
};

// The samples of the block that take, in order, into out; returns how many.
template <typename Take>
std::size_t takenSamples(const std::vector<Vec3>& values, std::size_t block, const Take& take,
                         const Vec3** out) {
  const std::size_t first = block * kFitBlockSamples;
  const std::size_t last = std::min(values.size(), first + kFitBlockSamples);
  std::size_t m = 0;
  for (std::size_t i = first; i < last; ++i) {
    if (take(i)) {
      out[m++] = &values[i];
    }
  }
  return m;
}

template <typename SamplesOf>
void StreamedDesign::buildBlocks(const std::vector<std::size_t>& listed,
                                 const SamplesOf& samplesOf) {
  const std::size_t n = listed.empty() ? blocks_.size() : listed.size();
  const std::size_t middle = (n + 1) / 2;
  coder::internal::runTwoParts(coder::internal::splitPays(n * kFitBlockSamples), [&](int half) {
    Scratch scratch;
    for (std::size_t k = half == 0 ? 0 : middle; k < (half == 0 ? middle : n); ++k) {
      const std::size_t b = listed.empty() ? k : listed[k];
      foldBlock(samplesOf(b, scratch.samples.data()), scratch, blocks_[b]);
    }
  });
}

template <typename Take>
StreamedDesign::StreamedDesign(const std::vector<Vec3>& values, const Take& take)
    : blocks_((values.size() + kFitBlockSamples - 1) / kFitBlockSamples) {
  buildBlocks({},
              [&](std::size_t b, const Vec3** out) { return takenSamples(values, b, take, out); });
}

template <typename Take>
void StreamedDesign::rebuild(const std::vector<Vec3>& values,
                             const std::vector<std::size_t>& changed, const Take& take) {
  std::vector<std::size_t> listed;
  for (std::size_t i : changed) {
    const std::size_t b = i / kFitBlockSamples;
    if (listed.empty() || listed.back() != b) {
      listed.push_back(b);
    }
  }
  if (!listed.empty()) {
    buildBlocks(listed, [&](std::size_t b, const Vec3** out) {
      return takenSamples(values, b, take, out);
    });
  }
}

}  // namespace detail
}  // namespace fluxtrim

#endif
