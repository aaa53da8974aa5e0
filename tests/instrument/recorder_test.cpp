#include "instrument/recorder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "instrument/vmx16.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "register_trace.h"
#include "sim/board.h"
#include "sim/board_factory.h"
#include "support/recording_backend.h"
#include "support/scoped_env.h"

namespace vm316 {
namespace {

using testing::PortAccess;
using testing::RecordingBackend;
using testing::RegisterWrite;

constexpr std::uint16_t kBase = 0x378;
constexpr int kControl = 0;

// A recorder that answers from a script: the address counter, the status byte and the sample
// bytes of each converter, one per read (128 when the script has run out).
struct Script {
  std::uint8_t counter_low = 0;
  std::uint8_t counter_high = 0;
  std::uint8_t status = 0x01;
  std::deque<std::uint8_t> ch1, ch2;

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

  // The register writes, without the interval timer's (the clock routines own those).
  std::vector<RegisterWrite> Registers() const {
    return testing::WithoutTimer(testing::RegisterWrites(log_, kBase));
  }

  void Geometry(std::int32_t pre, std::int32_t post) {
    vm_->lPreSamples = pre;
    vm_->lPostSamples = post;
    vm_->lRecordLength = pre + post;
  }

  std::vector<PortAccess> log_;
  Script script_;
  std::unique_ptr<TVMx16> vm_;
};

TEST_F(Recorder, ComparatorsTakeChannelOnesSlopeForBothUnitsAndClampToAByte) {
  const struct {
    std::uint8_t slope;
    TTrigSource source;
    std::int32_t level1, hysteresis1, level2, hysteresis2;
    std::uint8_t mode, rearm1, trigger1, rearm2, trigger2;
  } cases[] = {
      {0, tsCh1, 127, 10, 127, 10, 5, 117, 127, 117, 127},
      {0, tsExternal, 5, 10, 300, 20, 1, 0, 5, 255, 255},
      {1, tsCh2, 250, 10, 20, 10, 6, 255, 250, 30, 20},
      {1, tsExternal, 250, 10, -4, 1, 0, 255, 250, 0, 0},
      // An unknown slope leaves the comparators as they were.
      {4, tsCh1, 10, 0, 10, 0, 0, 255, 250, 0, 0},
  };
  for (const auto& c : cases) {
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
    EXPECT_EQ(Registers(), expected) << "slope " << int{c.slope} << " level " << c.level1;
  }
}

TEST_F(Recorder, ArmWritesTheSetupInItsOrder) {
  vm_->TriggerHysteresis[1] = vm_->TriggerHysteresis[2] = 10;
  vm_->tsTriggerSource = vm_->ActiveTriggerSource = tsOr;
  vm_->lPreSamples = 0;         // nothing to hold the trigger off for
  vm_->lPostSamples = 0x10203;  // only the low 16 bits reach the count register
  vm_->ArmAcquisition();
  const std::vector<RegisterWrite> expected{
      {1, 2, 5},        {1, 0, 117},      {1, 1, 127},      {2, 2, 5},        {2, 0, 117},
      {2, 1, 127},      {kControl, 0, 3}, {kControl, 1, 2}, {1, 4, 0},        {2, 4, 0},
      {kControl, 4, 0}, {kControl, 3, 0}, {kControl, 7, 3}, {kControl, 4, 0}, {1, 5, 0},
      {2, 5, 0},        {kControl, 3, 15}};
  EXPECT_EQ(Registers(), expected);
  EXPECT_EQ(ModeRegisterShadow(), 15);
  // The sample clock is programmed between the comparators and the count.
  EXPECT_EQ(testing::RegisterWrites(log_, kBase)[6], (RegisterWrite{kControl, 2, 0}));
}

// With a pre-trigger part no trigger may come before it has been recorded: comparator sources
// are armed parked (rising with re-arm level 0, or falling with 255: they can never re-arm) and
// get their settings once the hold-off has passed, in an order that cannot fire half way; a
// forced trigger waits for it, and a record taken at once counts the pre-trigger part in.
TEST_F(Recorder, ArmWithAPreTriggerPartHoldsTheTriggerOff) {
  const struct {
    TTrigSource source;
    std::uint8_t slope;
    std::uint8_t comparator_mode, rearm, level;
    std::uint16_t count;
    bool parked;
    std::uint8_t real_mode, real_rearm;
  } cases[] = {{tsCh1, 0, 5, 0, 255, 300, true, 5, 117},
               {tsCh2, 1, 6, 255, 0, 300, true, 6, 137},
               {tsExternal, 0, 5, 0, 255, 300, true, 1, 117},
               {tsNoTrig, 0, 5, 117, 127, 812, false, 5, 117}};
  for (const auto& c : cases) {
    vm_->tsTriggerSource = vm_->ActiveTriggerSource = c.source;
    vm_->TriggerSlope[1] = c.slope;
    vm_->ClockFrequency = 100000.0L;  // 512 samples: 5.12 ms
    vm_->lPreSamples = 512;
    vm_->lPostSamples = 300;
    log_.clear();
    vm_->ArmAcquisition();
    std::vector<RegisterWrite> writes = Registers();
    EXPECT_EQ(writes[0], (RegisterWrite{1, 2, c.comparator_mode})) << c.source;
    EXPECT_EQ(writes[4], (RegisterWrite{2, 0, c.rearm}));
    EXPECT_EQ(writes[5], (RegisterWrite{2, 1, c.level}));
    EXPECT_EQ(writes[6], (RegisterWrite{kControl, 0, static_cast<std::uint8_t>(c.count)}));
    EXPECT_EQ(writes[7], (RegisterWrite{kControl, 1, static_cast<std::uint8_t>(c.count >> 8)}));

    // Until the pre-trigger part is surely recorded, neither settings nor a force go out.
    platform::SystemClock().Advance(5000000);
    log_.clear();
    vm_->RequestForcedTrigger();
    EXPECT_TRUE(Registers().empty());
    platform::SystemClock().Advance(4000000);
    vm_->RecordReady();  // any look at the status passes the hold-off on
    // An analog comparator gets its levels before its mode, an external one its mode first.
    std::vector<RegisterWrite> expected;
    for (int unit = 1; c.parked && unit <= 2; ++unit) {
      const RegisterWrite mode{unit, 2, c.real_mode}, rearm{unit, 0, c.real_rearm},
          level{unit, 1, 127};
      const bool analog = c.real_mode == 5 || c.real_mode == 6;
      for (const RegisterWrite& w :
           analog ? std::vector{level, rearm, mode} : std::vector{mode, rearm, level}) {
        expected.push_back(w);
      }
    }
    expected.push_back({kControl, 7, 2});
    EXPECT_EQ(Registers(), expected);
  }
}

TEST_F(Recorder, ArmSelectsTriggerAndDoubleRateAndTakesOverTheClockReached) {
  const std::uint8_t codes[16] = {0, 1, 2, 2, 1, 2, 4, 3, 2, 2, 2, 2, 2, 2, 2, 2};
  for (int source = 0; source < 16; ++source) {
    EXPECT_EQ(TriggerSelectCode(static_cast<TTrigSource>(source)), codes[source]) << source;
  }
  // Channel 1 on both converters only in double rate with channel 1 alone.
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
    EXPECT_EQ(Registers()[8], (RegisterWrite{1, 4, c.unit1_mode}));
  }
  vm_->ClockFrequency = 3000000.0L;  // not a rate of the board
  vm_->SettingsDirty = false;
  vm_->ArmAcquisition();
  EXPECT_EQ(vm_->ClockFrequency, 4000000.0L);
  EXPECT_TRUE(vm_->SettingsDirty);
}

TEST(RecorderWithoutAccess, NothingReachesTheBoard) {
  for (const bool driver : {false, true}) {
    std::vector<PortAccess> log;
    platform::SetMessageSink(platform::MessageSink::kQuiet);
    TVMx16 vm(std::make_unique<RecordingBackend>(&log, driver));
    log.clear();
    vm.HardwarePresent = !driver;  // no port access, or a board that never answered
    vm.RangeStep[1] = 1;
    vm.ArmAcquisition();
    vm.ReadRecord();
    if (!driver) {
      vm.SeekRecordStart(100);
      vm.ResetRecorder();
      vm.ForceTrigger();
      EXPECT_FALSE(vm.RecordReady());
      EXPECT_EQ(vm.TriggerStatus(), 0);
    }
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(vm.RangeStep[1], 1);
  }
}

TEST(RecorderStartAddress, SeeksBackOverTheRecordAndWrapsAtTheMemorySize) {
  EXPECT_EQ(RecordStartAddress(1000, 256, 256, tsCh1), 1000 - 512 - 7);
  EXPECT_EQ(RecordStartAddress(1000, 256, 256, tsNoTrig), 1000 - 512 - 5);
  // Before address 0 the record lies at the top of the 32768 locations.
  EXPECT_EQ(RecordStartAddress(10, 256, 256, tsCh1), 10 - 512 - 7 + 32768);
  EXPECT_EQ(RecordStartAddress(7, 0, 0, tsCh1), 0);
  EXPECT_EQ(RecordStartAddress(6, 0, 0, tsCh1), 32767);
}

TEST_F(Recorder, SeekGivesUpAfterTwentyMillisecondsAlsoAcrossATickWrap) {
  script_.status = 0;
  // 5 ms before the 32-bit millisecond counter wraps.
  platform::SystemClock().SetVirtualNs((std::uint64_t{1} << 32) * 1000000u - 5000000u);
  const std::uint32_t before = platform::GetTickCount();
  vm_->SeekRecordStart(0x7ABC);
  const std::uint32_t waited = platform::GetTickCount() - before;
  EXPECT_GE(waited, 20u);
  EXPECT_LE(waited, 22u);
  const std::vector<RegisterWrite> expected{
      {kControl, 3, 0}, {kControl, 0, 0xBC}, {kControl, 1, 0x7A}, {kControl, 4, 0},
      {kControl, 7, 2}, {kControl, 3, 2},    {kControl, 3, 3},    {kControl, 3, 0}};
  EXPECT_EQ(Registers(), expected);
}

TEST_F(Recorder, ReadRecordLocatesTheRecordReadsEachLocationAndResets) {
  Geometry(2, 3);
  script_.counter_high = 0x92;  // bit 15 is not part of the address
  script_.counter_low = 0x34;
  script_.ch1 = {1, 100, 128, 200, 254, 255};
  script_.ch2 = {0, 10, 20, 30, 40, 50};
  vm_->ReadRecord();

  // The counter is read high byte first, right after the recorder stops.
  EXPECT_EQ(log_[2], testing::In(kBase + 1, 0x92));
  EXPECT_EQ(log_[3], testing::In(kBase + 0, 0x34));
  const std::vector<RegisterWrite> writes = Registers();
  const int start = 0x1234 - 5 - 7;
  EXPECT_EQ(writes[2], (RegisterWrite{kControl, 0, static_cast<std::uint8_t>(start & 0xFF)}));
  EXPECT_EQ(writes[3], (RegisterWrite{kControl, 1, static_cast<std::uint8_t>(start >> 8)}));

  // Six locations, each: converter 1, converter 2, one step.
  std::size_t at = 0;
  while (log_[at].write || log_[at].port != kBase + 4) ++at;
  for (int i = 0; i < 6; ++i, at += 4) {
    EXPECT_EQ(log_[at].port, kBase + 4);
    EXPECT_EQ(log_[at + 1].port, kBase + 6);
    EXPECT_EQ(log_[at + 2], testing::Out(kBase + 0, 5));
    EXPECT_EQ(log_[at + 3], testing::Out(kBase + 1, 0));
    EXPECT_EQ(vm_->OutputBuffer[1][i], log_[at].value * 256);
    EXPECT_EQ(vm_->OutputBuffer[2][i], i * 10 * 256);
  }
  // Then both unit steps and the recorder back to idle.
  const std::vector<RegisterWrite> tail(writes.end() - 10, writes.end());
  const std::vector<RegisterWrite> expected_tail{
      {1, 5, 0}, {2, 5, 0}, {kControl, 3, 0}, {kControl, 0, 0x00}, {kControl, 1, 0x80},
      {1, 4, 1}, {2, 4, 1}, {kControl, 3, 6}, {kControl, 4, 0},    {kControl, 3, 7}};
  EXPECT_EQ(tail, expected_tail);
}

TEST_F(Recorder, RangeDecisionFromEverySampleOfTheRecord) {
  const std::vector<std::uint8_t> small(7, 128);
  auto with = [&](std::size_t at, std::uint8_t b) {
    std::vector<std::uint8_t> v = small;
    v[at] = b;
    return v;
  };
  const struct {
    std::uint16_t range;
    std::vector<std::uint8_t> bytes;
    std::int32_t step;
  } cases[] = {
      {1, small, 0},
      {5, small, -1},
      {5, with(0, 85), -1},
      {5, with(6, 171), -1},
      {5, with(3, 84), 0},
      {5, with(3, 172), 0},
      {5, with(2, 3), 0},
      {5, with(2, 253), 0},
      // A clipped sample anywhere, the first (pre-trigger) one included, wins.
      {5, with(0, 255), +1},
      {5, with(4, 254), +1},
      {5, with(6, 2), +1},
      {12, with(2, 0), 0},
  };
  for (const auto& c : cases) {
    Geometry(3, 3);
    vm_->RangeIndex[1] = c.range;
    script_.ch1.assign(c.bytes.begin(), c.bytes.end());
    vm_->ReadRecord();
    EXPECT_EQ(vm_->RangeStep[1], c.step) << "range " << c.range;
  }
}

// After an arm of its own the readout knows which locations the board wrote since: a trigger
// that came too early leaves older memory at the head, which must not move the range.
TEST_F(Recorder, SamplesFromBeforeTheArmDoNotCountInTheRangeDecision) {
  const struct {
    std::uint8_t counter_low;  // the arm left the counter at 0x7FFD
    std::int32_t step;
  } cases[] = {
      {0x06, -1},  // 9 locations written: the last 3 of the record are signal, small
      {0x02, 0},   // 5 written: the whole record precedes its last location, no decision
      {0x0A, +1},  // 13 written: the clipped head is signal too
  };
  for (const auto& c : cases) {
    Geometry(3, 3);
    vm_->RangeIndex[1] = 5;
    vm_->ArmAcquisition();
    script_.counter_high = 0;
    script_.counter_low = c.counter_low;
    script_.ch1 = {255, 255, 0, 255, 128, 128, 128};
    vm_->ReadRecord();
    EXPECT_EQ(vm_->RangeStep[1], c.step) << int{c.counter_low};
  }
}

TEST_F(Recorder, ChannelMaskOneLeavesChannelTwoAloneButReadsBothConverters) {
  Geometry(2, 2);
  vm_->ChannelMask = 1;
  vm_->RangeIndex[2] = 5;
  vm_->RangeStep[2] = 1;
  vm_->OutputBuffer[2][0] = 0xABCD;
  script_.ch2.assign(5, 255);
  vm_->ReadRecord();
  EXPECT_EQ(vm_->OutputBuffer[2][0], 0xABCD);
  EXPECT_EQ(vm_->RangeStep[2], 0);
  EXPECT_TRUE(script_.ch2.empty());  // all five channel-2 bytes were read
}

TEST_F(Recorder, DoubleRateKeepsTheTwoConvertersApart) {
  Geometry(0, 3);
  vm_->DoubleRate = true;
  vm_->ChannelMask = 1;
  script_.ch1 = {10, 11, 12, 13};
  script_.ch2 = {128, 129, 130, 255};
  vm_->ReadRecord();
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(vm_->OutputBuffer[1][i], (10 + i) * 256);
    EXPECT_EQ(vm_->OutputBuffer[2][i], vm_->RawBuffer[2][i]);
  }
  EXPECT_EQ(vm_->OutputBuffer[2][3], 255 * 256);
  EXPECT_EQ(vm_->RangeStep[2], +1);  // converter 2 speaks for channel 2
}

