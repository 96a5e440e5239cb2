#include "sampleSurvey.hpp"

#include <algorithm>
#include <cmath>

#include "constants.hpp"
#include "sphereGeometry.hpp"
#include "vec3.hpp"

namespace fluxtrim {
namespace detail {

namespace {

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

  void kept(const Vec3& v) {
    const Vec3 fromCentre = difference(v, centre_);
    Vec3 corrected[3];
    for (std::size_t j = 0; j < 3; ++j) {
      corrected[j] = applyCalibration(models_[j].calibration, v);
    }
    const std::array<double, 2> first = norms(corrected[0], corrected[1]);
    const std::array<double, 2> second = norms(corrected[2], fromCentre);
    const double magnitude[3] = {first[0], first[1], second[0]};
    const double m = magnitude[chosen_];
    const Vec3& c = corrected[chosen_];
    // The longitudes and Z components of the corrected direction and of the direction from the
    // centre.
    const coder::internal::Pair angles = longitudes(coder::internal::Pair{c[1], fromCentre[1]},
                                                    coder::internal::Pair{c[0], fromCentre[0]});
    const coder::internal::Pair z =
        coder::internal::Pair{c[2], fromCentre[2]} / coder::internal::Pair{m, second[1]};
    std::size_t cell = survey_.cellCount.size() - 1;
    if (m > 0.0 && std::isfinite(m)) {
      cell = static_cast<std::size_t>(
          cellOfAngles(z[0], angles[0], coverage_.bands(), coverage_.sectors()));
      survey_.fineOccupied[fineCell(z[0], angles[0])] = 1;
      for (std::size_t j = 0; j < 3; ++j) {
        if (fitted_[j]) {
          const double d = magnitude[j] - models_[j].radius;
          survey_.residuals[j].sum[cell] += d;
          survey_.residuals[j].squares[cell] += d * d;
        }
      }
    }
    ++survey_.cellCount[cell];
    mean_.add(m);
    markFromCentre(second[1], z[1], angles[1]);
  }

  void moved(const Vec3& v) {
    const Vec3 d = difference(v, centre_);
    const double n = norm(d);
    markFromCentre(n, d[2] / n, longitude(d[1], d[0]));
  }

  SampleSurvey finish() {
    survey_.meanCorrected = mean_.mean();
    return std::move(survey_);
  }

 private:
  std::size_t fineCell(double z, double angle) const {
    return static_cast<std::size_t>(cellOfAngles(z, angle, fine_.bands(), fine_.sectors()));
  }
  // The fine cell of a direction from the centre, of norm n, Z component z (over n) and longitude
  // angle, as SphereGrid::cellOf finds it.
  void markFromCentre(double n, double z, double angle) {
    if (n > 0.0 && std::isfinite(n)) {
      survey_.fineFromCentre[fineCell(z, angle)] = 1;
    }
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

}  // namespace

SampleSurvey surveySamples(const std::vector<Vec3>& values, const std::vector<SampleStatus>& status,
                           const std::array<ModelFit, 3>& models, int chosen, const Vec3& centre) {
  Surveyor surveyor(models, chosen, centre);
  for (std::size_t i = 0; i < values.size(); ++i) {
    const SampleStatus s = status[i];
    if (s == SampleStatus::Kept) {
      surveyor.kept(values[i]);
    } else if (s != SampleStatus::Invalid && s != SampleStatus::Disturbed) {
      surveyor.moved(values[i]);
    }
  }
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
