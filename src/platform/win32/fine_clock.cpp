// The fine clock on Windows: the performance counter, and Sleep, which sleeps whole
// milliseconds and wakes with the system timer interrupt (every 15.6 ms unless a program has
// asked for a finer one).
#include "platform/fine_clock.h"

#include <algorithm>

#include "platform/win32/windows_api.h"

namespace vm316::platform {

std::uint64_t SystemFineClockUs() {
  static const std::uint64_t frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);  // never fails on any system that still runs
    return static_cast<std::uint64_t>(f.QuadPart);
  }();
  LARGE_INTEGER counter;
  ::QueryPerformanceCounter(&counter);
  const auto ticks = static_cast<std::uint64_t>(counter.QuadPart);
  // In two parts, so that the product cannot overflow however long the system has run.
  return ticks / frequency * 1000000u + ticks % frequency * 1000000u / frequency;
}

void SystemSleepUs(std::uint64_t us) {
  // INFINITE (0xFFFFFFFF) would never wake.
  constexpr std::uint64_t kLongestSleepMs = 0xFFFFFFFEu;
  ::Sleep(static_cast<DWORD>(std::min<std::uint64_t>(us / 1000u, kLongestSleepMs)));
}

// Until a sleep has shown better, a wake-up as late as the default timer interrupt.
std::uint32_t SystemSleepLatencyUs() {
  return 16000;
}

std::uint32_t SystemLeastSleepLatencyUs() {
  return 1000;
}

}  // namespace vm316::platform
