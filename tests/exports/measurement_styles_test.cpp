// The three measurement styles on the simulated board, through the C interface as a host
// uses it: block style, the blocking StartMeasurement, and the timer-driven DoMeasure.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "sim_session.h"
#include "vm316.h"
#include "vm316_host.h"

namespace vm316::testing {
namespace {

constexpr uint32_t kSampleFrequency = 1000000;  // 1000 samples per period of the 1 kHz sine
// The board accepts a trigger from the first sample after the arm, so samples before the arm
// may stand in front of the trigger instant. A short pre-trigger part stays clear of them:
// the comparator re-arms beyond the hysteresis, some tens of samples before it can fire.
constexpr uint32_t kRecordLength = 4000;
constexpr uint32_t kPreSamples = 16;
constexpr uint32_t kPostSamples = kRecordLength - kPreSamples;
constexpr double kSineAmplitude = 0.5;
constexpr double kSinePeriodSamples = 1000.0;
constexpr double kChannel2Dc = 0.3;
// One converter step on the 0.8 V range is 6.25 mV.
constexpr double kStep = 0.8 / 128;

struct Trigger {
  double level;
  uint8_t slope;
};

// Takes one record and returns it in volts.
using Style = std::function<Record()>;

Record BlockStyle() {
  EXPECT_EQ(ADC_Start(), StatusOk);
  EXPECT_EQ(ADC_Running(), 1);
  int polls = 0;
  while (ADC_Ready() == 0 && ++polls < 1000000) {
  }
  EXPECT_EQ(ADC_Ready(), 1);
  Record record = BlockVoltRecord();
  EXPECT_EQ(ADC_Running(), 0);
  return record;
}

Record BlockingStyle() {
  EXPECT_EQ(StartMeasurement(), StatusOk);
  return VoltRecord();
}

Record ContinuousStyle() {
  EXPECT_EQ(DoMeasure(-1), StatusOk);
  PumpFor(60);
  EXPECT_EQ(DoMeasure(0), StatusOk);
  return VoltRecord();
}

Record OneShotStyle() {
  EXPECT_EQ(DoMeasure(1), StatusOk);
  PumpFor(60);
  Record record = VoltRecord();
  EXPECT_EQ(DoMeasure(0), StatusOk);
  return record;
}

struct StyleCase {
  std::string name;
  Style take;
};

void PrintTo(const StyleCase& style, std::ostream* out) {
  *out << style.name;
}

class MeasurementStyleTest : public SimulatedBoardTest,
                             public ::testing::WithParamInterface<StyleCase> {
 protected:
  void SetUp() override {
    ASSERT_EQ(BringUp(BoardInputs().Ch1("sine:freq=1000,amp=0.5").Ch2("dc:offset=0.3")), StatusOk);
    uint32_t frequency = kSampleFrequency;
    ASSERT_EQ(SetSampleFrequency(&frequency), StatusOk);
    ASSERT_EQ(frequency, kSampleFrequency);
    ASSERT_EQ(SetRecordLength(kRecordLength), StatusOk);
    ASSERT_EQ(SetPostSamples(kPostSamples), StatusOk);
  }

  void ExpectTriggeredSine(const Trigger& trigger) {
    ASSERT_EQ(SetTriggerLevel(1, trigger.level), StatusOk);
    ASSERT_EQ(SetTriggerMode(trigger.slope), StatusOk);
    const Record record = GetParam().take();
    ASSERT_EQ(record.ch1.size(), kRecordLength);

    EXPECT_NEAR(Amplitude(record.ch1), kSineAmplitude, 0.03 * kSineAmplitude);
    const bool rising = trigger.slope == SlopeRising;
    EXPECT_NEAR(MeanPeriod(Crossings(record.ch1, 0.0, rising)), kSinePeriodSamples,
                0.005 * kSinePeriodSamples);
    // The trigger instant is sample lPreSamples, where the signal passes the level.
    EXPECT_NEAR(NearestCrossing(Crossings(record.ch1, trigger.level, rising), kPreSamples),
                kPreSamples, 4.0)
        << "level " << trigger.level << (rising ? " rising" : " falling");
    EXPECT_NEAR(Mean(record.ch2), kChannel2Dc, kStep + 0.01 * kChannel2Dc);
    EXPECT_LE(Amplitude(record.ch2), 2 * kStep);  // converter noise only
  }
};

TEST_P(MeasurementStyleTest, RecordsTheSineTriggeredAtLevelAndSlopeWithChannel2AtItsDcValue) {
  ExpectTriggeredSine({0.2, SlopeRising});
  ExpectTriggeredSine({-0.1, SlopeFalling});
}

INSTANTIATE_TEST_SUITE_P(
    AllStyles, MeasurementStyleTest,
    ::testing::Values(StyleCase{"Block", BlockStyle}, StyleCase{"Blocking", BlockingStyle},
                      StyleCase{"Continuous", ContinuousStyle}, StyleCase{"OneShot", OneShotStyle}),
    [](const ::testing::TestParamInfo<StyleCase>& param_info) { return param_info.param.name; });

class BlockStyleTest : public SimulatedBoardTest {};

TEST_F(BlockStyleTest, TriggeredAnswersTheTriggerBitsOfTheSource) {
  ASSERT_EQ(BringUp(BoardInputs()
                        .Ch1("sine:freq=1000,amp=0.5")
                        .Ch2("sine:freq=1000,amp=0.5")
                        .Ext("square:freq=1000,amp=2.5,offset=2.5")),
            StatusOk);
  const struct {
    TTrigSource source;
    uint16_t bits;
  } cases[] = {{tsCh1, 2}, {tsCh2, 4}, {tsExternal, 6}, {tsAnd, 6}, {tsOr, 6}};
  std::vector<uint16_t> samples(static_cast<std::size_t>(GetRecordLength()));
  for (const auto& c : cases) {
    ASSERT_EQ(SetTriggerSource(c.source), StatusOk);
    ASSERT_EQ(ADC_Start(), StatusOk);
    EXPECT_EQ(ADC_Running(), 1);
    int polls = 0;
    while (ADC_Ready() == 0 && ++polls < 1000000) {
    }
    EXPECT_EQ(ADC_Triggered(), c.bits) << "source " << int{c.source};
    EXPECT_EQ(ADC_Running(), 1);  // until the first fetch
    ASSERT_EQ(ADC_GetDataCh(2, samples.data()), StatusOk);
    EXPECT_EQ(ADC_Running(), 0);
  }
}

TEST_F(BlockStyleTest, OnlyTheFirstFetchAfterAStartReadsTheBoard) {
  ASSERT_EQ(BringUp(BoardInputs().Ch1("noise:amp=0.3")), StatusOk);
  ASSERT_EQ(SetTriggerSource(tsNoTrig), StatusOk);
  ASSERT_EQ(ADC_Start(), StatusOk);
  PumpFor(1);
  const auto length = static_cast<std::size_t>(GetRecordLength());
  std::vector<uint16_t> first1(length), first2(length), again1(length), again2(length);
  ASSERT_EQ(ADC_GetData(first1.data(), first2.data()), StatusOk);
  ASSERT_EQ(ADC_GetData(again1.data(), again2.data()), StatusOk);
  EXPECT_EQ(first1, again1);  // a second read of the board would see other noise
  EXPECT_EQ(first2, again2);
  std::vector<uint16_t> channel(length);
  ASSERT_EQ(ADC_GetDataCh(1, channel.data()), StatusOk);
  EXPECT_EQ(channel, first1);
  EXPECT_EQ(ADC_GetDataCh(0, channel.data()), StatusInvalidChannel);
  EXPECT_EQ(ADC_GetDataCh(3, channel.data()), StatusInvalidChannel);
}

// A host-side auto trigger: arm, do something else for 50 ms, force unless the trigger came.
// With an input that crosses the level every 100 us it never has to force, with or without a
// part before the trigger, at every rate whose hold-off the arm waits out.
TEST_F(BlockStyleTest, AHostsAutoTriggerFindsTheTriggerOfAFastInputEveryTime) {
  ASSERT_EQ(BringUp(BoardInputs().Ch1("sine:freq=10000,amp=0.5")), StatusOk);
  std::vector<uint16_t> ch1(kRecordLength), ch2(kRecordLength);
  for (const double rate : {20e6, 1e6, 50e3}) {
    for (const uint32_t post : {256u, 512u}) {
      double frequency = rate;
      ASSERT_EQ(SetSampleFrequencyF(&frequency), StatusOk);
      ASSERT_EQ(SetPostSamples(post), StatusOk);
      int forced = 0;
      for (int record = 0; record < 20; ++record) {
        ASSERT_EQ(ADC_Start(), StatusOk);
        PumpFor(50);
        if (ADC_Triggered() == 0) {
          ++forced;
          ADC_ForceTrig();
        }
        while (ADC_Ready() == 0) {
        }
        ASSERT_EQ(ADC_GetData(ch1.data(), ch2.data()), StatusOk);
      }
      EXPECT_EQ(forced, 0) << rate << " Hz, " << 512 - post << " before the trigger";
    }
  }
}

class TimerDrivenTest : public SimulatedBoardTest {};

// A one-shot measurement takes one record and then holds: later records would fill the part of
// a longer record that no record has reached yet.
TEST_F(TimerDrivenTest, OneShotEndsInHoldAndTheNextOneShotMeasuresAgain) {
  ASSERT_EQ(BringUp(BoardInputs().Ch1("sine:freq=1000,amp=0.5")), StatusOk);
  ASSERT_EQ(SetTriggerSource(tsNoTrig), StatusOk);
  ASSERT_EQ(DoMeasure(5), StatusOk);  // any value but 0 and -1 is one-shot
  PumpFor(50);
  uint16_t sample = 0;
  ASSERT_EQ(GetOneMeasurementRaw(100, &sample, &sample), StatusOk);
  EXPECT_NE(sample, 0);

  constexpr int32_t kLonger = 6000;
  ASSERT_EQ(SetRecordLength(kLonger), StatusOk);
  PumpFor(100);
  ASSERT_EQ(GetOneMeasurementRaw(kLonger - 1, &sample, &sample), StatusOk);
  EXPECT_EQ(sample, 0) << "a record was taken in hold";

  ASSERT_EQ(DoMeasure(1), StatusOk);  // the timer is still on: the next tick measures
  PumpFor(50);
  ASSERT_EQ(GetOneMeasurementRaw(kLonger - 1, &sample, &sample), StatusOk);
  EXPECT_NE(sample, 0);
}

TEST_F(TimerDrivenTest, ASettingsChangeDuringContinuousAcquisitionReachesTheNextRecord) {
  ASSERT_EQ(BringUp(BoardInputs().Ch1("sine:freq=1000,amp=0.5")), StatusOk);
  uint32_t frequency = kSampleFrequency;
  ASSERT_EQ(SetSampleFrequency(&frequency), StatusOk);
  ASSERT_EQ(SetRecordLength(2000), StatusOk);
  ASSERT_EQ(SetPostSamples(2000), StatusOk);  // no samples from before the arm
  ASSERT_EQ(DoMeasure(-1), StatusOk);
  PumpFor(60);
  const std::vector<uint16_t> raw_before = RawRecord(1);
  const double raw_on_08 = Amplitude(std::vector<double>(raw_before.begin(), raw_before.end()));
  EXPECT_NEAR(Amplitude(VoltRecord().ch1), kSineAmplitude, 0.03 * kSineAmplitude);

  double sensitivity = 2.0;
  ASSERT_EQ(SetSensitivity(1, &sensitivity), StatusOk);
  PumpFor(60);
  const std::vector<uint16_t> raw = RawRecord(1);
  const double raw_on_2 = Amplitude(std::vector<double>(raw.begin(), raw.end()));
  EXPECT_NEAR(raw_on_08 / raw_on_2, 2.0 / 0.8, 0.1);
  EXPECT_NEAR(Amplitude(VoltRecord().ch1), kSineAmplitude, 0.03 * kSineAmplitude + 2.0 / 128);
  EXPECT_EQ(DoMeasure(0), StatusOk);
}

TEST_F(TimerDrivenTest, DoMeasureNeedsAnInitialisedPresentInstrument) {
  ExitInstrument();
  EXPECT_EQ(DoMeasure(-1), StatusNoHardware);
  EXPECT_EQ(StartMeasurement(), StatusNoHardware);
  EXPECT_EQ(ADC_Start(), StatusNoHardware);
  EXPECT_EQ(ADC_Running(), 0);
  EXPECT_EQ(ADC_Ready(), 0);
  EXPECT_EQ(ADC_Triggered(), 0);
}

class AutomaticRangingTest : public SimulatedBoardTest {};

TEST_F(AutomaticRangingTest, WalksUpOneRangePerRecordToTheFirstThatHoldsTheSignal) {
  ASSERT_EQ(BringUp(BoardInputs().Ch1("sine:freq=1000,amp=5")), StatusOk);
  uint32_t frequency = kSampleFrequency;
  ASSERT_EQ(SetSampleFrequency(&frequency), StatusOk);
  ASSERT_EQ(SetRecordLength(2000), StatusOk);
  ASSERT_EQ(SetPostSamples(2000), StatusOk);  // no samples from before the arm
  double sensitivity = 0.02;
  ASSERT_EQ(SetSensitivity(1, &sensitivity), StatusOk);
  ASSERT_EQ(SetAutoRanging(1, 1), StatusOk);

  // The range a record was taken on; the step it decides applies at the next arm.
  const std::vector<double> expected = {0.02, 0.04, 0.08, 0.2, 0.4, 0.8, 2, 4, 8, 8, 8};
  for (double range : expected) {
    ASSERT_EQ(StartMeasurement(), StatusOk);
    ASSERT_EQ(GetSensitivity(1, &sensitivity), StatusOk);
    EXPECT_DOUBLE_EQ(sensitivity, range);
  }
  EXPECT_NEAR(Amplitude(VoltRecord().ch1), 5.0, 0.03 * 5.0);
}

// Free-running records with a pre-trigger part hold only signal: a small sine stays on its
// range, however often it is measured.
TEST_F(AutomaticRangingTest, ASmallSineRecordedFreeRunningStaysOnItsRange) {
  ASSERT_EQ(BringUp(BoardInputs().Ch1("sine:freq=1000,amp=0.5")), StatusOk);
  uint32_t frequency = 100000;
  ASSERT_EQ(SetSampleFrequency(&frequency), StatusOk);
  ASSERT_EQ(SetTriggerSource(tsNoTrig), StatusOk);  // 256 of the 512 samples before the trigger
  ASSERT_EQ(SetAutoRanging(1, 1), StatusOk);
  for (int record = 0; record < 8; ++record) {
    ASSERT_EQ(StartMeasurement(), StatusOk);
    double sensitivity = 0.0;
    ASSERT_EQ(GetSensitivity(1, &sensitivity), StatusOk);
    EXPECT_DOUBLE_EQ(sensitivity, 0.8) << record;
  }
}

// Slow records complete within their bound and the board stays: the bound counts the samples
// after the trigger at the clock programmed, also when the post-trigger count was left above a
// shrunk record length (no samples before the trigger, and the record read from after it).
TEST_F(AutomaticRangingTest, SlowRecordsCompleteAtTheLowestRateInEveryGeometry) {
  ASSERT_EQ(BringUp(BoardInputs().Ch1("sine:freq=0.05,amp=0.5")), StatusOk);
  double frequency = 0.61;
  ASSERT_EQ(SetSampleFrequencyF(&frequency), StatusOk);
  ASSERT_EQ(SetRecordLength(64), StatusOk);  // post stays 256
  for (const uint32_t post : {256u, 32u}) {
    if (post != 256) {
      ASSERT_EQ(SetPostSamples(post), StatusOk);
    }
    ASSERT_EQ(StartMeasurement(), StatusOk) << post;
    EXPECT_NEAR(Amplitude(VoltRecord().ch1), 0.5, 0.05) << post;  // five periods of signal
    uint16_t channels = 0;
    EXPECT_EQ(GetNrChannels(&channels), StatusOk);
  }
}

class SquareWaveGeneratorTest : public SimulatedBoardTest {};

TEST_F(SquareWaveGeneratorTest, TheOutputWiredToChannel1IsMeasuredAtTheFrequencySet) {
  ASSERT_EQ(BringUp(BoardInputs().Ch1("generator")), StatusOk);
  uint32_t requested = 1000;
  ASSERT_EQ(SetSquareWaveGenFrequency(&requested), StatusOk);
  EXPECT_EQ(requested, 1000u);
  EXPECT_EQ(GetSquareWaveGenFrequency(), 1000);

  uint32_t frequency = 100000;
  ASSERT_EQ(SetSampleFrequency(&frequency), StatusOk);
  ASSERT_EQ(SetRecordLength(20000), StatusOk);  // 200 ms: 200 periods
  ASSERT_EQ(SetPostSamples(20000), StatusOk);
  double sensitivity = 8.0;
  ASSERT_EQ(SetSensitivity(1, &sensitivity), StatusOk);
  ASSERT_EQ(SetTriggerLevel(1, 2.5), StatusOk);
  ASSERT_EQ(StartMeasurement(), StatusOk);
  const Record record = VoltRecord();
  const double period = MeanPeriod(Crossings(record.ch1, 2.5, true, 0.5));
  ASSERT_GT(period, 0.0);
  EXPECT_NEAR(frequency / period, 1000.0, 5.0);
}

}  // namespace
}  // namespace vm316::testing
