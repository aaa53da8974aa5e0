// InitInstrument on the simulated board with the virtual clock, with the calibration it runs
// when the current directory holds no calibration files of the day, and without it (the files
// of the first bring-up are kept), each followed by ExitInstrument. Beside the wall time, the
// time the virtual clock advanced: the bus and wait time the same bring-up takes on a real
// board. Linked to the static core rather than the shared library, so that the clock can be
// read; the calls are the same C interface.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <memory>

#include "platform/clock.h"
#include "sim_host.h"
#include "vm316.h"

namespace {

// What a calibrating bring-up leaves in the current directory.
constexpr const char* kCalibrationFile = "Vemora1.Cal";

using vm316::bench::kSimBase;
using vm316::bench::TempCwd;
using vm316::bench::UseSimulatedBoard;

// Virtual milliseconds per bring-up, from the virtual nanoseconds all iterations took.
void ReportBoardTime(benchmark::State& state, std::uint64_t virtual_ns) {
  state.counters["board_ms"] = benchmark::Counter(static_cast<double>(virtual_ns) * 1e-6,
                                                  benchmark::Counter::kAvgIterations);
}

std::uint64_t VirtualNow() {
  return vm316::platform::SystemClock().NowNs();
}

void BM_InitInstrumentCalibrating(benchmark::State& state) {
  UseSimulatedBoard("ground", "ground");
  vm316::platform::SystemClock().Select(vm316::platform::ClockKind::kVirtual);
  std::uint64_t virtual_ns = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto cwd = std::make_unique<TempCwd>();  // no calibration files: bring-up calibrates
    state.ResumeTiming();
    const std::uint64_t start = VirtualNow();
    const uint16_t status = InitInstrument(kSimBase);
    ExitInstrument();
    virtual_ns += VirtualNow() - start;
    state.PauseTiming();
    const bool calibrated = std::filesystem::exists(kCalibrationFile);
    cwd.reset();
    state.ResumeTiming();
    if (status != StatusOk || !calibrated) {
      state.SkipWithError("no calibrating bring-up on the simulated board");
      break;
    }
  }
  ReportBoardTime(state, virtual_ns);
}
BENCHMARK(BM_InitInstrumentCalibrating)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_InitInstrumentCalibrated(benchmark::State& state) {
  UseSimulatedBoard("ground", "ground");
  vm316::platform::SystemClock().Select(vm316::platform::ClockKind::kVirtual);
  TempCwd cwd;
  const uint16_t first = InitInstrument(kSimBase);  // writes the day's calibration files
  ExitInstrument();
  if (first != StatusOk) {
    state.SkipWithError("no bring-up on the simulated board");
    return;
  }
  std::uint64_t virtual_ns = 0;
  for (auto _ : state) {
    const std::uint64_t start = VirtualNow();
    benchmark::DoNotOptimize(InitInstrument(kSimBase));
    ExitInstrument();
    virtual_ns += VirtualNow() - start;
  }
  ReportBoardTime(state, virtual_ns);
}
BENCHMARK(BM_InitInstrumentCalibrated)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
