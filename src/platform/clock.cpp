#include "platform/clock.h"

#include <chrono>
#include <thread>

namespace vm316::platform {

std::uint64_t Clock::RealNowNs() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
}

void Clock::WaitUntil(std::uint64_t ns) {
  if (IsVirtual()) {
    if (virtual_ns_ < ns) virtual_ns_ = ns;
    return;
  }
  const std::uint64_t now = RealNowNs();
  if (ns > now) std::this_thread::sleep_for(std::chrono::nanoseconds(ns - now));
}

Clock& SystemClock() {
  static Clock clock;  // trivially destructible: safe during unload
  return clock;
}

std::uint32_t GetTickCount() {
  Clock& clock = SystemClock();
  if (!clock.IsVirtual()) return SystemTickCount();
  clock.Advance(kTickReadNs);
  const std::uint64_t step = clock.VirtualTickStepMs();
  return static_cast<std::uint32_t>(clock.NowNs() / 1000000u / step * step);
}

std::uint32_t TickStepMs() {
  Clock& clock = SystemClock();
  return clock.IsVirtual() ? clock.VirtualTickStepMs() : SystemTickStepMs();
}

}  // namespace vm316::platform
