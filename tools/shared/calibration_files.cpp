#include "calibration_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <vector>

namespace vm316::host {
namespace {

constexpr std::array<const char*, kCalibrationRows> kRowNames = {"ch1", "ch2",
                                                                 "ch1 on converter 2"};
constexpr std::array<const char*, kRanges> kRangeNames = {
    "0.02", "0.04", "0.08", "0.2", "0.4", "0.8", "2", "4", "8", "20", "40", "80"};
constexpr std::int32_t kNeutralTrim = 127;
constexpr std::int32_t kLowestTrim = 5;
constexpr std::int32_t kHighestTrim = 250;

std::optional<std::tm> ModificationTime(const std::filesystem::path& file) {
  struct stat info {};
  if (stat(file.c_str(), &info) != 0) return std::nullopt;
  std::tm local{};
  if (localtime_r(&info.st_mtime, &local) == nullptr) return std::nullopt;
  return local;
}

CalibrationFile Inspect(const std::filesystem::path& file) {
  CalibrationFile result;
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error)) return result;
  result.present = true;
  result.size = std::filesystem::file_size(file, error);
  if (const std::optional<std::tm> time = ModificationTime(file)) {
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &*time);
    result.modified = text;
  }
  return result;
}

// The files are little-endian records, as the driver writes them.
template <typename T>
bool ReadRecord(const std::filesystem::path& file,
                std::array<std::array<T, kRanges>, kCalibrationRows>& table) {
  std::ifstream in(file, std::ios::binary);
  std::array<unsigned char, sizeof(T) * kRanges * kCalibrationRows> bytes{};
  if (!in.read(reinterpret_cast<char*>(bytes.data()), bytes.size())) return false;
  std::size_t at = 0;
  for (auto& row : table) {
    for (T& value : row) {
      using Bits = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;
      Bits bits = 0;
      for (std::size_t i = 0; i < sizeof(T); ++i) bits |= Bits{bytes[at + i]} << (8 * i);
      value = std::bit_cast<T>(bits);
      at += sizeof(T);
    }
  }
  return true;
}

std::string Format(const char* format, double value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string SummaryLine(const CalibrationTables& tables) {
  std::string line = "  gain trims  ";
  for (int row = 0; row < kCalibrationRows; ++row) {
    const auto [low, high] =
        std::minmax_element(tables.gain_trim[row].begin(), tables.gain_trim[row].end());
    line += std::string("  ") + kRowNames[row] + " " + std::to_string(*low) + ".." +
            std::to_string(*high);
    if (*low < kLowestTrim || *high > kHighestTrim) line += " (out of limits)";
  }
  line += "   (neutral " + std::to_string(kNeutralTrim) + ", usable " +
          std::to_string(kLowestTrim) + ".." + std::to_string(kHighestTrim) + ")\n";
  line += "  offsets    ";
  for (int row = 0; row < kCalibrationRows; ++row) {
    const auto [low, high] =
        std::minmax_element(tables.offset_volts[row].begin(), tables.offset_volts[row].end());
    line += std::string("  ") + kRowNames[row] + " " + Format("%+.1f", *low * 1e3) + ".." +
            Format("%+.1f", *high * 1e3) + " mV";
  }
  return line + "\n";
}

std::string FullTables(const CalibrationTables& tables) {
  std::string out = "  range (V)                     ";
  for (const char* name : kRangeNames) {
    char cell[16];
    std::snprintf(cell, sizeof cell, "%7s", name);
    out += cell;
  }
  out += "\n";
  for (int row = 0; row < kCalibrationRows; ++row) {
    char label[48];
    std::snprintf(label, sizeof label, "  %-30s", (std::string(kRowNames[row]) + " trim").c_str());
    out += label;
    for (const std::int32_t trim : tables.gain_trim[row]) out += Format("%7.0f", trim);
    out += "\n";
  }
  for (int row = 0; row < kCalibrationRows; ++row) {
    char label[48];
    std::snprintf(label, sizeof label, "  %-30s",
                  (std::string(kRowNames[row]) + " offset mV").c_str());
    out += label;
    for (const double offset : tables.offset_volts[row]) out += Format("%7.2f", offset * 1e3);
    out += "\n";
  }
  return out;
}

}  // namespace

