// Bring-up against calibration files a host's directory may really hold: empty, short or
// over-long files, directories, symlinks and FIFOs in their place or in the way of a save, a
// directory that cannot be written, a file-size limit, date stamps of the future, a save killed
// at any step, and records of the right size full of nonsense. Whatever is there, bring-up ends
// with a usable board, says so when it cannot save, follows no link, opens nothing but an
// ordinary file, and never leaves a current date stamp beside offsets of another calibration.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "instrument/calibration_files.h"
#include "instrument/vmx16.h"
#include "support/message_capture.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace vm316 {
namespace {

namespace fs = std::filesystem;
using calibration_files::kGainTrimFileName;
using calibration_files::kOffsetFileName;
using testing::MessageCapture;
using testing::ScopedEnv;
using testing::ScopedTempCwd;

constexpr std::uint16_t kBase = 0x378;
constexpr const char* kSaveFailurePrefix = "The calibration of the VM316 could not be saved";
constexpr unsigned kHangSeconds = 120;

std::vector<char> Bytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, std::size_t size, char fill = '\x11') {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  const std::vector<char> bytes(size, fill);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void Age(const fs::path& path, std::chrono::hours by) {
  fs::last_write_time(path, fs::file_time_type::clock::now() + by);
}

// Both files with their times, to tell whether anything replaced them.
struct Pair {
  std::vector<char> gain, offset;
  fs::file_time_type gain_time, offset_time;
  bool operator==(const Pair&) const = default;
  static Pair Now() {
    return {Bytes(kGainTrimFileName), Bytes(kOffsetFileName),
            fs::last_write_time(kGainTrimFileName), fs::last_write_time(kOffsetFileName)};
  }
};

class HostileCalibrationFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.Set("VM316_PORT", "sim").Set("VM316_CLOCK", "virtual").Set("VM316_MESSAGES", "quiet");
    for (const char* name : {"VM316_SIM_CH1", "VM316_SIM_CH2", "VM316_SIM_EXT"}) {
      env_.Set(name, "ground");
    }
    env_.Unset("VM316_SIM_FAULT").Unset("VM316_SIM_SEED").Unset("VM316_SIM_BASE");
  }

  // One bring-up in the current directory; true when it calibrated.
  bool BringUpCalibrates() {
    const int before = capture_.Count(VM316_NOTICE_PROGRESS_SHOW);
    auto vm = std::make_unique<TVMx16>();
    vm->SetHardwareAddress(kBase);
    EXPECT_TRUE(vm->BringUp());
    EXPECT_TRUE(vm->HardwarePresent);
    // The board measures with whatever tables bring-up settled on; a short time-out spares the
    // simulated board a second of samples at 20 MHz.
    vm->SetTrigTimeOut(0.01L);
    vm->MeasureOnce();
    EXPECT_TRUE(vm->HardwarePresent);
    last_trim_ = vm->GainTrim[1][6];
    return capture_.Count(VM316_NOTICE_PROGRESS_SHOW) == before + 1;
  }

  // A good pair of today, made by a calibration: the first in a directory of its own, once
  // per process (a calibration takes seconds in a debug build), then copied.
  Pair GoodPair() {
    static const fs::path made = [this] {
      const fs::path here = fs::current_path();
      const fs::path dir = fs::path(cwd_.path().string() + "-good");
      fs::create_directory(dir);
      fs::current_path(dir);
      EXPECT_TRUE(BringUpCalibrates());
      fs::current_path(here);
      return dir;
    }();
    for (const char* name : {kGainTrimFileName, kOffsetFileName}) {
      fs::remove_all(name);
      fs::copy_file(made / name, name);
    }
    return Pair::Now();
  }

  static bool CurrentAndWhole() {
    CalibrationTable<std::int32_t> trims{};
    CalibrationTable<double> offsets{};
    return calibration_files::ModifiedToday(kGainTrimFileName) &&
           calibration_files::ReadCalibrationFiles(trims, offsets);
  }

  // The names in the directory: a save leaves no file of its own behind.
  std::set<std::string> Entries() const {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(cwd_.path())) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  std::vector<std::string> SaveFailures() const {
    std::vector<std::string> failures;
    for (const std::string& text : capture_.Texts()) {
      if (text.rfind(kSaveFailurePrefix, 0) == 0) failures.push_back(text);
    }
    return failures;
  }

  ScopedTempCwd cwd_;
  ScopedEnv env_;
  MessageCapture capture_;
  std::int32_t last_trim_ = 0;
};

