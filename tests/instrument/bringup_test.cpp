#include "instrument/bringup.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "instrument/calibration_files.h"
#include "instrument/vmx16.h"
#include "platform/clock.h"
#include "platform/system.h"
#include "support/message_capture.h"
#include "support/recording_backend.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "vm316.h"

namespace vm316 {
namespace {

namespace fs = std::filesystem;
using calibration_files::kGainTrimFileName;
using calibration_files::kOffsetFileName;
using testing::MessageCapture;
using testing::PortAccess;
using testing::RecordingBackend;
using testing::ScopedEnv;
using testing::ScopedTempCwd;

constexpr std::uint16_t kBase = 0x378;
constexpr const char* kSaveFailurePrefix = "The calibration of the VM316 could not be saved";

// ---- Detection by the counter handshake

// A bus that counts the step writes and answers the final counter read with N - delta, where N
// is the number of steps minus one; the counter reads inside the loop get a stray value.
class Detection : public ::testing::Test {
 protected:
  void SetUp() override { platform::SystemClock().Select(platform::ClockKind::kVirtual); }

  bool Detect(int delta) {
    log_.clear();
    auto backend = std::make_unique<RecordingBackend>(&log_);
    backend->reader = [this, delta](std::uint16_t port) -> std::uint8_t {
      int steps = 0;
      int low_reads = 0;
      int high_reads = 0;
      std::uint8_t selected = 0xFF;
      for (const PortAccess& a : log_) {
        if (a.write && a.port == kBase) selected = a.value;
        if (a.write && a.port == kBase + 1 && selected == 5) ++steps;
        if (!a.write && a.port == kBase) ++low_reads;
        if (!a.write && a.port == kBase + 1) ++high_reads;
      }
      const int count = steps - 1 - delta;
      if (port == kBase && low_reads + 1 > steps) return static_cast<std::uint8_t>(count & 0xFF);
      if (port == kBase + 1 && high_reads + 1 > steps) return static_cast<std::uint8_t>(count >> 8);
      return 0x5A;
    };
    TVMx16 vm(std::move(backend));
    vm.SetHardwareAddress(kBase);
    log_.clear();
    const std::uint32_t before = platform::GetTickCount();
    const bool present = vm.DetectHardware();
    elapsed_ms_ = platform::GetTickCount() - before;
    EXPECT_EQ(vm.HardwarePresent, present);
    return present;
  }

  int Steps() const {
    int steps = 0;
    for (std::size_t i = 1; i < log_.size(); ++i) {
      steps += log_[i] == testing::Out(kBase + 1, 0) && log_[i - 1] == testing::Out(kBase, 5);
    }
    return steps;
  }

  std::vector<PortAccess> log_;
  std::uint32_t elapsed_ms_ = 0;
};

TEST_F(Detection, AcceptsACountTwoOrThreeBelowTheSteps) {
  EXPECT_FALSE(Detect(1));
  EXPECT_TRUE(Detect(2));
  EXPECT_TRUE(Detect(3));
  EXPECT_FALSE(Detect(4));
}

TEST_F(Detection, ResetsWaitsASecondThenStepsAndReadsTheCounter) {
  Detect(2);
  const std::vector<PortAccess> reset(log_.begin(), log_.begin() + 6);
  EXPECT_EQ(reset, (std::vector<PortAccess>{testing::Out(kBase, 4), testing::Out(kBase + 1, 0),
                                            testing::Out(kBase, 3), testing::Out(kBase + 1, 0),
                                            testing::Out(kBase, 4), testing::Out(kBase + 1, 0)}));
  EXPECT_GE(elapsed_ms_, 1000u);
  // N + 1 steps, each followed by a read of the counter (low, high), then one more read.
  EXPECT_EQ(log_.size(), 6u + 4u * static_cast<std::size_t>(Steps()) + 2u);
  EXPECT_EQ(log_.back().port, kBase + 1);
}

TEST_F(Detection, DrawsBetweenTenAndThirtyFourSteps) {
  std::set<int> drawn;
  for (int i = 0; i < 40; ++i) {
    Detect(2);
    drawn.insert(Steps() - 1);
  }
  EXPECT_GE(*drawn.begin(), 10);
  EXPECT_LE(*drawn.rbegin(), 34);
  EXPECT_GE(drawn.size(), 12u);
}

// ---- Placing the progress window

class CenterFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = platform::ScreenArea();
    platform::ScreenArea() = {0, 0, 1024, 768};
  }
  void TearDown() override { platform::ScreenArea() = saved_; }
  platform::Rect saved_;
};

