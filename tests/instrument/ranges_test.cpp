#include <gtest/gtest.h>

#include <memory>

#include "instrument/vmx16.h"
#include "support/recording_backend.h"

namespace vm316 {
namespace {

using testing::RecordingBackend;

class Ranges : public ::testing::Test {
 protected:
  void SetUp() override {
    vm_.NotifySettings = true;
    vm_.OnSettingsChanged = [this](TVMx16&) { ++notifications_; };
  }
  TVMx16 vm_{std::make_unique<RecordingBackend>(nullptr)};
  int notifications_ = 0;
};

TEST_F(Ranges, RequestSelectsTheNearestRangeAndTheLowerOneOnATie) {
  const struct {
    long double volts;
    int range;
  } rows[] = {{3, 7}, {6, 8}, {60, 11}, {1000, 12}, {0, 1}, {-5, 1}, {0.03L, 1}, {0.7L, 6}};
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << "request " << static_cast<double>(row.volts));
    vm_.SelectRange(1, 80);
    vm_.SelectRange(1, row.volts);
    EXPECT_EQ(vm_.RangeIndex[1], row.range);
    EXPECT_EQ(vm_.DcLevelLimit[1], vm_.DcLevelLimits[row.range]);
  }
  EXPECT_EQ(vm_.RangeIndex[2], 6) << "another channel's range moved";
}

TEST_F(Ranges, OnlyTheCurrentSensitivityAsADoubleSelectsNothing) {
  for (int range = 1; range <= 12; ++range) {
    SCOPED_TRACE(::testing::Message() << "range " << range);
    const double as_double = static_cast<double>(vm_.Sensitivities[range]);
    vm_.SelectRange(2, as_double);
    ASSERT_EQ(vm_.RangeIndex[2], range);
    notifications_ = 0;
    vm_.SelectRange(2, as_double);
    vm_.SelectRange(2, vm_.Sensitivities[range]);
    EXPECT_EQ(notifications_, 0);
  }
  vm_.SelectRange(2, 0.8);
  notifications_ = 0;
  vm_.SelectRange(2, 0.7L);  // merely nearest: the same range again, and a notification
  EXPECT_EQ(vm_.RangeIndex[2], 6);
  EXPECT_EQ(notifications_, 1);
}

TEST_F(Ranges, DcLevelStaysWithinTheLimitOfTheCurrentRange) {
  vm_.SetDcLevel(1, 5.0L);  // before any range selection: the default range's 4 V limit
  EXPECT_EQ(vm_.GetDcLevel(1), 4.0L);
  vm_.SetDcLevel(1, 1.0L);
  EXPECT_EQ(vm_.GetDcLevel(1), 1.0L);
  vm_.SetDcLevel(2, -1.0L);
  vm_.SelectRange(1, 0.2L);
  vm_.SelectRange(2, 0.2L);
  EXPECT_EQ(vm_.GetDcLevel(1), 0.8L);
  EXPECT_EQ(vm_.GetDcLevel(2), -0.8L);

  vm_.SetDcLevel(3, 1000.0L);  // no limit beyond the board's two channels
  EXPECT_EQ(vm_.GetDcLevel(3), 1000.0L);
  notifications_ = 0;
  vm_.SetDcLevel(3, 1000.0L);
  EXPECT_EQ(notifications_, 0);
}

TEST_F(Ranges, CouplingNotifiesAndAutoRangingDoesNot) {
  vm_.SetCoupling(1, 1);
  vm_.SetCoupling(1, 1);
  EXPECT_EQ(vm_.GetCoupling(1), 1);
  EXPECT_EQ(notifications_, 1);
  vm_.SetAutoRanging(2, false);
  EXPECT_FALSE(vm_.GetAutoRanging(2));
  EXPECT_TRUE(vm_.GetAutoRanging(1));
  EXPECT_EQ(notifications_, 1);
}

TEST_F(Ranges, ChannelsOutsideTheSlotsAreIgnored) {
  vm_.SelectRange(5, 2);
  vm_.SetDcLevel(-1, 1);
  vm_.SetCoupling(99, 1);
  EXPECT_EQ(vm_.GetCoupling(99), 0);
  EXPECT_EQ(notifications_, 0);
}

TEST_F(Ranges, MeasureModeSetsTheChannelMaskWithoutNotification) {
  const struct {
    TMeasureMode mode;
    int mask;
    bool keeps_double_rate;
  } rows[] = {{mCh1, 1, true}, {mNone, 0, true}, {mCh2, 2, false},
              {mXY, 3, false}, {mCh3, 3, true},  {mCh12, 3, false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << "mode " << int{row.mode});
    vm_.DoubleRate = true;
    vm_.SetMeasureMode(row.mode);
    EXPECT_EQ(vm_.mMeasureMode, row.mode);
    EXPECT_EQ(vm_.ChannelMask, row.mask);
    EXPECT_EQ(vm_.DoubleRate, row.keeps_double_rate);
  }
  EXPECT_EQ(notifications_, 0);

  vm_.ChannelMask = 1;  // as the bring-up writes it
  vm_.SetMeasureMode(mCh12);
  EXPECT_EQ(vm_.ChannelMask, 1);
}

TEST_F(Ranges, ResolutionListOffersTwelveAndReportsEight) {
  EXPECT_EQ(vm_.ResolutionEntry(0), 12);
  EXPECT_EQ(vm_.ResolutionEntry(1), 0);
  vm_.SetResolution();
  EXPECT_EQ(vm_.Resolution, 8);
}

}  // namespace
}  // namespace vm316
