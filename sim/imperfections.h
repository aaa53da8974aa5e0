// The simulated board's imperfections: what makes an uncalibrated board read wrong, drawn once
// from VM316_SIM_SEED. The sizes are chosen so that an uncalibrated board is visibly off (several
// LSB, a few percent) while the driver's offset and gain-trim searches always converge with every
// trim well inside 5..250.
#pragma once

#include <array>
#include <cstdint>

namespace vm316::sim {

// A front-end configuration of one channel: the x10 stage in or out, and one of the three
// stages 0.2 / 0.4 / 0.8 V. Ranges 1..6 use configurations 0..5 in order; ranges 7..12 reuse
// 3..5 behind the /10 and /100 attenuators.
inline constexpr int kStageConfigCount = 6;
// The input attenuators /1, /10, /100.
inline constexpr int kAttenuatorCount = 3;

struct Imperfections {
  // Offset of each channel and configuration, in converter codes (LSB). It shifts the level
  // the DC-level DAC must cancel: v0 = -1 V + offset / 128.
  std::array<std::array<double, kStageConfigCount>, 2> offset_lsb{};
  // Gain of each channel and configuration (1.0 = exact).
  std::array<std::array<double, kStageConfigCount>, 2> stage_gain{};
  // Gain of each channel's attenuators; the /1 attenuator is exact, the others within 0.2 %.
  std::array<std::array<double, kAttenuatorCount>, 2> attenuator_gain{};
  // Gain of each converter; converter 1 is the reference, converter 2 is off by 0.5..1.5 %.
  std::array<double, 2> converter_gain{};
  // Converter noise, rms, in LSB.
  double noise_lsb_rms = 0.0;

  // A perfect board: no offsets, unit gains, no noise.
  static Imperfections Ideal();
  // The board that a seed stands for.
  static Imperfections Draw(std::uint64_t seed);
};

}  // namespace vm316::sim
