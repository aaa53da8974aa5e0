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

TEST_F(CalibrationLoops, GainSearchHoldsATrimInBandAndStopsAtEitherEndOfTheTrimDac) {
  // Converter 1: samples 501..600 sum to 25316, the target of ranges 1..4 (25300) plus 16.
  // Ranges 5 and 6 aim lower (19150, 15975), so their trims climb to the top. Converter 2 reads
  // 0, so rows 2 and 3 (both measured on it) fall to the bottom.
  Make([](int converter, int post, int location) -> std::uint8_t {
    if (post != kGainPost) return 10;
    if (converter == 2) return 0;
    return location >= 501 && location <= 516 ? 254 : 253;
  });
  vm_->GainTrimSearch();
  const int row1[13] = {0, 127, 127, 127, 127, 255, 255, 127, 255, 255, 127, 255, 255};
  for (int range = 1; range <= 12; ++range) {
    EXPECT_EQ(vm_->GainTrim[1][range], row1[range]) << range;
    EXPECT_EQ(vm_->GainTrim[2][range], 1) << range;
    EXPECT_EQ(vm_->GainTrim[3][range], 1) << range;
  }
  // Row 1: one record for each of ranges 1..4, 128 for 5 and 6; rows 2, 3: 126 per range.
  EXPECT_EQ(recorder_->records_armed(), 4 + 2 * 128 + 2 * 6 * 126);
  EXPECT_FALSE(vm_->DoubleRate);
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

  // The five searches ran twice: six offset searches of 12 records; the first gain search takes
  // 4 + 2 x 128 records per row, the three later ones 6 (ranges 5 and 6 start at the top).
  EXPECT_EQ(recorder_->records_armed(), 6 * 12 + 3 * (4 + 2 * 128) + 3 * 3 * 6);
}

}  // namespace
}  // namespace vm316
