#include "platform/fine_clock.h"

#include <algorithm>
#include <atomic>

#include "platform/clock.h"

namespace vm316::platform {
namespace {

constexpr std::uint64_t kNsPerUs = 1000;

// A sleep shorter than this is not worth the system call (Windows sleeps whole milliseconds).
constexpr std::uint64_t kShortestSleepUs = 1000;

// How late the system's sleep has woken lately, beyond what was asked: a wait sleeps only
// while more than this is left, and spins for the rest. A late wake-up raises it at once; a
// timely one lowers it by an eighth, down to the system's least. 0: nothing seen yet.
std::atomic<std::uint32_t> sleep_latency_us{0};

std::uint32_t SleepLatencyUs() {
  const std::uint32_t seen = sleep_latency_us.load(std::memory_order_relaxed);
  return seen != 0 ? seen : SystemSleepLatencyUs();
}

void LearnSleepLatency(std::uint64_t late_us) {
  const std::uint32_t before = SleepLatencyUs();
  const std::uint64_t after =
      std::max<std::uint64_t>({late_us, before - before / 8, SystemLeastSleepLatencyUs()});
  sleep_latency_us.store(static_cast<std::uint32_t>(std::min<std::uint64_t>(after, UINT32_MAX)),
                         std::memory_order_relaxed);
}

}  // namespace

// A read costs the virtual clock what a tick read costs, so that a loop that polls it (a host
// spinning on ADC_Ready, say) always reaches its end, and the clock stays in whole
// microseconds, as every port access and tick read leaves it: runs then repeat exactly
// whatever the clock stood at when they began.
std::uint64_t FineClockUs() {
  Clock& clock = SystemClock();
  if (!clock.IsVirtual()) return SystemFineClockUs();
  clock.Advance(kTickReadNs);
  return clock.NowNs() / kNsPerUs;
}

void WaitFineUntilUs(std::uint64_t deadline_us) {
  Clock& clock = SystemClock();
  if (clock.IsVirtual()) {
    clock.WaitUntil(deadline_us * kNsPerUs);
    return;
  }
  for (;;) {
    const std::uint64_t now = SystemFineClockUs();
    if (now >= deadline_us) return;
    const std::uint64_t rest = deadline_us - now;
    const std::uint32_t latency = SleepLatencyUs();
    if (rest > latency && rest - latency >= kShortestSleepUs) {
      const std::uint64_t asked = rest - latency;
      SystemSleepUs(asked);
      const std::uint64_t slept = SystemFineClockUs() - now;
      LearnSleepLatency(slept > asked ? slept - asked : 0);
    }
    // The last stretch is spun: a yield could hand a loaded processor's whole time slice to
    // another program and end the wait milliseconds late.
  }
}

void WaitFineUs(std::uint64_t us) {
  WaitFineUntilUs(FineClockUs() + us);
}

}  // namespace vm316::platform
