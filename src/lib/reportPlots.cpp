#include "reportPlots.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <string>
#include <vector>

#include "constants.hpp"
#include "coreThreads.h"
#include "fitStage.hpp"
#include "sphereFit.hpp"
#include "reportSvg.hpp"
#include "reportText.hpp"
#include "sphereGeometry.hpp"
#include "vec3.hpp"

namespace fluxtrim {
namespace detail {

namespace {

// Kept samples whose corrected direction lies within 15 degrees of a projection's plane are the
// ones drawn in full colour: with a right calibration they lie on the fitted circle, where the
// projection of the whole sphere would fill its disc. sin(15 degrees).
constexpr double kBandSine = 0.25881904510252074;
const char kAxisIds[3] = {'x', 'y', 'z'};

std::string vectorText(const Vec3& v, int decimals) {
  return "(" + fixed(v[0], decimals) + ", " + fixed(v[1], decimals) + ", " + fixed(v[2], decimals) +
         ")";
}

std::string svgOpen(const std::string& id, double width, double height, const std::string& label) {
  return "<svg id=\"" + id + "\" class=\"plot\" viewBox=\"0 0 " + coordinate(width) + " " +
         coordinate(height) + "\" role=\"img\" aria-label=\"" + label + "\">";
}

// ---- Projections.

// Plot geometry, SVG user units: a square plot area with room for ticks and labels.
constexpr double kProjectionWidth = 330.0;
constexpr double kProjectionHeight = 324.0;
constexpr double kProjectionLeft = 68.0;
constexpr double kProjectionTop = 26.0;
constexpr double kProjectionSize = 250.0;
// The plotted range: the fitted circle with a margin, and the kept samples; rejected samples
// widen it up to twice the radius, and those beyond are drawn on the edge.
constexpr double kCircleMargin = 1.12;
constexpr double kSampleMargin = 1.04;
constexpr double kRejectedReach = 2.0;

// Half the side of the square every projection shows, in the samples' unit.
double projectionHalfRange(const PlotSelection& selection, const CalibrationResult& result) {
  const double radius = result.figures.radius;
  const Vec3& offset = result.calibration.offset;
  const auto extent = [&](const std::vector<PlotSample>& points) {
    double h = 0.0;
    for (const PlotSample& s : points) {
      for (int k = 0; k < 3; ++k) {
        h = std::max({h, std::fabs(s.raw[k] - offset[k]), std::fabs(s.corrected[k])});
      }
    }
    return h;
  };
  const double kept = kSampleMargin * extent(selection.kept);
  const double rejected = kSampleMargin * extent(selection.rejected);
  double half = 0.0;
  if (std::isfinite(radius) && radius > 0.0) {
    half = std::max({kCircleMargin * radius, kept, std::min(rejected, kRejectedReach * radius)});
  } else {
    half = std::max(kept, rejected);
  }
  return std::isfinite(half) && half > 0.0 ? half : 1.0;
}

std::string projection(const PlotSelection& selection, const CalibrationResult& result,
                       const PlotContext& context, bool corrected, int a, int b, double half) {
  const int normal = 3 - a - b;
  const Vec3 centre = corrected ? Vec3{{0.0, 0.0, 0.0}} : result.calibration.offset;
  Frame f;
  f.left = kProjectionLeft;
  f.top = kProjectionTop;
  f.width = kProjectionSize;
  f.height = kProjectionSize;
  f.x0 = centre[a] - half;
  f.x1 = centre[a] + half;
  f.y0 = centre[b] - half;
  f.y1 = centre[b] + half;
  const Ticks xTicks = niceTicks(f.x0, f.x1, 5);
  const Ticks yTicks = niceTicks(f.y0, f.y1, 5);
  const std::string plane = std::string(1, kAxisNames[a]) + kAxisNames[b];
  const std::string id =
      std::string("proj-") + (corrected ? "corrected-" : "raw-") + kAxisIds[a] + kAxisIds[b];
  const std::string kind = corrected ? "corrected" : "raw";

  std::string svg = svgOpen(id, kProjectionWidth, kProjectionHeight,
                            plane + " projection of the " + kind + " samples");
  drawText(svg, f.left, f.top - 9.0, "title", "start", plane + ", " + kind);
  drawGrid(svg, f, xTicks, yTicks);

  std::size_t clamped = 0;
  const auto place = [&](const Vec3& v) {
    Point p{f.px(v[a]), f.py(v[b])};
    const double right = f.left + f.width;
    const double bottom = f.top + f.height;
    if (p.x < f.left || p.x > right || p.y < f.top || p.y > bottom) {
      ++clamped;
      p.x = std::min(std::max(p.x, f.left), right);
      p.y = std::min(std::max(p.y, f.top), bottom);
    }
    return p;
  };
  std::vector<Point> inPlane, other, crosses, diamonds, clipped;
  for (const PlotSample& s : selection.kept) {
    const double m = norm(s.corrected);
    const bool near = m > 0.0 && std::fabs(s.corrected[normal]) <= kBandSine * m;
    (near ? inPlane : other).push_back(place(corrected ? s.corrected : s.raw));
  }
  for (const PlotSample& s : selection.rejected) {
    (s.status == SampleStatus::Outlier   ? diamonds
     : s.status == SampleStatus::Clipped ? clipped
                                         : crosses)
        .push_back(place(corrected ? s.corrected : s.raw));
  }
  drawMarks(svg, other, Mark::Dot, 0.0, "pt-other");
  drawMarks(svg, inPlane, Mark::Dot, 0.0, "pt-kept");
  drawMarks(svg, crosses, Mark::Cross, 2.2, "pt-rejected");
  drawMarks(svg, clipped, Mark::Cross, 2.2, "pt-clipped");
  drawMarks(svg, diamonds, Mark::Diamond, 2.8, "pt-outlier");

  const double radius = result.figures.radius;
  const double cx = f.px(centre[a]);
  const double cy = f.py(centre[b]);
  if (std::isfinite(radius) && radius > 0.0) {
    svg += "<circle class=\"fit\" cx=\"" + coordinate(cx) + "\" cy=\"" + coordinate(cy) +
           "\" r=\"" + coordinate(radius / (f.x1 - f.x0) * f.width) + "\"/>";
  }
  svg += "<path class=\"centre\" d=\"M" + coordinate(cx - 8.0) + " " + coordinate(cy) + "h16M" +
         coordinate(cx) + " " + coordinate(cy - 8.0) + "v16\"/><circle class=\"centre\" cx=\"" +
         coordinate(cx) + "\" cy=\"" + coordinate(cy) + "\" r=\"3.5\"/>";
  drawText(svg, cx + 6.0, cy - 6.0, "mark-label", "start", corrected ? "0" : "offset");
  if (clamped > 0) {
    drawText(svg, f.left + f.width - 4.0, f.top + f.height - 5.0, "note", "end",
             std::to_string(clamped) + " beyond the range, on the edge");
  }
  drawAxes(svg, f, xTicks, yTicks, std::string(1, kAxisNames[a]) + " (" + context.unit + ")",
           std::string(1, kAxisNames[b]) + " (" + context.unit + ")");
  svg += "</svg>";
  return svg;
}

// ---- Histograms of magnitudes.

constexpr int kBins = 120;
constexpr double kHistogramWidth = 1000.0;
constexpr double kHistogramLeft = 84.0;
constexpr double kHistogramPlotWidth = 886.0;
constexpr double kRowTitle = 16.0;   // from a row's top to its title's baseline
constexpr double kRowArea = 22.0;    // from a row's top to its plot area
constexpr double kRowHeight = 74.0;  // plot area
constexpr double kRowPitch = 110.0;  // from one row's top to the next
constexpr double kAxisRoom = 46.0;   // below the last plot area
// The range shows the middle 99 % of the drawn samples' values, the reference and the radius.
constexpr double kTail = 0.005;
constexpr double kRangePad = 0.06;
// Narrower ranges would need tick labels of more digits than they can hold.
constexpr double kMinimumRelativeWidth = 0.01;
// The close-up of the corrected magnitudes: padded by a quarter of the kept samples' spread, and
// showing the reference when it lies within 5 % of the fitted radius.
constexpr double kCloseUpPad = 0.25;
constexpr double kCloseUpField = 0.05;
constexpr double kCloseUpGap = 14.0;
// Distance from the map's top or bottom edge within which the largest gap's centre counts as
// near a pole, for the placement of its label.
constexpr double kPoleLabelRoom = 24.0;

struct Row {
  std::string title;
  double lower = 0.0;  // the range of the bins
  double upper = 1.0;
  int window = -1;  // the window marked on this row, index into result.windows
  bool corrected = false;
  std::vector<double> kept = std::vector<double>(kBins, 0.0);
  std::vector<double> rejected = std::vector<double>(kBins, 0.0);
  std::uint64_t below = 0;
  std::uint64_t above = 0;
  double binsPerUnit = 0.0;  // kBins / (upper - lower), once the range is set
};

// The rows of the figure: |raw| (with the first window when it is on raw magnitudes, as in the
// fixed window), one row per other window, and the corrected magnitude. rowOfWindow[j] is the
// row of window j.
std::vector<Row> histogramRows(const CalibrationResult& result, const PlotContext& context,
                               std::vector<std::size_t>& rowOfWindow) {
  const std::vector<AcceptanceWindow>& windows = result.windows;
  const std::string u = " " + context.unit;
  const auto keeps = [&](const AcceptanceWindow& w) {
    return "keeps " + fixed(w.lower, context.decimals) + " to " + fixed(w.upper, context.decimals) +
           u + ", rejects the rest as " + statusName(w.rejectedAs);
  };
  std::vector<Row> rows(1);
  rows[0].title = "|raw|, magnitude of the raw samples";
  rowOfWindow.assign(windows.size(), 0);
  for (std::size_t j = 0; j < windows.size(); ++j) {
    const AcceptanceWindow& w = windows[j];
    const std::string number =
        "Window " + std::to_string(j + 1) + " of " + std::to_string(windows.size()) + ": ";
    if (j == 0 && w.measure == AcceptanceWindow::Measure::RawMagnitude) {
      rows[0].window = 0;
      rows[0].title += " \xC2\xB7 " + number + keeps(w);
      continue;
    }
    Row row;
    row.window = static_cast<int>(j);
    switch (w.measure) {
      case AcceptanceWindow::Measure::RawMagnitude:
        row.title = number + "|raw| \xC2\xB7 ";
        break;
      case AcceptanceWindow::Measure::DistanceFromCentre:
        row.title = number + "|raw \xE2\x88\x92 c|, c = ";
        row.title += vectorText(w.centre, context.decimals) + u + " \xC2\xB7 ";
        break;
      case AcceptanceWindow::Measure::CorrectedMagnitude:
        row.title = number + "|corrected| by the first fit \xC2\xB7 ";
        break;
    }
    row.title += keeps(w);
    rowOfWindow[j] = rows.size();
    rows.push_back(row);
  }
  Row corrected;
  corrected.corrected = true;
  corrected.title =
      "|corrected| = |(raw \xE2\x88\x92 offset) \xC2\xB7 matrix| \xC2\xB7 fitted radius " +
      fixed(result.figures.radius, context.decimals) + u;
  rows.push_back(corrected);
  return rows;
}

// The value of each row for one sample: NaN in a window's row when an earlier window rejected it.
// The norms of the sample, of each window's measured vector and of the sample corrected are
// taken two at a time (vectors: room for them, windows + 2); each is the double the window
// compared.
void rowValues(const CalibrationResult& result, const std::vector<std::size_t>& rowOfWindow,
               const Vec3& raw, std::vector<Vec3>& vectors, std::vector<double>& values) {
  const std::size_t windows = result.windows.size();
  vectors[0] = raw;
  for (std::size_t j = 0; j < windows; ++j) {
    vectors[j + 1] = measuredVector(result.windows[j], raw);
  }
  vectors[windows + 1] = applyCalibration(result.calibration, raw);
  double measures[2] = {kNaN, kNaN};
  values.assign(values.size(), kNaN);
  bool reached = true;
  for (std::size_t k = 0; k < windows + 2; ++k) {
    if (k % 2 == 0) {
      const std::array<double, 2> n = norms(vectors[k], vectors[k + 1 < windows + 2 ? k + 1 : k]);
      measures[0] = n[0];
      measures[1] = n[1];
    }
    const double m = measures[k % 2];
    if (k == 0) {
      values[0] = m;
    } else if (k == windows + 1) {
      values.back() = m;
    } else {
      const std::size_t j = k - 1;
      if (rowOfWindow[j] > 0 && reached) {
        values[rowOfWindow[j]] = m;
      }
      reached = reached && result.windows[j].accepts(m);
    }
  }
}

struct Range {
  double lower;
  double upper;
};

// The middle 99 % of the values (sorted here), widened to take in the finite marks and to at
// least 1 % of its values' size, padded by padFraction of its width on both sides and cut at 0
// below (magnitudes are not negative).
Range valueRange(std::vector<double> values, std::initializer_list<double> marks,
                 double padFraction) {
  double lower = std::numeric_limits<double>::infinity();
  double upper = -std::numeric_limits<double>::infinity();
  if (!values.empty()) {
    std::sort(values.begin(), values.end());
    const double last = static_cast<double>(values.size() - 1);
    lower = values[static_cast<std::size_t>(std::floor(kTail * last))];
    upper = values[static_cast<std::size_t>(std::ceil((1.0 - kTail) * last))];
  }
  for (double mark : marks) {
    if (std::isfinite(mark)) {
      lower = std::min(lower, mark);
      upper = std::max(upper, mark);
    }
  }
  if (!(lower <= upper)) {
    return {0.0, 1.0};
  }
  const double least = kMinimumRelativeWidth * std::max(std::fabs(lower), std::fabs(upper));
  if (upper - lower < least) {
    const double middle = 0.5 * (lower + upper);
    lower = middle - 0.5 * least;
    upper = middle + 0.5 * least;
  }
  double pad = padFraction * (upper - lower);
  if (!(pad > 0.0)) {
    pad = upper > 0.0 ? 0.1 * upper : 1.0;
  }
  return {std::max(0.0, lower - pad), upper + pad};
}

// The counts of a pass over the samples, in whole numbers: per row, the kept and the rejected
// samples by bin, and those below and above the range.
struct BinCounts {
  explicit BinCounts(std::size_t rows)
      : kept(rows * kBins, 0), rejected(rows * kBins, 0), below(rows, 0), above(rows, 0) {}
  std::vector<std::uint64_t> kept;
  std::vector<std::uint64_t> rejected;
  std::vector<std::uint64_t> below;
  std::vector<std::uint64_t> above;

