// Port accesses per second that the simulated board serves through the backend interface, on a
// full record readout (32 761 locations, four accesses each), and the cost of recording.
#include <benchmark/benchmark.h>

#include <memory>

#include "platform/clock.h"
#include "platform/port_backend.h"
#include "sim/board.h"

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

}  // namespace
