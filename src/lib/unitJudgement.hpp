// Which unit the samples' scale suggests when it is compared with the field.
#ifndef FLUXTRIM_LIB_UNIT_JUDGEMENT_HPP
#define FLUXTRIM_LIB_UNIT_JUDGEMENT_HPP

#include <string>

#include "constants.hpp"
#include "fluxtrim/units.hpp"

namespace fluxtrim {
namespace detail {

struct UnitJudgement {
  bool matches = false;  // the scale fits the samples' unit
  SampleUnit apparent;   // the unit whose scale fits; Counts with the implied scale when none does
  double scale = 0.0;    // the scale judged, samples' unit
  bool fitted = false;   // the scale judged is the fitted field (see judgeUnitOnFit)
  double ratio = 0.0;    // scale in gauss (read in the samples' unit) over the expected field
  double expected_G = 0.0;  // the field the scale was compared with
  double bandLow = 0.0;     // the ratios [bandLow, bandHigh] fit the samples' unit
  double bandHigh = 0.0;
};

// Judges a scale (the radius of the samples, in their unit) against the field field_G (gauss;
// NaN for none, when the nominal Earth field is used). A unit fits when the scale, read in it,
// lies within a factor 10^0.5 of the field: the candidates (gauss, milligauss, microtesla,
// nanotesla, tesla) are powers of ten apart, so at most one fits. scale must be finite and > 0.
UnitJudgement judgeUnit(double scale, const SampleUnit& unit, double field_G);

// The same judgement made robust: when the scale fits no unit but the fitted field radius (samples'
// unit; NaN without a fit) lies within fittedTolerance of the field field_G, or without a field
// within the Earth's range, the fitted field is judged instead. A few samples far off the sphere
// (a sensor's overflow code, a glitch the spike window lets through) pull the scale of all
// samples; the fit, which leaves them out, is then the better witness of the unit.
UnitJudgement judgeUnitOnFit(double scale, double radius, const SampleUnit& unit, double field_G,
                             double fittedTolerance);

}  // namespace detail
}  // namespace fluxtrim

#endif
