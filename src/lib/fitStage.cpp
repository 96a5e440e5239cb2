#include "fitStage.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "coder_array.h"
#include "constants.hpp"
#include "magcal.h"
#include "robustStatistics.hpp"
#include "sampleScreening.hpp"
#include "sphereGeometry.hpp"
#include "streamingFit.hpp"
#include "symmetricEigen.hpp"
#include "unitJudgement.hpp"
#include "vec3.hpp"

namespace fluxtrim {
namespace detail {

namespace {

// The box that excludes gross spikes before the first sphere fit: per axis the 1st and 99th
// percentiles of the valid samples, and a sample is a spike when further from the box's centre
// than 4 times the box's largest half-width. Percentiles are used so that up to 1 % of spikes,
// and up to 98 % of the samples dwelling in one pose, leave the box alone.
constexpr double kBoxQuantile = 0.01;
constexpr double kBoxReach = 4.0;

// Eigenvalues of the sample scatter below this fraction of the largest count as zero in the
// sphere fit: directions in which the samples do not spread do not determine the centre.
constexpr double kScatterRankTolerance = 1e-12;

// A block of the mean, as the calibration core sums it: the first block is the running total,
// each later block's own sum is added to it.
constexpr std::size_t kMeanBlock = 1024;

// Splits rows into those inside the window (returned) and the others, whose status becomes the
// window's rejectedAs. A NaN measure is outside.
std::vector<std::size_t> applyWindow(const std::vector<Vec3>& values,
                                     const std::vector<std::size_t>& rows,
                                     const AcceptanceWindow& window,
                                     std::vector<SampleStatus>& status) {
  std::vector<std::size_t> inside;
  inside.reserve(rows.size());
  for (std::size_t row : rows) {
    if (window.accepts(window.measureOf(values[row]))) {
      inside.push_back(row);
    } else {
      status[row] = window.rejectedAs;
    }
  }
  return inside;
}

// Algebraic sphere fit |v - c|^2 = R^2 by linear least squares. With p = v - mean over the rows,
// the normal equations separate: c - mean = (1/2) pinv(sum p p') sum p |p|^2, and
// R^2 = |c - mean|^2 + mean |p|^2. The pseudo-inverse leaves the centre in the plane of samples
// that lie on a circle instead of sending it off along the undetermined axis. Fewer than four
// rows: no sphere.
Sphere fitSphere(const std::vector<Vec3>& values, const std::vector<std::size_t>& rows) {
  Sphere sphere;
  const std::size_t n = rows.size();
  if (n < 4) {
    return sphere;
  }
  Vec3 mean{{0.0, 0.0, 0.0}};
  for (std::size_t row : rows) {
    for (int k = 0; k < 3; ++k) {
      mean[k] += values[row][k];
    }
  }
  for (double& m : mean) {
    m /= static_cast<double>(n);
  }
  Matrix3 scatter{};
  Vec3 third{{0.0, 0.0, 0.0}};
  double squares = 0.0;
  for (std::size_t row : rows) {
    const double p[3] = {values[row][0] - mean[0], values[row][1] - mean[1],
                         values[row][2] - mean[2]};
    const double q = (p[0] * p[0] + p[1] * p[1]) + p[2] * p[2];
    for (int r = 0; r < 3; ++r) {
      for (int c = r; c < 3; ++c) {
        scatter[r][c] += p[r] * p[c];
      }
      third[r] += p[r] * q;
    }
    squares += q;
  }
  Vec3 eigenvalues;
  Matrix3 eigenvectors;
  symmetricEigen3(scatter, eigenvalues, eigenvectors);
  Vec3 shift{{0.0, 0.0, 0.0}};
  for (int j = 0; j < 3; ++j) {
    if (eigenvalues[j] > kScatterRankTolerance * eigenvalues[2]) {
      double projection = 0.0;
      for (int r = 0; r < 3; ++r) {
        projection += eigenvectors[r][j] * third[r];
      }
      const double weight = 0.5 * projection / eigenvalues[j];
      for (int r = 0; r < 3; ++r) {
        shift[r] += weight * eigenvectors[r][j];
      }
    }
  }
  const double radiusSquared = ((shift[0] * shift[0] + shift[1] * shift[1]) + shift[2] * shift[2]) +
                               squares / static_cast<double>(n);
  for (int k = 0; k < 3; ++k) {
    sphere.centre[k] = mean[k] + shift[k];
  }
  if (radiusSquared > 0.0 && std::isfinite(radiusSquared)) {
    sphere.radius = std::sqrt(radiusSquared);
  }
  return sphere;
}

// The spike window over the valid rows (see kBoxQuantile).
AcceptanceWindow spikeWindow(const std::vector<Vec3>& values,
                             const std::vector<std::size_t>& rows) {
  AcceptanceWindow window;
  window.measure = AcceptanceWindow::Measure::DistanceFromCentre;
  window.rejectedAs = SampleStatus::Disturbed;
  std::vector<double> component(rows.size());
  double halfWidth = 0.0;
  // Ranks symmetric about the middle, so that up to 100 samples the box is their full range.
  const std::size_t lowRank =
      static_cast<std::size_t>(kBoxQuantile * static_cast<double>(rows.size() - 1));
  const std::size_t highRank = rows.size() - 1 - lowRank;
  for (int k = 0; k < 3; ++k) {
    for (std::size_t i = 0; i < rows.size(); ++i) {
      component[i] = values[rows[i]][k];
    }
    const double low = orderStatistic(component, lowRank);
    const double high = orderStatistic(component, highRank);
    window.centre[k] = 0.5 * (low + high);
    halfWidth = std::max(halfWidth, 0.5 * (high - low));
  }
  window.lower = 0.0;
  window.upper = kBoxReach * halfWidth;
  return window;
}

// The shell window around a sphere: distances within `width` of its radius, relative.
AcceptanceWindow shellWindow(const Sphere& sphere, double width) {
  AcceptanceWindow window;
  window.measure = AcceptanceWindow::Measure::DistanceFromCentre;
  window.centre = sphere.centre;
  window.lower = sphere.radius * (1.0 - width);
  window.upper = sphere.radius * (1.0 + width);
  window.rejectedAs = SampleStatus::Disturbed;
  return window;
}

std::string formatError(double error) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", error);
  return text;
}

// The core's three candidate fits, copied into the library's models with no decision yet.
void copyFits(const coder::MagcalFits& fits, std::array<ModelFit, 3>& models) {
  const ModelKind kinds[3] = {ModelKind::Sphere, ModelKind::AxisAligned, ModelKind::General};
  for (int f = 0; f < 3; ++f) {
    const coder::MagcalFit& fit = fits.fit[f];
    ModelFit& model = models[f];
    model = ModelFit();
    model.kind = kinds[f];
    for (int r = 0; r < 3; ++r) {
      model.calibration.offset[r] = fit.b[r];
      for (int c = 0; c < 3; ++c) {
        model.calibration.matrix[r][c] = fit.A[r + 3 * c];
      }
    }
    model.radius = fit.radius;
    model.error = fit.error;
    model.positiveDefinite = fit.positiveDefinite;
    model.exactlyReal = fit.exactlyReal;
  }
}

// The core's rule, step by step: the sphere first, then each ellipsoid in turn replaces the
// choice when positive definite, exactly real and strictly better. Returns which models were
// adopted on the way; the others get their decision and reason here.
std::array<bool, 3> adoptModels(std::array<ModelFit, 3>& models) {
  std::array<bool, 3> adopted{{true, false, false}};
  int current = 0;
  for (int f = 1; f < 3; ++f) {
    ModelFit& model = models[f];
    const ModelFit& before = models[current];
    if (!model.positiveDefinite) {
      model.decision = ModelDecision::NotPositiveDefinite;
      model.reason = "rejected: the fitted quadric is not positive definite (not an ellipsoid)";
    } else if (!model.exactlyReal) {
      model.decision = ModelDecision::NotReal;
      model.reason = "rejected: the square root of its shape matrix is not real";
    } else if (before.error > model.error) {
      adopted[f] = true;
      current = f;
    } else {
      model.decision = ModelDecision::NotBetter;
      model.reason = "rejected: its error " + formatError(model.error) + " is not below " +
                     formatError(before.error) + " of the " + modelName(before.kind);
    }
  }
  return adopted;
}

// The decision and reason of each adopted model: the chosen one kept, the others superseded.
void settleAdopted(std::array<ModelFit, 3>& models, const std::array<bool, 3>& adopted,
                   int chosen) {
  for (int f = 0; f < 3; ++f) {
    ModelFit& model = models[f];
    if (!adopted[f]) {
      continue;
    }
    if (f == chosen) {
      model.decision = ModelDecision::Kept;
      if (f == 0) {
        model.reason = "kept: no ellipsoid was positive definite, real and better";
      } else {
        model.reason = "kept: positive definite, real, and its error " + formatError(model.error) +
                       " is the smallest";
      }
    } else {
      model.decision = ModelDecision::Superseded;
      model.reason = std::string("passed over: the ") + modelName(models[chosen].kind) +
                     " has the smaller error " + formatError(models[chosen].error);
    }
  }
}

// The core's three candidate fits on the rows, and what became of each under its rule: computed
// by the core itself, or streamed (streamingMagcalFits) where no digit is a contract.
void fitCore(const std::vector<Vec3>& values, const std::vector<std::size_t>& rows, bool streamed,
             std::array<ModelFit, 3>& models, int& chosen) {
  const std::size_t n = rows.size();
  coder::MagcalFits fits;
  if (streamed) {
    streamingMagcalFits(values, rows, fits);
  } else {
    coreMagcalFits(values, rows, fits);
  }
  chosen = fits.chosen;
  copyFits(fits, models);
  if (n == 0) {
    for (ModelFit& model : models) {
      model.decision = ModelDecision::NotFitted;
      model.reason = "not fitted: no sample was kept";
    }
    return;
  }
  settleAdopted(models, adoptModels(models), chosen);
}

// Mean corrected magnitude over the rows, in their order and in blocks, as the calibration core
// computes it for fluxtrim.out. NaN without rows.
double meanCorrected(const std::vector<Vec3>& values, const std::vector<std::size_t>& rows,
                     const Calibration& calibration) {
  const std::size_t count = rows.size();
  auto correctedNorm = [&](std::size_t k) {
    return norm(applyCalibration(calibration, values[rows[k]]));
  };
  auto blockSum = [&](std::size_t first, std::size_t length) {
    double sum = correctedNorm(first);
    for (std::size_t k = 1; k < length; ++k) {
      sum += correctedNorm(first + k);
    }
    return sum;
  };
  double total = 0.0;
  if (count > 0) {
    total = blockSum(0, std::min(count, kMeanBlock));
    for (std::size_t first = kMeanBlock; first < count; first += kMeanBlock) {
      total += blockSum(first, std::min(count - first, kMeanBlock));
    }
  }
  return total / static_cast<double>(count);
}

std::vector<std::size_t> validRows(const std::vector<Vec3>& values) {
  std::vector<std::size_t> rows;
  rows.reserve(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (isFinite(values[i]) && !isZero(values[i])) {
      rows.push_back(i);
    }
  }
  return rows;
}

// Takes the clipped rows out of the valid ones, in place; their status becomes Clipped in status,
// and the clipped extremes and their count go to stage.
void setClippedAside(const std::vector<Vec3>& values, std::vector<std::size_t>& valid,
                     std::vector<SampleStatus>& status, FitStage& stage) {
  stage.clipping = findClipping(values, valid);
  if (stage.clipping.empty()) {
    return;
  }
  const auto clipped = [&](std::size_t row) { return isClipped(values[row], stage.clipping); };
  for (std::size_t row : valid) {
    if (clipped(row)) {
      status[row] = SampleStatus::Clipped;
      ++stage.clipped;
    }
  }
  valid.erase(std::remove_if(valid.begin(), valid.end(), clipped), valid.end());
}

// The models of a recording that is not fitted, each with the reason.
void leaveUnfitted(const std::vector<Vec3>& values, const char* reason, FitStage& stage) {
  fitCore(values, {}, true, stage.models, stage.chosen);
  for (ModelFit& model : stage.models) {
    model.reason = reason;
  }
}

// The automatic mode's refinement of the fit of the kept rows (not empty): the rows whose
// corrected magnitude is an outlier become Outlier, and the rest are fitted again.
void refineOnce(const std::vector<Vec3>& values, double outlierLimit,
                std::vector<std::size_t>& kept, FitStage& stage) {
  const Calibration first = stage.models[stage.chosen].calibration;
  const CorrectedMagnitudes corrected = correctedMagnitudes(values, kept, first, coverageGrid());
  const MagnitudeBounds bounds = outlierBounds(corrected, outlierLimit);
  if (!std::isfinite(bounds.lower) || !std::isfinite(bounds.upper)) {
    return;
  }
  AcceptanceWindow window;
  window.measure = AcceptanceWindow::Measure::CorrectedMagnitude;
  window.calibration = first;
  window.lower = bounds.lower;
  window.upper = bounds.upper;
  window.rejectedAs = SampleStatus::Outlier;
  std::vector<std::size_t> refined;
  refined.reserve(kept.size());
  for (std::size_t k = 0; k < kept.size(); ++k) {
    if (window.accepts(corrected.magnitude[k])) {
      refined.push_back(kept[k]);
    } else {
      stage.status[kept[k]] = SampleStatus::Outlier;
    }
  }
  stage.windows.push_back(window);
  if (refined.size() != kept.size()) {
    kept.swap(refined);
    fitCore(values, kept, true, stage.models, stage.chosen);
  }
}

FitStage fitAutomatic(const SampleSet& samples, const CalibrationOptions& options) {
  const std::vector<Vec3>& values = samples.values;
  FitStage stage;
  stage.status.assign(values.size(), SampleStatus::Kept);
  std::vector<std::size_t> valid = validRows(values);
  {
    std::size_t next = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (next < valid.size() && valid[next] == i) {
        ++next;
      } else {
        stage.status[i] = SampleStatus::Invalid;
      }
    }
  }

