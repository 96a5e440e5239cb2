#include "unitJudgement.hpp"

#include <cmath>
#include <cstdio>

namespace fluxtrim {
namespace detail {

double gaussPer(const SampleUnit& unit) {
  switch (unit.unit) {
    case Unit::Gauss:
      return 1.0;
    case Unit::Milligauss:
      return 1e-3;
    case Unit::Microtesla:
      return 1e-2;
    case Unit::Nanotesla:
      return 1e-5;
    case Unit::Tesla:
      return 1e4;
    case Unit::Counts:
      return 1.0 / unit.countsPerGauss;
  }
  return 1.0;
}

std::string unitLabel(const SampleUnit& unit) {
  switch (unit.unit) {
    case Unit::Gauss:
      return "gauss";
    case Unit::Milligauss:
      return "milligauss";
    case Unit::Microtesla:
      return "microtesla";
    case Unit::Nanotesla:
      return "nanotesla";
    case Unit::Tesla:
      return "tesla";
    case Unit::Counts: {
      char text[64];
      std::snprintf(text, sizeof text, "counts (%.4g per gauss)", unit.countsPerGauss);
      return text;
    }
  }
  return "gauss";
}

std::string unitSymbol(const SampleUnit& unit) {
  switch (unit.unit) {
    case Unit::Gauss:
      return "G";
    case Unit::Milligauss:
      return "mG";
    case Unit::Microtesla:
      return "uT";
    case Unit::Nanotesla:
      return "nT";
    case Unit::Tesla:
      return "T";
    case Unit::Counts:
      return "counts";
  }
  return "G";
}

UnitJudgement judgeUnit(double scale, const SampleUnit& unit, double field_G) {
  UnitJudgement judgement;
  judgement.expected_G =
      std::isfinite(field_G) ? field_G : std::sqrt(kEarthFieldMin_G * kEarthFieldMax_G);
  const double halfDecade = std::sqrt(10.0);
  judgement.bandLow = 1.0 / halfDecade;
  judgement.bandHigh = halfDecade;
  const double scale_G = scale * gaussPer(unit);
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
    const double ratio = scale * gaussPer(c) / judgement.expected_G;
    if (ratio >= judgement.bandLow && ratio <= judgement.bandHigh) {
      judgement.apparent = c;
      return judgement;
    }
  }
  // No unit fits: raw counts at the scale that maps the samples onto the field.
  judgement.apparent = SampleUnit::counts(scale / judgement.expected_G);
  return judgement;
}

}  // namespace detail
}  // namespace fluxtrim
