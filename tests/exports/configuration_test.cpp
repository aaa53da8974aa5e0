// The configuration and capability exports: check orders, unit conversions, write-back rules
// and the volt-factor cache, on a present simulated board and without an instrument.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "sim_session.h"
#include "vm316.h"

namespace vm316::testing {
namespace {

class ConfigurationTest : public SimulatedBoardTest {
 protected:
  void SetUp() override { ASSERT_EQ(BringUp(BoardInputs().Ch1("noise:amp=0.3")), StatusOk); }
};

TEST_F(ConfigurationTest, TimeBaseAndRecordGeometry) {
  uint32_t frequency = 3000000;
  EXPECT_EQ(SetSampleFrequency(&frequency), StatusOk);
  EXPECT_EQ(frequency, 4000000u);
  EXPECT_EQ(GetSampleFrequency(), 4000000);
  double precise = 1500000.0;
  EXPECT_EQ(SetSampleFrequencyF(&precise), StatusOk);
  EXPECT_NEAR(precise, 4e6 / 3, 1e-6);
  EXPECT_EQ(GetSampleFrequency(), 1333333);
  EXPECT_EQ(GetMaxSampleFrequency(), 20000000);
  EXPECT_EQ(GetMaxSampleFrequencyF(), 20e6);

  EXPECT_EQ(GetMaxRecordLength(), 32760);
  EXPECT_EQ(SetRecordLength(32761), StatusInvalidValue);
  EXPECT_EQ(SetRecordLength(32760), StatusOk);
  EXPECT_EQ(SetRecordLength(0), StatusOk);
  EXPECT_EQ(SetRecordLength(1000), StatusOk);
  EXPECT_EQ(GetRecordLength(), 1000);
  EXPECT_EQ(SetPostSamples(1001), StatusInvalidValue);
  EXPECT_EQ(SetPostSamples(1000), StatusOk);  // no samples before the trigger
  EXPECT_EQ(GetPostSamples(), 1000);
  EXPECT_EQ(SetPostSamples(0xFFFFFFFF), StatusInvalidValue);  // unsigned comparison

  uint16_t external = 9;
  EXPECT_EQ(GetExternalClock(&external), StatusNotSupported);
  EXPECT_EQ(external, 0);
  EXPECT_EQ(SetExternalClock(1), StatusNotSupported);
}

TEST_F(ConfigurationTest, RangesCouplingAndDcLevel) {
  double sensitivity = 3.0;  // as near to 2 V as to 4 V: the lower wins
  EXPECT_EQ(SetSensitivity(1, &sensitivity), StatusOk);
  EXPECT_EQ(sensitivity, 2.0);
  sensitivity = 3.0;
  EXPECT_EQ(SetSensitivity(3, &sensitivity), StatusInvalidChannel);
  EXPECT_EQ(SetSensitivity(0, &sensitivity), StatusInvalidChannel);
  EXPECT_EQ(sensitivity, 3.0);

  double list[20];
  std::fill(std::begin(list), std::end(list), -1.0);
  ASSERT_EQ(GetAvailableSensitivities(list), StatusOk);
  const double expected[20] = {80, 40, 20, 8, 4, 2, 0.8, 0.4, 0.2, 0.08, 0.04, 0.02};
  for (int i = 0; i < 20; ++i) EXPECT_EQ(list[i], expected[i]) << i;

  // The DC level is admitted within twice the sensitivity of the channel's range.
  EXPECT_EQ(SetDcLevel(2, 1.6), StatusOk);
  EXPECT_EQ(SetDcLevel(2, -1.6), StatusOk);
  EXPECT_EQ(SetDcLevel(2, 1.61), StatusInvalidValue);
  double level = 0.0;
  ASSERT_EQ(GetDcLevel(2, &level), StatusOk);
  EXPECT_EQ(level, -1.6);
  EXPECT_EQ(GetDCLevelStatus(), 0);

  for (uint8_t value : {uint8_t{1}, uint8_t{0}}) {
    uint8_t read = 9;
    EXPECT_EQ(SetCoupling(1, value), StatusOk);
    ASSERT_EQ(GetCoupling(1, &read), StatusOk);
    EXPECT_EQ(read, value);
    EXPECT_EQ(SetAutoRanging(2, value), StatusOk);
    ASSERT_EQ(GetAutoRanging(2, &read), StatusOk);
    EXPECT_EQ(read, value);
  }
  EXPECT_EQ(SetCoupling(1, 2), StatusInvalidValue);
  EXPECT_EQ(SetAutoRanging(1, 2), StatusInvalidValue);
  EXPECT_EQ(SetCoupling(5, 2), StatusInvalidChannel);  // channel before value

  uint16_t channels = 0;
  ASSERT_EQ(GetNrChannels(&channels), StatusOk);
  EXPECT_EQ(channels, 2);
}

TEST_F(ConfigurationTest, ResolutionAndMeasureMode) {
  double resolutions[20];
  std::fill(std::begin(resolutions), std::end(resolutions), -1.0);
  ASSERT_EQ(GetAvailableResolutions(resolutions), StatusOk);
  EXPECT_EQ(resolutions[0], 12.0);
  for (int i = 1; i < 20; ++i) EXPECT_EQ(resolutions[i], 0.0);
  EXPECT_EQ(SetResolution(8), StatusInvalidValue);
  EXPECT_EQ(SetResolution(12), StatusOk);
  uint8_t bits = 0;
  ASSERT_EQ(GetResolution(&bits), StatusOk);
  EXPECT_EQ(bits, 8);

  EXPECT_EQ(SetMeasureMode(mCh3), StatusNotSupported);
  EXPECT_EQ(SetMeasureMode(mCh1234), StatusNotSupported);
  EXPECT_EQ(SetMeasureMode(17), StatusInvalidValue);
  EXPECT_EQ(SetMeasureMode(mXY), StatusOk);
  TMeasureMode mode = 0;
  ASSERT_EQ(GetMeasureMode(&mode), StatusOk);
  EXPECT_EQ(mode, mXY);

  uint16_t config = 5;
  EXPECT_EQ(GetInstrumentConfig(&config), StatusNotSupported);
  EXPECT_EQ(config, 5);
  EXPECT_EQ(SetInstrumentConfig(1), StatusNotSupported);
}

TEST_F(ConfigurationTest, TriggerSourcesAndSlopes) {
  // The admission rule's answers become status codes.
  EXPECT_EQ(SetTriggerSource(tsCh3), StatusNotSupported);
  EXPECT_EQ(SetTriggerSource(tsNeverTrig), StatusNotSupported);
  EXPECT_EQ(SetTriggerSource(tsUnknown), StatusInvalidValue);
  EXPECT_EQ(SetTriggerSource(tsOr), StatusOk);
  EXPECT_EQ(SetTriggerSource(tsCh1), StatusOk);
  TTrigSource source = 99;
  ASSERT_EQ(GetTriggerSource(&source), StatusOk);
  EXPECT_EQ(source, tsCh1);

  EXPECT_EQ(SetTriggerMode(2), StatusNotSupported);
  EXPECT_EQ(SetTriggerMode(12), StatusInvalidValue);
  EXPECT_EQ(SetTriggerModeCh(1, 7), StatusNotSupported);
  EXPECT_EQ(SetTriggerModeCh(3, 0), StatusInvalidChannel);
  uint8_t slope = 9;
  for (uint8_t slot = 0; slot <= 2; ++slot) {
    ASSERT_EQ(GetTriggerModeCh(slot, &slope), StatusOk);
    EXPECT_EQ(slope, SlopeRising) << int{slot};
  }
  EXPECT_EQ(SetTriggerMode(SlopeFalling), StatusOk);
  for (uint8_t slot = 0; slot <= 2; ++slot) {
    ASSERT_EQ(GetTriggerModeCh(slot, &slope), StatusOk);
    EXPECT_EQ(slope, SlopeFalling) << int{slot};
  }
  EXPECT_EQ(GetTriggerModeCh(3, &slope), StatusInvalidChannel);

  // GetTriggerMode reports the slope that belongs to the source.
  ASSERT_EQ(SetTriggerModeCh(0, SlopeRising), StatusOk);
  ASSERT_EQ(GetTriggerMode(&slope), StatusOk);
  EXPECT_EQ(slope, SlopeFalling);  // channel 1's
  ASSERT_EQ(SetTriggerSource(tsExternal), StatusOk);
  ASSERT_EQ(GetTriggerMode(&slope), StatusOk);
  EXPECT_EQ(slope, SlopeRising);  // the external input's
  ASSERT_EQ(SetTriggerSource(tsNoTrig), StatusOk);
  slope = 42;
  EXPECT_EQ(GetTriggerMode(&slope), StatusOk);
  EXPECT_EQ(slope, 42);
}

TEST_F(ConfigurationTest, TriggerLevelsAndHysteresisInVoltsOfThePresentRange) {
  double volts = 0.0;
  EXPECT_EQ(SetTriggerLevel(1, 0.8), StatusOk);  // code 255
  ASSERT_EQ(GetTriggerLevel(1, &volts), StatusOk);
  EXPECT_DOUBLE_EQ(volts, 0.8);
  EXPECT_EQ(SetTriggerLevel(1, -0.8), StatusOk);  // code 0
  ASSERT_EQ(GetTriggerLevel(1, &volts), StatusOk);
  EXPECT_DOUBLE_EQ(volts, -0.79375);
  EXPECT_EQ(SetTriggerLevel(1, 0.8000001), StatusInvalidValue);
  EXPECT_EQ(SetTriggerLevel(1, 0.4), StatusOk);  // code 191
  double sensitivity = 2.0;
  ASSERT_EQ(SetSensitivity(1, &sensitivity), StatusOk);
  ASSERT_EQ(GetTriggerLevel(1, &volts), StatusOk);
  EXPECT_DOUBLE_EQ(volts, 1.0);  // the code stays, the range scales it

  EXPECT_EQ(SetTriggerHys(2, 0.05), StatusOk);  // code 8 on 0.8 V
  ASSERT_EQ(GetTriggerHys(2, &volts), StatusOk);
  EXPECT_DOUBLE_EQ(volts, 0.05);
  // A rising slope re-arms below the level: it must stay inside the range.
  ASSERT_EQ(SetTriggerLevel(2, -0.7), StatusOk);
  EXPECT_EQ(SetTriggerHys(2, 0.2), StatusInvalidValue);
  EXPECT_EQ(SetTriggerHys(2, 0.05), StatusOk);
  // Channel 1's slope decides for every channel.
  ASSERT_EQ(SetTriggerModeCh(1, SlopeFalling), StatusOk);
  ASSERT_EQ(SetTriggerLevel(2, 0.7), StatusOk);
  EXPECT_EQ(SetTriggerHys(2, 0.2), StatusInvalidValue);
  EXPECT_EQ(SetTriggerHys(2, 0.05), StatusOk);
  EXPECT_EQ(SetTriggerHys(0, 0.05), StatusInvalidChannel);
}

TEST_F(ConfigurationTest, TriggerTimeOutInMilliseconds) {
  EXPECT_EQ(GetTriggerTimeOut(), 1000);
  EXPECT_EQ(SetTriggerTimeOut(0xFFFFFFFF), StatusOk);
  EXPECT_EQ(GetTriggerTimeOut(), -1);
  EXPECT_EQ(SetTriggerTimeOut(1500), StatusOk);
  EXPECT_EQ(GetTriggerTimeOut(), 1500);
  EXPECT_EQ(SetTriggerTimeOut(0), StatusOk);
  EXPECT_EQ(GetTriggerTimeOut(), 0);
}

TEST_F(ConfigurationTest, GeneratorStatusAndOfferedTransfers) {
  EXPECT_EQ(GetSquareWaveGenStatus(), StatusOk);
  EXPECT_EQ(GetFunctionGenStatus(), StatusNoGenerator);
  double amplitude = 3.0;
  EXPECT_EQ(GetFuncGenMaxAmplitude(&amplitude), StatusNoGenerator);
  EXPECT_EQ(amplitude, 3.0);
  int32_t mode = 7;
  EXPECT_EQ(SetTransferMode(1), StatusNotSupported);
  EXPECT_EQ(GetTransferMode(&mode), StatusNotSupported);
  EXPECT_EQ(mode, 7);
  EXPECT_EQ(SetDataReadyCallback(0x1234), StatusNotSupported);
  EXPECT_EQ(SetDataReadyEvent(0x1234), StatusNotSupported);
}

class VoltFactorTest : public SimulatedBoardTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(BringUp(BoardInputs().Ch1("sine:freq=1000,amp=0.5")), StatusOk);
    uint32_t frequency = 1000000;
    ASSERT_EQ(SetSampleFrequency(&frequency), StatusOk);
    ASSERT_EQ(SetPostSamples(512), StatusOk);  // nothing from before the arm
  }
};

