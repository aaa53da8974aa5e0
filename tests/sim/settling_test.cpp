// The board settles as its parts do, so a record taken sooner than the driver's waits allow
// reads wrong: first on the bare board, change by change, then with the driver's own port
// traffic, replayed onto a second board with the wait after the relay update taken out.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "board_ports.h"
#include "instrument/vmx16.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "port/port_io.h"
#include "sim/board.h"

namespace vm316::sim {
namespace {

using simtest::BoardPorts;
using simtest::TestBench;

constexpr std::uint64_t kMs = 1'000'000;
constexpr std::uint64_t kUs = 1'000;
constexpr int kPost = 200;

BoardConfig DcInputs(double ch1, double ch2) {
  BoardConfig config;  // a drawn board: seed 1
  SignalParams params;
  params.kind = SignalKind::kDc;
  params.offset_v = ch1;
  config.ch1 = Signal(params);
  params.offset_v = ch2;
  config.ch2 = Signal(params);
  return config;
}

double MeanCode(TestBench& bench, int converter) {
  bench.ports.Arm(kPost, Recorder::kSelectNow);
  EXPECT_TRUE(bench.ports.WaitDone(1000));
  double sum = 0;
  const std::vector<simtest::Sample> record = bench.ports.ReadRecord(0, kPost, true, bench.clock);
  for (const simtest::Sample& s : record) sum += converter == 1 ? s.converter1 : s.converter2;
  return sum / static_cast<double>(record.size());
}

// One change of the front end: the state before it (settled), the change, and the waits after
// it at which a record reads visibly wrong and at which it reads as it finally will.
struct SettlingCase {
  const char* what;
  std::function<void(BoardPorts&)> before;
  std::function<void(BoardPorts&)> change;
  std::vector<std::uint64_t> too_soon_ns;
  std::uint64_t enough_ns;
};

TEST(Settling, ARecordTakenTooSoonReadsWrongAndOneAfterTheWaitReadsRight) {
  auto range6 = [](BoardPorts& p) {
    p.WriteRelayWord(simtest::kRange6Word);
    p.WriteDcLevelVolts(1, -1.0);
    p.WriteDcLevelVolts(2, -1.0);
  };
  const SettlingCase cases[] = {
      // The driver waits 10 ms after each relay update: operate time, bounce, approach.
      {"relay word 0.8 V -> 8 V",
       range6,
       [](BoardPorts& p) { p.WriteRelayWord(simtest::kRange9Word); },
       {0, 1 * kMs, 3 * kMs},
       10 * kMs},
      // A DC-level DAC settles within a fraction of a millisecond.
      {"DC-level DAC -1 V -> -0.5 V",
       range6,
       [](BoardPorts& p) { p.WriteDcLevelVolts(1, -0.5); },
       {0},
       500 * kUs},
      // The driver waits 2 ms after a trim write in the gain search.
      {"gain trim 127 -> 200",
       range6,
       [](BoardPorts& p) { p.WriteGainTrims(200, 127); },
       {0},
       2 * kMs},
  };
  for (const SettlingCase& c : cases) {
    SCOPED_TRACE(c.what);
    auto read_after = [&c](std::uint64_t wait_ns) {
      TestBench bench(DcInputs(0.5, -0.3));
      bench.ports.SelectClockSource(0);
      c.before(bench.ports);
      bench.clock.WaitUntil(bench.clock.NowNs() + 50 * kMs);
      c.change(bench.ports);
      bench.clock.WaitUntil(bench.clock.NowNs() + wait_ns);
      return MeanCode(bench, 1);
    };
    const double settled = read_after(200 * kMs);
    EXPECT_NEAR(read_after(c.enough_ns), settled, 0.5);
    for (const std::uint64_t soon : c.too_soon_ns) {
      EXPECT_GT(std::abs(read_after(soon) - settled), 4.0) << soon / kUs << " us after";
    }
  }
}

TEST(Settling, AcCouplingStartsFromItsSwitchedStateAndDrainsWithItsTimeConstant) {
  // 0.5 V DC on the 0.8 V range. Switched to AC, the capacitor starts empty: at first the whole
  // input passes, then it drains with 53 ms (3 Hz); the driver's 10 ms are far from enough.
  struct Reading {
    double dc;
    double ac;
  };
  auto read_after = [](std::uint64_t wait_ns) {
    TestBench bench(DcInputs(0.5, 0.0));
    bench.ports.SelectClockSource(0);
    bench.ports.WriteRelayWord(simtest::kRange6Word);
    bench.ports.WriteDcLevelVolts(1, -1.0);
    bench.clock.WaitUntil(bench.clock.NowNs() + 50 * kMs);
    const double dc = MeanCode(bench, 1);
    bench.ports.WriteRelayWord(simtest::kRange6Word + relay::kCh1AcCoupling);
    bench.clock.WaitUntil(bench.clock.NowNs() + wait_ns);
    return Reading{dc, MeanCode(bench, 1)};
  };
  const double zero = read_after(2000 * kMs).ac;
  for (const double ms : {10.0, 50.0, 150.0}) {
    const Reading r = read_after(static_cast<std::uint64_t>(ms) * kMs);
    EXPECT_GT(r.dc - zero, 70.0);
    EXPECT_NEAR((r.ac - zero) / (r.dc - zero), std::exp(-ms / 53.05), 0.03) << ms << " ms";
  }
}

// The driver's port traffic on a board, each access with its time, for replaying onto another.
struct Access {
  std::uint64_t t_ns;
  bool write;
  std::uint16_t port;
  std::uint8_t value;
};

class LoggingBackend final : public platform::PortBackend {
 public:
  LoggingBackend(Board& board, std::vector<Access>& log) : board_(board), log_(log) {}
  bool OpenDriver() override { return true; }
  void Out(std::uint16_t port, std::uint8_t value) override {
    log_.push_back({platform::SystemClock().NowNs(), true, port, value});
    board_.Out(port, value);
  }
  std::uint8_t In(std::uint16_t port) override {
    const std::uint64_t t = platform::SystemClock().NowNs();
    const std::uint8_t value = board_.In(port);
    log_.push_back({t, false, port, value});
    return value;
  }