TEST_F(CenterFormTest, OnTheScreenOrOnAnAnchorWithinTheScreenArea) {
  platform::ProgressWindow screen_centred("Information", 162, 100);
  CenterForm(nullptr, screen_centred);
  EXPECT_EQ(screen_centred.Left(), (1024 - 162) / 2);
  EXPECT_EQ(screen_centred.Top(), (768 - 100) / 2);
  const struct {
    AnchorControl anchor;
    std::int32_t left, top;
  } cases[] = {
      {{100, 200, 301, 151}, 100 + 50, 200 + 25},    // (301 - 200) / 2 = 50
      {{300, 300, 99, 49}, 300 - 50, 300 - 25},      // (99 - 200) / 2 = -50, not -51
      {{-80, -40, 100, 50}, 0, 0},                   // clamped to the left and top edges
      {{950, 700, 100, 50}, 1024 - 200, 768 - 100},  // and to the right and bottom edges
  };
  for (const auto& c : cases) {
    platform::ProgressWindow form("Information", 200, 100);
    CenterForm(&c.anchor, form);
    EXPECT_EQ(form.Left(), c.left);
    EXPECT_EQ(form.Top(), c.top);
  }
}

// ---- The calibration files

CalibrationTable<std::int32_t> SomeTrims() {
  CalibrationTable<std::int32_t> trims{};
  for (int row = 1; row <= 3; ++row) {
    for (int range = 1; range <= 12; ++range) trims[row][range] = 100 * row + range;
  }
  return trims;
}

CalibrationTable<double> SomeOffsets() {
  CalibrationTable<double> offsets{};
  for (int row = 1; row <= 3; ++row) {
    for (int range = 1; range <= 12; ++range) offsets[row][range] = row - range / 64.0;
  }
  return offsets;
}

std::vector<std::uint8_t> FileBytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

void DateYesterday(const fs::path& path) {
  fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(30));
}

template <typename T>
bool SameTables(const CalibrationTable<T>& a, const CalibrationTable<T>& b) {
  for (int row = 1; row <= 3; ++row) {
    for (int range = 1; range <= 12; ++range) {
      if (a[row][range] != b[row][range]) return false;
    }
  }
  return true;
}

