#include "fluxtrim/report.hpp"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "fluxtrim/error.hpp"
#include "fluxtrim/field.hpp"
#include "fluxtrim/text.hpp"
#include "fluxtrim/version.hpp"
#include "reportPlots.hpp"
#include "reportSections.hpp"
#include "reportText.hpp"
#include "reportVehicle.hpp"

namespace fluxtrim {

namespace {

using detail::figure;
using detail::fixed;
using detail::html;
using detail::shortest;
using detail::significant;

// The page's style: Okabe-Ito colours (distinguishable with every common colour vision
// deficiency), every mark also told apart by its shape, and A4 print rules.
const char kStyle[] = R"CSS(
*{box-sizing:border-box}
body{margin:0;background:#eceff2;color:#1b1f24;font:15px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,"DejaVu Sans",sans-serif}
main{max-width:1120px;margin:0 auto;padding:22px 18px 36px}
header h1{font-size:25px;margin:0 0 2px}
.sub{color:#4d5661;margin:0}
section{background:#fff;border:1px solid #d5dae0;border-radius:10px;padding:16px 22px 18px;margin:16px 0}
h2{font-size:18px;margin:0 0 10px}
h3{font-size:15px;margin:14px 0 6px}
p{margin:6px 0}
.muted{color:#4d5661}
code,pre,.code{font-family:ui-monospace,"DejaVu Sans Mono",Menlo,Consolas,monospace}
.verdict{border-left:12px solid #d55e00}
.verdict.pass{border-left-color:#009e73}
.verdict.warn{border-left-color:#e69f00}
.badge{display:inline-block;font-weight:700;font-size:22px;letter-spacing:.05em;padding:2px 14px;border-radius:6px;color:#fff;background:#b84f00;margin-right:12px}
.pass .badge{background:#00785a}
.warn .badge{background:#e69f00;color:#000}
.headline{display:inline;font-size:18px;font-weight:600;vertical-align:3px}
ol.reasons{list-style:none;padding:0;margin:14px 0 0}
ol.reasons li{display:grid;grid-template-columns:5em 6.5em 1fr;column-gap:12px;padding:8px 0;border-top:1px solid #e1e5ea}
.sev{font-weight:700;white-space:nowrap}
.sev-fail .sev{color:#b34700}
.sev-warn .sev{color:#7a5300}
.sev-ok .sev{color:#00785a}
.reasons .code{color:#4d5661}
.action{grid-column:3;color:#1b1f24;font-weight:600}
ol.reasons li.also{border-top:none;padding-top:0}
.two{display:grid;grid-template-columns:minmax(0,1fr) minmax(0,1fr);gap:0 28px;margin-top:12px}
.calwrap{position:relative}
pre{background:#f5f7f9;border:1px solid #d5dae0;border-radius:6px;padding:10px 12px;margin:0;overflow-x:auto;font-size:12.5px;line-height:1.5;white-space:pre}
button.copy{position:absolute;top:6px;right:6px;font:inherit;font-size:13px;padding:2px 10px;border:1px solid #9aa3ad;border-radius:5px;background:#fff;cursor:pointer}
table{border-collapse:collapse;width:100%;font-size:13.5px}
th,td{text-align:left;padding:4px 8px;border-top:1px solid #e1e5ea;vertical-align:top}
th{font-weight:600;color:#333}
thead th{border-top:none;border-bottom:2px solid #d5dae0}
td.num,th.num{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}
table.kv th{width:9em}
.grid3{display:grid;grid-template-columns:repeat(3,minmax(0,1fr));gap:4px 14px}
figure{margin:0}
svg.plot{display:block;width:100%;height:auto}
.legend{display:flex;flex-wrap:wrap;gap:4px 20px;font-size:13px;color:#333;margin:8px 0 4px;padding:0;list-style:none}
.legend svg{vertical-align:-2px;margin-right:6px}
.caption{font-size:13px;color:#4d5661;margin:6px 0 0}
footer{font-size:12.5px;color:#4d5661;margin:14px 4px}
.plot text{font-family:system-ui,-apple-system,"Segoe UI",Roboto,"DejaVu Sans",sans-serif}
.tick{font-size:10px;fill:#3d444c}
.label{font-size:11.5px;fill:#1b1f24}
.title{font-size:13px;font-weight:600;fill:#1b1f24}
.row-title{font-size:12.5px;fill:#1b1f24}
.note{font-size:10.5px;fill:#4d5661}
.halo{paint-order:stroke;stroke:#fff;stroke-width:3px;stroke-linejoin:round}
.mark-label{font-size:11px;font-weight:600;fill:#000;paint-order:stroke;stroke:#fff;stroke-width:3px;stroke-linejoin:round}
.frame{fill:none;stroke:#4d5661;stroke-width:1}
.grid{fill:none;stroke:#e3e7eb;stroke-width:1}
.axis{fill:none;stroke:#4d5661;stroke-width:1}
.pt-kept{fill:none;stroke:#0072b2;stroke-width:3.4;stroke-linecap:round}
.pt-other{fill:none;stroke:#c4c9cf;stroke-width:2.4;stroke-linecap:round}
.pt-rejected{fill:none;stroke:#d55e00;stroke-width:1.4}
.pt-outlier{fill:none;stroke:#cc79a7;stroke-width:1.4}
.pt-clipped{fill:none;stroke:#000;stroke-width:1.4}
.fit{fill:none;stroke:#000;stroke-width:1.4;stroke-dasharray:6 4}
.centre{fill:none;stroke:#000;stroke-width:1.4}
.bar-kept{fill:#0072b2}
.bar-rejected{fill:url(#hatch-rejected);stroke:#d55e00;stroke-width:.6}
.window{fill:#f0e442;fill-opacity:.5}
.window-edge{fill:none;stroke:#5c5500;stroke-width:1.2;stroke-dasharray:4 3}
.field{fill:none;stroke:#000;stroke-width:1.8}
.radius{fill:none;stroke:#cc79a7;stroke-width:2;stroke-dasharray:7 3}
.empty{fill:url(#hatch-empty)}
.cells{fill:none;stroke:#b5bbc2;stroke-width:.7}
.gap{fill:none;stroke:#d55e00;stroke-width:2.2;stroke-dasharray:8 4}
.gap-centre{fill:#fff;stroke:#d55e00;stroke-width:2.2}
.gap-label,.axis-label{font-size:13px;font-weight:700;paint-order:stroke;stroke:#fff;stroke-width:4px;stroke-linejoin:round}
.gap-label{fill:#a64200}
.axis-label{fill:#8a3f6b}
.turn-axis{fill:#fff;stroke:#cc79a7;stroke-width:2.2}
@page{size:A4;margin:11mm}
@media screen and (max-width:760px){.grid3{grid-template-columns:minmax(0,1fr)}.two{grid-template-columns:minmax(0,1fr)}}
@media print{
*{-webkit-print-color-adjust:exact;print-color-adjust:exact}
body{background:#fff;font-size:9.5pt}
main{max-width:none;padding:0}
section{border:none;border-radius:0;padding:0;margin:0 0 5mm}
.verdict{padding-left:4mm}
h2,.lead{break-after:avoid}
h2{font-size:13pt}
button.copy{display:none}
pre{white-space:pre-wrap;overflow-wrap:anywhere;font-size:8.5pt}
figure,.legend,tr,ol.reasons li,#calibration,#magnitude-histograms,#coverage-map{break-inside:avoid}
.grid3{gap:0 3mm}
table{font-size:8.5pt}
}
)CSS";

// Adds a copy button above the calibration text; without scripts the text is selected by hand.
const char kScript[] = R"JS(
(function(){var p=document.getElementById('calibration-text');if(!p||!navigator.clipboard)return;
var b=document.createElement('button');b.type='button';b.className='copy';b.textContent='Copy';
b.onclick=function(){navigator.clipboard.writeText(p.textContent).then(function(){
b.textContent='Copied';setTimeout(function(){b.textContent='Copy';},1500);});};
p.parentNode.insertBefore(b,p);})();
)JS";

const char kMiddleDot[] = " \xC2\xB7 ";
const char kDegree[] = "\xC2\xB0";

std::string percent(double part, double whole) {
  return whole > 0.0 ? fixed(100.0 * part / whole, 1) + " %" : "n/a";
}

// The calibration as text to copy: the convention, what it was computed from, and the numbers
// in their shortest exact form. It names no file: a name is the input's text, and whatever it
// holds must not become a line of what is copied into a program.
std::string calibrationText(const SampleSet& samples, const CalibrationOptions& options,
                            const CalibrationResult& r) {
  const std::string unit = r.unit.symbol();
  const Calibration& c = r.calibration;
  std::string t;
  t += "# fluxtrim " + std::string(version()) + " calibration of " +
       std::to_string(samples.values.size()) + " samples\n";
  t += "# apply as: corrected = (raw - offset) * matrix, raw a row vector [X Y Z] in " +
       r.unit.name() + " (" + unit + ")\n";
  t += "# model: " + std::string(isPlanar(r) ? detail::planarModelName() : modelName(r.model)) +
       "; mode: " + modeName(r.mode) + "; verdict: " + verdictName(r.diagnostics.verdict) + "\n";
  t += "# reference: " + referenceText(options.reference) + "\n";
  if (options.reference.kind() == Reference::Kind::Field) {
    const FieldElements& e = options.reference.field().elements;
    t += "#   north " + fixed(e.north_nT, 1) + " nT, east " + fixed(e.east_nT, 1) + " nT, down " +
         fixed(e.down_nT, 1) + " nT, total " + fixed(e.total_nT, 1) + " nT\n";
  }
  t += "offset = [" + shortest(c.offset[0]) + ", " + shortest(c.offset[1]) + ", " +
       shortest(c.offset[2]) + "]\n";
  for (int row = 0; row < 3; ++row) {
    t += std::string(row == 0 ? "matrix = [[" : "          [") + shortest(c.matrix[row][0]) + ", " +
         shortest(c.matrix[row][1]) + ", " + shortest(c.matrix[row][2]) + (row == 2 ? "]]" : "],") +
         "\n";
  }
  return t;
}

void tableRow(std::string& page, const std::string& name, const std::string& value) {
  page += "<tr><th>" + name + "</th><td>" + value + "</td></tr>";
}

const char* severitySymbol(Severity severity) {
  switch (severity) {
    case Severity::Ok:
      return "\xE2\x9C\x93";  // check mark
    case Severity::Warn:
      return "!";
    case Severity::Fail:
      return "\xE2\x9C\x97";  // ballot x
  }
  return "";
}

std::string checkValue(const Check& check) {
  return judgeable(check.value) ? significant(check.value, 4) + " " + html(check.unit)
                                : figure(check.value, 0);
}

std::string checkLimit(const Check& check) {
  return std::string(check.limitKind == LimitKind::Maximum ? "\xE2\x89\xA4 " : "\xE2\x89\xA5 ") +
         significant(check.limit, 4) + " " + html(check.unit);
}

// A small legend icon: an inline SVG of 18 by 12 user units holding the given marks.
std::string swatch(const std::string& marks) {
  return "<svg width=\"18\" height=\"12\" viewBox=\"0 0 18 12\" aria-hidden=\"true\">" + marks +
         "</svg>";
}

void legendItem(std::string& page, const std::string& marks, const std::string& text) {
  page += "<li>" + swatch(marks) + text + "</li>";
}

void verdictSection(std::string& page, const CalibrationResult& r) {
  const Verdict verdict = r.diagnostics.verdict;
  static const char* const kHeadline[3] = {
      "The calibration can be used.", "The calibration can be used, with the warnings below.",
      "Do not use this calibration: see the reasons and what to do."};
  static const char* const kSymbol[3] = {"\xE2\x9C\x93", "!", "\xE2\x9C\x97"};
  const int v = static_cast<int>(verdict);
  page += "<section class=\"verdict " + std::string(verdictName(verdict)) +
          "\" id=\"verdict\"><span class=\"badge\">" + kSymbol[v] + " " +
          (v == 0 ? "PASS" : (v == 1 ? "WARN" : "FAIL")) + "</span><p class=\"headline\">" +
          kHeadline[v] + "</p>";
  if (r.diagnostics.reasons.empty()) {
    page += "<p class=\"muted\">Every check passed; nothing needs doing.</p>";
  } else {
    page += "<ol class=\"reasons\">";
    // A reason that follows from the one before it sits under it, marked "also".
    for (const Check& check : r.diagnostics.reasons) {
      const bool also = check.followsFrom.has_value();
      page += "<li class=\"sev-" + std::string(severityName(check.severity)) +
              (also ? " also" : "") + "\"><span class=\"sev\">" +
              (also ? std::string("also ") : severitySymbol(check.severity) + std::string(" ")) +
              severityName(check.severity) + "</span><span class=\"code\">" +
              checkCodeName(check.code) + "</span><span>" + html(check.message) + "</span>";
      if (!check.action.empty() && !also) {
        page += "<span class=\"action\">\xE2\x86\x92 " + html(check.action) + "</span>";
      }
      page += "</li>";
    }
    page += "</ol>";
  }
  page += "</section>";
}

// The left table of the calibration: what it was computed from.
void sourceTable(std::string& page, const CalibrationOptions& options, const CalibrationResult& r) {
  const Figures& f = r.figures;
  tableRow(page, "Reference", html(referenceText(options.reference)));
  if (options.reference.kind() == Reference::Kind::Field) {
    const ReferenceField& field = options.reference.field();
    tableRow(page, "Model field",
             fixed(field.elements.total_nT, 1) + " nT total" + kMiddleDot + "inclination " +
                 fixed(field.elements.inclination_deg, 2) + kDegree + kMiddleDot + "declination " +
                 fixed(field.elements.declination_deg, 2) + kDegree);
    if (!field.withinValidity) {
      tableRow(page, "Model validity", html(field.validityNote));
    }
  }
  tableRow(page, "Samples",
           std::to_string(f.samples) + " read" + kMiddleDot + std::to_string(f.kept()) + " kept (" +
               percent(static_cast<double>(f.kept()), f.samples) + ")");
  std::string rejected;
  for (int s = 1; s < kSampleStatusCount; ++s) {
    if (f.byStatus[s] > 0) {
      rejected += (rejected.empty() ? "" : kMiddleDot) + std::to_string(f.byStatus[s]) + " " +
                  statusName(static_cast<SampleStatus>(s));
    }
  }
  tableRow(page, "Rejected", rejected.empty() ? "none" : rejected);
  tableRow(page, "Unit",
           html(r.unit.name()) +
               (r.unitGiven ? ", given or stated by the recording" : ", assumed") +
               (f.unitMatches || !std::isfinite(f.scale)
                    ? ""
                    : kMiddleDot + ("the data look like " + html(f.apparentUnit.name()))));
}

// The motion's shape in a few words, with its figures.
std::string motionText(const Motion& m) {
  std::string motion = motionPatternName(m.pattern);
  if (m.pattern == MotionPattern::NotTurned) {
    return motion + kMiddleDot + "raw samples spread by " + significant(100.0 * m.spread, 2) +
           " % of their magnitude";
  }
  if (m.pattern != MotionPattern::NoSamples) {
    motion += kMiddleDot + ("planarity " + fixed(m.planarity, 3) + " (1/3 for a full tumble)");
  }
  if (m.pattern == MotionPattern::SpunAbout || m.pattern == MotionPattern::LyingFlat) {
    motion += kMiddleDot + ("axis (" + fixed(m.axis[0], 2) + ", " + fixed(m.axis[1], 2) + ", " +
                            fixed(m.axis[2], 2) + ")");
  }
  if (m.pattern == MotionPattern::ShortArc) {
    motion += kMiddleDot + ("arc " + fixed(m.arc_deg, 0) + kDegree);
  }
  return motion;
}

// The right table of the calibration: what the fit gave.
void fitTable(std::string& page, const CalibrationResult& r, const detail::PlotContext& context) {
  const Figures& f = r.figures;
  const std::string u = " " + context.unit;
  const int d = context.decimals;
  const bool gauss = r.unit.unit == Unit::Gauss;
  const auto inGauss = [&](double value, double value_G) {
    return figure(value, d) + u + (gauss ? "" : " (" + significant(value_G, 4) + " G)");
  };
  // A row whose first figure cannot be had says so once.
  const auto unless = [](double value, const std::string& text) {
    return std::isfinite(value) ? text : std::string("not judged");
  };
  tableRow(page, "Fitted field",
           unless(f.radius, inGauss(f.radius, f.radius_G) +
                                (std::isfinite(f.radiusToField)
                                     ? kMiddleDot + figure(f.radiusToField, 3) + " of the reference"
                                     : std::string())));
  const std::string residual =
      r.unit.unit == Unit::Milligauss
          ? figure(f.residual_mG, 2) + " mG"
          : figure(f.residual, d) + u + " (" + figure(f.residual_mG, 2) + " mG)";
  tableRow(page, "Residual",
           unless(f.residual_mG, residual + kMiddleDot + figure(100.0 * f.residualToField, 2) +
                                     " % of the field" + kMiddleDot + "about " +
                                     significant(f.heading_deg, 2) + kDegree + " of heading"));
  tableRow(page, "Offset",
           unless(f.offsetNorm, "|offset| " + inGauss(f.offsetNorm, f.offsetNorm_G) + kMiddleDot +
                                    figure(f.offsetToField, 2) + " of the field"));
  tableRow(page, "Soft iron",
           unless(f.softIronCondition, "eigenvalues " + figure(f.softIronEigenvalues[0], 4) + ", " +
                                           figure(f.softIronEigenvalues[1], 4) + ", " +
                                           figure(f.softIronEigenvalues[2], 4) + kMiddleDot +
                                           "condition " + figure(f.softIronCondition, 3)));
  tableRow(page, "Coverage",
           unless(r.coverage.fraction, std::to_string(r.coverage.occupiedCells) + " of " +
                                           std::to_string(r.coverage.grid.cells()) + " cells (" +
                                           fixed(100.0 * r.coverage.fraction, 0) + " %)" +
                                           kMiddleDot + "largest gap " +
                                           fixed(r.coverage.largestGap_deg, 0) + kDegree));
  tableRow(page, "Motion", motionText(r.motion));
}

void calibrationSection(std::string& page, const SampleSet& samples,
                        const CalibrationOptions& options, const CalibrationResult& r,
                        const detail::PlotContext& context) {
  page +=
      "<section id=\"calibration\"><h2>Calibration</h2><div class=\"calwrap\">"
      "<pre id=\"calibration-text\">";
  // Line by line, since html() shows a line feed as an escape.
  const std::string text = calibrationText(samples, options, r);
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\n', start);
    page += html(text.substr(start, end - start)) + "\n";
    start = end == std::string::npos ? text.size() : end + 1;
  }
  page +=
      "</pre></div><p class=\"caption\">Subtract the offset from each raw sample, then "
      "multiply the row vector by the matrix. The numbers are exact: each reads back to the "
      "double computed.</p><div class=\"two\"><table class=\"kv\">";
  sourceTable(page, options, r);
  page += "</table><table class=\"kv\">";
  fitTable(page, r, context);
  for (const auto& row : detail::vehicleRows(r)) {
    tableRow(page, row.first, row.second);
  }
  page += "</table></div></section>";
}

void projectionSection(std::string& page, const detail::PlotSelection& selection,
                       const CalibrationResult& r, const detail::PlotContext& context,
                       bool accelerometerFrame) {
  page += "<section id=\"projections\"><h2>Samples, raw and corrected</h2>";
  page +=
      "<p class=\"caption lead\">Each plot looks along one sensor axis, all on one scale. The "
      "samples whose corrected direction lies within 15" +
      std::string(kDegree) +
      " of the plot's plane are drawn in colour: a good calibration puts them on the circle "
      "of the fitted radius. The other kept samples are faint; they fill the disc." +
      (accelerometerFrame ? " The corrected samples are in the accelerometer's axes, turned by "
                            "the estimated mounting."
                          : "") +
      "</p>";
  const std::vector<std::string> plots = detail::projectionPlots(selection, r, context);
  page += "<div class=\"grid3\">";
  for (const std::string& plot : plots) {
    page += "<figure>" + plot + "</figure>";
  }
  page += "</div><ul class=\"legend\">";
  legendItem(page, "<path class=\"pt-kept\" d=\"M9 6h0\"/>", "kept, direction near the plane");
  legendItem(page, "<path class=\"pt-other\" d=\"M9 6h0\"/>", "kept, other directions");
  std::size_t outliers = 0;
  std::size_t clipped = 0;
  for (const detail::PlotSample& s : selection.rejected) {
    outliers += s.status == SampleStatus::Outlier ? 1 : 0;
    clipped += s.status == SampleStatus::Clipped ? 1 : 0;
  }
  if (outliers + clipped < selection.rejected.size()) {
    legendItem(page, "<path class=\"pt-rejected\" d=\"M6.5 3.5l5 5m0 -5l-5 5\"/>",
               "rejected before the fit");
  }
  if (clipped > 0) {
    legendItem(page, "<path class=\"pt-clipped\" d=\"M6.5 3.5l5 5m0 -5l-5 5\"/>",
               "clipped at the sensor's limit, left out");
  }
  if (outliers > 0) {
    legendItem(page, "<path class=\"pt-outlier\" d=\"M9 3l3 3l-3 3l-3 -3z\"/>",
               "rejected as outlier");
  }
  legendItem(page, "<path class=\"fit\" d=\"M1 6h16\"/>",
             "fitted radius " + figure(r.figures.radius, context.decimals) + " " + context.unit);
  legendItem(page, "<path class=\"centre\" d=\"M3 6h12M9 1v10\"/>",
             "offset (raw) and origin (corrected)");
  page += "</ul><p class=\"caption\">Drawn: " + std::to_string(selection.kept.size()) + " of " +
          std::to_string(selection.keptTotal) + " kept and " +
          std::to_string(selection.rejected.size()) + " of " +
          std::to_string(selection.rejectedTotal) +
          " rejected samples, evenly spread over the recording.</p></section>";
}

void magnitudeSection(std::string& page, const SampleSet& samples,
                      const detail::PlotSelection& selection, const CalibrationResult& r,
                      const detail::PlotContext& context) {
  page += "<section id=\"magnitude-histograms\"><h2>Magnitudes</h2>";
  page +=
      "<p class=\"caption lead\">Every sample, counted in the rows it reached: its raw magnitude, "
      "the measure of each acceptance window in the order applied, and its corrected "
      "magnitude.</p>";
  page += "<figure>" + detail::magnitudePlot(samples, selection, r, context) + "</figure>";
  page += "<ul class=\"legend\">";
  legendItem(page, "<rect class=\"bar-kept\" x=\"3\" y=\"1\" width=\"12\" height=\"10\"/>", "kept");
  legendItem(page,
             "<rect class=\"bar-rejected\" x=\"3\" y=\"1\" width=\"12\" height=\"10\" "
             "style=\"fill:#f8d9c5\"/><path d=\"M3 9l6 -6M7 11l8 -8\" stroke=\"#d55e00\" "
             "stroke-width=\"2\"/>",
             "rejected");
  legendItem(page,
             "<rect class=\"window\" x=\"1\" y=\"0\" width=\"16\" height=\"12\"/><path "
             "class=\"window-edge\" d=\"M1.5 0v12M16.5 0v12\"/>",
             "acceptance window");
  if (std::isfinite(context.field)) {
    legendItem(
        page, "<path class=\"field\" d=\"M9 0v12\"/>",
        context.fieldName + " " + fixed(context.field, context.decimals) + " " + context.unit);
  }
  legendItem(page, "<path class=\"radius\" d=\"M9 0v12\"/>", "fitted radius");
  page += "</ul></section>";
}

void coverageSection(std::string& page, const detail::PlotSelection& selection,
                     const CalibrationResult& r) {
  page += "<section id=\"coverage-map\"><h2>Coverage of directions</h2>";
  page +=
      "<p class=\"caption lead\">The corrected direction of each drawn kept sample on an "
      "equal-area "
      "map of the sphere: equal areas of the map are equal areas of the sphere, so the "
      "hatched part is the share of directions never reached. Its " +
      std::to_string(r.coverage.grid.cells()) + " cells (" +
      std::to_string(r.coverage.grid.bands()) + " bands of equal height in Z, " +
      std::to_string(r.coverage.grid.sectors()) +
      " sectors of longitude) are the cells of the coverage check.</p>";
  page += "<figure>" + detail::coveragePlot(selection, r) + "</figure><ul class=\"legend\">";
  legendItem(page, "<path class=\"pt-kept\" d=\"M9 6h0\"/>", "corrected direction");
  legendItem(page,
             "<rect x=\"1\" y=\"0\" width=\"16\" height=\"12\" fill=\"#dcdcdc\"/><path "
             "d=\"M1 8l8 -8M5 12l12 -12M13 12l4 -4\" stroke=\"#9a9a9a\" stroke-width=\"2\"/>",
             "cell with no kept sample");
  legendItem(page,
             "<path class=\"gap\" d=\"M1 6h16\"/><circle class=\"gap-centre\" cx=\"9\" cy=\"6\" "
             "r=\"4\"/>",
             "largest gap: its edge and centre");
  if (r.motion.pattern == MotionPattern::SpunAbout ||
      r.motion.pattern == MotionPattern::LyingFlat) {
    legendItem(page, "<path class=\"turn-axis\" d=\"M9 1l5 5l-5 5l-5 -5z\"/>",
               "axis the device was turned about");
  }
  page += "</ul></section>";
}

void checksSection(std::string& page, const CalibrationResult& r) {
  page +=
      "<section id=\"checks\"><h2>Checks</h2><table><thead><tr><th>Result</th><th>Check</th>"
      "<th class=\"num\">Value</th><th class=\"num\">Limit</th><th>Finding and action</th>"
      "</tr></thead><tbody>";
  for (const Check& check : r.diagnostics.checks) {
    page += "<tr class=\"sev-" + std::string(severityName(check.severity)) +
            "\"><td class=\"sev\">" + severitySymbol(check.severity) + " " +
            severityName(check.severity) + "</td><td class=\"code\">" + checkCodeName(check.code) +
            "</td><td class=\"num\">" + checkValue(check) + "</td><td class=\"num\">" +
            checkLimit(check) + "</td><td>" + html(check.message);
    if (!check.action.empty()) {
      page += "<br><b>\xE2\x86\x92 " + html(check.action) + "</b>";
    }
    page += "</td></tr>";
  }
  page += "</tbody></table></section>";
}

void modelsSection(std::string& page, const CalibrationResult& r,
                   const detail::PlotContext& context) {
  page +=
      "<section id=\"models\"><h2>Models</h2><table><thead><tr><th>Model</th>"
      "<th class=\"num\">Coefficients</th><th>Decision</th><th class=\"num\">Error</th>"
      "<th class=\"num\">Radius (" +
      context.unit + ")</th><th class=\"num\">Residual (mG)</th><th>Why</th></tr></thead><tbody>";
  for (const ModelFit& fit : r.models) {
    page += "<tr><td>" + std::string(modelName(fit.kind)) + "</td><td class=\"num\">" +
            std::to_string(modelCoefficients(fit.kind)) + "</td><td>" +
            (fit.decision == ModelDecision::Kept ? "<b>kept</b>"
                                                 : std::string(modelDecisionName(fit.decision))) +
            "</td><td class=\"num\">" + significant(fit.error, 4) + "</td><td class=\"num\">" +
            figure(fit.radius, context.decimals) + "</td><td class=\"num\">" +
            figure(fit.residual_mG, 2) + "</td><td>" + html(fit.reason) + "</td></tr>";
  }
  page += "</tbody></table></section>";
}

void inputSection(std::string& page, const SampleSet& samples, const CalibrationOptions& options,
                  const CalibrationResult& r) {
  const ReadSummary& s = samples.summary;
  page += "<section id=\"input\"><h2>Input and options</h2><table class=\"kv\">";
  tableRow(page, "Source",
           samples.source.empty() ? "samples given directly"
                                  : "<code>" + html(samples.source) + "</code>");
  if (s.lines > 0) {
    tableRow(page, "Lines",
             std::to_string(s.lines) + kMiddleDot + std::to_string(s.sampleLines) + " samples" +
                 kMiddleDot + std::to_string(s.headerLines) + " header" + kMiddleDot +
                 std::to_string(s.commentLines) + " comment" + kMiddleDot +
                 std::to_string(s.blankLines) + " blank" + kMiddleDot +
                 std::to_string(s.skippedLines) + " skipped" +
                 (s.leftOutLines > 0 ? kMiddleDot + std::to_string(s.leftOutLines) + " left out"
                                     : std::string()));
    tableRow(
        page, "Columns",
        html(readChoiceText(samples)) + kMiddleDot + delimiterName(s.delimiter) + " delimited");
    const std::string kinds = lineKindsText(s);
    if (!kinds.empty()) {
      tableRow(page, "Kinds of line", html(kinds));
    }
    for (const std::string& warning : s.warnings) {
      tableRow(page, "Warning", html(warning));
    }
  }
  std::string mode = modeName(options.mode);
  if (options.mode == Mode::FixedWindow) {
    mode += kMiddleDot + ("raw magnitudes within " + shortest(100.0 * options.tolerance) +
                          " % of the reference");
  } else {
    mode +=
        kMiddleDot +
        ("disturbance window " + shortest(100.0 * options.disturbanceWindow) + " % of the radius") +
        kMiddleDot + "outlier limit " + shortest(options.outlierLimit) +
        " robust standard deviations";
  }
  tableRow(page, "Mode", mode);
  tableRow(page, "Mean |corrected|",
           figure(r.meanCorrectedMagnitude, 6) + " " + html(r.unit.symbol()) +
               " (the magNormRef of fluxtrim.out)");
  page += "</table>";
  if (s.skippedLines > 0) {
    std::string counts;
    for (int p = 0; p < kLineProblemCount; ++p) {
      if (s.skippedByProblem[p] > 0) {
        counts += (counts.empty() ? "" : kMiddleDot) + std::to_string(s.skippedByProblem[p]) + " " +
                  lineProblemName(static_cast<LineProblem>(p));
      }
    }
    page += "<h3>Skipped lines: " + counts +
            "</h3><table><thead><tr><th class=\"num\">Line</th>"
            "<th>Problem</th><th class=\"num\">Column</th><th>Text</th></tr></thead><tbody>";
    for (const SkippedLine& line : s.skipped) {
      page += "<tr><td class=\"num\">" + std::to_string(line.line) + "</td><td>" +
              lineProblemName(line.problem) + "</td><td class=\"num\">" +
              (line.column >= 0 ? std::to_string(line.column + 1) : std::string("")) +
              "</td><td><code>" + html(line.text) + "</code></td></tr>";
    }
    page += "</tbody></table>";
    if (s.skipped.size() < s.skippedLines) {
      page += "<p class=\"caption\">The first " + std::to_string(s.skipped.size()) + " of " +
              std::to_string(s.skippedLines) + " skipped lines.</p>";
    }
  }
  page += "</section>";
}

}  // namespace

namespace detail {

const char* reportStyle() {
  return kStyle;
}

std::string reportSections(const SampleSet& samples, const CalibrationOptions& options,
                           const CalibrationResult& result, const ReportOptions& view) {
  if (result.status.size() != samples.values.size()) {
    throw UsageError("report: the result holds " + std::to_string(result.status.size()) +
                     " sample statuses for " + std::to_string(samples.values.size()) +
                     " samples; give the samples it was computed from");
  }
  PlotContext context;
  context.unit = html(result.unit.symbol());
  const double gaussPerUnit = result.figures.gaussPerUnit;
  context.field = result.figures.field_G / gaussPerUnit;
  context.fieldName =
      options.reference.kind() == Reference::Kind::Field ? "model field" : "given field";
  context.decimals =
      decimalsFor(std::isfinite(context.field) ? context.field : result.figures.radius);
  const PlotSelection selection = selectSamples(samples, result);

  std::string page;
  page.reserve(1 << 19);
  verdictSection(page, result);
  page += "\n";
  calibrationSection(page, samples, options, result, context);
  page += "\n";
  projectionSection(page,
                    view.accelerometerFrame ? inAccelerometerFrame(selection, result) : selection,
                    result, context, view.accelerometerFrame);
  page += "\n";
  magnitudeSection(page, samples, selection, result, context);
  page += "\n";
  coverageSection(page, selection, result);
  page += "\n";
  checksSection(page, result);
  page += "\n";
  modelsSection(page, result, context);
  page += "\n";
  inputSection(page, samples, options, result);
  return page;
}

}  // namespace detail

std::string reportHtml(const SampleSet& samples, const CalibrationOptions& options,
                       const CalibrationResult& result, const ReportOptions& view) {
  const std::string sections = detail::reportSections(samples, options, result, view);
  const std::string source =
      samples.source.empty() ? std::string("samples given directly") : html(samples.source);
  std::string page;
  page.reserve(sections.size() + sizeof kStyle + 4096);
  page +=
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
      "style-src 'unsafe-inline'; script-src 'unsafe-inline'; img-src data:\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
      "<link rel=\"icon\" href=\"data:,\"><title>Calibration " +
      std::string(verdictName(result.diagnostics.verdict)) + ": " + source + "</title><style>";
  page += kStyle;
  page += "</style></head><body><main><header><h1>Magnetometer calibration</h1><p class=\"sub\">" +
          source + kMiddleDot + std::to_string(samples.values.size()) + " samples in " +
          html(result.unit.name()) + kMiddleDot + modeName(result.mode) + " mode" + kMiddleDot +
          (isPlanar(result) ? detail::planarModelName() : modelName(result.model)) +
          "</p></header>\n";
  page += sections;
  page += "\n<footer>Written by the fluxtrim library " + std::string(version()) +
          ". The plots draw at most " + std::to_string(detail::kMaxKeptPoints) + " kept and " +
          std::to_string(detail::kMaxRejectedPoints) +
          " rejected samples, evenly spread over the recording; the histograms and the checks "
          "count every sample.</footer></main><script>";
  page += kScript;
  page += "</script></body></html>\n";
  return page;
}

void writeReport(const std::string& path, const SampleSet& samples,
                 const CalibrationOptions& options, const CalibrationResult& result,
                 const ReportOptions& view) {
  const std::string page = reportHtml(samples, options, result, view);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    throw IoError("report: cannot open '" + path + "' for writing");
  }
  out.write(page.data(), static_cast<std::streamsize>(page.size()));
  out.close();
  if (!out) {
    throw IoError("report: cannot write '" + path + "' completely");
  }
}

}  // namespace fluxtrim