// Volts are (sample - 32768) times the cached factor of the channel; which call refreshes the
// cache is part of the interface.
TEST_F(VoltFactorTest, VoltsComeFromTheCachedFactorOfEachChannel) {
  ASSERT_EQ(StartMeasurement(), StatusOk);
  const std::vector<uint16_t> raw = RawRecord(1);
  const Record record = VoltRecord();
  for (std::size_t i = 0; i < raw.size(); ++i) {
    ASSERT_EQ(record.ch1[i], (static_cast<int32_t>(raw[i]) - 32768) * (0.8 / 32768)) << i;
  }

  // Automatic ranging moves channel 1 at the next arm without a call that refreshes its
  // factor; a block fetch of channel 2 refreshes channel 2's only.
  ASSERT_EQ(SetAutoRanging(1, 1), StatusOk);
  double small = 0.2;
  ASSERT_EQ(SetSensitivity(1, &small), StatusOk);  // the sine clips here
  ASSERT_EQ(StartMeasurement(), StatusOk);         // decides +1; factor of 0.2 V
  ASSERT_EQ(ADC_Start(), StatusOk);                // takes the step to 0.4 V
  int polls = 0;
  while (ADC_Ready() == 0 && ++polls < 100000) {
  }
  const auto length = static_cast<std::size_t>(GetRecordLength());
  std::vector<double> volts(length);
  std::vector<uint16_t> samples(length);
  ASSERT_EQ(ADC_GetDataVoltCh(2, volts.data()), StatusOk);
  ASSERT_EQ(ADC_GetDataVoltCh(1, volts.data()), StatusOk);
  ASSERT_EQ(ADC_GetDataCh(1, samples.data()), StatusOk);
  for (std::size_t i = 0; i < length; ++i) {
    ASSERT_EQ(volts[i], (static_cast<int32_t>(samples[i]) - 32768) * (0.2 / 32768)) << i;
  }
  const Record fresh = VoltRecord();  // GetMeasurement refreshes both
  for (std::size_t i = 0; i < length; ++i) {
    ASSERT_EQ(fresh.ch1[i], (static_cast<int32_t>(samples[i]) - 32768) * (0.4 / 32768)) << i;
  }
}