TEST(CalibrationFiles, LittleEndianRecordsWrittenWholeAndReadBack) {
  CalibrationTable<std::int32_t> trims = SomeTrims();
  CalibrationTable<double> offsets = SomeOffsets();
  trims[1][1] = 0x01020304;
  trims[2][1] = -2;
  offsets[1][1] = 1.0;
  offsets[3][12] = -0.01953125;  // -5/256 = -0x1.4p-6
  ScopedTempCwd cwd;
  ASSERT_EQ(calibration_files::WriteCalibrationFiles(trims, offsets), "");
  EXPECT_EQ(std::distance(fs::directory_iterator(cwd.path()), fs::directory_iterator()), 2);
  const std::vector<std::uint8_t> gain = FileBytes(kGainTrimFileName);
  const std::vector<std::uint8_t> offset = FileBytes(kOffsetFileName);
  ASSERT_EQ(gain.size(), 144u);
  ASSERT_EQ(offset.size(), 288u);
  EXPECT_EQ(std::vector<std::uint8_t>(gain.begin(), gain.begin() + 4),
            (std::vector<std::uint8_t>{0x04, 0x03, 0x02, 0x01}));
  EXPECT_EQ(std::vector<std::uint8_t>(gain.begin() + 48, gain.begin() + 52),
            (std::vector<std::uint8_t>{0xFE, 0xFF, 0xFF, 0xFF}));  // row 2 starts at 48
  EXPECT_EQ(std::vector<std::uint8_t>(offset.begin(), offset.begin() + 8),
            (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
  EXPECT_EQ(std::vector<std::uint8_t>(offset.begin() + 280, offset.end()),
            (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0, 0x94, 0xBF}));

  CalibrationTable<std::int32_t> trims_back{};
  CalibrationTable<double> offsets_back{};
  ASSERT_TRUE(calibration_files::ReadCalibrationFiles(trims_back, offsets_back));
  EXPECT_TRUE(SameTables(trims_back, trims));
  EXPECT_TRUE(SameTables(offsets_back, offsets));
}

TEST(CalibrationFiles, AFileThatIsMissingOrOfAnotherSizeIsNotRead) {
  const struct {
    const char* name;
    int size;  // -1: missing
  } cases[] = {{kOffsetFileName, -1},   {kOffsetFileName, 287},   {kOffsetFileName, 289},
               {kGainTrimFileName, -1}, {kGainTrimFileName, 143}, {kGainTrimFileName, 145}};
  for (const auto& c : cases) {
    ScopedTempCwd cwd;
    ASSERT_EQ(calibration_files::WriteCalibrationFiles(SomeTrims(), SomeOffsets()), "");
    if (c.size < 0) {
      fs::remove(c.name);
    } else {
      std::vector<std::uint8_t> bytes = FileBytes(c.name);
      bytes.resize(static_cast<std::size_t>(c.size), 0x11);
      WriteBytes(c.name, bytes);
    }
    CalibrationTable<std::int32_t> trims{};
    CalibrationTable<double> offsets{};
    EXPECT_FALSE(calibration_files::ReadCalibrationFiles(trims, offsets)) << c.name << c.size;
    EXPECT_EQ(trims[1][1], 0);  // untouched
  }
}

TEST(CalibrationFiles, AFailedWriteIsReportedAndLeavesNoTemporaries) {
  // The old date stamp cannot be replaced: here it is a directory.
  ScopedTempCwd cwd;
  fs::create_directory(kGainTrimFileName);
  const std::string error = calibration_files::WriteCalibrationFiles(SomeTrims(), SomeOffsets());
  EXPECT_EQ(error.rfind(kSaveFailurePrefix, 0), 0u) << error;
  EXPECT_TRUE(fs::is_directory(kGainTrimFileName));
  EXPECT_EQ(std::distance(fs::directory_iterator(cwd.path()), fs::directory_iterator()), 1);
}

TEST(CalibrationFiles, CurrentOnlyWhenTheDateStampIsFromToday) {
  ScopedTempCwd cwd;
  EXPECT_FALSE(calibration_files::ModifiedToday(kGainTrimFileName));
  WriteBytes(kGainTrimFileName, std::vector<std::uint8_t>(144));
  EXPECT_TRUE(calibration_files::ModifiedToday(kGainTrimFileName));
  DateYesterday(kGainTrimFileName);
  EXPECT_FALSE(calibration_files::ModifiedToday(kGainTrimFileName));
  fs::last_write_time(kGainTrimFileName, fs::file_time_type::clock::now() + std::chrono::hours(30));
  EXPECT_FALSE(calibration_files::ModifiedToday(kGainTrimFileName));
  fs::remove(kGainTrimFileName);
  fs::create_directory(kGainTrimFileName);
  EXPECT_FALSE(calibration_files::ModifiedToday(kGainTrimFileName));
}

// ---- Bring-up on the simulated board

class BringUpOnBoard : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.Set("VM316_PORT", "sim").Set("VM316_CLOCK", "virtual").Set("VM316_MESSAGES", "quiet");
    env_.Set("VM316_SIM_CH1", "ground").Set("VM316_SIM_CH2", "ground");
    env_.Set("VM316_SIM_EXT", "ground").Unset("VM316_SIM_FAULT").Unset("VM316_SIM_SEED");
    env_.Unset("VM316_SIM_BASE");
  }

  static std::unique_ptr<TVMx16> Instrument() {
    auto vm = std::make_unique<TVMx16>();
    vm->SetHardwareAddress(kBase);
    return vm;
  }

  // The files of an earlier day, with values no calibration gives.
  static void PlantYesterdaysFiles() {
    ASSERT_EQ(calibration_files::WriteCalibrationFiles(SomeTrims(), SomeOffsets()), "");
    DateYesterday(kGainTrimFileName);
    DateYesterday(kOffsetFileName);
  }

  struct FileState {
    std::vector<std::uint8_t> gain, offset;
    fs::file_time_type gain_time, offset_time;
    bool operator==(const FileState&) const = default;
  };
  static FileState Files() {
    return {FileBytes(kGainTrimFileName), FileBytes(kOffsetFileName),
            fs::last_write_time(kGainTrimFileName), fs::last_write_time(kOffsetFileName)};
  }

  static void ExpectFilesHold(const TVMx16& vm) {
    EXPECT_EQ(fs::file_size(kGainTrimFileName), 144u);
    EXPECT_EQ(fs::file_size(kOffsetFileName), 288u);
    CalibrationTable<std::int32_t> trims{};
    CalibrationTable<double> offsets{};
    ASSERT_TRUE(calibration_files::ReadCalibrationFiles(trims, offsets));
    EXPECT_TRUE(SameTables(trims, vm.GainTrim));
    EXPECT_TRUE(SameTables(offsets, vm.OffsetCorrection));
    EXPECT_TRUE(calibration_files::ModifiedToday(kGainTrimFileName));
  }

  int Shown() const { return capture_.Count(VM316_NOTICE_PROGRESS_SHOW); }

  ScopedTempCwd cwd_;
  ScopedEnv env_;
  MessageCapture capture_;
};

