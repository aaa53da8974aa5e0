// Port accesses per second that the simulated board serves through the backend interface, on a
// full record readout (32 761 locations, four accesses each), and the cost of recording: per
// status poll, and per second of 20 MHz recording for each kind of input.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <string>

#include "instrument/vmx16.h"
#include "platform/clock.h"
#include "platform/port_backend.h"
#include "sim/board.h"
#include "sim_host.h"

namespace {

using vm316::sim::Board;

constexpr std::uint16_t kBase = 0x378;
constexpr int kLocations = 32761;

void WriteRegister(vm316::platform::PortBackend& ports, std::uint8_t reg, std::uint8_t value) {
  ports.Out(kBase + Board::kControlIndexPort, reg);
  ports.Out(kBase + Board::kControlDataPort, value);
}

void Readout(benchmark::State& state, vm316::platform::ClockKind kind) {
  vm316::platform::Clock clock;
  clock.Select(kind);
  auto board = std::make_unique<Board>(vm316::sim::BoardConfig{}, clock);
  vm316::platform::PortBackend& ports = *board;
  WriteRegister(ports, Board::kModeRegister, 0);
  for (auto _ : state) {
    unsigned sum = 0;
    for (int i = 0; i < kLocations; ++i) {
      sum += ports.In(kBase + Board::kCh1SamplePort);
      sum += ports.In(kBase + Board::kCh2SamplePort);
      WriteRegister(ports, Board::kStepRegister, 0);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kLocations * 4);
  state.SetLabel("items = port accesses");
}

void BM_ReadoutVirtualClock(benchmark::State& state) {
  Readout(state, vm316::platform::ClockKind::kVirtual);
}
BENCHMARK(BM_ReadoutVirtualClock)->Unit(benchmark::kMillisecond);

void BM_ReadoutRealClock(benchmark::State& state) {
  Readout(state, vm316::platform::ClockKind::kReal);
}
BENCHMARK(BM_ReadoutRealClock)->Unit(benchmark::kMillisecond);

// Status polls while armed at 20 MHz on the virtual clock: each poll (1 us) records 20 samples
// of a sine on each converter.
void BM_ArmedPolling20MHz(benchmark::State& state) {
  vm316::platform::Clock clock;
  clock.Select(vm316::platform::ClockKind::kVirtual);
  vm316::sim::BoardConfig config;
  std::string error;
  config.ch1 = *vm316::sim::Signal::Parse("sine:freq=1000,amp=0.5", &error);
  config.ch2 = config.ch1;
  auto board = std::make_unique<Board>(config, clock);
  vm316::platform::PortBackend& ports = *board;
  WriteRegister(ports, Board::kTriggerRegister, 7);  // selects nothing: never triggers
  WriteRegister(ports, Board::kModeRegister, 15);
  for (auto _ : state) {
    benchmark::DoNotOptimize(ports.In(kBase + Board::kStatusPort));
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(board->RecorderUnit().SamplesRecorded()));
  state.SetLabel("items = samples recorded");
}
BENCHMARK(BM_ArmedPolling20MHz);

// One second of 20 MHz recording of both channels, as the driver arms it: both channel units'
// comparators on a rising edge, the select code on channel 1's, and the record geometry
// 512 / 256. "armed": channel 1's comparator waits for a trigger level two codes above the
// highest code its input reaches, so the board keeps watching the samples near every peak (a
// trigger that noise lets through re-arms); channel 2's, at 0 V, fires whenever its input rises
// through 0 V, which only its status bit shows. "parked": the arm of a record with a
// pre-trigger part, during its hold-off (the comparators cannot fire). The driver only arms:
// what is measured is the board's recording, sampled by a status poll every microsecond of
// board time as a polling host does. Counter cpu_per_board_s: CPU seconds per second of
// recording (1.0 is real time).
struct Input {
  const char* name;
  const char* spec;
  long double range_v;
};
constexpr Input kInputs[] = {
    {"ground", "ground", 0.8L},
    {"dc", "dc:offset=0.3", 0.8L},
    {"sine", "sine:freq=200000,amp=0.5", 0.8L},
    {"square", "square:freq=10000,amp=0.5", 0.8L},
    {"triangle", "triangle:freq=10000,amp=0.5", 0.8L},
    {"sawtooth", "sawtooth:freq=10000,amp=0.5", 0.8L},
    {"noise", "noise:amp=0.5", 0.8L},
    {"generator", "generator", 8.0L},  // the board's own 1 kHz square wave, 0 V / 5 V
};
constexpr long double kRecordingRateHz = 20e6L;
constexpr long double kGeneratorHz = 1000.0L;
constexpr std::int32_t kRecordLength = 512;
constexpr std::int32_t kFullRecord = 32760;
constexpr std::int32_t kPostSamples = 256;
constexpr int kPollsPerIteration = 100000;  // 0.1 s of board time
constexpr std::int32_t kLevelAbovePeak = 2;
constexpr std::int32_t kMidScaleCode = 128;

// The highest code of a channel's record (the byte of each sample).
std::int32_t PeakCode(const vm316::TVMx16& vm, int channel) {
  std::int32_t peak = 0;
  for (std::int32_t i = 0; i < vm.lRecordLength; ++i) {
    peak = std::max<std::int32_t>(peak, vm.OutputBuffer[channel][i] >> 8);
  }
  return peak;
}

void Recording20MHz(benchmark::State& state, const Input& input, bool armed) {
  vm316::platform::Clock& clock = vm316::platform::SystemClock();
  clock.Select(vm316::platform::ClockKind::kVirtual);
  vm316::bench::TempCwd cwd;  // bring-up calibrates in here
  vm316::sim::BoardConfig config;
  std::string error;
  config.ch1 = *vm316::sim::Signal::Parse(input.spec, &error);
  config.ch2 = config.ch1;
  auto owned = std::make_unique<Board>(config, clock);
  Board& board = *owned;
  vm316::TVMx16 vm(std::move(owned));
  vm.SetHardwareAddress(kBase);
  if (!vm.BringUp()) {
    state.SkipWithError("no simulated board");
    return;
  }
  if (input.spec == std::string("generator")) {
    long double frequency = kGeneratorHz;
    vm.ProgramSquareWaveClock(frequency);
  }
  vm.SetAcquisitionMode(vm316::amHold);
  vm.SetTrigTimeOut(-1.0L);
  for (int channel = 1; channel <= 2; ++channel) vm.SelectRange(channel, input.range_v);
  vm.SetSampleFrequencyValue(kRecordingRateHz);
  // A full-length record taken at once (16 periods of the slowest input) shows how high the
  // input goes; it also programs the front end.
  vm.SetRecordLength(kFullRecord);
  vm.SetPostSamples(kFullRecord);
  vm.SetTriggerSource(vm316::tsNoTrig);
  vm.MeasureOnce();
  vm.SetTriggerLevel(1, std::min(PeakCode(vm, 1) + kLevelAbovePeak, 255));
  vm.SetTriggerLevel(2, kMidScaleCode);
  vm.SetTriggerSource(vm316::tsCh1);
  vm.SetRecordLength(kRecordLength);
  vm.SetPostSamples(armed ? kRecordLength : kPostSamples);  // a pre-trigger part parks them
  vm.ArmAcquisition();

  vm316::platform::PortBackend& ports = board;
  std::uint64_t recorded = 0;
  for (auto _ : state) {
    for (int i = 0; i < kPollsPerIteration; ++i) {
      if ((ports.In(kBase + Board::kStatusPort) & 1) != 0) {
        recorded += board.RecorderUnit().SamplesRecorded();
        vm.ArmAcquisition();
      }
    }
  }
  recorded += board.RecorderUnit().SamplesRecorded();
  const double board_seconds =
      static_cast<double>(recorded) / static_cast<double>(kRecordingRateHz);
  state.counters["cpu_per_board_s"] =
      benchmark::Counter(board_seconds, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.SetItemsProcessed(static_cast<std::int64_t>(recorded));
  state.SetLabel("items = sample pairs recorded");
}

void RegisterRecordings() {
  for (const Input& input : kInputs) {
    for (bool armed : {true, false}) {
      const std::string name =
          std::string("BM_Recording20MHz/") + input.name + (armed ? "/armed" : "/parked");
      benchmark::RegisterBenchmark(name.c_str(), [&input, armed](benchmark::State& state) {
        Recording20MHz(state, input, armed);
      })->Unit(benchmark::kMillisecond);
    }
  }
}
const bool kRegistered = (RegisterRecordings(), true);

}  // namespace
