// The recorder side of the board as the setup writer and the readout drive it: the trigger
// select codes, and the write-only registers mirrored in library-wide shadows (the ModeRegister
// shadow and the last comparator settings of each channel unit).
#pragma once

#include <cstdint>

#include "instrument/global.h"
#include "port/port_io.h"

namespace vm316 {

// What ProgramTriggerComparators last wrote into one channel unit.
struct ComparatorSettings {
  std::uint8_t mode = 0;
  std::uint8_t hysteresis_level = 0;
  std::uint8_t trigger_level = 0;
};

// The shadows live as long as the library; the accessors let tests read them.
std::uint8_t ModeRegisterShadow();
const ComparatorSettings& ComparatorShadow(int unit);  // unit 1 or 2

// ModeRegister := mode, through its shadow (the register cannot be read back).
void WriteModeRegister(port::PortIo& io, std::uint8_t mode);

// The code TriggerRegister receives at arm for a trigger source.
std::uint8_t TriggerSelectCode(TTrigSource source);

// Where the readout starts: the sample memory is circular, so a start before address 0 lies
// at the top of the memory.
std::uint16_t RecordStartAddress(std::int32_t end, std::int32_t post_samples,
                                 std::int32_t pre_samples, TTrigSource active_source);

}  // namespace vm316
