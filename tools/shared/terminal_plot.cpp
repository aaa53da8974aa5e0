#include "terminal_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <span>
#include <vector>

#include "cell_plot.h"
#include "scale.h"
#include "units.h"

namespace vm316::host {
namespace {

constexpr int kWantedVoltDivisions = 4;

std::string TimeAxis(const Record& record, int width, int trigger_column) {
  // The ends first: the trigger instant's "0 s" only where it leaves them room.
  return AxisLabels(width, {{0, FormatQuantityShort(record.TimeOf(0), "s", 3)},
                            {width, FormatQuantityShort(record.TimeOf(record.length), "s", 3)},
                            {trigger_column, "0 s"}});
}

}  // namespace

std::string DescribeTriggerState(const Record& record) {
  std::string text = TriggerStateMark(record.trigger_state);
  if (record.trigger_state == TriggerState::kForced && record.timeout_seconds) {
    text +=
        " (no trigger within " + FormatQuantityShort(*record.timeout_seconds, "s", 3) + ": forced)";
  }
  return text;
}

std::string DescribeChannel(const ChannelRecord& channel) {
  std::string text = FormatVolts(channel.sensitivity);
  if (channel.auto_range) text = "auto (" + text + ")";
  text += channel.ac_coupled ? " ac" : " dc";
  if (channel.dc_level != 0.0) {
    text += ", dc level " + FormatVolts(channel.dc_level);
  }
  return text;
}

std::string PlotLegend(const Record& record, bool color, const ChannelRoles* roles) {
  std::string legend;
  for (int channel = 0; channel < kChannelCount; ++channel) {
    const ChannelRecord& trace = record.channels[channel];
    if (!trace.recorded) continue;
    if (!legend.empty()) legend += "   ";
    if (roles == nullptr) legend += ChannelMark(channel, color) + " ";
    legend += "ch" + std::to_string(channel + 1) + " ";
    if (roles != nullptr) legend += (*roles)[channel] + " ";
    legend += DescribeChannel(trace);
    if (trace.OverRange()) legend += " OVER RANGE";
  }
  legend += "   T trigger " + record.trigger + "   " + DescribeTriggerState(record);
  return legend;
}

std::string RecordFooter(const Record& record) {
  char line[200];
  std::snprintf(line, sizeof line, "%s, %zu samples (%s), %zu before the trigger",
                FormatQuantityShort(record.sample_rate, "Hz", 4).c_str(), record.length,
                FormatQuantityShort(record.Duration(), "s", 3).c_str(), record.pre_samples);
  std::string out = line;
  if (record.asked_rate) {
    out += " (asked for " + FormatQuantityShort(*record.asked_rate, "Hz", 4) + ")";
  }
  return out;
}

PlotSize FittedSize(const PlotStyle& style) {
  return {std::clamp(style.width, kMinPlotWidth, kMaxPlotWidth),
          std::clamp(style.height, kMinPlotHeight, kMaxPlotHeight)};
}

std::string RenderPlot(const Record& record, const PlotStyle& style) {
  const auto [width, height] = FittedSize(style);
  const AxisScale scale = VoltageScale(record, kWantedVoltDivisions);

  CellGrid grid = EmptyGrid(width, height);
  for (int channel = 0; channel < kChannelCount; ++channel) {
    const ChannelRecord& trace = record.channels[channel];
    if (trace.recorded) DrawSeries(trace.volts, ChannelBit(channel), scale, grid);
  }

  const int trigger_column =
      record.length == 0
          ? 0
          : std::clamp(static_cast<int>(record.pre_samples * static_cast<std::size_t>(width) /
                                        record.length),
                       0, width - 1);
  // A level off the plot (a record forced because the signal never reached it) is marked at
  // the edge it lies beyond.
  std::vector<std::string> suffix(static_cast<std::size_t>(height));
  if (record.trigger_level) {
    std::string level_mark = "< T";
    const std::string volts = " " + FormatQuantityShort(*record.trigger_level, "V", 3);
    if (*record.trigger_level > scale.high) level_mark = "^ T" + volts;
    if (*record.trigger_level < scale.low) level_mark = "v T" + volts;
    suffix[CellRow(*record.trigger_level, scale, height)] = level_mark;
  }

  std::string out = PlotLegend(record, style.color) + "\n";
  out += LabelledRows(grid, RowLabels(scale, height, "V"), suffix, style.color);
  out += BottomAxis(width, {{trigger_column, 'T'}});
  out += TimeAxis(record, width, trigger_column) + "\n";
  out += std::string(kCellLabelWidth, ' ') + RecordFooter(record) + "\n";
  return out;
}

std::array<TraceStatistics, kChannelCount> RecordStatistics(const Record& record) {
  std::array<TraceStatistics, kChannelCount> stats{};
  for (int channel = 0; channel < kChannelCount; ++channel) {
    const ChannelRecord& trace = record.channels[channel];
    if (trace.recorded) stats[channel] = ChannelStatistics(trace, record.sample_rate);
  }
  return stats;
}

std::string RenderStatistics(const Record& record,
                             const std::array<TraceStatistics, kChannelCount>& stats) {
  constexpr int kColumn = 11;
  std::string out = "     ";
  for (const char* name : {"min", "max", "p-p", "mean", "rms", "freq"}) {
    out += PadLeft(name, kColumn);
  }
  out += "\n";
  for (int channel = 0; channel < kChannelCount; ++channel) {
    if (!record.channels[channel].recorded) continue;
    const TraceStatistics& s = stats[channel];
    out += "ch" + std::to_string(channel + 1) + "  ";
    for (const double value : {s.min, s.max, s.peak_to_peak, s.mean, s.rms}) {
      out += PadLeft(FormatQuantity(value, "V", 3), kColumn);
    }
    out += PadLeft(s.frequency ? FormatFrequency(*s.frequency) : std::string("--"), kColumn + 1);
    if (record.channels[channel].OverRange()) out += "  over range";
    out += "\n";
  }
  out += "     ";
  for (const PulseText& pulse : DescribePulses(PulseMeasurements{})) {
    out += PadLeft(pulse.name, kColumn);
  }
  out += "\n";
  for (int channel = 0; channel < kChannelCount; ++channel) {
    if (!record.channels[channel].recorded) continue;
    std::string line = "ch" + std::to_string(channel + 1) + "  ";
    for (const PulseText& pulse : DescribePulses(stats[channel].pulse)) {
      line += PadLeft(pulse.text, kColumn);
    }
    out += line + "\n";
  }
  for (int channel = 0; channel < kChannelCount; ++channel) {
    const ChannelRecord& trace = record.channels[channel];
    if (!trace.recorded || !trace.OverRange()) continue;
    out += "ch" + std::to_string(channel + 1) + " over range: the signal went beyond the " +
           FormatVolts(trace.sensitivity) +
           " range; these are the clipped record's values, not the signal's\n";
  }
  return out;
}

}  // namespace vm316::host
