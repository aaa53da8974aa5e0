// The simulated board's imperfections: what makes an uncalibrated board read wrong and a
// calibrated one read not quite right, drawn once from VM316_SIM_SEED. Each size is that of the
// real part it stands for (docs/simulated-board.md gives them with their reasons); none is sized
// for what the driver's calibration can take.
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
// Converter codes 0..255; transition k lies between codes k - 1 and k.
inline constexpr int kCodeCount = 256;

struct Imperfections {
  // Offset of each channel and configuration, in converter codes (LSB), anywhere between DAC
  // steps. It shifts the level the DC-level DAC must cancel: v0 = -1 V + offset / 128. It
  // arises ahead of the trimmed stage, so it scales with the trim's gain.
  std::array<std::array<double, kStageConfigCount>, 2> offset_lsb{};
  // Gain of each channel and configuration (1.0 = exact).
  std::array<std::array<double, kStageConfigCount>, 2> stage_gain{};
  // Gain of each channel's attenuators; the /1 attenuator is exact, the others within 0.2 %.
  std::array<std::array<double, kAttenuatorCount>, 2> attenuator_gain{};
  // Gain and offset (LSB) of each converter; converter 1 is the reference.
  std::array<double, 2> converter_gain{};
  std::array<double, 2> converter_offset_lsb{};
  // Offset each trim step above 127 adds at its converter's input (LSB): the trim DAC's own
  // feed-through, apart from the scaling of the stage offset.
  std::array<double, 2> trim_offset_lsb_per_step{};
  // Each converter's transition levels: transition k (1..255) lies at k - 0.5 + error. Slots 0
  // and 256 are the open ends.
  std::array<std::array<double, kCodeCount + 1>, 2> transition_lsb{};

  // The DC-level DACs (per channel): gain (1.0 = exact) and integral non-linearity, in DAC
  // steps, as a bow and an S across the 12-bit scale.
  std::array<double, 2> dac_gain{};
  std::array<double, 2> dac_inl_bow{};
  std::array<double, 2> dac_inl_s{};
  // The /25 divider that turns the other channel's DAC into each channel's reference (25 exact).
  std::array<double, 2> reference_divider{};

  // Noise at the converter, rms, in LSB: white, and flicker (1/f) from 16 us up to 1 s.
  double noise_lsb_rms = 0.0;
  double flicker_lsb_rms = 0.0;
  // Warm-up after power-on, per channel: offset (LSB) and relative gain reached when warm, and
  // the time constant of the approach.
  std::array<double, 2> warm_offset_lsb{};
  std::array<double, 2> warm_gain{};
  double warm_tau_s = 600.0;

  // Settling, in nanoseconds: a relay's operate time (the old contacts still carry), its
  // bounce, and the time constant of the input path's approach after the contacts rest; the
  // time constants of the DC-level DACs and of the trim DACs.
  std::uint64_t relay_operate_ns = 0;
  std::uint64_t relay_bounce_ns = 0;
  double relay_tau_ns = 0.0;
  double dac_tau_ns = 0.0;
  double trim_tau_ns = 0.0;

  // A perfect board: no errors, no noise, settles at once.
  static Imperfections Ideal();
  // The board that a seed stands for.
  static Imperfections Draw(std::uint64_t seed);
};

}  // namespace vm316::sim
