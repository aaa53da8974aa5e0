// The one time source of the process: the millisecond tick counter, the message loop's timers
// and the simulated board all read it. With the virtual clock nothing ever sleeps: port accesses
// and tick reads move time forward, and a wait jumps straight to its end, so runs repeat exactly.
#pragma once

#include <cstdint>

namespace vm316::platform {

enum class ClockKind : std::uint8_t { kReal, kVirtual };

// Costs charged to the virtual clock: an ISA I/O cycle per port access, and a little per tick
// read so that a loop spinning on the tick counter always reaches its end.
inline constexpr std::uint64_t kPortAccessNs = 1000;
inline constexpr std::uint64_t kTickReadNs = 1000;

// Where the virtual clock starts, the first time a process chooses it: a fixed instant (the tick
// counter reads 0, as just after the system started), so that the same command, environment and
// seed give the same noise, records and calibration files on every run and every machine.
inline constexpr std::uint64_t kVirtualStartNs = 0;

class Clock {
 public:
  ClockKind Kind() const { return kind_; }
  bool IsVirtual() const { return kind_ == ClockKind::kVirtual; }

  // The virtual clock never runs backwards: chosen again later in the process, it continues from
  // where it stood.
  void Select(ClockKind kind) { kind_ = kind; }

  std::uint64_t NowNs() { return IsVirtual() ? virtual_ns_ : RealNowNs(); }

  // Charges simulated work to the virtual clock; the real clock measures work by itself.
  void Advance(std::uint64_t ns) {
    if (IsVirtual()) virtual_ns_ += ns;
  }

  // Blocks until NowNs() >= ns: the real clock sleeps, the virtual clock jumps.
  void WaitUntil(std::uint64_t ns);

  // For tests: places the virtual clock at an absolute time (for example near a tick wrap).
  void SetVirtualNs(std::uint64_t ns) { virtual_ns_ = ns; }

  // The step in which the virtual tick counter moves: 1 ms, or for tests the coarse step of
  // another system's counter (16 ms as on Windows).
  std::uint32_t VirtualTickStepMs() const { return virtual_tick_step_ms_; }
  void SetVirtualTickStepMs(std::uint32_t ms) { virtual_tick_step_ms_ = ms != 0 ? ms : 1; }

 private:
  static std::uint64_t RealNowNs();

  ClockKind kind_ = ClockKind::kReal;
  std::uint64_t virtual_ns_ = kVirtualStartNs;
  std::uint32_t virtual_tick_step_ms_ = 1;
};

// The process-wide clock (never destroyed, so it outlives every static that uses it).
Clock& SystemClock();

// The millisecond tick counter, wrapping at 2^32: the system's own counter with the real clock,
// milliseconds of SystemClock() with the virtual one.
std::uint32_t GetTickCount();

// The system's millisecond counter (the real clock's tick source; one per system).
std::uint32_t SystemTickCount();

// How far GetTickCount() can jump at once, in milliseconds: a difference of d ticks between two
// reads means at least d - TickStepMs() milliseconds passed.
std::uint32_t TickStepMs();

// The step of the system's own counter.
std::uint32_t SystemTickStepMs();

}  // namespace vm316::platform
