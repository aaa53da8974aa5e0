// What the self-calibration achieves on the simulated board, as a measurement over many boards:
// each seed stands for one board with its own errors. The board is brought up with grounded
// inputs and calibrated by the driver's own searches; then, per range and channel, DC inputs of
// 0 and +-0.7 of full scale are wired to both inputs and read through the sequencer, DC-coupled,
// as a host reads them. Reported per range and channel: the worst error at each point, in LSB
// (1/128 of full scale), and the share of points within 1 LSB + 0.5 % of the reading; beside
// them, the calibrations the bring-up judges failed (a trim out of 5..250) and the calibrations
// of a range and channel that leave a point out of that tolerance.
//
// VM316_BENCH_SEEDS sets the number of boards (default 100, seeds 1..N). The table goes to
// standard output after the benchmark's own report.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "instrument/vmx16.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/port_backend.h"
#include "sim/board.h"

namespace {

using vm316::TVMx16;
using vm316::sim::Board;

constexpr std::uint16_t kBase = 0x378;
constexpr std::uint64_t kBoardStartNs = 1'000'000'000'000;  // 1000 s
constexpr int kRanges = 12;
constexpr int kChannels = 2;
constexpr std::array<double, 3> kPoints = {0.0, 0.7, -0.7};
constexpr std::int32_t kRecordSamples = 2000;
constexpr double kCodesPerFullScale = 128.0;
constexpr double kToleranceLsb = 1.0;
constexpr double kTolerancePercent = 0.5;

// The driver owns its backend; the board stays with the benchmark, which rewires its inputs.
class BoardBackend final : public vm316::platform::PortBackend {
 public:
  explicit BoardBackend(Board& board) : board_(board) {}
  bool OpenDriver() override { return board_.OpenDriver(); }
  void Out(std::uint16_t port, std::uint8_t value) override { board_.Out(port, value); }
  std::uint8_t In(std::uint16_t port) override { return board_.In(port); }

