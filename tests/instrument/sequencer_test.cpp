// The acquisition sequencer at object level, on the virtual clock, against a port backend that
// answers the status port as each test says and notes when the recorder was armed and when a
// trigger was forced.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "instrument/vmx16.h"
#include "platform/clock.h"
#include "platform/message_loop.h"
#include "port/registers.h"

namespace vm316 {
namespace {

constexpr std::uint16_t kBase = 0x378;
constexpr std::uint64_t kNsPerMs = 1000000;

// Decodes only the control unit's mode and trigger registers and the front-end bus lines; it
// is no model of the board.
class StatusScript : public platform::PortBackend {
 public:
  bool OpenDriver() override { return true; }

  void Out(std::uint16_t port, std::uint8_t value) override {
    const int offset = static_cast<std::uint16_t>(port - kBase);
    if (offset == port::kControlIndexPort) control_register_ = value;
    if (offset == port::kCh1IndexPort) unit1_register_ = value;
    if (offset == port::kControlDataPort) WriteControl(value);
    if (offset == port::kCh1DataPort && unit1_register_ == port::kFrontEndBusRegister) {
      bus_lines_seen |= value;
    }
  }

  std::uint8_t In(std::uint16_t port) override {
    if (port - kBase == port::kStatusPort) {
      return static_cast<std::uint8_t>((ready && ready() ? port::kStatusRecordReady : 0) |
                                       trigger_bits);
    }
    return 128;  // every sample mid-scale
  }

  std::function<bool()> ready;                // the record is complete
  std::uint8_t trigger_bits = 0;              // the comparators that have fired
  std::vector<std::uint64_t> arms;            // ns of each ModeRegister := armed
  std::vector<std::uint64_t> forces;          // ns of each trigger forced while armed
  std::vector<std::uint8_t> trigger_selects;  // TriggerRegister at each arm
  std::uint8_t bus_lines_seen = 0;            // every front-end bus line driven, OR-ed

 private:
  void WriteControl(std::uint8_t value) {
    const std::uint64_t now = platform::SystemClock().NowNs();
    if (control_register_ == port::kTriggerRegister) {
      if (mode_ == port::kModeArmed && value == port::kTriggerSelectNow) forces.push_back(now);
      last_select_ = value;
    }
    if (control_register_ == port::kModeRegister) {
      mode_ = value;
      if (value == port::kModeArmed) {
        arms.push_back(now);
        trigger_selects.push_back(last_select_);
      }
    }
  }

  std::uint8_t control_register_ = 0;
  std::uint8_t unit1_register_ = 0;
  std::uint8_t mode_ = 0;
  std::uint8_t last_select_ = 0;
};

class SequencerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_clock_ = platform::SystemClock().Kind();
    platform::SystemClock().Select(platform::ClockKind::kVirtual);
    auto backend = std::make_unique<StatusScript>();
    script_ = backend.get();
    vm_ = std::make_unique<TVMx16>(std::move(backend));
    vm_->SetHardwareAddress(kBase);
    vm_->HardwarePresent = true;      // as after a bring-up
    vm_->SetAcquisitionMode(amHold);  // and as InitInstrument leaves it
    for (int channel = 1; channel <= 4; ++channel) vm_->SetAutoRanging(channel, false);
  }
  void TearDown() override {
    vm_.reset();
    platform::SystemClock().Select(old_clock_);
  }

  static std::uint64_t Now() { return platform::SystemClock().NowNs(); }
  // The record completes as soon as a trigger was forced.
  void CompleteOnForce() {
    script_->ready = [this] { return !script_->forces.empty(); };
  }
  // Steps until ms of virtual time have passed.
  void StepFor(std::uint64_t ms) {
    const std::uint64_t end = Now() + ms * kNsPerMs;
    while (Now() < end) vm_->AcquisitionStep();
  }
  double MsFromLastArmToForce() const {
    return static_cast<double>(script_->forces.at(0) - script_->arms.back()) / kNsPerMs;
  }

  platform::ClockKind old_clock_ = platform::ClockKind::kReal;
  StatusScript* script_ = nullptr;
  std::unique_ptr<TVMx16> vm_;
};

TEST_F(SequencerTest, TheBlockingLoopForcesTheTriggerOnceTheTimeOutHasPassedAsTime) {
  CompleteOnForce();
  vm_->MeasureOnce();
  EXPECT_TRUE(vm_->RecordDone);
  EXPECT_TRUE(vm_->HardwarePresent);
  ASSERT_EQ(script_->forces.size(), 1u);
  EXPECT_GE(MsFromLastArmToForce(), 1000.0);
  EXPECT_LE(MsFromLastArmToForce(), 1002.0);
}

