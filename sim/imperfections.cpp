#include "sim/imperfections.h"

#include <cmath>

#include "sim/noise.h"

namespace vm316::sim {
namespace {

// Magnitudes, with a random sign each. Offsets of 3..7 LSB take the offset search at most ~23
// DAC steps per range (of its 410 per channel); gain errors of 3..5 % and a converter error of
// 0.5..1.5 % need at most ~45 trim steps from 127.
constexpr double kOffsetLsbMin = 3.0;
constexpr double kOffsetLsbMax = 7.0;
constexpr double kStageGainErrorMin = 0.03;
constexpr double kStageGainErrorMax = 0.05;
constexpr double kConverterGainErrorMin = 0.005;
constexpr double kConverterGainErrorMax = 0.015;
// Ranges 7..12 inherit the calibration of 4..6, so their attenuators must be close to exact.
constexpr double kAttenuatorTolerance = 0.002;
constexpr double kNoiseLsbRms = 0.35;
// The offset errors are whole steps of the DC-level DAC (5/2048 V, 0.3125 codes): a real
// board's zero is set by the same DAC the calibration tunes, so its search can settle on the
// zero exactly instead of leaving up to half a step that the gain search of the 0.8 V stage
// (calibrated at a quarter of full scale) would multiply fourfold.
constexpr double kDacStepLsb = 0.3125;

double WholeDacSteps(double lsb) { return std::nearbyint(lsb / kDacStepLsb) * kDacStepLsb; }

}  // namespace

Imperfections Imperfections::Ideal() {
  Imperfections ideal;
  for (int ch = 0; ch < 2; ++ch) {
    ideal.stage_gain[ch].fill(1.0);
    ideal.attenuator_gain[ch].fill(1.0);
    ideal.converter_gain[ch] = 1.0;
  }
  return ideal;
}

Imperfections Imperfections::Draw(std::uint64_t seed) {
  Imperfections board = Ideal();
  DrawSequence draw(seed);
  for (int ch = 0; ch < 2; ++ch) {
    for (int config = 0; config < kStageConfigCount; ++config) {
      board.offset_lsb[ch][config] =
          WholeDacSteps(draw.SignedMagnitude(kOffsetLsbMin, kOffsetLsbMax));
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
  return board;
}

}  // namespace vm316::sim