 private:
  Board& board_;
};

struct Cell {
  std::array<double, kPoints.size()> worst{};  // signed error of the largest magnitude, LSB
  int points = 0;
  int within = 0;
  int calibrations_out = 0;  // boards with a point of this range and channel out of tolerance
};

struct Statistics {
  std::array<std::array<Cell, kChannels>, kRanges + 1> cells{};
  int boards = 0;
  int failed = 0;
  int absent = 0;
};

vm316::sim::Signal Dc(double volts) {
  vm316::sim::SignalParams params;
  params.kind = vm316::sim::SignalKind::kDc;
  params.offset_v = volts;
  return vm316::sim::Signal(params);
}

// The mean converter code of a channel's last record.
double MeanCode(const TVMx16& vm, int channel) {
  double sum = 0.0;
  for (std::int32_t i = 0; i < kRecordSamples; ++i) sum += vm.OutputBuffer[channel][i] / 256.0;
  return sum / kRecordSamples;
}

void MeasureBoard(std::uint64_t seed, Statistics& stats) {
  vm316::platform::Clock& clock = vm316::platform::SystemClock();
  // Every board starts at the same instant of the virtual clock, so that the figures repeat.
  clock.SetVirtualNs(kBoardStartNs);
  vm316::sim::BoardConfig config;
  config.seed = seed;
  Board board(config, clock);
  TVMx16 vm(std::make_unique<BoardBackend>(board));
  vm.SetHardwareAddress(kBase);
  ++stats.boards;
  if (!vm.DetectHardware()) {
    ++stats.absent;
    return;
  }
  // The bring-up's own steps, without its calibration files.
  vm.ResetRecorder();
  for (auto& row : vm.OffsetCorrection) row.fill(0.0);
  for (auto& row : vm.GainTrim) row.fill(vm316::kNeutralGainTrim);
  if (vm.RunCalibration()) ++stats.failed;
  vm.WriteRelayWord();

  // All of the record after the trigger, which comes at once.
  vm.SetRecordLength(kRecordSamples);
  vm.SetPostSamples(kRecordSamples);
  vm.SetTriggerSource(vm316::tsNoTrig);
  vm.ChannelMask = 3;
  for (int channel = 1; channel <= kChannels; ++channel) {
    vm.SetAutoRanging(channel, false);  // as InitInstrument leaves it
    vm.SetCoupling(channel, 0);
    vm.SetDcLevel(channel, 0.0L);
  }
  for (int range = 1; range <= kRanges; ++range) {
    const long double sensitivity = vm.Sensitivities[range];
    vm.SelectRange(1, sensitivity);
    vm.SelectRange(2, sensitivity);
    std::array<bool, kChannels> out{};
    for (std::size_t p = 0; p < kPoints.size(); ++p) {
      const double volts = kPoints[p] * static_cast<double>(sensitivity);
      board.Rewire(Dc(volts), Dc(volts));
      vm.MeasureOnce();
      for (int channel = 1; channel <= kChannels; ++channel) {
        Cell& cell = stats.cells[range][channel - 1];
        const double expected = kCodesPerFullScale * (1.0 + kPoints[p]);
        const double error = MeanCode(vm, channel) - expected;
        if (std::abs(error) > std::abs(cell.worst[p])) cell.worst[p] = error;
        const double allowed =
            kToleranceLsb + kTolerancePercent / 100.0 * std::abs(expected - kCodesPerFullScale);
        ++cell.points;
        if (std::abs(error) <= allowed) {
          ++cell.within;
        } else {
          out[channel - 1] = true;
        }
      }
    }
    for (int channel = 1; channel <= kChannels; ++channel) {
      if (out[channel - 1]) ++stats.cells[range][channel - 1].calibrations_out;
    }
  }
}

void PrintTable(const Statistics& stats) {
  std::printf("\nCalibration statistics over %d boards (seeds 1..%d)\n\n", stats.boards,
              stats.boards);
  std::printf(
      "| range | ch | worst at 0 | worst at +0.7 FS | worst at -0.7 FS | within "
      "1 LSB + 0.5 %% | boards out |\n");
  std::printf("|---|---|---|---|---|---|---|\n");
  int points = 0;
  int within = 0;
  int out = 0;
  for (int range = 1; range <= kRanges; ++range) {
    for (int channel = 1; channel <= kChannels; ++channel) {
      const Cell& cell = stats.cells[range][channel - 1];
      points += cell.points;
      within += cell.within;
      out += cell.calibrations_out;
      std::printf("| %d | %d | %+.2f | %+.2f | %+.2f | %.1f %% | %d |\n", range, channel,
                  cell.worst[0], cell.worst[1], cell.worst[2],
                  cell.points ? 100.0 * cell.within / cell.points : 0.0, cell.calibrations_out);
    }
  }
  std::printf(
      "\nAll points: %d of %d within (%.2f %%); range-and-channel calibrations with a "
      "point out of tolerance: %d of %d; calibrations judged failed: %d of %d; boards "
      "not found: %d\n",
      within, points, points ? 100.0 * within / points : 0.0, out,
      stats.boards * kRanges * kChannels, stats.failed, stats.boards, stats.absent);
}

int SeedCount() {
  const char* text = std::getenv("VM316_BENCH_SEEDS");
  const int count = text != nullptr ? std::atoi(text) : 0;
  return count > 0 ? count : 100;
}

void BM_CalibrationStatistics(benchmark::State& state) {
  vm316::platform::SystemClock().Select(vm316::platform::ClockKind::kVirtual);
  vm316::platform::SetMessageSink(vm316::platform::MessageSink::kQuiet);
  Statistics stats;
  for (auto _ : state) {
    stats = Statistics{};
    for (int seed = 1; seed <= SeedCount(); ++seed) {
      MeasureBoard(static_cast<std::uint64_t>(seed), stats);
    }
  }
  int points = 0;
  int within = 0;
  int out = 0;
  for (const auto& row : stats.cells) {
    for (const Cell& cell : row) {
      points += cell.points;
      within += cell.within;
      out += cell.calibrations_out;
    }
  }
  state.counters["boards"] = stats.boards;
  state.counters["failed"] = stats.failed;
  state.counters["out_of_tolerance"] = out;
  state.counters["within_pct"] = points ? 100.0 * within / points : 0.0;
  PrintTable(stats);
}
BENCHMARK(BM_CalibrationStatistics)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