TEST_F(HostileCalibrationFiles, EmptyShortOrOverLongFilesOfTodayAreRecalibratedAndReplaced) {
  const struct {
    const char* name;
    std::size_t size;
  } cases[] = {{kGainTrimFileName, 0},
               {kOffsetFileName, 0},
               {kGainTrimFileName, 288},
               {kOffsetFileName, 1u << 20}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " of " + std::to_string(c.size) + " bytes");
    GoodPair();
    WriteFile(c.name, c.size);
    EXPECT_TRUE(BringUpCalibrates());
    EXPECT_TRUE(CurrentAndWhole());
    EXPECT_TRUE(SaveFailures().empty());
  }
}

TEST_F(HostileCalibrationFiles, ADirectoryInPlaceOfAFileIsReportedAndTheBoardStaysUsable) {
  for (const char* name : {kGainTrimFileName, kOffsetFileName}) {
    SCOPED_TRACE(name);
    GoodPair();  // today's date stamp beside the directory, for the offset file
    fs::remove(name);
    fs::create_directory(name);
    const std::size_t failures = SaveFailures().size();
    EXPECT_TRUE(BringUpCalibrates());
    EXPECT_NE(last_trim_, kNeutralGainTrim) << "the calibration itself is kept";
    EXPECT_EQ(SaveFailures().size(), failures + 1);
    EXPECT_TRUE(fs::is_directory(name));
    EXPECT_FALSE(fs::exists(std::string(kGainTrimFileName) + ".tmp"));
    EXPECT_FALSE(fs::exists(std::string(kOffsetFileName) + ".tmp"));
    fs::remove(name);
  }
}

// As root the permission bits do not stop a write, so the bring-up runs in a child that has
// given up root, in a directory it may read but not write.
TEST_F(HostileCalibrationFiles, ADirectoryThatCannotBeWrittenIsReportedAndTheBoardStaysUsable) {
  GoodPair();
  Age(kGainTrimFileName, -std::chrono::hours(30));
  const Pair old = Pair::Now();
  ASSERT_EQ(chmod(cwd_.path().c_str(), 0555), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
    MessageCapture capture;
    auto vm = std::make_unique<TVMx16>();
    vm->SetHardwareAddress(kBase);
    if (!vm->BringUp() || !vm->HardwarePresent) _exit(3);
    const std::vector<std::string> texts = capture.Texts();
    if (texts.size() != 1 || texts[0].rfind(kSaveFailurePrefix, 0) != 0) _exit(4);
    if (capture.Count(VM316_NOTICE_PROGRESS_SHOW) != 1) _exit(5);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  chmod(cwd_.path().c_str(), 0700);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "2: cannot drop root, 3: no board, 4: no message";
  EXPECT_TRUE(Pair::Now() == old) << "the old pair was touched";
}

// Only a date stamp of today counts; one of tomorrow (a clock set back, a file from another
// machine) is a reason to calibrate, not a calibration of today.
TEST_F(HostileCalibrationFiles, ADateStampInTheFutureCausesACalibrationDatedToday) {
  GoodPair();
  Age(kGainTrimFileName, std::chrono::hours(30));
  EXPECT_TRUE(BringUpCalibrates());
  EXPECT_TRUE(CurrentAndWhole());
}

// A calibration cut off after writing its temporaries and before renaming them leaves them
// beside the files; they are never read, and never reused or written over by a later save.
TEST_F(HostileCalibrationFiles, TemporariesLeftByAPowerCutAreIgnored) {
  const Pair good = GoodPair();
  const std::string gain_tmp = std::string(kGainTrimFileName) + ".tmp";
  const std::string offset_tmp = std::string(kOffsetFileName) + ".tmp";
  for (std::size_t size : {std::size_t{144}, std::size_t{7}}) {
    WriteFile(gain_tmp, size, '\x7F');
    WriteFile(offset_tmp, size * 2, '\x7F');
    EXPECT_FALSE(BringUpCalibrates()) << "today's good pair is read";
    EXPECT_TRUE(Pair::Now() == good);
  }
  // Of another day: a calibration saves beside the stale temporaries.
  Age(kGainTrimFileName, -std::chrono::hours(30));
  EXPECT_TRUE(BringUpCalibrates());
  EXPECT_TRUE(CurrentAndWhole());
  EXPECT_EQ(Bytes(gain_tmp), std::vector<char>(7, '\x7F'));
  EXPECT_EQ(Bytes(offset_tmp), std::vector<char>(14, '\x7F'));
  EXPECT_EQ(Entries(),
            (std::set<std::string>{kGainTrimFileName, kOffsetFileName, gain_tmp, offset_tmp}));
}

// A file-size limit too small for a record: the save is refused before a byte is written and
// reported as a full disk. The limit's signal, whose default action would end the host, is
// never raised, and the host's disposition of it is left as it was.
TEST_F(HostileCalibrationFiles, AFileSizeLimitIsAFullDiskAndRaisesNoSignal) {
  GoodPair();
  Age(kGainTrimFileName, -std::chrono::hours(30));
  const Pair old = Pair::Now();
  const struct {
    rlim_t limit;
    const char* refused;  // null: the records fit
  } cases[] = {
      {0, kGainTrimFileName}, {143, kGainTrimFileName}, {287, kOffsetFileName}, {288, nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE("limit " + std::to_string(c.limit));
    struct sigaction before {};
    ASSERT_EQ(sigaction(SIGXFSZ, nullptr, &before), 0);
    const std::size_t failures = SaveFailures().size();
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit lowered = saved;
    lowered.rlim_cur = c.limit;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lowered), 0);
    const bool calibrated = BringUpCalibrates();
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    EXPECT_TRUE(calibrated);
    struct sigaction after {};
    ASSERT_EQ(sigaction(SIGXFSZ, nullptr, &after), 0);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
    if (c.refused == nullptr) {
      EXPECT_EQ(SaveFailures().size(), failures);
      EXPECT_TRUE(CurrentAndWhole());
      continue;
    }
    ASSERT_EQ(SaveFailures().size(), failures + 1);
    EXPECT_EQ(SaveFailures().back(),
              std::string(kSaveFailurePrefix) + " to " + c.refused + ": the disk is full");
    EXPECT_TRUE(Pair::Now() == old);
    EXPECT_EQ(Entries(), (std::set<std::string>{kGainTrimFileName, kOffsetFileName}));
  }
}

