#include "instrument/recorder.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "instrument/vmx16.h"
#include "platform/clock.h"
#include "register_trace.h"
#include "sim/board.h"
#include "sim/board_factory.h"
#include "support/recording_backend.h"
#include "support/scoped_env.h"

namespace vm316 {
namespace {

using testing::In;
using testing::PortAccess;
using testing::RecordingBackend;
using testing::RegisterWrite;
using testing::RegisterWrites;
using testing::WithoutTimer;

constexpr std::uint16_t kBase = 0x378;
constexpr int kControl = 0;

// A recorder that answers from a script: the address counter, the status byte and the sample
// bytes of each converter, one per read.
struct Script {
  std::uint8_t counter_low = 0;
  std::uint8_t counter_high = 0;
  std::uint8_t status = 0x01;
  std::deque<std::uint8_t> ch1;
  std::deque<std::uint8_t> ch2;

  static std::uint8_t Next(std::deque<std::uint8_t>& bytes) {
    if (bytes.empty()) return 128;
    const std::uint8_t b = bytes.front();
    bytes.pop_front();
    return b;
  }
  std::uint8_t Read(std::uint16_t port) {
    switch (port - kBase) {
      case 0:
        return counter_low;
      case 1:
        return counter_high;
      case 2:
        return status;
      case 4:
        return Next(ch1);
      case 6:
        return Next(ch2);
      default:
        return 0xFF;
    }
  }
};

class Recorder : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SystemClock().Select(platform::ClockKind::kVirtual);
    auto backend = std::make_unique<RecordingBackend>(&log_);
    backend->reader = [this](std::uint16_t port) { return script_.Read(port); };
    vm_ = std::make_unique<TVMx16>(std::move(backend));
    vm_->SetHardwareAddress(kBase);
    vm_->HardwarePresent = true;
    log_.clear();
  }

  std::vector<RegisterWrite> Registers() const { return WithoutTimer(RegisterWrites(log_, kBase)); }

  void Geometry(std::int32_t pre, std::int32_t post) {
    vm_->lPreSamples = pre;
    vm_->lPostSamples = post;
    vm_->lRecordLength = pre + post;
  }

  std::vector<PortAccess> log_;
  Script script_;
  std::unique_ptr<TVMx16> vm_;
};

TEST_F(Recorder, WriteCountLoadsLowThenHighByte) {
  vm_->WriteCount(0x1234);
  EXPECT_EQ(Registers(), (std::vector<RegisterWrite>{{kControl, 0, 0x34}, {kControl, 1, 0x12}}));
}

TEST(RecorderClamp, ClampToByte) {
  EXPECT_EQ(TVMx16::ClampToByte(INT_MIN), 0);
  EXPECT_EQ(TVMx16::ClampToByte(-1), 0);
  EXPECT_EQ(TVMx16::ClampToByte(0), 0);
  EXPECT_EQ(TVMx16::ClampToByte(137), 137);
  EXPECT_EQ(TVMx16::ClampToByte(255), 255);
  EXPECT_EQ(TVMx16::ClampToByte(256), 255);
  EXPECT_EQ(TVMx16::ClampToByte(INT_MAX), 255);
}

TEST_F(Recorder, ComparatorsTakeChannelOnesSlopeForBothUnits) {
  struct Case {
    std::uint8_t slope;
    TTrigSource source;
    std::int32_t level1, hysteresis1, level2, hysteresis2;
    std::uint8_t mode, rearm1, trigger1, rearm2, trigger2;
  };
  const Case cases[] = {
      {0, tsCh1, 127, 10, 127, 10, 5, 117, 127, 117, 127},
      {0, tsExternal, 5, 10, 300, 20, 1, 0, 5, 255, 255},
      {1, tsCh2, 250, 10, 20, 10, 6, 255, 250, 30, 20},
      {1, tsExternal, 250, 10, -4, 1, 0, 255, 250, 0, 0},
      // The AND and OR sources compare analog inputs like the channel sources.
      {0, tsAnd, 200, 0, 100, 256, 5, 200, 200, 0, 100},
  };
  for (const Case& c : cases) {
    log_.clear();
    vm_->TriggerSlope[1] = c.slope;
    vm_->TriggerSlope[2] = c.slope == 0 ? 1 : 0;  // channel 2's own slope does not count
    vm_->tsTriggerSource = c.source;
    vm_->TriggerLevel[1] = c.level1;
    vm_->TriggerHysteresis[1] = c.hysteresis1;
    vm_->TriggerLevel[2] = c.level2;
    vm_->TriggerHysteresis[2] = c.hysteresis2;
    vm_->ProgramTriggerComparators();
    const std::vector<RegisterWrite> expected{{1, 2, c.mode}, {1, 0, c.rearm1}, {1, 1, c.trigger1},
                                              {2, 2, c.mode}, {2, 0, c.rearm2}, {2, 1, c.trigger2}};
    EXPECT_EQ(Registers(), expected) << "level " << c.level1;
    EXPECT_EQ(ComparatorShadow(1).trigger_level, c.trigger1);
    EXPECT_EQ(ComparatorShadow(2).hysteresis_level, c.rearm2);
  }
}

