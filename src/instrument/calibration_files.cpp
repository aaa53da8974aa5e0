#include "instrument/calibration_files.h"

#include <bit>
#include <chrono>
#include <ctime>
#include <fstream>
#include <limits>
#include <system_error>

namespace vm316::calibration_files {
namespace {

namespace fs = std::filesystem;

static_assert(std::numeric_limits<double>::is_iec559, "the offset file holds IEEE 754 doubles");

constexpr const char* kTemporarySuffix = ".tmp";

template <typename Value, std::size_t kWidth, typename Unsigned>
void EncodeTable(const CalibrationTable<Value>& table, std::span<std::uint8_t> bytes) {
  std::size_t at = 0;
  for (int row = 1; row <= kCalibrationRows; ++row) {
    for (int range = 1; range <= kRangeCount; ++range) {
      const auto bits = std::bit_cast<Unsigned>(table[row][range]);
      for (std::size_t i = 0; i < kWidth; ++i) {
        bytes[at++] = static_cast<std::uint8_t>(bits >> (8 * i));
      }
    }
  }
}

template <typename Value, std::size_t kWidth, typename Unsigned>
void DecodeTable(std::span<const std::uint8_t> bytes, CalibrationTable<Value>& table) {
  std::size_t at = 0;
  for (int row = 1; row <= kCalibrationRows; ++row) {
    for (int range = 1; range <= kRangeCount; ++range) {
      Unsigned bits = 0;
      for (std::size_t i = 0; i < kWidth; ++i) {
        bits |= static_cast<Unsigned>(static_cast<Unsigned>(bytes[at++]) << (8 * i));
      }
      table[row][range] = std::bit_cast<Value>(bits);
    }
  }
}

// Exactly size bytes, or false: a longer or shorter file is not a record of ours.
template <std::size_t kSize>
bool ReadRecordFile(const fs::path& path, std::array<std::uint8_t, kSize>& record) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  file.read(reinterpret_cast<char*>(record.data()), static_cast<std::streamsize>(kSize));
  if (file.gcount() != static_cast<std::streamsize>(kSize)) return false;
  char extra = 0;
  file.read(&extra, 1);
  return file.gcount() == 0;
}

fs::path TemporaryPath(const char* name) {
  return fs::path(std::string(name) + kTemporarySuffix);
}

template <std::size_t kSize>
bool WriteTemporary(const fs::path& path, const std::array<std::uint8_t, kSize>& record) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return false;
  file.write(reinterpret_cast<const char*>(record.data()), static_cast<std::streamsize>(kSize));
  file.close();
  return !file.fail();
}

void RemoveQuietly(const fs::path& path) {
  std::error_code ignored;
  fs::remove(path, ignored);
}

std::string SaveFailure(const char* name, const std::string& reason) {
  return std::string("The calibration of the VM316 could not be saved to ") + name + ": " + reason;
}

bool SameLocalDate(std::time_t a, std::time_t b) {
  // std::localtime hands back one shared buffer: copy before the second call.
  const std::tm* first = std::localtime(&a);
  if (first == nullptr) return false;
  const std::tm day = *first;
  const std::tm* second = std::localtime(&b);
  if (second == nullptr) return false;
  return day.tm_year == second->tm_year && day.tm_mon == second->tm_mon &&
         day.tm_mday == second->tm_mday;
}

}  // namespace

GainTrimRecord EncodeGainTrims(const CalibrationTable<std::int32_t>& table) {
  GainTrimRecord bytes{};
  EncodeTable<std::int32_t, 4, std::uint32_t>(table, bytes);
  return bytes;
}

OffsetRecord EncodeOffsets(const CalibrationTable<double>& table) {
  OffsetRecord bytes{};
  EncodeTable<double, 8, std::uint64_t>(table, bytes);
  return bytes;
}

void DecodeGainTrims(std::span<const std::uint8_t, kGainTrimFileSize> bytes,
                     CalibrationTable<std::int32_t>& table) {
  DecodeTable<std::int32_t, 4, std::uint32_t>(bytes, table);
}

void DecodeOffsets(std::span<const std::uint8_t, kOffsetFileSize> bytes,
                   CalibrationTable<double>& table) {
  DecodeTable<double, 8, std::uint64_t>(bytes, table);
}

bool ModifiedToday(const fs::path& path) {
  std::error_code ec;
  if (!fs::is_regular_file(fs::status(path, ec)) || ec) return false;
  const fs::file_time_type modified = fs::last_write_time(path, ec);
  if (ec) return false;
  const auto system_time = std::chrono::time_point_cast<std::chrono::system_clock::duration>(
      std::chrono::file_clock::to_sys(modified));
  return SameLocalDate(std::chrono::system_clock::to_time_t(system_time), std::time(nullptr));
}

bool ReadCalibrationFiles(CalibrationTable<std::int32_t>& gain_trims,
                          CalibrationTable<double>& offsets) {
  GainTrimRecord gain_record{};
  OffsetRecord offset_record{};
  if (!ReadRecordFile(fs::path(kGainTrimFileName), gain_record)) return false;
  if (!ReadRecordFile(fs::path(kOffsetFileName), offset_record)) return false;
  DecodeGainTrims(gain_record, gain_trims);
  DecodeOffsets(offset_record, offsets);
  return true;
}

std::string WriteCalibrationFiles(const CalibrationTable<std::int32_t>& gain_trims,
                                  const CalibrationTable<double>& offsets) {
  const fs::path gain_temporary = TemporaryPath(kGainTrimFileName);
  const fs::path offset_temporary = TemporaryPath(kOffsetFileName);
  auto give_up = [&](const char* name, const std::string& reason) {
    RemoveQuietly(gain_temporary);
    RemoveQuietly(offset_temporary);
    return SaveFailure(name, reason);
  };

  if (!WriteTemporary(gain_temporary, EncodeGainTrims(gain_trims))) {
    return give_up(kGainTrimFileName, "the file cannot be written");
  }
  if (!WriteTemporary(offset_temporary, EncodeOffsets(offsets))) {
    return give_up(kOffsetFileName, "the file cannot be written");
  }
  // Offsets first: a current date stamp then always comes with the offsets of its own run.
  std::error_code ec;
  fs::rename(offset_temporary, fs::path(kOffsetFileName), ec);
  if (ec) return give_up(kOffsetFileName, ec.message());
  fs::rename(gain_temporary, fs::path(kGainTrimFileName), ec);
  if (ec) return give_up(kGainTrimFileName, ec.message());
  return {};
}

}  // namespace vm316::calibration_files