// Entries a hostile or careless neighbour leaves under the names of the files or of a save's
// temporaries: a symlink to another file (one of the right size, which a reader that follows
// links would take for a calibration), a dangling symlink, a FIFO (which blocks whoever opens
// it), a directory. None is followed, opened or replaced: under the files' own names it counts
// as no file, so the board calibrates and the save is refused as for a directory that cannot
// be written; anywhere else it is left alone and the save goes ahead.
TEST_F(HostileCalibrationFiles, HostileEntriesAreNeitherFollowedNorOpenedNorReplaced) {
  enum Kind { kLinkToFile, kDanglingLink, kFifo, kDirectory };
  const std::string gain_tmp = std::string(kGainTrimFileName) + ".tmp";
  const std::string offset_tmp = std::string(kOffsetFileName) + ".tmp";
  const struct {
    std::string name;
    Kind kind;
    bool saved;
  } cases[] = {
      {kGainTrimFileName, kLinkToFile, false},
      {kOffsetFileName, kLinkToFile, false},
      {kGainTrimFileName, kDanglingLink, false},
      {kGainTrimFileName, kFifo, false},
      {kOffsetFileName, kFifo, false},
      {gain_tmp, kLinkToFile, true},
      {offset_tmp, kDanglingLink, true},
      {offset_tmp, kFifo, true},
      {gain_tmp, kDirectory, true},
  };
  const fs::path victim = "victim";  // another file of the host's, of a record's size
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name + " as entry kind " + std::to_string(c.kind));
    GoodPair();
    Age(kGainTrimFileName, -std::chrono::hours(30));
    WriteFile(victim, c.name.rfind(kOffsetFileName, 0) == 0 ? 288 : 144, '\x5A');
    const std::vector<char> victim_bytes = Bytes(victim);
    fs::remove(c.name);
    fs::file_type type = fs::file_type::symlink;
    if (c.kind == kLinkToFile) fs::create_symlink(victim, c.name);
    if (c.kind == kDanglingLink) fs::create_symlink("nowhere", c.name);
    if (c.kind == kFifo) {
      ASSERT_EQ(mkfifo(c.name.c_str(), 0600), 0);
      type = fs::file_type::fifo;
    }
    if (c.kind == kDirectory) {
      fs::create_directory(c.name);
      type = fs::file_type::directory;
    }
    const std::size_t failures = SaveFailures().size();
    alarm(kHangSeconds);  // a FIFO opened for reading or writing would block for ever
    EXPECT_TRUE(BringUpCalibrates());
    alarm(0);
    EXPECT_EQ(fs::symlink_status(c.name).type(), type);
    EXPECT_EQ(Bytes(victim), victim_bytes);
    EXPECT_FALSE(fs::exists("nowhere"));
    if (c.saved) {
      EXPECT_EQ(SaveFailures().size(), failures);
      EXPECT_TRUE(CurrentAndWhole());
    } else {
      ASSERT_EQ(SaveFailures().size(), failures + 1);
      EXPECT_EQ(SaveFailures().back(), std::string(kSaveFailurePrefix) + " to " + c.name +
                                           ": the file cannot be written in this directory");
      EXPECT_FALSE(CurrentAndWhole());
    }
    EXPECT_EQ(Entries(),
              (std::set<std::string>{kGainTrimFileName, kOffsetFileName, c.name, victim.string()}));
    fs::remove(c.name);
  }
}

