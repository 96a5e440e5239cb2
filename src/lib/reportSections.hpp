// The parts of the calibration report that another page can show: its style sheet and its
// sections, so that a page built around them draws what the report draws, to the byte.
#ifndef FLUXTRIM_LIB_REPORT_SECTIONS_HPP
#define FLUXTRIM_LIB_REPORT_SECTIONS_HPP

#include <string>

#include "fluxtrim/calibration.hpp"
#include "fluxtrim/report.hpp"
#include "fluxtrim/samples.hpp"

namespace fluxtrim {
namespace detail {

// The report's CSS: the page's layout, and the classes of the plots' marks.
const char* reportStyle();

// The report's sections in their order, each a <section> with its id: verdict, calibration,
// projections, magnitude-histograms, coverage-map, checks, models, input. The SVG inside is
// reportHtml's; the hatch patterns are defined in the plots that use them. Throws UsageError as
// reportHtml does.
std::string reportSections(const SampleSet& samples, const CalibrationOptions& options,
                           const CalibrationResult& result, const ReportOptions& view = {});

}  // namespace detail
}  // namespace fluxtrim

#endif
