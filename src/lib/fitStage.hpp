// The fitting half of a calibration: which samples are kept, the windows that decide it, and the
// three candidate fits of the calibration core on the kept samples. The diagnostics are computed
// from its outcome (diagnose.hpp).
#ifndef FLUXTRIM_LIB_FIT_STAGE_HPP
#define FLUXTRIM_LIB_FIT_STAGE_HPP

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "fluxtrim/calibration.hpp"
#include "sampleScreening.hpp"
#include "sphereFit.hpp"

namespace fluxtrim {
namespace detail {

struct FitStage {
  std::vector<SampleStatus> status;       // one per sample
  std::vector<AcceptanceWindow> windows;  // in the order applied
  std::array<ModelFit, 3> models;         // residuals not yet filled in
  int chosen = 0;                         // the kept model, by the core's rule
  // The sphere through all valid samples (finite, not all zero), gross spikes and clipped
  // samples aside: the samples' scale for the unit check, before any window has shaped the set.
  // Not fitted in the automatic mode when the device was not turned.
  Sphere preliminary;
  // The clipped extremes of the valid samples, and how many valid samples have a clipped
  // component (the automatic mode's Clipped ones).
  std::vector<ClippedExtreme> clipping;
  std::size_t clipped = 0;
  // Motion::spread of the samples the preliminary sphere is fitted to. Below kNotTurnedSpread
  // the automatic mode fits nothing; the fixed window fits as fluxtrim.out does.
  double spread = std::numeric_limits<double>::quiet_NaN();
};

// The vector whose norm is the window's measure of a raw sample (AcceptanceWindow::measureOf):
// the sample, its difference from the centre, or the sample corrected; NaN for a measure that is
// none of the enumerators.
Vec3 measuredVector(const AcceptanceWindow& window, const Vec3& raw);

// Runs the mode's fit: the windows, the core's fits, and in the automatic mode the refinement.
// Options must have been checked (calibrate does that).
FitStage fitSamples(const SampleSet& samples, const CalibrationOptions& options);

// The corrected magnitudes of the samples whose status is Kept, in their order: for each
// |corrected| (the core's norm) with the coverage cell of its corrected direction
// (coverageGrid().cells() for a direction that has none: zero or not finite), and the count of
// samples per cell (one more entry, for those without a direction). A direction's cell is
// SphereGrid::cellOf of the corrected sample.
struct CorrectedMagnitudes {
  std::vector<double> magnitude;
  std::vector<std::uint8_t> cell;
  std::vector<std::uint32_t> cellCount;
};
CorrectedMagnitudes correctedMagnitudes(const std::vector<Vec3>& values,
                                        const std::vector<SampleStatus>& status,
                                        const Calibration& calibration);

// The window of typical corrected magnitudes: median +- max(limit * kMadToSigma * MAD, 1 % of the
// median), with median and MAD weighted so that each coverage cell weighs the same, however many
// samples dwell in it. NaN bounds without magnitudes.
struct MagnitudeBounds {
  double lower;
  double upper;
};
MagnitudeBounds outlierBounds(const CorrectedMagnitudes& corrected, double limit);

}  // namespace detail
}  // namespace fluxtrim

#endif
