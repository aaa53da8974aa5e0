// The measurements a scope shows under its trace, computed from one channel of a record.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "pulse_measurements.h"
#include "record.h"

namespace vm316::host {

struct TraceStatistics {
  double min = 0.0;
  double max = 0.0;
  double peak_to_peak = 0.0;
  double mean = 0.0;
  double rms = 0.0;  // of the whole signal, DC included
  // Empty when the record holds less than one full cycle or no signal above the noise.
  std::optional<double> frequency;
  // Period, edges, widths, duty cycle, overshoot; each empty where the record cannot give it.
  PulseMeasurements pulse;
};

// The hysteresis of the level crossings, as a fraction of the peak-to-peak (or amplitude).
inline constexpr double kCrossingHysteresis = 0.1;

struct Crossing {
  double time;  // in samples, interpolated between the two samples around the level
  bool rising;
};

// Where the trace passes `level`: the state only changes once the trace has gone beyond the
// hysteresis band around it, so that noise on an edge counts once.
std::vector<Crossing> FindCrossings(std::span<const double> volts, double level, double hysteresis);

// The whole periods between the first and the last of the crossings in one direction, rising
// ones first: the mean period in samples, or nothing when neither direction has two.
std::optional<double> WholePeriodSamples(std::span<const Crossing> crossings);

// `volts` sampled at `sample_rate` Hz. `noise_floor` is the peak-to-peak below which the trace
// counts as flat, so that converter noise on a grounded input shows no frequency.
TraceStatistics ComputeStatistics(std::span<const double> volts, double sample_rate,
                                  double noise_floor);

// Frequency from the crossings of the mid level, with a hysteresis of a tenth of the
// peak-to-peak so that noise on an edge counts once: whole periods between the first and the
// last rising crossing, or falling crossing, whichever come twice first. Nothing when the
// record holds less than one period.
std::optional<double> EstimateFrequency(std::span<const double> volts, double sample_rate,
                                        double min, double max);

// The statistics of one recorded channel as every front end shows them: a trace flatter than
// three converter steps counts as noise on a flat input (no frequency, no pulse measurements),
// and a record over range has no pulse measurements (clipped edges have neither their true
// levels nor their true times).
TraceStatistics ChannelStatistics(const ChannelRecord& trace, double sample_rate);

}  // namespace vm316::host