// A save killed at any of its steps leaves the old pair, the new pair, or no current pair: never
// a date stamp of today beside offsets of the other calibration. The old pair is of today (a
// second calibration on one day, after a file went missing), the case where a mix would be read.
TEST(CalibrationFileSave, AKillAtAnyStepLeavesNoCurrentStampBesideOtherOffsets) {
  using calibration_files::SaveStep;
  static SaveStep kill_at{};
  CalibrationTable<std::int32_t> old_trims{};
  CalibrationTable<double> old_offsets{};
  CalibrationTable<std::int32_t> new_trims{};
  CalibrationTable<double> new_offsets{};
  for (int row = 1; row <= kCalibrationRows; ++row) {
    for (int range = 1; range <= kRangeCount; ++range) {
      old_trims[row][range] = 100 + range;
      old_offsets[row][range] = 0.001 * range;
      new_trims[row][range] = 150 + range;
      new_offsets[row][range] = -0.002 * range;
    }
  }
  const struct {
    SaveStep step;
    int pair;  // 0: no current pair may be read; 1: the old one; 2: the new one
  } cases[] = {{SaveStep::kRecordsOnDisk, 1},
               {SaveStep::kStampWithdrawn, 0},
               {SaveStep::kOffsetsReplaced, 0},
               {SaveStep::kStampReplaced, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE("killed at step " + std::to_string(static_cast<int>(c.step)));
    ScopedTempCwd cwd;
    ASSERT_EQ(calibration_files::WriteCalibrationFiles(old_trims, old_offsets), "");
    kill_at = c.step;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      calibration_files::SetSaveStepHook([](SaveStep step) {
        if (step == kill_at) raise(SIGKILL);
      });
      calibration_files::WriteCalibrationFiles(new_trims, new_offsets);
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

    CalibrationTable<std::int32_t> trims{};
    CalibrationTable<double> offsets{};
    const bool current = calibration_files::ModifiedToday(kGainTrimFileName) &&
                         calibration_files::ReadCalibrationFiles(trims, offsets);
    int pair = 0;
    if (current && trims == old_trims && offsets == old_offsets) pair = 1;
    if (current && trims == new_trims && offsets == new_offsets) pair = 2;
    EXPECT_EQ(current, c.pair != 0) << "a current pair of mixed runs";
    EXPECT_EQ(pair, c.pair);
  }
}

// A save that cannot complete leaves the previous pair exactly as it was, even when the first
// file's record was written: here a file-size limit lets the gain trims through and stops the
// offsets. Once the way is clear the next bring-up saves.
TEST_F(HostileCalibrationFiles, ASaveThatFailsLeavesTheGoodPairInPlace) {
  GoodPair();
  Age(kGainTrimFileName, -std::chrono::hours(30));
  const Pair old = Pair::Now();
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit lowered = saved;
  lowered.rlim_cur = 200;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lowered), 0);
  const std::size_t failures = SaveFailures().size();
  const bool calibrated = BringUpCalibrates();
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
  EXPECT_TRUE(calibrated);
  EXPECT_EQ(SaveFailures().size(), failures + 1);
  EXPECT_TRUE(Pair::Now() == old);
  EXPECT_EQ(Entries(), (std::set<std::string>{kGainTrimFileName, kOffsetFileName}));
  EXPECT_TRUE(BringUpCalibrates());
  EXPECT_TRUE(CurrentAndWhole());
}

// Records of the right size that no calibration writes: trims beyond the trim DAC, offsets
// that are no number or enormous. They are read as they are; nothing crashes and the board
// still measures (the sanitizer builds check the arithmetic on them).
TEST_F(HostileCalibrationFiles, NonsenseOfTheRightSizeIsHandledWithoutHarm) {
  CalibrationTable<std::int32_t> trims{};
  CalibrationTable<double> offsets{};
  const double nonsense[] = {std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::infinity(), -1e308, 1e308};
  const std::int32_t wild[] = {std::numeric_limits<std::int32_t>::min(), -1, 256,
                               std::numeric_limits<std::int32_t>::max()};
  for (int row = 1; row <= kCalibrationRows; ++row) {
    for (int range = 1; range <= kRangeCount; ++range) {
      trims[row][range] = wild[(row + range) % 4];
      offsets[row][range] = nonsense[(row * range) % 4];
    }
  }
  ASSERT_EQ(calibration_files::WriteCalibrationFiles(trims, offsets), "");
  EXPECT_FALSE(BringUpCalibrates());
}

}  // namespace
}  // namespace vm316
