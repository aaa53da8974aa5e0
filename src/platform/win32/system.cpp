// The system services of system.h on Windows: the platform identifier decides whether port
// access needs the port-access driver, the screen area is the cursor clip rectangle, and the
// environment is the process's own (not the C runtime's copy, which misses what a host sets
// with SetEnvironmentVariableA after start-up).
#include "platform/system.h"

#include <vector>

#include "platform/win32/windows_api.h"

namespace vm316::platform {

bool PortAccessNeedsDriver() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof(version);
  // Only the NT family guards the I/O ports from user mode; an unanswered query is taken for
  // one, since every system that cannot answer it is of that family.
  if (::GetVersionExA(&version) == 0) return true;
  return version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

const char* PortAccessRefusedMessage() {
  return "Windows NT / 2000 / XP requires an extra NT-driver for the parallel port and ISA bus.\n"
         "It was not detected on this computer.\n"
         "Hardware will not be available";
}

void ReadScreenArea() {
  RECT clip{};
  if (::GetClipCursor(&clip) == 0 || ::IsRectEmpty(&clip)) {
    // Loaded with the program, the library may ask before the desktop is known (an empty
    // rectangle, where the cursor could not be at all): the whole screen is what it means.
    const int left = ::GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = ::GetSystemMetrics(SM_YVIRTUALSCREEN);
    clip = RECT{left, top, left + ::GetSystemMetrics(SM_CXVIRTUALSCREEN),
                top + ::GetSystemMetrics(SM_CYVIRTUALSCREEN)};
  }
  ScreenArea() = Rect{clip.left, clip.top, clip.right, clip.bottom};
}

std::string EnvironmentVariable(const char* name) {
  std::vector<char> value(64);
  for (;;) {
    const DWORD length =
        ::GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) return {};  // not set, or set to nothing
    if (length < value.size()) return std::string(value.data(), length);
    value.resize(length);  // the size it asks for counts the terminating zero
  }
}

}  // namespace vm316::platform
