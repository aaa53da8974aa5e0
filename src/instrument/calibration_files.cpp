#include "instrument/calibration_files.h"

#include <bit>
#include <ctime>
#include <limits>

#include "platform/record_files.h"

namespace vm316::calibration_files {
namespace {

namespace fs = std::filesystem;

static_assert(std::numeric_limits<double>::is_iec559, "the offset file holds IEEE 754 doubles");

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

// The one text a save failure shows, with the cause in the user's terms: a directory that
// refuses the file (also when a name is held by something that is no ordinary file) or no room.
std::string SaveFailure(const char* name, platform::SaveError error) {
  const char* reason = error == platform::SaveError::kNoRoom
                           ? "the disk is full"
                           : "the file cannot be written in this directory";
  return std::string("The calibration of the VM316 could not be saved to ") + name + ": " + reason;
}

SaveStepHook& StepHook() {
  static SaveStepHook hook = nullptr;
  return hook;
}

void Reached(SaveStep step) {
  if (StepHook() != nullptr) StepHook()(step);
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
  const platform::EntryInfo entry = platform::LookAtEntry(path.string().c_str());
  return entry.kind == platform::EntryKind::kRegular &&
         SameLocalDate(entry.modified, std::time(nullptr));
}

bool ReadCalibrationFiles(CalibrationTable<std::int32_t>& gain_trims,
                          CalibrationTable<double>& offsets) {
  GainTrimRecord gain_record{};
  OffsetRecord offset_record{};
  if (!platform::ReadRecordFile(kGainTrimFileName, gain_record)) return false;
  if (!platform::ReadRecordFile(kOffsetFileName, offset_record)) return false;
  DecodeGainTrims(gain_record, gain_trims);
  DecodeOffsets(offset_record, offsets);
  return true;
}

// "Vemora1.Cal" is the date stamp: the pair counts as today's when that file is dated today,
// whatever the date of "Vemora2.Cal". So the hazard is a current "Vemora1.Cal" beside a
// "Vemora2.Cal" of another run, and the order below never lets a current stamp stand beside
// offsets it was not made with:
//   1. both new records are written and flushed under new names of their own; the old pair is
//      untouched, and an interruption leaves only a stray temporary;
//   2. the old stamp is removed and the removal flushed: from here until step 4 no pair is
//      current, and an interruption costs a new calibration at the next bring-up, never a
//      mixed pair (renaming the offsets first, as an obvious order would, leaves an old stamp
//      of today beside new offsets);
//   3. the new offsets are renamed into place, flushed;
//   4. the new stamp, dated when its record was written, is renamed into place, flushed: only
//      now is the pair current, and both halves are of this run.
// Every file is flushed before it gets its real name, so a power cut never leaves a real name
// on a file whose contents never reached the disk.
std::string WriteCalibrationFiles(const CalibrationTable<std::int32_t>& gain_trims,
                                  const CalibrationTable<double>& offsets) {
  // A name held by a directory, symlink, FIFO or device is not ours to replace.
  for (const char* name : {kGainTrimFileName, kOffsetFileName}) {
    if (platform::LookAtEntry(name).kind == platform::EntryKind::kOther) {
      return SaveFailure(name, platform::SaveError::kNotWritable);
    }
  }
  platform::TemporaryRecordFile new_gains(kGainTrimFileName);
  platform::TemporaryRecordFile new_offsets(kOffsetFileName);
  const GainTrimRecord gain_record = EncodeGainTrims(gain_trims);
  const OffsetRecord offset_record = EncodeOffsets(offsets);
  if (const auto error = new_gains.Write(gain_record); error != platform::SaveError::kNone) {
    return SaveFailure(kGainTrimFileName, error);
  }
  if (const auto error = new_offsets.Write(offset_record); error != platform::SaveError::kNone) {
    return SaveFailure(kOffsetFileName, error);
  }
  Reached(SaveStep::kRecordsOnDisk);

  if (!platform::RemoveRecordFile(kGainTrimFileName)) {
    return SaveFailure(kGainTrimFileName, platform::SaveError::kNotWritable);
  }
  Reached(SaveStep::kStampWithdrawn);

  if (const auto error = new_offsets.Replace(); error != platform::SaveError::kNone) {
    return SaveFailure(kOffsetFileName, error);
  }
  Reached(SaveStep::kOffsetsReplaced);

  if (const auto error = new_gains.Replace(); error != platform::SaveError::kNone) {
    return SaveFailure(kGainTrimFileName, error);
  }
  Reached(SaveStep::kStampReplaced);
  return {};
}

void SetSaveStepHook(SaveStepHook hook) {
  StepHook() = hook;
}

}  // namespace vm316::calibration_files
