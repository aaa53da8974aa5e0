// What the driver asks of the operating system besides ports and time: whether port access
// needs a driver, the screen area for placing windows, and the process environment.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/port_backend.h"

namespace vm316::platform {

// True where user-mode port access must be granted by the system (NT-family Windows with its
// port-access driver; Linux with ioperm or /dev/port), false where it is always allowed.
bool PortAccessNeedsDriver();

// The three lines shown when the system refuses port access: on Windows the port-access
// driver's text, elsewhere what this system needs instead.
const char* PortAccessRefusedMessage();

struct Rect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
};

// The cursor clip rectangle of the desktop, read once at library load: normally the screen.
Rect& ScreenArea();
void ReadScreenArea();

// A variable of the process environment as the system holds it (on Windows also what the host
// set with SetEnvironmentVariableA after start-up); empty when it is not set.
std::string EnvironmentVariable(const char* name);

// kUnknown: VM316_PORT holds a value that names no backend. Real ports are then not a
// fallback: a mistyped "sim" must not reach the machine's I/O space.
enum class PortKind : std::uint8_t { kHardware, kSimulated, kUnknown };

// The VM316_* settings that choose the platform services of one instrument object.
struct Environment {
  PortKind port = PortKind::kHardware;
  ClockKind clock = ClockKind::kReal;
  MessageSink messages = kDefaultMessageSink;
};

// Reads VM316_PORT, VM316_CLOCK and VM316_MESSAGES. An unknown clock or message value is
// reported and the default is used; an unknown port value is reported and chooses no backend.
Environment ReadEnvironment();

// Selects the clock and the message sink, then creates the port backend for the environment:
// real port I/O, the simulated board (which reads its own VM316_SIM_* settings), or for an
// unknown VM316_PORT a backend that reaches no port.
std::unique_ptr<PortBackend> CreatePortBackend(const Environment& environment);

// Real port I/O on this system.
std::unique_ptr<PortBackend> CreateHardwarePortBackend();

}  // namespace vm316::platform
