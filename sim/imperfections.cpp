#include "sim/imperfections.h"

#include <cmath>
#include <limits>

#include "sim/noise.h"

namespace vm316::sim {
namespace {

// Magnitudes, with a random sign each, where an error is never negligibly small; tolerances
// (within +-) where it may be anything up to the bound. docs/simulated-board.md says why each.
//
// The front end's offsets: input bias and op-amp offsets of 3..7 LSB, continuous (the board's
// zero is set by resistors, not by the DAC grid).
constexpr double kOffsetLsbMin = 3.0;
constexpr double kOffsetLsbMax = 7.0;
// 1 % resistors and the amplifiers' gain tolerance.
constexpr double kStageGainErrorMin = 0.03;
constexpr double kStageGainErrorMax = 0.05;
// Compensated dividers of 0.1 % resistors.
constexpr double kAttenuatorTolerance = 0.002;
// A second 8-bit flash converter of the same type: its gain and offset apart from the first.
constexpr double kConverterGainErrorMin = 0.005;
constexpr double kConverterGainErrorMax = 0.015;
constexpr double kConverterOffsetLsbMin = 0.5;
constexpr double kConverterOffsetLsbMax = 2.0;
// Trim DAC feed-through at the converter input, per trim step.
constexpr double kTrimOffsetPerStepMax = 0.004;
// Flash converter: transitions within +-0.25 LSB of their ideal place (DNL within +-0.5 LSB,
// no missing codes).
constexpr double kTransitionTolerance = 0.25;
// 12-bit DC-level DAC with its reference: gain within +-0.3 %, INL within +-2.5 DAC steps.
constexpr double kDacGainTolerance = 0.003;
constexpr double kDacInlBowMax = 1.5;
constexpr double kDacInlSMax = 1.0;
// The /25 reference divider: 0.1 % resistors, ratio within +-0.2 %.
constexpr double kReferenceDivider = 25.0;
constexpr double kReferenceDividerTolerance = 0.002;
// Noise.
constexpr double kNoiseLsbRms = 0.35;
constexpr double kFlickerLsbRms = 0.1;
// Warm-up: offsets move by 0.3..1 LSB and gains by 0.05..0.2 % as the board warms up with a
// time constant of 5..15 minutes.
constexpr double kWarmOffsetLsbMin = 0.3;
constexpr double kWarmOffsetLsbMax = 1.0;
constexpr double kWarmGainMin = 0.0005;
constexpr double kWarmGainMax = 0.002;
constexpr double kWarmTauMinS = 300.0;
constexpr double kWarmTauMaxS = 900.0;
// Settling. Signal relays: operate 1..2 ms, bounce 0.3..0.6 ms; the input path then settles
// with 0.45..0.6 ms, so that even a full-scale step is within 0.05 LSB 8 ms after the latch.
// The DACs' output filters: 15..25 us (DC level), 30..50 us (trim): settled within a fraction
// of a millisecond.
constexpr double kRelayOperateMinNs = 1.0e6;
constexpr double kRelayOperateMaxNs = 2.0e6;
constexpr double kRelayBounceMinNs = 0.3e6;
constexpr double kRelayBounceMaxNs = 0.6e6;
constexpr double kRelayTauMinNs = 0.45e6;
constexpr double kRelayTauMaxNs = 0.6e6;
constexpr double kDacTauMinNs = 15e3;
constexpr double kDacTauMaxNs = 25e3;
constexpr double kTrimTauMinNs = 30e3;
constexpr double kTrimTauMaxNs = 50e3;

void IdealTransitions(std::array<double, kCodeCount + 1>& transitions) {
  transitions[0] = -std::numeric_limits<double>::infinity();
  for (int k = 1; k < kCodeCount; ++k) transitions[k] = k - 0.5;
  transitions[kCodeCount] = std::numeric_limits<double>::infinity();
}

}  // namespace

Imperfections Imperfections::Ideal() {
  Imperfections ideal;
  for (int ch = 0; ch < 2; ++ch) {
    ideal.stage_gain[ch].fill(1.0);
    ideal.attenuator_gain[ch].fill(1.0);
    ideal.converter_gain[ch] = 1.0;
    ideal.dac_gain[ch] = 1.0;
    ideal.reference_divider[ch] = kReferenceDivider;
    IdealTransitions(ideal.transition_lsb[ch]);
  }
  return ideal;
}

Imperfections Imperfections::Draw(std::uint64_t seed) {
  Imperfections board = Ideal();
  DrawSequence draw(seed);
  // The draws of the first model come first and in their order, so a seed keeps its offsets'
  // signs and sizes and its gains.
  for (int ch = 0; ch < 2; ++ch) {
    for (int config = 0; config < kStageConfigCount; ++config) {
      board.offset_lsb[ch][config] = draw.SignedMagnitude(kOffsetLsbMin, kOffsetLsbMax);
      board.stage_gain[ch][config] =
          1.0 + draw.SignedMagnitude(kStageGainErrorMin, kStageGainErrorMax);
    }
    for (int att = 1; att < kAttenuatorCount; ++att) {
      board.attenuator_gain[ch][att] =
          1.0 + draw.Between(-kAttenuatorTolerance, kAttenuatorTolerance);
    }
  }
  board.converter_gain[1] =
      1.0 + draw.SignedMagnitude(kConverterGainErrorMin, kConverterGainErrorMax);
  board.noise_lsb_rms = kNoiseLsbRms;

  board.converter_offset_lsb[1] =
      draw.SignedMagnitude(kConverterOffsetLsbMin, kConverterOffsetLsbMax);
  for (int i = 0; i < 2; ++i) {
    board.trim_offset_lsb_per_step[i] = draw.Between(-kTrimOffsetPerStepMax, kTrimOffsetPerStepMax);
    for (int k = 1; k < kCodeCount; ++k) {
      board.transition_lsb[i][k] += draw.Between(-kTransitionTolerance, kTransitionTolerance);
    }
    board.dac_gain[i] = 1.0 + draw.Between(-kDacGainTolerance, kDacGainTolerance);
    board.dac_inl_bow[i] = draw.Between(-kDacInlBowMax, kDacInlBowMax);
    board.dac_inl_s[i] = draw.Between(-kDacInlSMax, kDacInlSMax);
    board.reference_divider[i] =
        kReferenceDivider *
        (1.0 + draw.Between(-kReferenceDividerTolerance, kReferenceDividerTolerance));
    board.warm_offset_lsb[i] = draw.SignedMagnitude(kWarmOffsetLsbMin, kWarmOffsetLsbMax);
    board.warm_gain[i] = draw.SignedMagnitude(kWarmGainMin, kWarmGainMax);
  }
  board.flicker_lsb_rms = kFlickerLsbRms;
  board.warm_tau_s = draw.Between(kWarmTauMinS, kWarmTauMaxS);
  board.relay_operate_ns =
      static_cast<std::uint64_t>(draw.Between(kRelayOperateMinNs, kRelayOperateMaxNs));
  board.relay_bounce_ns =
      static_cast<std::uint64_t>(draw.Between(kRelayBounceMinNs, kRelayBounceMaxNs));
  board.relay_tau_ns = draw.Between(kRelayTauMinNs, kRelayTauMaxNs);
  board.dac_tau_ns = draw.Between(kDacTauMinNs, kDacTauMaxNs);
  board.trim_tau_ns = draw.Between(kTrimTauMinNs, kTrimTauMaxNs);
  return board;
}

}  // namespace vm316::sim
