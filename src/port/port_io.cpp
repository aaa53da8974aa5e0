#include "port/port_io.h"

#include "platform/clock.h"
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

void DelayMs(std::int32_t ms) {
  const std::uint32_t start = platform::GetTickCount();
  if (ms <= 0) return;
  const auto wait = static_cast<std::uint32_t>(ms);
  // Unsigned subtraction: a wrap of the counter during the wait does not extend it.
  while (static_cast<std::uint32_t>(platform::GetTickCount() - start) < wait) {
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
