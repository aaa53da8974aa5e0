#include "statistics.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace vm316::host {

std::vector<Crossing> FindCrossings(std::span<const double> volts, double mid, double hysteresis) {
  std::vector<Crossing> crossings;
  // The state only changes once the trace has gone beyond the hysteresis band, but the instant
  // recorded is where it passed the mid level on the way.
  int state = 0;  // -1 below the band, +1 above, 0 not yet known
  std::size_t last_mid_side_change = 0;
  for (std::size_t i = 0; i < volts.size(); ++i) {
    const double v = volts[i];
    if (i > 0 && (volts[i - 1] - mid) * (v - mid) <= 0.0 && volts[i - 1] != v) {
      last_mid_side_change = i;
    }
    const int side = v > mid + hysteresis ? 1 : (v < mid - hysteresis ? -1 : 0);
    if (side == 0 || side == state) continue;
    if (state != 0 && last_mid_side_change > 0) {
      const std::size_t k = last_mid_side_change;
      const double a = volts[k - 1];
      const double b = volts[k];
      const double fraction = a == b ? 0.0 : (mid - a) / (b - a);
      crossings.push_back({static_cast<double>(k - 1) + fraction, side > 0});
    }
    state = side;
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

}  // namespace vm316::host