 private:
  Board& board_;
  std::vector<Access>& log_;
};

constexpr std::uint16_t kBase = BoardConfig::kDefaultBase;
constexpr std::int32_t kRecord = 1000;

// The mean of the last record's channel-1 samples in a port log (the readout's last reads of
// the channel-1 sample port).
double LastRecordMean(const std::vector<Access>& log) {
  double sum = 0;
  int n = 0;
  for (auto it = log.rbegin(); it != log.rend() && n < kRecord; ++it) {
    if (!it->write && it->port == kBase + Board::kCh1SamplePort) {
      sum += it->value;
      ++n;
    }
  }
  return sum / n;
}

// Plays a log onto a fresh board made at origin_ns, each access at its time; accesses after
// `cut` come `removed_ns` sooner. Returns what the new board answered, as a log.
std::vector<Access> Replay(const std::vector<Access>& log, const BoardConfig& config,
                           std::uint64_t origin_ns, std::size_t cut, std::uint64_t removed_ns) {
  platform::Clock clock;
  clock.Select(platform::ClockKind::kVirtual);
  clock.SetVirtualNs(origin_ns);
  Board board(config, clock);
  std::vector<Access> answered;
  for (std::size_t i = 0; i < log.size(); ++i) {
    const Access& a = log[i];
    const std::uint64_t t = i > cut ? a.t_ns - removed_ns : a.t_ns;
    clock.SetVirtualNs(t);
    if (a.write) {
      board.Out(a.port, a.value);
      answered.push_back(a);
    } else {
      answered.push_back({t, false, a.port, board.In(a.port)});
    }
  }
  return answered;
}

TEST(Settling, TheDriversRelayWaitIsWhatMakesARangeChangeReadRight) {
  platform::SystemClock().Select(platform::ClockKind::kVirtual);
  platform::SetMessageSink(platform::MessageSink::kQuiet);
  const BoardConfig config = DcInputs(0.5, -0.3);
  const std::uint64_t origin = platform::SystemClock().NowNs();
  Board board(config, platform::SystemClock());
  std::vector<Access> log;
  TVMx16 vm(std::make_unique<LoggingBackend>(board, log));
  vm.SetHardwareAddress(kBase);
  vm.HardwarePresent = true;
  for (int channel = 1; channel <= 2; ++channel) vm.SetAutoRanging(channel, false);
  vm.SetTriggerSource(tsNoTrig);
  vm.SetRecordLength(kRecord);
  vm.SetPostSamples(kRecord);

  vm.SelectRange(1, 0.8L);
  vm.MeasureOnce();
  vm.SelectRange(1, 8.0L);  // the relays switch at the next arm, then the driver waits
  vm.MeasureOnce();
  const std::vector<Access> change(log);
  const double with_wait = LastRecordMean(change);
  port::DelayMs(100);
  vm.MeasureOnce();  // nothing changed: no reprogramming, long settled
  EXPECT_NEAR(with_wait, LastRecordMean(log), 0.5);

  // The wait after the relay update is the last gap of 5 ms or more between two accesses.
  std::size_t cut = 0;
  for (std::size_t i = 1; i < change.size(); ++i) {
    if (change[i].t_ns - change[i - 1].t_ns >= 5 * kMs) cut = i - 1;
  }
  ASSERT_GT(cut, 0u);
  const std::uint64_t gap = change[cut + 1].t_ns - change[cut].t_ns - platform::kPortAccessNs;
  EXPECT_GE(gap, 9 * kMs);

  // Replayed as it was, the second board answers exactly as the first did; without the wait,
  // the record of the range change is taken on relays still moving.
  EXPECT_EQ(LastRecordMean(Replay(change, config, origin, cut, 0)), with_wait);
  const double without_wait = LastRecordMean(Replay(change, config, origin, cut, gap));
  EXPECT_GT(std::abs(without_wait - with_wait), 20.0)
      << "with the wait " << with_wait << ", without " << without_wait;
}

}  // namespace
}  // namespace vm316::sim