TEST_F(Recorder, DoubleRateCopiesEveryLocationReadEvenBeyondTheRecordLength) {
  // The gain search reads 701 locations into a 512-sample record and sums samples 501..600.
  Geometry(0, 5);
  vm_->lRecordLength = 2;
  vm_->DoubleRate = true;
  script_.ch1 = {1, 2, 3, 4, 5, 6};
  script_.ch2 = {7, 8, 9, 10, 11, 12};
  vm_->OutputBuffer[2][5] = 0xABCD;
  vm_->OutputBuffer[2][6] = 0xABCD;
  vm_->ReadRecord();
  EXPECT_EQ(vm_->OutputBuffer[1][5], 6 * 256);
  EXPECT_EQ(vm_->OutputBuffer[2][5], 12 * 256);
  EXPECT_EQ(vm_->OutputBuffer[2][6], 0xABCD);  // and nothing beyond them
}

TEST_F(Recorder, StatusQueriesAndForcedTrigger) {
  script_.status = 0xFE;
  EXPECT_FALSE(vm_->RecordReady());
  const struct {
    TTrigSource source;
    std::uint16_t bits;
  } cases[] = {{tsCh1, 2}, {tsCh2, 4}, {tsExternal, 6}, {tsAnd, 6}, {tsOr, 6}, {tsNoTrig, 2}};
  for (const auto& c : cases) {
    vm_->tsTriggerSource = c.source;
    EXPECT_EQ(vm_->TriggerStatus(), c.bits);
  }
  log_.clear();
  vm_->ForceTrigger();
  EXPECT_EQ(Registers(), (std::vector<RegisterWrite>{{kControl, 7, 2}}));
}