TEST_F(SequencerTest, TheTimerForcesTheTriggerAfterTheSameTime) {
  CompleteOnForce();
  vm_->SetTrigTimeOut(0.25L);
  vm_->SetAcquisitionMode(amContinuous);
  vm_->SetEnableMeasurements(true);
  const std::uint64_t deadline = Now() + 2000 * kNsPerMs;
  while (script_->forces.empty() && Now() < deadline) platform::PumpMessages(10);
  ASSERT_FALSE(script_->forces.empty());
  EXPECT_GE(MsFromLastArmToForce(), 250.0);
  EXPECT_LE(MsFromLastArmToForce(), 250.0 + kAcquisitionTimerIntervalMs + 1);
  vm_->SetEnableMeasurements(false);
}

TEST_F(SequencerTest, ANegativeTimeOutOrOneOfAHundredSecondsNeverForces) {
  for (long double seconds : {-1.0L, 100.0L}) {
    vm_->SetTrigTimeOut(seconds);
    StepFor(1500);
    EXPECT_TRUE(script_->forces.empty()) << static_cast<double>(seconds);
  }
}

TEST_F(SequencerTest, ATimeOutShorterThanOneSamplePeriodRecordsWithoutTrigger) {
  const struct {
    long double seconds;
    std::uint8_t select;
  } cases[] = {{0.0L, port::kTriggerSelectNow},
               {1e-8L, port::kTriggerSelectNow},  // 20 MHz: one sample is 50 ns
               {1e-6L, port::kTriggerSelectCh1}};
  for (const auto& c : cases) {
    vm_->SetTrigTimeOut(c.seconds);  // also puts the source back
    vm_->Armed = false;
    vm_->AcquisitionStep();
    EXPECT_EQ(script_->trigger_selects.back(), c.select) << static_cast<double>(c.seconds);
  }
}

// A give-up is no verdict: the board still answers (its counter does not float), so it stays.
TEST_F(SequencerTest, ABlockingMeasurementWithoutARecordGivesUpWithinItsBound) {
  script_->ready = [] { return false; };  // not even a forced record completes
  const std::uint64_t start = Now();
  vm_->MeasureOnce();
  EXPECT_FALSE(vm_->RecordDone);
  EXPECT_TRUE(vm_->HardwarePresent);
  // The hold-off (17 us), the time-out, the 264 samples after the trigger and a second.
  const double waited_ms = static_cast<double>(Now() - start) / kNsPerMs;
  EXPECT_GE(waited_ms, 2001.0);
  EXPECT_LE(waited_ms, 2004.0);
  EXPECT_EQ(script_->forces.size(), 1u);  // after the time-out, in vain
}

// Without a time-out the wait for the trigger is the host's; once the trigger status shows the
// trigger, the record must complete within its bound.
TEST_F(SequencerTest, WithoutATimeOutATriggeredRecordThatNeverCompletesIsGivenUp) {
  script_->ready = [] { return false; };
  script_->trigger_bits = port::kStatusTriggerUnit1;
  vm_->SetTrigTimeOut(-1.0L);
  const std::uint64_t start = Now();
  vm_->MeasureOnce();
  EXPECT_FALSE(vm_->RecordDone);
  EXPECT_TRUE(vm_->HardwarePresent);
  // From the trigger status, seen after the first step's 10 ms of relay settling: the hold-off
  // (17 us), the 264 samples after the trigger and a second.
  const double waited_ms = static_cast<double>(Now() - start) / kNsPerMs;
  EXPECT_GE(waited_ms, 1010.0);
  EXPECT_LE(waited_ms, 1013.0);
}

// A trigger forced before the pre-trigger part has been recorded (256 samples at 10 kHz) is held
// and given once it has been, in the blocking loop and from the host alike.
TEST_F(SequencerTest, AForcedTriggerWaitsForThePreTriggerPart) {
  for (const bool block : {false, true}) {
    script_->forces.clear();
    CompleteOnForce();
    vm_->SetSampleFrequencyValue(10000.0L);
    vm_->SetTrigTimeOut(0.001L);
    if (block) {
      vm_->StartBlockAcquisition();
      vm_->ForceBlockTrigger();
      while (vm_->BlockRecordReady() == 0) {
      }
    } else {
      vm_->MeasureOnce();
    }
    ASSERT_EQ(script_->forces.size(), 1u) << block;
    EXPECT_GE(MsFromLastArmToForce(), 25.7) << block;
    EXPECT_LE(MsFromLastArmToForce(), 29.0) << block;
  }
}

