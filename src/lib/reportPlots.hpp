// The figures of the calibration report, as inline SVG: the samples raw and corrected in three
// projections, the histograms of their magnitudes against the reference and the acceptance
// windows, and the map of the corrected directions.
#ifndef FLUXTRIM_LIB_REPORT_PLOTS_HPP
#define FLUXTRIM_LIB_REPORT_PLOTS_HPP

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "fluxtrim/calibration.hpp"

namespace fluxtrim {
namespace detail {

// Most samples of each kind drawn as points: the plots and the page stay the same size however
// long the recording.
constexpr std::size_t kMaxKeptPoints = 3000;
constexpr std::size_t kMaxRejectedPoints = 1000;

// A drawn sample: raw, corrected by the result's calibration, and what became of it.
struct PlotSample {
  Vec3 raw;
  Vec3 corrected;
  SampleStatus status;
};

// The samples the plots draw: of the kept samples and of the others whose components are all
// finite, at most kMaxKeptPoints and kMaxRejectedPoints, evenly spread over each kind's order in
// the file (the k-th of m drawn out of n is the floor(k * n / m)-th), so the choice depends on
// nothing but the statuses.
struct PlotSelection {
  std::vector<PlotSample> kept;
  std::vector<PlotSample> rejected;
  std::size_t keptTotal = 0;      // kept samples in the set
  std::size_t rejectedTotal = 0;  // others with finite components
};
// result.status holds one status per sample; not checked here.
PlotSelection selectSamples(const SampleSet& samples, const CalibrationResult& result);

// What the figures need besides the samples, in the samples' unit.
struct PlotContext {
  std::string unit;                                         // symbol, HTML-escaped
  double field = std::numeric_limits<double>::quiet_NaN();  // reference strength
  std::string fieldName;                                    // "model field", "given field"
  int decimals = 4;                                         // for values of the field's size
};

// Six square SVG plots, XY, YZ and XZ of the raw and then of the corrected samples, on one scale:
// the kept samples whose corrected direction lies within 15 degrees of the plot's plane as
// dots, the other kept samples as faint dots, rejected samples as crosses (outliers as open
// diamonds), the circle of the fitted radius about the offset (raw) or the origin (corrected),
// and the offset marked. Each <svg> has the id proj-raw-xy ... proj-corrected-xz, its plot area
// the class "frame" and its circle the class "fit".
std::vector<std::string> projectionPlots(const PlotSelection& selection,
                                         const CalibrationResult& result,
                                         const PlotContext& context);

// Histograms over every sample with finite components (status Invalid aside), on one magnitude
// axis: |raw|, the measure of each acceptance window over the samples that reached it, and the
// corrected magnitude, each split into kept and rejected samples; the reference strength, the
// windows and the fitted radius marked. The range comes from the selection. id "magnitudes".
std::string magnitudePlot(const SampleSet& samples, const PlotSelection& selection,
                          const CalibrationResult& result, const PlotContext& context);

// The corrected directions of the drawn kept samples on a cylindrical equal-area map of the
// sphere (x the longitude atan2(Y, X), y the Z component of the unit direction), with the
// coverage cells that no kept sample reached hatched, the largest gap's cap outlined and its
// centre marked, and the axis turned about for a degenerate motion. id "coverage", plot area
// class "frame".
std::string coveragePlot(const PlotSelection& selection, const CalibrationResult& result);

}  // namespace detail
}  // namespace fluxtrim

#endif
