#include "errors.h"

#include "vm316.h"

namespace vm316::host {

std::string_view StatusName(std::uint16_t status) {
  switch (status) {
    case StatusOk:
      return "StatusOk";
    case StatusNoHardware:
      return "StatusNoHardware";
    case StatusNotInitialized:
      return "StatusNotInitialized";
    case StatusNotSupported:
      return "StatusNotSupported";
    case StatusNoGenerator:
      return "StatusNoGenerator";
    case StatusInvalidChannel:
      return "StatusInvalidChannel";
    case StatusInvalidValue:
      return "StatusInvalidValue";
    default:
      return "unknown status";
  }
}

std::string_view StatusMeaning(std::uint16_t status) {
  switch (status) {
    case StatusOk:
      return "done";
    case StatusNoHardware:
      return "the board does not answer";
    case StatusNotInitialized:
      return "the instrument was not brought up";
    case StatusNotSupported:
      return "this board does not offer it";
    case StatusNoGenerator:
      return "this board has no such generator";
    case StatusInvalidChannel:
      return "no such channel on this board";
    case StatusInvalidValue:
      return "the board does not accept this value";
    default:
      return "the driver answered with an unknown status";
  }
}

ExitCode ExitCodeFor(std::uint16_t status) {
  switch (status) {
    case StatusOk:
      return ExitCode::kOk;
    case StatusNoHardware:
    case StatusNotInitialized:
      return ExitCode::kNoBoard;
    case StatusNotSupported:
    case StatusNoGenerator:
    case StatusInvalidChannel:
    case StatusInvalidValue:
      return ExitCode::kRefused;
    default:
      return ExitCode::kFailure;
  }
}

void CheckSetting(std::uint16_t status, std::string_view setting, std::string_view value,
                  std::string_view hint) {
  if (status == StatusOk) return;
  std::string message = "cannot set ";
  message += setting;
  message += " to ";
  message += value;
  message += ": ";
  message += StatusMeaning(status);
  if (!hint.empty() && status != StatusNoHardware) {
    message += " (";
    message += hint;
    message += ")";
  }
  throw CliError(ExitCodeFor(status), message);
}

void CheckCall(std::uint16_t status, std::string_view action) {
  if (status == StatusOk) return;
  std::string message(action);
  message += ": ";
  message += StatusMeaning(status);
  throw CliError(ExitCodeFor(status), message);
}

}  // namespace vm316::host
