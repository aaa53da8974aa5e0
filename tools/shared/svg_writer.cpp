#include "svg_writer.h"

#include <algorithm>
#include <cstdio>

#include "output_file.h"
#include "scale.h"
#include "svg_parts.h"
#include "terminal_plot.h"
#include "units.h"

namespace vm316::host {
namespace {

constexpr double kWidth = kSvgPageWidth;
// Below the plot: the time labels, two legend lines per channel (its measurements, then its
// pulse measurements), then a flag per clipped channel, so that nothing written covers a trace.
constexpr double kLineHeight = kSvgLineHeight;
constexpr int kLegendLinesPerChannel = 2;
constexpr double kLegendOffset = kSvgLegendOffset;
constexpr double kHeight = 560.0 + 4 * kLineHeight;
constexpr double kLeft = kSvgPlotLeft;
constexpr double kRight = kSvgPlotRight;
constexpr double kTop = kSvgPlotTop;
constexpr double kBottom = 110.0 + 4 * kLineHeight;
constexpr double kPlotWidth = kWidth - kLeft - kRight;
constexpr double kPlotHeight = kHeight - kTop - kBottom;
constexpr int kWantedTimeDivisions = 10;
constexpr int kWantedVoltDivisions = 8;

void WriteTraces(std::ostream& out, const Record& record, const SvgFrame& frame) {
  for (int channel = 0; channel < kChannelCount; ++channel) {
    const ChannelRecord& trace = record.channels[channel];
    if (!trace.recorded) continue;
    WriteSvgPolyline(out, "ch" + std::to_string(channel + 1), kSvgTraceColor[channel],
                     ReducedPoints(
                         trace.volts, [&](std::size_t i) { return record.TimeOf(i); }, frame));
  }
}

void WriteTrigger(std::ostream& out, const Record& record, const SvgFrame& frame) {
  const double x = frame.X(0.0);
  out << "  <g id=\"trigger\" font-family=\"sans-serif\" font-size=\"12\" fill=\"#c00000\">\n";
  out << "    <line x1=\"" << SvgFixed(x) << "\" y1=\"" << SvgFixed(kTop) << "\" x2=\""
      << SvgFixed(x) << "\" y2=\"" << SvgFixed(kTop + kPlotHeight)
      << "\" stroke=\"#c00000\" stroke-width=\"1\" stroke-dasharray=\"6 4\"/>\n";
  out << "    <path d=\"M " << SvgFixed(x - 6) << ' ' << SvgFixed(kTop - 10) << " L "
      << SvgFixed(x + 6) << ' ' << SvgFixed(kTop - 10) << " L " << SvgFixed(x) << ' '
      << SvgFixed(kTop) << " Z\"/>\n";
  if (record.trigger_level && *record.trigger_level >= frame.y.low &&
      *record.trigger_level <= frame.y.high) {
    const double y = frame.Y(*record.trigger_level);
    out << "    <circle cx=\"" << SvgFixed(x) << "\" cy=\"" << SvgFixed(y)
        << "\" r=\"4\" fill=\"none\" stroke=\"#c00000\" stroke-width=\"1.5\"/>\n";
    out << "    <path d=\"M " << SvgFixed(kLeft + kPlotWidth) << ' ' << SvgFixed(y)
        << " l 10 -6 l 0 12 Z\"/>\n";
  } else if (record.trigger_level) {
    // The level lies beyond the plot (the signal never reached it): an arrow at that edge.
    const bool above = *record.trigger_level > frame.y.high;
    const double y = above ? kTop : kTop + kPlotHeight;
    out << "    <path id=\"trigger-level-off-plot\" d=\"M " << SvgFixed(kLeft + kPlotWidth + 5)
        << ' ' << SvgFixed(y) << " l -5 " << (above ? "10" : "-10") << " l 10 0 Z\"/>\n";
    WriteSvgText(out, kLeft + kPlotWidth - 4, above ? y + 14 : y - 6, "end",
                 std::string("trigger level ") +
                     FormatQuantityShort(*record.trigger_level, "V", 3) +
                     (above ? " (above)" : " (below)"));
  }
  out << "  </g>\n";
}

// The edges of a clipped channel's window, where its trace is cut off, and a flag on it.
void WriteOverRange(std::ostream& out, const Record& record, const SvgFrame& frame) {
  double flag_y =
      kTop + kPlotHeight + kLegendOffset + kChannelCount * kLegendLinesPerChannel * kLineHeight;
  for (int channel = 0; channel < kChannelCount; ++channel) {
    const ChannelRecord& trace = record.channels[channel];
    if (!trace.recorded || !trace.OverRange()) continue;
    out << "  <g id=\"over-range-ch" << channel + 1
        << "\" class=\"over-range\" font-family=\"sans-serif\" font-size=\"13\" "
           "font-weight=\"bold\" fill=\""
        << kSvgAlertColor << "\">\n";
    const AxisScale window = RangeScale(trace, 1);
    for (const double volts : {window.low, window.high}) {
      if (volts < frame.y.low || volts > frame.y.high) continue;
      out << "    <line x1=\"" << SvgFixed(kLeft) << "\" y1=\"" << SvgFixed(frame.Y(volts))
          << "\" x2=\"" << SvgFixed(kLeft + kPlotWidth) << "\" y2=\"" << SvgFixed(frame.Y(volts))
          << "\" stroke=\"" << kSvgAlertColor
          << "\" stroke-width=\"1\" stroke-dasharray=\"2 3\"/>\n";
    }
    WriteSvgText(out, kLeft + 8, flag_y, "start",
                 "ch" + std::to_string(channel + 1) + " OVER RANGE: clipped at the " +
                     FormatVolts(trace.sensitivity) + " range's limits");
    flag_y += kLineHeight;
    out << "  </g>\n";
  }
}

void WriteLegend(std::ostream& out, const Record& record,
                 const std::array<TraceStatistics, kChannelCount>& stats) {
  out << "  <g id=\"legend\" font-family=\"sans-serif\" font-size=\"12\" fill=\"#202020\">\n";
  double y = kTop + kPlotHeight + kLegendOffset;
  for (int channel = 0; channel < kChannelCount; ++channel) {
    const ChannelRecord& trace = record.channels[channel];
    if (!trace.recorded) continue;
    const TraceStatistics& s = stats[channel];
    WriteSvgSwatch(out, kLeft + 24, y, kSvgTraceColor[channel]);
    std::string text = "ch" + std::to_string(channel + 1) + "  " + DescribeChannel(trace) +
                       (trace.OverRange() ? "  OVER RANGE, not the signal's:" : "") + "   min " +
                       FormatQuantity(s.min, "V") + "   max " + FormatQuantity(s.max, "V") +
                       "   p-p " + FormatQuantity(s.peak_to_peak, "V") + "   mean " +
                       FormatQuantity(s.mean, "V") + "   rms " + FormatQuantity(s.rms, "V") +
                       "   freq " + (s.frequency ? FormatFrequency(*s.frequency) : "--");
    WriteSvgText(out, kLeft + 32, y, "start", text,
                 std::string(" xml:space=\"preserve\"") +
                     (trace.OverRange() ? std::string(" fill=\"") + kSvgAlertColor + "\"" : ""));
    std::string pulses;
    for (const PulseText& pulse : DescribePulses(s.pulse)) {
      pulses += std::string(pulses.empty() ? "" : "   ") + pulse.name + " " + pulse.text;
    }
    WriteSvgText(out, kLeft + 32, y + kLineHeight, "start", pulses, " xml:space=\"preserve\"");
    y += kLegendLinesPerChannel * kLineHeight;
  }
  out << "  </g>\n";
}

}  // namespace

void WriteSvg(std::ostream& out, const Record& record,
              const std::array<TraceStatistics, kChannelCount>& stats) {
  SvgFrame frame{.x = {},
                 .y = VoltageScale(record, kWantedVoltDivisions),
                 .left = kLeft,
                 .top = kTop,
                 .width = kPlotWidth,
                 .height = kPlotHeight};
  const double start = record.TimeOf(0);
  const double end = record.TimeOf(record.length == 0 ? 0 : record.length - 1);
  frame.x.low = start;
  frame.x.high = end > start ? end : start + 1.0 / record.sample_rate;
  frame.x.step = NiceStep(frame.x.high - frame.x.low, kWantedTimeDivisions);

  WriteSvgStart(out, kWidth, kHeight, "vm316 capture " + record.timestamp);
  WriteSvgHeading(out, frame, "vm316 capture, " + record.timestamp,
                  FormatQuantityShort(record.sample_rate, "Hz", 4) + ", " +
                      std::to_string(record.length) + " samples (" +
                      FormatQuantityShort(record.Duration(), "s", 3) + "), trigger " +
                      record.trigger + ", " + record.backend);
  WriteSvgGrid(out, frame);
  WriteSvgAxes(out, frame, {"s", "V", "time from the trigger (s)", "voltage (V)"});
  WriteTraces(out, record, frame);
  WriteTrigger(out, record, frame);
  WriteOverRange(out, record, frame);
  WriteSvgTriggerState(out, record, frame);
  WriteLegend(out, record, stats);
  WriteSvgEnd(out);
}

void WriteSvgFile(const std::string& path, const Record& record,
                  const std::array<TraceStatistics, kChannelCount>& stats) {
  WriteOutput(path, [&](std::ostream& out) { WriteSvg(out, record, stats); });
}

}  // namespace vm316::host
