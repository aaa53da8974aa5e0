// The system's millisecond counter on Windows: GetTickCount itself, wrapping after 49.7 days.
#include "platform/clock.h"
#include "platform/win32/windows_api.h"

namespace vm316::platform {

std::uint32_t SystemTickCount() {
  return ::GetTickCount();
}

// GetTickCount advances with the system timer interrupt, every 10 to 15.6 ms.
std::uint32_t SystemTickStepMs() {
  return 16;
}

}  // namespace vm316::platform
