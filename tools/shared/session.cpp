#include "session.h"

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <system_error>

#include "calibration_files.h"
#include "errors.h"
#include "interrupt.h"
#include "units.h"
#include "vm316.h"
#include "vm316_host.h"

namespace vm316::host {
namespace {

namespace fs = std::filesystem;

// Where the simulated board answers unless VM316_SIM_BASE moves it.
constexpr std::uint16_t kDefaultSimulatedBase = 0x378;
constexpr const char* kGround = "ground";
constexpr int kProgressSliceMs = 50;
constexpr int kProgressSlices = 5;  // the progress line is redrawn every quarter second

double WallSeconds() {
  using Clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

std::string Hex(std::uint16_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", address);
  return text;
}

void SetVariable(const char* name, const std::string& value) {
  setenv(name, value.c_str(), 1);
}

void HandleNotice(int kind, const char* caption, const char* text, void* context) {
  static_cast<Session*>(context)->OnNotice(kind, caption, text);
}

// The driver names the environment variables the signals came in; the user gave options.
std::string InOptionTerms(std::string text) {
  static constexpr std::pair<const char*, const char*> kNames[] = {{"VM316_SIM_CH1", "--sim-ch1"},
                                                                   {"VM316_SIM_CH2", "--sim-ch2"},
                                                                   {"VM316_SIM_EXT", "--sim-ext"}};
  for (const auto& [variable, option] : kNames) {
    const std::size_t at = text.find(variable);
    if (at != std::string::npos) text.replace(at, std::string(variable).size(), option);
  }
  return text;
}

void RemoveQuietly(const fs::path& path) {
  std::error_code ignored;
  fs::remove_all(path, ignored);
}

bool HasFileOfSize(const fs::path& file, std::uintmax_t size) {
  std::error_code error;
  return fs::is_regular_file(file, error) && fs::file_size(file, error) == size;
}

}  // namespace

fs::path StateDirectory(const std::string& override_directory) {
  if (!override_directory.empty()) return fs::absolute(override_directory);
  const char* state_home = std::getenv("XDG_STATE_HOME");
  if (state_home != nullptr && state_home[0] == '/') return fs::path(state_home) / "vm316";
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') {
    throw CliError(ExitCode::kFailure,
                   "neither XDG_STATE_HOME nor HOME is set: give the calibration directory "
                   "with --cal-dir");
  }
  return fs::path(home) / ".local" / "state" / "vm316";
}

Session::Session(const BackendOptions& options, ClockUse clock) : options_(options) {
  SetVariable("VM316_PORT", simulated() ? "sim" : "hw");
  if (std::getenv("VM316_CLOCK") == nullptr) {
    SetVariable("VM316_CLOCK", simulated() && clock == ClockUse::kInstant ? "virtual" : "real");
  }
  virtual_clock_ = std::string(std::getenv("VM316_CLOCK")) == "virtual";
  if (options_.port) {
    address_ = *options_.port;
  } else {
    address_ = kDefaultSimulatedBase;
    if (const char* base = std::getenv("VM316_SIM_BASE")) {
      address_ = static_cast<std::uint16_t>(std::strtoul(base, nullptr, 0));
    }
  }
  state_directory_ = StateDirectory(options_.cal_dir);
  vm316_set_message_handler(HandleNotice, this);

  std::string line = BackendDescription();
  line += virtual_clock_ ? ", virtual clock" : ", real clock";
  if (simulated()) {
    line += " (ch1 " + options_.sim_ch1 + ", ch2 " + options_.sim_ch2 + ", ext " +
            options_.sim_ext + ")";
  }
  Note(line);
}

Session::~Session() {
  StopProgress();
  Close();
  vm316_set_message_handler(nullptr, nullptr);
}

std::string Session::BackendDescription() const {
  return (simulated() ? "simulated board at " : "board at port ") + Hex(address_);
}

void Session::Note(const std::string& text) const {
  if (!options_.quiet) std::fprintf(stderr, "vm316: %s\n", text.c_str());
}

void Session::OnNotice(int kind, const char* /*caption*/, const char* text) {
  switch (kind) {
    case VM316_NOTICE_MESSAGE_BOX:
      if (in_bringup_) {
        messages_.push_back(InOptionTerms(text != nullptr ? text : ""));
      } else {
        Note(std::string("driver: ") + (text != nullptr ? text : ""));
      }
      break;
    case VM316_NOTICE_BEEP:
      beeped_ = true;
      break;
    case VM316_NOTICE_PROGRESS_SHOW:
      calibrated_ = true;
      calibration_started_ = WallSeconds();
      Note(grounded_ ? "calibrating the front end, inputs grounded ..."
                     : "calibrating the front end (the inputs must be grounded) ...");
      StartProgress();
      break;
    case VM316_NOTICE_PROGRESS_HIDE:
      StopProgress();
      Note("calibration took " + FormatDuration(WallSeconds() - calibration_started_));
      break;
    default:
      break;
  }
}

void Session::SetSignals(bool grounded) const {
  if (!simulated()) return;
  SetVariable("VM316_SIM_CH1", grounded ? kGround : options_.sim_ch1);
  SetVariable("VM316_SIM_CH2", grounded ? kGround : options_.sim_ch2);
  SetVariable("VM316_SIM_EXT", grounded ? kGround : options_.sim_ext);
}

std::uint16_t Session::Bringup(bool grounded) {
  Close();
  messages_.clear();
  beeped_ = false;
  calibrated_ = false;
  grounded_ = grounded;
  SetSignals(grounded);
  in_bringup_ = true;
  const std::uint16_t status = InitInstrument(address_);
  in_bringup_ = false;
  open_ = true;  // even a board that did not answer leaves an instrument to release
  return status;
}

std::string Session::DriverMessages() const {
  std::string text;
  for (const std::string& message : messages_) text += (text.empty() ? "" : "; ") + message;
  // One line, however the driver broke its texts.
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

std::string Session::NoAnswer() const {
  std::string text = simulated() ? "the simulated board does not answer at " + Hex(address_)
                                 : "no board answers at port " + Hex(address_);
  if (!messages_.empty()) text += ": " + DriverMessages();
  return text;
}

bool Session::CalibrationFailed() const {
  return calibrated_ && (beeped_ || !messages_.empty());
}

void Session::EnterStateDirectory() {
  std::error_code error;
  fs::create_directories(state_directory_, error);
  if (error || !fs::is_directory(state_directory_)) {
    throw CliError(ExitCode::kFailure, "cannot create the calibration directory " +
                                           state_directory_.string() + ": " + error.message());
  }
  fs::current_path(state_directory_, error);
  if (error) {
    throw CliError(ExitCode::kFailure,
                   "cannot enter " + state_directory_.string() + ": " + error.message());
  }
}

// The driver blocks while it calibrates; on a terminal a line counts the seconds meanwhile.
// The counting thread only writes to stderr and never calls the library.
void Session::StartProgress() {
  if (options_.quiet || isatty(STDERR_FILENO) == 0 || progress_running_) return;
  progress_running_ = true;
  const double started = calibration_started_;
  progress_ = std::thread([this, started] {
    while (progress_running_) {
      std::fprintf(stderr, "\r\x1b[Kvm316: calibrating ... %s",
                   FormatDuration(WallSeconds() - started).c_str());
      std::fflush(stderr);
      for (int i = 0; i < kProgressSlices && progress_running_; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kProgressSliceMs));
      }
    }
    std::fprintf(stderr, "\r\x1b[K");
  });
}

