// The board's interval timer (8254 type: three 16-bit counters) and the timer select register
// that sits in front of it. Both clock routines program the timer through this unit only.
//
// The select register (control unit register 2) is write-only and carries three fields that
// belong to different routines: the timer address (which 8254 register the next data bytes
// reach), the sample-clock source and the square-wave enable. It is therefore written through
// one library-wide shadow byte, and each routine rewrites only its own fields of it.
#pragma once

#include <cstdint>

#include "port/port_io.h"

namespace vm316 {

// ---- TimerSelectRegister fields
// Bits 0-1, TimerAddress: the 8254 register that TimerDataRegister bytes reach.
inline constexpr std::uint8_t kTimerAddressMask = 0x03;
enum TimerAddress : std::uint8_t {
  kTimerCounter0 = 0,  // sample-rate divisor
  kTimerCounter1 = 1,  // fixed /100 prescaler
  kTimerCounter2 = 2,  // square-wave divisor
  kTimerControlWordAddress = 3,
};
// Bits 2-4, ClockSource: what clocks the converters.
inline constexpr int kClockSourceShift = 2;
inline constexpr std::uint8_t kClockSourceMask = 0x1C;
enum ClockSource : std::uint8_t {
  kClockSource20MHz = 0,
  kClockSource10MHz = 1,
  kClockSource4MHz = 2,
  kClockSourceCounter0 = 3,           // counter 0 counting the 4 MHz clock
  kClockSourcePrescaledCounter0 = 4,  // counter 0 counting counter 1's output (40 kHz)
};
// Bit 5, SquareWaveEnable: counter 2's output on the square-wave connector.
inline constexpr std::uint8_t kSquareWaveEnable = 0x20;

constexpr std::uint8_t ClockSourceBits(ClockSource source) {
  return static_cast<std::uint8_t>(source << kClockSourceShift);
}

// ---- 8254 control words: counter select (bits 6-7), access (bits 4-5), mode (bits 1-3), BCD
inline constexpr int kCounterSelectShift = 6;
inline constexpr std::uint8_t kAccessLowThenHigh = 0x30;
inline constexpr int kCounterModeShift = 1;
inline constexpr std::uint8_t kModeRateGenerator = 2;
inline constexpr std::uint8_t kModeSquareWave = 3;
inline constexpr std::uint8_t kCountBinary = 0x00;

constexpr std::uint8_t TimerControlWord(TimerAddress counter, std::uint8_t mode) {
  return static_cast<std::uint8_t>((counter << kCounterSelectShift) | kAccessLowThenHigh |
                                   (mode << kCounterModeShift) | kCountBinary);
}

inline constexpr std::uint8_t kSampleDivisorWord =
    TimerControlWord(kTimerCounter0, kModeSquareWave);
// A divisor of 3 in mode 3 gives an uneven square wave; mode 2 keeps the pulses evenly spaced.
inline constexpr std::uint8_t kSampleDivisorRateWord =
    TimerControlWord(kTimerCounter0, kModeRateGenerator);
inline constexpr std::uint8_t kPrescalerWord = TimerControlWord(kTimerCounter1, kModeSquareWave);
inline constexpr std::uint8_t kSquareWaveWord = TimerControlWord(kTimerCounter2, kModeSquareWave);
static_assert(kSampleDivisorWord == 0x36 && kSampleDivisorRateWord == 0x34 &&
              kPrescalerWord == 0x76 && kSquareWaveWord == 0xB6);

// The last value written to TimerSelectRegister. It starts at 0 when the library loads and is
// never reset: it mirrors the register, whichever routine wrote it last.
std::uint8_t& TimerSelectShadow();

// shadow := (shadow AND keep) OR bits, then written to TimerSelectRegister.
void WriteTimerSelect(port::PortIo& io, std::uint8_t& shadow, std::uint8_t keep, std::uint8_t bits);

// Addresses the 8254 control register (keeping the shadow's `keep` bits and setting `enable`)
// and writes one control word to it.
void WriteTimerControl(port::PortIo& io, std::uint8_t& shadow, std::uint8_t keep,
                       std::uint8_t enable, std::uint8_t word);

// Addresses one counter and loads its 16-bit count, low byte then high byte, into the still
// selected TimerDataRegister.
void WriteTimerCount(port::PortIo& io, std::uint8_t& shadow, std::uint8_t keep, std::uint8_t enable,
                     TimerAddress counter, std::uint16_t count);

}  // namespace vm316
