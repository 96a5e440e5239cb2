#include "reportSvg.hpp"

#include <cmath>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "reportText.hpp"

namespace fluxtrim {
namespace detail {

namespace {

constexpr double kTickLength = 4.0;        // user units, outside the frame
constexpr double kTickLabelGap = 3.0;      // between a tick mark and its label
constexpr double kTickFontHeight = 10.0;   // class "tick"
constexpr double kAxisLabelOffset = 30.0;  // from the frame's edge to an axis label's baseline

}  // namespace

Ticks niceTicks(double lower, double upper, int target) {
  Ticks ticks;
  const double rough = (upper - lower) / (target > 1 ? target : 1);
  const int exponent = static_cast<int>(std::floor(std::log10(rough)));
  const double power = std::pow(10.0, exponent);
  const double fraction = rough / power;
  int multiple = fraction < 1.5 ? 1 : (fraction < 3.5 ? 2 : (fraction < 7.5 ? 5 : 10));
  int stepExponent = exponent;
  if (multiple == 10) {
    multiple = 1;
    ++stepExponent;
  }
  ticks.decimals = stepExponent < 0 ? -stepExponent : 0;
  // Each tick is k * multiple * 10^e computed from integers, so it prints as its exact decimal.
  const double step = multiple * std::pow(10.0, stepExponent);
  const long first = static_cast<long>(std::ceil(lower / step - 1e-9));
  const long last = static_cast<long>(std::floor(upper / step + 1e-9));
  for (long k = first; k <= last; ++k) {
    ticks.values.push_back(stepExponent < 0
                               ? static_cast<double>(k * multiple) / std::pow(10.0, -stepExponent)
                               : static_cast<double>(k * multiple) * std::pow(10.0, stepExponent));
  }
  return ticks;
}

std::string coordinate(double value) {
  return fixed(value, 1);
}

void drawGrid(std::string& svg, const Frame& frame, const Ticks& x, const Ticks& y) {
  std::string d;
  for (double v : x.values) {
    d += "M" + coordinate(frame.px(v)) + " " + coordinate(frame.top) + "v" +
         coordinate(frame.height);
  }
  for (double v : y.values) {
    d += "M" + coordinate(frame.left) + " " + coordinate(frame.py(v)) + "h" +
         coordinate(frame.width);
  }
  if (!d.empty()) {
    svg += "<path class=\"grid\" d=\"" + d + "\"/>";
  }
}

void drawAxes(std::string& svg, const Frame& frame, const Ticks& x, const Ticks& y,
              const std::string& xLabel, const std::string& yLabel) {
  const double bottom = frame.top + frame.height;
  svg += "<rect class=\"frame\" x=\"" + coordinate(frame.left) + "\" y=\"" + coordinate(frame.top) +
         "\" width=\"" + coordinate(frame.width) + "\" height=\"" + coordinate(frame.height) +
         "\"/>";
  std::string d;
  for (double v : x.values) {
    d += "M" + coordinate(frame.px(v)) + " " + coordinate(bottom) + "v" + coordinate(kTickLength);
  }
  for (double v : y.values) {
    d += "M" + coordinate(frame.left) + " " + coordinate(frame.py(v)) + "h" +
         coordinate(-kTickLength);
  }
  svg += "<path class=\"axis\" d=\"" + d + "\"/>";
  for (double v : x.values) {
    drawText(svg, frame.px(v), bottom + kTickLength + kTickLabelGap + kTickFontHeight, "tick",
             "middle", tickText(v, x.decimals));
  }
  for (double v : y.values) {
    drawText(svg, frame.left - kTickLength - kTickLabelGap, frame.py(v) + kTickFontHeight * 0.35,
             "tick", "end", tickText(v, y.decimals));
  }
  if (!xLabel.empty()) {
    drawText(svg, frame.left + frame.width / 2.0, bottom + kAxisLabelOffset, "label", "middle",
             xLabel);
  }
  if (!yLabel.empty()) {
    const std::string x = coordinate(frame.left - kAxisLabelOffset - 8.0);
    const std::string y = coordinate(frame.top + frame.height / 2.0);
    svg += "<text class=\"label\" text-anchor=\"middle\" transform=\"translate(" + x + " " + y +
           ") rotate(-90)\">" + yLabel + "</text>";
  }
}

void drawMarks(std::string& svg, const std::vector<Point>& points, Mark mark, double size,
               const std::string& cssClass) {
  if (points.empty()) {
    return;
  }
  const std::string s = coordinate(size);
  const std::string twice = coordinate(2.0 * size);
  std::string d;
  d.reserve(points.size() * (mark == Mark::Dot ? 14 : 34));
  // Appended piece by piece: this runs for every drawn sample.
  const auto append = [&d](std::initializer_list<std::string_view> pieces) {
    for (std::string_view piece : pieces) {
      d += piece;
    }
  };
  for (const Point& p : points) {
    switch (mark) {
      case Mark::Dot:
        append({"M", coordinate(p.x), " ", coordinate(p.y), "h0"});
        break;
      case Mark::Cross:
        append({"M", coordinate(p.x - size), " ", coordinate(p.y - size), "l", twice, " ", twice,
                "m0 -", twice, "l-", twice, " ", twice});
        break;
      case Mark::Diamond:
        append({"M", coordinate(p.x), " ", coordinate(p.y - size), "l", s, " ", s, "l-", s, " ", s,
                "l-", s, " -", s, "z"});
        break;
    }
  }
  svg += "<path class=\"" + cssClass + "\" d=\"" + d + "\"/>";
}

void drawText(std::string& svg, double x, double y, const std::string& cssClass, const char* anchor,
              const std::string& text) {
  svg += "<text class=\"" + cssClass + "\" x=\"" + coordinate(x) + "\" y=\"" + coordinate(y) + "\"";
  if (std::string(anchor) != "start") {
    svg += " text-anchor=\"" + std::string(anchor) + "\"";
  }
  svg += ">" + text + "</text>";
}

}  // namespace detail
}  // namespace fluxtrim