bool CalibrationCurrent(const std::filesystem::path& directory) {
  const std::optional<std::tm> modified = ModificationTime(directory / kGainTrimFile);
  if (!modified) return false;
  const std::time_t now = std::time(nullptr);
  std::tm today{};
  if (localtime_r(&now, &today) == nullptr) return false;
  return modified->tm_year == today.tm_year && modified->tm_mon == today.tm_mon &&
         modified->tm_mday == today.tm_mday;
}

bool WriteStandInCalibration(const std::filesystem::path& directory,
                             const std::filesystem::path& scratch) {
  const CalibrationState state = ReadCalibrationState(directory);
  std::vector<char> gains(kGainTrimFileSize, 0);
  std::vector<char> offsets(kOffsetFileSize, 0);  // 0.0 in every entry
  for (std::size_t at = 0; at < gains.size(); at += 4) gains[at] = kNeutralTrim;
  if (state.tables) {
    std::ifstream gain_in(directory / kGainTrimFile, std::ios::binary);
    std::ifstream offset_in(directory / kOffsetFile, std::ios::binary);
    gain_in.read(gains.data(), static_cast<std::streamsize>(gains.size()));
    offset_in.read(offsets.data(), static_cast<std::streamsize>(offsets.size()));
  }
  for (const auto& [name, bytes] : {std::pair{kGainTrimFile, &gains}, {kOffsetFile, &offsets}}) {
    std::ofstream out(scratch / name, std::ios::binary | std::ios::trunc);
    out.write(bytes->data(), static_cast<std::streamsize>(bytes->size()));
    out.close();
    if (!out) return false;
  }
  return true;
}

CalibrationState ReadCalibrationState(const std::filesystem::path& directory) {
  CalibrationState state;
  state.directory = directory;
  state.gain_file = Inspect(directory / kGainTrimFile);
  state.offset_file = Inspect(directory / kOffsetFile);
  state.current = state.gain_file.present && CalibrationCurrent(directory);
  if (state.gain_file.size == kGainTrimFileSize && state.offset_file.size == kOffsetFileSize) {
    CalibrationTables tables;
    if (ReadRecord(directory / kGainTrimFile, tables.gain_trim) &&
        ReadRecord(directory / kOffsetFile, tables.offset_volts)) {
      state.tables = tables;
    }
  }
  return state;
}

std::string DescribeCalibration(const CalibrationState& state, bool full_tables) {
  std::string out = "calibration    " + state.directory.string() + "\n";
  auto file_line = [&out](const char* name, const char* what, const CalibrationFile& file,
                          std::uintmax_t expected_size) {
    out += std::string("  ") + name + "  " + what + ": ";
    if (!file.present) {
      out += "absent\n";
      return;
    }
    out += std::to_string(file.size) + " bytes";
    if (file.size != expected_size) out += " (should be " + std::to_string(expected_size) + ")";
    out += ", " + file.modified + "\n";
  };
  file_line(kGainTrimFile, "gain trims", state.gain_file, kGainTrimFileSize);
  file_line(kOffsetFile, "offset corrections", state.offset_file, kOffsetFileSize);
  if (!state.gain_file.present) {
    out += "  state        none yet: the next start calibrates (on real hardware, after asking)\n";
  } else if (state.current) {
    out += "  state        current: made today, reloaded at every start today\n";
  } else {
    out +=
        "  state        out of date: the next start calibrates anew (on real hardware, after "
        "asking)\n";
  }
  if (state.tables) {
    out += SummaryLine(*state.tables);
    if (full_tables) out += FullTables(*state.tables);
  }
  return out;
}

}  // namespace vm316::host