  // (a) Samples clipped at the sensor's limit are left out before anything is measured on them.
  setClippedAside(values, valid, stage.status, stage);

  // (b) The offset and radius of a sphere through all valid samples, gross spikes aside; a
  // device that was not turned gives nothing to fit but noise.
  std::vector<std::size_t> kept = valid;
  if (!valid.empty()) {
    const AcceptanceWindow spikes = spikeWindow(values, valid);
    kept = applyWindow(values, valid, spikes, stage.status);
    stage.windows.push_back(spikes);
  }
  stage.spread = spreadRatio(values, kept);
  if (stage.spread < kNotTurnedSpread) {
    leaveUnfitted(values, "not fitted: the device was not turned", stage);
    return stage;
  }
  stage.preliminary = fitSphere(values, kept);

  // (c) Disturbed samples: too far from that sphere, relative to its radius. The sphere is fitted
  // once more on the samples inside its shell, so that disturbed samples do not pull the final
  // shell, which is then applied to the same samples as the first.
  if (std::isfinite(stage.preliminary.radius)) {
    const double width = options.disturbanceWindow;
    std::vector<SampleStatus> scratch = stage.status;
    const std::vector<std::size_t> inFirstShell =
        applyWindow(values, kept, shellWindow(stage.preliminary, width), scratch);
    const Sphere second = fitSphere(values, inFirstShell);
    const AcceptanceWindow shell =
        shellWindow(std::isfinite(second.radius) ? second : stage.preliminary, width);
    kept = applyWindow(values, kept, shell, stage.status);
    stage.windows.push_back(shell);
  }

