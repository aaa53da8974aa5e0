#include "platform/system.h"

#include <map>

#include "sim/board_factory.h"

namespace vm316::platform {
namespace {

void ReportBadValue(const char* name, const std::string& value, const char* accepted,
                    const char* consequence = "the default is used") {
  ShowMessage(std::string(name) + "=\"" + value + "\" is not understood (use " + accepted + "); " +
              consequence);
}

// The backend of an unknown VM316_PORT: it is never granted access, so the instrument never
// reaches a port; were it asked, it would write nothing and read a floating bus.
class NoPortBackend final : public PortBackend {
 public:
  PortReach Reach() const override { return PortReach::kNowhere; }
  bool OpenDriver() override { return false; }
  void Out(std::uint16_t /*port*/, std::uint8_t /*value*/) override {}
  std::uint8_t In(std::uint16_t /*port*/) override { return kFloatingBus; }
};

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
    environment.port = PortKind::kUnknown;
    ReportBadValue("VM316_PORT", port, "hw or sim",
                   "no port is used and the instrument is not available");
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
  if (environment.port == PortKind::kUnknown) return std::make_unique<NoPortBackend>();
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
