// Drawing for the calibration report: a plot frame that maps data to SVG user units, its axes
// with ticks, and compact marks for many points. Every number goes through reportText, so the
// SVG is the same under every locale.
#ifndef FLUXTRIM_LIB_REPORT_SVG_HPP
#define FLUXTRIM_LIB_REPORT_SVG_HPP

#include <string>
#include <vector>

namespace fluxtrim {
namespace detail {

// Tick values at the multiples of a step (1, 2 or 5 times a power of ten) that lie in [lower,
// upper], about `target` of them, with the decimals that show the step exactly.
struct Ticks {
  std::vector<double> values;
  int decimals = 0;
};
// Nothing is checked: lower < upper, both finite, is the caller's.
Ticks niceTicks(double lower, double upper, int target);

// A plot area in SVG user units (y grows downwards) and the data range it shows (y upwards).
struct Frame {
  double left = 0.0;
  double top = 0.0;
  double width = 1.0;
  double height = 1.0;
  double x0 = 0.0;
  double x1 = 1.0;
  double y0 = 0.0;
  double y1 = 1.0;
  double px(double x) const { return left + (x - x0) / (x1 - x0) * width; }
  double py(double y) const { return top + height - (y - y0) / (y1 - y0) * height; }
};

// An SVG coordinate or length, one decimal: a tenth of a user unit is below what a screen or a
// printer resolves at the report's sizes.
std::string coordinate(double value);

// Light grid lines at the ticks, inside the frame.
void drawGrid(std::string& svg, const Frame& frame, const Ticks& x, const Ticks& y);

// The frame's outline, tick marks and tick labels on the left and bottom, and the axis labels
// (HTML-escaped text by the caller; empty for none). The y label is written upwards.
void drawAxes(std::string& svg, const Frame& frame, const Ticks& x, const Ticks& y,
              const std::string& xLabel, const std::string& yLabel);

// A point to mark, in SVG user units.
struct Point {
  double x;
  double y;
};

// One path of marks, one per point, with the given class (its stroke and fill come from the
// page's style): a dot (a zero-length line with round caps), a cross of half-width `size` or an
// open diamond of half-width `size`.
enum class Mark { Dot, Cross, Diamond };
void drawMarks(std::string& svg, const std::vector<Point>& points, Mark mark, double size,
               const std::string& cssClass);

// <text> at (x, y) with the class and anchor ("start", "middle", "end"); text is HTML-escaped by
// the caller.
void drawText(std::string& svg, double x, double y, const std::string& cssClass, const char* anchor,
              const std::string& text);

}  // namespace detail
}  // namespace fluxtrim

#endif
