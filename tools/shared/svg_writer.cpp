#include "svg_writer.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <span>
#include <vector>

#include "errors.h"
#include "scale.h"
#include "terminal_plot.h"
#include "units.h"

namespace vm316::host {
namespace {

constexpr double kWidth = 960.0;
// Below the plot: the time labels, two legend lines per channel (its measurements, then its
// pulse measurements), then a flag per clipped channel, so that nothing written covers a trace.
constexpr double kLineHeight = 18.0;
constexpr int kLegendLinesPerChannel = 2;
constexpr double kLegendOffset = 64.0;  // from the plot's bottom edge to the legend's first line
constexpr double kHeight = 560.0 + 4 * kLineHeight;
constexpr double kLeft = 90.0;
constexpr double kRight = 30.0;
constexpr double kTop = 60.0;
constexpr double kBottom = 110.0 + 4 * kLineHeight;
constexpr double kPlotWidth = kWidth - kLeft - kRight;
constexpr double kPlotHeight = kHeight - kTop - kBottom;
constexpr int kWantedTimeDivisions = 10;
constexpr int kWantedVoltDivisions = 8;
constexpr std::array<const char*, kChannelCount> kTraceColor = {"#d4a000", "#0090c0"};
constexpr const char* kAlertColor = "#d00000";
constexpr const char* kTriggeredColor = "#008000";
constexpr double kCodesPerFullScale = 128.0;
constexpr double kHighestCode = 255.0;
constexpr double kMidCode = 128.0;

struct Frame {
  AxisScale time;
  AxisScale volts;
  double X(double t) const { return kLeft + (t - time.low) / (time.high - time.low) * kPlotWidth; }
  double Y(double v) const {
    return kTop + (volts.high - v) / (volts.high - volts.low) * kPlotHeight;
  }
};

std::string Escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Fixed(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.2f", value);
  return buffer;
}

void WriteText(std::ostream& out, double x, double y, const std::string& anchor,
               const std::string& text, const std::string& extra = {}) {
  out << "  <text x=\"" << Fixed(x) << "\" y=\"" << Fixed(y) << "\" text-anchor=\"" << anchor
      << "\"" << extra << ">" << Escaped(text) << "</text>\n";
}

void WriteGrid(std::ostream& out, const Frame& frame) {
  out << "  <g id=\"grid\" stroke=\"#d8d8d8\" stroke-width=\"1\">\n";
  for (const double t : frame.time.Ticks()) {
    out << "    <line x1=\"" << Fixed(frame.X(t)) << "\" y1=\"" << Fixed(kTop) << "\" x2=\""
        << Fixed(frame.X(t)) << "\" y2=\"" << Fixed(kTop + kPlotHeight) << "\"/>\n";
  }
  for (const double v : frame.volts.Ticks()) {
    out << "    <line x1=\"" << Fixed(kLeft) << "\" y1=\"" << Fixed(frame.Y(v)) << "\" x2=\""
        << Fixed(kLeft + kPlotWidth) << "\" y2=\"" << Fixed(frame.Y(v)) << "\"/>\n";
  }
  out << "  </g>\n";
  out << "  <rect id=\"frame\" x=\"" << Fixed(kLeft) << "\" y=\"" << Fixed(kTop) << "\" width=\""
      << Fixed(kPlotWidth) << "\" height=\"" << Fixed(kPlotHeight)
      << "\" fill=\"none\" stroke=\"#404040\" stroke-width=\"1\"/>\n";
}

void WriteAxes(std::ostream& out, const Frame& frame) {
  out << "  <g id=\"axes\" font-family=\"sans-serif\" font-size=\"12\" fill=\"#202020\">\n";
  for (const double t : frame.time.Ticks()) {
    WriteText(out, frame.X(t), kTop + kPlotHeight + 18, "middle", FormatQuantityShort(t, "s", 3));
  }
  for (const double v : frame.volts.Ticks()) {
    WriteText(out, kLeft - 8, frame.Y(v) + 4, "end", FormatQuantityShort(v, "V", 3));
  }
  WriteText(out, kLeft + kPlotWidth / 2, kTop + kPlotHeight + 40, "middle",
            "time from the trigger (s)");
  const double mid_y = kTop + kPlotHeight / 2;
  out << "  <text x=\"20\" y=\"" << Fixed(mid_y)
      << "\" text-anchor=\"middle\" transform=\"rotate(-90 20 " << Fixed(mid_y)
      << ")\">voltage (V)</text>\n";
  out << "  </g>\n";
}

// At most two points per pixel column: the lowest and the highest sample, in the order they
// came, so that a long record keeps its shape and the file stays small.
std::vector<std::pair<double, double>> TracePoints(const Record& record,
                                                   std::span<const double> volts,
                                                   const Frame& frame) {
  std::vector<std::pair<double, double>> points;
  const std::size_t columns = static_cast<std::size_t>(kPlotWidth);
  const std::size_t count = volts.size();
  if (count <= 2 * columns) {
    for (std::size_t i = 0; i < count; ++i) {
      points.emplace_back(frame.X(record.TimeOf(i)), frame.Y(volts[i]));
    }
    return points;
  }
  for (std::size_t column = 0; column < columns; ++column) {
    const std::size_t first = count * column / columns;
    const std::size_t last = std::max(first + 1, count * (column + 1) / columns);
    std::size_t low = first;
    std::size_t high = first;
    for (std::size_t i = first; i < last; ++i) {
      if (volts[i] < volts[low]) low = i;
      if (volts[i] > volts[high]) high = i;
    }
    for (const std::size_t i : {std::min(low, high), std::max(low, high)}) {
      points.emplace_back(frame.X(record.TimeOf(i)), frame.Y(volts[i]));
      if (low == high) break;
    }
  }
  return points;
}

void WriteTraces(std::ostream& out, const Record& record, const Frame& frame) {
  for (int channel = 0; channel < kChannelCount; ++channel) {
    const ChannelRecord& trace = record.channels[channel];
    if (!trace.recorded) continue;
    out << "  <polyline id=\"ch" << channel + 1 << "\" class=\"trace\" fill=\"none\" stroke=\""
        << kTraceColor[channel] << "\" stroke-width=\"1.5\" stroke-linejoin=\"round\" points=\"";
    bool first = true;
    for (const auto& [x, y] : TracePoints(record, trace.volts, frame)) {
      if (!first) out << ' ';
      out << Fixed(x) << ',' << Fixed(y);
      first = false;
    }
    out << "\"/>\n";
  }
}

void WriteTrigger(std::ostream& out, const Record& record, const Frame& frame) {
  const double x = frame.X(0.0);
  out << "  <g id=\"trigger\" font-family=\"sans-serif\" font-size=\"12\" fill=\"#c00000\">\n";
  out << "    <line x1=\"" << Fixed(x) << "\" y1=\"" << Fixed(kTop) << "\" x2=\"" << Fixed(x)
      << "\" y2=\"" << Fixed(kTop + kPlotHeight)
      << "\" stroke=\"#c00000\" stroke-width=\"1\" stroke-dasharray=\"6 4\"/>\n";
  out << "    <path d=\"M " << Fixed(x - 6) << ' ' << Fixed(kTop - 10) << " L " << Fixed(x + 6)
      << ' ' << Fixed(kTop - 10) << " L " << Fixed(x) << ' ' << Fixed(kTop) << " Z\"/>\n";
  if (record.trigger_level && *record.trigger_level >= frame.volts.low &&
      *record.trigger_level <= frame.volts.high) {
    const double y = frame.Y(*record.trigger_level);
    out << "    <circle cx=\"" << Fixed(x) << "\" cy=\"" << Fixed(y)
        << "\" r=\"4\" fill=\"none\" stroke=\"#c00000\" stroke-width=\"1.5\"/>\n";
    out << "    <path d=\"M " << Fixed(kLeft + kPlotWidth) << ' ' << Fixed(y)
        << " l 10 -6 l 0 12 Z\"/>\n";
  } else if (record.trigger_level) {
    // The level lies beyond the plot (the signal never reached it): an arrow at that edge.
    const bool above = *record.trigger_level > frame.volts.high;
    const double y = above ? kTop : kTop + kPlotHeight;
    out << "    <path id=\"trigger-level-off-plot\" d=\"M " << Fixed(kLeft + kPlotWidth + 5) << ' '
        << Fixed(y) << " l -5 " << (above ? "10" : "-10") << " l 10 0 Z\"/>\n";
    WriteText(out, kLeft + kPlotWidth - 4, above ? y + 14 : y - 6, "end",
              std::string("trigger level ") + FormatQuantityShort(*record.trigger_level, "V", 3) +
                  (above ? " (above)" : " (below)"));
  }
  out << "  </g>\n";
}

// Trig'd or Auto, as a scope shows it in a corner of the screen.
void WriteTriggerState(std::ostream& out, const Record& record) {
  const bool alert = record.trigger_state == TriggerState::kForced;
  const char* color = record.trigger_state == TriggerState::kTriggered ? kTriggeredColor
                      : alert                                          ? kAlertColor
                                                                       : "#606060";
  const std::string text = DescribeTriggerState(record);
  const double width = 14.0 + 7.0 * static_cast<double>(text.size());
  const double x = kLeft + kPlotWidth - width;
  out << "  <g id=\"trigger-state\" class=\"" << TriggerStateKey(record.trigger_state)
      << "\" font-family=\"sans-serif\" font-size=\"13\" font-weight=\"bold\">\n";
  out << "    <rect x=\"" << Fixed(x) << "\" y=\"" << Fixed(kTop - 44) << "\" width=\""
      << Fixed(width) << "\" height=\"22\" rx=\"4\" fill=\"" << (alert ? color : "white")
      << "\" stroke=\"" << color << "\" stroke-width=\"1.5\"/>\n";
  WriteText(out, x + width / 2, kTop - 28, "middle", text,
            std::string(" fill=\"") + (alert ? "white" : color) + "\"");
  out << "  </g>\n";
}

// The edges of a clipped channel's window, where its trace is cut off, and a flag on it.
void WriteOverRange(std::ostream& out, const Record& record, const Frame& frame) {
  double flag_y =
      kTop + kPlotHeight + kLegendOffset + kChannelCount * kLegendLinesPerChannel * kLineHeight;
  for (int channel = 0; channel < kChannelCount; ++channel) {
    const ChannelRecord& trace = record.channels[channel];
    if (!trace.recorded || !trace.OverRange()) continue;
    out << "  <g id=\"over-range-ch" << channel + 1
        << "\" class=\"over-range\" font-family=\"sans-serif\" font-size=\"13\" "
           "font-weight=\"bold\" fill=\""
        << kAlertColor << "\">\n";
    const double step = trace.sensitivity / kCodesPerFullScale;
    for (const double code : {0.0, kHighestCode}) {
      const double volts = trace.dc_level + (code - kMidCode) * step;
      if (volts < frame.volts.low || volts > frame.volts.high) continue;
      out << "    <line x1=\"" << Fixed(kLeft) << "\" y1=\"" << Fixed(frame.Y(volts)) << "\" x2=\""
          << Fixed(kLeft + kPlotWidth) << "\" y2=\"" << Fixed(frame.Y(volts)) << "\" stroke=\""
          << kAlertColor << "\" stroke-width=\"1\" stroke-dasharray=\"2 3\"/>\n";
    }
    WriteText(out, kLeft + 8, flag_y, "start",
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
    out << "    <line x1=\"" << Fixed(kLeft) << "\" y1=\"" << Fixed(y - 4) << "\" x2=\""
        << Fixed(kLeft + 24) << "\" y2=\"" << Fixed(y - 4) << "\" stroke=\"" << kTraceColor[channel]
        << "\" stroke-width=\"3\"/>\n";
    std::string text = "ch" + std::to_string(channel + 1) + "  " + DescribeChannel(trace) +
                       (trace.OverRange() ? "  OVER RANGE, not the signal's:" : "") + "   min " +
                       FormatQuantity(s.min, "V") + "   max " + FormatQuantity(s.max, "V") +
                       "   p-p " + FormatQuantity(s.peak_to_peak, "V") + "   mean " +
                       FormatQuantity(s.mean, "V") + "   rms " + FormatQuantity(s.rms, "V") +
                       "   freq " + (s.frequency ? FormatFrequency(*s.frequency) : "--");
    WriteText(out, kLeft + 32, y, "start", text,
              std::string(" xml:space=\"preserve\"") +
                  (trace.OverRange() ? std::string(" fill=\"") + kAlertColor + "\"" : ""));
    std::string pulses;
    for (const PulseText& pulse : DescribePulses(s.pulse)) {
      pulses += std::string(pulses.empty() ? "" : "   ") + pulse.name + " " + pulse.text;
    }
    WriteText(out, kLeft + 32, y + kLineHeight, "start", pulses, " xml:space=\"preserve\"");
    y += kLegendLinesPerChannel * kLineHeight;
  }
  out << "  </g>\n";
}

}  // namespace

void WriteSvg(std::ostream& out, const Record& record,
              const std::array<TraceStatistics, kChannelCount>& stats) {
  Frame frame;
  const double start = record.TimeOf(0);
  const double end = record.TimeOf(record.length == 0 ? 0 : record.length - 1);
  frame.time.low = start;
  frame.time.high = end > start ? end : start + 1.0 / record.sample_rate;
  frame.time.step = NiceStep(frame.time.high - frame.time.low, kWantedTimeDivisions);
  frame.volts = VoltageScale(record, kWantedVoltDivisions);

  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\"" << kHeight
      << "\" viewBox=\"0 0 " << kWidth << ' ' << kHeight << "\">\n";
  out << "  <title>vm316 capture " << Escaped(record.timestamp) << "</title>\n";
  out << "  <rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  std::string heading = FormatQuantityShort(record.sample_rate, "Hz", 4) + ", " +
                        std::to_string(record.length) + " samples (" +
                        FormatQuantityShort(record.Duration(), "s", 3) + "), trigger " +
                        record.trigger + ", " + record.backend;
  out << "  <g font-family=\"sans-serif\" font-size=\"14\" fill=\"#202020\">\n";
  WriteText(out, kLeft, 28, "start", "vm316 capture, " + record.timestamp);
  WriteText(out, kLeft, 46, "start", heading, " font-size=\"12\"");
  out << "  </g>\n";
  WriteGrid(out, frame);
  WriteAxes(out, frame);
  WriteTraces(out, record, frame);
  WriteTrigger(out, record, frame);
  WriteOverRange(out, record, frame);
  WriteTriggerState(out, record);
  WriteLegend(out, record, stats);
  out << "</svg>\n";
}

void WriteSvgFile(const std::string& path, const Record& record,
                  const std::array<TraceStatistics, kChannelCount>& stats) {
  if (path == "-") {
    WriteSvg(std::cout, record, stats);
    std::cout.flush();
    return;
  }
  std::ofstream file(path, std::ios::out | std::ios::trunc);
  if (!file) throw CliError(ExitCode::kFailure, "cannot write " + path);
  WriteSvg(file, record, stats);
  file.close();
  if (!file) throw CliError(ExitCode::kFailure, "cannot write " + path);
}

}  // namespace vm316::host
