#include <gtest/gtest.h>

#include <memory>

#include "instrument/frontend.h"
#include "instrument/vmx16.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "scripted_recorder.h"

namespace vm316 {
namespace {

using testing::ScriptedRecorder;

constexpr std::uint16_t kBase = 0x378;
constexpr double kStep = 0.00244140625;  // one DC-level DAC step
constexpr int kOffsetPost = 55;
constexpr int kGainPost = 700;

class CalibrationLoops : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SystemClock().Select(platform::ClockKind::kVirtual);
    platform::SetMessageSink(platform::MessageSink::kQuiet);
  }
  void TearDown() override { RestoreRelayTables(); }

  void Make(ScriptedRecorder::Script script) {
    auto backend = std::make_unique<ScriptedRecorder>(kBase, std::move(script));
    recorder_ = backend.get();
    vm_ = std::make_unique<TVMx16>(std::move(backend));
    vm_->SetHardwareAddress(kBase);
    vm_->HardwarePresent = true;
    for (auto& row : vm_->GainTrim) row.fill(kNeutralGainTrim);
    for (auto& row : vm_->OffsetCorrection) row.fill(0.0);
  }

  ScriptedRecorder* recorder_ = nullptr;
  std::unique_ptr<TVMx16> vm_;
};

TEST_F(CalibrationLoops, OffsetSearchStopsAtTheEdgesOfItsBandWithoutAChange) {
  // Samples 1..50 sum to exactly 490 on converter 1 and 510 on converter 2.
  Make([](int converter, int, int location) -> std::uint8_t {
    if (location >= 41 && location <= 50) return converter == 1 ? 9 : 11;
    return 10;
  });
  const auto tables = RangeBitsCh1;
  vm_->OffsetSearch();
  for (int row = 1; row <= 3; ++row) {
    for (int range = 1; range <= 12; ++range) EXPECT_EQ(vm_->OffsetCorrection[row][range], 0.0);
  }
  EXPECT_EQ(recorder_->records_armed(), 12);  // one record per channel and range

  // What the loop restores, and what it leaves as it last set it.
  EXPECT_EQ(vm_->OffsetDacBase[1], -1.0L);
  EXPECT_EQ(vm_->OffsetDacBase[2], -1.0L);
  EXPECT_EQ(RangeBitsCh1, tables);
  EXPECT_EQ(vm_->Coupling[1], 1);
  EXPECT_EQ(vm_->Coupling[2], 1);
  EXPECT_EQ(vm_->ClockFrequency, 4000000.0L);
  EXPECT_EQ(vm_->lPostSamples, kOffsetPost);
  EXPECT_EQ(vm_->lPreSamples, 0);
  EXPECT_EQ(vm_->tsTriggerSource, tsNoTrig);
  EXPECT_EQ(vm_->TriggerHysteresis[1], 0);
  EXPECT_EQ(vm_->RangeIndex[1], 6);
  EXPECT_EQ(vm_->ChannelMask, 2);
}

TEST_F(CalibrationLoops, OffsetSearchStepsOneDacStepPerRecordWithinOneBudgetPerChannel) {
  // Converter 1 reads low (sum 450), converter 2 high (sum 600): neither ever reaches its band.
  Make([](int converter, int, int) -> std::uint8_t { return converter == 1 ? 9 : 12; });
  vm_->OffsetSearch();
  // The first range spends the budget of 410 records; the others get one record each.
  EXPECT_EQ(recorder_->records_armed(), 2 * (410 + 5));
  EXPECT_EQ(vm_->OffsetCorrection[1][1], -410 * kStep);
  EXPECT_EQ(vm_->OffsetCorrection[2][1], 410 * kStep);
  for (int range = 2; range <= 6; ++range) {
    EXPECT_EQ(vm_->OffsetCorrection[1][range], -kStep);
    EXPECT_EQ(vm_->OffsetCorrection[2][range], kStep);
  }
  // Ranges 7..12 take the values of 4, 5, 6, 4, 5, 6.
  const int from[] = {4, 5, 6, 4, 5, 6};
  for (int range = 7; range <= 12; ++range) {
    for (int row = 1; row <= 2; ++row) {
      EXPECT_EQ(vm_->OffsetCorrection[row][range], vm_->OffsetCorrection[row][from[range - 7]]);
    }
  }
  EXPECT_EQ(vm_->OffsetCorrection[3][1], 0.0);
}

TEST_F(CalibrationLoops, GainSearchHoldsATrimWhoseSumIsWithinSixteenOfItsTarget) {
  // Samples 501..600 sum to 25316 on converter 1 and 25284 on converter 2: the target of ranges
  // 1..4 (25300) plus and minus 16. Ranges 5 and 6 aim lower (19150, 15975), so their trims
  // climb until the trim DAC's top.
  Make([](int converter, int post, int location) -> std::uint8_t {
    if (post != kGainPost) return 10;
    if (location >= 501 && location <= 516) return converter == 1 ? 254 : 252;
    return 253;
  });
  vm_->GainTrimSearch();
  for (int row = 1; row <= 3; ++row) {
    const int expected[13] = {0, 127, 127, 127, 127, 255, 255, 127, 255, 255, 127, 255, 255};
    for (int range = 1; range <= 12; ++range) {
      EXPECT_EQ(vm_->GainTrim[row][range], expected[range]) << row << "/" << range;
    }
  }
  // Per row: one record for each of ranges 1..4, 128 for each of 5 and 6.
  EXPECT_EQ(recorder_->records_armed(), 3 * (4 + 2 * 128));
  EXPECT_FALSE(vm_->DoubleRate);
  EXPECT_EQ(vm_->lPostSamples, kGainPost);
}

