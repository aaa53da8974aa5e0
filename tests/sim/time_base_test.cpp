#include <gtest/gtest.h>

#include <vector>

#include "board_ports.h"
#include "sim/pit8254.h"

namespace vm316::sim {
namespace {

using simtest::BoardPorts;
using simtest::TestBench;

TEST(Pit8254, ControlWordsAndLowThenHighCounts) {
  Pit8254 pit;
  pit.Write(3, 0x36, 0);
  EXPECT_EQ(pit.CounterAt(0).mode, 3);
  pit.Write(0, 0x10, 5);
  EXPECT_EQ(pit.Divisor(0), 0u) << "only the low byte arrived";
  pit.Write(0, 0x27, 9);
  EXPECT_EQ(pit.Divisor(0), 0x2710u);
  EXPECT_EQ(pit.CounterAt(0).load_ns, 9u);

  pit.Write(3, 0x34, 10);  // mode 2: the counter waits for a new count
  EXPECT_EQ(pit.CounterAt(0).mode, 2);
  EXPECT_EQ(pit.Divisor(0), 0u);
  pit.Write(0, 3, 11);
  pit.Write(0, 0, 12);
  EXPECT_EQ(pit.Divisor(0), 3u);
  EXPECT_EQ(pit.HighCycles(0), 2u);

  pit.Write(3, 0x76, 13);
  pit.Write(1, 0, 14);
  pit.Write(1, 0, 15);
  EXPECT_EQ(pit.Divisor(1), 65536u) << "a count of 0 is the largest count";
  pit.Write(3, 0xB6, 16);
  pit.Write(2, 133, 17);
  pit.Write(2, 0, 18);
  EXPECT_EQ(pit.Divisor(2), 133u);
  EXPECT_EQ(pit.HighCycles(2), 67u) << "mode 3 stays high longer on an odd count";
  EXPECT_EQ(pit.Divisor(0), 3u) << "other counters keep their counts";

  pit.Write(3, 0x30, 19);  // mode 0 gives no periodic output
  pit.Write(0, 10, 20);
  pit.Write(0, 0, 21);
  EXPECT_EQ(pit.Divisor(0), 0u);
  pit.Write(3, 0x00, 22);  // a latch command leaves the counter as it is
  EXPECT_EQ(pit.CounterAt(0).mode, 0);
}

// Records a sawtooth whose period is 1000 sample intervals at the expected rate and returns the
// sample distances between its falls.
std::vector<int> SawtoothPeriods(TestBench& bench, double expected_hz,
                                 void (*program)(BoardPorts&)) {
  BoardPorts& ports = bench.ports;
  ports.WriteRelayWord(simtest::kRange6Word);
  ports.WriteDcLevelVolts(1, -1.0);
  program(ports);
  EXPECT_DOUBLE_EQ(bench.board.SampleClockHz(), expected_hz);
  constexpr int kPost = 4000;
  ports.Arm(kPost, 2);
  bench.clock.WaitUntil(bench.clock.NowNs() +
                        static_cast<std::uint64_t>((kPost + 10) / expected_hz * 1e9));
  EXPECT_TRUE(ports.WaitDone(10));
  const auto record = ports.ReadRecord(0, kPost, true, bench.clock);
  std::vector<int> falls;
  for (int i = 1; i < static_cast<int>(record.size()); ++i) {
    if (record[i].converter1 + 100 < record[i - 1].converter1) falls.push_back(i);
  }
  std::vector<int> periods;
  for (std::size_t i = 1; i < falls.size(); ++i) periods.push_back(falls[i] - falls[i - 1]);
  return periods;
}

TEST(TimeBase, TheBoardRecordsAtTheProgrammedRate) {
  const struct {
    const char* name;
    double hz;
    void (*program)(BoardPorts&);
  } rates[] = {
      {"20 MHz crystal", 20e6, [](BoardPorts& p) { p.SelectClockSource(0); }},
      {"10 MHz crystal", 10e6, [](BoardPorts& p) { p.SelectClockSource(1); }},
      {"4 MHz crystal", 4e6, [](BoardPorts& p) { p.SelectClockSource(2); }},
      {"4 MHz / 4", 1e6, [](BoardPorts& p) { p.SelectDividedClock(4); }},
      {"4 MHz / 3 in mode 2", 4e6 / 3, [](BoardPorts& p) { p.SelectDividedClock(3); }},
      {"4 MHz / 100 / 10", 4e3,
       [](BoardPorts& p) {
         p.LoadTimer(0, 0x36, 10);
         p.LoadTimer(1, 0x76, 100);
         p.SelectClockSource(4);
       }},
  };
  for (const auto& rate : rates) {
    SCOPED_TRACE(rate.name);
    BoardConfig config = simtest::IdealConfig();
    std::string error;
    config.ch1 =
        *Signal::Parse("sawtooth:amp=0.75,freq=" + std::to_string(rate.hz / 1000.0), &error);
    TestBench bench(config);
    const std::vector<int> periods = SawtoothPeriods(bench, rate.hz, rate.program);
    ASSERT_GE(periods.size(), 3u);
    for (int period : periods) EXPECT_NEAR(period, 1000, 1);
  }
}

TEST(TimeBase, WithoutAClockNothingIsRecorded) {
  TestBench bench;
  bench.ports.SelectClockSource(5);
  EXPECT_EQ(bench.board.SampleClockHz(), 0.0) << "source 5 is not wired";
  bench.ports.SelectDividedClock(4);
  EXPECT_EQ(bench.board.SampleClockHz(), 1e6);
  // A bare control word stops counter 0 until it has a count again.
  bench.ports.WriteControl(Board::kTimerSelectRegister, 3 | (3 << 2));
  bench.ports.WriteControl(Board::kTimerDataRegister, 0x36);
  EXPECT_EQ(bench.board.SampleClockHz(), 0.0);
  bench.ports.Arm(10, 2);
  bench.clock.WaitUntil(bench.clock.NowNs() + 1'000'000'000);
  EXPECT_FALSE(bench.ports.WaitDone(10));
  EXPECT_EQ(bench.board.RecorderUnit().SamplesRecorded(), 0u);
}

TEST(TimeBase, SquareWaveOutputFromCounter2) {
  BoardConfig config = simtest::IdealConfig();
  config.ch1 = Signal(SignalParams{SignalKind::kGenerator});
  TestBench bench(config);
  BoardPorts& ports = bench.ports;
  ports.LoadTimer(2, 0xB6, 133);
  EXPECT_EQ(bench.board.SquareWaveFrequencyHz(), 0.0) << "not enabled yet";
  ports.WriteControl(2, 0x20);  // enable, sample clock 20 MHz
  EXPECT_DOUBLE_EQ(bench.board.SquareWaveFrequencyHz(), 4e6 / 133);
  EXPECT_EQ(bench.board.TimerCounter(2).count, 133);
  EXPECT_EQ(bench.board.TimerSelect(), 0x20);

  // Wired to channel 1 on the 8 V range: 0 V and 5 V, high for 67 of 133 timer cycles; the
  // input path's low-pass (a time constant of 32 ns) leaves at most three samples at 20 MHz
  // between the levels at each edge.
  ports.WriteRelayWord(simtest::kRange9Word);
  ports.WriteDcLevelVolts(1, -1.0);
  ports.Arm(2000, 2);
  ASSERT_TRUE(ports.WaitDone(1000));
  const auto record = ports.ReadRecord(0, 2000, true, bench.clock);
  int high = 0;
  int between = 0;
  int edges = 0;
  for (std::size_t i = 0; i < record.size(); ++i) {
    between += record[i].converter1 != 128 && record[i].converter1 != 208;
    high += record[i].converter1 > 168;
    edges += i > 0 && (record[i].converter1 > 168) != (record[i - 1].converter1 > 168);
  }
  EXPECT_GT(edges, 0);
  EXPECT_LE(between, 3 * edges);
  EXPECT_NEAR(static_cast<double>(high) / record.size(), 67.0 / 133, 0.01);

  ports.WriteControl(2, 0x03);  // output off
  EXPECT_EQ(bench.board.SquareWaveFrequencyHz(), 0.0);
}

}  // namespace
}  // namespace vm316::sim