TEST_F(Recorder, ComparatorsKeepTheirLastSettingsForAnUnknownSlope) {
  vm_->TriggerSlope[1] = 1;
  vm_->TriggerLevel[1] = 250;
  vm_->TriggerHysteresis[1] = 10;
  vm_->ProgramTriggerComparators();
  const std::vector<RegisterWrite> first = Registers();

  log_.clear();
  vm_->TriggerSlope[1] = 4;
  vm_->TriggerLevel[1] = 10;
  vm_->ProgramTriggerComparators();
  EXPECT_EQ(Registers(), first);
}

TEST(RecorderTriggerSelect, CodePerSource) {
  const std::uint8_t expected[16] = {0, 1, 2, 2, 1, 2, 4, 3, 2, 2, 2, 2, 2, 2, 2, 2};
  for (int source = 0; source < 16; ++source) {
    EXPECT_EQ(TriggerSelectCode(static_cast<TTrigSource>(source)), expected[source]) << source;
  }
}

TEST_F(Recorder, ArmWritesTheSetupInItsOrder) {
  vm_->TriggerSlope[1] = 0;
  vm_->TriggerLevel[1] = vm_->TriggerLevel[2] = 127;
  vm_->TriggerHysteresis[1] = vm_->TriggerHysteresis[2] = 10;
  vm_->tsTriggerSource = tsOr;
  vm_->ActiveTriggerSource = tsOr;
  vm_->lPostSamples = 0x10203;  // only the low 16 bits reach the count register
  vm_->ArmAcquisition();
  const std::vector<RegisterWrite> expected{
      {1, 2, 5},        {1, 0, 117},         {1, 1, 127},         {2, 2, 5},        {2, 0, 117},
      {2, 1, 127},      {kControl, 0, 0x03}, {kControl, 1, 0x02}, {1, 4, 0},        {2, 4, 0},
      {kControl, 4, 0}, {kControl, 3, 0},    {kControl, 7, 3},    {kControl, 4, 0}, {1, 5, 0},
      {2, 5, 0},        {kControl, 3, 15}};
  EXPECT_EQ(Registers(), expected);
  EXPECT_EQ(ModeRegisterShadow(), 15);
  // The sample clock is programmed between the comparators and the count.
  const std::vector<RegisterWrite> all = RegisterWrites(log_, kBase);
  EXPECT_EQ(all[6].unit, kControl);
  EXPECT_EQ(all[6].reg, 2);
}

TEST_F(Recorder, ArmRecordsChannelOneOnBothConvertersOnlyInDoubleRateWithChannelOneAlone) {
  const struct {
    TMeasureMode mode;
    bool double_rate;
    std::uint8_t unit1_mode;
  } cases[] = {{mCh1, true, 2}, {mCh12, true, 0}, {mCh1, false, 0}};
  for (const auto& c : cases) {
    log_.clear();
    vm_->mMeasureMode = c.mode;
    vm_->DoubleRate = c.double_rate;
    vm_->ArmAcquisition();
    const std::vector<RegisterWrite> writes = Registers();
    EXPECT_EQ(writes[8], (RegisterWrite{1, 4, c.unit1_mode}));
    EXPECT_EQ(writes[9], (RegisterWrite{2, 4, 0}));
  }
}

