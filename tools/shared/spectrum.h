// The amplitude spectrum of one channel of a record, in dBV (the RMS of each frequency's sine,
// 0 dBV = 1 V rms) over frequency, through a chosen window; its peak and the peak's harmonics.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "record.h"

namespace vm316::host {

enum class SpectrumWindow { kHann, kFlatTop, kRectangular };

// "hann", "flattop", "rect"; nothing for another name.
std::optional<SpectrumWindow> ParseSpectrumWindow(std::string_view text);
const char* SpectrumWindowName(SpectrumWindow window);

struct SpectralLine {
  double frequency = 0.0;  // Hz
  double dbv = 0.0;
};

struct Spectrum {
  double bin_hz = 0.0;
  std::vector<double> dbv;  // one per bin from 0 Hz to half the sample rate
  // The highest line above 0 Hz, its frequency and level from a sine fitted near its bin; the
  // harmonics' levels fitted together with it.
  std::optional<SpectralLine> peak;
  std::vector<SpectralLine> harmonics;  // 2nd, 3rd, ... below half the sample rate
};

inline constexpr int kHarmonicCount = 6;  // the fundamental's 2nd to 7th

// False when this build has no FFT library (FFTW): then ComputeSpectrum throws CliError.
bool SpectrumAvailable();
Spectrum ComputeSpectrum(std::span<const double> volts, double sample_rate, SpectrumWindow window);

// "1.000 kHz -9.03 dBV".
std::string DescribeLine(const SpectralLine& line);

// One spectrum per recorded channel of the record; nothing for a channel not recorded.
using RecordSpectra = std::array<std::optional<Spectrum>, kChannelCount>;
RecordSpectra ComputeRecordSpectra(const Record& record, SpectrumWindow window);

// "ch1 spectrum (flattop, 100.0 Hz a bin): peak 1.000 kHz -9.03 dBV; harmonics 2.000 kHz
// -71.2 dBV, ..." on one line.
std::string DescribeSpectrum(int channel, const Spectrum& spectrum, SpectrumWindow window);

}  // namespace vm316::host
