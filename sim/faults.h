// Faults the simulated board can be told to show, for testing how the driver copes with a board
// that is missing, broken or pulled out while in use.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vm316::sim {

struct FaultSet {
  bool absent = false;           // nothing answers: the bus floats and every read gives 0xFF
  bool no_driver = false;        // the system refuses port access: OpenDriver() fails
  bool stuck_busy = false;       // the recorder never reports: status bit 0 is never set
  bool dead_converter2 = false;  // converter 2 always reads 128
  std::optional<std::uint64_t> unplug_after;  // after this many port accesses the bus floats
  std::uint32_t stuck_relays = 0;       // relay word bits whose relay never closes (stuck-relay=N)
  std::array<bool, 2> noisy_channel{};  // the channel's amplifier adds 6 LSB rms of noise
  std::array<bool, 2> dead_channel{};   // the channel's amplifier passes nothing
  bool drifting_reference = false;      // the DC-level DACs' reference drifts after power-on
  std::uint64_t bus_access_ns = 0;      // a slow bus: each access takes this long (slow-bus=US)

  // Parses a comma list such as "stuck-busy,unplug-after=500". An empty list is no fault. On a
  // malformed list returns nothing and says what is wrong in *error.
  static std::optional<FaultSet> Parse(std::string_view text, std::string* error);
};

}  // namespace vm316::sim