TEST_F(Recorder, ArmTakesOverTheFrequencyTheClockReaches) {
  vm_->ClockFrequency = 3000000.0L;  // not a rate of the board
  vm_->SettingsDirty = false;
  vm_->ArmAcquisition();
  EXPECT_EQ(vm_->ClockFrequency, 4000000.0L);
  EXPECT_TRUE(vm_->SettingsDirty);

  vm_->SettingsDirty = false;
  vm_->ArmAcquisition();
  EXPECT_FALSE(vm_->SettingsDirty);
}

TEST_F(Recorder, NothingReachesTheBoardBeforeItAnswered) {
  vm_->HardwarePresent = false;
  vm_->ArmAcquisition();
  vm_->ReadRecord();
  EXPECT_TRUE(log_.empty());
}

TEST(RecorderWithoutPortAccess, EveryOperationIsSkipped) {
  std::vector<PortAccess> log;
  TVMx16 vm(std::make_unique<RecordingBackend>(&log, /*driver_ok=*/false));
  vm.HardwarePresent = true;
  vm.RangeStep[1] = 1;
  vm.WriteCount(5);
  vm.ProgramTriggerComparators();
  vm.ArmAcquisition();
  vm.SeekRecordStart(100);
  vm.ResetRecorder();
  vm.ReadRecord();
  vm.ForceTrigger();
  EXPECT_FALSE(vm.RecordReady());
  EXPECT_EQ(vm.TriggerStatus(), 0);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(vm.RangeStep[1], 1);
}

TEST(RecorderStartAddress, SeeksBackOverTheRecordAndWrapsAtTheMemorySize) {
  EXPECT_EQ(RecordStartAddress(1000, 256, 256, tsCh1), 1000 - 512 - 7);
  EXPECT_EQ(RecordStartAddress(1000, 256, 256, tsNoTrig), 1000 - 512 - 5);
  // Before address 0 the record lies at the top of the 32768 locations.
  EXPECT_EQ(RecordStartAddress(10, 256, 256, tsCh1), 10 - 512 - 7 + 32768);
  EXPECT_EQ(RecordStartAddress(10, 256, 256, tsNoTrig), 10 - 512 - 5 + 32768);
  EXPECT_EQ(RecordStartAddress(7, 0, 0, tsCh1), 0);
  EXPECT_EQ(RecordStartAddress(6, 0, 0, tsCh1), 32767);
  EXPECT_EQ(RecordStartAddress(0, 32760, 0, tsCh1), 32768 - 32767);
}

TEST_F(Recorder, SeekLoadsTheAddressAndWaitsForTheCounter) {
  vm_->SeekRecordStart(0x7ABC);
  const std::vector<RegisterWrite> expected{
      {kControl, 3, 0}, {kControl, 0, 0xBC}, {kControl, 1, 0x7A}, {kControl, 4, 0},
      {kControl, 7, 2}, {kControl, 3, 2},    {kControl, 3, 3},    {kControl, 3, 0}};
  EXPECT_EQ(Registers(), expected);
  int status_reads = 0;
  for (const PortAccess& a : log_) status_reads += !a.write && a.port == kBase + 2;
  EXPECT_EQ(status_reads, 1);
}

TEST_F(Recorder, SeekGivesUpAfterTwentyMilliseconds) {
  script_.status = 0;
  const std::uint32_t before = platform::GetTickCount();
  vm_->SeekRecordStart(0);
  const std::uint32_t waited = platform::GetTickCount() - before;
  EXPECT_GE(waited, 20u);
  EXPECT_LE(waited, 22u);
  EXPECT_EQ(Registers().back(), (RegisterWrite{kControl, 3, 0}));
}

TEST_F(Recorder, SeekWaitIsNotCutShortByATickWrap) {
  script_.status = 0;
  // 5 ms before the 32-bit millisecond counter wraps.
  platform::SystemClock().SetVirtualNs((std::uint64_t{1} << 32) * 1000000u - 5000000u);
  const std::uint32_t before = platform::GetTickCount();
  vm_->SeekRecordStart(0);
  EXPECT_GE(static_cast<std::uint32_t>(platform::GetTickCount() - before), 20u);
}

