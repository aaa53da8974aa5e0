// Record files on Windows. An entry is looked at through its attributes, and a directory, a
// reparse point (symbolic link, junction) or a device counts as no file of ours. A file is
// opened without following a reparse point and must then be an ordinary disk file. New files
// are created with CREATE_NEW under a name of this process, so nothing planted in the directory
// is reused, and are moved over the old file with MOVEFILE_WRITE_THROUGH, which returns only
// once the move is on the disk.
#include "platform/record_files.h"

#include <string>

#include "platform/win32/windows_api.h"

namespace vm316::platform {
namespace {

constexpr int kNameAttempts = 64;
constexpr DWORD kNotAFileOfOurs =
    FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;

// 100 ns intervals between 1601-01-01 and 1970-01-01.
constexpr unsigned long long kFileTimeAtUnixEpoch = 116444736000000000ULL;
constexpr unsigned long long kFileTimeTicksPerSecond = 10000000ULL;

std::time_t ToTimeT(const FILETIME& time) {
  const unsigned long long ticks =
      (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  if (ticks < kFileTimeAtUnixEpoch) return 0;
  return static_cast<std::time_t>((ticks - kFileTimeAtUnixEpoch) / kFileTimeTicksPerSecond);
}

SaveError ErrorOf(DWORD error) {
  return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ? SaveError::kNoRoom
                                                                     : SaveError::kNotWritable;
}

std::string UniqueName(const std::string& target) {
  static unsigned long serial = 0;
  return target + "." + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++serial) +
         "-" + std::to_string(::GetTickCount()) + ".tmp";
}

bool ReadAll(HANDLE file, std::span<std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD n = 0;
    if (::ReadFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &n,
                   nullptr) == 0 ||
        n == 0) {
      return false;
    }
    done += n;
  }
  std::uint8_t extra = 0;
  DWORD n = 0;
  return ::ReadFile(file, &extra, 1, &n, nullptr) != 0 && n == 0;
}

}  // namespace

EntryInfo LookAtEntry(const char* name) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (::GetFileAttributesExA(name, GetFileExInfoStandard, &data) == 0) return {};
  if ((data.dwFileAttributes & kNotAFileOfOurs) != 0) return {EntryKind::kOther, 0};
  return {EntryKind::kRegular, ToTimeT(data.ftLastWriteTime)};
}

bool ReadRecordFile(const char* name, std::span<std::uint8_t> record) {
  if (LookAtEntry(name).kind != EntryKind::kRegular) return false;
  const HANDLE file = ::CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool ordinary = ::GetFileType(file) == FILE_TYPE_DISK &&
                        ::GetFileInformationByHandle(file, &info) != 0 &&
                        (info.dwFileAttributes & kNotAFileOfOurs) == 0;
  const bool whole = ordinary && info.nFileSizeHigh == 0 && info.nFileSizeLow == record.size() &&
                     ReadAll(file, record);
  ::CloseHandle(file);
  return whole;
}

TemporaryRecordFile::TemporaryRecordFile(const char* target) : target_(target) {}

TemporaryRecordFile::~TemporaryRecordFile() {
  if (!name_.empty()) ::DeleteFileA(name_.c_str());
}

SaveError TemporaryRecordFile::Write(std::span<const std::uint8_t> record) {
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < kNameAttempts && file == INVALID_HANDLE_VALUE; ++attempt) {
    const std::string name = UniqueName(target_);
    file = ::CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      name_ = name;
    } else {
      const DWORD error = ::GetLastError();
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return ErrorOf(error);
    }
  }
  if (file == INVALID_HANDLE_VALUE) return SaveError::kNotWritable;
  SaveError result = SaveError::kNone;
  DWORD written = 0;
  if (::WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr) == 0) {
    result = ErrorOf(::GetLastError());
  } else if (written != record.size()) {
    result = SaveError::kNoRoom;  // a write cut short has found no room
  } else if (::FlushFileBuffers(file) == 0) {
    result = ErrorOf(::GetLastError());
  }
  ::CloseHandle(file);
  return result;
}

SaveError TemporaryRecordFile::Replace() {
  if (name_.empty()) return SaveError::kNotWritable;
  if (::MoveFileExA(name_.c_str(), target_.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
    return ErrorOf(::GetLastError());
  }
  name_.clear();
  return SaveError::kNone;
}

bool RemoveRecordFile(const char* name) {
  const EntryInfo entry = LookAtEntry(name);
  if (entry.kind == EntryKind::kMissing) return true;
  if (entry.kind != EntryKind::kRegular) return false;
  return ::DeleteFileA(name) != 0 || ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

}  // namespace vm316::platform
