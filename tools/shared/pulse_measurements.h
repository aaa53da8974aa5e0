// The pulse measurements a bench scope shows beside the levels: period, rise and fall time,
// the widths of the high and low parts, duty cycle and overshoot. Each is empty where the record
// cannot give it: less than one whole period (three edges), an edge cut off by the record's start
// or end, a trace that is flat, or (set by the caller, which knows the converter's codes) a record
// over range.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>

namespace vm316::host {

struct PulseMeasurements {
  std::optional<double> period;          // seconds, whole periods between like edges
  std::optional<double> rise_time;       // seconds from 10 % to 90 % of the amplitude
  std::optional<double> fall_time;       // seconds from 90 % to 10 %
  std::optional<double> positive_width;  // seconds from a rising to the next falling mid level
  std::optional<double> negative_width;  // seconds from a falling to the next rising mid level
  std::optional<double> duty_cycle;      // the positive width over the period, 0 .. 1
  std::optional<double> overshoot;       // the maximum beyond the top level over the amplitude
};

// The levels the measurements start from: the top and the base, each the mean of the most
// common values of its half of the trace (its plateau), or the trace's extreme where there is
// no plateau (a sine, a triangle).
struct PulseLevels {
  double base = 0.0;
  double top = 0.0;
};
PulseLevels FindPulseLevels(std::span<const double> volts, double bin_volts);

// `volts` sampled at `sample_rate` Hz; an amplitude (top less base) at or below `noise_floor`
// volts counts as flat and gives nothing.
PulseMeasurements MeasurePulses(std::span<const double> volts, double sample_rate,
                                double noise_floor);

// The measurements as every front end shows them, in this order: name ("period", "rise",
// "fall", "+width", "-width", "duty", "overshoot"), key for files and JSON, and text ("--"
// where empty).
struct PulseText {
  const char* name;
  const char* key;
  std::string text;
};
inline constexpr std::size_t kPulseMeasurementCount = 7;
std::array<PulseText, kPulseMeasurementCount> DescribePulses(const PulseMeasurements& pulse);

}  // namespace vm316::host
