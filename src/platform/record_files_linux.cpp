// Record files on POSIX systems. Entries are looked at with lstat, so a symlink is an entry of
// its own kind and never leads anywhere. A file is opened only after lstat found a regular file,
// with O_NOFOLLOW and O_NONBLOCK, and fstat must then find that same regular file: whatever was
// swapped in between (a FIFO that would block, a device whose open does something) is left
// alone. New files are created with O_CREAT | O_EXCL | O_NOFOLLOW under a name of this process,
// so nothing planted in the directory is followed, truncated or reused.
#ifndef _WIN32

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/record_files.h"

namespace vm316::platform {
namespace {

constexpr int kNameAttempts = 64;
constexpr mode_t kNewFileMode = 0666;  // narrowed by the host's umask, like any file it makes

SaveError ErrorOf(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return SaveError::kNoRoom;
    default:
      return SaveError::kNotWritable;
  }
}

// A file larger than the soft file-size limit would bring SIGXFSZ, whose default action ends
// the host. The host's signal dispositions are its own, so the limit is asked first and a
// record that does not fit is reported as no room, without writing a byte.
bool FitsFileSizeLimit(std::size_t size) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_FSIZE, &limit) != 0) return true;
  return limit.rlim_cur == RLIM_INFINITY || size <= limit.rlim_cur;
}

// Different for every file this process makes, and hard to guess for anyone else.
std::string UniqueName(const std::string& target) {
  static std::uint32_t serial = 0;
  const auto now =
      static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  return target + "." + std::to_string(::getpid()) + "-" + std::to_string(++serial) + "-" +
         std::to_string(now % 1000000007ULL) + ".tmp";
}

// Flushes the current directory, so that a rename or removal is on the disk before the next
// step relies on it. Some file systems cannot flush a directory; their renames are as durable
// as they get.
void SyncDirectory() {
  const int dir = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  (void)::fsync(dir);
  ::close(dir);
}

bool WriteAll(int fd, std::span<const std::uint8_t> bytes, int* error) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = n < 0 ? errno : ENOSPC;  // a write that takes nothing has found no room
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool ReadAll(int fd, std::span<std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  std::uint8_t extra = 0;
  ssize_t n = 0;
  do {
    n = ::read(fd, &extra, 1);
  } while (n < 0 && errno == EINTR);
  return n == 0;  // the file has grown since fstat: not a record of ours
}

}  // namespace

EntryInfo LookAtEntry(const char* name) {
  struct stat entry {};
  if (::lstat(name, &entry) != 0) return {};
  if (!S_ISREG(entry.st_mode)) return {EntryKind::kOther, 0};
  return {EntryKind::kRegular, entry.st_mtime};
}

bool ReadRecordFile(const char* name, std::span<std::uint8_t> record) {
  struct stat entry {};
  if (::lstat(name, &entry) != 0 || !S_ISREG(entry.st_mode)) return false;
  const int fd = ::open(name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat opened {};
  const bool same_regular_file = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
                                 opened.st_dev == entry.st_dev && opened.st_ino == entry.st_ino;
  const bool whole = same_regular_file && opened.st_size == static_cast<off_t>(record.size()) &&
                     ReadAll(fd, record);
  ::close(fd);
  return whole;
}

TemporaryRecordFile::TemporaryRecordFile(const char* target) : target_(target) {}

TemporaryRecordFile::~TemporaryRecordFile() {
  if (!name_.empty()) (void)::unlink(name_.c_str());
}

SaveError TemporaryRecordFile::Write(std::span<const std::uint8_t> record) {
  if (!FitsFileSizeLimit(record.size())) return SaveError::kNoRoom;
  int fd = -1;
  for (int attempt = 0; attempt < kNameAttempts && fd < 0; ++attempt) {
    const std::string name = UniqueName(target_);
    fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                kNewFileMode);
    if (fd >= 0) {
      name_ = name;
    } else if (errno != EEXIST) {
      return ErrorOf(errno);
    }
  }
  if (fd < 0) return SaveError::kNotWritable;
  int error = 0;
  bool written = WriteAll(fd, record, &error);
  if (written && ::fsync(fd) != 0) {
    error = errno;
    written = false;
  }
  if (::close(fd) != 0 && written) {
    error = errno;
    written = false;
  }
  return written ? SaveError::kNone : ErrorOf(error);
}

SaveError TemporaryRecordFile::Replace() {
  if (name_.empty()) return SaveError::kNotWritable;
  if (::rename(name_.c_str(), target_.c_str()) != 0) return ErrorOf(errno);
  name_.clear();
  SyncDirectory();
  return SaveError::kNone;
}

bool RemoveRecordFile(const char* name) {
  const EntryInfo entry = LookAtEntry(name);
  if (entry.kind == EntryKind::kMissing) return true;
  if (entry.kind != EntryKind::kRegular) return false;
  if (::unlink(name) != 0 && errno != ENOENT) return false;
  SyncDirectory();
  return true;
}

}  // namespace vm316::platform

#endif  // !_WIN32
