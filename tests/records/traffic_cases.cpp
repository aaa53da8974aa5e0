// The traffic cases of the identity test: the board alone, driven through its ports by traffic
// drawn from a seed. Each cycle programs some of the front end, the time base and the
// comparators, arms with a select code and unit modes, polls and waits while it disturbs the
// recording now and then (comparator and select writes, steps, unit modes, front-end writes,
// moved probes, a new clock, a look at the memory, a new arm, a stop), and reads a record back.
// Every byte read goes into the case's hash, and so does the time at which the cycle ended.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "record_hash.h"
#include "sim/board_ports.h"
#include "sim/noise.h"

namespace vm316::records {
namespace {

using sim::Board;
using sim::BoardConfig;
using sim::Recorder;
using sim::Signal;
using sim::simtest::BoardPorts;
using sim::simtest::TestBench;

constexpr int kCases = 16;
constexpr int kCyclesPerCase = 16;

// A reproducible draw on every platform (integer arithmetic only).
class Draw {
 public:
  explicit Draw(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Bits() {
    state_ += 0x9E3779B97F4A7C15ull;
    return sim::SplitMix64(state_);
  }
  std::uint32_t Below(std::uint32_t n) { return static_cast<std::uint32_t>(Bits() % n); }
  bool Chance(std::uint32_t percent) { return Below(100) < percent; }
  // A number with a few decimals, for signal specs.
  std::string Number(std::uint32_t whole_below) {
    return std::to_string(Below(whole_below)) + "." + std::to_string(Below(1000));
  }
  template <typename T, std::size_t N>
  const T& Pick(const std::array<T, N>& items) {
    return items[Below(N)];
  }

 private:
  std::uint64_t state_;
};

Signal DrawSignal(Draw& draw) {
  static constexpr std::array<const char*, 8> kKinds = {
      "ground", "dc", "sine", "square", "triangle", "sawtooth", "noise", "generator"};
  static constexpr std::array<const char*, 6> kFrequencies = {"3",     "50",     "1000",
                                                              "12345", "200000", "3300000"};
  const std::string kind = draw.Pick(kKinds);
  std::string spec = kind;
  std::vector<std::string> keys;
  const bool periodic = kind != "ground" && kind != "dc" && kind != "noise" && kind != "generator";
  if (periodic) {
    keys.push_back(std::string("freq=") + draw.Pick(kFrequencies));
    if (draw.Chance(50)) keys.push_back("phase=" + draw.Number(360));
    if (kind == "square") keys.push_back("duty=0." + std::to_string(draw.Below(10)));
  }
  if (periodic || kind == "noise") keys.push_back("amp=" + draw.Number(2));
  if (kind != "ground" && kind != "generator" && draw.Chance(60)) {
    keys.push_back(std::string("offset=") + (draw.Chance(50) ? "-" : "") + draw.Number(1));
  }
  if (draw.Chance(30)) keys.push_back("noise=0.0" + std::to_string(draw.Below(10)));
  for (std::size_t i = 0; i < keys.size(); ++i) spec += (i == 0 ? ":" : ",") + keys[i];
  std::string error;
  return Signal::Parse(spec, &error).value_or(Signal());
}

BoardConfig DrawBoard(Draw& draw, int index) {
  static constexpr std::array<const char*, 12> kFaults = {
      "",           "",         "stuck-busy",     "dead-converter2",    "noisy-ch1",
      "noisy-ch2",  "dead-ch1", "stuck-relay=11", "drifting-reference", "unplug-after=150000",
      "slow-bus=3", ""};
  BoardConfig config;
  config.seed = static_cast<std::uint64_t>(index) * 7919u + 1;
  config.ideal = index % 5 == 4;
  config.ch1 = DrawSignal(draw);
  config.ch2 = DrawSignal(draw);
  config.external = DrawSignal(draw);
  std::string error;
  config.faults =
      sim::FaultSet::Parse(kFaults[static_cast<std::size_t>(index) % kFaults.size()], &error)
          .value_or(sim::FaultSet());
  return config;
}

// Relay words: a range for each channel, sometimes AC-coupled, sometimes channel 1 on both
// converters, sometimes the calibration references.
std::uint32_t DrawRelayWord(Draw& draw) {
  static constexpr std::array<std::uint32_t, 12> kCh1 = {
      0xA04, 0x805, 0x806, 0xA00, 0x801, 0x802, 0x600, 0x401, 0x402, 0x80200, 0x80001, 0x80002};
  static constexpr std::array<std::uint32_t, 12> kCh2 = {0x40C8, 0x40A8,  0x4098,  0x40C0,
                                                         0x40A0, 0x4090,  0x80C0,  0x80A0,
                                                         0x8090, 0x100C0, 0x100A0, 0x10090};
  std::uint32_t word = draw.Pick(kCh1) | draw.Pick(kCh2);
  if (draw.Chance(25)) word |= 0x1000;
  if (draw.Chance(25)) word |= 0x2000;
  if (draw.Chance(10)) word = (word & ~0x80u) | 0x100;                // double rate
  if (draw.Chance(8)) word = (word & ~0xC00u & ~0x80000u) | 0x40000;  // references
  if (draw.Chance(3)) word = static_cast<std::uint32_t>(draw.Bits() & 0xFFFFF);
  return word;
}

void ProgramClock(Draw& draw, BoardPorts& ports) {
  switch (draw.Below(6)) {
    case 0:
    case 1:
      ports.SelectClockSource(static_cast<std::uint8_t>(draw.Below(3)));
      break;
    case 2: {
      static constexpr std::array<std::uint16_t, 6> kDivisors = {2, 3, 4, 40, 400, 4000};
      ports.SelectDividedClock(draw.Pick(kDivisors));
      break;
    }
    case 3:
      ports.LoadTimer(0, 0x36, static_cast<std::uint16_t>(2 + draw.Below(50)));
      ports.LoadTimer(1, 0x76, 40);
      ports.SelectClockSource(4);
      break;
    case 4:
      // The square-wave output on counter 2, the sample clock kept.
      ports.LoadTimer(2, 0xB6, static_cast<std::uint16_t>(2 + draw.Below(8000)));
      ports.WriteControl(Board::kTimerSelectRegister,
                         static_cast<std::uint8_t>(0x20 | (draw.Below(3) << 2)));
      break;
    default:
      ports.SelectClockSource(static_cast<std::uint8_t>(5 + draw.Below(3)));  // no clock
      break;
  }
}

void ProgramComparators(Draw& draw, BoardPorts& ports) {
  static constexpr std::array<std::uint8_t, 8> kModes = {5, 5, 6, 6, 1, 0, 0xFF, 7};
  for (int unit = 1; unit <= 2; ++unit) {
    const std::uint8_t mode = draw.Pick(kModes);
    std::uint8_t level = static_cast<std::uint8_t>(draw.Below(256));
    std::uint8_t hysteresis = static_cast<std::uint8_t>(draw.Below(256));
    if (draw.Chance(60)) {
      level = static_cast<std::uint8_t>(100 + draw.Below(56));
      hysteresis =
          static_cast<std::uint8_t>(mode == 6 ? level + draw.Below(8) : level - draw.Below(8));
    }
    if (draw.Chance(15)) {  // parked: it cannot re-arm
      level = mode == 6 ? 0 : 255;
      hysteresis = mode == 6 ? 255 : 0;
    }
    ports.ProgramComparator(unit, mode, hysteresis, level);
  }
}

// Something written while the board records.
void Disturb(Draw& draw, TestBench& bench, RecordHash& hash) {
  BoardPorts& ports = bench.ports;
  switch (draw.Below(11)) {
    case 0:
      ProgramComparators(draw, ports);
      break;
    case 1:
      ports.WriteControl(Board::kTriggerRegister, static_cast<std::uint8_t>(draw.Below(6)));
      break;
    case 2:
      ports.WriteControl(Board::kStepRegister, 0);
      break;
    case 3:
      ports.WriteRegister(1 + static_cast<int>(draw.Below(2)), Board::kUnitModeRegister,
                          static_cast<std::uint8_t>(draw.Below(3)));
      break;
    case 4:
      ports.WriteRelayWord(DrawRelayWord(draw));
      break;
    case 5:
      ports.WriteDcLevelVolts(1 + static_cast<int>(draw.Below(2)),
                              -1.0 + 0.01 * (static_cast<double>(draw.Below(41)) - 20.0));
      break;
    case 6:
      ports.WriteGainTrims(static_cast<std::uint8_t>(120 + draw.Below(16)),
                           static_cast<std::uint8_t>(120 + draw.Below(16)));
      break;
    case 7:
      bench.board.Rewire(DrawSignal(draw), DrawSignal(draw));
      break;
    case 8:
      ProgramClock(draw, ports);
      break;
    case 9:
      // The memory at the counter, as it is being written.
      hash.Add(ports.In(Board::kCh1SamplePort));
      hash.Add(ports.In(Board::kCh2SamplePort));
      hash.Add(ports.ReadCounter());
      break;
    default:
      ports.WriteControl(draw.Chance(50) ? Board::kArmRegister : Board::kModeRegister,
                         draw.Chance(50) ? Recorder::kModeArmed : Recorder::kModeStopped);
      break;
  }
}

void Cycle(Draw& draw, TestBench& bench, RecordHash& hash) {
  BoardPorts& ports = bench.ports;
  if (draw.Chance(40)) ports.WriteRelayWord(DrawRelayWord(draw));
  if (draw.Chance(40)) {
    for (int channel = 1; channel <= 2; ++channel) {
      ports.WriteDcLevelVolts(channel, -1.0 + 0.002 * (static_cast<double>(draw.Below(101)) - 50));
    }
  }
  if (draw.Chance(20)) {
    ports.WriteGainTrims(static_cast<std::uint8_t>(110 + draw.Below(40)),
                         static_cast<std::uint8_t>(110 + draw.Below(40)));
  }
  if (draw.Chance(30)) bench.clock.WaitUntil(bench.clock.NowNs() + 1000 * draw.Below(12000));
  if (draw.Chance(50)) ProgramClock(draw, ports);
  if (draw.Chance(70)) ProgramComparators(draw, ports);

  static constexpr std::array<std::uint8_t, 10> kSelects = {0, 0, 1, 2, 2, 3, 4, 4, 5, 200};
  const std::uint8_t select = draw.Pick(kSelects);
  static constexpr std::array<std::uint16_t, 6> kPosts = {0, 5, 100, 256, 2000, 40000};
  const std::uint16_t post = draw.Pick(kPosts);
  const bool double_rate = draw.Chance(15);
  ports.Arm(post, select, double_rate);
  // Records taken again and again without a readout leave many spans in the memory.
  if (draw.Chance(15)) {
    const std::uint32_t again = 3 + draw.Below(20);
    for (std::uint32_t i = 0; i < again; ++i) {
      for (std::uint32_t poll = draw.Below(400); poll > 0; --poll) hash.Add(ports.Status());
      ports.Arm(post, select, double_rate);
    }
  }
  // A long wait while armed: the board searches the start of the gap and skips to its end.
  if (draw.Chance(8))
    bench.clock.WaitUntil(bench.clock.NowNs() + 1'000'000 * (60 + draw.Below(150)));

  // Polls, waits and disturbances until the record is complete or the cycle's patience ends.
  const std::uint32_t patience = 200 + draw.Below(6000);
  bool done = false;
  for (std::uint32_t i = 0; i < patience && !done; ++i) {
    const std::uint8_t status = ports.Status();
    hash.Add(status);
    done = (status & Recorder::kStatusDone) != 0;
    if (draw.Chance(1)) Disturb(draw, bench, hash);
    if (draw.Chance(1)) bench.clock.WaitUntil(bench.clock.NowNs() + 1000 * draw.Below(3000));
  }
  if (draw.Chance(4)) bench.clock.WaitUntil(bench.clock.NowNs() + 1'000'000 * draw.Below(1500));
  hash.Add(ports.ReadCounter());

  // The readout, at whatever the counter says.
  static constexpr std::array<int, 5> kPres = {0, 3, 256, 1000, 30000};
  const int pre = draw.Pick(kPres);
  const int length = std::min<int>(pre + post + 1, 32768);
  for (const auto& sample : ports.ReadRecord(pre, length - pre - 1, select == 2, bench.clock)) {
    hash.Add(sample.converter1);
    hash.Add(sample.converter2);
  }
  hash.Add(bench.clock.NowNs());
}

}  // namespace

std::vector<CaseHash> TrafficCaseHashes() {
  std::vector<CaseHash> hashes;
  for (int index = 0; index < kCases; ++index) {
    Draw draw(static_cast<std::uint64_t>(index) + 1);
    TestBench bench(DrawBoard(draw, index));
    RecordHash hash;
    for (int cycle = 0; cycle < kCyclesPerCase; ++cycle) Cycle(draw, bench, hash);
    hashes.push_back({"traffic " + std::to_string(index), hash.Value()});
  }
  return hashes;
}

}  // namespace vm316::records
