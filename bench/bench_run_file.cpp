// Writing a run into one file: records per second that the CSV and the HDF5 run file take, each
// record flushed as `measure` flushes it, and the bytes each record adds to the file. The
// records are the shape of the board's: two channels of 8-bit codes (a sine over the 8 V range
// with a converter step of noise), for the default record (1000 samples at 100 kHz) and a full
// one (32 760 samples at 20 MHz).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <numbers>
#include <random>
#include <string>

#include "shared/hdf5_writer.h"
#include "shared/run_file.h"

namespace {

using namespace vm316::host;

constexpr double kRange = 8.0;
constexpr double kAmplitude = 2.5;
constexpr double kSignalHz = 1000.0;
constexpr double kCodesPerVolt = 128.0 / kRange;
constexpr std::uint16_t kZeroCode = 32768;
constexpr std::uint16_t kCodeStep = 256;

Record BoardShapedRecord(std::size_t length, double rate) {
  Record record;
  record.sample_rate = rate;
  record.length = length;
  record.pre_samples = length / 10;
  record.trigger = "ch1 rising 0 V";
  record.trigger_state = TriggerState::kTriggered;
  record.backend = "simulated board at 0x378";
  record.timestamp = "1970-01-01T00:00:00+0000";
  std::mt19937 noise(1);
  std::normal_distribution<double> step(0.0, 0.35);
  for (int channel = 0; channel < kChannelCount; ++channel) {
    ChannelRecord& trace = record.channels[channel];
    trace.recorded = true;
    trace.sensitivity = kRange;
    for (std::size_t i = 0; i < length; ++i) {
      const double volts =
          kAmplitude * std::sin(2.0 * std::numbers::pi * kSignalHz * record.TimeOf(i) + channel);
      const double code = std::round(volts * kCodesPerVolt + step(noise));
      trace.raw.push_back(static_cast<std::uint16_t>(kZeroCode + code * kCodeStep));
      trace.volts.push_back(code / kCodesPerVolt);
    }
  }
  return record;
}

void RunFileRate(benchmark::State& state, RunFormat format, SampleUnit unit) {
  const auto length = static_cast<std::size_t>(state.range(0));
  const Record record = BoardShapedRecord(length, static_cast<double>(state.range(1)));
  std::string pattern = (std::filesystem::temp_directory_path() / "vm316-bench-XXXXXX").string();
  const std::filesystem::path directory = mkdtemp(pattern.data());
  const std::string path =
      (directory / (format == RunFormat::kHdf5 ? "run.h5" : "run.csv")).string();
  if (format == RunFormat::kHdf5 && !Hdf5FilesAvailable()) {
    state.SkipWithError("this build has no libhdf5");
    return;
  }
  {
    const std::unique_ptr<RunFile> run =
        OpenRunFile(path, RunFileOptions{format, unit, CsvMetadata::kComments});
    for (auto _ : state) run->Append(record);
    run->Close();
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["bytes_per_record"] = static_cast<double>(std::filesystem::file_size(path)) /
                                       static_cast<double>(state.iterations());
  state.SetLabel("items = records");
  std::filesystem::remove_all(directory);
}

void BM_CsvRunFile(benchmark::State& state) {
  RunFileRate(state, RunFormat::kCsv, SampleUnit::kVolts);
}
void BM_CsvRunFileRaw(benchmark::State& state) {
  RunFileRate(state, RunFormat::kCsv, SampleUnit::kRawCodes);
}
void BM_Hdf5RunFile(benchmark::State& state) {
  RunFileRate(state, RunFormat::kHdf5, SampleUnit::kVolts);
}

// {samples, rate in Hz}: the default record and a full-length one at the highest rate.
void Records(benchmark::internal::Benchmark* bench) {
  bench->Args({1000, 100000})->Args({32760, 20000000})->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_CsvRunFile)->Apply(Records);
BENCHMARK(BM_CsvRunFileRaw)->Apply(Records);
BENCHMARK(BM_Hdf5RunFile)->Apply(Records);

}  // namespace
