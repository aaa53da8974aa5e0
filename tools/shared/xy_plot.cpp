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

constexpr double kSvgPlot = 520.0;
constexpr int kLegendLines = 4;
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
                       .left = kSvgPlotLeft,
                       .top = kSvgPlotTop,
                       .width = kSvgPlot,
                       .height = kSvgPlot};
  const double width = kSvgPlotLeft + kSvgPlot + kSvgPlotRight;
  const double height = frame.Bottom() + kSvgLegendOffset + kLegendLines * kSvgLineHeight;
  WriteSvgStart(out, width, height, "vm316 XY " + record.timestamp);
  // The page is narrow: the record's details go to the legend, clear of the Trig'd/Auto badge.
  WriteSvgHeading(out, frame, "vm316 XY", "channel 1 across, channel 2 up");
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
  double y = frame.Bottom() + kSvgLegendOffset;
  WriteSvgSwatch(out, frame.left + 24, y, kFigureColor);
  WriteSvgText(out, frame.left + 32, y, "start", "the samples in order: " + RecordFooter(record));
  const ChannelRoles roles = Roles(record);
  for (int channel = 0; channel < kChannelCount; ++channel) {
    y += kSvgLineHeight;
    const ChannelRecord& trace = record.channels[channel];
    WriteSvgText(out, frame.left + 32, y, "start",
                 "ch" + std::to_string(channel + 1) + " " + roles[channel] + ", " +
                     DescribeChannel(trace) + (trace.OverRange() ? "  OVER RANGE: clipped" : ""),
                 trace.OverRange() ? std::string(" fill=\"") + kSvgAlertColor + "\"" : "");
  }
  WriteSvgText(out, frame.left + 32, y + kSvgLineHeight, "start",
               record.timestamp + "; trigger " + record.trigger + "; " + record.backend);
  out << "  </g>\n";
  WriteSvgEnd(out);
}

void WriteXySvgFile(const std::string& path, const Record& record) {
  WriteOutput(path, [&](std::ostream& out) { WriteXySvg(out, record); });
}

}  // namespace vm316::host
