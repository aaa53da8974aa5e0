#include "spectrum.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <numbers>

#include "errors.h"
#include "sine_fit.h"
#include "units.h"

#ifdef VM316_WITH_FFTW
#include <fftw3.h>
#endif

namespace vm316::host {
namespace {

// A sine's level floor: a bin holding nothing reads this rather than minus infinity.
constexpr double kFloorDbv = -200.0;

struct WindowShape {
  std::vector<double> a;  // cosine terms: w(n) = sum (-1)^k a_k cos(2 pi k n / N)
  int reach_bins;         // the half-width of its main lobe
};

// Used only where FFTW is built in.
[[maybe_unused]] WindowShape ShapeOf(SpectrumWindow window) {
  switch (window) {
    case SpectrumWindow::kHann:
      return {{0.5, 0.5}, 2};
    case SpectrumWindow::kFlatTop:
      // The flat-top whose passband deviates less than 0.01 dB across a bin.
      return {{0.21557895, 0.41663158, 0.277263158, 0.083578947, 0.006947368}, 5};
    case SpectrumWindow::kRectangular:
      break;
  }
  return {{1.0}, 1};
}

}  // namespace

std::optional<SpectrumWindow> ParseSpectrumWindow(std::string_view text) {
  if (text == "hann") return SpectrumWindow::kHann;
  if (text == "flattop" || text == "flat-top") return SpectrumWindow::kFlatTop;
  if (text == "rect" || text == "rectangular") return SpectrumWindow::kRectangular;
  return std::nullopt;
}

const char* SpectrumWindowName(SpectrumWindow window) {
  switch (window) {
    case SpectrumWindow::kHann:
      return "hann";
    case SpectrumWindow::kFlatTop:
      return "flattop";
    case SpectrumWindow::kRectangular:
      break;
  }
  return "rect";
}

std::string DescribeLine(const SpectralLine& line) {
  char dbv[32];
  std::snprintf(dbv, sizeof dbv, "%.2f dBV", line.dbv);
  return FormatFrequency(line.frequency) + " " + dbv;
}

std::string DescribeSpectrum(int channel, const Spectrum& spectrum, SpectrumWindow window) {
  std::string text = "ch" + std::to_string(channel) + " spectrum (" + SpectrumWindowName(window) +
                     ", " + FormatQuantity(spectrum.bin_hz, "Hz", 4) + " a bin): peak " +
                     (spectrum.peak ? DescribeLine(*spectrum.peak) : "--");
  if (!spectrum.harmonics.empty()) {
    text += "; harmonics";
    for (std::size_t i = 0; i < spectrum.harmonics.size(); ++i) {
      text += (i == 0 ? " " : ", ") + DescribeLine(spectrum.harmonics[i]);
    }
  }
  return text + "\n";
}

RecordSpectra ComputeRecordSpectra(const Record& record, SpectrumWindow window) {
  RecordSpectra spectra;
  for (int channel = 0; channel < kChannelCount; ++channel) {
    const ChannelRecord& trace = record.channels[channel];
    if (trace.recorded) spectra[channel] = ComputeSpectrum(trace.volts, record.sample_rate, window);
  }
  return spectra;
}

#ifdef VM316_WITH_FFTW

namespace {

// The peak's frequency is fitted no closer to 0 Hz than half a bin (half a period in the
// record): below that a sine cannot be told from the offset.
constexpr double kLowestFitBins = 0.5;
// The periods of the fundamental a record needs for its harmonics to be named.
constexpr double kMinPeriodsForHarmonics = 1.0;

double Dbv(double rms) {
  return rms > 0.0 ? std::max(kFloorDbv, 20.0 * std::log10(rms)) : kFloorDbv;
}

std::mutex& PlannerMutex() {
  static std::mutex mutex;
  return mutex;
}
}  // namespace

bool SpectrumAvailable() {
  return true;
}

Spectrum ComputeSpectrum(std::span<const double> volts, double sample_rate, SpectrumWindow window) {
  Spectrum spectrum;
  const std::size_t n = volts.size();
  if (n < 2 || !(sample_rate > 0.0)) return spectrum;
  const WindowShape shape = ShapeOf(window);
  // The DC is the record's mean, taken out before the window: through the window it would
  // spread over the window's reach around 0 Hz and hide a low line there (a 300 Hz sine in a
  // 1000-sample record at 100 kHz lies 3 bins from 0 Hz, inside flat-top's 5).
  double mean = 0.0;
  for (const double v : volts) mean += v;
  mean /= static_cast<double>(n);
  std::vector<double> input(n);
  double window_sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    double w = 0.0;
    for (std::size_t k = 0; k < shape.a.size(); ++k) {
      const double sign = k % 2 == 0 ? 1.0 : -1.0;
      w += sign * shape.a[k] *
           std::cos(2.0 * std::numbers::pi * static_cast<double>(k * i) / static_cast<double>(n));
    }
    input[i] = (volts[i] - mean) * w;
    window_sum += w;
  }
  const std::size_t bins = n / 2 + 1;
  fftw_complex* output = fftw_alloc_complex(bins);
  fftw_plan plan = nullptr;
  {
    // Only fftw_execute may run in several threads at once (the panel answers each request in
    // a thread of its own); making and destroying plans share FFTW's planner.
    const std::lock_guard<std::mutex> lock(PlannerMutex());
    plan = fftw_plan_dft_r2c_1d(static_cast<int>(n), input.data(), output, FFTW_ESTIMATE);
  }
  fftw_execute(plan);
  spectrum.bin_hz = sample_rate / static_cast<double>(n);
  spectrum.dbv.resize(bins);
  for (std::size_t k = 0; k < bins; ++k) {
    // A sine of peak A gives A/2 of the window's sum in its bin; its RMS is A / sqrt 2.
    const double magnitude = std::hypot(output[k][0], output[k][1]) / window_sum;
    const double rms = k == 0 ? std::abs(mean) : magnitude * std::numbers::sqrt2;
    spectrum.dbv[k] = Dbv(rms);
  }
  {
    const std::lock_guard<std::mutex> lock(PlannerMutex());
    fftw_destroy_plan(plan);
  }
  fftw_free(output);