TEST_F(CalibrationLoops, GainSearchStopsAtTheTrimFloorAndTunesRowThreeThroughConverterTwo) {
  Make([](int converter, int post, int) -> std::uint8_t {
    if (post != kGainPost) return 10;
    return converter == 1 ? 0 : 253;
  });
  vm_->GainTrimSearch();
  for (int range = 1; range <= 12; ++range) EXPECT_EQ(vm_->GainTrim[1][range], 1);
  for (int row = 2; row <= 3; ++row) {
    EXPECT_EQ(vm_->GainTrim[row][4], 127);
    EXPECT_EQ(vm_->GainTrim[row][6], 255);
  }
  // 126 records from 127 down to 1 on each range of row 1.
  const auto& pairs = recorder_->trim_pairs();
  const std::size_t row1_records = 6 * 126;
  const std::size_t row2_records = 4 + 2 * 128;
  ASSERT_EQ(pairs.size(), row1_records + 2 * row2_records);
  // Row 2 sends channel 1's trim with its own; row 3 sends channel 1's with row 3's.
  EXPECT_EQ(pairs[row1_records], (std::pair<int, int>{1, 127}));
  EXPECT_EQ(pairs[row1_records + row2_records - 1], (std::pair<int, int>{1, 254}));
  EXPECT_EQ(pairs[row1_records + row2_records], (std::pair<int, int>{1, 127}));
  EXPECT_EQ(pairs.back(), (std::pair<int, int>{1, 254}));
}

TEST_F(CalibrationLoops, RunCalibrationRetriesOnceAndPutsTheSettingsBack) {
  bool calibrating_seen = false;
  bool notifying_seen = false;
  TVMx16* vm = nullptr;
  Make([&](int, int post, int) -> std::uint8_t {
    calibrating_seen = calibrating_seen || vm->Calibrating;
    notifying_seen = notifying_seen || vm->NotifySettings;
    return post == kGainPost ? 253 : 10;  // offsets in band; trims of ranges 5, 6 at 255
  });
  vm = vm_.get();
  int notifications = 0;
  vm_->OnSettingsChanged = [&](TVMx16&) { ++notifications; };
  const TVMx16& reference = *vm_;
  const auto range_index = reference.RangeIndex;
  const auto trigger_level = reference.TriggerLevel;
  const auto trigger_hysteresis = reference.TriggerHysteresis;
  const auto dc_level_limit = reference.DcLevelLimit;

  EXPECT_TRUE(vm_->RunCalibration());
  EXPECT_TRUE(calibrating_seen);
  EXPECT_FALSE(notifying_seen);
  EXPECT_FALSE(vm_->Calibrating);
  EXPECT_TRUE(vm_->NotifySettings);
  EXPECT_EQ(notifications, 1);
  EXPECT_FALSE(vm_->Armed);
  EXPECT_TRUE(vm_->SettingsDirty);

  // The searches found no offset; the four input-path corrections are all that is left.
  EXPECT_EQ(vm_->OffsetCorrection[1][1], -0.01953125);
  EXPECT_EQ(vm_->OffsetCorrection[2][1], -0.01953125);
  EXPECT_EQ(vm_->OffsetCorrection[1][2], -0.0048828125);
  EXPECT_EQ(vm_->OffsetCorrection[2][2], -0.0048828125);
  EXPECT_EQ(vm_->OffsetCorrection[3][1], 0.0);
  EXPECT_EQ(vm_->OffsetCorrection[1][3], 0.0);

  // Every setting the loops touched is back.
  EXPECT_EQ(vm_->RangeIndex, range_index);
  EXPECT_EQ(vm_->Coupling[1], 0);
  EXPECT_EQ(vm_->Coupling[2], 0);
  EXPECT_EQ(vm_->DcLevelLimit, dc_level_limit);
  EXPECT_EQ(vm_->SampleFreq(), 20000000.0L);
  EXPECT_EQ(vm_->LastSetFrequency, 20000000.0L);
  EXPECT_EQ(vm_->lRecordLength, 512);
  EXPECT_EQ(vm_->lPostSamples, 256);
  EXPECT_EQ(vm_->lPreSamples, 256);
  EXPECT_EQ(vm_->TriggerLevel, trigger_level);
  EXPECT_EQ(vm_->TriggerHysteresis, trigger_hysteresis);
  EXPECT_EQ(vm_->TriggerSlope[1], SlopeRising);
  EXPECT_EQ(vm_->tsTriggerSource, tsCh1);
  EXPECT_EQ(vm_->ActiveTriggerSource, tsCh1);
  EXPECT_EQ(vm_->ChannelMask, 3);
  EXPECT_FALSE(vm_->DoubleRate);

  // The five searches ran twice: the same script once more, on the tables as they are now.
  const int records = recorder_->records_armed();
  Make([](int, int post, int) -> std::uint8_t { return post == kGainPost ? 253 : 10; });
  vm_->OffsetSearch();
  vm_->GainTrimSearch();
  vm_->OffsetSearch();
  vm_->GainTrimSearch();
  vm_->OffsetSearch();
  const int first_sequence = recorder_->records_armed();
  vm_->OffsetSearch();
  vm_->GainTrimSearch();
  vm_->OffsetSearch();
  vm_->GainTrimSearch();
  vm_->OffsetSearch();
  EXPECT_EQ(records, recorder_->records_armed());
  EXPECT_GT(records, first_sequence);
}

}  // namespace
}  // namespace vm316
