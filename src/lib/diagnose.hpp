// The diagnostic half of a calibration: figures, coverage, motion, checks and verdict, computed
// from the outcome of the fit (fitStage.hpp) at a cost that grows only linearly with the kept
// samples.
#ifndef FLUXTRIM_LIB_DIAGNOSE_HPP
#define FLUXTRIM_LIB_DIAGNOSE_HPP

#include "fitStage.hpp"
#include "fluxtrim/calibration.hpp"

namespace fluxtrim {
namespace detail {

// A check of a value against a warning and a failure limit (NaN: none), in unit: its severity,
// and the limit to report, the one broken or the warning limit when none is.
Check graded(CheckCode code, double value, double warn, double fail, LimitKind kind,
             const char* unit);

// The complete result of calibrating samples with options, whose fit gave stage.
CalibrationResult diagnose(const SampleSet& samples, const CalibrationOptions& options,
                           FitStage stage);

// The verdict and the reasons of r from r.diagnostics.checks (in CheckCode order), the reasons
// that only restate a failed unit marked as such; for checks added or replaced after diagnose.
void judgeChecks(CalibrationResult& r);

}  // namespace detail
}  // namespace fluxtrim

#endif
