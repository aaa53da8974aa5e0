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

// True when the entry is an ordinary file (not a symlink, FIFO, directory ...) and its
// modification time, in local time, falls on today's local date. Any failure to find it or to
// convert its time answers false.
bool ModifiedToday(const std::filesystem::path& path);

// Reads both records. False, with both tables untouched, when either file is missing, is no
// ordinary file, has another size or cannot be read. Nothing but an ordinary file is opened,
// and never in a way that can block.
bool ReadCalibrationFiles(CalibrationTable<std::int32_t>& gain_trims,
                          CalibrationTable<double>& offsets);

// Replaces both files, in an order that no interruption can turn into a current date stamp
// beside the offsets of another calibration (calibration_files.cpp says how). Returns an empty
// string on success, else a text for the user; nothing is thrown, no signal is raised, and a
// failure leaves no file of this save behind. A name held by anything but an ordinary file is
// never written over.
std::string WriteCalibrationFiles(const CalibrationTable<std::int32_t>& gain_trims,
                                  const CalibrationTable<double>& offsets);

// The points of a save at which an interruption leaves the directory in a different state.
enum class SaveStep : std::uint8_t {
  kRecordsOnDisk,    // both new records flushed under names of their own
  kStampWithdrawn,   // the old "Vemora1.Cal" is gone
  kOffsetsReplaced,  // the new "Vemora2.Cal" is in place
  kStampReplaced,    // the new "Vemora1.Cal" is in place: the save is complete
};

// For tests that stop a save part-way (a kill, a power cut): called at every step. Null by
// default.
using SaveStepHook = void (*)(SaveStep step);
void SetSaveStepHook(SaveStepHook hook);

}  // namespace vm316::calibration_files
