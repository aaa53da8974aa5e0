// The system services of system.h on Linux: port access always needs a grant (ioperm or
// /dev/port), there is no desktop to read a screen area from, and the environment is the C
// library's.
#include <cstdlib>

#include "platform/system.h"

namespace vm316::platform {
namespace {

// Without a desktop, the screen the progress window is centred on.
constexpr Rect kDefaultScreen{0, 0, 1024, 768};

}  // namespace

bool PortAccessNeedsDriver() {
  return true;
}

// Linux grants the I/O ports through ioperm or /dev/port, to root or a process with
// CAP_SYS_RAWIO; there is no driver to install.
const char* PortAccessRefusedMessage() {
  return "Linux requires root or the CAP_SYS_RAWIO capability (ioperm or /dev/port) for the "
         "parallel port and ISA bus.\n"
         "It was not granted to this process.\n"
         "Hardware will not be available";
}

void ReadScreenArea() {
  ScreenArea() = kDefaultScreen;
}

std::string EnvironmentVariable(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

}  // namespace vm316::platform
