// How the host reports failures: one line on stderr and an exit code a script can test. Every
// status code of the library has one wording here, and only here.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vm316::host {

enum class ExitCode : int {
  kOk = 0,
  kFailure = 1,       // a file, the calibration, or another run-time failure
  kUsage = 2,         // unknown or malformed option: usage is printed
  kNoBoard = 3,       // no board answers, or it stopped answering
  kRefused = 4,       // a setting the board does not accept
  kInterrupted = 130  // Ctrl-C, as a shell reports SIGINT
};

class CliError : public std::runtime_error {
 public:
  CliError(ExitCode code, const std::string& message) : std::runtime_error(message), code_(code) {}
  ExitCode code() const { return code_; }

 private:
  ExitCode code_;
};

// The name of the status code as the interface declares it ("StatusInvalidValue").
std::string_view StatusName(std::uint16_t status);

// What the status means for the user ("not accepted by the board").
std::string_view StatusMeaning(std::uint16_t status);

ExitCode ExitCodeFor(std::uint16_t status);

// Nothing when status is StatusOk; otherwise throws CliError with the line
// "cannot set <setting> to <value>: <meaning> (<hint>)".
void CheckSetting(std::uint16_t status, std::string_view setting, std::string_view value,
                  std::string_view hint = {});

// Nothing when status is StatusOk; otherwise throws CliError "<action>: <meaning>".
void CheckCall(std::uint16_t status, std::string_view action);

}  // namespace vm316::host
