#include "record.h"

#include <ctime>

#include "vm316.h"

namespace vm316::host {

// The virtual clock keeps no calendar: a record taken on it carries the clock's start as the
// epoch, so that the same run writes the same bytes every time.
constexpr const char* kVirtualClockTimestamp = "1970-01-01T00:00:00+0000";

std::string RecordTimestamp(bool virtual_clock) {
  if (virtual_clock) return kVirtualClockTimestamp;
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
  return text;
}

ChannelRecord ReadBackChannel(int channel, bool recorded, const double* volts,
                              const std::uint16_t* raw, std::size_t count) {
  ChannelRecord trace;
  const auto ch = static_cast<std::uint8_t>(channel);
  trace.recorded = recorded;
  GetSensitivity(ch, &trace.sensitivity);
  std::uint8_t flag = 0;
  if (GetAutoRanging(ch, &flag) == StatusOk) trace.auto_range = flag != 0;
  if (GetCoupling(ch, &flag) == StatusOk) trace.ac_coupled = flag != 0;
  GetDcLevel(ch, &trace.dc_level);
  if (!recorded) return trace;
  // The board reads the input less the DC level; the host shows the input.
  trace.volts.assign(volts, volts + count);
  for (double& v : trace.volts) v += trace.dc_level;
  trace.raw.assign(raw, raw + count);
  return trace;
}

}  // namespace vm316::host
