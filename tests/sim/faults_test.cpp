#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>

#include "board_ports.h"
#include "sim/analog.h"
#include "sim/board_factory.h"

namespace vm316::sim {
namespace {

using simtest::TestBench;

BoardConfig WithFaults(const char* list) {
  BoardConfig config = simtest::IdealConfig();
  std::string error;
  config.faults = FaultSet::Parse(list, &error).value();
  return config;
}

TEST(FaultList, ParsesNamesAndCounts) {
  std::string error;
  const FaultSet set = FaultSet::Parse(" absent, stuck-busy ,unplug-after=500", &error).value();
  EXPECT_TRUE(set.absent);
  EXPECT_TRUE(set.stuck_busy);
  EXPECT_FALSE(set.no_driver);
  EXPECT_FALSE(set.dead_converter2);
  EXPECT_EQ(set.unplug_after, 500u);
  EXPECT_FALSE(FaultSet::Parse("", &error)->absent);
  const FaultSet more =
      FaultSet::Parse("stuck-relay=11,stuck-relay=0,noisy-ch2,dead-ch1,drifting-reference,slow-bus",
                      &error)
          .value();
  EXPECT_EQ(more.stuck_relays, 0x801u);
  EXPECT_TRUE(more.noisy_channel[1] && !more.noisy_channel[0]);
  EXPECT_TRUE(more.dead_channel[0] && !more.dead_channel[1]);
  EXPECT_TRUE(more.drifting_reference);
  EXPECT_EQ(more.bus_access_ns, 10'000u);
  EXPECT_EQ(FaultSet::Parse("slow-bus=25", &error)->bus_access_ns, 25'000u);
  for (const char* bad :
       {"absnt", "unplug-after=", "unplug-after=-1", "unplug-after=5x", "absent,,stuck-busy",
        "stuck-relay=20", "stuck-relay=", "slow-bus=0", "slow-bus=1001", "noisy-ch3"}) {
    EXPECT_FALSE(FaultSet::Parse(bad, &error).has_value()) << bad;
    EXPECT_FALSE(error.empty());
  }
  FaultSet::Parse("dead-converter3", &error);
  EXPECT_NE(error.find("unknown fault 'dead-converter3'"), std::string::npos) << error;
}

TEST(Faults, AbsentBoardFloats) {
  TestBench bench(WithFaults("absent"));
  EXPECT_TRUE(bench.board.OpenDriver());
  bench.ports.WriteControl(Board::kArmRegister, 0);
  for (std::uint16_t offset = 0; offset < 8; ++offset) EXPECT_EQ(bench.ports.In(offset), 0xFF);
  EXPECT_NE(bench.board.RecorderUnit().Counter(), 0x7FFD) << "the write went nowhere";
  EXPECT_EQ(bench.board.PortAccessCount(), 10u);
  EXPECT_EQ(bench.clock.NowNs(), 10 * platform::kPortAccessNs) << "still bus cycles";
}

TEST(Faults, NoDriverRefusesAccessButTheBoardIsThere) {
  TestBench bench(WithFaults("no-driver"));
  EXPECT_FALSE(bench.board.OpenDriver());
  bench.ports.WriteControl(Board::kArmRegister, 0);
  EXPECT_EQ(bench.ports.ReadCounter(), 0x7FFD);
}

TEST(Faults, StuckBusyNeverReports) {
  TestBench bench(WithFaults("stuck-busy"));
  bench.ports.SelectClockSource(0);
  bench.ports.Arm(10, 2);
  bench.clock.WaitUntil(bench.clock.NowNs() + 10'000'000);
  EXPECT_EQ(bench.ports.Status() & 1, 0);
  EXPECT_EQ(bench.board.State(), RecorderState::kTriggered) << "it keeps recording";
  EXPECT_NEAR(static_cast<double>(bench.board.RecorderUnit().SamplesRecorded()), 200e3, 100);
  // A seek runs to its address but the status bit never comes.
  EXPECT_FALSE(bench.ports.Seek(1234, bench.clock));
  EXPECT_EQ(bench.ports.ReadCounter(), 1234);
}

TEST(Faults, DeadConverter2ReadsMidScale) {
  BoardConfig config = WithFaults("dead-converter2");
  std::string error;
  config.ch1 = *Signal::Parse("dc:offset=0.2", &error);
  config.ch2 = config.ch1;
  TestBench bench(config);
  bench.ports.WriteRelayWord(simtest::kRange6Word);
  bench.ports.WriteDcLevelVolts(1, -1.0);
  bench.ports.WriteDcLevelVolts(2, -1.0);
  bench.ports.Arm(20, 2);
  ASSERT_TRUE(bench.ports.WaitDone(100));
  for (const simtest::Sample& s : bench.ports.ReadRecord(0, 20, true, bench.clock)) {
    EXPECT_EQ(s.converter1, 160);
    EXPECT_EQ(s.converter2, 128);
  }
}

// The analog faults and the slow bus, each against the same healthy board: 0.5 V DC on both
// inputs, both channels on the 0.8 V range with the DC-level DACs at their zero (code 208).
struct Reading {
  double mean1, rms1, mean2, rms2;
};

Reading ReadBoth(TestBench& bench) {
  bench.ports.Arm(400, 2);
  EXPECT_TRUE(bench.ports.WaitDone(1000));
  double sum[2] = {}, square[2] = {};
  const std::vector<simtest::Sample> record = bench.ports.ReadRecord(0, 400, true, bench.clock);
  for (const simtest::Sample& s : record) {
    const double codes[2] = {static_cast<double>(s.converter1), static_cast<double>(s.converter2)};
    for (int c = 0; c < 2; ++c) {
      sum[c] += codes[c];
      square[c] += codes[c] * codes[c];
    }
  }
  const double n = static_cast<double>(record.size());
  auto rms = [&](int c) {
    return std::sqrt(std::max(0.0, square[c] / n - sum[c] * sum[c] / n / n));
  };
  return {sum[0] / n, rms(0), sum[1] / n, rms(1)};
}

TEST(Faults, AnalogFaultsAndASlowBus) {
  const struct {
    const char* fault;
    std::function<void(TestBench&, const Reading&)> check;
  } cases[] = {
      {"stuck-relay=11",  // channel 1's /1 attenuator never closes: its stage sees nothing
       [](TestBench&, const Reading& r) {
         EXPECT_NEAR(r.mean1, 128, 0.5);
         EXPECT_NEAR(r.mean2, 208, 0.5);
       }},
      {"noisy-ch1",
       [](TestBench&, const Reading& r) {
         EXPECT_GT(r.rms1, 4.0);
         EXPECT_LT(r.rms2, 1.0);
         EXPECT_NEAR(r.mean1, 208, 1.5);
       }},
      {"dead-ch2",
       [](TestBench&, const Reading& r) {
         EXPECT_NEAR(r.mean1, 208, 0.5);
         EXPECT_NEAR(r.mean2, 128, 0.5);
       }},
      {"drifting-reference",  // the DACs' -1 V grows: the trace rises as the board runs
       [](TestBench& bench, const Reading& r) {
         EXPECT_NEAR(r.mean1, 208, 0.5);
         bench.clock.WaitUntil(bench.clock.NowNs() + 20'000'000'000ull);
         const Reading later = ReadBoth(bench);
         EXPECT_NEAR(later.mean1, 208 + 128 * 20 * AnalogModel::kReferenceDriftPerSecond, 0.5);
       }},
      {"slow-bus=10",
       [](TestBench& bench, const Reading& r) {
         EXPECT_NEAR(r.mean1, 208, 0.5);
         const std::uint64_t before = bench.clock.NowNs();
         bench.ports.Status();
         EXPECT_EQ(bench.clock.NowNs() - before, 10'000u);
       }},
  };
  std::string error;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    BoardConfig config = WithFaults(c.fault);
    config.ch1 = *Signal::Parse("dc:offset=0.5", &error);
    config.ch2 = config.ch1;
    TestBench bench(config);
    bench.ports.SelectClockSource(0);
    bench.ports.WriteRelayWord(simtest::kRange6Word);
    bench.ports.WriteDcLevelVolts(1, -1.0);
    bench.ports.WriteDcLevelVolts(2, -1.0);
    c.check(bench, ReadBoth(bench));
  }
}

TEST(Faults, UnplugAfterNAccesses) {
  TestBench bench(WithFaults("unplug-after=5"));
  bench.ports.WriteControl(Board::kArmRegister, 0);   // accesses 1, 2
  EXPECT_EQ(bench.ports.ReadCounter(), 0x7FFD);       // 3, 4
  bench.ports.WriteControl(Board::kStepRegister, 0);  // 5 selects, 6 is lost
  EXPECT_EQ(bench.board.RecorderUnit().Counter(), 0x7FFD);
  EXPECT_EQ(bench.ports.In(Board::kCounterLowPort), 0xFF);
  EXPECT_EQ(bench.ports.Status(), 0xFF);
}

TEST(Bus, OnlyTheEightPortsAtTheBaseAnswer) {
  BoardConfig config = simtest::IdealConfig();
  config.base = 0xFFFC;  // the ports wrap past 0xFFFF
  platform::Clock clock;
  clock.Select(platform::ClockKind::kVirtual);
  Board board(config, clock);
  board.Out(0xFFFC, Board::kArmRegister);
  board.Out(0xFFFD, 0);
  EXPECT_EQ(board.In(0xFFFC), 0xFD);
  EXPECT_EQ(board.In(0xFFFD), 0x7F);
  EXPECT_EQ(board.In(0xFFFE), 0x00) << "status";
  EXPECT_EQ(board.In(0xFFFF), 0xFF) << "base+3 drives nothing";
  EXPECT_EQ(board.In(0x0001), 0xFF) << "base+5 is write-only";
  EXPECT_EQ(board.In(0x0004), 0xFF) << "past the eight ports";
  EXPECT_EQ(board.In(0x0378), 0xFF);
}

// Environment reading, from a map instead of the process environment.
ConfigResult Read(const std::map<std::string, std::string>& variables) {
  return ReadBoardConfig([&variables](const char* name) -> const char* {
    const auto it = variables.find(name);
    return it == variables.end() ? nullptr : it->second.c_str();
  });
}

TEST(BoardEnvironment, DefaultsAndValidValues) {
  const ConfigResult defaults = Read({});
  EXPECT_TRUE(defaults.error.empty());
  EXPECT_EQ(defaults.config.base, 0x378);
  EXPECT_EQ(defaults.config.seed, 1u);
  EXPECT_EQ(defaults.config.ch1.Kind(), SignalKind::kGround);
  EXPECT_FALSE(defaults.config.faults.absent);

  const ConfigResult set = Read({{"VM316_SIM_BASE", "0x300"},
                                 {"VM316_SIM_CH1", "sine:freq=1000,amp=0.5"},
                                 {"VM316_SIM_CH2", "generator"},
                                 {"VM316_SIM_EXT", "square:freq=50"},
                                 {"VM316_SIM_SEED", "-2"},
                                 {"VM316_SIM_FAULT", "dead-converter2"}});
  EXPECT_TRUE(set.error.empty()) << set.error;
  EXPECT_EQ(set.config.base, 0x300);
  EXPECT_EQ(set.config.ch1.Params().amp_v, 0.5);
  EXPECT_EQ(set.config.ch2.Kind(), SignalKind::kGenerator);
  EXPECT_EQ(set.config.external.Kind(), SignalKind::kSquare);
  EXPECT_EQ(set.config.seed, static_cast<std::uint64_t>(-2));
  EXPECT_TRUE(set.config.faults.dead_converter2);
  EXPECT_EQ(Read({{"VM316_SIM_BASE", "888"}}).config.base, 888);
  EXPECT_EQ(Read({{"VM316_SIM_BASE", ""}}).config.base, 0x378) << "empty is unset";
}

TEST(BoardEnvironment, MalformedValuesNameTheVariableAndLeaveNoBoard) {
  const struct {
    const char* variable;
    const char* value;
    const char* fault;
  } cases[] = {
      {"VM316_SIM_BASE", "0x10000", "'0x10000' is not a port number"},
      {"VM316_SIM_BASE", "port", "'port' is not a port number"},
      {"VM316_SIM_CH1", "sine:freq=fast", "key 'freq' needs a number, got 'fast'"},
      {"VM316_SIM_CH2", "cosine", "unknown signal kind 'cosine'"},
      {"VM316_SIM_EXT", "dc:amp=1", "key 'amp' does not apply to 'dc'"},
      {"VM316_SIM_SEED", "1.5", "'1.5' is not an integer"},
      {"VM316_SIM_FAULT", "on-fire", "unknown fault 'on-fire'"},
  };
  for (const auto& c : cases) {
    const ConfigResult result = Read({{c.variable, c.value}});
    EXPECT_EQ(result.error.find(std::string(c.variable) + ": "), 0u) << result.error;
    EXPECT_NE(result.error.find(c.fault), std::string::npos) << result.error;
    EXPECT_TRUE(result.config.faults.absent);
  }
  const ConfigResult two = Read({{"VM316_SIM_BASE", "x"}, {"VM316_SIM_SEED", "y"}});
  EXPECT_NE(two.error.find("VM316_SIM_BASE"), std::string::npos);
  EXPECT_NE(two.error.find("VM316_SIM_SEED"), std::string::npos);
}

TEST(BoardEnvironment, FactoryGivesAnAbsentBoardForAMalformedValue) {
  const char* saved = std::getenv("VM316_SIM_CH1");
  const std::string restore = saved != nullptr ? saved : "";
  setenv("VM316_SIM_CH1", "sine:freq=", 1);
  platform::Clock clock;
  clock.Select(platform::ClockKind::kVirtual);
  BoardResult result = CreateBoardFromEnvironment(clock);
  if (saved != nullptr) {
    setenv("VM316_SIM_CH1", restore.c_str(), 1);
  } else {
    unsetenv("VM316_SIM_CH1");
  }
  ASSERT_NE(result.backend, nullptr);
  EXPECT_NE(result.error.find("VM316_SIM_CH1: "), std::string::npos) << result.error;
  EXPECT_EQ(result.backend->In(0x378 + 2), 0xFF);

  BoardResult good = CreateBoardFromEnvironment(clock);
  EXPECT_TRUE(good.error.empty()) << good.error;
  good.backend->Out(0x378, Board::kArmRegister);
  good.backend->Out(0x379, 0);
  EXPECT_EQ(good.backend->In(0x378), 0xFD);
}

}  // namespace
}  // namespace vm316::sim
