#include "sim_session.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <limits>
#include <numeric>

#include "vm316_host.h"

namespace vm316::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCalibrationFiles[] = {"Vemora1.Cal", "Vemora2.Cal"};

bool FromToday(const fs::path& file) {
  struct stat status {};
  if (stat(file.c_str(), &status) != 0) return false;
  const std::time_t now = std::time(nullptr);
  std::tm written{};
  std::tm today{};
  localtime_r(&status.st_mtime, &written);
  localtime_r(&now, &today);
  return written.tm_year == today.tm_year && written.tm_yday == today.tm_yday;
}

std::string CachePrefix() {
  return "vm316-interface-calibration-" + std::to_string(getuid()) + "-";
}

// One shared directory per user, build of the library and board seed: a rebuilt board model
// or another seed calibrates afresh.
fs::path CacheDirectory() {
  std::error_code error;
  const auto built = fs::last_write_time(VM316_LIBRARY_PATH, error).time_since_epoch().count();
  const char* seed = std::getenv("VM316_SIM_SEED");
  return fs::temp_directory_path() /
         (CachePrefix() + std::to_string(built) + "-" + (seed ? seed : "1"));
}

// Calibrations of other builds that nobody has renewed for two days are of no more use.
void RemoveStaleCaches(const fs::path& cache) {
  const auto stale_before = fs::file_time_type::clock::now() - std::chrono::hours(48);
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(cache.parent_path(), error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(CachePrefix(), 0) != 0 || entry.path() == cache) continue;
    if (fs::last_write_time(entry.path(), error) < stale_before) fs::remove_all(entry, error);
  }
}

bool CacheCurrent(const fs::path& cache) {
  return FromToday(cache / kCalibrationFiles[0]) && fs::exists(cache / kCalibrationFiles[1]);
}

// Calibrates with grounded inputs in a directory of its own and publishes the two files; a
// rename makes each appear whole to a test process that runs at the same time.
void Calibrate(const fs::path& cache) {
  ScopedEnv grounded;
  for (const char* name : {"VM316_SIM_CH1", "VM316_SIM_CH2", "VM316_SIM_EXT", "VM316_SIM_FAULT"}) {
    grounded.Unset(name);
  }
  ScopedTempCwd scratch;
  ExitInstrument();
  ASSERT_EQ(InitInstrument(kSimBase), StatusOk) << "no simulated board to calibrate";
  ExitInstrument();
  fs::create_directories(cache);
  for (const char* name : kCalibrationFiles) {
    const fs::path staged = cache / (std::string(name) + "." + std::to_string(getpid()));
    fs::copy_file(scratch.path() / name, staged, fs::copy_options::overwrite_existing);
    fs::rename(staged, cache / name);
  }
  RemoveStaleCaches(cache);
}

}  // namespace

void SeedCalibration() {
  const fs::path cache = CacheDirectory();
  if (!CacheCurrent(cache)) Calibrate(cache);
  for (const char* name : kCalibrationFiles) {
    fs::copy_file(cache / name, fs::current_path() / name, fs::copy_options::overwrite_existing);
  }
}

uint16_t SimulatedBoardTest::BringUp(const BoardInputs& inputs) {
  ExitInstrument();
  SeedCalibration();
  env_.Set("VM316_SIM_CH1", inputs.ch1)
      .Set("VM316_SIM_CH2", inputs.ch2)
      .Set("VM316_SIM_EXT", inputs.ext)
      .Set("VM316_SIM_FAULT", inputs.fault);
  return InitInstrument(kSimBase);
}

void SimulatedBoardTest::TearDown() {
  ExitInstrument();
}

Record VoltRecord() {
  Record record;
  const auto length = static_cast<std::size_t>(GetRecordLength());
  record.ch1.resize(length);
  record.ch2.resize(length);
  EXPECT_EQ(GetMeasurement(record.ch1.data(), record.ch2.data()), StatusOk);
  return record;
}

Record BlockVoltRecord() {
  Record record;
  const auto length = static_cast<std::size_t>(GetRecordLength());
  record.ch1.resize(length);
  record.ch2.resize(length);
  EXPECT_EQ(ADC_GetDataVolt(record.ch1.data(), record.ch2.data()), StatusOk);
  return record;
}

std::vector<uint16_t> RawRecord(int channel) {
  const auto length = static_cast<std::size_t>(GetRecordLength());
  std::vector<uint16_t> ch1(length);
  std::vector<uint16_t> ch2(length);
  EXPECT_EQ(GetMeasurementRaw(ch1.data(), ch2.data()), StatusOk);
  return channel == 1 ? ch1 : ch2;
}

void PumpFor(uint32_t ms) {
  // On the virtual clock each call waits for the next tick or the end of its slice.
  for (uint32_t waited = 0; waited < ms; ++waited) vm316_pump_messages(1);
}

double Mean(const std::vector<double>& samples) {
  if (samples.empty()) return 0.0;
  return std::accumulate(samples.begin(), samples.end(), 0.0) / static_cast<double>(samples.size());
}

double Amplitude(const std::vector<double>& samples) {
  if (samples.empty()) return 0.0;
  const auto [low, high] = std::minmax_element(samples.begin(), samples.end());
  return (*high - *low) / 2.0;
}

std::vector<double> Crossings(const std::vector<double>& samples, double level, bool rising,
                              double hysteresis) {
  // Seen from the slope's side: a rising crossing of level is a falling one of -level.
  const double sign = rising ? 1.0 : -1.0;
  std::vector<double> crossings;
  bool armed = false;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const double here = sign * (samples[i] - level);
    if (here < -hysteresis) armed = true;
    if (!armed || here < 0.0 || i == 0) continue;
    const double before = sign * (samples[i - 1] - level);
    crossings.push_back(static_cast<double>(i - 1) +
                        (before < 0.0 ? -before / (here - before) : 1.0));
    armed = false;
  }
  return crossings;
}

double MeanPeriod(const std::vector<double>& crossings) {
  if (crossings.size() < 2) return 0.0;
  return (crossings.back() - crossings.front()) / static_cast<double>(crossings.size() - 1);
}

double NearestCrossing(const std::vector<double>& crossings, double index) {
  double nearest = std::numeric_limits<double>::max();
  for (double crossing : crossings) {
    if (std::fabs(crossing - index) < std::fabs(nearest - index)) nearest = crossing;
  }
  return nearest;
}

}  // namespace vm316::testing
