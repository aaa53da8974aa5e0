// Fixed-size record files in the host's current directory, as the calibration keeps them. The
// directory belongs to the host and may hold anything under our names: a symlink to another
// file, a FIFO, a device, a directory. So an entry is looked at without following it, only a
// regular file is ever opened (and never in a way that can block), a file is never written in
// place, and a new file is made under a name nobody else can have prepared, then renamed over
// the old one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <span>
#include <string>

namespace vm316::platform {

enum class EntryKind : std::uint8_t {
  kMissing,  // nothing under that name (or it cannot be looked at)
  kRegular,  // an ordinary file
  kOther,    // a directory, symlink, FIFO, device, socket, reparse point ...
};

struct EntryInfo {
  EntryKind kind = EntryKind::kMissing;
  std::time_t modified = 0;  // the modification time of a regular file
};

// The entry itself, never what a link points to.
EntryInfo LookAtEntry(const char* name);

// Exactly record.size() bytes of the regular file `name`, or false with `record` unspecified:
// a missing, non-regular, shorter or longer file, or one that cannot be read.
bool ReadRecordFile(const char* name, std::span<std::uint8_t> record);

enum class SaveError : std::uint8_t {
  kNone,
  kNotWritable,  // the directory refuses new files, or a non-regular entry holds the name
  kNoRoom,       // the disk, a quota or the process's file-size limit leaves no room
};

// A new file with a unique name beside `target`, created so that no entry already there is
// followed or reused. Write() writes the whole record and flushes it to the disk; Replace()
// renames it over `target` and flushes the directory; the destructor removes what was not
// renamed.
class TemporaryRecordFile {
 public:
  explicit TemporaryRecordFile(const char* target);
  ~TemporaryRecordFile();
  TemporaryRecordFile(const TemporaryRecordFile&) = delete;
  TemporaryRecordFile& operator=(const TemporaryRecordFile&) = delete;

  SaveError Write(std::span<const std::uint8_t> record);
  SaveError Replace();

 private:
  std::string target_;
  std::string name_;  // empty until created, and again once renamed or removed
};

// Removes the entry `name` if it is a regular file (never a directory, never what a link
// points to), then flushes the directory. True when no regular file is left under the name.
bool RemoveRecordFile(const char* name);

}  // namespace vm316::platform
