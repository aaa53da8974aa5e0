// One run of the instrument: the backend chosen from the options, the state directory the
// calibration files live in, the driver's texts caught by a message handler, and the
// InitInstrument .. ExitInstrument bracket.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "options.h"

namespace vm316::host {

enum class ClockUse : std::uint8_t {
  kInstant,  // the simulated board on the virtual clock (unless VM316_CLOCK says otherwise)
  kRealTime  // the real clock, for watching live
};

class Session {
 public:
  Session(const BackendOptions& options, ClockUse clock);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Brings the board up in the state directory. On the simulated board a calibration that is
  // due runs with the inputs grounded, as a user grounds them before the first run of the day,
  // and the signals are connected afterwards. Throws CliError when no board answers.
  void Open();
  // The same, but reports the InitInstrument status instead of throwing. With kNever (for
  // `info`) no calibration starts: a board, real or simulated, whose calibration is not from
  // today is brought up on stand-ins of the files, and the state directory stays as it is.
  enum class Calibration : std::uint8_t { kWhenDue, kNever };
  std::uint16_t TryOpen(Calibration calibration = Calibration::kWhenDue);

  struct CalibrationResult {
    bool succeeded = false;
    std::string problem;  // why not, in the driver's or our words
  };
  // A new calibration in a fresh subdirectory of the state directory; only when it succeeded
  // do its files replace the current ones. The session is closed afterwards.
  CalibrationResult Recalibrate();

  void Close();

  bool simulated() const { return !options_.port.has_value(); }
  bool virtual_clock() const { return virtual_clock_; }
  std::uint16_t address() const { return address_; }
  const std::filesystem::path& state_directory() const { return state_directory_; }
  const BackendOptions& options() const { return options_; }
  // "simulated board at 0x378" or "board at port 0x378".
  std::string BackendDescription() const;

  // A note on stderr ("vm316: ..."), unless --quiet.
  void Note(const std::string& text) const;

  // Receives the driver's texts (the message handler's context is this session).
  void OnNotice(int kind, const char* caption, const char* text);

 private:
  std::uint16_t Bringup(bool grounded);
  // Real hardware: the day's calibration is missing and bring-up would make one with whatever
  // is on the inputs. Asks on a terminal; refuses without one unless --calibrate.
  void ConfirmCalibration(const std::string& why);
  // Waits for Enter on the terminal; throws when the user stops instead.
  void WaitForEnter(const std::string& prompt) const;
  std::uint16_t BringupOnStandIns();
  void StartProgress();
  void StopProgress();
  void SetSignals(bool grounded) const;
  void EnterStateDirectory();
  // A calibration ran and the driver beeped or showed a text: it did not succeed.
  bool CalibrationFailed() const;
  std::string DriverMessages() const;
  // "the simulated board does not answer at 0x378: <what the driver said>".
  std::string NoAnswer() const;

  BackendOptions options_;
  bool virtual_clock_ = false;
  std::uint16_t address_ = 0;
  std::filesystem::path state_directory_;
  bool open_ = false;
  bool in_bringup_ = false;
  bool grounded_ = false;
  bool calibrated_ = false;  // the progress window appeared during the last bring-up
  bool beeped_ = false;
  double calibration_started_ = 0.0;
  std::vector<std::string> messages_;  // message-box texts since the last bring-up began
  bool asked_ = false;                 // the user grounded the inputs at a prompt
  std::atomic<bool> progress_running_{false};
  std::thread progress_;
};

// $XDG_STATE_HOME/vm316, else ~/.local/state/vm316; `override_directory` when not empty.
std::filesystem::path StateDirectory(const std::string& override_directory);

}  // namespace vm316::host
