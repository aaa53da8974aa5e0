// Least-squares fits of sines to a record: the level of a line wherever it falls between the
// spectrum's bins and however few periods the record holds, where a window's main lobe and its
// mirror image at negative frequencies run into each other.
#pragma once

#include <optional>
#include <span>
#include <vector>

namespace vm316::host {

// The frequency in `low_hz` .. `high_hz` whose sine (with an offset) explains the most of the
// record, searched on a grid and then narrowed down; nothing when no frequency there gives a
// sound fit (a range at 0 Hz or at half the sample rate).
std::optional<double> FitSineFrequency(std::span<const double> volts, double sample_rate,
                                       double low_hz, double high_hz);

// The peak amplitudes (volts) of the sines at 1, 2, ... `count` times `fundamental_hz`, fitted
// together with an offset, so that the lines of a periodic signal do not leak into each other's
// levels in a record of whole and partial periods alike. Nothing when the fit is degenerate.
std::optional<std::vector<double>> FitHarmonicAmplitudes(std::span<const double> volts,
                                                         double sample_rate, double fundamental_hz,
                                                         int count);

}  // namespace vm316::host