TEST_F(BringUpOnBoard, FirstOfTheDayCalibratesShowingProgressAndWritesBothFiles) {
  auto vm = Instrument();
  ASSERT_TRUE(vm->BringUp());
  EXPECT_TRUE(vm->HardwarePresent);
  int trims_moved = 0;
  int offsets_moved = 0;
  for (int row = 1; row <= 3; ++row) {
    for (int range = 1; range <= 12; ++range) {
      EXPECT_GE(vm->GainTrim[row][range], kMinGainTrim) << row << "/" << range;
      EXPECT_LE(vm->GainTrim[row][range], kMaxGainTrim) << row << "/" << range;
      trims_moved += vm->GainTrim[row][range] != kNeutralGainTrim;
      offsets_moved += vm->OffsetCorrection[row][range] != 0.0;
    }
  }
  EXPECT_GE(trims_moved, 12);
  EXPECT_GE(offsets_moved, 12);
  ExpectFilesHold(*vm);

  ASSERT_EQ(capture_.notices().size(), 2u);  // the progress window, and nothing else
  EXPECT_EQ(capture_.notices()[0].kind, VM316_NOTICE_PROGRESS_SHOW);
  EXPECT_EQ(capture_.notices()[0].caption, "Information");
  EXPECT_EQ(capture_.notices()[0].text, "Busy Calibrating VM316");
  EXPECT_EQ(capture_.notices()[1].kind, VM316_NOTICE_PROGRESS_HIDE);
  EXPECT_TRUE(vm->NotifySettings);
  EXPECT_FALSE(vm->Calibrating);
}

TEST_F(BringUpOnBoard, ACalibratingBringUpLeavesTheSettingsOfOneThatReadTheFiles) {
  auto calibrated = Instrument();
  ASSERT_TRUE(calibrated->BringUp());
  auto loaded = Instrument();
  ASSERT_TRUE(loaded->BringUp());
  ASSERT_EQ(Shown(), 1);
  for (const TVMx16* vm : {calibrated.get(), loaded.get()}) {
    for (int channel = 1; channel <= 2; ++channel) {
      EXPECT_EQ(vm->RangeIndex[channel], 6);
      EXPECT_EQ(vm->Coupling[channel], 0);
      EXPECT_EQ(vm->DcLevelLimit[channel], 4.0L);
      EXPECT_EQ(vm->TriggerLevel[channel], 127);
      EXPECT_EQ(vm->TriggerHysteresis[channel], 10);
      EXPECT_EQ(vm->TriggerSlope[channel], SlopeRising);
    }
    EXPECT_EQ(vm->ActiveTriggerSource, tsCh1);
    EXPECT_EQ(vm->SampleFreq(), 20000000.0L);
    EXPECT_EQ(vm->LastSetFrequency, 20000000.0L);
    EXPECT_EQ(vm->lPostSamples, 256);
    EXPECT_EQ(vm->lPreSamples, 256);
    EXPECT_FALSE(vm->DoubleRate);
    EXPECT_EQ(vm->ChannelMask, 3);  // both channels are read, as mCh12 says
  }
  EXPECT_TRUE(SameTables(calibrated->GainTrim, loaded->GainTrim));
  EXPECT_TRUE(SameTables(calibrated->OffsetCorrection, loaded->OffsetCorrection));
  EXPECT_FALSE(loaded->NotifySettings);  // reading the files switches no notifications on
}

