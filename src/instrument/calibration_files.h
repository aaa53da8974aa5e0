// The two calibration files in the host's current directory. Each holds one fixed-size record
// without header, little-endian, row 1 ranges 1..12, then row 2, then row 3:
//   "Vemora1.Cal"  144 bytes: the gain trims, 36 signed 32-bit integers
//   "Vemora2.Cal"  288 bytes: the offset corrections in volts, 36 IEEE 754 doubles
// "Vemora1.Cal" is also the date stamp: both count as current when it was modified today.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "instrument/vmx16.h"

namespace vm316::calibration_files {

inline constexpr const char* kGainTrimFileName = "Vemora1.Cal";
inline constexpr const char* kOffsetFileName = "Vemora2.Cal";

inline constexpr std::size_t kEntries = kCalibrationRows * kRangeCount;  // 36
inline constexpr std::size_t kGainTrimFileSize = kEntries * 4;           // 144
inline constexpr std::size_t kOffsetFileSize = kEntries * 8;             // 288

using GainTrimRecord = std::array<std::uint8_t, kGainTrimFileSize>;
using OffsetRecord = std::array<std::uint8_t, kOffsetFileSize>;

// The records in their byte order, independent of the host's.
GainTrimRecord EncodeGainTrims(const CalibrationTable<std::int32_t>& table);
OffsetRecord EncodeOffsets(const CalibrationTable<double>& table);
void DecodeGainTrims(std::span<const std::uint8_t, kGainTrimFileSize> bytes,
                     CalibrationTable<std::int32_t>& table);
void DecodeOffsets(std::span<const std::uint8_t, kOffsetFileSize> bytes,
                   CalibrationTable<double>& table);

// True when the file exists as an ordinary file and its modification time, in local time, falls
// on today's local date. Any failure to find it or to convert its time answers false.
bool ModifiedToday(const std::filesystem::path& path);

// Reads both records. False, with both tables untouched, when either file is missing, has
// another size or cannot be read.
bool ReadCalibrationFiles(CalibrationTable<std::int32_t>& gain_trims,
                          CalibrationTable<double>& offsets);

// Writes both records, each to a temporary file in the same directory that is then renamed over
// the old file, so that an interruption leaves the previous good file in place. The date stamp
// "Vemora1.Cal" is renamed last. Returns an empty string on success, else a text for the user;
// nothing is thrown.
std::string WriteCalibrationFiles(const CalibrationTable<std::int32_t>& gain_trims,
                                  const CalibrationTable<double>& offsets);

}  // namespace vm316::calibration_files