  // (d) The three fits of the core on the kept samples.
  fitCore(values, kept, true, stage.models, stage.chosen);

  // (e) One refinement: samples whose corrected magnitude is an outlier are dropped and the
  // rest fitted again.
  if (!kept.empty()) {
    refineOnce(values, options.outlierLimit, kept, stage);
  }
  stage.meanCorrectedMagnitude =
      meanCorrected(values, kept, stage.models[stage.chosen].calibration);
  return stage;
}

// fluxtrim.out's computation: the raw-magnitude window around the reference's magnitude, in the
// samples' unit, and one fit of the accepted samples.
FitStage fitFixedWindow(const SampleSet& samples, const CalibrationOptions& options) {
  const std::vector<Vec3>& values = samples.values;
  FitStage stage;
  stage.status.assign(values.size(), SampleStatus::Kept);

  const Vec3 reference_G = options.reference.vector_G();
  const Vec3 reference = {{samples.unit.fromGauss(reference_G[0]),
                           samples.unit.fromGauss(reference_G[1]),
                           samples.unit.fromGauss(reference_G[2])}};
  const double referenceNorm = norm(reference);
  const double halfWidth = referenceNorm * options.tolerance;
  AcceptanceWindow window;
  window.measure = AcceptanceWindow::Measure::RawMagnitude;
  window.upper = referenceNorm + halfWidth;
  window.lower = referenceNorm - halfWidth;
  window.rejectedAs = SampleStatus::OutsideWindow;

  std::vector<std::size_t> all(values.size());
  for (std::size_t i = 0; i < all.size(); ++i) {
    all[i] = i;
  }
  const std::vector<std::size_t> kept = applyWindow(values, all, window, stage.status);
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (stage.status[i] == SampleStatus::OutsideWindow && !isFinite(values[i])) {
      stage.status[i] = SampleStatus::Invalid;
    }
  }
  stage.windows.push_back(window);
  fitCore(values, kept, false, stage.models, stage.chosen);
  stage.meanCorrectedMagnitude =
      meanCorrected(values, kept, stage.models[stage.chosen].calibration);