TEST_F(BringUpOnBoard, FilesOfAnotherDayCauseACalibrationThenTheSameDayReadsThem) {
  PlantYesterdaysFiles();
  const FileState old = Files();
  auto first = Instrument();
  ASSERT_TRUE(first->BringUp());
  EXPECT_EQ(Shown(), 1);
  EXPECT_FALSE(Files() == old);
  ExpectFilesHold(*first);

  const FileState today = Files();
  auto second = Instrument();
  ASSERT_TRUE(second->BringUp());
  EXPECT_EQ(Shown(), 1);  // no second calibration
  EXPECT_TRUE(Files() == today);
  ExpectFilesHold(*second);
}

TEST_F(BringUpOnBoard, FilesOfTodayThatCannotBeReadCauseANewCalibration) {
  const struct {
    const char* name;
    int size;  // -1: missing
  } cases[] = {{kOffsetFileName, -1}, {kOffsetFileName, 100}, {kGainTrimFileName, 143}};
  for (const auto& c : cases) {
    ASSERT_EQ(calibration_files::WriteCalibrationFiles(SomeTrims(), SomeOffsets()), "");
    if (c.size < 0) {
      fs::remove(c.name);
    } else {
      std::vector<std::uint8_t> bytes = FileBytes(c.name);
      bytes.resize(static_cast<std::size_t>(c.size));
      WriteBytes(c.name, bytes);
    }
    const int shown = Shown();
    auto vm = Instrument();
    ASSERT_TRUE(vm->BringUp());
    EXPECT_EQ(Shown(), shown + 1) << c.name << " " << c.size;
    ExpectFilesHold(*vm);
  }
}

TEST_F(BringUpOnBoard, AnInputThatIsNotGroundedMakesTheCalibrationFail) {
  // A signal on channel 2, whose input stays connected while the offsets are searched.
  env_.Set("VM316_SIM_CH2", "sine:freq=100000,amp=1");
  PlantYesterdaysFiles();
  const FileState old = Files();
  auto vm = Instrument();
  EXPECT_TRUE(vm->BringUp());  // the board is there and usable with what was found
  EXPECT_TRUE(vm->HardwarePresent);
  EXPECT_EQ(capture_.Count(VM316_NOTICE_BEEP), 1);
  EXPECT_EQ(capture_.Texts(),
            std::vector<std::string>{
                "Calibration of the VM316 failed, connect inputs to ground and try again"});
  EXPECT_TRUE(Files() == old);
  EXPECT_FALSE(fs::exists(std::string(kGainTrimFileName) + ".tmp"));
  // The beep comes before the message, both after the progress window is gone.
  ASSERT_EQ(capture_.notices().size(), 4u);
  EXPECT_EQ(capture_.notices()[2].kind, VM316_NOTICE_BEEP);
}

TEST_F(BringUpOnBoard, ADirectoryWithoutRoomForTheFilesIsReportedAndTheBoardStaysUsable) {
  fs::remove(cwd_.path());
  auto vm = Instrument();
  ASSERT_TRUE(vm->BringUp());
  const std::vector<std::string> texts = capture_.Texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].rfind(kSaveFailurePrefix, 0), 0u) << texts[0];
  EXPECT_EQ(capture_.Count(VM316_NOTICE_BEEP), 0);
  EXPECT_NE(vm->GainTrim[1][1], kNeutralGainTrim);  // the calibration itself is kept
}

TEST_F(BringUpOnBoard, NoBoardAtTheAddress) {
  env_.Set("VM316_SIM_FAULT", "absent");
  auto vm = Instrument();
  EXPECT_FALSE(vm->BringUp());
  EXPECT_FALSE(vm->HardwarePresent);
  EXPECT_FALSE(vm->AcquisitionTimer->Enabled());
  EXPECT_EQ(Shown(), 0);
  EXPECT_FALSE(fs::exists(kGainTrimFileName));

  EXPECT_EQ(InitInstrument(kBase), StatusNoHardware);
  EXPECT_EQ(ExitInstrument(), StatusOk);
}

// Stands between the instrument and the simulated board and pulls the board out after a given
// number of port accesses: from then on writes go nowhere and reads float.
class PullingBackend final : public platform::PortBackend {
 public:
  PullingBackend(platform::PortBackend& board, std::uint64_t pull_after)
      : board_(board), pull_after_(pull_after) {}
  bool OpenDriver() override { return true; }
  void Out(std::uint16_t port, std::uint8_t value) override {
    if (Answers()) board_.Out(port, value);
  }
  std::uint8_t In(std::uint16_t port) override {
    return Answers() ? board_.In(port) : platform::kFloatingBus;
  }
  std::uint64_t Accesses() const { return accesses_; }

