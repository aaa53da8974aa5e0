// The fine clock on Linux: CLOCK_MONOTONIC, which neither jumps with the wall clock nor stops
// while the process waits, and nanosleep on it.
#include <time.h>

#include <cerrno>

#include "platform/fine_clock.h"

namespace vm316::platform {

std::uint64_t SystemFineClockUs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000u +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}

void SystemSleepUs(std::uint64_t us) {
  timespec rest{static_cast<time_t>(us / 1000000u), static_cast<long>(us % 1000000u) * 1000L};
  // A signal handled meanwhile cuts the sleep short: sleep the rest.
  while (clock_nanosleep(CLOCK_MONOTONIC, 0, &rest, &rest) == EINTR) {
  }
}

// The kernel's timer slack is 50 us by default, and waking takes a little more.
std::uint32_t SystemSleepLatencyUs() {
  return 200;
}

std::uint32_t SystemLeastSleepLatencyUs() {
  return 50;
}

}  // namespace vm316::platform
