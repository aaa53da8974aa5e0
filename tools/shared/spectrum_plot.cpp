#include "spectrum_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <span>
#include <vector>

#include "cell_plot.h"
#include "output_file.h"
#include "scale.h"
#include "svg_parts.h"
#include "units.h"

namespace vm316::host {
namespace {

// Below the highest line, this much is shown: an 8-bit converter's noise floor lies some
// 70 dB under a full-scale sine, and a bin holding nothing reads far below that.
constexpr double kShownRangeDb = 100.0;
constexpr double kFlatSpanDb = 20.0;
constexpr int kWantedCellDbDivisions = 5;
constexpr int kWantedSvgDbDivisions = 10;
constexpr int kWantedFrequencyDivisions = 5;
constexpr int kWantedSvgFrequencyDivisions = 10;

constexpr double kSvgPlotHeight = 440.0;
constexpr int kLegendLinesPerChannel = 2;
constexpr double kMarkSize = 6.0;

// The dBV scale of the series drawn: from the highest line down kShownRangeDb, or to the
// lowest when that is higher.
AxisScale LevelScale(const std::vector<std::span<const double>>& series, int wanted_divisions) {
  double low = std::numeric_limits<double>::infinity();
  double high = -std::numeric_limits<double>::infinity();
  for (const std::span<const double> levels : series) {
    if (levels.empty()) continue;
    const auto [min, max] = std::minmax_element(levels.begin(), levels.end());
    low = std::min(low, *min);
    high = std::max(high, *max);
  }
  if (!std::isfinite(high)) return NiceScale(-kShownRangeDb, 0.0, wanted_divisions, kFlatSpanDb);
  return NiceScale(std::max(low, high - kShownRangeDb), high, wanted_divisions, kFlatSpanDb);
}

// From 0 Hz to half the sample rate, exactly: the last bin lies there.
AxisScale FrequencyScale(const Record& record, int wanted_divisions) {
  AxisScale scale;
  scale.low = 0.0;
  scale.high = record.sample_rate > 0.0 ? record.sample_rate / 2.0 : 1.0;
  scale.step = NiceStep(scale.high, wanted_divisions);
  return scale;
}

std::string WindowLine(const RecordSpectra& spectra, SpectrumWindow window) {
  for (const std::optional<Spectrum>& spectrum : spectra) {
    if (spectrum) {
      return std::string(SpectrumWindowName(window)) + " window, " +
             FormatQuantityShort(spectrum->bin_hz, "Hz", 4) + " a bin";
    }
  }
  return std::string(SpectrumWindowName(window)) + " window";
}

// The column of a bin: the bins spread evenly from 0 Hz (the first column's left edge) to half
// the sample rate (the last column's right edge).
int ColumnOfBin(std::size_t bin, std::size_t bins, int width) {
  if (bins < 2) return 0;
  return std::min(width - 1, static_cast<int>(bin * static_cast<std::size_t>(width) / (bins - 1)));
}

// The highest line in each column, as a spectrum analyser's peak detector shows many bins on
// one column: a line stands out of the floor instead of drowning in the floor's spread.
std::vector<double> PeakPerColumn(const std::vector<double>& dbv, int width) {
  std::vector<double> peaks(static_cast<std::size_t>(width),
                            -std::numeric_limits<double>::infinity());
  std::vector<bool> filled(static_cast<std::size_t>(width), false);
  for (std::size_t k = 0; k < dbv.size(); ++k) {
    const auto column = static_cast<std::size_t>(ColumnOfBin(k, dbv.size(), width));
    peaks[column] = std::max(peaks[column], dbv[k]);
    filled[column] = true;
  }
  // With fewer bins than columns a column between two bins shows the one before it.
  for (std::size_t column = 1; column < peaks.size(); ++column) {
    if (!filled[column]) peaks[column] = peaks[column - 1];
  }
  if (dbv.empty()) peaks.clear();
  return peaks;
}

// "v ch1 peak 1.000 kHz -9.03 dBV" with the v at `column` of the plot, or the text before the
// v where it would run past the plot's right edge.
std::string PeakLine(int channel, const SpectralLine& peak, int column, int width, bool color) {
  const std::string text = "ch" + std::to_string(channel + 1) + " peak " + DescribeLine(peak);
  const std::string v = color ? "\x1b[1mv\x1b[0m" : std::string("v");
  const std::string line(static_cast<std::size_t>(kCellLabelWidth), ' ');
  const int size = static_cast<int>(text.size());
  // Right of the mark where it fits, or where the left has no room for it either.
  if (column + 2 + size <= width || column < size + 1) {
    return line + std::string(static_cast<std::size_t>(column), ' ') + v + " " + text;
  }
  return line + std::string(static_cast<std::size_t>(column - size - 1), ' ') + text + " " + v;
}

void WriteMarks(std::ostream& out, int channel, const Spectrum& spectrum, const SvgFrame& frame) {
  const char* color = kSvgTraceColor[channel];
  const std::string name = "ch" + std::to_string(channel + 1);
  if (spectrum.peak) {
    const double x = frame.X(spectrum.peak->frequency);
    const double y = ClampedY(frame, spectrum.peak->dbv);
    out << "  <g id=\"peak-" << name << "\" class=\"peak\" font-family=\"sans-serif\" "
        << "font-size=\"12\" fill=\"" << color << "\">\n";
    out << "    <path d=\"M " << SvgFixed(x - kMarkSize) << ' ' << SvgFixed(y - 2 * kMarkSize - 2)
        << " L " << SvgFixed(x + kMarkSize) << ' ' << SvgFixed(y - 2 * kMarkSize - 2) << " L "
        << SvgFixed(x) << ' ' << SvgFixed(y - 2) << " Z\" stroke=\"#202020\" "
        << "stroke-width=\"0.5\"/>\n";
    const bool right_half = x > frame.left + frame.width / 2;
    WriteSvgText(out, right_half ? x - kMarkSize - 4 : x + kMarkSize + 4, y - kMarkSize - 2,
                 right_half ? "end" : "start", name + " peak " + DescribeLine(*spectrum.peak),
                 " fill=\"#202020\"");
    out << "  </g>\n";
  }
  out << "  <g id=\"harmonics-" << name << "\" class=\"harmonics\" font-family=\"sans-serif\" "
      << "font-size=\"10\" fill=\"#202020\">\n";
  int order = 2;
  for (const SpectralLine& line : spectrum.harmonics) {
    const double x = frame.X(line.frequency);
    const double y = ClampedY(frame, line.dbv);
    out << "    <circle cx=\"" << SvgFixed(x) << "\" cy=\"" << SvgFixed(y) << "\" r=\"4\" "
        << "fill=\"none\" stroke=\"" << color << "\" stroke-width=\"1.5\"/>\n";
    WriteSvgText(out, x, y - kMarkSize - 2, "middle", std::to_string(order++));
  }
  out << "  </g>\n";
}

void WriteLegend(std::ostream& out, const Record& record, const RecordSpectra& spectra,
                 const SvgFrame& frame) {
  out << "  <g id=\"legend\" font-family=\"sans-serif\" font-size=\"12\" fill=\"#202020\">\n";
  double y = frame.Bottom() + kSvgLegendOffset;
  for (int channel = 0; channel < kChannelCount; ++channel) {
    if (!spectra[channel]) continue;
    const Spectrum& spectrum = *spectra[channel];
    const ChannelRecord& trace = record.channels[channel];
    WriteSvgSwatch(out, frame.left + 24, y, kSvgTraceColor[channel]);
    WriteSvgText(out, frame.left + 32, y, "start",
                 "ch" + std::to_string(channel + 1) + "  " + DescribeChannel(trace) +
                     (trace.OverRange() ? "  OVER RANGE, not the signal's" : "") + "   peak " +
                     (spectrum.peak ? DescribeLine(*spectrum.peak) : "--"),
                 std::string(" xml:space=\"preserve\"") +
                     (trace.OverRange() ? std::string(" fill=\"") + kSvgAlertColor + "\"" : ""));
    std::string harmonics;
    int order = 2;
    for (const SpectralLine& line : spectrum.harmonics) {
      char dbv[24];
      std::snprintf(dbv, sizeof dbv, "%.1f dBV", line.dbv);
      harmonics += (harmonics.empty() ? "" : "   ") + std::to_string(order++) + ": " + dbv;
    }
    WriteSvgText(out, frame.left + 32, y + kSvgLineHeight, "start",
                 "harmonics " + (harmonics.empty() ? std::string("--") : harmonics),
                 " xml:space=\"preserve\"");
    y += kLegendLinesPerChannel * kSvgLineHeight;
  }
  out << "  </g>\n";
}

}  // namespace

std::string RenderSpectrumPlot(const Record& record, const RecordSpectra& spectra,
                               SpectrumWindow window, const PlotStyle& style) {
  const auto [width, height] = FittedSize(style);
  std::array<std::vector<double>, kChannelCount> peaks;
  std::vector<std::span<const double>> series;
  for (int channel = 0; channel < kChannelCount; ++channel) {
    if (!spectra[channel]) continue;
    peaks[channel] = PeakPerColumn(spectra[channel]->dbv, width);
    series.emplace_back(peaks[channel]);
  }
  const AxisScale levels = LevelScale(series, kWantedCellDbDivisions);
  const AxisScale frequencies = FrequencyScale(record, kWantedFrequencyDivisions);
  CellGrid grid = EmptyGrid(width, height);
  std::string out = PlotLegend(record, style.color) + "\n";
  for (int channel = 0; channel < kChannelCount; ++channel) {
    if (!spectra[channel]) continue;
    const Spectrum& spectrum = *spectra[channel];
    DrawColumns(peaks[channel], ChannelBit(channel), levels, grid);
    if (!spectrum.peak || spectrum.bin_hz <= 0.0) continue;
    // The column the peak's bin is drawn in.
    const auto bin =
        static_cast<std::size_t>(std::lround(spectrum.peak->frequency / spectrum.bin_hz));
    out += PeakLine(channel, *spectrum.peak, ColumnOfBin(bin, spectrum.dbv.size(), width), width,
                    style.color) +
           "\n";
  }
  out += LabelledRows(grid, RowLabels(levels, height, "dBV"), {}, style.color);
  out += BottomAxis(width);
  out += AxisLabels(width, ColumnLabels(frequencies, width, "Hz")) + "\n";
  out += std::string(kCellLabelWidth, ' ') + RecordFooter(record) + "; " +
         WindowLine(spectra, window) + "\n";
  return out;
}

void WriteSpectrumSvg(std::ostream& out, const Record& record, const RecordSpectra& spectra,
                      SpectrumWindow window) {
  std::vector<std::span<const double>> series;
  for (const std::optional<Spectrum>& spectrum : spectra) {
    if (spectrum) series.emplace_back(spectrum->dbv);
  }
  const SvgFrame frame{.x = FrequencyScale(record, kWantedSvgFrequencyDivisions),
                       .y = LevelScale(series, kWantedSvgDbDivisions),
                       .left = kSvgPlotLeft,
                       .top = kSvgPlotTop,
                       .width = kSvgPageWidth - kSvgPlotLeft - kSvgPlotRight,
                       .height = kSvgPlotHeight};
  const double height =
      frame.Bottom() + kSvgLegendOffset +
      (static_cast<double>(series.size()) * kLegendLinesPerChannel + 1) * kSvgLineHeight;
  WriteSvgStart(out, kSvgPageWidth, height, "vm316 spectrum " + record.timestamp);
  WriteSvgHeading(out, frame, "vm316 spectrum, " + record.timestamp + ", trigger " + record.trigger,
                  RecordFooter(record) + "; " + WindowLine(spectra, window));
  WriteSvgGrid(out, frame);
  WriteSvgAxes(out, frame, {"Hz", "dBV", "frequency (Hz)", "level (dBV, 0 dBV = 1 V rms)"});
  for (int channel = 0; channel < kChannelCount; ++channel) {
    if (!spectra[channel]) continue;
    const Spectrum& spectrum = *spectra[channel];
    WriteSvgPolyline(
        out, "ch" + std::to_string(channel + 1), kSvgTraceColor[channel],
        ReducedPoints(
            spectrum.dbv, [&](std::size_t k) { return static_cast<double>(k) * spectrum.bin_hz; },
            frame));
  }
  for (int channel = 0; channel < kChannelCount; ++channel) {
    if (spectra[channel]) WriteMarks(out, channel, *spectra[channel], frame);
  }
  WriteSvgTriggerState(out, record, frame);
  WriteLegend(out, record, spectra, frame);
  WriteSvgEnd(out);
}

void WriteSpectrumSvgFile(const std::string& path, const Record& record,
                          const RecordSpectra& spectra, SpectrumWindow window) {
  WriteOutput(path, [&](std::ostream& out) { WriteSpectrumSvg(out, record, spectra, window); });
}

}  // namespace vm316::host
