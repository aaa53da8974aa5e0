// The record drawn in character cells, as a bench scope's screen would show it, and the
// measurements table under it.
#pragma once

#include <array>
#include <string>

#include "record.h"
#include "statistics.h"

namespace vm316::host {

inline constexpr int kDefaultPlotWidth = 72;
inline constexpr int kDefaultPlotHeight = 16;

struct PlotStyle {
  int width = kDefaultPlotWidth;  // plot columns, without the voltage labels
  int height = kDefaultPlotHeight;
  bool color = false;  // ANSI colours, for a terminal only
};

inline constexpr int kMinPlotWidth = 20;
inline constexpr int kMaxPlotWidth = 400;
inline constexpr int kMinPlotHeight = 5;
inline constexpr int kMaxPlotHeight = 100;

// The plot's size in cells, the style's clamped to the limits above.
struct PlotSize {
  int width;
  int height;
};
PlotSize FittedSize(const PlotStyle& style);

// The legend line, the plot with its voltage and time axes, and the time-base line.
std::string RenderPlot(const Record& record, const PlotStyle& style);

// What each channel is in a view that is not drawn over time ("across", "up"): said after
// the channel's name instead of its mark.
using ChannelRoles = std::array<std::string, kChannelCount>;

// "* ch1 8 V dc   o ch2 8 V dc   T trigger ch1 rising 2.5 V   Trig'd": the recorded channels,
// their marks or their roles, the trigger and how the record's trigger came about.
std::string PlotLegend(const Record& record, bool color, const ChannelRoles* roles = nullptr);

// "100 kHz, 1000 samples (10 ms), 100 before the trigger" and the rate asked for, if another.
std::string RecordFooter(const Record& record);

// One line per recorded channel: min, max, peak-to-peak, mean, RMS, frequency.
std::string RenderStatistics(const Record& record,
                             const std::array<TraceStatistics, kChannelCount>& stats);

// The statistics of every recorded channel (ChannelStatistics).
std::array<TraceStatistics, kChannelCount> RecordStatistics(const Record& record);

// "Trig'd", "Auto (no trigger within 1 s: forced)", "free running".
std::string DescribeTriggerState(const Record& record);

// "8 V dc", "2 V ac, dc level 0.5 V", "auto (now 8 V) dc".
std::string DescribeChannel(const ChannelRecord& channel);

}  // namespace vm316::host
