// Volt conversion of two full-length channels through the C interface: GetMeasurement after a
// blocking measurement, and ADC_GetDataVolt after the block fetch (later calls of either only
// convert the sample buffers again); and the cost of the frame of one call.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "sim_host.h"
#include "vm316.h"

namespace {

using vm316::bench::kFullRecord;
using vm316::bench::Session;

constexpr const char* kInput = "sine:freq=10000,amp=0.5";
constexpr std::int64_t kSamplesPerCall = 2 * std::int64_t{kFullRecord};

void ReportSamples(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * kSamplesPerCall);
  state.SetLabel("items = samples converted");
}

void BM_GetMeasurement(benchmark::State& state) {
  Session session(kInput, kInput);
  if (!session.ok() || StartMeasurement() != StatusOk) {
    state.SkipWithError("no measurement on the simulated board");
    return;
  }
  std::vector<double> ch1(kFullRecord), ch2(kFullRecord);
  for (auto _ : state) {
    benchmark::DoNotOptimize(GetMeasurement(ch1.data(), ch2.data()));
    benchmark::ClobberMemory();
  }
  ReportSamples(state);
}
BENCHMARK(BM_GetMeasurement)->Unit(benchmark::kMicrosecond);

void BM_ADC_GetDataVolt(benchmark::State& state) {
  Session session(kInput, kInput);
  if (!session.ok() || ADC_Start() != StatusOk) {
    state.SkipWithError("no block acquisition on the simulated board");
    return;
  }
  while (ADC_Ready() == 0) {
  }
  std::vector<double> ch1(kFullRecord), ch2(kFullRecord);
  ADC_GetDataVolt(ch1.data(), ch2.data());  // the fetch: reads the board
  for (auto _ : state) {
    benchmark::DoNotOptimize(ADC_GetDataVolt(ch1.data(), ch2.data()));
    benchmark::ClobberMemory();
  }
  ReportSamples(state);
}
BENCHMARK(BM_ADC_GetDataVolt)->Unit(benchmark::kMicrosecond);

// The frame every call pays (owner-thread check, nesting count, the library's floating-point
// environment set and the host's put back), on the cheapest export there is.
void BM_CallFrame(benchmark::State& state) {
  Session session(kInput, kInput);
  if (!session.ok()) {
    state.SkipWithError("no instrument on the simulated board");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(GetRecordLength());
}
BENCHMARK(BM_CallFrame)->Unit(benchmark::kNanosecond);

}  // namespace
