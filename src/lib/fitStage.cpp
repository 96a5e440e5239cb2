#include "fitStage.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "coder_array.h"
#include "coreThreads.h"
#include "hugePages.hpp"
#include "magcal.h"
#include "pairMath.h"
#include "robustStatistics.hpp"
#include "sampleScreening.hpp"
#include "sphereGeometry.hpp"
#include "streamingFit.hpp"
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

// Samples taken evenly from all of them to bracket a quantile before it is searched for.
constexpr std::size_t kSampleSize = 32768;

// Calls visit(i, values[i]) for every sample whose status is Kept, in order.
template <typename Visit>
void forKept(const std::vector<Vec3>& values, const std::vector<SampleStatus>& status,
             const Visit& visit) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (status[i] == SampleStatus::Kept) {
      visit(i, values[i]);
    }
  }
}

// The rows of the samples whose status is Kept.
std::vector<std::size_t> keptRows(const std::vector<SampleStatus>& status) {
  std::vector<std::size_t> rows;
  rows.reserve(
      static_cast<std::size_t>(std::count(status.begin(), status.end(), SampleStatus::Kept)));
  for (std::size_t i = 0; i < status.size(); ++i) {
    if (status[i] == SampleStatus::Kept) {
      rows.push_back(i);
    }
  }
  return rows;
}

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

// The range of each axis over the samples it was told of.
struct Box {
  Vec3 lowest{{std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
               std::numeric_limits<double>::infinity()}};
  Vec3 highest{{-std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                -std::numeric_limits<double>::infinity()}};
  void add(const Vec3& v) {
    for (int k = 0; k < 3; ++k) {
      lowest[k] = std::min(lowest[k], v[k]);
      highest[k] = std::max(highest[k], v[k]);
    }
  }
};

// Marks the samples that are not finite, or all zero, Invalid, and finds the clipped extremes
// and the range of the others; returns how many they are.
std::size_t findValid(const std::vector<Vec3>& values, std::vector<SampleStatus>& status,
                      std::vector<ClippedExtreme>& clipping, Box& box) {
  ClippingSearch search;
  std::size_t valid = 0;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const Vec3& v = values[i];
    if (!isFinite(v) || isZero(v)) {
      status[i] = SampleStatus::Invalid;
      continue;
    }
    ++valid;
    search.add(v);
    box.add(v);
  }
  clipping = search.extremes();
  return valid;
}

// Sets the clipped samples among the kept ones aside (status Clipped); returns how many.
std::size_t setClippedAside(const std::vector<Vec3>& values, std::vector<SampleStatus>& status,
                            const std::vector<ClippedExtreme>& clipping) {
  std::size_t clipped = 0;
  if (!clipping.empty()) {
    forKept(values, status, [&](std::size_t i, const Vec3& v) {
      if (isClipped(v, clipping)) {
        status[i] = SampleStatus::Clipped;
        ++clipped;
      }
    });
  }
  return clipped;
}

