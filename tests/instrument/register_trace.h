// Turns a port log into the register writes the board sees: a number written to a unit's index
// port selects a register, and each byte to its data port lands there.
#pragma once

#include <cstdint>
#include <vector>

#include "support/recording_backend.h"

namespace vm316::testing {

struct RegisterWrite {
  int unit;  // 0 control, 1 channel-1 unit, 2 channel-2 unit
  std::uint8_t reg;
  std::uint8_t value;
  bool operator==(const RegisterWrite&) const = default;
};

inline std::vector<RegisterWrite> RegisterWrites(const std::vector<PortAccess>& log,
                                                 std::uint16_t base) {
  std::vector<RegisterWrite> writes;
  int selected[3] = {-1, -1, -1};
  for (const PortAccess& access : log) {
    if (!access.write) continue;
    const int offset = static_cast<std::uint16_t>(access.port - base);
    const int index_unit = offset == 0 ? 0 : offset == 4 ? 1 : offset == 6 ? 2 : -1;
    const int data_unit = offset == 1 ? 0 : offset == 5 ? 1 : offset == 7 ? 2 : -1;
    if (index_unit >= 0) selected[index_unit] = access.value;
    if (data_unit >= 0) {
      writes.push_back({data_unit, static_cast<std::uint8_t>(selected[data_unit]), access.value});
    }
  }
  return writes;
}

// The same without the interval timer's registers (select and data), which the clock routines
// own.
inline std::vector<RegisterWrite> WithoutTimer(const std::vector<RegisterWrite>& writes) {
  std::vector<RegisterWrite> kept;
  for (const RegisterWrite& w : writes) {
    if (w.unit == 0 && (w.reg == 2 || w.reg == 6)) continue;
    kept.push_back(w);
  }
  return kept;
}

}  // namespace vm316::testing
