#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <string>

#include "host_c.h"
#include "shared/errors.h"
#include "shared/record.h"
#include "shared/spectrum.h"
#include "shared/statistics.h"
#include "text_out.h"

namespace {

constexpr double kEmpty = std::numeric_limits<double>::quiet_NaN();

double Value(const std::optional<double>& value) {
  return value ? *value : kEmpty;
}

using vm316::host_c::CopyText;

}  // namespace

extern "C" int vm316_trace_statistics(const double* volts, const std::uint16_t* raw,
                                      std::size_t count, double sample_rate, double full_scale,
                                      double* values, std::size_t value_count) {
  if (volts == nullptr || raw == nullptr || values == nullptr ||
      value_count < VM316_STATISTICS_COUNT || !(sample_rate > 0.0) || !(full_scale > 0.0)) {
    return -1;
  }
  vm316::host::ChannelRecord trace;
  trace.recorded = true;
  trace.sensitivity = full_scale;
  trace.volts.assign(volts, volts + count);
  trace.raw.assign(raw, raw + count);
  const vm316::host::TraceStatistics s = vm316::host::ChannelStatistics(trace, sample_rate);
  const double all[VM316_STATISTICS_COUNT] = {s.min,
                                              s.max,
                                              s.peak_to_peak,
                                              s.mean,
                                              s.rms,
                                              Value(s.frequency),
                                              Value(s.pulse.period),
                                              Value(s.pulse.rise_time),
                                              Value(s.pulse.fall_time),
                                              Value(s.pulse.positive_width),
                                              Value(s.pulse.negative_width),
                                              Value(s.pulse.duty_cycle),
                                              Value(s.pulse.overshoot)};
  std::copy(std::begin(all), std::end(all), values);
  return 0;
}

extern "C" std::size_t vm316_spectrum_bins(std::size_t count) {
  return count < 2 ? 0 : count / 2 + 1;
}

extern "C" int vm316_spectrum(int channel, const double* volts, std::size_t count,
                              double sample_rate, const char* window, double* dbv,
                              std::size_t dbv_count, double* bin_hz, double* lines,
                              std::size_t line_count, char* text, std::size_t text_size) {
  CopyText("", text, text_size);
  const std::optional<vm316::host::SpectrumWindow> shape =
      window == nullptr ? std::nullopt : vm316::host::ParseSpectrumWindow(window);
  if (!shape) {
    CopyText("the window is hann, flattop or rect", text, text_size);
    return -1;
  }
  if (volts == nullptr || count < 2 || !(sample_rate > 0.0) || dbv == nullptr ||
      dbv_count < vm316_spectrum_bins(count)) {
    CopyText("a spectrum needs two samples or more and room for every bin", text, text_size);
    return -1;
  }
  vm316::host::Spectrum spectrum;
  try {
    spectrum = vm316::host::ComputeSpectrum(std::span(volts, count), sample_rate, *shape);
  } catch (const vm316::host::CliError& error) {
    CopyText(error.what(), text, text_size);
    return -1;
  }
  std::copy(spectrum.dbv.begin(), spectrum.dbv.end(), dbv);
  if (bin_hz != nullptr) *bin_hz = spectrum.bin_hz;
  // The peak first, then the harmonics: a frequency and a level each, NaN where there is none.
  if (lines != nullptr) {
    std::fill(lines, lines + line_count, kEmpty);
    auto put = [&](std::size_t index, const vm316::host::SpectralLine& line) {
      if (2 * index + 1 >= line_count) return;
      lines[2 * index] = line.frequency;
      lines[2 * index + 1] = line.dbv;
    };
    if (spectrum.peak) put(0, *spectrum.peak);
    for (std::size_t h = 0; h < spectrum.harmonics.size(); ++h) put(h + 1, spectrum.harmonics[h]);
  }
  std::string line = vm316::host::DescribeSpectrum(channel, spectrum, *shape);
  if (!line.empty() && line.back() == '\n') line.pop_back();
  CopyText(line, text, text_size);
  return static_cast<int>(spectrum.dbv.size());
}
