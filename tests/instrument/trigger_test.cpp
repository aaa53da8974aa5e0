#include <gtest/gtest.h>

#include <limits>
#include <memory>

#include "instrument/trigger_codes.h"
#include "instrument/vmx16.h"
#include "support/recording_backend.h"

namespace vm316 {
namespace {

using testing::RecordingBackend;

constexpr long double kRange6 = 0.8L;  // the extended table value, as the object holds it
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(TriggerCodes, LevelsConvertOnTheCurrentRangeAndStayWithinIt) {
  EXPECT_TRUE(LevelAdmitted(0.8, kRange6));
  EXPECT_TRUE(LevelAdmitted(-0.8, kRange6));
  EXPECT_FALSE(LevelAdmitted(0.8000001, kRange6));
  EXPECT_FALSE(LevelAdmitted(kNaN, kRange6));
  EXPECT_EQ(LevelToCode(0.8, kRange6), 255);
  EXPECT_EQ(LevelToCode(-0.8, kRange6), 0);  // -1, clamped
  EXPECT_EQ(LevelToCode(0.0, kRange6), 127);
  EXPECT_EQ(LevelToCode(0.4, kRange6), 191);
  EXPECT_EQ(LevelToCode(1e300, kRange6), 256);
  EXPECT_EQ(LevelToCode(-1e300, kRange6), 0);
  EXPECT_EQ(LevelToCode(0.0390625, 2.0L), 127 + 2);  // 2.5 codes: a tie goes to the even one
  EXPECT_EQ(static_cast<double>(CodeToLevel(191, kRange6)), 0.4);
  EXPECT_EQ(CodeToLevel(191, 2.0L), 1.0L);
}

TEST(TriggerCodes, HysteresisConvertsAndEveryNegativeCountIsTheLargestCode) {
  EXPECT_EQ(HysteresisToCode(0.05, kRange6), 8);
  EXPECT_EQ(static_cast<double>(CodeToHysteresis(8, kRange6)), 0.05);
  EXPECT_EQ(HysteresisToCode(1.6, kRange6), 256);
  EXPECT_EQ(HysteresisToCode(-0.1, kRange6), 256);
  // -65 536 codes would wrap to 0 as a 16-bit count; it is a negative count like any other.
  EXPECT_EQ(HysteresisToCode(-409.6, kRange6), 256);
  EXPECT_EQ(HysteresisToCode(-1e300, kRange6), 256);
  EXPECT_EQ(HysteresisToCode(kNaN, kRange6), 256);
}

TEST(TriggerCodes, HysteresisAdmissionDependsOnTheSlope) {
  const long double low = CodeToLevel(LevelToCode(-0.7, kRange6), kRange6);
  const long double high = CodeToLevel(LevelToCode(0.7, kRange6), kRange6);
  const struct {
    std::uint8_t slope;
    long double level;
    double hysteresis;
    bool admitted;
  } rows[] = {
      {SlopeRising, low, 0.2, false},
      {SlopeRising, low, 0.05, true},
      {SlopeRising, 0, 0.8, true},
      {SlopeRising, 0, -0.1, true},
      {SlopeFalling, high, 0.2, false},
      {SlopeFalling, high, 0.05, true},
      {SlopeFalling, low, 0.2, true},
      {2, low, 0.2, true},
      {3, low, -0.1, true},
      {3, low, -1.0, true},
      {2, 0, kNaN, false},
      {4, 0, 0.01, false},
      {11, 0, 0.01, false},
      {SlopeRising, 0, kNaN, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message()
                 << "slope " << int{row.slope} << ", level " << static_cast<double>(row.level)
                 << ", hysteresis " << row.hysteresis);
    EXPECT_EQ(HysteresisAdmitted(row.slope, row.level, row.hysteresis, kRange6), row.admitted);
  }
}

TEST(TriggerCodes, DcLevelIsAdmittedUpToTwiceTheSensitivity) {
  EXPECT_TRUE(DcLevelAdmitted(1.6, kRange6));
  EXPECT_TRUE(DcLevelAdmitted(-1.6, kRange6));
  EXPECT_FALSE(DcLevelAdmitted(1.61, kRange6));
  EXPECT_FALSE(DcLevelAdmitted(kNaN, kRange6));
}

TEST(TriggerCodes, SourcesAndSlopesFollowTheCapabilities) {
  TVMx16 vm(std::make_unique<RecordingBackend>(nullptr));
  for (int value = 0; value <= 255; ++value) {
    const auto source = static_cast<std::uint8_t>(value);
    const bool offered = source == tsCh1 || source == tsCh2 || source == tsExternal ||
                         source == tsAnd || source == tsOr || source == tsNoTrig;
    EXPECT_EQ(TriggerSourceAdmission(vm, source), offered       ? Admission::kOk
                                                  : value >= 15 ? Admission::kInvalidValue
                                                                : Admission::kNotSupported)
        << "source " << value;
    EXPECT_EQ(TriggerSlopeAdmission(vm, source), value < 2     ? Admission::kOk
                                                 : value >= 12 ? Admission::kInvalidValue
                                                               : Admission::kNotSupported)
        << "slope " << value;
  }
  vm.ChannelCount = 4;
  vm.HasXorTrigger = vm.HasGeneratorTrigger = vm.HasTriggerModes2And3 = true;
  for (std::uint8_t source : {tsCh3, tsCh4, tsXor, tsGenNew}) {
    EXPECT_EQ(TriggerSourceAdmission(vm, source), Admission::kOk) << int{source};
  }
  EXPECT_EQ(TriggerSourceAdmission(vm, tsNeverTrig), Admission::kNotSupported);
  EXPECT_EQ(TriggerSlopeAdmission(vm, 3), Admission::kOk);
  EXPECT_EQ(TriggerSlopeAdmission(vm, 4), Admission::kNotSupported);
}

TEST(TriggerSettings, SettersStoreAnyValueAndNotifyOnlyOnAChange) {
  TVMx16 vm(std::make_unique<RecordingBackend>(nullptr));
  int notifications = 0;
  vm.NotifySettings = true;
  vm.OnSettingsChanged = [&](TVMx16&) { ++notifications; };

  vm.SetTriggerSource(tsCh2);
  vm.SetTriggerSource(tsCh2);
  EXPECT_EQ(vm.ActiveTriggerSource, tsCh2);
  EXPECT_EQ(notifications, 1);

  vm.SetTriggerSlope(0, SlopeFalling);  // the external input's slot
  vm.SetTriggerLevel(2, 191);
  vm.SetTriggerHysteresis(2, 256);
  vm.SetTrigTimeOut(-1.0L);
  vm.SetTrigTimeOut(-1.0L);
  EXPECT_EQ(vm.GetTriggerSlope(0), SlopeFalling);
  EXPECT_EQ(vm.GetTriggerSlope(1), SlopeRising);
  EXPECT_EQ(vm.GetTriggerLevel(2), 191);
  EXPECT_EQ(vm.GetTriggerHysteresis(2), 256);
  EXPECT_EQ(vm.rTrigTimeOut, -1.0L);
  EXPECT_EQ(notifications, 5);

  vm.SelectRange(2, 2.0L);  // a range change leaves the codes as they are
  EXPECT_EQ(CodeToLevel(vm.GetTriggerLevel(2), vm.ChannelSensitivity(2)), 1.0L);

  vm.SetTriggerSlope(5, SlopeFalling);
  vm.SetTriggerLevel(-1, 0);
  EXPECT_EQ(vm.GetTriggerLevel(-1), 0);
  EXPECT_EQ(notifications, 6);
}

}  // namespace
}  // namespace vm316
