#include "pulse_measurements.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "statistics.h"
#include "units.h"

namespace vm316::host {
namespace {

constexpr double kLowReference = 0.1;
constexpr double kHighReference = 0.9;
constexpr double kMidReference = 0.5;
// A level's histogram has bins of a hundredth of the peak-to-peak (or the noise floor, when
// that is wider); a plateau is the modal bin and its two neighbours, and it counts only when it
// holds this fraction of the record. A sine's crest holds less and gives its extreme.
constexpr int kLevelBins = 100;
constexpr double kPlateauFraction = 0.2;

// Where the trace passes `level` between the samples first and last (first < last), walking
// from `from` in the direction `step`: the instant in samples, interpolated.
std::optional<double> PassOf(std::span<const double> volts, double level, std::size_t from,
                             int step, std::size_t first, std::size_t last) {
  std::size_t i = from;
  while (true) {
    const std::size_t next = step > 0 ? i + 1 : i - 1;
    if ((step > 0 && i >= last) || (step < 0 && i <= first)) return std::nullopt;
    const double a = volts[i];
    const double b = volts[next];
    if ((a - level) * (b - level) <= 0.0 && a != b) {
      const double fraction = (level - a) / (b - a);
      return static_cast<double>(i) + static_cast<double>(step) * fraction;
    }
    i = next;
  }
}

struct Averager {
  double sum = 0.0;
  int count = 0;
  void Add(double value) {
    sum += value;
    ++count;
  }
  std::optional<double> Mean(double scale) const {
    if (count == 0) return std::nullopt;
    return sum / count * scale;
  }
};

}  // namespace

std::optional<double> WholePeriodSamples(std::span<const Crossing> crossings) {
  for (const bool rising : {true, false}) {
    double first = 0.0;
    double last = 0.0;
    int count = 0;
    for (const Crossing& crossing : crossings) {
      if (crossing.rising != rising) continue;
      if (count == 0) first = crossing.time;
      last = crossing.time;
      ++count;
    }
    if (count >= 2 && last > first) return (last - first) / (count - 1);
  }
  return std::nullopt;
}

PulseLevels FindPulseLevels(std::span<const double> volts, double bin_volts) {
  PulseLevels levels;
  if (volts.empty()) return levels;
  const auto [low, high] = std::minmax_element(volts.begin(), volts.end());
  levels = {*low, *high};
  const double span = *high - *low;
  const double width = std::max(span / kLevelBins, bin_volts);
  if (!(span > 0.0) || !(width > 0.0)) return levels;
  const int bins = static_cast<int>(span / width) + 1;
  std::vector<int> counts(static_cast<std::size_t>(bins), 0);
  std::vector<double> sums(static_cast<std::size_t>(bins), 0.0);
  auto bin_of = [&](double v) {
    return std::clamp(static_cast<int>((v - *low) / width), 0, bins - 1);
  };
  for (const double v : volts) {
    const auto bin = static_cast<std::size_t>(bin_of(v));
    ++counts[bin];
    sums[bin] += v;
  }
  const int middle = bin_of(*low + span / 2.0);
  auto plateau = [&](int from, int to, double fallback) {
    int mode = from;
    for (int bin = from; bin < to; ++bin) {
      if (counts[static_cast<std::size_t>(bin)] > counts[static_cast<std::size_t>(mode)]) {
        mode = bin;
      }
    }
    int count = 0;
    double sum = 0.0;
    for (int bin = std::max(from, mode - 1); bin <= std::min(to - 1, mode + 1); ++bin) {
      count += counts[static_cast<std::size_t>(bin)];
      sum += sums[static_cast<std::size_t>(bin)];
    }
    const bool flat_enough = count >= kPlateauFraction * static_cast<double>(volts.size());
    return flat_enough && count > 0 ? sum / count : fallback;
  };
  if (middle > 0) levels.base = plateau(0, middle, *low);
  if (middle + 1 < bins) levels.top = plateau(middle + 1, bins, *high);
  return levels;
}

PulseMeasurements MeasurePulses(std::span<const double> volts, double sample_rate,
                                double noise_floor) {
  PulseMeasurements pulse;
  if (volts.size() < 3 || !(sample_rate > 0.0)) return pulse;
  const PulseLevels levels = FindPulseLevels(volts, noise_floor / 2.0);
  const double amplitude = levels.top - levels.base;
  if (!(amplitude > noise_floor)) return pulse;
  const std::vector<Crossing> crossings = FindCrossings(
      volts, levels.base + kMidReference * amplitude, kCrossingHysteresis * amplitude);
  // The levels of less than one whole period are those of a part of the wave (a sine's half
  // has its mid level elsewhere), and so would be every time measured from them.
  const std::optional<double> period = WholePeriodSamples(crossings);
  if (!period) return pulse;

  const double seconds_per_sample = 1.0 / sample_rate;
  const double low_level = levels.base + kLowReference * amplitude;
  const double high_level = levels.base + kHighReference * amplitude;
  Averager rise, fall, positive, negative;
  const std::size_t last_sample = volts.size() - 1;
  for (std::size_t k = 0; k < crossings.size(); ++k) {
    const Crossing& edge = crossings[k];
    // Each edge's reference levels are looked for between its neighbouring edges only.
    const auto first = static_cast<std::size_t>(k > 0 ? std::floor(crossings[k - 1].time) : 0.0);
    const std::size_t last =
        k + 1 < crossings.size()
            ? std::min(last_sample, static_cast<std::size_t>(std::ceil(crossings[k + 1].time)))
            : last_sample;
    const auto at = static_cast<std::size_t>(std::floor(edge.time));
    const double start_level = edge.rising ? low_level : high_level;
    const double end_level = edge.rising ? high_level : low_level;
    const std::optional<double> start = PassOf(volts, start_level, at + 1, -1, first, last);
    const std::optional<double> end = PassOf(volts, end_level, at, 1, first, last);
    if (start && end) (edge.rising ? rise : fall).Add(*end - *start);
    if (k > 0) (edge.rising ? negative : positive).Add(edge.time - crossings[k - 1].time);
  }
  pulse.rise_time = rise.Mean(seconds_per_sample);
  pulse.fall_time = fall.Mean(seconds_per_sample);
  pulse.positive_width = positive.Mean(seconds_per_sample);
  pulse.negative_width = negative.Mean(seconds_per_sample);
  pulse.period = *period * seconds_per_sample;
  if (pulse.positive_width) pulse.duty_cycle = *pulse.positive_width / *pulse.period;
  const double max = *std::max_element(volts.begin(), volts.end());
  pulse.overshoot = std::max(0.0, max - levels.top) / amplitude;
  return pulse;
}

std::array<PulseText, kPulseMeasurementCount> DescribePulses(const PulseMeasurements& pulse) {
  auto text = [](const std::optional<double>& value, const char* unit) {
    return value ? FormatQuantity(*value, unit, 3) : std::string("--");
  };
  auto percent = [](const std::optional<double>& value) {
    if (!value) return std::string("--");
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f %%", *value * 100.0);
    return std::string(buffer);
  };
  return {{{"period", "period_s", text(pulse.period, "s")},
           {"rise", "rise_s", text(pulse.rise_time, "s")},
           {"fall", "fall_s", text(pulse.fall_time, "s")},
           {"+width", "positive_width_s", text(pulse.positive_width, "s")},
           {"-width", "negative_width_s", text(pulse.negative_width, "s")},
           {"duty", "duty_percent", percent(pulse.duty_cycle)},
           {"overshoot", "overshoot_percent", percent(pulse.overshoot)}}};
}

}  // namespace vm316::host
