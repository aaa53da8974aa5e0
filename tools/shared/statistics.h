// The measurements a scope shows under its trace, computed from one channel of a record.
#pragma once

#include <optional>
#include <span>

namespace vm316::host {

struct TraceStatistics {
  double min = 0.0;
  double max = 0.0;
  double peak_to_peak = 0.0;
  double mean = 0.0;
  double rms = 0.0;  // of the whole signal, DC included
  // Empty when the record holds less than one full cycle or no signal above the noise.
  std::optional<double> frequency;
};

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

}  // namespace vm316::host