void Session::StopProgress() {
  progress_running_ = false;
  if (progress_.joinable()) progress_.join();
}

void Session::WaitForEnter(const std::string& prompt) const {
  std::fprintf(stderr, "vm316: %s", prompt.c_str());
  std::fflush(stderr);
  std::string line;
  if (!std::getline(std::cin, line) || Interrupted()) {
    std::fprintf(stderr, "\n");
    throw CliError(ExitCode::kInterrupted, "stopped before the calibration");
  }
}

void Session::ConfirmCalibration(const std::string& why) {
  if (options_.calibrate) {
    Note(why + "; calibrating now (--calibrate): both inputs must be grounded");
    return;
  }
  if (isatty(STDIN_FILENO) == 0 || isatty(STDERR_FILENO) == 0) {
    throw CliError(ExitCode::kFailure,
                   why +
                       ", and bring-up would make one with whatever is on the inputs: ground "
                       "both inputs and run `vm316 calibrate`, or add --calibrate");
  }
  WaitForEnter(why + ".\n       Ground both inputs, then press Enter (Ctrl-C stops) ");
  asked_ = true;
}

std::uint16_t Session::BringupOnStandIns() {
  std::string pattern = (state_directory_ / "bringup-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw CliError(ExitCode::kFailure,
                   "cannot make a scratch directory in " + state_directory_.string());
  }
  const fs::path scratch = pattern;
  // Copies made now are dated today, so the driver reloads them instead of calibrating.
  if (!WriteStandInCalibration(state_directory_, scratch)) {
    RemoveQuietly(scratch);
    throw CliError(ExitCode::kFailure, "cannot write in " + scratch.string());
  }
  std::error_code error;
  fs::current_path(scratch, error);
  const std::uint16_t status = Bringup(false);
  fs::current_path(state_directory_, error);
  RemoveQuietly(scratch);
  return status;
}

