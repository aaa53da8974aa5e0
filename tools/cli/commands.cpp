// info, calibrate and generator: the subcommands that take no record.
#include "commands.h"

#include <cstdio>
#include <string>

#include "shared/acquisition.h"
#include "shared/calibration_files.h"
#include "shared/errors.h"
#include "shared/session.h"
#include "shared/units.h"
#include "vm316.h"

namespace vm316::cli {

using namespace vm316::host;
namespace {

constexpr int kListSize = 20;  // the capability lists of the interface hold 20 entries

void Row(const char* name, const std::string& value) {
  std::printf("%-14s %s\n", name, value.c_str());
}

std::string Ranges() {
  double ranges[kListSize] = {};
  if (GetAvailableSensitivities(ranges) != StatusOk) return "--";
  std::string text;
  for (const double range : ranges) {
    if (range == 0.0) break;
    char number[16];
    std::snprintf(number, sizeof number, "%g", range);
    if (!text.empty()) text += ' ';
    text += number;
  }
  return text + " V full scale";
}

std::string Resolutions() {
  std::uint8_t bits = 0;
  if (GetResolution(&bits) != StatusOk) return "--";
  return std::to_string(bits) + " bits";
}

std::string Generator() {
  if (GetSquareWaveGenStatus() != StatusOk) return "none";
  const std::int32_t frequency = GetSquareWaveGenFrequency();
  std::string text = "square wave, 0 V / 5 V, 100 Hz to 100 kHz, now ";
  text += frequency == 0 ? "off" : FormatQuantityShort(frequency, "Hz", 6);
  if (GetFunctionGenStatus() != StatusOk) text += "; no function generator";
  return text;
}

void PrintBoard() {
  std::uint16_t channels = 0;
  GetNrChannels(&channels);
  Row("channels", std::to_string(channels));
  Row("ranges", Ranges());
  char slowest[16];
  std::snprintf(slowest, sizeof slowest, "%.2f Hz", kMinSampleRate);
  Row("sample rate", std::string(slowest) + " to " +
                         FormatQuantityShort(GetMaxSampleFrequencyF(), "Hz", 3) +
                         " (20, 10, 4 MHz; 4 MHz / N; 40 kHz / N)");
  Row("record length", "up to " + std::to_string(GetMaxRecordLength()) + " samples");
  Row("resolution", Resolutions());
  Row("generator", Generator());
  std::int32_t serial = 0;
  Row("serial number",
      GetSerialNumber(&serial) == StatusOk ? std::to_string(serial) : "not readable");
  Row("trigger", "ch1, ch2, ext, and, or, none; rising or falling");
}

}  // namespace

int RunInfo(const BackendOptions& backend, bool full_tables) {
  Session session(backend, ClockUse::kInstant);
  const std::uint16_t status = session.TryOpen(Session::Calibration::kNever);
  Row("backend",
      session.simulated() ? "simulated board (no hardware needed)" : "real hardware (port I/O)");
  Row("clock", session.virtual_clock() ? "virtual (waits cost no time)" : "real");
  char address[16];
  std::snprintf(address, sizeof address, "0x%X", session.address());
  Row("base address", address);
  if (status == StatusOk) {
    Row("board", "answered");
    PrintBoard();
  } else {
    Row("board", std::string("no answer (") + std::string(StatusName(status)) + ")");
  }
  session.Close();
  std::printf(
      "%s",
      DescribeCalibration(ReadCalibrationState(session.state_directory()), full_tables).c_str());
  return static_cast<int>(status == StatusOk ? ExitCode::kOk : ExitCodeFor(status));
}

int RunCalibrate(const BackendOptions& backend) {
  Session session(backend, ClockUse::kInstant);
  const Session::CalibrationResult result = session.Recalibrate();
  if (!result.succeeded) {
    throw CliError(ExitCode::kFailure, "calibration failed: " + result.problem +
                                           "; the previous calibration files are kept");
  }
  std::printf("calibration done\n%s",
              DescribeCalibration(ReadCalibrationState(session.state_directory()), false).c_str());
  return static_cast<int>(ExitCode::kOk);
}

int RunGenerator(const BackendOptions& backend, double frequency) {
  Session session(backend, ClockUse::kInstant);
  session.Open();
  const std::uint32_t hz = SetGenerator(frequency);
  const std::string asked = frequency == 0.0 ? "off" : FormatFrequency(frequency, true);
  if (hz == 0) {
    std::printf("square-wave output: off\n");
  } else {
    std::printf("square-wave output: %s", FormatFrequency(hz, true).c_str());
    if (frequency != hz) std::printf(" (asked for %s)", asked.c_str());
    std::printf("\n");
  }
  if (session.simulated()) {
    session.Note(
        "the simulated board's output lasts only while vm316 runs; "
        "`vm316 measure --generator HZ` shows it");
  }
  return static_cast<int>(ExitCode::kOk);
}

}  // namespace vm316::cli
