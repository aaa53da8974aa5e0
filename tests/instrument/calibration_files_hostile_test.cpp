// Bring-up against calibration files a host's directory may really hold: empty, short or
// over-long files, directories in their place, a directory that cannot be written, date stamps
// of the future, files of a calibration cut off between writing and renaming, and records of
// the right size full of nonsense. Whatever is there, bring-up ends with a usable board, says
// so when it cannot save, and never replaces a good pair of files with a bad one.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
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
// beside the files; they are never read, and the next save writes over them.
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
  // Of another day: a calibration saves over the stale temporaries.
  Age(kGainTrimFileName, -std::chrono::hours(30));
  EXPECT_TRUE(BringUpCalibrates());
  EXPECT_TRUE(CurrentAndWhole());
  EXPECT_FALSE(fs::exists(gain_tmp));
  EXPECT_FALSE(fs::exists(offset_tmp));
}

// A save that cannot complete (here a directory where the temporary goes) leaves the previous
// pair exactly as it was, whichever file fails.
TEST_F(HostileCalibrationFiles, ASaveThatFailsLeavesTheGoodPairInPlace) {
  GoodPair();
  Age(kGainTrimFileName, -std::chrono::hours(30));
  const Pair old = Pair::Now();
  for (const char* name : {kOffsetFileName}) {
    SCOPED_TRACE(name);
    const std::string blocker = std::string(name) + ".tmp";
    fs::create_directory(blocker);
    const std::size_t failures = SaveFailures().size();
    EXPECT_TRUE(BringUpCalibrates());
    EXPECT_EQ(SaveFailures().size(), failures + 1);
    EXPECT_TRUE(Pair::Now() == old);
    fs::remove(blocker);
  }
  // With the way clear the next bring-up saves a new pair.
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
