// Every sample of a record was recorded after its arm, on the simulated board, with triggers
// that come as early as they can: inputs that cross the trigger level every few samples, a
// pre-trigger part of 900 samples, each trigger source and a forced trigger, in each of the
// sequencer's drives, at a low and at the highest rate.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "instrument/recorder.h"
#include "instrument/vmx16.h"
#include "platform/clock.h"
#include "platform/message_loop.h"
#include "sim/board.h"

namespace vm316 {
namespace {

constexpr std::uint16_t kBase = 0x378;
constexpr std::int32_t kRecordLength = 1000;
constexpr std::int32_t kPostSamples = 100;
constexpr int kRecords = 2;

enum class Drive { kBlocking, kTimer, kBlock };

struct Case {
  TTrigSource source;
  std::uint8_t slope;
  bool forced;  // the comparator cannot fire: the time-out (or the host) forces the trigger
};

std::string Name(const Case& c, Drive drive, long double rate) {
  static const char* const kDrives[] = {"blocking", "timer", "block"};
  return "source " + std::to_string(c.source) + " slope " + std::to_string(c.slope) +
         (c.forced ? " forced" : "") + ", " + kDrives[static_cast<int>(drive)] + ", " +
         std::to_string(static_cast<double>(rate)) + " Hz";
}

// Inputs that cross 0 V (the trigger level) every four samples at the given rate, with noise
// enough to make each recorded byte tell where it came from.
sim::Signal Square(long double rate, const char* shape) {
  std::string error;
  const std::string spec =
      std::string("square:freq=") + std::to_string(static_cast<double>(rate / 8)) + "," + shape;
  return *sim::Signal::Parse(spec, &error);
}

class HoldOffTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::SystemClock().Select(platform::ClockKind::kVirtual); }

  void MakeInstrument(long double rate) {
    sim::BoardConfig config;
    config.ch1 = Square(rate, "amp=0.5,noise=0.02");
    config.ch2 = Square(rate, "amp=0.5,phase=90,noise=0.02");
    config.external = Square(rate, "amp=2.5,offset=2.5");
    auto board = std::make_unique<sim::Board>(config, platform::SystemClock());
    board_ = board.get();
    vm_ = std::make_unique<TVMx16>(std::move(board));
    vm_->SetHardwareAddress(kBase);
    ASSERT_TRUE(vm_->DetectHardware());
    vm_->ResetRecorder();
    for (auto& row : vm_->GainTrim) row.fill(kNeutralGainTrim);
    vm_->SetAcquisitionMode(amHold);
    vm_->SetSampleFrequencyValue(rate);
    vm_->SetRecordLength(kRecordLength);
    vm_->SetPostSamples(kPostSamples);
  }

  void Take(Drive drive, bool forced) {
    switch (drive) {
      case Drive::kBlocking:
        vm_->MeasureOnce();
        ASSERT_TRUE(vm_->RecordDone);
        break;
      case Drive::kTimer:
        vm_->SetAcquisitionMode(amOneShot);
        vm_->SetEnableMeasurements(true);
        for (int i = 0; i < 1000 && vm_->amAcquisitionMode == amOneShot; ++i) {
          platform::PumpMessages(10);
        }
        vm_->SetEnableMeasurements(false);
        ASSERT_EQ(vm_->amAcquisitionMode, amHold);
        break;
      case Drive::kBlock: {
        vm_->StartBlockAcquisition();
        if (forced) vm_->ForceBlockTrigger();  // asked for at once: held until it may come
        int polls = 0;
        while (vm_->BlockRecordReady() == 0 && ++polls < 1000000) {
        }
        ASSERT_EQ(vm_->BlockRecordReady(), 1);
        vm_->FetchBlockRecord();
        break;
      }
    }
  }

  // Every location the record was read from was written since the arm, and the record holds
  // them in order from its first sample, the trigger at index lPreSamples.
  void ExpectRecordAfterTheArm(bool taken_at_once) {
    const sim::Recorder& recorder = board_->RecorderUnit();
    // Taken at once, the board's trigger is the first sample after the arm.
    const auto first = static_cast<std::uint16_t>(recorder.TriggerAddress() -
                                                  (taken_at_once ? 0 : vm_->lPreSamples));
    int stale = 0;
    int misread = 0;
    for (int i = 0; i < kRecordLength; ++i) {
      const auto address = static_cast<std::uint16_t>(first + i);
      stale += !recorder.WrittenSinceArm(address);
      misread += (vm_->OutputBuffer[1][i] >> 8) != board_->SampleAt(1, address);
    }
    EXPECT_EQ(stale, 0);
    EXPECT_EQ(misread, 0);
  }

