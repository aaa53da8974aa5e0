#include "terminal_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <span>
#include <vector>

#include "scale.h"
#include "units.h"

namespace vm316::host {
namespace {

// The traces keep their colours of a bench scope: channel 1 yellow, channel 2 cyan.
constexpr std::array<char, kChannelCount> kTraceGlyph = {'*', 'o'};
constexpr char kOverlapGlyph = '#';
constexpr std::array<const char*, kChannelCount> kTraceColor = {"\x1b[33m", "\x1b[36m"};
constexpr const char* kOverlapColor = "\x1b[1m";
constexpr const char* kResetColor = "\x1b[0m";
constexpr int kLabelWidth = 10;  // "-12.5 mV |"
constexpr int kWantedVoltDivisions = 4;

// Cell contents: bit 0 channel 1, bit 1 channel 2.
using Grid = std::vector<std::vector<unsigned char>>;

int RowOf(double volts, const AxisScale& scale, int height) {
  const double fraction = (scale.high - volts) / (scale.high - scale.low);
  const int row = static_cast<int>(std::lround(fraction * (height - 1)));
  return std::clamp(row, 0, height - 1);
}

// Each column shows the span of its samples, joined to the last sample of the column before,
// so that an edge of a square wave is drawn as the vertical line a scope shows.
void DrawTrace(std::span<const double> volts, unsigned char bit, const AxisScale& scale, int width,
               int height, Grid& grid) {
  const std::size_t count = volts.size();
  if (count == 0) return;
  std::optional<double> previous;
  for (int column = 0; column < width; ++column) {
    std::size_t first = count * static_cast<std::size_t>(column) / static_cast<std::size_t>(width);
    std::size_t last =
        count * static_cast<std::size_t>(column + 1) / static_cast<std::size_t>(width);
    if (last <= first) last = std::min(first + 1, count);
    if (first >= count) break;
    double low = volts[first];
    double high = volts[first];
    for (std::size_t i = first; i < last; ++i) {
      low = std::min(low, volts[i]);
      high = std::max(high, volts[i]);
    }
    if (previous) {
      low = std::min(low, *previous);
      high = std::max(high, *previous);
    }
    previous = volts[last - 1];
    const int top = RowOf(high, scale, height);
    const int bottom = RowOf(low, scale, height);
    for (int row = top; row <= bottom; ++row) grid[row][column] |= bit;
  }
}

char Glyph(unsigned char content) {
  if (content == 0) return ' ';
  if (content == 3) return kOverlapGlyph;
  return kTraceGlyph[(content & 1) != 0 ? 0 : 1];
}

const char* ColorOf(unsigned char content) {
  if (content == 0) return kResetColor;
  if (content == 3) return kOverlapColor;
  return kTraceColor[(content & 1) != 0 ? 0 : 1];
}

std::string Cell(unsigned char content, bool color) {
  if (!color || content == 0) return std::string(1, Glyph(content));
  return std::string(ColorOf(content)) + Glyph(content) + kResetColor;
}

// One row of cells; a colour is switched only where it changes.
std::string Row(const std::vector<unsigned char>& cells, bool color) {
  std::string row;
  const char* current = kResetColor;
  for (const unsigned char content : cells) {
    if (color && content != 0 && ColorOf(content) != current) {
      if (current != kResetColor) row += kResetColor;
      current = ColorOf(content);
      row += current;
    }
    row += Glyph(content);
  }
  if (current != kResetColor) row += kResetColor;
  return row;
}

std::string Padded(const std::string& text, int width) {
  if (static_cast<int>(text.size()) >= width) return text;
  return std::string(width - text.size(), ' ') + text;
}

std::string Legend(const Record& record, bool color) {
  std::string legend;
  for (int channel = 0; channel < kChannelCount; ++channel) {
    const ChannelRecord& trace = record.channels[channel];
    if (!trace.recorded) continue;
    if (!legend.empty()) legend += "   ";
    legend += Cell(static_cast<unsigned char>(1u << channel), color);
    legend += " ch" + std::to_string(channel + 1) + " " + DescribeChannel(trace);
    if (trace.OverRange()) legend += " OVER RANGE";
  }
  legend += "   T trigger " + record.trigger + "   " + DescribeTriggerState(record);
  return legend;
}

std::string TimeAxis(const Record& record, int width, int trigger_column) {
  std::string labels(static_cast<std::size_t>(kLabelWidth + width + 12), ' ');
  auto place = [&labels](int at, const std::string& text) {
    if (at < 0) at = 0;
    if (static_cast<std::size_t>(at) + text.size() > labels.size()) {
      at = static_cast<int>(labels.size() - text.size());
    }
    labels.replace(static_cast<std::size_t>(at), text.size(), text);
  };
  const std::string start = FormatQuantityShort(record.TimeOf(0), "s", 3);
  const std::string end = FormatQuantityShort(record.TimeOf(record.length), "s", 3);
  const int end_at = kLabelWidth + width - static_cast<int>(end.size()) / 2;
  place(kLabelWidth - static_cast<int>(start.size()) / 2, start);
  place(end_at, end);
  const std::string zero = "0 s";
  const int zero_at = kLabelWidth + trigger_column - 1;
  const int start_end =
      kLabelWidth - static_cast<int>(start.size()) / 2 + static_cast<int>(start.size());
  if (zero_at > start_end + 1 && zero_at + static_cast<int>(zero.size()) < end_at - 1) {
    place(zero_at, zero);
  }
  while (!labels.empty() && labels.back() == ' ') labels.pop_back();
  return labels;
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

std::string RenderPlot(const Record& record, const PlotStyle& style) {
  const int width = std::clamp(style.width, kMinPlotWidth, kMaxPlotWidth);
  const int height = std::clamp(style.height, kMinPlotHeight, kMaxPlotHeight);
  const AxisScale scale = VoltageScale(record, kWantedVoltDivisions);

  Grid grid(static_cast<std::size_t>(height), std::vector<unsigned char>(width, 0));
  for (int channel = 0; channel < kChannelCount; ++channel) {
    const ChannelRecord& trace = record.channels[channel];
    if (trace.recorded) {
      DrawTrace(trace.volts, static_cast<unsigned char>(1u << channel), scale, width, height, grid);
    }
  }

  std::vector<std::string> row_labels(static_cast<std::size_t>(height));
  for (const double tick : scale.Ticks()) {
    row_labels[RowOf(tick, scale, height)] = FormatQuantityShort(tick, "V", 3);
  }
  const int trigger_column =
      record.length == 0
          ? 0
          : std::clamp(static_cast<int>(record.pre_samples * static_cast<std::size_t>(width) /
                                        record.length),
                       0, width - 1);
  // A level off the plot (a record forced because the signal never reached it) is marked at
  // the edge it lies beyond.
  std::optional<int> level_row;
  std::string level_mark = "< T";
  if (record.trigger_level) {
    level_row = RowOf(*record.trigger_level, scale, height);
    const std::string volts = " " + FormatQuantityShort(*record.trigger_level, "V", 3);
    if (*record.trigger_level > scale.high) level_mark = "^ T" + volts;
    if (*record.trigger_level < scale.low) level_mark = "v T" + volts;
  }

  std::string out = Legend(record, style.color) + "\n";
  for (int row = 0; row < height; ++row) {
    out += Padded(row_labels[row], kLabelWidth - 2);
    out += row_labels[row].empty() ? " |" : " +";
    std::string cells = Row(grid[row], style.color);
    if (level_row && *level_row == row) {
      cells += level_mark;
    } else {
      while (!cells.empty() && cells.back() == ' ') cells.pop_back();
    }
    out += cells;
    out += "\n";
  }
  std::string axis(static_cast<std::size_t>(width), '-');
  axis[static_cast<std::size_t>(trigger_column)] = 'T';
  out += std::string(kLabelWidth - 2, ' ') + " +" + axis + "\n";
  out += TimeAxis(record, width, trigger_column) + "\n";

  char line[200];
  std::snprintf(line, sizeof line, "%s, %zu samples (%s), %zu before the trigger",
                FormatQuantityShort(record.sample_rate, "Hz", 4).c_str(), record.length,
                FormatQuantityShort(record.Duration(), "s", 3).c_str(), record.pre_samples);
  out += std::string(kLabelWidth, ' ') + line;
  if (record.asked_rate) {
    out += " (asked for " + FormatQuantityShort(*record.asked_rate, "Hz", 4) + ")";
  }
  out += "\n";
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
    out += Padded(name, kColumn);
  }
  out += "\n";
  for (int channel = 0; channel < kChannelCount; ++channel) {
    if (!record.channels[channel].recorded) continue;
    const TraceStatistics& s = stats[channel];
    out += "ch" + std::to_string(channel + 1) + "  ";
    for (const double value : {s.min, s.max, s.peak_to_peak, s.mean, s.rms}) {
      out += Padded(FormatQuantity(value, "V", 3), kColumn);
    }
    out += Padded(s.frequency ? FormatFrequency(*s.frequency) : std::string("--"), kColumn + 1);
    if (record.channels[channel].OverRange()) out += "  over range";
    out += "\n";
  }
  out += "     ";
  for (const PulseText& pulse : DescribePulses(PulseMeasurements{})) {
    out += Padded(pulse.name, kColumn);
  }
  out += "\n";
  for (int channel = 0; channel < kChannelCount; ++channel) {
    if (!record.channels[channel].recorded) continue;
    std::string line = "ch" + std::to_string(channel + 1) + "  ";
    for (const PulseText& pulse : DescribePulses(stats[channel].pulse)) {
      line += Padded(pulse.text, kColumn);
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