// On the simulated board, whose memory has 32768 locations: the record read out must be the
// locations from its first sample on, whether or not it runs over the top of the memory.
class RecordOnTheBoard : public ::testing::Test {
 protected:
  void SetUp() override { MakeBoard("sine:freq=77777,amp=0.5"); }

  void MakeBoard(const char* ch1) {
    env_.Set("VM316_SIM_CH1", ch1).Set("VM316_SIM_FAULT", "");
    platform::SystemClock().Select(platform::ClockKind::kVirtual);
    sim::BoardResult made = sim::CreateBoardFromEnvironment(platform::SystemClock());
    board_ = dynamic_cast<sim::Board*>(made.backend.get());
    ASSERT_NE(board_, nullptr);
    vm_ = std::make_unique<TVMx16>(std::move(made.backend));
    vm_->SetHardwareAddress(kBase);
    ASSERT_TRUE(vm_->DetectHardware());
    vm_->ResetRecorder();
    vm_->SelectRange(1, 0.8L);
    vm_->WriteDcLevelDac(1, vm_->OffsetDacBase[1]);
    vm_->WriteRelayWord();
  }

  // Takes one record and checks it against the memory; returns whether it started before 0.
  bool RecordMatchesMemory() {
    vm_->ArmAcquisition();
    const std::uint32_t t0 = platform::GetTickCount();
    while (!vm_->RecordReady() && platform::GetTickCount() - t0 < 100) {
    }
    const std::int32_t pre = vm_->lPreSamples;
    const std::int32_t post = vm_->lPostSamples;
    const bool at_once = vm_->ActiveTriggerSource == tsNoTrig;
    const int latency = at_once ? 5 : 7;
    const bool wraps = board_->RecorderUnit().Counter() - post - pre - latency < 0;
    // Taken at once, the first sample after the arm is the board's trigger and the record.
    const auto first =
        static_cast<std::uint16_t>(board_->RecorderUnit().TriggerAddress() - (at_once ? 0 : pre));
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
  // The trigger comes at the first rising crossing of a 1 kHz sine once the pre-trigger part
  // has been recorded, so at any sample up to 20000 after it: records of 20000 samples start
  // before address 0 as often as after it.
  MakeBoard("sine:freq=1000,amp=0.5");
  vm_->SetTriggerSource(tsCh1);
  vm_->SetRecordLength(20000);
  vm_->SetPostSamples(300);
  int wrapping = 0;
  int plain = 0;
  for (int i = 0; i < 40 && (wrapping < 3 || plain < 3); ++i) {
    // Another phase of the sine.
    platform::SystemClock().Advance(370001u * static_cast<std::uint64_t>(i));
    RecordMatchesMemory() ? ++wrapping : ++plain;
    EXPECT_GE(vm_->OutputBuffer[1][vm_->lPreSamples] >> 8, 127);  // the trigger sample
  }
  EXPECT_GE(wrapping, 3);
  EXPECT_GE(plain, 3);
}

}  // namespace
}  // namespace vm316
