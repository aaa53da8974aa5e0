#include "platform/system.h"

#include <map>

#include "sim/board_factory.h"

namespace vm316::platform {
namespace {

void ReportBadValue(const char* name, const std::string& value, const char* accepted) {
  ShowMessage(std::string(name) + "=\"" + value + "\" is not understood (use " + accepted +
              "); the default is used");
}

}  // namespace

Rect& ScreenArea() {
  static Rect area;
  return area;
}

Environment ReadEnvironment() {
  Environment environment;
  // The message sink first, so that the reports below go where the host wants them.
  const std::string messages = EnvironmentVariable("VM316_MESSAGES");
  if (messages == "quiet") environment.messages = MessageSink::kQuiet;
  if (messages == "stderr") environment.messages = MessageSink::kStderr;
  SetMessageSink(environment.messages);
  if (!messages.empty() && messages != "quiet" && messages != "stderr") {
    ReportBadValue("VM316_MESSAGES", messages, "stderr or quiet");
  }

  const std::string port = EnvironmentVariable("VM316_PORT");
  if (port == "sim") {
    environment.port = PortKind::kSimulated;
  } else if (!port.empty() && port != "hw") {
    ReportBadValue("VM316_PORT", port, "hw or sim");
  }

  const std::string clock = EnvironmentVariable("VM316_CLOCK");
  if (clock == "virtual") {
    environment.clock = ClockKind::kVirtual;
  } else if (!clock.empty() && clock != "real") {
    ReportBadValue("VM316_CLOCK", clock, "real or virtual");
  }
  return environment;
}

std::unique_ptr<PortBackend> CreatePortBackend(const Environment& environment) {
  SetMessageSink(environment.messages);
  SystemClock().Select(environment.clock);
  if (environment.port == PortKind::kHardware) return CreateHardwarePortBackend();
  // The board's settings come through the same environment reader as ours; the values are
  // kept here while the board's reader looks at them.
  std::map<std::string, std::string> values;
  const sim::ConfigResult read = sim::ReadBoardConfig([&values](const char* name) {
    const auto [entry, inserted] = values.try_emplace(name, EnvironmentVariable(name));
    (void)inserted;
    return entry->second.c_str();
  });
  if (!read.error.empty()) ShowMessage(read.error);
  return std::make_unique<sim::Board>(read.config, SystemClock());
}

}  // namespace vm316::platform
