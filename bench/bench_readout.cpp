// The library's own cost of reading a full record out of the board (ReadRecord), over ports
// that cost nothing: what remains is the driver's bookkeeping per memory location, to be set
// against the four 1 us bus cycles each location takes on real hardware (two sample reads and
// the two bytes of the step register write).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>

#include "instrument/vmx16.h"
#include "platform/clock.h"
#include "platform/port_backend.h"

namespace {

constexpr std::uint16_t kBase = 0x378;
constexpr std::int32_t kFullRecord = 32760;               // the longest record
constexpr std::int64_t kLocationsRead = kFullRecord + 1;  // the readout reads one more

// Every read answers the same byte, every write vanishes. The byte has the status port's
// "ready" bit set, so the seek before the readout ends at its first poll; its top bit is
// clear, as the address counter's top bit reads on a present board; and as a sample it lies
// just below mid-scale, so the range tests take their usual path.
constexpr std::uint8_t kAnswer = 0x7F;

class FreePorts final : public vm316::platform::PortBackend {
 public:
  bool OpenDriver() override { return true; }
  void Out(std::uint16_t /*port*/, std::uint8_t /*value*/) override {}
  std::uint8_t In(std::uint16_t /*port*/) override { return kAnswer; }
};

std::unique_ptr<vm316::TVMx16> FreeInstrument(bool double_rate) {
  vm316::platform::SystemClock().Select(vm316::platform::ClockKind::kVirtual);
  auto vm = std::make_unique<vm316::TVMx16>(std::make_unique<FreePorts>());
  vm->SetHardwareAddress(kBase);
  vm->HardwarePresent = true;
  vm->SetRecordLength(kFullRecord);
  vm->DoubleRate = double_rate;
  return vm;
}

void Readout(benchmark::State& state, bool double_rate) {
  const auto vm = FreeInstrument(double_rate);
  for (auto _ : state) {
    vm->ReadRecord();
    benchmark::DoNotOptimize(vm->OutputBuffer[1].data());
    benchmark::ClobberMemory();
  }
  // A readout that gave the board up read nothing: its time would be no readout's.
  if (!vm->HardwarePresent) state.SkipWithError("the readout took the board for absent");
  const double locations = static_cast<double>(state.iterations() * kLocationsRead);
  // An inverted rate: CPU time per location (shown in ns).
  state.counters["per_location"] =
      benchmark::Counter(locations, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.SetItemsProcessed(state.iterations() * kLocationsRead);
  state.SetLabel("items = memory locations");
}

// Both channels, as StartMeasurement and the block fetches read them.
void BM_ReadRecordFullLength(benchmark::State& state) {
  Readout(state, false);
}
BENCHMARK(BM_ReadRecordFullLength)->Unit(benchmark::kMicrosecond);

// The calibration's double-rate pass also keeps a raw copy of both converters.
void BM_ReadRecordDoubleRate(benchmark::State& state) {
  Readout(state, true);
}
BENCHMARK(BM_ReadRecordDoubleRate)->Unit(benchmark::kMicrosecond);

}  // namespace
