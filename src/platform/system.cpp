#include "platform/system.h"

#include <cstdlib>
#include <cstring>

#if __has_include("sim/board_factory.h")
#include "sim/board_factory.h"
#define VM316_HAVE_SIM 1
#endif

namespace vm316::platform {
namespace {

// Without a desktop, the screen the progress window is centred on.
constexpr Rect kDefaultScreen{0, 0, 1024, 768};

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

void ReportBadValue(const char* name, const std::string& value, const char* accepted) {
  ShowMessage(std::string(name) + "=\"" + value + "\" is not understood (use " + accepted +
              "); the default is used");
}

}  // namespace

bool PortAccessNeedsDriver() { return true; }

Rect& ScreenArea() {
  static Rect area;
  return area;
}

void ReadScreenArea() { ScreenArea() = kDefaultScreen; }

Environment ReadEnvironment() {
  Environment environment;
  // The message sink first, so that the reports below go where the host wants them.
  const std::string messages = Variable("VM316_MESSAGES");
  if (messages == "quiet") environment.messages = MessageSink::kQuiet;
  SetMessageSink(environment.messages);
  if (!messages.empty() && messages != "quiet" && messages != "stderr") {
    ReportBadValue("VM316_MESSAGES", messages, "stderr or quiet");
  }

  const std::string port = Variable("VM316_PORT");
  if (port == "sim") {
    environment.port = PortKind::kSimulated;
  } else if (!port.empty() && port != "hw") {
    ReportBadValue("VM316_PORT", port, "hw or sim");
  }

  const std::string clock = Variable("VM316_CLOCK");
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
#ifdef VM316_HAVE_SIM
  sim::BoardResult board = sim::CreateBoardFromEnvironment(SystemClock());
  if (!board.error.empty()) ShowMessage(board.error);
  return std::move(board.backend);
#else
  return CreateHardwarePortBackend();
#endif
}

}  // namespace vm316::platform
