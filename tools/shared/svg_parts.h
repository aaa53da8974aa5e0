// The building blocks of every SVG picture of ours (the time record, the spectrum, the XY
// figure): the document, text, the plot's frame with its grid and labelled axes, traces as
// polylines, the legend's colour swatches and the Trig'd/Auto badge.
#pragma once

#include <array>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "record.h"
#include "scale.h"

namespace vm316::host {

inline constexpr std::array<const char*, kChannelCount> kSvgTraceColor = {"#d4a000", "#0090c0"};
inline constexpr const char* kSvgAlertColor = "#d00000";
inline constexpr double kSvgLineHeight = 18.0;
// The page's margins around the plot: the value labels and the axis' title on the left, the
// heading and the Trig'd/Auto badge above; the legend starts this far under the plot.
inline constexpr double kSvgPageWidth = 960.0;  // of a plot over time or frequency
inline constexpr double kSvgPlotLeft = 90.0;
inline constexpr double kSvgPlotRight = 30.0;
inline constexpr double kSvgPlotTop = 60.0;
inline constexpr double kSvgLegendOffset = 64.0;

// The plot's area on the page and the scales across (x) and up (y) it.
struct SvgFrame {
  AxisScale x;
  AxisScale y;
  double left = 0.0;
  double top = 0.0;
  double width = 1.0;
  double height = 1.0;
  double X(double value) const { return left + (value - x.low) / (x.high - x.low) * width; }
  double Y(double value) const { return top + (y.high - value) / (y.high - y.low) * height; }
  double Right() const { return left + width; }
  double Bottom() const { return top + height; }
};

std::string SvgEscaped(const std::string& text);
// Two decimals: a hundredth of a pixel.
std::string SvgFixed(double value);

// The XML declaration, the <svg> element with its size, the title and a white background.
void WriteSvgStart(std::ostream& out, double width, double height, const std::string& title);
void WriteSvgEnd(std::ostream& out);

// The two heading lines above the plot.
void WriteSvgHeading(std::ostream& out, const SvgFrame& frame, const std::string& title,
                     const std::string& details);

void WriteSvgText(std::ostream& out, double x, double y, const std::string& anchor,
                  const std::string& text, const std::string& extra = {});

// The grid lines at each tick, and the frame around the plot.
void WriteSvgGrid(std::ostream& out, const SvgFrame& frame);

// The tick labels in their units and the axes' titles.
struct SvgAxisTitles {
  std::string_view x_unit;
  std::string_view y_unit;
  std::string x_title;
  std::string y_title;
};
void WriteSvgAxes(std::ostream& out, const SvgFrame& frame, const SvgAxisTitles& titles);

using SvgPoints = std::vector<std::pair<double, double>>;

// At most two points per pixel column of a series of values (the lowest and the highest, in
// the order they came) so that a long series keeps its shape and the file stays small;
// `x_of(i)` is the value across of the i-th. Values beyond the frame's y scale lie on its edge.
template <typename XOf>
SvgPoints ReducedPoints(std::span<const double> values, XOf x_of, const SvgFrame& frame);

// A <polyline> of the points, with the id and class given.
void WriteSvgPolyline(std::ostream& out, const std::string& id, const char* color,
                      const SvgPoints& points);

// The short thick line in a channel's colour before its legend text, ending at x.
void WriteSvgSwatch(std::ostream& out, double x, double y, const char* color);

// Trig'd or Auto, as a scope shows it in a corner of the screen: right-aligned above the plot.
void WriteSvgTriggerState(std::ostream& out, const Record& record, const SvgFrame& frame);

// Keeps y inside the frame.
double ClampedY(const SvgFrame& frame, double value);

template <typename XOf>
SvgPoints ReducedPoints(std::span<const double> values, XOf x_of, const SvgFrame& frame) {
  SvgPoints points;
  const auto columns = static_cast<std::size_t>(frame.width);
  const std::size_t count = values.size();
  if (count <= 2 * columns) {
    for (std::size_t i = 0; i < count; ++i) {
      points.emplace_back(frame.X(x_of(i)), ClampedY(frame, values[i]));
    }
    return points;
  }
  for (std::size_t column = 0; column < columns; ++column) {
    const std::size_t first = count * column / columns;
    const std::size_t last = std::max(first + 1, count * (column + 1) / columns);
    std::size_t low = first;
    std::size_t high = first;
    for (std::size_t i = first; i < last; ++i) {
      if (values[i] < values[low]) low = i;
      if (values[i] > values[high]) high = i;
    }
    for (const std::size_t i : {std::min(low, high), std::max(low, high)}) {
      points.emplace_back(frame.X(x_of(i)), ClampedY(frame, values[i]));
      if (low == high) break;
    }
  }
  return points;
}

}  // namespace vm316::host
