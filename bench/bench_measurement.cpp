// A full-length blocking measurement on the simulated board with the virtual clock: arm, wait
// for the trigger and the end of the record, read the 32 761 locations, convert nothing. The
// wall time is the library's and the board model's work only: the virtual clock makes every
// wait free. On real hardware the same cycle takes at least 1.6 ms of recording at 20 MHz and
// 131 ms of readout.
#include <benchmark/benchmark.h>

#include "sim_host.h"
#include "vm316.h"

namespace {

using vm316::bench::Session;

// Full scale on both inputs, and a frequency that triggers soon after the pre-trigger part of
// the record is in.
constexpr const char* kInput = "sine:freq=10000,amp=0.5";

void BM_StartMeasurementFullLength(benchmark::State& state) {
  Session session(kInput, kInput);
  if (!session.ok() || StartMeasurement() != StatusOk) {  // the first arm programs the relays
    state.SkipWithError("no measurement on the simulated board");
    return;
  }
  for (auto _ : state) {
    if (StartMeasurement() != StatusOk) {
      state.SkipWithError("the simulated board stopped answering");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.SetLabel("items = full records");
}
BENCHMARK(BM_StartMeasurementFullLength)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
