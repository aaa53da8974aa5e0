// The two calibration files the driver keeps in its current directory: the gain trims and the
// offset corrections of each calibration row (channel 1, channel 2, channel 1 through the
// second converter) and range. The driver reloads them on the day they were made and makes a
// new calibration on any other day.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace vm316::host {

inline constexpr const char* kGainTrimFile = "Vemora1.Cal";
inline constexpr const char* kOffsetFile = "Vemora2.Cal";
inline constexpr int kCalibrationRows = 3;
inline constexpr int kRanges = 12;
inline constexpr std::uintmax_t kGainTrimFileSize = 4 * kCalibrationRows * kRanges;
inline constexpr std::uintmax_t kOffsetFileSize = 8 * kCalibrationRows * kRanges;

struct CalibrationTables {
  std::array<std::array<std::int32_t, kRanges>, kCalibrationRows> gain_trim{};
  std::array<std::array<double, kRanges>, kCalibrationRows> offset_volts{};
};

struct CalibrationFile {
  bool present = false;
  std::uintmax_t size = 0;
  std::string modified;  // local time, "2025-03-01 09:12:44"
};

struct CalibrationState {
  std::filesystem::path directory;
  CalibrationFile gain_file;
  CalibrationFile offset_file;
  bool current = false;                     // the gain file is dated today
  std::optional<CalibrationTables> tables;  // both files present with the right size
};

// True when the gain-trim file in `directory` was modified today (local date): the driver then
// reloads both files instead of calibrating.
bool CalibrationCurrent(const std::filesystem::path& directory);

// Writes a pair of calibration files into `scratch` for a bring-up that must not calibrate:
// copies of those in `directory` when both are complete, else neutral tables (trims 127,
// offsets 0). False when they cannot be written.
bool WriteStandInCalibration(const std::filesystem::path& directory,
                             const std::filesystem::path& scratch);

CalibrationState ReadCalibrationState(const std::filesystem::path& directory);

// A few lines for `info` and `calibrate`: the files, their date, the trims and offsets per row
// as ranges of values; with `full_tables` every range's value.
std::string DescribeCalibration(const CalibrationState& state, bool full_tables);

}  // namespace vm316::host
