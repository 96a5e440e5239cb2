#include "unitJudgement.hpp"

#include <cmath>

namespace fluxtrim {
namespace detail {

UnitJudgement judgeUnit(double scale, const SampleUnit& unit, double field_G) {
  UnitJudgement judgement;
  judgement.expected_G =
      std::isfinite(field_G) ? field_G : std::sqrt(kEarthFieldMin_G * kEarthFieldMax_G);
  const double halfDecade = std::sqrt(10.0);
  judgement.bandLow = 1.0 / halfDecade;
  judgement.bandHigh = halfDecade;
  judgement.scale = scale;
  const double scale_G = scale * unit.gaussPerUnit();
  judgement.ratio = scale_G / judgement.expected_G;
  judgement.matches = judgement.ratio >= judgement.bandLow && judgement.ratio <= judgement.bandHigh;
  if (judgement.matches) {
    judgement.apparent = unit;
    return judgement;
  }
  const Unit candidates[] = {Unit::Gauss, Unit::Milligauss, Unit::Microtesla, Unit::Nanotesla,
                             Unit::Tesla};
  for (Unit candidate : candidates) {
    const SampleUnit c{candidate, 0.0};
    const double ratio = scale * c.gaussPerUnit() / judgement.expected_G;
    if (ratio >= judgement.bandLow && ratio <= judgement.bandHigh) {
      judgement.apparent = c;
      return judgement;
    }
  }
  // No unit fits: raw counts at the scale that maps the samples onto the field.
  judgement.apparent = SampleUnit::counts(scale / judgement.expected_G);
  return judgement;
}

UnitJudgement judgeUnitOnFit(double scale, double radius, const SampleUnit& unit, double field_G,
                             double fittedTolerance) {
  const UnitJudgement judgement = judgeUnit(scale, unit, field_G);
  const double radius_G = radius * unit.gaussPerUnit();
  const bool fitMatches = std::isfinite(field_G)
                              ? std::fabs(radius_G / field_G - 1.0) <= fittedTolerance
                              : radius_G >= kEarthFieldMin_G && radius_G <= kEarthFieldMax_G;
  if (judgement.matches || !fitMatches) {
    return judgement;
  }
  UnitJudgement onFit = judgeUnit(radius, unit, field_G);
  onFit.fitted = true;
  return onFit;
}

}  // namespace detail
}  // namespace fluxtrim