TEST_F(Recorder, ResetReturnsTheRecorderToIdle) {
  vm_->ResetRecorder();
  const std::vector<RegisterWrite> expected{
      {kControl, 3, 0}, {kControl, 0, 0x00}, {kControl, 1, 0x80}, {1, 4, 1},
      {2, 4, 1},        {kControl, 3, 6},    {kControl, 4, 0},    {kControl, 3, 7}};
  EXPECT_EQ(Registers(), expected);
  EXPECT_EQ(ModeRegisterShadow(), 7);
}

TEST_F(Recorder, ReadRecordLocatesTheRecordAndReadsEachLocationInOrder) {
  Geometry(2, 3);
  script_.counter_high = 0x92;  // bit 15 is not part of the address
  script_.counter_low = 0x34;
  script_.ch1 = {1, 100, 128, 200, 254, 255};
  script_.ch2 = {0, 10, 20, 30, 40, 50};
  vm_->ReadRecord();

  // The counter is read high byte first, right after the recorder stops.
  std::vector<PortAccess> reads;
  for (const PortAccess& a : log_) {
    if (!a.write) reads.push_back(a);
  }
  ASSERT_GE(reads.size(), 2u);
  EXPECT_EQ(reads[0], In(kBase + 1, 0x92));
  EXPECT_EQ(reads[1], In(kBase + 0, 0x34));

  const std::vector<RegisterWrite> writes = Registers();
  const std::uint16_t start = 0x1234 - 5 - 7;
  EXPECT_EQ(writes[0], (RegisterWrite{kControl, 3, 0}));
  EXPECT_EQ(writes[2], (RegisterWrite{kControl, 0, static_cast<std::uint8_t>(start & 0xFF)}));
  EXPECT_EQ(writes[3], (RegisterWrite{kControl, 1, static_cast<std::uint8_t>(start >> 8)}));

  // Six locations: converter 1, converter 2, one step each.
  std::size_t first_sample = 0;
  while (log_[first_sample].port != kBase + 4 || log_[first_sample].write) ++first_sample;
  for (int i = 0; i < 6; ++i) {
    const std::size_t at = first_sample + 4 * i;
    EXPECT_EQ(log_[at].port, kBase + 4);
    EXPECT_FALSE(log_[at].write);
    EXPECT_EQ(log_[at + 1].port, kBase + 6);
    EXPECT_FALSE(log_[at + 1].write);
    EXPECT_EQ(log_[at + 2], testing::Out(kBase + 0, 5));
    EXPECT_EQ(log_[at + 3], testing::Out(kBase + 1, 0));
  }
  const std::uint16_t expected1[] = {256, 25600, 32768, 51200, 65024, 65280};
  const std::uint16_t expected2[] = {0, 2560, 5120, 7680, 10240, 12800};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(vm_->OutputBuffer[1][i], expected1[i]);
    EXPECT_EQ(vm_->OutputBuffer[2][i], expected2[i]);
  }

  // Then both unit steps and the reset to idle.
  const std::vector<RegisterWrite> tail(writes.end() - 10, writes.end());
  const std::vector<RegisterWrite> expected_tail{
      {1, 5, 0}, {2, 5, 0}, {kControl, 3, 0}, {kControl, 0, 0x00}, {kControl, 1, 0x80},
      {1, 4, 1}, {2, 4, 1}, {kControl, 3, 6}, {kControl, 4, 0},    {kControl, 3, 7}};
  EXPECT_EQ(tail, expected_tail);
}

TEST_F(Recorder, ReadRecordWithARecordNotTakenOnATriggerStartsTwoLocationsLater) {
  Geometry(0, 55);
  script_.counter_low = 100;
  vm_->ActiveTriggerSource = tsNoTrig;
  vm_->ReadRecord();
  const std::vector<RegisterWrite> writes = Registers();
  EXPECT_EQ(writes[2], (RegisterWrite{kControl, 0, 100 - 55 - 5}));
}

TEST_F(Recorder, ReadRecordWithANegativeLengthReadsNoLocation) {
  Geometry(-10, 5);
  vm_->ReadRecord();
  for (const PortAccess& a : log_) EXPECT_FALSE(!a.write && a.port == kBase + 4);
}