// The spike window over the count kept samples, which lie in box (see kBoxQuantile): each axis's
// two percentiles found together, in passes over the samples without a copy.
AcceptanceWindow spikeWindow(const std::vector<Vec3>& values,
                             const std::vector<SampleStatus>& status, std::size_t count,
                             const Box& box) {
  AcceptanceWindow window;
  window.measure = AcceptanceWindow::Measure::DistanceFromCentre;
  window.rejectedAs = SampleStatus::Disturbed;
  // Ranks symmetric about the middle, so that up to 100 samples the box is their full range.
  const std::size_t lowRank =
      static_cast<std::size_t>(kBoxQuantile * static_cast<double>(count - 1));
  const std::size_t highRank = count - 1 - lowRank;
  const std::vector<double> targets = {static_cast<double>(lowRank + 1),
                                       static_cast<double>(highRank + 1)};
  const std::vector<double> fractions = {targets[0] / static_cast<double>(count),
                                         targets[1] / static_cast<double>(count)};
  std::array<std::vector<WeightedValue>, 3> sample;
  const std::size_t stride = std::max<std::size_t>(1, count / kSampleSize);
  std::size_t skip = 0;
  forKept(values, status, [&](std::size_t, const Vec3& v) {
    if (skip-- == 0) {
      skip = stride - 1;
      for (std::size_t k = 0; k < 3; ++k) {
        sample[k].push_back({v[k], 1.0});
      }
    }
  });
  std::vector<OrderSearch> axes;
  for (std::size_t k = 0; k < 3; ++k) {
    axes.emplace_back(targets, false, box.lowest[k], box.highest[k],
                      bracketsFromSample(std::move(sample[k]), fractions));
  }
  // Each pass hands the axes their components a chunk at a time.
  constexpr std::size_t kChunk = 256;
  std::array<std::array<double, kChunk>, 3> chunk;
  std::array<double, kChunk> ones;
  ones.fill(1.0);
  std::size_t filled = 0;
  const auto flush = [&] {
    for (std::size_t k = 0; k < 3; ++k) {
      axes[k].add(chunk[k].data(), ones.data(), filled);
    }
    filled = 0;
  };
  while (axes[0].wanted() || axes[1].wanted() || axes[2].wanted()) {
    forKept(values, status, [&](std::size_t, const Vec3& v) {
      for (std::size_t k = 0; k < 3; ++k) {
        chunk[k][filled] = v[k];
      }
      if (++filled == kChunk) {
        flush();
      }
    });
    flush();
    for (OrderSearch& axis : axes) {
      axis.endPass();
    }
  }
  double halfWidth = 0.0;
  for (int k = 0; k < 3; ++k) {
    const double low = axes[static_cast<std::size_t>(k)].value(0);
    const double high = axes[static_cast<std::size_t>(k)].value(1);
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

DistanceWindow distanceWindow(const AcceptanceWindow& window) {
  return DistanceWindow(window.lower, window.upper);
}

// The automatic mode's first shell: the samples within its width of the preliminary sphere, to
// which a second sphere is fitted.
struct FirstShell {
  double width;
  SphereSums second;
};

// What both modes see of the raw samples before any fit, on status (all Kept on entry): invalid
// samples marked, clipped ones set aside, gross spikes rejected by the spike window (returned,
// when any sample was left to apply it to), and on the samples kept the spread and the
// preliminary sphere, into stage. With shell, the last pass also sums the samples of the first
// shell. Three passes after the spike window's.
std::optional<AcceptanceWindow> screen(const std::vector<Vec3>& values,
                                       std::vector<SampleStatus>& status, FitStage& stage,
                                       FirstShell* shell) {
  Box box;
  std::size_t count = findValid(values, status, stage.clipping, box);
  stage.clipped = setClippedAside(values, status, stage.clipping);
  count -= stage.clipped;
  if (count == 0) {
    return std::nullopt;
  }
  const AcceptanceWindow spikes = spikeWindow(values, status, count, box);
  const DistanceWindow spikeBounds = distanceWindow(spikes);
  SpreadSums spread;
  SphereSums sphere;
  forKept(values, status, [&](std::size_t i, const Vec3& v) {
    if (!spikeBounds.accepts(difference(v, spikes.centre))) {
      status[i] = spikes.rejectedAs;
      return;
    }
    spread.addToLargest(v);
    sphere.addToMean(v);
  });
  sphere.endMean();
  forKept(values, status, [&](std::size_t, const Vec3& v) {
    spread.addToMean(v);
    sphere.addToScatter(v);
  });
  stage.preliminary = sphere.solve();
  spread.endMean();
  const bool shells = shell != nullptr && std::isfinite(stage.preliminary.radius);
  const AcceptanceWindow first = shellWindow(stage.preliminary, shells ? shell->width : 0.0);
  const DistanceWindow firstBounds = distanceWindow(first);
  forKept(values, status, [&](std::size_t, const Vec3& v) {
    spread.addToDeviations(v);
    if (shells && firstBounds.accepts(difference(v, first.centre))) {
      shell->second.addToMean(v);
    }
  });
  stage.spread = spread.ratio();
  return spikes;
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

// The three candidate fits of count samples into the stage's models, with what became of each
// under the core's rule.
void settleFits(const coder::MagcalFits& fits, std::size_t count, FitStage& stage) {
  stage.chosen = fits.chosen;
  copyFits(fits, stage.models);
  if (count == 0) {
    for (ModelFit& model : stage.models) {
      model.decision = ModelDecision::NotFitted;
      model.reason = "not fitted: no sample was kept";
    }
    return;
  }
  settleAdopted(stage.models, adoptModels(stage.models), stage.chosen);
}

// The core's three fits of the kept samples: streamed from the design, or where rounding would
// decide them computed by the core itself.
void fitKept(const std::vector<Vec3>& values, const StreamedDesign& design, FitStage& stage) {
  coder::MagcalFits fits;
  if (!design.fits(fits)) {
    coreMagcalFits(values, keptRows(stage.status), fits);
  }
  settleFits(fits, design.rows(), stage);
}

// The models of a recording that is not fitted, each with the reason.
void leaveUnfitted(const std::vector<Vec3>& values, const char* reason, FitStage& stage) {
  coder::MagcalFits fits;
  coreMagcalFits(values, {}, fits);
  settleFits(fits, 0, stage);
  for (ModelFit& model : stage.models) {
    model.reason = reason;
  }
}

// The automatic mode's refinement of the fit of the kept samples (some): those whose corrected
// magnitude is an outlier become Outlier, and when any did the rest are fitted again, the blocks
// of the design that lost a sample built anew.
void refineOnce(const std::vector<Vec3>& values, double outlierLimit, StreamedDesign& design,
                FitStage& stage) {
  AcceptanceWindow window;
  window.measure = AcceptanceWindow::Measure::CorrectedMagnitude;
  window.calibration = stage.models[stage.chosen].calibration;
  window.rejectedAs = SampleStatus::Outlier;
  std::vector<std::size_t> dropped;
  {
    const CorrectedMagnitudes corrected =
        correctedMagnitudes(values, stage.status, window.calibration);
    const MagnitudeBounds bounds = outlierBounds(corrected, outlierLimit);
    if (!std::isfinite(bounds.lower) || !std::isfinite(bounds.upper)) {
      return;
    }
    window.lower = bounds.lower;
    window.upper = bounds.upper;
    std::size_t k = 0;
    forKept(values, stage.status, [&](std::size_t i, const Vec3&) {
      if (!window.accepts(corrected.magnitude[k++])) {
        stage.status[i] = SampleStatus::Outlier;
        dropped.push_back(i);
      }
    });
  }
  stage.windows.push_back(window);
  if (!dropped.empty()) {
    design.rebuild(values, dropped,
                   [&](std::size_t i) { return stage.status[i] == SampleStatus::Kept; });
    fitKept(values, design, stage);
  }
}

// The automatic mode: invalid and clipped samples aside, the spike window, a device that was not
// turned left unfitted; the disturbed samples outside the shell about the sphere fitted to the
// first shell (or about the preliminary sphere), applied in the pass that builds the design; the
// core's three fits, and one refinement.
FitStage fitAutomatic(const SampleSet& samples, const CalibrationOptions& options) {
  const std::vector<Vec3>& values = samples.values;
  FitStage stage;
  stage.status.assign(values.size(), SampleStatus::Kept);
  FirstShell first{options.disturbanceWindow, SphereSums()};
  if (const std::optional<AcceptanceWindow> spikes = screen(values, stage.status, stage, &first)) {
    stage.windows.push_back(*spikes);
  }
  if (stage.spread < kNotTurnedSpread) {
    stage.preliminary = Sphere();
    leaveUnfitted(values, "not fitted: the device was not turned", stage);
    return stage;
  }
  const bool shells = std::isfinite(stage.preliminary.radius);
  AcceptanceWindow shell;
  if (shells) {
    const AcceptanceWindow firstShell = shellWindow(stage.preliminary, first.width);
    const DistanceWindow firstBounds = distanceWindow(firstShell);
    first.second.endMean();
    forKept(values, stage.status, [&](std::size_t, const Vec3& v) {
      if (firstBounds.accepts(difference(v, firstShell.centre))) {
        first.second.addToScatter(v);
      }
    });
    const Sphere second = first.second.solve();
    shell = shellWindow(std::isfinite(second.radius) ? second : stage.preliminary, first.width);
    stage.windows.push_back(shell);
  }
  const DistanceWindow shellBounds = distanceWindow(shell);
  std::vector<SampleStatus>& status = stage.status;
  StreamedDesign design(values, [&](std::size_t i) {
    if (status[i] != SampleStatus::Kept) {
      return false;
    }
    if (shells && !shellBounds.accepts(difference(values[i], shell.centre))) {
      status[i] = SampleStatus::Disturbed;
      return false;
    }
    return true;
  });
  fitKept(values, design, stage);
  if (design.rows() > 0) {
    refineOnce(values, options.outlierLimit, design, stage);
  }
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
  coder::MagcalFits fits;
  coreMagcalFits(values, kept, fits);
  settleFits(fits, kept.size(), stage);

  // The samples' scale for the unit check and their spread, as the automatic mode finds them;
  // clipped samples are only counted, since the window's fit is fluxtrim.out's.
  std::vector<SampleStatus> scratch(values.size(), SampleStatus::Kept);
  screen(values, scratch, stage, nullptr);
  return stage;
}

}  // namespace

FitStage fitSamples(const SampleSet& samples, const CalibrationOptions& options) {
  return options.mode == Mode::FixedWindow ? fitFixedWindow(samples, options)
                                           : fitAutomatic(samples, options);
}

CorrectedMagnitudes correctedMagnitudes(const std::vector<Vec3>& values,
                                        const std::vector<SampleStatus>& status,
                                        const Calibration& calibration) {
  using coder::internal::Pair;
  const SphereGrid grid = coverageGrid();
  const std::size_t cells = static_cast<std::size_t>(grid.cells());
  // The samples in two halves, on the core's two threads where it has them: each writes the
  // magnitudes of its own kept samples and counts its cells; the counts are added.
  const std::size_t middle = values.size() / 2;
  const std::size_t before = static_cast<std::size_t>(std::count(
      status.begin(), status.begin() + static_cast<std::ptrdiff_t>(middle), SampleStatus::Kept));
  const std::size_t count = before + static_cast<std::size_t>(std::count(
                                         status.begin() + static_cast<std::ptrdiff_t>(middle),
                                         status.end(), SampleStatus::Kept));
  CorrectedMagnitudes corrected;
  reserveLarge(corrected.magnitude, count);
  corrected.magnitude.resize(count);
  corrected.cell.resize(count);
  std::vector<std::uint32_t> cellCount[2] = {std::vector<std::uint32_t>(cells + 1, 0),
                                             std::vector<std::uint32_t>(cells + 1, 0)};
  coder::internal::runTwoParts(coder::internal::splitPays(values.size()), [&](int half) {
    std::size_t k = half == 0 ? 0 : before;
    // Two samples at a time, through the two-lane norm, longitude and division; the first
    // `take` lanes are kept.
    const auto correct = [&](const Vec3& a, const Vec3& b, int take) {
      const Vec3 ca = applyCalibration(calibration, a);
      const Vec3 cb = applyCalibration(calibration, b);
      const std::array<double, 2> m = norms(ca, cb);
      const Pair angle = longitudes(Pair{ca[1], cb[1]}, Pair{ca[0], cb[0]});
      const Pair z = Pair{ca[2], cb[2]} / Pair{m[0], m[1]};
      for (int lane = 0; lane < take; ++lane, ++k) {
        std::size_t cell = cells;
        if (m[lane] > 0.0 && std::isfinite(m[lane])) {
          cell = static_cast<std::size_t>(
              cellOfAngles(z[lane], angle[lane], grid.bands(), grid.sectors()));
        }
        corrected.magnitude[k] = m[lane];
        corrected.cell[k] = static_cast<std::uint8_t>(cell);
        ++cellCount[half][cell];
      }
    };
    const Vec3* waiting = nullptr;
    for (std::size_t i = half == 0 ? 0 : middle; i < (half == 0 ? middle : values.size()); ++i) {
      if (status[i] != SampleStatus::Kept) {
        continue;
      }
      if (waiting != nullptr) {
        correct(*waiting, values[i], 2);
        waiting = nullptr;
      } else {
        waiting = &values[i];
      }
    }
    if (waiting != nullptr) {
      correct(*waiting, *waiting, 1);
    }
  });
  corrected.cellCount = std::move(cellCount[0]);
  for (std::size_t c = 0; c <= cells; ++c) {
    corrected.cellCount[c] += cellCount[1][c];
  }
  return corrected;
}

MagnitudeBounds outlierBounds(const CorrectedMagnitudes& corrected, double limit) {
  const double kFloor = 0.01;  // never narrower than 1 % of the typical magnitude
  std::vector<double> weights(corrected.cellCount.size());
  for (std::size_t c = 0; c < weights.size(); ++c) {
    weights[c] = 1.0 / corrected.cellCount[c];
  }
  // A NaN magnitude cannot be ordered: it takes no part and falls outside any bounds.
  double lowest = std::numeric_limits<double>::infinity();
  double highest = -std::numeric_limits<double>::infinity();
  for (double m : corrected.magnitude) {
    lowest = std::min(lowest, m);
    highest = std::max(highest, m);
  }
  // The weighted median of the magnitudes, then of their distances from it, each bracketed from
  // a sample of them first.
  const std::size_t stride = std::max<std::size_t>(1, corrected.magnitude.size() / kSampleSize);
  const auto weightedMedianOf = [&](double low, double high, auto valueOf) {
    std::vector<WeightedValue> sample;
    for (std::size_t k = 0; k < corrected.magnitude.size(); k += stride) {
      const double value = valueOf(corrected.magnitude[k]);
      if (!std::isnan(value)) {
        sample.push_back({value, weights[corrected.cell[k]]});
      }
    }
    OrderSearch search({0.5}, true, low, high, bracketsFromSample(std::move(sample), {0.5}));
    constexpr std::size_t kChunk = 256;
    double chunk[kChunk];
    double chunkWeights[kChunk];
    while (search.wanted()) {
      std::size_t filled = 0;
      for (std::size_t k = 0; k < corrected.magnitude.size(); ++k) {
        chunk[filled] = valueOf(corrected.magnitude[k]);
        chunkWeights[filled] = weights[corrected.cell[k]];
        filled += std::isnan(chunk[filled]) ? 0 : 1;
        if (filled == kChunk) {
          search.add(chunk, chunkWeights, filled);
          filled = 0;
        }
      }
      search.add(chunk, chunkWeights, filled);
      search.endPass();
    }
    return search.value(0);
  };
  const double median = weightedMedianOf(lowest, highest, [](double m) { return m; });
  const double deviation =
      weightedMedianOf(0.0, std::max(std::fabs(lowest - median), std::fabs(highest - median)),
                       [&](double m) { return std::fabs(m - median); });
  const double halfWidth = std::max(limit * kMadToSigma * deviation, kFloor * median);
  return {median - halfWidth, median + halfWidth};
}

}  // namespace detail
}  // namespace fluxtrim