  // Counts one value of a sample into the bins of row r (range of row); NaN is not counted (the
  // sample did not reach the row).
  void count(std::size_t r, const Row& row, double v, bool isKept) {
    if (!std::isfinite(v)) {
      return;
    }
    if (v < row.lower) {
      ++below[r];
    } else if (v > row.upper) {
      ++above[r];
    } else {
      const int bin = std::min(kBins - 1, static_cast<int>((v - row.lower) * row.binsPerUnit));
      ++(isKept ? kept : rejected)[r * kBins + static_cast<std::size_t>(bin)];
    }
  }
  // Adds the counts to the rows.
  void addTo(std::vector<Row>& rows) const {
    for (std::size_t r = 0; r < rows.size(); ++r) {
      for (int k = 0; k < kBins; ++k) {
        rows[r].kept[k] += static_cast<double>(kept[r * kBins + static_cast<std::size_t>(k)]);
        rows[r].rejected[k] +=
            static_cast<double>(rejected[r * kBins + static_cast<std::size_t>(k)]);
      }
      rows[r].below += below[r];
      rows[r].above += above[r];
    }
  }
};

// An acceptance window in a histogram's frame: its band, cut to the frame, and the edges inside.
void drawWindow(std::string& svg, const Frame& f, const AcceptanceWindow& w) {
  const auto inRange = [&](double v) { return std::min(std::max(v, f.x0), f.x1); };
  const double from = f.px(inRange(w.lower));
  const double to = f.px(inRange(w.upper));
  svg += "<rect class=\"window\" x=\"" + coordinate(from) + "\" y=\"" + coordinate(f.top) +
         "\" width=\"" + coordinate(to - from) + "\" height=\"" + coordinate(f.height) + "\"/>";
  std::string edges;
  for (double edge : {w.lower, w.upper}) {
    if (edge >= f.x0 && edge <= f.x1) {
      edges += "M" + coordinate(f.px(edge)) + " " + coordinate(f.top) + "v" + coordinate(f.height);
    }
  }
  if (!edges.empty()) {
    svg += "<path class=\"window-edge\" d=\"" + edges + "\"/>";
  }
}

// The bars of a row: kept samples from the base, rejected ones stacked on them.
void drawBars(std::string& svg, const Frame& f, const Row& row) {
  std::string keptBars, rejectedBars;
  const double barWidth = f.width / kBins;
  const double base = f.py(0.0);
  for (int k = 0; k < kBins; ++k) {
    const double x = f.left + barWidth * k;
    const double keptTop = f.py(row.kept[k]);
    const double allTop = f.py(row.kept[k] + row.rejected[k]);
    if (row.kept[k] > 0.0) {
      keptBars += "M" + coordinate(x) + " " + coordinate(base) + "V" + coordinate(keptTop) + "h" +
                  coordinate(barWidth) + "V" + coordinate(base) + "z";
    }
    if (row.rejected[k] > 0.0) {
      rejectedBars += "M" + coordinate(x) + " " + coordinate(keptTop) + "V" + coordinate(allTop) +
                      "h" + coordinate(barWidth) + "V" + coordinate(keptTop) + "z";
    }
  }
  if (!keptBars.empty()) {
    svg += "<path class=\"bar-kept\" d=\"" + keptBars + "\"/>";
  }
  if (!rejectedBars.empty()) {
    svg += "<path class=\"bar-rejected\" d=\"" + rejectedBars + "\"/>";
  }
}

// One row of histograms at `top`: title, bars of kept and rejected samples stacked, its window,
// the reference strength (labelled when labelField) and, in a corrected row, the fitted radius.
// x ticks and the x label only when xLabel is not empty.
void drawRow(std::string& svg, const Row& row, double top, const CalibrationResult& result,
             const PlotContext& context, bool labelField, const std::string& xLabel) {
  double highest = 0.0;
  for (int k = 0; k < kBins; ++k) {
    highest = std::max(highest, row.kept[k] + row.rejected[k]);
  }
  Frame f;
  f.left = kHistogramLeft;
  f.top = top + kRowArea;
  f.width = kHistogramPlotWidth;
  f.height = kRowHeight;
  f.x0 = row.lower;
  f.x1 = row.upper;
  f.y0 = 0.0;
  f.y1 = highest > 0.0 ? 1.1 * highest : 1.0;
  const Ticks xTicks = niceTicks(f.x0, f.x1, 10);
  const Ticks yTicks = niceTicks(0.0, f.y1, 3);
  drawText(svg, f.left, top + kRowTitle, "row-title", "start", row.title);
  drawGrid(svg, f, xTicks, yTicks);
  if (row.window >= 0) {
    drawWindow(svg, f, result.windows[static_cast<std::size_t>(row.window)]);
  }
  drawBars(svg, f, row);
  const auto verticalLine = [&](double v, const char* cssClass) {
    svg += std::string("<path class=\"") + cssClass + "\" d=\"M" + coordinate(f.px(v)) + " " +
           coordinate(f.top) + "v" + coordinate(f.height) + "\"/>";
  };
  if (std::isfinite(context.field) && context.field >= f.x0 && context.field <= f.x1) {
    verticalLine(context.field, "field");
    if (labelField) {
      drawText(
          svg, f.px(context.field) + 4.0, f.top + 11.0, "mark-label", "start",
          context.fieldName + " " + fixed(context.field, context.decimals) + " " + context.unit);
    }
  }
  const double radius = result.figures.radius;
  if (row.corrected && std::isfinite(radius) && radius >= f.x0 && radius <= f.x1) {
    verticalLine(radius, "radius");
  }
  if (row.below > 0 || row.above > 0) {
    drawText(
        svg, f.left + f.width - 5.0, f.top + 12.0, "note halo", "end",
        std::to_string(row.below) + " below, " + std::to_string(row.above) + " above the range");
  }
  drawAxes(svg, f, xLabel.empty() ? Ticks() : xTicks, yTicks, xLabel, std::string());
}

// The shared range of the rows, from the drawn samples, and the close-up of the corrected
// magnitudes, from the drawn kept samples, added as the last row when there are any. Returns the
// shared range.
Range setRanges(const PlotSelection& selection, const CalibrationResult& result,
                const PlotContext& context, const std::vector<std::size_t>& rowOfWindow,
                std::vector<Row>& rows) {
  const double radius = result.figures.radius;
  std::vector<double> values(rows.size());
  std::vector<Vec3> vectors(result.windows.size() + 2);
  std::vector<double> drawn, keptCorrected;
  for (const std::vector<PlotSample>* kind : {&selection.kept, &selection.rejected}) {
    for (const PlotSample& s : *kind) {
      rowValues(result, rowOfWindow, s.raw, vectors, values);
      for (double v : values) {
        if (std::isfinite(v)) {
          drawn.push_back(v);
        }
      }
      if (s.status == SampleStatus::Kept && std::isfinite(values.back())) {
        keptCorrected.push_back(values.back());
      }
    }
  }
  const Range range = valueRange(drawn, {context.field, radius}, kRangePad);
  for (Row& row : rows) {
    row.lower = range.lower;
    row.upper = range.upper;
  }
  if (!keptCorrected.empty()) {
    Row closeUp;
    closeUp.corrected = true;
    closeUp.title = "|corrected| close up: the spread about the fitted radius, residual " +
                    figure(result.figures.residual_mG, 2) + " mG";
    const bool fieldNear =
        std::isfinite(context.field) && std::fabs(context.field / radius - 1.0) < kCloseUpField;
    const Range near =
        valueRange(keptCorrected, {radius, fieldNear ? context.field : radius}, kCloseUpPad);
    closeUp.lower = near.lower;
    closeUp.upper = near.upper;
    rows.push_back(closeUp);
  }
  return range;
}

// applyCalibration, inline for the loops over every sample: the same operations in the same
// order, so the same doubles.
inline Vec3 corrected(const Calibration& calibration, const Vec3& raw) {
  const double d[3] = {raw[0] - calibration.offset[0], raw[1] - calibration.offset[1],
                       raw[2] - calibration.offset[2]};
  const Matrix3& m = calibration.matrix;
  Vec3 v;
  for (int c = 0; c < 3; ++c) {
    v[c] = (d[0] * m[0][c] + d[1] * m[1][c]) + d[2] * m[2][c];
  }
  return v;
}

// Kept samples gathered before they are counted: each of their measures is taken in one loop and
// counted in another that holds one row's figures.
constexpr std::size_t kKeptBlock = 256;

// The norms of measure(v) of the samples, two at a time, each lane as approximateNorm takes it
// alone.
template <typename Measure>
void blockNorms(const Vec3* samples, std::size_t count, const Measure& measure,
                double* magnitudes) {
  for (std::size_t i = 0; i < count; i += 2) {
    const std::size_t j = i + 1 < count ? i + 1 : i;
    const std::array<double, 2> n = approximateNorms(measure(samples[i]), measure(samples[j]));
    magnitudes[i] = n[0];
    magnitudes[j] = j == i ? n[0] : n[1];
  }
}

// Counts values of kept samples into row r as BinCounts::count does.
void countKeptRow(BinCounts& counted, std::size_t r, const Row& row, const double* values,
                  std::size_t count) {
  const double lower = row.lower;
  const double upper = row.upper;
  const double perUnit = row.binsPerUnit;
  std::uint64_t* const bins = counted.kept.data() + r * kBins;
  std::uint64_t below = 0;
  std::uint64_t above = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const double v = values[i];
    if (!std::isfinite(v)) {
      continue;
    }
    if (v < lower) {
      ++below;
    } else if (v > upper) {
      ++above;
    } else {
      ++bins[std::min(kBins - 1, static_cast<int>((v - lower) * perUnit))];
    }
  }
  counted.below[r] += below;
  counted.above[r] += above;
}

// Counts the measures of kept samples into every row: a kept sample passed each window, so it
// reached every row.
void countKept(const CalibrationResult& result, const std::vector<std::size_t>& rowOfWindow,
               const std::vector<Row>& rows, std::size_t shared, const Vec3* samples,
               std::size_t count, BinCounts& counted) {
  const std::size_t windows = result.windows.size();
  std::array<double, kKeptBlock> magnitudes{};
  for (std::size_t k = 0; k < windows + 2; ++k) {
    const std::size_t row = k == 0 ? 0 : k == windows + 1 ? shared - 1 : rowOfWindow[k - 1];
    if (k != 0 && row == 0) {
      continue;  // a window on |raw|, counted in the first row
    }
    const AcceptanceWindow* w = k == 0 || k == windows + 1 ? nullptr : &result.windows[k - 1];
    if (k == windows + 1) {
      const Calibration& c = result.calibration;
      blockNorms(
          samples, count, [&c](const Vec3& v) { return corrected(c, v); }, magnitudes.data());
    } else if (w != nullptr && w->measure == AcceptanceWindow::Measure::DistanceFromCentre) {
      blockNorms(
          samples, count, [w](const Vec3& v) { return difference(v, w->centre); },
          magnitudes.data());
    } else if (w != nullptr && w->measure == AcceptanceWindow::Measure::CorrectedMagnitude) {
      blockNorms(
          samples, count, [w](const Vec3& v) { return corrected(w->calibration, v); },
          magnitudes.data());
    } else {
      blockNorms(
          samples, count, [](const Vec3& v) { return v; }, magnitudes.data());
    }
    countKeptRow(counted, row, rows[row], magnitudes.data(), count);
    if (k == windows + 1 && rows.size() > shared) {
      countKeptRow(counted, rows.size() - 1, rows.back(), magnitudes.data(), count);
    }
  }
}

// Counts the measures of a sample that is not kept into the rows it reached: its |raw|, each
// window's measure until the window that rejected it, and its corrected magnitude.
void countOther(const CalibrationResult& result, const std::vector<std::size_t>& rowOfWindow,
                const std::vector<DistanceWindow>& windows, const std::vector<Row>& rows,
                std::size_t shared, const Vec3& raw, BinCounts& counted) {
  counted.count(0, rows[0], approximateNorm(raw), false);
  for (std::size_t j = 0; j < windows.size(); ++j) {
    const Vec3 v = measuredVector(result.windows[j], raw);
    if (rowOfWindow[j] > 0) {
      counted.count(rowOfWindow[j], rows[rowOfWindow[j]], approximateNorm(v), false);
    }
    if (!windows[j].accepts(v)) {
      break;
    }
  }
  const double magnitude = approximateNorm(corrected(result.calibration, raw));
  counted.count(shared - 1, rows[shared - 1], magnitude, false);
  if (rows.size() > shared) {
    counted.count(rows.size() - 1, rows.back(), magnitude, false);
  }
}

// Every sample with finite components into the bins of the first `shared` rows, and its
// corrected magnitude into the close-up when there is one: the values of rowValues, but binned
// by approximateNorm, which puts a value in the bin of the core's norm but within a rounding of a
// bin's edge, while which windows a sample reached is decided exactly (a kept sample passed them
// all, as the calibration decided). The samples are split in two halves, on two threads where
// the calibration core has them, each counting into its own bins; counts are whole numbers, so
// the sum is the same either way.
void countSamples(const SampleSet& samples, const CalibrationResult& result,
                  const std::vector<std::size_t>& rowOfWindow, std::size_t shared,
                  std::vector<Row>& rows) {
  const std::size_t n = samples.values.size();
  for (Row& row : rows) {
    row.binsPerUnit = kBins / (row.upper - row.lower);
  }
  std::vector<DistanceWindow> windows;
  for (const AcceptanceWindow& w : result.windows) {
    windows.emplace_back(w.lower, w.upper);
  }
  BinCounts counts[2] = {BinCounts(rows.size()), BinCounts(rows.size())};
  coder::internal::runTwoParts(coder::internal::splitPays(n), [&](int half) {
    BinCounts& counted = counts[half];
    std::array<Vec3, kKeptBlock> kept{};
    std::size_t gathered = 0;
    for (std::size_t i = half == 0 ? 0 : n / 2; i < (half == 0 ? n / 2 : n); ++i) {
      const Vec3& raw = samples.values[i];
      if (result.status[i] == SampleStatus::Invalid || !isFinite(raw)) {
        continue;
      }
      if (result.status[i] != SampleStatus::Kept) {
        countOther(result, rowOfWindow, windows, rows, shared, raw, counted);
        continue;
      }
      kept[gathered++] = raw;
      if (gathered == kKeptBlock) {
        countKept(result, rowOfWindow, rows, shared, kept.data(), gathered, counted);
        gathered = 0;
      }
    }
    countKept(result, rowOfWindow, rows, shared, kept.data(), gathered, counted);
  });
  counts[0].addTo(rows);
  counts[1].addTo(rows);
}

// ---- The coverage map.

// The map's plot area: longitude -180 to 180 degrees across, the Z component -1 to 1 upwards.
Frame mapFrame() {
  Frame f;
  f.left = 84.0;
  f.top = 14.0;
  f.width = 860.0;
  f.height = 430.0;
  f.x0 = -180.0;
  f.x1 = 180.0;
  f.y0 = -1.0;
  f.y1 = 1.0;
  return f;
}

// Map position of a direction (need not be a unit vector); false for none.
bool mapPoint(const Frame& f, const Vec3& v, Point& p) {
  const double m = norm(v);
  if (!(m > 0.0) || !std::isfinite(m)) {
    return false;
  }
  const double z = std::min(1.0, std::max(-1.0, v[2] / m));
  p = {f.px(longitude(v[1], v[0]) * kDegreesPerRadian), f.py(z)};
  return true;
}

// The cells that no kept sample reached, hatched as runs along each band, and the cell lines.
void drawCells(std::string& svg, const Frame& f, const Coverage& coverage) {
  const SphereGrid& grid = coverage.grid;
  const double bottom = f.top + f.height;
  const double cellWidth = f.width / grid.sectors();
  const double cellHeight = f.height / grid.bands();
  std::string empty;
  for (int band = 0; band < grid.bands(); ++band) {
    const double y = bottom - cellHeight * (band + 1);
    const auto isEmpty = [&](int s) {
      const int cell = band * grid.sectors() + s;
      return static_cast<std::size_t>(cell) >= coverage.samplesPerCell.size() ||
             coverage.samplesPerCell[static_cast<std::size_t>(cell)] == 0;
    };
    for (int sector = 0; sector < grid.sectors();) {
      if (!isEmpty(sector)) {
        ++sector;
        continue;
      }
      int end = sector;
      while (end < grid.sectors() && isEmpty(end)) {
        ++end;
      }
      empty += "M" + coordinate(f.left + cellWidth * sector) + " " + coordinate(y) + "h" +
               coordinate(cellWidth * (end - sector)) + "v" + coordinate(cellHeight) + "h" +
               coordinate(-cellWidth * (end - sector)) + "z";
      sector = end;
    }
  }
  if (!empty.empty()) {
    svg += "<path class=\"empty\" d=\"" + empty + "\"/>";
  }
  std::string cells;
  for (int s = 1; s < grid.sectors(); ++s) {
    cells += "M" + coordinate(f.left + cellWidth * s) + " " + coordinate(f.top) + "v" +
             coordinate(f.height);
  }
  for (int band = 1; band < grid.bands(); ++band) {
    cells += "M" + coordinate(f.left) + " " + coordinate(bottom - cellHeight * band) + "h" +
             coordinate(f.width);
  }
  svg += "<path class=\"cells\" d=\"" + cells + "\"/>";
}

// The outline of the cap of angular radius rho_rad about the unit direction u on the map, broken
// where it crosses the map's edge at +-180 degrees, and the highest and lowest map y it reaches.
struct CapOutline {
  std::string path;
  double top;
  double bottom;
};

CapOutline capOutline(const Frame& f, const Vec3& u, double rho_rad) {
  // e1, e2: unit vectors perpendicular to u and to each other.
  int least = 0;
  for (int k = 1; k < 3; ++k) {
    if (std::fabs(u[k]) < std::fabs(u[least])) {
      least = k;
    }
  }
  Vec3 e{{0.0, 0.0, 0.0}};
  e[least] = 1.0;
  const Vec3 e1 = normalised(cross(u, e));
  const Vec3 e2 = cross(u, e1);
  constexpr int kSteps = 240;
  CapOutline outline{std::string(), f.top + f.height, f.top};
  double previous = 0.0;
  for (int k = 0; k <= kSteps; ++k) {
    const double t = 2.0 * kPi * k / kSteps;
    Vec3 p;
    for (int c = 0; c < 3; ++c) {
      p[c] = std::cos(rho_rad) * u[c] +
             std::sin(rho_rad) * (std::cos(t) * e1[c] + std::sin(t) * e2[c]);
    }
    Point q{};
    if (!mapPoint(f, p, q)) {
      continue;
    }
    const bool jump = k > 0 && std::fabs(q.x - previous) > f.width / 2.0;
    outline.path += (k == 0 || jump ? "M" : "L") + coordinate(q.x) + " " + coordinate(q.y);
    previous = q.x;
    outline.top = std::min(outline.top, q.y);
    outline.bottom = std::max(outline.bottom, q.y);
  }
  return outline;
}

// The largest gap: its cap's outline, its centre marked, and a label beside the centre; for a cap
// around a pole, whose centre sits on the map's edge, in the middle of the cap when it is tall
// enough, else just outside it.
void drawGap(std::string& svg, const Frame& f, const Coverage& coverage) {
  const double gap = coverage.largestGap_deg;
  Point centre{};
  if (!(gap < 180.0) || !mapPoint(f, coverage.largestGapDirection, centre)) {
    return;
  }
  const Vec3 u = normalised(coverage.largestGapDirection);
  const CapOutline outline = capOutline(f, u, gap / kDegreesPerRadian);
  svg += "<path class=\"gap\" d=\"" + outline.path + "\"/>";
  svg += "<circle class=\"gap-centre\" cx=\"" + coordinate(centre.x) + "\" cy=\"" +
         coordinate(centre.y) + "\" r=\"6\"/><path class=\"gap-centre\" d=\"M" +
         coordinate(centre.x - 4.2) + " " + coordinate(centre.y - 4.2) + "l8.4 8.4m0 " +
         "-8.4l-8.4 8.4\"/>";
  const double bottom = f.top + f.height;
  const bool leftHalf = centre.x < f.left + f.width / 2.0;
  double labelY = centre.y + 4.0;
  if (centre.y < f.top + kPoleLabelRoom) {
    labelY = outline.bottom - f.top > 3.0 * kPoleLabelRoom ? (f.top + outline.bottom) / 2.0 + 4.0
                                                           : outline.bottom + 18.0;
  } else if (centre.y > bottom - kPoleLabelRoom) {
    labelY = bottom - outline.top > 3.0 * kPoleLabelRoom ? (outline.top + bottom) / 2.0 + 4.0
                                                         : outline.top - 10.0;
  }
  labelY = std::min(std::max(labelY, f.top + 14.0), bottom - 6.0);
  drawText(svg, centre.x + (leftHalf ? 11.0 : -11.0), labelY, "gap-label",
           leftHalf ? "start" : "end",
           "largest gap " + fixed(gap, 0) + "\xC2\xB0 around " + vectorText(u, 2) + ", near " +
               nearestAxis(u));
}

// The axis turned about, when the motion was turned about one axis only.
void drawTurnAxis(std::string& svg, const Frame& f, const Motion& motion) {
  if (motion.pattern != MotionPattern::SpunAbout && motion.pattern != MotionPattern::LyingFlat) {
    return;
  }
  const double bottom = f.top + f.height;
  std::vector<Point> ends;
  for (double sign : {1.0, -1.0}) {
    Point p{};
    if (mapPoint(f, {{sign * motion.axis[0], sign * motion.axis[1], sign * motion.axis[2]}}, p)) {
      ends.push_back(p);
      drawText(svg, p.x + 9.0, std::min(std::max(p.y + 4.0, f.top + 12.0), bottom - 4.0),
               "axis-label", "start", "turn axis");
    }
  }
  drawMarks(svg, ends, Mark::Diamond, 6.0, "turn-axis");
}

// The map's axes: longitude with the sensor axes it points to, latitude at the height of its
// sine.
void drawMapAxes(std::string& svg, const Frame& f) {
  const double bottom = f.top + f.height;
  svg += "<rect class=\"frame\" x=\"" + coordinate(f.left) + "\" y=\"" + coordinate(f.top) +
         "\" width=\"" + coordinate(f.width) + "\" height=\"" + coordinate(f.height) + "\"/>";
  std::string ticks;
  static const struct {
    int longitude;
    const char* axis;
  } kLongitudes[] = {{-180, " (\xE2\x88\x92X)"},
                     {-135, ""},
                     {-90, " (\xE2\x88\x92Y)"},
                     {-45, ""},
                     {0, " (+X)"},
                     {45, ""},
                     {90, " (+Y)"},
                     {135, ""},
                     {180, " (\xE2\x88\x92X)"}};
  for (const auto& t : kLongitudes) {
    const double x = f.px(t.longitude);
    ticks += "M" + coordinate(x) + " " + coordinate(bottom) + "v4";
    drawText(svg, x, bottom + 17.0, "tick", "middle",
             tickText(t.longitude, 0) + "\xC2\xB0" + t.axis);
  }
  for (int latitude = -90; latitude <= 90; latitude += 30) {
    const double y = f.py(std::sin(latitude / kDegreesPerRadian));
    ticks += "M" + coordinate(f.left) + " " + coordinate(y) + "h-4";
    const char* axis = latitude == 90 ? " (+Z)" : (latitude == -90 ? " (\xE2\x88\x92Z)" : "");
    drawText(svg, f.left - 7.0, y + 3.5, "tick", "end", tickText(latitude, 0) + "\xC2\xB0" + axis);
  }
  svg += "<path class=\"axis\" d=\"" + ticks + "\"/>";
  drawText(svg, f.left + f.width / 2.0, bottom + 38.0, "label", "middle",
           "longitude atan2(Y, X) of the corrected direction (degrees)");
  svg += "<text class=\"label\" text-anchor=\"middle\" transform=\"translate(16 " +
         coordinate(f.top + f.height / 2.0) +
         ") rotate(-90)\">latitude above the X-Y plane (degrees)</text>";
}

}  // namespace

PlotSelection selectSamples(const SampleSet& samples, const CalibrationResult& result) {
  const std::vector<Vec3>& values = samples.values;
  PlotSelection selection;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (isFinite(values[i])) {
      ++(result.status[i] == SampleStatus::Kept ? selection.keptTotal : selection.rejectedTotal);
    }
  }
  const std::uint64_t keptDrawn = std::min(selection.keptTotal, kMaxKeptPoints);
  const std::uint64_t rejectedDrawn = std::min(selection.rejectedTotal, kMaxRejectedPoints);
  selection.kept.reserve(keptDrawn);
  selection.rejected.reserve(rejectedDrawn);
  // The next to draw of each kind is the one whose rank is floor(k * total / drawn), found once
  // per drawn sample (none once all are drawn).
  const auto rankOf = [](std::uint64_t k, std::uint64_t total, std::uint64_t drawn) {
    return k < drawn ? k * total / drawn : std::numeric_limits<std::uint64_t>::max();
  };
  std::uint64_t keptRank = 0, keptNext = 0, rejectedRank = 0, rejectedNext = 0;
  std::uint64_t keptAt = rankOf(0, selection.keptTotal, keptDrawn);
  std::uint64_t rejectedAt = rankOf(0, selection.rejectedTotal, rejectedDrawn);
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!isFinite(values[i])) {
      continue;
    }
    const bool kept = result.status[i] == SampleStatus::Kept;
    std::uint64_t& rank = kept ? keptRank : rejectedRank;
    std::uint64_t& at = kept ? keptAt : rejectedAt;
    if (rank == at) {
      std::uint64_t& next = kept ? keptNext : rejectedNext;
      (kept ? selection.kept : selection.rejected)
          .push_back(
              {values[i], applyCalibration(result.calibration, values[i]), result.status[i]});
      ++next;
      at = kept ? rankOf(next, selection.keptTotal, keptDrawn)
                : rankOf(next, selection.rejectedTotal, rejectedDrawn);
    }
    ++rank;
  }
  return selection;
}

