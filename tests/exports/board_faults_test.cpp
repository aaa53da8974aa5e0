// The simulated board's faults in each measurement style: a board that is not there, a
// system that refuses port access, a recorder that never finishes, a dead second converter,
// and a board pulled out after a number of port accesses (during bring-up, during a record
// seek, during a readout). Nothing crashes, every blocking call ends within its bound, the
// statuses and messages say what happened, and a later ExitInstrument and InitInstrument on a
// sound board work.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "sim_session.h"
#include "support/message_capture.h"
#include "support/slowdown.h"
#include "vm316.h"
#include "vm316_host.h"

namespace vm316::testing {
namespace {

enum class Style { kBlock, kBlocking, kTimer };
const Style kStyles[] = {Style::kBlock, Style::kBlocking, Style::kTimer};

const char* Name(Style style) {
  switch (style) {
    case Style::kBlock:
      return "block";
    case Style::kBlocking:
      return "blocking";
    case Style::kTimer:
      return "timer";
  }
  return "?";
}

constexpr uint32_t kTimeOutMs = 100;
// A host's patience in the block and timer styles, in virtual milliseconds: well past the
// time-out, the record's duration and a second.
constexpr uint32_t kPatienceMs = 1500;
// Wall time a call may take in a debug or instrumented build; VM316_TEST_SLOWDOWN scales it
// for runs under valgrind.
const double kWallBoundSeconds = 20.0 * vm316::test::Slowdown();

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// What one measurement in a style gave: the status of its last call, and whether a record
// came.
struct Outcome {
  uint16_t status = StatusOk;
  bool record = false;
};

Outcome Measure(Style style) {
  Outcome outcome;
  switch (style) {
    case Style::kBlocking:
      outcome.status = StartMeasurement();
      outcome.record = outcome.status == StatusOk;
      break;
    case Style::kBlock: {
      outcome.status = ADC_Start();
      if (outcome.status != StatusOk) break;
      uint32_t waited = 0;
      while (ADC_Ready() == 0 && waited < kPatienceMs) {
        PumpFor(10);
        waited += 10;
        if (waited == 2 * kTimeOutMs) ADC_ForceTrig();  // the host forces it itself
      }
      outcome.record = ADC_Ready() == 1;
      std::vector<uint16_t> ch1(static_cast<std::size_t>(GetMaxRecordLength()) + 1);
      std::vector<uint16_t> ch2(ch1.size());
      outcome.status = ADC_GetData(ch1.data(), ch2.data());
      break;
    }
    case Style::kTimer: {
      outcome.status = DoMeasure(1);
      if (outcome.status != StatusOk) break;
      // The one-shot measurement runs on the timer while the host pumps its messages.
      PumpFor(kPatienceMs);
      std::vector<double> volts(static_cast<std::size_t>(GetMaxRecordLength()) + 1);
      outcome.status = GetMeasurement(volts.data(), volts.data());
      DoMeasure(0);
      outcome.record = outcome.status == StatusOk;
      break;
    }
  }
  return outcome;
}

// A short time-out, and a slow clock: waiting costs the simulated board every sample it
// records meanwhile, and a record then holds several periods of a 1 kHz input.
void UseTestSettings() {
  ASSERT_EQ(SetTriggerTimeOut(kTimeOutMs), StatusOk);
  uint32_t frequency = 100000;
  ASSERT_EQ(SetSampleFrequency(&frequency), StatusOk);
}

class BoardFaultTest : public SimulatedBoardTest {
 protected:
  void SetUp() override { start_ = std::chrono::steady_clock::now(); }

  // Ends the faulty instrument and brings up a sound board, which must measure.
  void ExpectRecovery() {
    EXPECT_EQ(ExitInstrument(), StatusOk);
    ASSERT_EQ(BringUp(), StatusOk) << "no fresh instrument after the fault";
    UseTestSettings();
    EXPECT_EQ(StartMeasurement(), StatusOk);
    EXPECT_LT(SecondsSince(start_), kWallBoundSeconds);
  }

