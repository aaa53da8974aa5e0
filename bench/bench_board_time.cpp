// Board time per record: how long the board and its bus are busy for one record, on the
// virtual clock (which counts a bus cycle per port access and the sample clock's edges, as a
// real board takes them), in each measurement style, over rates and record geometries. The
// input is noise across the trigger level, so that every trigger comes as soon as it may.
//
// Beside each figure its physical limit: the arm's port accesses, the samples recorded (the
// pre-trigger part, the post-trigger part and the stop latency), the seek, and the readout's
// four bus cycles per memory location. The seek runs the address counter at 20 MHz from where
// the arm left it to the record's first sample: as many locations as were recorded beyond the
// record (modulo the memory), so none when the trigger comes as soon as it may. Linked to the
// static core so that the virtual clock can be read; the calls are the C interface a host makes.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/clock.h"
#include "sim_host.h"
#include "vm316.h"
#include "vm316_host.h"

namespace {

using vm316::bench::kSimBase;
using vm316::bench::TempCwd;
using vm316::bench::UseSimulatedBoard;

constexpr const char* kNoise = "noise:amp=0.4";

// Bus cycles of one arm: the trigger comparators (12), the post-trigger count (4), the unit
// modes (4), two arm register writes, the trigger select, two mode writes, the unit steps
// (4); then the sample clock: 2 for the fixed 20 MHz clock, 11 for the interval timer's
// divider.
constexpr double kArmAccesses = 34;
constexpr double kFixedClockAccesses = 2;
constexpr double kDividedClockAccesses = 11;
constexpr double kBusCycleUs = 1.0;
constexpr double kStopLatencySamples = 7;
constexpr double kReadoutAccessesPerLocation = 4;

enum Style { kStartMeasurement, kBlock, kContinuous };

double PhysicalLimitUs(double rate, double length, double post) {
  const double pre = length - post;
  const double arm =
      (kArmAccesses + (rate > 10e6 ? kFixedClockAccesses : kDividedClockAccesses)) * kBusCycleUs;
  const double recorded = pre + post + kStopLatencySamples;
  const double recording = recorded / rate * 1e6;
  const double readout = (length + 1) * kReadoutAccessesPerLocation * kBusCycleUs;
  return arm + recording + readout;
}

std::uint64_t BoardNs() {
  return vm316::platform::SystemClock().NowNs();
}

// One instrument for the whole run, brought up (and calibrated) once in its own directory.
class Instrument {
 public:
  static Instrument& Get() {
    static Instrument* instrument = new Instrument();
    return *instrument;
  }
  bool ok() const { return ok_; }

 private:
  Instrument() {
    UseSimulatedBoard(kNoise, kNoise);
    cwd_ = std::make_unique<TempCwd>();
    ok_ = InitInstrument(kSimBase) == StatusOk;
  }
  std::unique_ptr<TempCwd> cwd_;
  bool ok_ = false;
};

class Records {
 public:
  Records(Style style, std::uint32_t length)
      : style_(style), ch1_(length), ch2_(length), last_(length) {}
  ~Records() {
    if (style_ == kContinuous) DoMeasure(0);
  }
  Records(const Records&) = delete;
  Records& operator=(const Records&) = delete;

  // One record in the style; false when the board gave none.
  bool Take() {
    switch (style_) {
      case kStartMeasurement:
        return StartMeasurement() == StatusOk;
      case kBlock: {
        if (ADC_Start() != StatusOk) return false;
        for (long polls = 0; ADC_Ready() == 0; ++polls) {
          if (polls > 100000000) return false;
        }
        return ADC_GetData(ch1_.data(), ch2_.data()) == StatusOk;
      }
      case kContinuous:
        return NextContinuousRecord();
    }
    return false;
  }

 private:
  // The timer measures on; a host sees a new record when the buffers change (the noise makes
  // every record differ from the one before).
  bool NextContinuousRecord() {
    if (!running_) {
      if (DoMeasure(-1) != StatusOk) return false;
      running_ = true;
    }
    for (int pumps = 0; pumps < 100000; ++pumps) {
      vm316_pump_messages(1000);
      if (GetMeasurementRaw(ch1_.data(), ch2_.data()) != StatusOk) return false;
      if (ch1_ != last_) {
        last_ = ch1_;
        return true;
      }
    }
    return false;
  }

  Style style_;
  std::vector<uint16_t> ch1_, ch2_, last_;
  bool running_ = false;
};

bool Configure(double rate, std::uint32_t length, std::uint32_t post) {
  uint32_t none = 0;
  double frequency = rate;
  return SetPostSamples(none) == StatusOk && SetRecordLength(length) == StatusOk &&
         SetPostSamples(post) == StatusOk && SetSampleFrequencyF(&frequency) == StatusOk;
}

void BM_BoardTimePerRecord(benchmark::State& state) {
  const auto style = static_cast<Style>(state.range(0));
  const double rate = static_cast<double>(state.range(1));
  const auto length = static_cast<std::uint32_t>(state.range(2));
  const auto post = static_cast<std::uint32_t>(state.range(3));
  if (!Instrument::Get().ok() || !Configure(rate, length, post)) {
    state.SkipWithError("no instrument on the simulated board");
    return;
  }
  Records records(style, length);
  // The first records after a change reprogram the front end and settle its relays.
  for (int warm = 0; warm < 3; ++warm) {
    if (!records.Take()) {
      state.SkipWithError("no record");
      return;
    }
  }
  const std::uint64_t start = BoardNs();
  std::int64_t taken = 0;
  for (auto _ : state) {
    if (!records.Take()) {
      state.SkipWithError("no record");
      return;
    }
    ++taken;
  }
  const double board_us = static_cast<double>(BoardNs() - start) / 1e3 / static_cast<double>(taken);
  const double limit_us = PhysicalLimitUs(rate, length, post);
  state.counters["board_us"] = board_us;
  state.counters["limit_us"] = limit_us;
  state.counters["ratio"] = board_us / limit_us;
}

void Table(benchmark::internal::Benchmark* bench) {
  const std::int64_t geometries[][2] = {{512, 256}, {512, 512}, {4096, 2048}, {32760, 16380}};
  for (const std::int64_t style : {kStartMeasurement, kBlock, kContinuous}) {
    for (const std::int64_t rate : {20000000, 1000000, 100000, 10000}) {
      for (const auto& geometry : geometries) {
        bench->Args({style, rate, geometry[0], geometry[1]});
      }
    }
  }
}
BENCHMARK(BM_BoardTimePerRecord)
    ->Apply(Table)
    ->ArgNames({"style", "rate", "length", "post"})
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

}  // namespace
