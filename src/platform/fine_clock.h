// The fine clock: a monotonic clock in microseconds, for waits that must end close to their
// time and may not end sooner. The millisecond tick counter moves in steps (16 ms for the
// Windows counter), so two reads of it d apart only prove that d - step ms passed; the fine
// clock's reads are good to a microsecond. With the virtual clock it is the virtual clock's
// own time, so that runs repeat exactly.
#pragma once

#include <cstdint>

namespace vm316::platform {

// Microseconds since an arbitrary origin, never running backwards: two reads d apart prove
// that at least d - 1 us passed.
std::uint64_t FineClockUs();

// Returns once FineClockUs() >= deadline_us, never sooner. The real clock gives the processor
// back while the rest of the wait is longer than the system's sleep is known to overshoot,
// and spins for the rest; the virtual clock jumps to the deadline.
void WaitFineUntilUs(std::uint64_t deadline_us);

// Waits us microseconds on the fine clock.
void WaitFineUs(std::uint64_t us);

// The system's parts of it (fine_clock_linux.cpp, win32/fine_clock.cpp).
std::uint64_t SystemFineClockUs();
// Sleeps about us microseconds, longer by the system's wake-up latency.
void SystemSleepUs(std::uint64_t us);
// How late the system's sleep is taken to wake until it has been seen, and the least it is
// taken to be however precise it has been.
std::uint32_t SystemSleepLatencyUs();
std::uint32_t SystemLeastSleepLatencyUs();

}  // namespace vm316::platform
