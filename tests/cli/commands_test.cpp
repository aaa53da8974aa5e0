// info, calibrate, generator and watch, and where the calibration files live.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <utility>

#include "cli/cli_runner.h"

namespace vm316::cli_testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kGainFile = "Vemora1.Cal";
constexpr const char* kOffsetFile = "Vemora2.Cal";

bool HasCalibrationFiles(const fs::path& directory) {
  return fs::exists(directory / kGainFile) && fs::exists(directory / kOffsetFile);
}

std::vector<fs::path> Entries(const fs::path& directory) {
  std::vector<fs::path> entries;
  for (const auto& entry : fs::directory_iterator(directory)) entries.push_back(entry.path());
  return entries;
}

class CommandTest : public CliTest {};

TEST_F(CommandTest, InfoDescribesTheBoardAndItsCalibration) {
  SeedCalibration();
  const CliRun run = Run("info");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("backend        simulated board"));
  EXPECT_THAT(run.out, HasSubstr("base address   0x378"));
  EXPECT_THAT(run.out, HasSubstr("board          answered"));
  EXPECT_THAT(run.out, HasSubstr("channels       2"));
  EXPECT_THAT(run.out, HasSubstr("80 40 20 8 4 2 0.8 0.4 0.2 0.08 0.04 0.02 V full scale"));
  EXPECT_THAT(run.out, HasSubstr("0.61 Hz to 20 MHz"));
  EXPECT_THAT(run.out, HasSubstr("up to 32760 samples"));
  EXPECT_THAT(run.out, HasSubstr("square wave"));
  EXPECT_THAT(run.out, HasSubstr(StateDirectory().string()));
  EXPECT_THAT(run.out, HasSubstr("Vemora1.Cal  gain trims: 144 bytes"));
  EXPECT_THAT(run.out, HasSubstr("Vemora2.Cal  offset corrections: 288 bytes"));
  EXPECT_THAT(run.out, HasSubstr("current: made today"));
  EXPECT_THAT(run.out, ::testing::ContainsRegex(R"(gain trims +ch1 [0-9]+\.\.[0-9]+ +ch2 )"));
  const CliRun tables = Run("info --tables -q");
  EXPECT_THAT(tables.out, ::testing::ContainsRegex(R"(ch1 trim( +[0-9]+){12})"));
}

TEST_F(CommandTest, InfoWithoutABoardSaysSoAndFails) {
  const CliRun run = Run("info -q", "VM316_SIM_FAULT=absent");
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_THAT(run.out, HasSubstr("board          no answer (StatusNoHardware)"));
  EXPECT_THAT(run.out, HasSubstr("none yet: the next start calibrates"));
}

TEST_F(CommandTest, CalibrationFilesStayOutOfTheWorkingDirectory) {
  // A fresh state: the first run of the day calibrates with the inputs grounded.
  const CliRun run = Run("measure -o cap.csv");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_THAT(run.err, HasSubstr("calibrating the front end, inputs grounded"));
  EXPECT_TRUE(HasCalibrationFiles(StateDirectory()));
  EXPECT_EQ(fs::file_size(StateDirectory() / kGainFile), 144u);
  EXPECT_EQ(fs::file_size(StateDirectory() / kOffsetFile), 288u);
  EXPECT_EQ(Entries(work_), std::vector<fs::path>{work_ / "cap.csv"});

  // The next run reloads them.
  const CliRun again = Run("measure");
  EXPECT_EQ(again.exit_code, 0);
  EXPECT_THAT(again.err, Not(HasSubstr("calibrating")));
}

TEST_F(CommandTest, CalDirChoosesWhereTheFilesLive) {
  const fs::path elsewhere = root_ / "bench-cal";
  const CliRun run = Run("measure -q --cal-dir " + Quoted(elsewhere));
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_TRUE(HasCalibrationFiles(elsewhere));
  EXPECT_FALSE(HasCalibrationFiles(StateDirectory()));
  EXPECT_TRUE(Entries(work_).empty());
}

TEST_F(CommandTest, InfoNeverCalibratesNorWritesTheFiles) {
  const fs::path empty = root_ / "empty-cal";
  fs::create_directories(empty);
  const CliRun run = Run("info --cal-dir " + Quoted(empty));
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("board          answered"));
  EXPECT_THAT(run.err, Not(HasSubstr("calibrat")));
  EXPECT_THAT(run.out, HasSubstr("none yet: the next start calibrates"));
  EXPECT_TRUE(Entries(empty).empty());
}

TEST_F(CommandTest, CalibrateReplacesTheFilesWhenItSucceeds) {
  SeedCalibration();
  const auto before = fs::last_write_time(StateDirectory() / kGainFile);
  const CliRun run = Run("calibrate");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("calibration done"));
  EXPECT_THAT(run.err, HasSubstr("inputs grounded"));
  EXPECT_GE(fs::last_write_time(StateDirectory() / kGainFile), before);
  // Nothing but the two files is left behind.
  EXPECT_EQ(Entries(StateDirectory()).size(), 2u);
  EXPECT_TRUE(HasCalibrationFiles(StateDirectory()));
}

TEST_F(CommandTest, AFailedCalibrationKeepsTheGoodFiles) {
  SeedCalibration();
  const std::string gains = ReadFile(StateDirectory() / kGainFile);
  const std::string offsets = ReadFile(StateDirectory() / kOffsetFile);
  // With the second converter dead the gain searches cannot reach their targets.
  const CliRun run = Run("calibrate -q", "VM316_SIM_FAULT=dead-converter2");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_THAT(run.err, HasSubstr("calibration failed"));
  EXPECT_THAT(run.err, HasSubstr("previous calibration files are kept"));
  EXPECT_EQ(ReadFile(StateDirectory() / kGainFile), gains);
  EXPECT_EQ(ReadFile(StateDirectory() / kOffsetFile), offsets);
  EXPECT_EQ(Entries(StateDirectory()).size(), 2u);
}