TEST_F(Recorder, RangeDecisionFromEverySampleOfTheRecord) {
  struct Case {
    std::uint16_t range;
    std::vector<std::uint8_t> bytes;
    std::int32_t step;
  };
  const std::vector<std::uint8_t> small(7, 128);
  auto with = [&](std::size_t at, std::uint8_t b) {
    std::vector<std::uint8_t> v = small;
    v[at] = b;
    return v;
  };
  const Case cases[] = {
      {1, small, 0},
      {5, small, -1},
      {5, with(0, 85), -1},
      {5, with(6, 171), -1},
      {5, with(3, 84), 0},
      {5, with(3, 172), 0},
      // A clipped sample anywhere, the first (pre-trigger) one included, wins.
      {5, with(0, 255), +1},
      {5, with(4, 254), +1},
      {5, with(6, 2), +1},
      {5, with(2, 0), +1},
      {5, with(2, 3), 0},
      {5, with(2, 253), 0},
      {12, with(2, 255), 0},
      {1, with(2, 255), +1},
  };
  for (const Case& c : cases) {
    Geometry(3, 3);
    vm_->RangeIndex[1] = c.range;
    vm_->RangeIndex[2] = 5;
    script_.ch1.assign(c.bytes.begin(), c.bytes.end());
    script_.ch2.assign(7, 40);
    vm_->ReadRecord();
    EXPECT_EQ(vm_->RangeStep[1], c.step) << "range " << c.range;
    EXPECT_EQ(vm_->RangeStep[2], 0);
  }
}

TEST_F(Recorder, ChannelMaskOneLeavesChannelTwoAloneButReadsBothConverters) {
  Geometry(2, 2);
  vm_->ChannelMask = 1;
  vm_->RangeIndex[2] = 5;
  vm_->RangeStep[2] = 1;
  vm_->OutputBuffer[2].assign(vm_->OutputBuffer[2].size(), 0xABCD);
  script_.ch1.assign(5, 128);
  script_.ch2.assign(5, 255);
  vm_->ReadRecord();
  EXPECT_EQ(vm_->OutputBuffer[1][4], 32768);
  EXPECT_EQ(vm_->OutputBuffer[2][0], 0xABCD);
  EXPECT_EQ(vm_->RangeStep[2], 0);
  EXPECT_TRUE(script_.ch2.empty());  // all five channel-2 bytes were read
}

TEST_F(Recorder, DoubleRateKeepsTheTwoConvertersApart) {
  Geometry(0, 3);
  vm_->DoubleRate = true;
  vm_->ChannelMask = 1;
  vm_->RangeIndex[1] = vm_->RangeIndex[2] = 6;
  script_.ch1 = {10, 11, 12, 13};
  script_.ch2 = {128, 129, 130, 255};
  vm_->ReadRecord();
  const std::uint16_t converter2[] = {128 * 256, 129 * 256, 130 * 256, 255 * 256};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(vm_->RawBuffer[1][i], (10 + i) * 256);
    EXPECT_EQ(vm_->OutputBuffer[1][i], (10 + i) * 256);
    EXPECT_EQ(vm_->RawBuffer[2][i], converter2[i]);
    EXPECT_EQ(vm_->OutputBuffer[2][i], converter2[i]);
  }
  // Converter 2 speaks for channel 2's range decision.
  EXPECT_EQ(vm_->RangeStep[1], 0);
  EXPECT_EQ(vm_->RangeStep[2], +1);
}

TEST_F(Recorder, StatusQueriesAndForcedTrigger) {
  script_.status = 0xFF;
  EXPECT_TRUE(vm_->RecordReady());
  script_.status = 0xFE;
  EXPECT_FALSE(vm_->RecordReady());
  const struct {
    TTrigSource source;
    std::uint16_t mask;
  } cases[] = {{tsCh1, 2}, {tsCh2, 4},    {tsExternal, 6}, {tsAnd, 6},
               {tsOr, 6},  {tsNoTrig, 2}, {tsXor, 2}};
  for (const auto& c : cases) {
    vm_->tsTriggerSource = c.source;
    EXPECT_EQ(vm_->TriggerStatus(), c.mask & 0xFE);
  }
  vm_->tsTriggerSource = tsAnd;
  script_.status = 0x03;
  EXPECT_EQ(vm_->TriggerStatus(), 2);

  log_.clear();
  vm_->ForceTrigger();
  EXPECT_EQ(Registers(), (std::vector<RegisterWrite>{{kControl, 7, 2}}));
}

