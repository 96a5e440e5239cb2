// What the diagnosis needs from the samples, in one pass over them once the fit is known: the
// coverage of the kept model's corrected directions, the directions the device was moved
// through, the residual of every model by coverage cell, and the mean corrected magnitude.
#ifndef FLUXTRIM_LIB_SAMPLE_SURVEY_HPP
#define FLUXTRIM_LIB_SAMPLE_SURVEY_HPP

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fluxtrim/calibration.hpp"

namespace fluxtrim {
namespace detail {

// The mean of values added in order, summed as the calibration core sums fluxtrim.out's mean
// corrected magnitude: in blocks of 1024, the first block's sum the running total and each later
// block's own sum added to it. NaN without values.
class BlockMean {
 public:
  void add(double value) {
    if (count_ % kBlock != 0) {
      block_ += value;
    } else {
      if (count_ == kBlock) {
        total_ = block_;
      } else if (count_ > kBlock) {
        total_ += block_;
      }
      block_ = value;
    }
    ++count_;
  }
  double mean() const {
    return (count_ <= kBlock ? block_ : total_ + block_) / static_cast<double>(count_);
  }

 private:
  static constexpr std::size_t kBlock = 1024;
  std::size_t count_ = 0;
  double block_ = 0.0;
  double total_ = 0.0;
};

// Sums over the kept samples of each coverage cell of d = |corrected| - radius and of d^2.
struct CellSums {
  std::vector<double> sum;
  std::vector<double> squares;
};

struct SampleSurvey {
  // Kept samples per coverage cell, the last entry for those whose corrected direction is none
  // (zero or not finite), by the kept model.
  std::vector<std::uint32_t> cellCount;
  // Fine cells reached: by the kept model's corrected directions of the kept samples, and by the
  // directions from the centre of the moved ones.
  std::vector<std::uint8_t> fineOccupied;
  std::vector<std::uint8_t> fineFromCentre;
  // By model, for the fitted ones, about the model's radius; the kept model's cells.
  std::array<CellSums, 3> residuals;
  // Of the kept model's |corrected| over the kept samples, as BlockMean sums it.
  double meanCorrected = 0.0;
};

// The survey of the samples by status (one per sample) for the models, the kept one chosen;
// models not fitted get no residual sums. The moved samples are those neither Invalid nor
// Disturbed, their directions seen from centre. Magnitudes are the core's norm, so that the
// mean is the calibration core's double.
SampleSurvey surveySamples(const std::vector<Vec3>& values, const std::vector<SampleStatus>& status,
                           const std::array<ModelFit, 3>& models, int chosen, const Vec3& centre);

// The residual of a model from its sums: root mean square of |corrected| about its mean, where
// every occupied cell weighs the same (samples without a direction left out); the deviations
// taken from the model's radius first, so that their squares do not cancel. NaN without an
// occupied cell.
double cellResidual(const CellSums& sums, const std::vector<std::uint32_t>& cellCount);

}  // namespace detail
}  // namespace fluxtrim

#endif
