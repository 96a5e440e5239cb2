#include "sampleSurvey.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "constants.hpp"
#include "coreThreads.h"
#include "pairMath.h"
#include "sphereGeometry.hpp"
#include "vec3.hpp"

namespace fluxtrim {
namespace detail {

namespace {

using coder::internal::Pair;

// Samples per chunk of the survey, and the chunks the second thread may have ready ahead of the
// first: the pipeline between them holds a few MiB at most.
constexpr std::size_t kChunkSamples = 8192;
constexpr std::size_t kChunksAhead = 4;

// What a sample gives the survey, worked out on either thread; summed on one, in sample order.
struct Finding {
  double magnitude[3];       // |corrected| by each model (kept samples)
  std::uint16_t fine;        // fine cell of the kept model's corrected direction, or kNone
  std::uint16_t fromCentre;  // fine cell of the direction from the centre, or kNone
  std::uint8_t cell;         // coverage cell, or the one past the last (kept samples)
  bool kept;
};
constexpr std::uint16_t kNone = 0xFFFF;

// The survey as the samples come: each kept sample corrected by every model, its cells by the
// kept model, its residuals by cell; each moved sample's fine cell from the centre.
class Surveyor {
 public:
  Surveyor(const std::array<ModelFit, 3>& models, int chosen, const Vec3& centre)
      : models_(models), chosen_(static_cast<std::size_t>(chosen)), centre_(centre) {
    const std::size_t cells = static_cast<std::size_t>(coverage_.cells());
    survey_.cellCount.assign(cells + 1, 0);
    survey_.fineOccupied.assign(static_cast<std::size_t>(fine_.cells()), 0);
    survey_.fineFromCentre.assign(static_cast<std::size_t>(fine_.cells()), 0);
    for (std::size_t j = 0; j < 3; ++j) {
      fitted_[j] = models[j].decision != ModelDecision::NotFitted;
      survey_.residuals[j].sum.assign(cells, 0.0);
      survey_.residuals[j].squares.assign(cells, 0.0);
    }
  }

  // The findings of the samples [first, last) that are kept or moved, in order; reads only.
  void find(const std::vector<Vec3>& values, const std::vector<SampleStatus>& status,
            std::size_t first, std::size_t last, std::vector<Finding>& found) const {
    found.clear();
    for (std::size_t i = first; i < last; ++i) {
      const SampleStatus s = status[i];
      if (s == SampleStatus::Kept) {
        found.push_back(kept(values[i]));
      } else if (s != SampleStatus::Invalid && s != SampleStatus::Disturbed) {
        found.push_back(moved(values[i]));
      }
    }
  }

  // Adds findings to the survey, in their order.
  void add(const std::vector<Finding>& found) {
    const std::size_t none = survey_.cellCount.size() - 1;
    for (const Finding& f : found) {
      if (f.fromCentre != kNone) {
        survey_.fineFromCentre[f.fromCentre] = 1;
      }
      if (!f.kept) {
        continue;
      }
      if (f.cell != none) {
        survey_.fineOccupied[f.fine] = 1;
        for (std::size_t j = 0; j < 3; ++j) {
          if (fitted_[j]) {
            const double d = f.magnitude[j] - models_[j].radius;
            survey_.residuals[j].sum[f.cell] += d;
            survey_.residuals[j].squares[f.cell] += d * d;
          }
        }
      }
      ++survey_.cellCount[f.cell];
      mean_.add(f.magnitude[chosen_]);
    }
  }

  SampleSurvey finish() {
    survey_.meanCorrected = mean_.mean();
    return std::move(survey_);
  }

 private:
  Finding kept(const Vec3& v) const {
    const Vec3 fromCentre = difference(v, centre_);
    Vec3 corrected[3];
    for (std::size_t j = 0; j < 3; ++j) {
      corrected[j] = applyCalibration(models_[j].calibration, v);
    }
    const std::array<double, 2> first = norms(corrected[0], corrected[1]);
    const std::array<double, 2> second = norms(corrected[2], fromCentre);
    Finding f{{first[0], first[1], second[0]}, kNone, kNone, 0, true};
    const double m = f.magnitude[chosen_];
    const Vec3& c = corrected[chosen_];
    // The longitudes and Z components of the corrected direction and of the direction from the
    // centre.
    const Pair angles = longitudes(Pair{c[1], fromCentre[1]}, Pair{c[0], fromCentre[0]});
    const Pair z = Pair{c[2], fromCentre[2]} / Pair{m, second[1]};
    f.cell = static_cast<std::uint8_t>(coverage_.cells());
    if (m > 0.0 && std::isfinite(m)) {
      f.cell = static_cast<std::uint8_t>(
          cellOfAngles(z[0], angles[0], coverage_.bands(), coverage_.sectors()));
      f.fine = fineCell(z[0], angles[0]);
    }
    f.fromCentre = fromCentreCell(second[1], z[1], angles[1]);
    return f;
  }

