#include "port/port_io.h"

#include "platform/clock.h"
#include "platform/fine_clock.h"
#include "platform/messages.h"
#include "platform/system.h"

namespace vm316::port {

PortSet PortSet::FromBase(std::uint16_t base) {
  auto at = [base](std::uint16_t offset) { return static_cast<std::uint16_t>(base + offset); };
  PortSet ports;
  ports.index = {at(kControlIndexPort), at(kCh1IndexPort), at(kCh2IndexPort)};
  ports.data = {at(kControlDataPort), at(kCh1DataPort), at(kCh2DataPort)};
  for (std::uint16_t offset = 0; offset < ports.read.size(); ++offset) {
    ports.read[offset] = at(offset);
  }
  return ports;
}

namespace {
constexpr std::uint64_t kUsPerMs = 1000;
// While the fine clock's wait is over but the tick counter has not moved on: how often it is
// read again.
constexpr std::uint64_t kTickPollUs = 1000;
}  // namespace

void DelayMs(std::int32_t ms) {
  const std::uint32_t start = platform::GetTickCount();
  if (ms <= 0) return;
  const std::uint64_t start_us = platform::FineClockUs();
  const auto wait = static_cast<std::uint32_t>(ms);
  // A counter that moves in steps (16 ms on Windows) may move on just after the first read:
  // its ticks alone would end the wait almost at once. The fine clock makes it last ms of
  // real time, and nothing ends it sooner, so the processor is given back meanwhile. Its end
  // is rounded up to a whole millisecond of the fine clock: where the two clocks share their
  // source (Linux, the virtual clock) the wait then ends on a tick, as a wait on the counter
  // alone does, and runs on the virtual clock repeat whatever its millisecond stood at.
  const std::uint64_t end_us = start_us + std::uint64_t{wait} * kUsPerMs;
  platform::WaitFineUntilUs((end_us + kUsPerMs - 1) / kUsPerMs * kUsPerMs);
  // And ms on the tick counter, modulo 2^32 so that a wrap does not extend it.
  while (static_cast<std::uint32_t>(platform::GetTickCount() - start) < wait) {
    platform::WaitFineUs(kTickPollUs);
  }
}

bool CheckPortDriver(platform::PortBackend& backend) {
  // No backend was chosen: its reason has been shown, and no port is to be reached at all.
  if (backend.Reach() == platform::PortReach::kNowhere) return false;
  if (!platform::PortAccessNeedsDriver()) return true;
  if (backend.OpenDriver()) return true;
  platform::ShowMessage(platform::PortAccessRefusedMessage());
  return false;
}

}  // namespace vm316::port
