// The diagnostic half of a calibration: figures, coverage, motion, checks and verdict, computed
// from the outcome of the fit (fitStage.hpp) at a cost that grows only linearly with the kept
// samples.
#ifndef FLUXTRIM_LIB_DIAGNOSE_HPP
#define FLUXTRIM_LIB_DIAGNOSE_HPP

#include "fitStage.hpp"
#include "fluxtrim/calibration.hpp"

namespace fluxtrim {
namespace detail {

// The complete result of calibrating samples with options, whose fit gave stage.
CalibrationResult diagnose(const SampleSet& samples, const CalibrationOptions& options,
                           FitStage stage);

}  // namespace detail
}  // namespace fluxtrim

#endif
