#include "sim/analog.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "analog_tables.h"

namespace vm316::sim {
namespace {

using namespace simtest;

Signal Dc(double volts) {
  return Signal(SignalParams{SignalKind::kDc, 0, 0, volts});
}

TEST(AnalogModel, IdealBoardReadsTheInputOnEveryRange) {
  AnalogModel model(Imperfections::Ideal(), 0);
  for (int r = 1; r <= 12; ++r) {
    SCOPED_TRACE(r);
    model.SetInputs(Dc(kSensitivity[r] / 2), Dc(-kSensitivity[r] / 4), Signal());
    model.SetFrontEnd(kRangeBitsCh1[r] + kRangeBitsCh2[r], {-1.0, -1.0}, {127, 127});
    // Ranges 1 and 2 show the x10 stage's DC input offset (see the next test).
    const double dc_offset = r == 1 ? -2.5 : r == 2 ? -0.625 : 0.0;
    EXPECT_DOUBLE_EQ(model.AnalogCode(1, 0), 192.0 + dc_offset);
    EXPECT_DOUBLE_EQ(model.AnalogCode(2, 0), 96.0 + dc_offset);
  }
}

TEST(AnalogModel, DcInputOffsetOfTheGain10StageIsWhatTheClosingStepCancels) {
  AnalogModel model(Imperfections::Ideal(), 0);
  model.SetInputs(Signal(), Signal(), Signal());
  const double corrections[] = {0, 5.0 / 256, 5.0 / 1024};
  for (int r : {1, 2}) {
    const std::uint32_t word = kRangeBitsCh1[r] + kRangeBitsCh2[r];
    model.SetFrontEnd(word, {-1.0, -1.0}, {127, 127});
    EXPECT_LT(model.AnalogCode(1, 0), 128.0);
    model.SetFrontEnd(word, {-1.0 - corrections[r], -1.0 - corrections[r]}, {127, 127});
    EXPECT_DOUBLE_EQ(model.AnalogCode(1, 0), 128.0);
    EXPECT_DOUBLE_EQ(model.AnalogCode(2, 0), 128.0);
    // AC coupled (as the searches run) the offset is not there.
    model.SetFrontEnd(word + relay::kCh1AcCoupling, {-1.0, -1.0}, {127, 127});
    EXPECT_DOUBLE_EQ(model.AnalogCode(1, 0), 128.0);
  }
}

TEST(AnalogModel, CalibrationReferencesGiveTheSearchTargets) {
  AnalogModel model(Imperfections::Ideal(), 0);
  model.SetInputs(Signal(), Signal(), Signal());
  for (int r = 1; r <= 6; ++r) {
    SCOPED_TRACE(r);
    // Offset search: DAC base -0.078125 settles at code 10; the other DAC is at 0 V.
    const std::uint32_t offset_word = kCh1Substitute[r] + kRangeBitsCh2[r] + kBothAc;
    model.SetFrontEnd(offset_word, {-0.078125, 0.0}, {127, 127});
    EXPECT_DOUBLE_EQ(model.AnalogCode(1, 0), 10.0);
    model.SetFrontEnd(offset_word, {0.0, -0.078125}, {127, 127});
    EXPECT_DOUBLE_EQ(model.AnalogCode(2, 0), 10.0);

    // Gain search: the other channel's DAC / 25 is 125/128 of full scale (capped at 4.96093 V).
    const double v = QuantizedDac(GainReferenceVolts(r));
    const double target = GainTarget(r) / 100.0;
    const std::uint32_t gain_word = kCh1Substitute[r] + kCh2GainSubstitute[r] + kBothAc;
    model.SetFrontEnd(gain_word, {-1.0, v}, {127, 127});
    EXPECT_NEAR(model.AnalogCode(1, 0), target, 1e-9);
    model.SetFrontEnd(gain_word, {v, -1.0}, {127, 127});
    EXPECT_NEAR(model.AnalogCode(2, 0), target, 1e-9);
    // Double rate: converter 2 on channel 1's reference.
    model.SetFrontEnd(gain_word + kDoubleRate, {-1.0, v}, {127, 127});
    EXPECT_NEAR(model.AnalogCode(2, 0), target, 1e-9);
  }
  EXPECT_EQ(GainTarget(1), 25300);
  EXPECT_EQ(GainTarget(4), 25300);
  EXPECT_EQ(GainTarget(5), 19150);
  EXPECT_EQ(GainTarget(6), 15975);
}

TEST(AnalogModel, TrimDcLevelAndCoupling) {
  AnalogModel model(Imperfections::Ideal(), 0);
  const std::uint32_t range6 = kRangeBitsCh1[6] + kRangeBitsCh2[6];
  model.SetInputs(Dc(0.6), Dc(0.3), Signal());
  model.SetFrontEnd(range6, {-1.0, -1.0}, {128, 126});
  EXPECT_NEAR(model.AnalogCode(1, 0) - 128, 96 * (1 - 0.0015), 1e-9) << "gain falls above 127";
  EXPECT_NEAR(model.AnalogCode(2, 0) - 128, 48 * (1 + 0.0015), 1e-9);
  // An input equal to the DC level reads mid-scale: DAC = level / full scale - 1.
  model.SetFrontEnd(range6, {0.6 / 0.8 - 1.0, 0.3 / 0.8 - 1.0}, {127, 127});
  EXPECT_DOUBLE_EQ(model.AnalogCode(1, 0), 128.0);
  EXPECT_DOUBLE_EQ(model.AnalogCode(2, 0), 128.0);
  // AC coupling removes the DC input; a 1 kHz sine passes.
  model.SetFrontEnd(range6 + kBothAc, {-1.0, -1.0}, {127, 127});
  EXPECT_DOUBLE_EQ(model.AnalogCode(1, 0), 128.0);
  std::string error;
  model.SetInputs(*Signal::Parse("sine:freq=1000,amp=0.4,offset=1", &error), Signal(), Signal());
  EXPECT_NEAR(model.AnalogCode(1, 250'000), 128 + 64, 0.01);
  // Nothing routed to converter 2, or a dead one: mid-scale.
  model.SetFrontEnd(range6 - relay::kCh2ToConverter2, {-1.0, -1.0}, {127, 127});
  EXPECT_EQ(model.Convert(2, 0), 128);
}

TEST(AnalogModel, CodesClampAndCarryALittleNoise) {
  Imperfections board = Imperfections::Ideal();
  board.noise_lsb_rms = 0.35;
  AnalogModel model(board, 7);
  model.SetInputs(Dc(0.1), Dc(5.0), Signal());
  model.SetFrontEnd(kRangeBitsCh1[6] + kRangeBitsCh2[6], {-1.0, -1.0}, {127, 127});
  double sum = 0.0;
  double square_sum = 0.0;
  for (std::uint64_t t = 0; t < 20000; ++t) {
    const double code = model.Convert(1, t * 250);
    sum += code;
    square_sum += (code - 144.0) * (code - 144.0);
    EXPECT_EQ(model.Convert(2, t * 250), 255);
  }
  EXPECT_NEAR(sum / 20000, 144.0, 0.05);
  EXPECT_NEAR(std::sqrt(square_sum / 20000), 0.35, 0.08);
}

TEST(Imperfections, VisibleButWithinWhatCalibrationCovers) {
  for (std::uint64_t seed = 1; seed <= 50; ++seed) {
    const Imperfections board = Imperfections::Draw(seed);
    EXPECT_EQ(board.noise_lsb_rms, Imperfections::Draw(seed).noise_lsb_rms);
    for (int ch = 0; ch < 2; ++ch) {
      for (int config = 0; config < kStageConfigCount; ++config) {
        EXPECT_GE(std::abs(board.offset_lsb[ch][config]), 3.0);
        EXPECT_LE(std::abs(board.offset_lsb[ch][config]), 7.0);
        EXPECT_GE(std::abs(board.stage_gain[ch][config] - 1), 0.03);
        EXPECT_LE(std::abs(board.stage_gain[ch][config] - 1), 0.05);
      }
      EXPECT_EQ(board.attenuator_gain[ch][0], 1.0);
      for (int att = 1; att < kAttenuatorCount; ++att) {
        EXPECT_LT(std::abs(board.attenuator_gain[ch][att] - 1), 0.003);
      }
    }
    EXPECT_EQ(board.converter_gain[0], 1.0);
    EXPECT_GE(std::abs(board.converter_gain[1] - 1), 0.005);
    EXPECT_GE(std::abs(board.converter_offset_lsb[1]), 0.5);
    for (int i = 0; i < 2; ++i) {
      EXPECT_LE(std::abs(board.dac_gain[i] - 1), 0.003);
      EXPECT_LE(std::abs(board.dac_inl_bow[i]) + std::abs(board.dac_inl_s[i]), 2.5);
      EXPECT_LE(std::abs(board.reference_divider[i] / 25 - 1), 0.002);
      for (int k = 1; k < kCodeCount; ++k) {
        EXPECT_LE(std::abs(board.transition_lsb[i][k] - (k - 0.5)), 0.25);
      }
    }
    // A full-scale relay step is within 0.05 LSB well inside the driver's 10 ms, and the DACs
    // within a fraction of a millisecond.
    const double relay_ms = (static_cast<double>(board.relay_operate_ns + board.relay_bounce_ns) +
                             board.relay_tau_ns * std::log(256 / 0.05)) *
                            1e-6;
    EXPECT_LT(relay_ms, 8.5);
    EXPECT_GT(relay_ms, 3.0);
    EXPECT_LT(board.dac_tau_ns * std::log(1280 / 0.05) * 1e-6, 0.3);
    EXPECT_LT(board.trim_tau_ns * std::log(256 / 0.05) * 1e-6, 0.5);
  }
  EXPECT_NE(Imperfections::Draw(1).offset_lsb[0][0], Imperfections::Draw(2).offset_lsb[0][0]);
}

}  // namespace
}  // namespace vm316::sim