std::uint16_t Session::TryOpen(Calibration calibration) {
  EnterStateDirectory();
  // Without the day's calibration the driver would make one: a look at the board never does.
  if (calibration == Calibration::kNever && !CalibrationCurrent(state_directory_)) {
    return BringupOnStandIns();
  }
  if (!simulated() && !CalibrationCurrent(state_directory_)) {
    ConfirmCalibration("the board at port " + Hex(address_) + " has no calibration from today");
    const std::uint16_t status = Bringup(false);
    if (status == StatusOk && !messages_.empty()) Note("warning: " + DriverMessages());
    if (status == StatusOk && asked_) {
      WaitForEnter("calibration done: connect the signals, then press Enter ");
    }
    return status;
  }
  if (simulated() && !CalibrationCurrent(state_directory_)) {
    const std::uint16_t status = Bringup(true);
    if (status != StatusOk) return status;
    // A failed calibration, or a value of the environment the driver did not take.
    if (!messages_.empty()) Note("warning: " + DriverMessages());
    Close();
    // Ctrl-C came during the calibration, which cannot be cut short: nothing after it.
    if (Interrupted()) {
      throw CliError(ExitCode::kInterrupted, "stopped after the calibration: nothing was started");
    }
  }
  const std::uint16_t status = Bringup(false);
  if (status == StatusOk && !messages_.empty()) Note("warning: " + DriverMessages());
  return status;
}

void Session::Open() {
  const std::uint16_t status = TryOpen();
  if (status == StatusOk) return;
  throw CliError(ExitCodeFor(status), NoAnswer());
}

Session::CalibrationResult Session::Recalibrate() {
  EnterStateDirectory();
  std::string pattern = (state_directory_ / "calibration-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw CliError(ExitCode::kFailure, "cannot make a directory for the new calibration in " +
                                           state_directory_.string());
  }
  const fs::path scratch = pattern;
  std::error_code error;
  fs::current_path(scratch, error);
  if (!simulated()) {
    if (!options_.calibrate && isatty(STDIN_FILENO) != 0 && isatty(STDERR_FILENO) != 0) {
      WaitForEnter("ground both inputs, then press Enter (Ctrl-C stops) ");
    } else {
      Note("calibrating: both inputs must be connected to ground");
    }
  }
  const std::uint16_t status = Bringup(simulated());
  Close();
  fs::current_path(state_directory_, error);

  CalibrationResult result;
  if (status != StatusOk) {
    RemoveQuietly(scratch);
    throw CliError(ExitCodeFor(status), NoAnswer());
  }
  const fs::path new_gains = scratch / kGainTrimFile;
  const fs::path new_offsets = scratch / kOffsetFile;
  if (CalibrationFailed()) {
    result.problem = messages_.empty() ? "the calibration did not converge" : DriverMessages();
  } else if (!calibrated_ || !HasFileOfSize(new_gains, kGainTrimFileSize) ||
             !HasFileOfSize(new_offsets, kOffsetFileSize)) {
    result.problem = "the driver wrote no complete calibration files";
  }
  if (!result.problem.empty()) {
    RemoveQuietly(scratch);
    return result;
  }
  // The gain file dates the pair, so it goes last: until then the old pair stays in force.
  fs::rename(new_offsets, state_directory_ / kOffsetFile, error);
  if (!error) fs::rename(new_gains, state_directory_ / kGainTrimFile, error);
  if (error) {
    // A new offset file beside an old gain file must not count as current.
    std::error_code ignored;
    fs::remove(state_directory_ / kGainTrimFile, ignored);
    RemoveQuietly(scratch);
    result.problem = "cannot move the new calibration into " + state_directory_.string() + ": " +
                     error.message();
    return result;
  }
  RemoveQuietly(scratch);
  result.succeeded = true;
  return result;
}

void Session::Close() {
  if (!open_) return;
  ExitInstrument();
  open_ = false;
}

}  // namespace vm316::host