TEST_F(CommandTest, GeneratorReportsTheFrequencyObtained) {
  SeedCalibration();
  EXPECT_THAT(Run("generator -q --freq 1000").out, HasSubstr("square-wave output: 1 kHz\n"));
  // 4 MHz divided by 1333.
  EXPECT_THAT(Run("generator -q --freq 3k").out,
              HasSubstr("square-wave output: 3.001 kHz (asked for 3 kHz)"));

  EXPECT_THAT(Run("generator -q --freq off").out, HasSubstr("square-wave output: off"));
}

TEST_F(CommandTest, WatchRefreshesUntilItsFramesAreShown) {
  SeedCalibration();
  const CliRun run = Run("watch -q --frames 3 --interval 0.05s --post 1000");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("frame 3 Trig'd (0 of 3 forced); Ctrl-C stops"));
  EXPECT_THAT(run.out, Not(HasSubstr("frame 4")));
  EXPECT_THAT(run.out, ::testing::ContainsRegex(R"(ch1 .* 1\.000 kHz)"));
  // The other views refresh alike, each frame with its own spectrum or figure.
  const CliRun spectrum = Run("watch -q --frames 2 --interval 10ms --spectrum --window flattop");
  ASSERT_EQ(spectrum.exit_code, 0) << spectrum.err;
  EXPECT_THAT(spectrum.out,
              ::testing::ContainsRegex("ch1 spectrum \\(flattop.*peak 1\\.000 kHz(.|\n)*frame 2"));
  const CliRun xy = Run("watch -q --frames 1 --xy");
  ASSERT_EQ(xy.exit_code, 0) << xy.err;
  EXPECT_THAT(xy.out, HasSubstr("XY: ch1 across"));
  // A trigger that never comes: every frame is forced, and says so.
  const CliRun forced =
      Run("watch -q --frames 2 --interval 10ms --sim-ch2 ground --trigger ch2:rising:1 "
          "--timeout 20ms");
  ASSERT_EQ(forced.exit_code, 0) << forced.err;
  EXPECT_THAT(forced.out, HasSubstr("frame 2 Auto (2 of 2 forced)"));
}

// The frames as a terminal shows them: each from the cursor's return home, its lines without
// the escape sequences.
std::vector<std::vector<std::string>> TerminalFrames(const std::string& screen) {
  std::vector<std::vector<std::string>> frames;
  const std::regex escape("\x1b\\[[0-9;?]*[A-Za-z]");
  std::size_t at = screen.find("\x1b[H");
  while (at != std::string::npos) {
    const std::size_t next = screen.find("\x1b[H", at + 1);
    const std::string text = std::regex_replace(screen.substr(at, next - at), escape, "");
    std::vector<std::string> lines;
    for (std::string line : Lines(text)) {
      line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
      lines.push_back(line);
    }
    frames.push_back(lines);
    at = next;
  }
  return frames;
}

TEST_F(CommandTest, WatchFitsTheTerminal) {
  if (std::system("command -v script >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "util-linux's script gives the pseudo-terminal";
  }
  SeedCalibration();
  for (const auto& [columns, rows] : {std::pair{80, 24}, std::pair{60, 18}}) {
    const CliRun run = RunOnTerminal(
        "watch -q --frames 2 --interval 10ms --post 1000 --sim-ch2 ground "
        "--trigger ch2:rising:1 --timeout 20ms",
        columns, rows);
    const auto frames = TerminalFrames(run.out);
    ASSERT_EQ(frames.size(), 2u) << run.out;
    for (const std::vector<std::string>& frame : frames) {
      EXPECT_LE(frame.size(), static_cast<std::size_t>(rows)) << columns << "x" << rows;
      EXPECT_GE(frame.size(), static_cast<std::size_t>(rows - 2)) << "the plot takes the room";
      for (const std::string& line : frame) {
        EXPECT_LE(line.size(), static_cast<std::size_t>(columns)) << line;
      }
    }
    EXPECT_THAT(frames.back().back(), HasSubstr("frame 2"));
  }
}

// On real hardware the driver calibrates at the first bring-up of a day with whatever is on
// the inputs; vm316 asks first, and without a terminal refuses unless --calibrate. (There is
// no board at the port here: the decision comes before any port is touched.)
TEST_F(CommandTest, RealHardwareIsNeverCalibratedBehindTheUsersBack) {
  const CliRun run = Run("measure -q --port 0x378 </dev/null");
  EXPECT_EQ(run.exit_code, 1) << run.err;
  EXPECT_THAT(run.err, HasSubstr("has no calibration from today"));
  EXPECT_THAT(run.err,
              HasSubstr("ground both inputs and run `vm316 calibrate`, or add --calibrate"));
  EXPECT_FALSE(HasCalibrationFiles(StateDirectory()));
  // With --calibrate the bring-up goes ahead (and finds no board).
  const CliRun allowed = Run("measure -q --calibrate --port 0x378 </dev/null");
  EXPECT_EQ(allowed.exit_code, 3) << allowed.err;
  EXPECT_THAT(allowed.err, HasSubstr("no board answers at port 0x378"));
}

TEST_F(CommandTest, WatchStopsCleanlyOnCtrlC) {
  SeedCalibration();
  const CliRun run = RunAndInterrupt("watch", 1.5);
  EXPECT_EQ(run.exit_code, 0) << run.err;
}

}  // namespace
}  // namespace vm316::cli_testing
