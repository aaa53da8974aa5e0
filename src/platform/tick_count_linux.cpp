// The system's millisecond counter on Linux: the monotonic clock, which neither jumps with the
// wall clock nor stops while the process waits.
#include <chrono>

#include "platform/clock.h"

namespace vm316::platform {

std::uint32_t SystemTickCount() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Milliseconds of the monotonic clock, truncated: the counter moves one at a time.
std::uint32_t SystemTickStepMs() {
  return 1;
}

}  // namespace vm316::platform
