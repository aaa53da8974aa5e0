#include "xy_plot.h"

#include <algorithm>

#include "cell_plot.h"
#include "output_file.h"
#include "scale.h"
#include "svg_parts.h"
#include "units.h"

namespace vm316::host {
namespace {

constexpr int kAcross = 0;  // channel 1
constexpr int kUp = 1;      // channel 2
constexpr int kCellDivisions = 4;
constexpr int kSvgDivisions = 8;
constexpr int kCellAspect = 2;  // a character cell is about twice as high as it is wide

constexpr double kSvgLeft = 90.0;
constexpr double kSvgTop = 60.0;
constexpr double kSvgPlot = 520.0;
constexpr double kSvgRight = 30.0;
constexpr double kLegendOffset = 64.0;  // from the plot's bottom edge to the legend's first line
constexpr int kLegendLines = 3;
constexpr const char* kFigureColor = "#b05000";

// The channel's full scale about its DC level: the converter's window reaches one step short
// of its top. Its ticks divide the full scale evenly, so that both ends and the DC level are
// labelled.
AxisScale AxisOf(const ChannelRecord& channel, int divisions) {
  AxisScale scale = RangeScale(channel, divisions);
  scale.high = std::max(scale.high, channel.dc_level + channel.sensitivity);
  if (channel.sensitivity > 0.0) scale.step = 2.0 * channel.sensitivity / divisions;
  return scale;
}

std::string Span(const AxisScale& scale) {
  return FormatVolts(scale.low) + " .. " + FormatVolts(scale.high);
}

ChannelRoles Roles(const Record& record) {
  ChannelRoles roles;
  const char* words[kChannelCount] = {"across", "up"};
  for (int channel = 0; channel < kChannelCount; ++channel) {
    roles[channel] = std::string(words[channel]) + " (" +
                     Span(AxisOf(record.channels[channel], kCellDivisions)) + ")";
  }
  return roles;
}

bool BothRecorded(const Record& record) {
  return record.channels[kAcross].recorded && record.channels[kUp].recorded &&
         record.channels[kAcross].volts.size() == record.channels[kUp].volts.size();
}

}  // namespace

std::string RenderXyPlot(const Record& record, const PlotStyle& style) {
  const auto [width_limit, height] = FittedSize(style);
  const int width = std::min(width_limit, kCellAspect * (height - 1) + 1);
  const AxisScale across = AxisOf(record.channels[kAcross], kCellDivisions);
  const AxisScale up = AxisOf(record.channels[kUp], kCellDivisions);
  CellGrid grid = EmptyGrid(width, height);
  if (BothRecorded(record)) {
    const std::vector<double>& x = record.channels[kAcross].volts;
    const std::vector<double>& y = record.channels[kUp].volts;
    for (std::size_t i = 0; i < x.size(); ++i) {
      grid[CellRow(y[i], up, height)][CellColumn(x[i], across, width)] |= ChannelBit(kAcross);
    }
  }
  const ChannelRoles roles = Roles(record);
  std::string out = "XY: " + PlotLegend(record, style.color, &roles) + "\n";
  out += LabelledRows(grid, RowLabels(up, height, "V"), {}, style.color);
  out += BottomAxis(width);
  out += AxisLabels(width, ColumnLabels(across, width, "V")) + "\n";
  out += std::string(kCellLabelWidth, ' ') + RecordFooter(record) + "\n";
  return out;
}

void WriteXySvg(std::ostream& out, const Record& record) {
  const SvgFrame frame{.x = AxisOf(record.channels[kAcross], kSvgDivisions),
                       .y = AxisOf(record.channels[kUp], kSvgDivisions),
                       .left = kSvgLeft,
                       .top = kSvgTop,
                       .width = kSvgPlot,
                       .height = kSvgPlot};
  const double width = kSvgLeft + kSvgPlot + kSvgRight;
  const double height = frame.Bottom() + kLegendOffset + kLegendLines * kSvgLineHeight;
  WriteSvgStart(out, width, height, "vm316 XY " + record.timestamp);
  WriteSvgHeading(out, frame, "vm316 XY, " + record.timestamp, RecordFooter(record));
  WriteSvgGrid(out, frame);
  WriteSvgAxes(out, frame, {"V", "V", "channel 1 (V)", "channel 2 (V)"});
  SvgPoints points;
  if (BothRecorded(record)) {
    const std::vector<double>& x = record.channels[kAcross].volts;
    const std::vector<double>& y = record.channels[kUp].volts;
    for (std::size_t i = 0; i < x.size(); ++i) {
      points.emplace_back(std::clamp(frame.X(x[i]), frame.left, frame.Right()),
                          ClampedY(frame, y[i]));
    }
  }
  WriteSvgPolyline(out, "xy", kFigureColor, points);
  WriteSvgTriggerState(out, record, frame);

  out << "  <g id=\"legend\" font-family=\"sans-serif\" font-size=\"12\" fill=\"#202020\">\n";
  double y = frame.Bottom() + kLegendOffset;
  WriteSvgSwatch(out, frame.left + 24, y, kFigureColor);
  WriteSvgText(out, frame.left + 32, y, "start",
               "the samples in order; trigger " + record.trigger + "; " + record.backend);
  const ChannelRoles roles = Roles(record);
  for (int channel = 0; channel < kChannelCount; ++channel) {
    y += kSvgLineHeight;
    const ChannelRecord& trace = record.channels[channel];
    WriteSvgText(out, frame.left + 32, y, "start",
                 "ch" + std::to_string(channel + 1) + " " + roles[channel] + ", " +
                     DescribeChannel(trace) + (trace.OverRange() ? "  OVER RANGE: clipped" : ""),
                 trace.OverRange() ? std::string(" fill=\"") + kSvgAlertColor + "\"" : "");
  }
  out << "  </g>\n";
  WriteSvgEnd(out);
}

void WriteXySvgFile(const std::string& path, const Record& record) {
  WriteOutput(path, [&](std::ostream& out) { WriteXySvg(out, record); });
}

}  // namespace vm316::host
