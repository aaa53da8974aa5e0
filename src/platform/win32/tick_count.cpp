// The system's millisecond counter on Windows: GetTickCount itself, wrapping after 49.7 days.
#include "platform/clock.h"
#include "platform/win32/windows_api.h"

namespace vm316::platform {

std::uint32_t SystemTickCount() {
  return ::GetTickCount();
}

}  // namespace vm316::platform