// On the simulated board, whose memory has 32768 locations: the record read out must be the
// locations from its first sample on, whether or not it runs over the top of the memory.
class RecordOnTheBoard : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.Set("VM316_PORT", "sim").Set("VM316_CLOCK", "virtual").Set("VM316_SIM_FAULT", "");
    env_.Set("VM316_SIM_CH1", "sine:freq=100000,amp=0.5").Set("VM316_SIM_CH2", "ground");
    platform::SystemClock().Select(platform::ClockKind::kVirtual);
    sim::BoardResult made = sim::CreateBoardFromEnvironment(platform::SystemClock());
    ASSERT_TRUE(made.error.empty()) << made.error;
    board_ = dynamic_cast<sim::Board*>(made.backend.get());
    ASSERT_NE(board_, nullptr);
    vm_ = std::make_unique<TVMx16>(std::move(made.backend));
    vm_->SetHardwareAddress(kBase);
    ASSERT_TRUE(vm_->DetectHardware());
    vm_->ResetRecorder();
    vm_->SelectRange(1, 0.8L);
    vm_->WriteDcLevelDac(1, vm_->OffsetDacBase[1]);
    vm_->WriteGainTrims(127, 127);
    vm_->WriteRelayWord();
  }

  // Takes one record and checks it against the board's memory. Returns whether its start lay
  // before address 0.
  bool RecordMatchesMemory() {
    vm_->ArmAcquisition();
    const std::uint32_t t0 = platform::GetTickCount();
    while (!vm_->RecordReady()) {
      if (platform::GetTickCount() - t0 > 100) {
        ADD_FAILURE() << "no record";
        return false;
      }
    }
    const std::int32_t pre = vm_->lPreSamples;
    const std::int32_t post = vm_->lPostSamples;
    const int latency = vm_->ActiveTriggerSource == tsNoTrig ? 5 : 7;
    const bool wraps = board_->RecorderUnit().Counter() - post - pre - latency < 0;
    const std::uint16_t first =
        static_cast<std::uint16_t>(board_->RecorderUnit().TriggerAddress() - pre);
    vm_->ReadRecord();
    int mismatches = 0;
    for (int i = 0; i <= pre + post; ++i) {
      const std::uint8_t expected = board_->SampleAt(1, static_cast<std::uint16_t>(first + i));
      mismatches += (vm_->OutputBuffer[1][i] >> 8) != expected;
    }
    EXPECT_EQ(mismatches, 0) << (wraps ? "wrapping" : "plain") << " record";
    return wraps;
  }

  testing::ScopedEnv env_;
  sim::Board* board_ = nullptr;
  std::unique_ptr<TVMx16> vm_;
};

TEST_F(RecordOnTheBoard, ARecordTakenAtOnceStartsAtTheTopOfTheMemory) {
  vm_->SetTriggerSource(tsNoTrig);
  vm_->SetPostSamples(300);
  EXPECT_TRUE(RecordMatchesMemory());
}

TEST_F(RecordOnTheBoard, WrappingAndPlainTriggeredRecordsBothStartAtTheirFirstSample) {
  // With the trigger about half a period (100 samples) after the arm on average, some records
  // start before address 0 and some after it.
  vm_->SetTriggerSource(tsCh1);
  vm_->SetTriggerLevel(1, 127);
  vm_->SetTriggerHysteresis(1, 10);
  vm_->SetRecordLength(400);
  vm_->SetPostSamples(300);
  int wrapping = 0;
  int plain = 0;
  for (int i = 0; i < 40 && (wrapping < 3 || plain < 3); ++i) {
    RecordMatchesMemory() ? ++wrapping : ++plain;
    // The trigger sample sits at index lPreSamples.
    EXPECT_GE(vm_->OutputBuffer[1][vm_->lPreSamples] >> 8, 127);
  }
  EXPECT_GE(wrapping, 3);
  EXPECT_GE(plain, 3);
}

}  // namespace
}  // namespace vm316
