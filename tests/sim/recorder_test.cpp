#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "board_ports.h"
#include "support/slowdown.h"

namespace vm316::sim {
namespace {

using simtest::BoardPorts;
using simtest::Sample;
using simtest::TestBench;

constexpr std::uint8_t kRising = 5;
constexpr std::uint8_t kFalling = 6;
constexpr std::uint8_t kExternalRising = 1;
constexpr std::uint8_t kExternalFalling = 0;
constexpr std::uint8_t kLevel = 150;  // about +0.14 V on the 0.8 V range
constexpr std::uint8_t kHysteresis = 10;
constexpr std::uint16_t kMask = 0x7FFF;

Signal Spec(const std::string& text) {
  std::string error;
  std::optional<Signal> signal = Signal::Parse(text, &error);
  EXPECT_TRUE(signal) << error;
  return signal.value_or(Signal());
}

// An ideal board with both channels on the given range, offsets at mid-scale and 1 MHz sampling.
BoardConfig Inputs(const std::string& ch1, const std::string& ch2 = "ground",
                   const std::string& external = "ground") {
  BoardConfig config = simtest::IdealConfig();
  config.ch1 = Spec(ch1);
  config.ch2 = Spec(ch2);
  config.external = Spec(external);
  return config;
}

void PrepareFrontEnd(BoardPorts& ports, std::uint32_t relay_word = simtest::kRange6Word) {
  ports.WriteRelayWord(relay_word);
  ports.WriteDcLevelVolts(1, -1.0);
  ports.WriteDcLevelVolts(2, -1.0);
  ports.SelectDividedClock(4);
}

void ProgramBothComparators(BoardPorts& ports, std::uint8_t mode) {
  const bool falling = mode == kFalling;
  const std::uint8_t hysteresis = falling ? kLevel + kHysteresis : kLevel - kHysteresis;
  ports.ProgramComparator(1, mode, hysteresis, kLevel);
  ports.ProgramComparator(2, mode, hysteresis, kLevel);
}

struct Capture {
  bool completed = false;
  std::uint8_t status = 0;
  std::uint16_t end = 0;
  std::uint16_t start = 0;
  std::vector<Sample> record;
};

Capture Acquire(TestBench& bench, std::uint8_t select, int pre, int post) {
  Capture capture;
  BoardPorts& ports = bench.ports;
  ports.Arm(static_cast<std::uint16_t>(post), select);
  capture.completed = ports.WaitDone(200'000);
  capture.status = ports.Status();
  capture.end = ports.ReadCounter() & kMask;
  capture.record = ports.ReadRecord(pre, post, select == 2, bench.clock, &capture.start);
  return capture;
}

bool CrossesUp(const std::vector<Sample>& record, int i, bool converter2 = false) {
  auto code = [&](int k) { return converter2 ? record[k].converter2 : record[k].converter1; };
  return code(i - 1) < kLevel && code(i) >= kLevel;
}
bool CrossesDown(const std::vector<Sample>& record, int i) {
  return record[i - 1].converter1 > kLevel && record[i].converter1 <= kLevel;
}

TEST(Detection, TheCounterHandshakeAnswersNMinus2) {
  for (int n : {10, 22, 34}) {
    TestBench bench;
    BoardPorts& ports = bench.ports;
    // Whatever the board did before (here: recording at 20 MHz), the handshake holds.
    ports.SelectClockSource(0);
    ports.Arm(100, 0);
    ports.WriteControl(Board::kArmRegister, 0);
    ports.WriteControl(simtest::kMode, 0);
    ports.WriteControl(Board::kArmRegister, 0);
    bench.clock.WaitUntil(bench.clock.NowNs() + 1'000'000'000);
    for (int i = 0; i < n + 1; ++i) {
      ports.WriteControl(Board::kStepRegister, 0);
      ports.ReadCounter();
    }
    EXPECT_EQ(ports.ReadCounter() + 2, n);
  }
}

TEST(Trigger, AnalogComparatorsOnEachSlopeAndSource) {
  constexpr int kPre = 1200;
  constexpr int kPost = 500;
  const struct {
    const char* name;
    std::uint8_t select;
    std::uint8_t mode;
    const char* ch1;
    const char* ch2;
    std::uint8_t seen;  // status bits 1-2 expected
  } cases[] = {
      {"channel 1 rising", 0, kRising, "sine:freq=1000,amp=0.5", "ground", 0x2},
      {"channel 1 falling", 0, kFalling, "sine:freq=1000,amp=0.5", "dc:offset=0.5", 0x2},
      {"channel 2 rising", 1, kRising, "ground", "sine:freq=1000,amp=0.5", 0x4},
      {"or, only channel 2 moves", 3, kRising, "ground", "sine:freq=1000,amp=0.5", 0x4},
      {"and", 4, kRising, "sine:freq=1000,amp=0.5", "sine:freq=1000,amp=0.5,phase=-90", 0x6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestBench bench(Inputs(c.ch1, c.ch2));
    PrepareFrontEnd(bench.ports);
    ProgramBothComparators(bench.ports, c.mode);
    const Capture capture = Acquire(bench, c.select, kPre, kPost);
    ASSERT_TRUE(capture.completed);
    EXPECT_EQ(capture.status, 0x1 | c.seen);
    // The counter stopped post + 7 past the trigger sample, which the readout put at kPre.
    const std::uint16_t trigger = bench.board.RecorderUnit().TriggerAddress();
    EXPECT_EQ((capture.end - trigger) & kMask, kPost + 7);
    EXPECT_EQ((capture.start + kPre) & kMask, trigger);
    const auto& record = capture.record;
    switch (c.select) {
      case 0:
        EXPECT_TRUE(c.mode == kRising ? CrossesUp(record, kPre) : CrossesDown(record, kPre));
        break;
      case 1:
      case 3:
        EXPECT_TRUE(CrossesUp(record, kPre, true));
        break;
      default: {
        // AND: the later of the two crossings; the other one came within the period before.
        const bool second = CrossesUp(record, kPre, true);
        EXPECT_TRUE(second || CrossesUp(record, kPre));
        bool other_crossed = false;
        for (int i = kPre - 1; i > 0 && i > kPre - 1000; --i) {
          other_crossed = other_crossed || CrossesUp(record, i, !second);
        }
        EXPECT_TRUE(other_crossed);
      }
    }
  }
}

TEST(Trigger, ExternalInputEdges) {
  constexpr int kPre = 200;
  constexpr int kPost = 200;
  // The same 0..2 V square on channel 1 and on the external input (high above 1.4 V).
  const char* square = "square:freq=1000,amp=1,offset=1";
  for (std::uint8_t mode : {kExternalRising, kExternalFalling}) {
    SCOPED_TRACE(int(mode));
    TestBench bench(Inputs(square, "ground", square));
    PrepareFrontEnd(bench.ports, simtest::kRange9Word);
    bench.ports.ProgramComparator(1, mode, 0, 0);
    bench.ports.ProgramComparator(2, mode, 0, 0);
    const Capture capture = Acquire(bench, 1, kPre, kPost);
    ASSERT_TRUE(capture.completed);
    EXPECT_EQ(capture.status, 0x7) << "both units watch the external input";
    // Channel 1's edge comes through the input path's low-pass: three time constants after the
    // trigger it has covered 95 % of its way; the trigger input has no such delay.
    const int before = capture.record[kPre - 1].converter1;
    const int at = capture.record[kPre + 2].converter1;
    if (mode == kExternalRising) {
      EXPECT_LT(before, at);
    } else {
      EXPECT_GT(before, at);
    }
  }
}

TEST(Trigger, SelectCodeTwoTriggersAtOnceAndForces) {
  // Code 2 at arm: the first sample after arming is the trigger; the readout subtracts 5.
  {
    TestBench bench(Inputs("sawtooth:freq=10,amp=0.7"));
    PrepareFrontEnd(bench.ports);
    const Capture capture = Acquire(bench, 2, 0, 100);
    ASSERT_TRUE(capture.completed);
    EXPECT_EQ(capture.start, 0x7FFD) << "the first location written after arming";
    EXPECT_EQ((capture.end - capture.start) & kMask, 100 + 5);
    // The record wraps from the top of memory to 0 and stays one slow ramp.
    for (std::size_t i = 1; i < capture.record.size(); ++i) {
      EXPECT_GE(capture.record[i].converter1, capture.record[i - 1].converter1) << i;
    }
  }
  // Code 2 written while waiting forces the trigger: the readout subtracts 7 as for any source.
  {
    TestBench bench(Inputs("ground"));
    PrepareFrontEnd(bench.ports);
    ProgramBothComparators(bench.ports, kRising);
    bench.ports.Arm(400, 0);
    bench.clock.WaitUntil(bench.clock.NowNs() + 2'000'000);
    EXPECT_EQ(bench.ports.Status(), 0) << "no crossing, no trigger";
    EXPECT_EQ(bench.board.State(), RecorderState::kWaitingForTrigger);
    bench.ports.WriteControl(Board::kTriggerRegister, 2);
    const std::uint16_t forced_at = bench.ports.ReadCounter();
    ASSERT_TRUE(bench.ports.WaitDone(10'000));
    EXPECT_EQ(bench.ports.Status(), 0x1) << "no comparator saw anything";
    const std::uint16_t trigger = bench.board.RecorderUnit().TriggerAddress();
    EXPECT_LE((forced_at - trigger) & kMask, 2) << "the next sample after the write";
    std::uint16_t start = 0;
    bench.ports.ReadRecord(300, 400, false, bench.clock, &start);
    EXPECT_EQ((start + 300) & kMask, trigger);
  }
}

TEST(Trigger, StatusBitsHoldUntilTheNextArm) {
  TestBench bench(Inputs("sine:freq=1000,amp=0.5"));
  PrepareFrontEnd(bench.ports);
  ProgramBothComparators(bench.ports, kRising);
  bench.ports.Arm(10, 0);
  EXPECT_EQ(bench.ports.Status(), 0);
  ASSERT_TRUE(bench.ports.WaitDone(10'000));
  EXPECT_EQ(bench.board.State(), RecorderState::kComplete);
  bench.ports.WriteControl(simtest::kMode, 0);
  EXPECT_EQ(bench.ports.Status(), 0x2) << "done only reads in the armed and seek modes";
  bench.ports.WriteControl(Board::kArmRegister, 0);
  EXPECT_EQ(bench.ports.Status(), 0);
}

TEST(Seek, TheCounterRunsToTheAddressAt20MHz) {
  TestBench bench;
  BoardPorts& ports = bench.ports;
  ports.WriteControl(Board::kArmRegister, 0);  // counter at 0x7FFD
  ports.WriteCount(1000);                      // 1003 steps away: 50.15 us at 20 MHz
  ports.SelectClockSource(0);
  ports.WriteControl(simtest::kMode, 2);
  bench.clock.WaitUntil(bench.clock.NowNs() + 10'000);
  EXPECT_EQ(ports.ReadCounter(), 0x7FFD) << "mode 2 only prepares";
  ports.WriteControl(simtest::kMode, 3);
  const std::uint64_t started = bench.clock.NowNs();
  bench.clock.WaitUntil(started + 25'000);
  EXPECT_EQ(ports.Status() & 1, 0);
  EXPECT_EQ(bench.board.State(), RecorderState::kSeeking);
  const std::uint16_t halfway = ports.ReadCounter();
  const double expected = static_cast<double>(bench.clock.NowNs() - started) / 50.0;
  EXPECT_NEAR((halfway - 0x7FFD) & kMask, expected, 20.0);
  bench.clock.WaitUntil(bench.clock.NowNs() + 30'000);
  EXPECT_EQ(ports.Status() & 1, 1);
  EXPECT_EQ(ports.ReadCounter(), 1000);
  // Already there: reached at once.
  ports.WriteControl(simtest::kMode, 0);
  EXPECT_EQ(ports.Status() & 1, 0);
  ports.WriteControl(simtest::kMode, 3);
  EXPECT_EQ(ports.Status() & 1, 1);
}

TEST(Memory, DoubleRateInterleavesTheConverters) {
  // About 2 codes per microsecond at 1 MHz: converter 2, half a period later, reads 1 higher.
  TestBench bench(Inputs("sawtooth:freq=8333,amp=0.75"));
  const std::uint32_t double_rate_word = simtest::kRange6Word - 0x80 + 0x100;
  PrepareFrontEnd(bench.ports, double_rate_word);
  bench.ports.Arm(1000, 2, true);
  ASSERT_TRUE(bench.ports.WaitDone(100'000));
  const auto record = bench.ports.ReadRecord(0, 1000, true, bench.clock);
  double lead = 0.0;
  int counted = 0;
  for (std::size_t i = 1; i + 1 < record.size(); ++i) {
    const int c1 = record[i].converter1;
    const int c2 = record[i].converter2;
    if (record[i + 1].converter1 < c1 || record[i - 1].converter1 > c1) continue;  // a fall
    lead += c2 - c1;
    ++counted;
    EXPECT_LE(c2, record[i + 1].converter1);
  }
  EXPECT_NEAR(lead / counted, 1.0, 0.15);

  // Same routing in plain mode: both converters sample the same instant.
  bench.ports.Arm(100, 2, false);
  ASSERT_TRUE(bench.ports.WaitDone(100'000));
  for (const Sample& s : bench.ports.ReadRecord(0, 100, true, bench.clock)) {
    EXPECT_EQ(s.converter1, s.converter2);
  }
}

TEST(Memory, AnIdleUnitLeavesItsConverterOut) {
  TestBench bench(Inputs("dc:offset=0.2", "dc:offset=0.2"));
  PrepareFrontEnd(bench.ports);
  const auto before = bench.board.RecorderUnit().Memory(2);
  bench.ports.WriteCount(50);
  bench.ports.WriteRegister(1, Board::kUnitModeRegister, 0);
  bench.ports.WriteRegister(2, Board::kUnitModeRegister, 1);
  bench.ports.WriteControl(Board::kArmRegister, 0);
  bench.ports.WriteControl(Board::kTriggerRegister, 2);
  bench.ports.WriteControl(simtest::kMode, 15);
  ASSERT_TRUE(bench.ports.WaitDone(10'000));
  EXPECT_EQ(bench.board.RecorderUnit().Memory(2), before);
  EXPECT_EQ(bench.board.SampleAt(1, 0x7FFD), 160) << "0.2 V on 0.8 V: 128 + 32";
}

TEST(LongGap, StaysCheapAndStillFindsTheTrigger) {
  using WallClock = std::chrono::steady_clock;
  constexpr std::uint64_t k100s = 100'000'000'000ull;
  {
    // 2e9 samples at 20 MHz and no trigger: the board skips what memory cannot keep.
    TestBench bench(Inputs("ground"));
    PrepareFrontEnd(bench.ports);
    bench.ports.SelectClockSource(0);
    ProgramBothComparators(bench.ports, kRising);
    bench.ports.Arm(100, 0);
    const auto wall = WallClock::now();
    bench.clock.WaitUntil(bench.clock.NowNs() + k100s);
    EXPECT_EQ(bench.ports.Status(), 0);
    EXPECT_LT(std::chrono::duration<double>(WallClock::now() - wall).count(),
              1.5 * vm316::test::Slowdown());
    EXPECT_NEAR(static_cast<double>(bench.board.RecorderUnit().SamplesRecorded()), 2e9, 1e3);
  }
  {
    // A 1 kHz sine triggers early in the gap; the record is complete and lands as usual.
    TestBench bench(Inputs("sine:freq=1000,amp=0.5"));
    PrepareFrontEnd(bench.ports);
    ProgramBothComparators(bench.ports, kRising);
    bench.ports.Arm(500, 0);
    bench.clock.WaitUntil(bench.clock.NowNs() + k100s);
    ASSERT_EQ(bench.ports.Status() & 1, 1);
    const auto record = bench.ports.ReadRecord(300, 500, false, bench.clock);
    EXPECT_TRUE(CrossesUp(record, 300));
  }
}

}  // namespace
}  // namespace vm316::sim