class WithoutInstrumentTest : public ::testing::Test {
 protected:
  void SetUp() override { ExitInstrument(); }
};

TEST_F(WithoutInstrumentTest, QueriesAnswerZeroOrOneAndStatusExportsNoHardware) {
  EXPECT_EQ(GetSampleFrequency(), 0);
  EXPECT_EQ(GetSampleFrequencyF(), 0.0);
  EXPECT_EQ(GetMaxSampleFrequency(), 0);
  EXPECT_EQ(GetMaxSampleFrequencyF(), 0.0);
  EXPECT_EQ(GetRecordLength(), 0);
  EXPECT_EQ(GetPostSamples(), 0);
  EXPECT_EQ(GetMaxRecordLength(), 0);
  EXPECT_EQ(GetTriggerTimeOut(), 1);
  EXPECT_EQ(GetDCLevelStatus(), 1);

  uint32_t frequency = 3000000;
  EXPECT_EQ(SetSampleFrequency(&frequency), StatusNoHardware);
  EXPECT_EQ(frequency, 3000000u);  // written back: the request itself
  double sensitivity = 3.0;
  EXPECT_EQ(SetSensitivity(1, &sensitivity), StatusNoHardware);
  EXPECT_EQ(sensitivity, 3.0);
  uint16_t channels = 9;
  EXPECT_EQ(GetNrChannels(&channels), StatusNoHardware);
  EXPECT_EQ(channels, 9);
  EXPECT_EQ(SetTriggerMode(1), StatusNoHardware);
  EXPECT_EQ(SetTriggerTimeOut(5), StatusNoHardware);
  EXPECT_EQ(SetRecordLength(100), StatusNoHardware);
  EXPECT_EQ(SetTriggerLevel(0, 0.0), StatusNoHardware);  // the instrument check comes first
  EXPECT_EQ(GetSquareWaveGenStatus(), StatusNoHardware);
  EXPECT_EQ(SetTransferMode(0), StatusNoHardware);
}

TEST_F(WithoutInstrumentTest, AnAbsentBoardStillHasItsTransferModeAnswered) {
  ScopedTempCwd cwd;
  ScopedEnv absent("VM316_SIM_FAULT", "absent");
  ASSERT_EQ(InitInstrument(kSimBase), StatusNoHardware);
  int32_t mode = 7;
  EXPECT_EQ(SetTransferMode(1), StatusNotSupported);
  EXPECT_EQ(GetTransferMode(&mode), StatusNotSupported);
  EXPECT_EQ(mode, 7);
  EXPECT_EQ(SetDataReadyCallback(1), StatusNoHardware);
  ExitInstrument();
}

}  // namespace
}  // namespace vm316::testing
