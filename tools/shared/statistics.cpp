#include "statistics.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace vm316::host {

namespace {

// A trace below this many converter steps peak-to-peak is noise on a flat input.
constexpr double kNoiseFloorSteps = 3.0;
constexpr double kCodesPerFullScale = 128.0;  // one converter step is sensitivity / 128

// The instant an edge passes `level`, from a least-squares line through the samples from the
// last one beyond the old side of the band to the first one beyond the new side. One or two
// samples at the level would put the instant wherever the converter's noise happens to cross it
// last, up to several samples off on a slow edge; the line averages that noise away, and on a
// fast edge (two samples) it is the plain interpolation between them.
double EdgeInstant(std::span<const double> volts, std::size_t first, std::size_t last,
                   double level) {
  const double count = static_cast<double>(last - first + 1);
  double sum_k = 0.0, sum_v = 0.0;
  for (std::size_t k = first; k <= last; ++k) {
    sum_k += static_cast<double>(k);
    sum_v += volts[k];
  }
  const double mean_k = sum_k / count;
  const double mean_v = sum_v / count;
  double covariance = 0.0, variance = 0.0;
  for (std::size_t k = first; k <= last; ++k) {
    const double dk = static_cast<double>(k) - mean_k;
    covariance += dk * (volts[k] - mean_v);
    variance += dk * dk;
  }
  const double slope = covariance / variance;  // variance > 0: last > first
  const double lo = static_cast<double>(first);
  const double hi = static_cast<double>(last);
  if (slope == 0.0) return (lo + hi) / 2.0;
  return std::clamp(mean_k + (level - mean_v) / slope, lo, hi);
}

}  // namespace

std::vector<Crossing> FindCrossings(std::span<const double> volts, double level,
                                    double hysteresis) {
  std::vector<Crossing> crossings;
  // The state only changes once the trace has gone beyond the hysteresis band, so that noise on
  // an edge counts once.
  int state = 0;                // -1 below the band, +1 above, 0 not yet known
  std::size_t last_beyond = 0;  // the last sample seen beyond the band on the `state` side
  for (std::size_t i = 0; i < volts.size(); ++i) {
    const double v = volts[i];
    const int side = v > level + hysteresis ? 1 : (v < level - hysteresis ? -1 : 0);
    if (side == 0) continue;
    if (side != state && state != 0) {
      crossings.push_back({EdgeInstant(volts, last_beyond, i, level), side > 0});
    }
    state = side;
    last_beyond = i;
  }
  return crossings;
}

std::optional<double> EstimateFrequency(std::span<const double> volts, double sample_rate,
                                        double min, double max) {
  if (volts.size() < 3 || !(sample_rate > 0.0) || !(max > min)) return std::nullopt;
  const double mid = (min + max) / 2.0;
  const std::vector<Crossing> crossings =
      FindCrossings(volts, mid, (max - min) * kCrossingHysteresis);

  // Whole periods only: between the first and the last crossing in the same direction.
  const std::optional<double> period = WholePeriodSamples(crossings);
  if (!period) return std::nullopt;
  return sample_rate / *period;
}

TraceStatistics ComputeStatistics(std::span<const double> volts, double sample_rate,
                                  double noise_floor) {
  TraceStatistics stats;
  if (volts.empty()) return stats;
  const auto [low, high] = std::minmax_element(volts.begin(), volts.end());
  stats.min = *low;
  stats.max = *high;
  stats.peak_to_peak = stats.max - stats.min;
  double sum = 0.0;
  double sum_of_squares = 0.0;
  for (const double v : volts) {
    sum += v;
    sum_of_squares += v * v;
  }
  const double count = static_cast<double>(volts.size());
  stats.mean = sum / count;
  stats.rms = std::sqrt(sum_of_squares / count);
  if (stats.peak_to_peak > noise_floor) {
    stats.frequency = EstimateFrequency(volts, sample_rate, stats.min, stats.max);
    stats.pulse = MeasurePulses(volts, sample_rate, noise_floor);
  }
  return stats;
}

TraceStatistics ChannelStatistics(const ChannelRecord& trace, double sample_rate) {
  const double noise_floor = kNoiseFloorSteps * trace.sensitivity / kCodesPerFullScale;
  TraceStatistics stats = ComputeStatistics(trace.volts, sample_rate, noise_floor);
  if (trace.OverRange()) stats.pulse = {};
  return stats;
}

}  // namespace vm316::host