std::vector<std::string> projectionPlots(const PlotSelection& selection,
                                         const CalibrationResult& result,
                                         const PlotContext& context) {
  const double half = projectionHalfRange(selection, result);
  const int planes[3][2] = {{0, 1}, {1, 2}, {0, 2}};
  std::vector<std::string> plots;
  for (bool corrected : {false, true}) {
    for (const auto& p : planes) {
      plots.push_back(projection(selection, result, context, corrected, p[0], p[1], half));
    }
  }
  return plots;
}

std::string magnitudePlot(const SampleSet& samples, const PlotSelection& selection,
                          const CalibrationResult& result, const PlotContext& context) {
  std::vector<std::size_t> rowOfWindow;
  std::vector<Row> rows = histogramRows(result, context, rowOfWindow);
  const std::size_t shared = rows.size();
  const Range range = setRanges(selection, result, context, rowOfWindow, rows);
  countSamples(samples, result, rowOfWindow, shared, rows);

  const double sharedHeight = kRowPitch * (shared - 1) + kRowArea + kRowHeight;
  const double closeUpTop = sharedHeight + kAxisRoom + kCloseUpGap;
  const double height =
      (rows.size() > shared ? closeUpTop + kRowArea + kRowHeight : sharedHeight) + kAxisRoom;
  std::string svg = svgOpen("magnitudes", kHistogramWidth, height,
                            "histograms of the raw and corrected magnitudes");
  svg +=
      "<defs><pattern id=\"hatch-rejected\" width=\"5\" height=\"5\" "
      "patternUnits=\"userSpaceOnUse\" patternTransform=\"rotate(45)\"><rect width=\"5\" "
      "height=\"5\" fill=\"#f8d9c5\"/><rect width=\"2\" height=\"5\" fill=\"#d55e00\"/>"
      "</pattern></defs>";
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const bool closeUp = r >= shared;
    const double top = closeUp ? closeUpTop : kRowPitch * r;
    std::string xLabel;
    if (closeUp) {
      xLabel = "corrected magnitude (" + context.unit + "), bins of " +
               significant((rows[r].upper - rows[r].lower) / kBins, 2) + " " + context.unit;
    } else if (r + 1 == shared) {
      xLabel = "magnitude (" + context.unit + "), bins of " +
               significant((range.upper - range.lower) / kBins, 2) + " " + context.unit;
    }
    drawRow(svg, rows[r], top, result, context, r == 0 || closeUp, xLabel);
  }
  svg += "<text class=\"label\" text-anchor=\"middle\" transform=\"translate(22 " +
         coordinate(sharedHeight / 2.0) + ") rotate(-90)\">samples per bin</text>";
  svg += "</svg>";
  return svg;
}

std::string coveragePlot(const PlotSelection& selection, const CalibrationResult& result) {
  const Frame f = mapFrame();
  const double bottom = f.top + f.height;
  std::string svg = svgOpen("coverage", 1000.0, bottom + 48.0,
                            "coverage of the corrected directions on an equal-area map");
  svg +=
      "<defs><pattern id=\"hatch-empty\" width=\"6\" height=\"6\" "
      "patternUnits=\"userSpaceOnUse\" patternTransform=\"rotate(45)\"><rect width=\"6\" "
      "height=\"6\" fill=\"#dcdcdc\"/><rect width=\"2\" height=\"6\" fill=\"#9a9a9a\"/>"
      "</pattern></defs>";
  drawCells(svg, f, result.coverage);
  std::vector<Point> dots;
  for (const PlotSample& s : selection.kept) {
    Point p{};
    if (mapPoint(f, s.corrected, p)) {
      dots.push_back(p);
    }
  }
  drawMarks(svg, dots, Mark::Dot, 0.0, "pt-kept");
  drawGap(svg, f, result.coverage);
  drawTurnAxis(svg, f, result.motion);
  drawMapAxes(svg, f);
  svg += "</svg>";
  return svg;
}

}  // namespace detail
}  // namespace fluxtrim