  // The highest line above 0 Hz.
  auto highest = [&](std::size_t from, std::size_t to) {
    std::size_t best = from;
    for (std::size_t k = from; k <= to && k < bins; ++k) {
      if (spectrum.dbv[k] > spectrum.dbv[best]) best = k;
    }
    return best;
  };
  const auto reach = static_cast<std::size_t>(shape.reach_bins);
  const std::size_t peak = highest(1, bins - 1);
  // The bins say where the peak lies to within the window's reach; a sine fitted there says
  // its frequency and level. Where the line lies within the reach of 0 Hz (a record of one or
  // two periods) the window's main lobe and its mirror image run into each other, and the
  // highest bin is neither the line's frequency nor its level.
  const double low_hz = std::max(kLowestFitBins, static_cast<double>(peak) - reach - 1.0);
  const double high_hz =
      std::min(static_cast<double>(bins - 1), static_cast<double>(peak + reach + 1));
  const std::optional<double> fitted =
      FitSineFrequency(volts, sample_rate, low_hz * spectrum.bin_hz, high_hz * spectrum.bin_hz);
  // The fit is claimed to a tenth of a bin (on a decade step): finer than the bins, but not as
  // fine as a clean sine would allow, for a signal is seldom one clean sine.
  const double resolution = std::pow(10.0, std::floor(std::log10(spectrum.bin_hz / 10.0)));
  const double fundamental =
      fitted ? std::max(resolution, std::round(*fitted / resolution) * resolution)
             : static_cast<double>(peak) * spectrum.bin_hz;
  // A harmonic is named at h times the fundamental while it stays clear of half the sample
  // rate by the window's reach (h / 2 + 1 bins at most).
  int harmonics = 0;
  for (int h = 2; h <= kHarmonicCount + 1; ++h) {
    const auto centre = static_cast<std::size_t>(std::lround(h * fundamental / spectrum.bin_hz));
    const std::size_t spread = std::min(reach, static_cast<std::size_t>(h) / 2 + 1);
    if (centre + spread >= bins) break;
    harmonics = h - 1;
  }
  // The fundamental and its harmonics are fitted together, so that the fundamental's leakage
  // over partial periods does not stand for a harmonic's level. A record of less than one
  // period has no harmonics to speak of: there the harmonics' sines and cosines can stand for
  // each other (the fit is ill conditioned) and the fundamental is fitted alone.
  const double periods = fundamental * static_cast<double>(n) / sample_rate;
  if (periods < kMinPeriodsForHarmonics) harmonics = 0;
  const std::optional<std::vector<double>> amplitudes =
      FitHarmonicAmplitudes(volts, sample_rate, fundamental, harmonics + 1);
  auto level = [&](int h) {
    const auto index = static_cast<std::size_t>(h - 1);
    if (amplitudes) return Dbv((*amplitudes)[index] / std::numbers::sqrt2);
    // A degenerate fit: the highest bin within the fundamental's own uncertainty (half a bin)
    // times h, a bin more (the window's whole reach would name the strongest noise line beside
    // a harmonic that is not there).
    const auto centre = static_cast<std::size_t>(std::lround(h * fundamental / spectrum.bin_hz));
    const std::size_t spread = std::min(reach, static_cast<std::size_t>(h) / 2 + 1);
    const std::size_t from = centre > spread ? centre - spread : 1;
    return spectrum.dbv[highest(from, std::min(centre + spread, bins - 1))];
  };
  spectrum.peak = SpectralLine{fundamental, level(1)};
  for (int h = 2; h <= harmonics + 1; ++h) {
    spectrum.harmonics.push_back({h * fundamental, level(h)});
  }
  return spectrum;
}

#else

bool SpectrumAvailable() {
  return false;
}

Spectrum ComputeSpectrum(std::span<const double>, double, SpectrumWindow) {
  throw CliError(ExitCode::kFailure,
                 "this vm316 was built without FFTW (apt-get install libfftw3-dev brings the "
                 "spectrum back)");
}

#endif

}  // namespace vm316::host
