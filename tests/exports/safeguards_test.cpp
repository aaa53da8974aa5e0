// Where the interface guards the host against plainly wrong results and unsafe input: the
// trigger time-out is time in every drive, a dead board ends a blocking measurement, and no
// export reads outside a record, writes through a null pointer or computes with NaN.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "sim_session.h"
#include "vm316.h"

namespace vm316::testing {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Waiting for a trigger costs the simulated board every sample it records meanwhile; a slow
// clock keeps the long waits of these tests cheap.
void UseSlowClock() {
  uint32_t frequency = 100000;
  ASSERT_EQ(SetSampleFrequency(&frequency), StatusOk);
}

class TriggerTimeOutTest : public SimulatedBoardTest {};

// One-shot on the timer: a trigger level the grounded input never reaches is forced once the
// time-out has passed as time, not after a handful of 6 ms ticks.
TEST_F(TriggerTimeOutTest, TheTimerDriveForcesTheTriggerAfterTheTimeOutAsTime) {
  ASSERT_EQ(BringUp(), StatusOk);
  UseSlowClock();
  ASSERT_EQ(SetTriggerLevel(1, 0.5), StatusOk);
  ASSERT_EQ(SetTriggerTimeOut(300), StatusOk);
  constexpr int32_t kLength = 5000;  // longer than any record before: its end starts at 0
  ASSERT_EQ(SetRecordLength(kLength), StatusOk);
  ASSERT_EQ(DoMeasure(1), StatusOk);
  uint32_t waited = 0;
  uint16_t last = 0;
  while (last == 0 && waited < 1000) {
    PumpFor(10);
    waited += 10;
    ASSERT_EQ(GetOneMeasurementRaw(kLength - 1, &last, &last), StatusOk);
  }
  EXPECT_NE(last, 0) << "no record within a second";
  EXPECT_GE(waited, 300u);
  EXPECT_LE(waited, 400u);
}

// The blocking loop steps back to back; a time-out counted in steps would force the trigger
// within microseconds, long before this slow signal reaches the level.
TEST_F(TriggerTimeOutTest, TheBlockingDriveWaitsForASlowTrigger) {
  ASSERT_EQ(BringUp(BoardInputs().Ch1("sine:freq=2,amp=0.5")), StatusOk);
  uint32_t frequency = 1000;
  ASSERT_EQ(SetSampleFrequency(&frequency), StatusOk);
  ASSERT_EQ(SetRecordLength(200), StatusOk);
  ASSERT_EQ(SetPostSamples(190), StatusOk);
  ASSERT_EQ(SetTriggerLevel(1, 0.2), StatusOk);
  ASSERT_EQ(SetTriggerHys(1, 0.2), StatusOk);  // re-arms below 0 V, well before the level
  ASSERT_EQ(SetTriggerTimeOut(1000), StatusOk);
  ASSERT_EQ(StartMeasurement(), StatusOk);
  // Sample 10 is the trigger instant: at the level, and rising on from there.
  const Record record = VoltRecord();
  EXPECT_NEAR(record.ch1[10], 0.2, 0.03);
  EXPECT_GT(record.ch1[40], 0.3);
}

TEST_F(TriggerTimeOutTest, WithoutATimeOutATriggeringSignalStillCompletes) {
  ASSERT_EQ(BringUp(BoardInputs().Ch1("sine:freq=1000,amp=0.5")), StatusOk);
  ASSERT_EQ(SetTriggerTimeOut(0xFFFFFFFF), StatusOk);
  EXPECT_EQ(GetTriggerTimeOut(), -1);
  uint32_t frequency = 1000000;
  ASSERT_EQ(SetSampleFrequency(&frequency), StatusOk);
  ASSERT_EQ(SetPostSamples(500), StatusOk);  // 12 samples before the trigger instant
  ASSERT_EQ(SetTriggerLevel(1, 0.2), StatusOk);
  ASSERT_EQ(StartMeasurement(), StatusOk);
  EXPECT_NEAR(NearestCrossing(Crossings(VoltRecord().ch1, 0.2, true), 12.0), 12.0, 4.0);
}

TEST_F(TriggerTimeOutTest, ATriggerThatNeverComesIsForcedInTheBlockingDrive) {
  ASSERT_EQ(BringUp(BoardInputs().Ch1("dc:offset=0.1")), StatusOk);
  UseSlowClock();
  ASSERT_EQ(SetTriggerLevel(1, 0.5), StatusOk);
  ASSERT_EQ(SetTriggerTimeOut(200), StatusOk);
  ASSERT_EQ(StartMeasurement(), StatusOk);
  EXPECT_NEAR(Mean(VoltRecord().ch1), 0.1, 0.01);
}

class DeadBoardTest : public SimulatedBoardTest {};

// A board that never completes a record, not even a forced one, is given up: the blocking
// call returns StatusNoHardware. The board still answers, so that is no verdict: it stays
// present, and the next call tries again.
TEST_F(DeadBoardTest, AStuckRecorderEndsTheBlockingMeasurementWithNoHardware) {
  ASSERT_EQ(BringUp(BoardInputs().Fault("stuck-busy")), StatusOk);
  UseSlowClock();
  ASSERT_EQ(SetTriggerTimeOut(100), StatusOk);  // given up about 1.1 s after the start
  EXPECT_EQ(StartMeasurement(), StatusNoHardware);
  uint16_t channels = 0;
  EXPECT_EQ(GetNrChannels(&channels), StatusOk);
  EXPECT_EQ(StartMeasurement(), StatusNoHardware);
}

class InputSafetyTest : public SimulatedBoardTest {
 protected:
  void SetUp() override { ASSERT_EQ(BringUp(), StatusOk); }
};

TEST_F(InputSafetyTest, SingleSampleGettersReadInsideTheRecordOnly) {
  ASSERT_EQ(SetRecordLength(100), StatusOk);
  uint16_t raw1 = 7;
  uint16_t raw2 = 7;
  double volt1 = 7.0;
  double volt2 = 7.0;
  for (int32_t index :
       {-1, 100, std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min()}) {
    EXPECT_EQ(GetOneMeasurementRaw(index, &raw1, &raw2), StatusInvalidValue) << index;
    EXPECT_EQ(GetOneMeasurement(index, &volt1, &volt2), StatusInvalidValue) << index;
    EXPECT_EQ(GetOneMeasurementRawCh(2, index, &raw1), StatusInvalidValue) << index;
  }
  EXPECT_EQ(raw1, 7);
  EXPECT_EQ(raw2, 7);
  EXPECT_EQ(volt1, 7.0);
  EXPECT_EQ(volt2, 7.0);
  EXPECT_EQ(GetOneMeasurementRawCh(3, -1, &raw1), StatusInvalidChannel);  // channel first
  EXPECT_EQ(GetOneMeasurementRaw(99, &raw1, &raw2), StatusOk);
  EXPECT_EQ(GetOneMeasurementRawCh(1, 0, &raw1), StatusOk);
}

TEST_F(InputSafetyTest, ANullPointerIsAnInvalidValueAndNothingHappens) {
  double volts[20] = {};
  uint16_t raw[600] = {};
  const std::vector<std::pair<std::string, std::function<uint16_t()>>> calls = {
      {"GetMeasurement", [&] { return GetMeasurement(nullptr, volts); }},
      {"GetMeasurementRaw", [&] { return GetMeasurementRaw(raw, nullptr); }},
      {"GetOneMeasurement", [&] { return GetOneMeasurement(0, volts, nullptr); }},
      {"GetOneMeasurementRaw", [&] { return GetOneMeasurementRaw(0, nullptr, raw); }},
      {"GetOneMeasurementRawCh", [] { return GetOneMeasurementRawCh(1, 0, nullptr); }},
      {"ADC_GetData", [&] { return ADC_GetData(nullptr, raw); }},
      {"ADC_GetDataVolt", [&] { return ADC_GetDataVolt(volts, nullptr); }},
      {"ADC_GetDataCh", [] { return ADC_GetDataCh(1, nullptr); }},
      {"ADC_GetDataVoltCh", [] { return ADC_GetDataVoltCh(2, nullptr); }},
      {"SetSampleFrequencyF", [] { return SetSampleFrequencyF(nullptr); }},
      {"SetSampleFrequency", [] { return SetSampleFrequency(nullptr); }},
      {"GetNrChannels", [] { return GetNrChannels(nullptr); }},
      {"GetAvailableSensitivities", [] { return GetAvailableSensitivities(nullptr); }},
      {"GetSensitivity", [] { return GetSensitivity(1, nullptr); }},
      {"SetSensitivity", [] { return SetSensitivity(1, nullptr); }},
      {"GetAutoRanging", [] { return GetAutoRanging(1, nullptr); }},
      {"GetCoupling", [] { return GetCoupling(2, nullptr); }},
      {"GetDcLevel", [] { return GetDcLevel(1, nullptr); }},
      {"GetAvailableResolutions", [] { return GetAvailableResolutions(nullptr); }},
      {"GetResolution", [] { return GetResolution(nullptr); }},
      {"GetMeasureMode", [] { return GetMeasureMode(nullptr); }},
      {"GetTriggerSource", [] { return GetTriggerSource(nullptr); }},
      {"GetTriggerMode", [] { return GetTriggerMode(nullptr); }},
      {"GetTriggerModeCh", [] { return GetTriggerModeCh(0, nullptr); }},
      {"GetTriggerLevel", [] { return GetTriggerLevel(1, nullptr); }},
      {"GetTriggerHys", [] { return GetTriggerHys(2, nullptr); }},
      {"SetSquareWaveGenFrequency", [] { return SetSquareWaveGenFrequency(nullptr); }},
  };
  ASSERT_EQ(ADC_Start(), StatusOk);
  for (const auto& [name, call] : calls) EXPECT_EQ(call(), StatusInvalidValue) << name;
  EXPECT_EQ(ADC_Running(), 1) << "a refused fetch read the board";
  // The channel test still comes first.
  EXPECT_EQ(GetSensitivity(3, nullptr), StatusInvalidChannel);
  double sensitivity = 0.0;
  ASSERT_EQ(GetSensitivity(1, &sensitivity), StatusOk);
  EXPECT_DOUBLE_EQ(sensitivity, 0.8);
}

TEST_F(InputSafetyTest, NaNAndInfinityAreInvalidValuesAndChangeNothing) {
  for (double bad : {kNaN, kInfinity, -kInfinity}) {
    EXPECT_EQ(SetTriggerLevel(1, bad), StatusInvalidValue);
    EXPECT_EQ(SetDcLevel(1, bad), StatusInvalidValue);
    double frequency = bad;
    EXPECT_EQ(SetSampleFrequencyF(&frequency), StatusInvalidValue);
  }
  EXPECT_EQ(SetTriggerHys(2, kNaN), StatusInvalidValue);
  double sensitivity = kNaN;
  EXPECT_EQ(SetSensitivity(1, &sensitivity), StatusInvalidValue);
  EXPECT_TRUE(std::isnan(sensitivity));                       // not written back
  EXPECT_EQ(SetTriggerLevel(3, kNaN), StatusInvalidChannel);  // channel first
  double level = 1.0;
  ASSERT_EQ(GetTriggerLevel(1, &level), StatusOk);
  EXPECT_NEAR(level, 0.0, 0.01);
  double dc_level = 1.0;
  ASSERT_EQ(GetDcLevel(1, &dc_level), StatusOk);
  EXPECT_EQ(dc_level, 0.0);
  EXPECT_EQ(GetSampleFrequencyF(), 20e6);
}

// An infinity is a value like any large one: the range nearest to it, and the hysteresis rule
// of a huge value, each written back or read back.
TEST_F(InputSafetyTest, InfinitiesMeetTheRulesOfHugeValues) {
  double sensitivity = kInfinity;
  EXPECT_EQ(SetSensitivity(1, &sensitivity), StatusOk);
  EXPECT_EQ(sensitivity, 80.0);
  sensitivity = -kInfinity;
  EXPECT_EQ(SetSensitivity(1, &sensitivity), StatusOk);
  EXPECT_EQ(sensitivity, 0.02);
  for (double hysteresis : {-1e300, -kInfinity}) {
    ASSERT_EQ(SetTriggerHys(2, 0.0), StatusOk);
    EXPECT_EQ(SetTriggerHys(2, hysteresis), StatusOk) << hysteresis;
    double read = 0;
    ASSERT_EQ(GetTriggerHys(2, &read), StatusOk);
    EXPECT_DOUBLE_EQ(read, 0.8 * 256 / 128) << hysteresis;  // the largest code, 256
  }
  EXPECT_EQ(SetTriggerHys(2, kInfinity), StatusInvalidValue);
}

TEST_F(InputSafetyTest, ASampleFrequencyOfZeroOrBelowIsAnInvalidValue) {
  for (double bad : {0.0, -0.0, -1.0, -20e6}) {
    double frequency = bad;
    EXPECT_EQ(SetSampleFrequencyF(&frequency), StatusInvalidValue) << bad;
    EXPECT_EQ(frequency, bad);
  }
  uint32_t zero = 0;
  EXPECT_EQ(SetSampleFrequency(&zero), StatusInvalidValue);
  EXPECT_EQ(zero, 0u);  // written back whatever the status: the request itself
  EXPECT_EQ(GetSampleFrequency(), 20000000);
  // The lowest rate the clock reaches is still accepted.
  double slow = 0.5;
  EXPECT_EQ(SetSampleFrequencyF(&slow), StatusOk);
  EXPECT_GT(slow, 0.6);
  EXPECT_LT(slow, 0.62);
}

}  // namespace
}  // namespace vm316::testing
