// The driver's front-end tables as the board sees them on the bus, and the arithmetic of the
// calibration searches, for checking the analog model's numbers against what the searches expect.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace vm316::sim::simtest {

// Index 0 unused: ranges run 1..12.
inline constexpr double kSensitivity[13] = {0,   0.02, 0.04, 0.08, 0.2,  0.4, 0.8,
                                            2.0, 4.0,  8.0,  20.0, 40.0, 80.0};
inline constexpr std::uint32_t kRangeBitsCh1[13] = {
    0, 0xA04, 0x805, 0x806, 0xA00, 0x801, 0x802, 0x600, 0x401, 0x402, 0x80200, 0x80001, 0x80002};
inline constexpr std::uint32_t kRangeBitsCh2[13] = {0,       0x40C8,  0x40A8, 0x4098, 0x40C0,
                                                    0x40A0,  0x4090,  0x80C0, 0x80A0, 0x8090,
                                                    0x100C0, 0x100A0, 0x10090};
// Calibration substitutes of ranges 1..6.
inline constexpr std::uint32_t kCh1Substitute[7] = {0,       0x40204, 0x40005, 0x40006,
                                                    0x40200, 0x40001, 0x40002};
inline constexpr std::uint32_t kCh2GainSubstitute[7] = {0, 0xC8, 0xA8, 0x98, 0xC0, 0xA0, 0x90};
inline constexpr std::uint32_t kBothAc = 0x1000 + 0x2000;
inline constexpr std::uint32_t kDoubleRate = 0x100 - 0x80;

// The DC-level DAC's output for a requested voltage (12 bits, 5/2048 V steps, clamped).
inline double QuantizedDac(double volts) {
  const double code = std::nearbyint(std::clamp(volts / 5.0 * 2048.0 + 2048.0, 0.0, 4095.0));
  return (code - 2048.0) * 5.0 / 2048.0;
}

// The gain search's reference DAC voltage and its target sum of 100 codes.
inline double GainReferenceVolts(int range) {
  const double v = kSensitivity[range] * 0.9765625 * 25;
  return v <= 4.96093 ? v : 4.96093;
}
inline int GainTarget(int range) {
  return static_cast<int>(
      std::nearbyint((5.12 * GainReferenceVolts(range) / kSensitivity[range] + 128) * 100));
}

}  // namespace vm316::sim::simtest