TEST_F(SequencerTest, OneShotTakesOneRecordThenHoldsAndTellsTheSettingsHandlerEachTick) {
  script_->ready = [] { return true; };
  int settings_calls = 0;
  TAcquisitionMode mode_when_ready = amContinuous;
  vm_->OnSettingsChanged = [&](TVMx16&) { ++settings_calls; };
  vm_->OnMeasurementReady = [&](TVMx16& sender) { mode_when_ready = sender.amAcquisitionMode; };
  vm_->SetAcquisitionMode(amOneShot);

  vm_->AcquisitionTimerTick();
  EXPECT_EQ(script_->arms.size(), 1u);  // reprogrammed, but one-shot arms once
  EXPECT_EQ(mode_when_ready, amHold);
  EXPECT_EQ(vm_->amAcquisitionMode, amHold);
  EXPECT_EQ(settings_calls, 1);  // the tick that ended the measurement calls it too

  vm_->AcquisitionTimerTick();
  vm_->AcquisitionTimerTick();
  EXPECT_EQ(script_->arms.size(), 1u);
  EXPECT_EQ(settings_calls, 1);
}

TEST_F(SequencerTest, AfterReprogrammingTheContinuousStepArmsOnceMore) {
  bool complete = false;
  script_->ready = [&] { return complete; };
  const auto steps = [&](int count, bool completing) {
    complete = completing;
    for (int step = 0; step < count; ++step) vm_->AcquisitionStep();
    complete = false;
  };
  vm_->SetAcquisitionMode(amContinuous);
  steps(3, false);  // settings are dirty after construction: arm, arm again, wait
  EXPECT_EQ(script_->arms.size(), 2u);
  steps(1, true);  // the record is read

  vm_->SetCoupling(1, 1);  // reaches the board at the next arm, which arms twice
  steps(3, false);
  EXPECT_EQ(script_->arms.size(), 4u);
  steps(1, true);

  steps(3, false);  // nothing changed: one arm per record
  EXPECT_EQ(script_->arms.size(), 5u);
}

TEST_F(SequencerTest, TheArmAppliesTheRangeStepAndKeepsTheDcLevelReachable) {
  script_->ready = [] { return false; };
  vm_->AutoRanging[1] = true;
  vm_->RangeIndex[1] = 4;  // 0.2 V
  vm_->SetDcLevel(1, 0.8L);
  vm_->RangeStep[1] = -1;  // 0.08 V cannot offset 0.8 V: one range further up again
  vm_->AcquisitionStep();
  EXPECT_EQ(vm_->RangeIndex[1], 4);
  EXPECT_EQ(vm_->DcLevelLimit[1], vm_->DcLevelLimits[4]);

  vm_->RangeIndex[1] = 12;
  vm_->RangeStep[1] = +1;
  vm_->Armed = false;
  vm_->AcquisitionStep();
  EXPECT_EQ(vm_->RangeIndex[1], 12);

  vm_->mMeasureMode = mCh2;  // channel 1 is not measured: its step waits
  vm_->RangeIndex[1] = 5;
  vm_->RangeStep[1] = +1;
  vm_->Armed = false;
  vm_->AcquisitionStep();
  EXPECT_EQ(vm_->RangeIndex[1], 5);
}

// A block record right after bring-up, or after a range change, needs the DC-level DACs and
// gain trims of its range, not only the relay word.
TEST_F(SequencerTest, TheBlockStartProgramsTheWholeFrontEndWhenSettingsChanged) {
  vm_->StartBlockAcquisition();
  EXPECT_TRUE(vm_->IsBlockRunning());
  EXPECT_EQ(script_->arms.size(), 1u);
  constexpr std::uint8_t kDcDacCh1 = 0x04, kDcDacCh2 = 0x08, kTrimDacs = 0x20, kLatch = 0x10;
  EXPECT_EQ(script_->bus_lines_seen & (kDcDacCh1 | kDcDacCh2 | kTrimDacs | kLatch),
            kDcDacCh1 | kDcDacCh2 | kTrimDacs | kLatch);
  EXPECT_FALSE(vm_->SettingsDirty);

  script_->bus_lines_seen = 0;
  vm_->StartBlockAcquisition();  // nothing changed: the front end is left alone
  EXPECT_EQ(script_->bus_lines_seen, 0);
  vm_->FetchBlockRecord();
  EXPECT_FALSE(vm_->IsBlockRunning());
}

// Each record's step moves the range once; the range stays inside the table however often
// the host starts without fetching.
TEST_F(SequencerTest, TheBlockStartTakesARangeStepOnceAndKeepsTheRangeInTheTable) {
  vm_->AutoRanging[1] = true;
  vm_->RangeIndex[1] = 11;
  vm_->RangeStep[1] = +1;
  for (int start = 0; start < 3; ++start) vm_->StartBlockAcquisition();
  EXPECT_EQ(vm_->RangeIndex[1], 12);
  EXPECT_EQ(vm_->RangeStep[1], 0);

  vm_->RangeIndex[1] = 12;
  vm_->RangeStep[1] = +1;  // cannot come from a readout, but must not leave the table
  vm_->StartBlockAcquisition();
  EXPECT_EQ(vm_->RangeIndex[1], 12);
}

}  // namespace
}  // namespace vm316