  // The samples' scale for the unit check and their spread, as the automatic mode finds them;
  // clipped samples are only counted, since the window's fit is fluxtrim.out's.
  std::vector<SampleStatus> scratch = stage.status;
  std::vector<std::size_t> valid = validRows(values);
  setClippedAside(values, valid, scratch, stage);
  if (!valid.empty()) {
    const std::vector<std::size_t> screened =
        applyWindow(values, valid, spikeWindow(values, valid), scratch);
    stage.spread = spreadRatio(values, screened);
    stage.preliminary = fitSphere(values, screened);
  }
  return stage;
}

}  // namespace

FitStage fitSamples(const SampleSet& samples, const CalibrationOptions& options) {
  return options.mode == Mode::FixedWindow ? fitFixedWindow(samples, options)
                                           : fitAutomatic(samples, options);
}

CorrectedMagnitudes correctedMagnitudes(const std::vector<Vec3>& values,
                                        const std::vector<std::size_t>& rows,
                                        const Calibration& calibration, const SphereGrid& grid,
                                        const SphereGrid* fine) {
  CorrectedMagnitudes corrected;
  const std::uint32_t none = static_cast<std::uint32_t>(grid.cells());
  corrected.magnitude.resize(rows.size());
  corrected.cell.resize(rows.size());
  corrected.cellCount.assign(static_cast<std::size_t>(grid.cells()) + 1, 0);
  if (fine != nullptr) {
    corrected.fineOccupied.assign(static_cast<std::size_t>(fine->cells()), 0);
  }
  for (std::size_t k = 0; k < rows.size(); ++k) {
    const Vec3 c = applyCalibration(calibration, values[rows[k]]);
    const double m = norm(c);
    corrected.magnitude[k] = m;
    std::uint32_t cell = none;
    if (m > 0.0 && std::isfinite(m)) {
      const double z = c[2] / m;
      const double angle = longitude(c[1], c[0]);
      cell = static_cast<std::uint32_t>(cellOfAngles(z, angle, grid.bands(), grid.sectors()));
      if (fine != nullptr) {
        corrected.fineOccupied[cellOfAngles(z, angle, fine->bands(), fine->sectors())] = 1;
      }
    }
    corrected.cell[k] = cell;
    ++corrected.cellCount[cell];
  }
  return corrected;
}

MagnitudeBounds outlierBounds(const CorrectedMagnitudes& corrected, double limit) {
  // 1 / (the normal distribution's 75th percentile): turns a median absolute deviation into a
  // standard deviation for normally distributed values.
  const double kMadToSigma = 1.4826;
  const double kFloor = 0.01;  // never narrower than 1 % of the typical magnitude
  const std::size_t n = corrected.magnitude.size();
  std::vector<WeightedValue> items(n);
  for (std::size_t k = 0; k < n; ++k) {
    items[k] = {corrected.magnitude[k], 1.0 / corrected.cellCount[corrected.cell[k]]};
  }
  // A NaN magnitude cannot be ordered: it takes no part and falls outside any bounds.
  items.erase(std::remove_if(items.begin(), items.end(),
                             [](const WeightedValue& item) { return std::isnan(item.value); }),
              items.end());
  const double median = weightedMedian(items);
  for (WeightedValue& item : items) {
    item.value = std::fabs(item.value - median);
  }
  const double deviation = weightedMedian(items);
  const double halfWidth = std::max(limit * kMadToSigma * deviation, kFloor * median);
  return {median - halfWidth, median + halfWidth};
}

}  // namespace detail
}  // namespace fluxtrim
