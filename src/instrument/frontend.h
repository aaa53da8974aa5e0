// The analog front end: its relay tables, the calibration substitutes the search loops patch
// into them, and the conversion of a DC-level voltage into the code its DAC receives. The
// tables are library-wide, restored with the port set and at the end of each search loop.
#pragma once

#include <cstdint>

#include "instrument/vmx16.h"

namespace vm316 {

extern PerRange<std::uint32_t> RangeBitsCh1;
extern PerRange<std::uint32_t> RangeBitsCh2;

// Puts the relay tables back to the patterns of the input ranges.
void RestoreRelayTables();

// Ranges 1..6 with the inputs opened, as the offset search needs them: channel 1 is fed from a
// reference, channel 2 keeps its input.
void ApplyOffsetSearchSubstitutes();
// Ranges 1..6 with both inputs opened, each channel fed from the other's DC-level DAC.
void ApplyGainSearchSubstitutes();

// Relay-word bits outside the range tables.
inline constexpr std::uint32_t kRelayCouplingCh1 = 0x1000;  // Coupling[1] = 1
inline constexpr std::uint32_t kRelayCouplingCh2 = 0x2000;  // Coupling[2] = 1
// Double rate moves converter 2 from channel 2 to channel 1.
inline constexpr std::uint32_t kRelayCh1ToConverter2 = 0x100;
inline constexpr std::uint32_t kRelayCh2ToConverter2 = 0x80;

// Time the relays take to settle after the relay word is latched.
inline constexpr std::int32_t kRelaySettleMs = 10;

// The 12-bit code (two's complement, as the DAC takes it) for a DC-level voltage: the volts are
// scaled to the DAC's span, clamped into it, then rounded.
std::uint16_t DcLevelDacCode(long double volts);

}  // namespace vm316