  // A channel's own trigger is the sample at which its input crossed the level (code 127),
  // with the slope asked for: not one the switch from the parked settings set off.
  void ExpectTriggerAtTheCrossing(int channel, bool rising) {
    const std::int32_t pre = vm_->lPreSamples;
    const int before = vm_->OutputBuffer[channel][pre - 1] >> 8;
    const int at = vm_->OutputBuffer[channel][pre] >> 8;
    EXPECT_TRUE(rising ? before < 127 && at >= 127 : before > 127 && at <= 127)
        << before << " then " << at;
  }

  sim::Board* board_ = nullptr;
  std::unique_ptr<TVMx16> vm_;
};

TEST_F(HoldOffTest, NoSampleOfARecordPrecedesItsArm) {
  const Case cases[] = {{tsCh1, 0, false}, {tsCh2, 1, false}, {tsExternal, 0, false},
                        {tsAnd, 1, false}, {tsOr, 0, false},  {tsNoTrig, 0, false},
                        {tsCh1, 0, true}};
  for (const long double rate : {10000.0L, 20000000.0L}) {
    for (const Drive drive : {Drive::kBlocking, Drive::kTimer, Drive::kBlock}) {
      for (const Case& c : cases) {
        SCOPED_TRACE(Name(c, drive, rate));
        MakeInstrument(rate);
        vm_->SetTriggerSource(c.source);
        vm_->SetTriggerSlope(1, c.slope);
        if (c.forced) {
          vm_->SetTriggerLevel(1, 255);  // above every code the square reaches
          vm_->SetTrigTimeOut(0.001L);
        }
        for (int record = 0; record < kRecords; ++record) {
          Take(drive, c.forced);
          ExpectRecordAfterTheArm(c.source == tsNoTrig);
          if (!c.forced && (c.source == tsCh1 || c.source == tsCh2)) {
            ExpectTriggerAtTheCrossing(c.source == tsCh1 ? 1 : 2, c.slope == 0);
          }
        }
      }
    }
  }
}

// The call that arms ends a hold-off of up to 20 ms itself: it returns once the pre-trigger
// part has been recorded (and not much later), with the comparators' real settings on the
// board. A longer hold-off is left to the next look at the board. At 50 kHz the real settings
// take less than a sample to write, so the samples recorded when the call returns tell when
// the hold-off ended.
TEST_F(HoldOffTest, AShortHoldOffEndsInTheCallThatArms) {
  const struct {
    long double rate;
    std::int32_t post;
    bool ends_in_the_call;
  } cases[] = {{50000.0L, 900, true},    // 101 samples: 2 ms
               {50000.0L, 100, true},    // 901 samples: 18 ms
               {10000.0L, 100, false}};  // 90 ms
  for (const auto& c : cases) {
    for (const Drive drive : {Drive::kBlock, Drive::kTimer}) {
      SCOPED_TRACE(Name({tsCh1, 0, false}, drive, c.rate) + ", post " + std::to_string(c.post));
      MakeInstrument(c.rate);
      vm_->SetTriggerSource(tsCh1);
      vm_->SetPostSamples(c.post);
      if (drive == Drive::kBlock) {
        vm_->StartBlockAcquisition();
      } else {
        vm_->SetAcquisitionMode(amContinuous);
        // The first tick reprograms the front end; the next repeats its arm.
        vm_->AcquisitionTimerTick();
        vm_->AcquisitionTimerTick();
      }
      const sim::Recorder& recorder = board_->RecorderUnit();
      const std::uint64_t recorded = recorder.SamplesRecorded();
      const auto pre = static_cast<std::uint64_t>(vm_->lPreSamples);
      if (c.ends_in_the_call) {
        EXPECT_FALSE(vm_->HoldOffRunning);
        EXPECT_GE(recorded, pre + 1);
        EXPECT_LE(recorded, pre + 3);
        for (int unit = 1; unit <= 2; ++unit) {
          const sim::TriggerComparator& comparator = recorder.Comparator(unit);
          EXPECT_EQ(comparator.TriggerLevel(), ComparatorShadow(unit).trigger_level);
          EXPECT_EQ(comparator.HysteresisLevel(), ComparatorShadow(unit).hysteresis_level);
        }
      } else {
        EXPECT_TRUE(vm_->HoldOffRunning);
        EXPECT_TRUE(vm_->ComparatorsParked);
        EXPECT_LT(recorded, pre);
      }
    }
  }
}

// At 10 kHz a record of 1000 samples takes 100 ms, which a loop looking back to back would
// fill with some 20 000 looks at the board. It looks when something can have changed: at the
// end of the hold-off, once the samples after the trigger can be in, and through the last few
// samples before the stop.
TEST_F(HoldOffTest, TheBlockingLoopLooksAtTheBoardOnlyWhenSomethingCanHaveChanged) {
  MakeInstrument(10000.0L);
  vm_->SetTriggerSource(tsCh1);
  int steps = 0;
  vm_->OnTriggered = [&steps](TVMx16&) { ++steps; };
  vm_->MeasureOnce();
  ASSERT_TRUE(vm_->RecordDone);
  EXPECT_LT(steps, 500);
}

}  // namespace
}  // namespace vm316