 private:
  bool Answers() { return ++accesses_ <= pull_after_; }
  platform::PortBackend& board_;
  std::uint64_t pull_after_;
  std::uint64_t accesses_ = 0;
};

// Pulled out at any point of the calibration, up to its very last port access: no file is
// written, nothing is said ("connect inputs to ground" would name the wrong cause) and the
// bring-up finds no board. Every pull starts from the same state: the bring-up forks as the
// progress window opens, and each child runs the calibration with the board pulled after its
// own number of accesses. A first child runs it whole to measure its length.
TEST_F(BringUpOnBoard, ABoardPulledAtAnyPointOfTheCalibrationWritesNoFileAndSaysNothing) {
  enum Outcome { kSilentAbsent = 0, kPresent = 1, kFilesWritten = 2, kSaid = 4 };
  auto vm = Instrument();
  platform::PortBackend& board = *vm->Io.Backend();
  std::unique_ptr<PullingBackend> puller;
  int result_fd = -1;  // set in a child
  std::uint64_t ended_at = 0;
  std::uint64_t length = 0;
  std::vector<std::pair<std::uint64_t, int>> outcomes;  // pull point, outcome

  auto run_child = [&](std::uint64_t pull_after) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    if (child == 0) {
      close(fds[0]);
      result_fd = fds[1];
      puller = std::make_unique<PullingBackend>(board, pull_after);
      vm->Io.Attach(puller.get());
      return;  // on with the calibration, then out through the test body below
    }
    close(fds[1]);
    std::uint64_t reported = 0;
    EXPECT_EQ(read(fds[0], &reported, sizeof reported), static_cast<ssize_t>(sizeof reported));
    close(fds[0]);
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status));
    outcomes.emplace_back(pull_after, WEXITSTATUS(status));
    length = reported;
    fs::remove(kGainTrimFileName);
    fs::remove(kOffsetFileName);
  };
  capture_.on_notice = [&](int kind) {
    if (kind == VM316_NOTICE_PROGRESS_HIDE && puller) ended_at = puller->Accesses();
    if (kind != VM316_NOTICE_PROGRESS_SHOW || result_fd >= 0) return;
    run_child(UINT64_MAX);
    if (result_fd >= 0) return;
    const std::uint64_t whole = length;
    outcomes.clear();
    for (std::uint64_t k = 0; k < 10; ++k) {
      run_child(whole * k / 10);
      if (result_fd >= 0) return;
    }
    // The end in detail: the last readout, the recorder reset after it and the look at the
    // counter after that, none of which a readout's own look at the counter can see.
    for (std::uint64_t before_end : {1, 2, 3, 4, 6, 10, 20, 50, 100, 150, 200, 250, 300, 500}) {
      run_child(whole - before_end);
      if (result_fd >= 0) return;
    }
    run_child(whole);  // pulled right after the calibration
    if (result_fd >= 0) return;
    length = whole;
  };

  const bool present = vm->BringUp();
  if (result_fd >= 0) {  // a child: report and leave without running the rest of the test
    int said = 0;
    for (const testing::Notice& notice : capture_.notices()) {
      said |= notice.kind == VM316_NOTICE_MESSAGE_BOX || notice.kind == VM316_NOTICE_BEEP;
    }
    const bool files = fs::exists(kGainTrimFileName) || fs::exists(kOffsetFileName);
    (void)!write(result_fd, &ended_at, sizeof ended_at);
    _exit((present ? kPresent : 0) | (files ? kFilesWritten : 0) | (said ? kSaid : 0));
  }
  capture_.on_notice = nullptr;
  EXPECT_TRUE(present);
  ASSERT_GT(length, 100000u);
  ASSERT_EQ(outcomes.size(), 25u);
  for (std::size_t i = 0; i + 1 < outcomes.size(); ++i) {
    EXPECT_EQ(outcomes[i].second, kSilentAbsent)
        << "pulled after " << outcomes[i].first << " of " << length << " accesses";
  }
  EXPECT_EQ(outcomes.back().second, kPresent | kFilesWritten) << "pulled after the calibration";
}