  uint16_t BringUpWith(const std::string& fault) {
    const uint16_t status = BringUp(BoardInputs().Ch1("sine:freq=1000,amp=0.5").Fault(fault));
    if (status == StatusOk) UseTestSettings();
    return status;
  }

  std::chrono::steady_clock::time_point start_;
  MessageCapture capture_;
};

TEST_F(BoardFaultTest, AnAbsentBoardIsNoHardwareInEveryStyleAndSaysNothing) {
  EXPECT_EQ(BringUpWith("absent"), StatusNoHardware);
  for (Style style : kStyles) EXPECT_EQ(Measure(style).status, StatusNoHardware) << Name(style);
  EXPECT_TRUE(capture_.Texts().empty());
  ExpectRecovery();
}

TEST_F(BoardFaultTest, RefusedPortAccessIsNoHardwareInEveryStyleWithTheDriverMessage) {
  EXPECT_EQ(BringUpWith("no-driver"), StatusNoHardware);
  for (Style style : kStyles) EXPECT_EQ(Measure(style).status, StatusNoHardware) << Name(style);
  ASSERT_EQ(capture_.Texts().size(), 1u);
  EXPECT_NE(capture_.Texts()[0].find("requires"), std::string::npos) << capture_.Texts()[0];
  ExpectRecovery();
}

// The recorder never reports a complete record, not even a forced one.
TEST_F(BoardFaultTest, AStuckRecorderEndsEveryStyleWithinItsBound) {
  for (Style style : kStyles) {
    ASSERT_EQ(BringUpWith("stuck-busy"), StatusOk) << Name(style);
    const auto begun = std::chrono::steady_clock::now();
    const Outcome outcome = Measure(style);
    EXPECT_LT(SecondsSince(begun), kWallBoundSeconds) << Name(style);
    EXPECT_FALSE(outcome.record && style == Style::kBlock) << "the block style saw a record";
    if (style == Style::kBlocking) {
      // Given up within the record's bound, for this call only: the board still answers.
      EXPECT_EQ(outcome.status, StatusNoHardware);
      uint16_t channels = 0;
      EXPECT_EQ(GetNrChannels(&channels), StatusOk);
    }
    if (style == Style::kTimer) {
      // The timer keeps trying while the host pumps; nothing blocks.
      EXPECT_EQ(outcome.status, StatusOk);
    }
    EXPECT_EQ(ExitInstrument(), StatusOk);
  }
  ExpectRecovery();
}

// Without a time-out the wait for a trigger is the host's; but once the trigger status shows
// the trigger, a recorder that never stops is given up within the record's bound.
TEST_F(BoardFaultTest, AStuckRecorderThatTriggeredEndsTheBlockingCallWithoutATimeOut) {
  ASSERT_EQ(BringUpWith("stuck-busy"), StatusOk);
  ASSERT_EQ(SetTriggerTimeOut(0xFFFFFFFF), StatusOk);  // none
  const auto begun = std::chrono::steady_clock::now();
  EXPECT_EQ(StartMeasurement(), StatusNoHardware);
  EXPECT_LT(SecondsSince(begun), kWallBoundSeconds);
  EXPECT_NE(ADC_Triggered(), 0);
  uint16_t channels = 0;
  EXPECT_EQ(GetNrChannels(&channels), StatusOk);
  EXPECT_EQ(ExitInstrument(), StatusOk);
  ExpectRecovery();
}

// Channel 2's converter always reads mid-scale: channel 1 measures on, channel 2 reads 0 V.
TEST_F(BoardFaultTest, ADeadSecondConverterReadsZeroVoltsOnChannel2Only) {
  for (Style style : kStyles) {
    ASSERT_EQ(BringUp(BoardInputs()
                          .Ch1("sine:freq=1000,amp=0.5")
                          .Ch2("sine:freq=1000,amp=0.5")
                          .Fault("dead-converter2")),
              StatusOk);
    UseTestSettings();
    ASSERT_EQ(SetMeasureMode(mCh1), StatusOk);  // bring-up left mCh12 with channel 1 alone
    ASSERT_EQ(SetMeasureMode(mCh12), StatusOk);
    const Outcome outcome = Measure(style);
    EXPECT_EQ(outcome.status, StatusOk) << Name(style);
    Record record = style == Style::kBlock ? BlockVoltRecord() : VoltRecord();
    // From the trigger on: a trigger that comes early leaves the head of the record holding
    // whatever the sample memory held.
    const auto from_trigger = static_cast<std::ptrdiff_t>(GetRecordLength() - GetPostSamples());
    record.ch1.erase(record.ch1.begin(), record.ch1.begin() + from_trigger);
    record.ch2.erase(record.ch2.begin(), record.ch2.begin() + from_trigger);
    EXPECT_GT(Amplitude(record.ch1), 0.4) << Name(style);
    EXPECT_EQ(Mean(record.ch2), 0.0) << Name(style);
    EXPECT_EQ(Amplitude(record.ch2), 0.0) << Name(style);
  }
  ExpectRecovery();
}

// Calibrating on it fails: the searches cannot move converter 2. The user is told, and the
// directory keeps no calibration of the faulty board.
TEST_F(BoardFaultTest, ACalibrationOnADeadSecondConverterFailsAndSaysSo) {
  env_.Set("VM316_SIM_FAULT", "dead-converter2");
  EXPECT_EQ(InitInstrument(kSimBase), StatusOk);  // the board is there, and usable
  EXPECT_EQ(capture_.Count(VM316_NOTICE_BEEP), 1);
  EXPECT_EQ(capture_.Texts(),
            std::vector<std::string>{
                "Calibration of the VM316 failed, connect inputs to ground and try again"});
  EXPECT_EQ(StartMeasurement(), StatusOk);
  env_.Unset("VM316_SIM_FAULT");
  ExpectRecovery();
}

// The board's analog faults and a slow bus at the first calibration of the day: a channel
// whose amplifier is dead cannot be calibrated, and the user is told; a drifting reference and a
// bus with wait states calibrate and measure.
TEST_F(BoardFaultTest, CalibrationOnABoardWithAnAnalogFaultOrASlowBus) {
  const struct {
    const char* fault;
    bool fails;
  } cases[] = {{"dead-ch1", true}, {"drifting-reference", false}, {"slow-bus=10", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    const std::size_t shown = capture_.Texts().size();
    std::filesystem::remove("Vemora1.Cal");
    env_.Set("VM316_SIM_FAULT", c.fault);
    EXPECT_EQ(InitInstrument(kSimBase), StatusOk);
    EXPECT_EQ(capture_.Texts().size() - shown, c.fails ? 1u : 0u);
    EXPECT_EQ(std::filesystem::exists("Vemora1.Cal"), !c.fails);
    EXPECT_EQ(StartMeasurement(), StatusOk);
    EXPECT_EQ(ExitInstrument(), StatusOk);
  }
  env_.Unset("VM316_SIM_FAULT");
}

// Pulled out while the first calibration of the day runs: the calibration stops, nothing is
// said (the calibration message would name the wrong cause), no file is written, and the
// instrument is not reported present.
TEST_F(BoardFaultTest, ABoardPulledOutDuringTheCalibrationIsNoHardware) {
  env_.Set("VM316_SIM_FAULT", "unplug-after=5000");  // after detection, in the first search
  EXPECT_EQ(InitInstrument(kSimBase), StatusNoHardware);
  EXPECT_EQ(capture_.Texts(), std::vector<std::string>{});
  EXPECT_EQ(capture_.Count(VM316_NOTICE_BEEP), 0);
  EXPECT_FALSE(std::filesystem::exists("Vemora1.Cal"));
  EXPECT_FALSE(std::filesystem::exists("Vemora2.Cal"));
  EXPECT_EQ(StartMeasurement(), StatusNoHardware);
  env_.Unset("VM316_SIM_FAULT");
  ExpectRecovery();
}

// The port accesses of a bring-up from today's files and one measurement up to the readout's
// last look at the board (whether the bus floats), found by bisection on when the board may be
// pulled and the measurement still succeed. Detection draws its step count anew at each
// bring-up, so the figure holds within about a hundred accesses.
uint64_t AccessesToTheEndOfTheReadout(ScopedEnv& env) {
  auto survives = [&env](uint64_t n) {
    ExitInstrument();
    SeedCalibration();
    env.Set("VM316_SIM_FAULT", "unplug-after=" + std::to_string(n));
    bool ok = InitInstrument(kSimBase) == StatusOk;
    if (ok) UseTestSettings();
    ok = ok && StartMeasurement() == StatusOk;
    ExitInstrument();
    return ok;
  };
  uint64_t low = 0;          // dies
  uint64_t high = 1u << 22;  // survives
  EXPECT_TRUE(survives(high));
  while (high - low > 1) {
    const uint64_t middle = (low + high) / 2;
    (survives(middle) ? high : low) = middle;
  }
  return high;
}

TEST_F(BoardFaultTest, ABoardPulledOutAtAnyPointEndsEveryCallAndIsReported) {
  env_.Set("VM316_SIM_CH1", "sine:freq=1000,amp=0.5");
  const uint64_t end = AccessesToTheEndOfTheReadout(env_);
  RecordProperty("port_accesses_to_the_end_of_the_readout", std::to_string(end));
  // The readout seeks the record's first location (a few status polls: the trigger came as
  // soon as it could, so the counter stopped a few locations past the record), then reads
  // 512 + 1 locations of four accesses each, resets the recorder and looks at the bus again:
  // about 2080 accesses after the seek, some 600 before it since the bring-up.
  const struct {
    const char* when;
    uint64_t after;
  } cases[] = {
      {"at the first access", 0},
      {"during detection", 30},
      {"while arming and waiting", end - 2300},
      {"during the seek", end - 2090},
      {"during the readout", end - 1000},
      {"after the readout", end + 300},
  };
  for (const auto& c : cases) {
    for (Style style : kStyles) {
      SCOPED_TRACE(std::string(c.when) + ", " + Name(style));
      ExitInstrument();
      const auto begun = std::chrono::steady_clock::now();
      const uint16_t init = BringUpWith("unplug-after=" + std::to_string(c.after));
      if (c.after < 50) {  // detection needs 52 accesses at least
        EXPECT_EQ(init, StatusNoHardware);
        EXPECT_EQ(Measure(style).status, StatusNoHardware);
        continue;
      }
      ASSERT_EQ(init, StatusOk);
      const Outcome first = Measure(style);
      // The figure was taken in the blocking style; the others reach their readout sooner.
      // A record read from a floating bus, wholly or in part, is no record.
      if (style != Style::kBlocking) {
      } else if (c.after + 100 < end) {
        EXPECT_EQ(first.status, StatusNoHardware);
      } else if (c.after > end + 200) {
        EXPECT_EQ(first.status, StatusOk);
      }
      // A later measurement finds the board gone. The figure is rough, so a pull meant for the
      // end of one record may fall into the next.
      Outcome second = Measure(style);
      for (int more = 0; more < 3 && second.status == StatusOk; ++more) second = Measure(style);
      EXPECT_LT(SecondsSince(begun), kWallBoundSeconds);
      EXPECT_EQ(second.status, StatusNoHardware);
      uint16_t channels = 0;
      EXPECT_EQ(GetNrChannels(&channels), StatusNoHardware);
    }
  }
  ExpectRecovery();
}

}  // namespace
}  // namespace vm316::testing