  Finding moved(const Vec3& v) const {
    const Vec3 d = difference(v, centre_);
    const double n = norm(d);
    Finding f{{0.0, 0.0, 0.0}, kNone, kNone, 0, false};
    f.fromCentre = fromCentreCell(n, d[2] / n, longitude(d[1], d[0]));
    return f;
  }

  std::uint16_t fineCell(double z, double angle) const {
    return static_cast<std::uint16_t>(cellOfAngles(z, angle, fine_.bands(), fine_.sectors()));
  }
  // The fine cell of a direction from the centre, of norm n, Z component z (over n) and longitude
  // angle, as SphereGrid::cellOf finds it; kNone without a direction.
  std::uint16_t fromCentreCell(double n, double z, double angle) const {
    return n > 0.0 && std::isfinite(n) ? fineCell(z, angle) : kNone;
  }

  const std::array<ModelFit, 3>& models_;
  const std::size_t chosen_;
  const Vec3 centre_;
  const SphereGrid coverage_ = coverageGrid();
  const SphereGrid fine_ = fineGrid();
  bool fitted_[3] = {false, false, false};
  BlockMean mean_;
  SampleSurvey survey_;
};

static_assert(kFineBands * kFineSectors < kNone, "fine cells fit in a finding");

}  // namespace

SampleSurvey surveySamples(const std::vector<Vec3>& values, const std::vector<SampleStatus>& status,
                           const std::array<ModelFit, 3>& models, int chosen, const Vec3& centre) {
  using coder::internal::PassProgress;
  Surveyor surveyor(models, chosen, centre);
  const std::size_t n = values.size();
  const std::size_t chunks = (n + kChunkSamples - 1) / kChunkSamples;
  const auto range = [&](std::size_t c) {
    return std::make_pair(c * kChunkSamples, std::min(n, (c + 1) * kChunkSamples));
  };
  // Together, the second thread finds the odd chunks into a ring of slots, the first the even
  // ones, and the first adds every chunk in order; one after the other, the first does it all.
  std::vector<std::vector<Finding>> ring(kChunksAhead);
  PassProgress found(0);  // odd chunks found
  PassProgress added(0);  // odd chunks added
  const bool split = coder::internal::splitPays(n);
  coder::internal::runTwoPartsTogether(split, [&](int part, bool together) {
    if (part == 1) {
      for (std::size_t j = 0; together && 2 * j + 1 < chunks; ++j) {
        if (j >= kChunksAhead) {
          added.waitBeyond(static_cast<int>(j - kChunksAhead));
        }
        const auto [first, last] = range(2 * j + 1);
        surveyor.find(values, status, first, last, ring[j % kChunksAhead]);
        found.advance(static_cast<int>(j + 1));
      }
      return;
    }
    std::vector<Finding> own;
    for (std::size_t c = 0; c < chunks; ++c) {
      if (!together || c % 2 == 0) {
        const auto [first, last] = range(c);
        surveyor.find(values, status, first, last, own);
        surveyor.add(own);
        continue;
      }
      const std::size_t j = c / 2;
      found.waitBeyond(static_cast<int>(j));
      surveyor.add(ring[j % kChunksAhead]);
      added.advance(static_cast<int>(j + 1));
    }
  });
  return surveyor.finish();
}

double cellResidual(const CellSums& sums, const std::vector<std::uint32_t>& cellCount) {
  const std::size_t cells = cellCount.size() - 1;
  double meanDeviation = 0.0;
  int occupied = 0;
  for (std::size_t c = 0; c < cells; ++c) {
    if (cellCount[c] > 0) {
      meanDeviation += sums.sum[c] / cellCount[c];
      ++occupied;
    }
  }
  if (occupied == 0) {
    return kNaN;
  }
  meanDeviation /= occupied;
  double meanSquare = 0.0;
  for (std::size_t c = 0; c < cells; ++c) {
    if (cellCount[c] > 0) {
      const double n = cellCount[c];
      meanSquare += sums.squares[c] / n - 2.0 * meanDeviation * (sums.sum[c] / n) +
                    meanDeviation * meanDeviation;
    }
  }
  return std::sqrt(std::max(0.0, meanSquare / occupied));
}

}  // namespace detail
}  // namespace fluxtrim