TEST_F(BringUpOnBoard, InitInstrumentCalibratesWithinASecondOfWallTime) {
  const auto start = std::chrono::steady_clock::now();
  const std::uint16_t status = InitInstrument(kBase);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ExitInstrument();
  EXPECT_EQ(status, StatusOk);
  EXPECT_EQ(Shown(), 1);
  RecordProperty("init_instrument_seconds", std::to_string(seconds));
  std::printf("InitInstrument with calibration: %.3f s wall time\n", seconds);
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(seconds, 1.0);
#else
  EXPECT_LT(seconds, 10.0);  // unoptimised or instrumented builds: a generous bound
#endif
}

// A DC input read the way the sequencer reads it: the front end programmed for the range with
// the calibration of that range, a record taken at once (so all of it after the trigger), and
// its mean in volts.
double ReadDc(TVMx16& vm, int range, int channel) {
  vm.SelectRange(1, vm.Sensitivities[range]);
  vm.SelectRange(2, vm.Sensitivities[range]);
  for (int ch = 1; ch <= 2; ++ch) {
    vm.WriteDcLevelDac(ch, vm.DcLevel[ch] / vm.Sensitivities[range] + vm.OffsetDacBase[ch] +
                               vm.OffsetCorrection[ch][range]);
  }
  vm.WriteGainTrims(vm.GainTrim[1][range], vm.GainTrim[2][range]);
  vm.WriteRelayWord();
  vm.SetTriggerSource(tsNoTrig);
  vm.SetPostSamples(vm.lRecordLength);
  vm.ArmAcquisition();
  const std::uint32_t t0 = platform::GetTickCount();
  while (!vm.RecordReady() && platform::GetTickCount() - t0 < 100) {
  }
  vm.ReadRecord();
  double sum = 0;
  for (int i = 0; i < vm.lRecordLength; ++i) sum += vm.OutputBuffer[channel][i];
  return (sum / vm.lRecordLength - 32768.0) * static_cast<double>(vm.Sensitivities[range]) /
         32768.0;
}

TEST_F(BringUpOnBoard, CalibrationMakesADcInputReadRightOnEveryRangeOfBothChannels) {
  ASSERT_TRUE(Instrument()->BringUp());  // calibrated with grounded inputs; the files keep it
  int neutral_off = 0;
  double neutral_worst_lsb = 0;
  for (int range = 1; range <= 12; ++range) {
    const double full_scale = static_cast<double>(kSensitivities[range]);
    const std::array<double, 3> input = {0.0, 0.6 * full_scale, -0.45 * full_scale};
    env_.Set("VM316_SIM_CH1", "dc:offset=" + std::to_string(input[1]));
    env_.Set("VM316_SIM_CH2", "dc:offset=" + std::to_string(input[2]));
    auto vm = Instrument();
    ASSERT_TRUE(vm->BringUp());
    ASSERT_EQ(vm->ChannelMask, 3);
    const double lsb = full_scale / 128;
    const double share = range <= 6 ? 0.005 : 0.01;
    // What the calibration reaches on a board with the errors of real parts (the statistics
    // over 100 boards are in docs/): the zero is tuned at one DC-level DAC level and used at
    // another, which leaves up to 1.5 LSB; the 0.4 V and 0.8 V stages (ranges 5, 8, 11 and 6,
    // 9, 12) have their gain tuned at a half and a quarter of full scale, where that error
    // weighs two and four times.
    const int stage = (range - 1) % 3;
    const double tuned_share = range <= 3 || stage == 0 ? share : stage == 1 ? 0.015 : 0.03;
    for (int channel = 1; channel <= 2; ++channel) {
      const double tolerance = 1.5 * lsb + tuned_share * std::abs(input[channel]);
      EXPECT_NEAR(ReadDc(*vm, range, channel), input[channel], tolerance)
          << "range " << range << " channel " << channel;
    }
    // The same board without its calibration.
    for (auto& row : vm->GainTrim) row.fill(kNeutralGainTrim);
    for (auto& row : vm->OffsetCorrection) row.fill(0.0);
    for (int channel = 1; channel <= 2; ++channel) {
      const double error = std::abs(ReadDc(*vm, range, channel) - input[channel]);
      neutral_off += error > lsb + share * std::abs(input[channel]);
      neutral_worst_lsb = std::max(neutral_worst_lsb, error / lsb);
    }
  }
  EXPECT_EQ(Shown(), 1);
  EXPECT_GE(neutral_off, 12) << "of 24 readings";
  EXPECT_GE(neutral_worst_lsb, 4.0);
}

}  // namespace
}  // namespace vm316
