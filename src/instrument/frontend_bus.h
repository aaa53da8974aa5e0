// The front-end serial bus: one bit-banged bus on the channel-1 unit's data port that reaches
// the gain-trim DAC pair, the relay shift register and the two DC-level DACs. This unit knows
// the line bits and the exact byte sequence of each of the three writes; frontend.cpp only
// selects the bus and sends the bytes. Every value goes out most significant bit first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vm316::frontend_bus {

// The bus lines, one bit each in the bytes written to the channel-1 data port.
inline constexpr std::uint8_t kSerialData = 0x01;
inline constexpr std::uint8_t kSerialClock = 0x02;
inline constexpr std::uint8_t kDcDacSelectCh1 = 0x04;
inline constexpr std::uint8_t kDcDacSelectCh2 = 0x08;
inline constexpr std::uint8_t kRelayLatch = 0x10;
inline constexpr std::uint8_t kTrimDacSelect = 0x20;
inline constexpr std::uint8_t kIdle = 0x40;  // this line is always high

// Widths of the values shifted out.
inline constexpr int kTrimBits = 8;         // each of the two gain trims
inline constexpr int kRelayWordBits = 20;   // the relay word
inline constexpr int kDcDacFrameBits = 16;  // 12-bit DAC code, the top four bits 0

// The DC-level DAC: 12 bits spanning -5 V .. +5 V x 2047/2048, sent in two's complement.
inline constexpr long double kDcDacFullScaleVolts = 5.0L;
inline constexpr std::int32_t kDcDacHalfCode = 2048;
inline constexpr std::int32_t kDcDacMaxCode = 4095;
inline constexpr std::uint16_t kDcDacSignFlip = 0x800;  // offset binary -> two's complement

inline constexpr std::size_t kGainTrimBytes = 3 + 2 * 2 * kTrimBits + 2;
inline constexpr std::size_t kRelayWordBytes = 1 + 2 * kRelayWordBits + 2;
inline constexpr std::size_t kDcLevelDacBytes = 1 + 2 * kDcDacFrameBits + 1;

inline constexpr std::uint8_t DataBit(std::uint32_t value, int bit) {
  return static_cast<std::uint8_t>((value >> bit) & kSerialData);
}

// The gain-trim pair: select, then the 8 bits of first and the 8 bits of second, each with the
// clock low and then high, then deselect.
inline constexpr std::array<std::uint8_t, kGainTrimBytes> GainTrimSequence(std::uint8_t first,
                                                                           std::uint8_t second) {
  constexpr std::uint8_t kSelected = kIdle | kTrimDacSelect;
  std::array<std::uint8_t, kGainTrimBytes> bytes{};
  std::size_t n = 0;
  bytes[n++] = kIdle;
  bytes[n++] = kSelected;
  bytes[n++] = kSelected | kSerialClock;
  for (const std::uint8_t value : {first, second}) {
    for (int bit = kTrimBits - 1; bit >= 0; --bit) {
      const std::uint8_t data = DataBit(value, bit);
      bytes[n++] = static_cast<std::uint8_t>(kSelected | data);
      bytes[n++] = static_cast<std::uint8_t>(kSelected | kSerialClock | data);
    }
  }
  bytes[n++] = kSelected;
  bytes[n++] = kIdle;
  return bytes;
}

// The relay word: its 20 bits into the shift register (clock low, then high), then the latch.
inline constexpr std::array<std::uint8_t, kRelayWordBytes> RelayWordSequence(std::uint32_t word) {
  std::array<std::uint8_t, kRelayWordBytes> bytes{};
  std::size_t n = 0;
  bytes[n++] = kIdle;
  for (int bit = kRelayWordBits - 1; bit >= 0; --bit) {
    const std::uint8_t data = DataBit(word, bit);
    bytes[n++] = static_cast<std::uint8_t>(kIdle | data);
    bytes[n++] = static_cast<std::uint8_t>(kIdle | kSerialClock | data);
  }
  bytes[n++] = kIdle | kRelayLatch;
  bytes[n++] = kIdle;
  return bytes;
}

// One DC-level DAC: selected with the clock high; each bit is set with the clock high and
// taken on its falling edge.
inline constexpr std::array<std::uint8_t, kDcLevelDacBytes> DcLevelDacSequence(std::uint8_t select,
                                                                               std::uint16_t code) {
  std::array<std::uint8_t, kDcLevelDacBytes> bytes{};
  std::size_t n = 0;
  bytes[n++] = static_cast<std::uint8_t>(kIdle | kSerialClock | select);
  for (int bit = kDcDacFrameBits - 1; bit >= 0; --bit) {
    const std::uint8_t data = DataBit(code, bit);
    bytes[n++] = static_cast<std::uint8_t>(kIdle | kSerialClock | select | data);
    bytes[n++] = static_cast<std::uint8_t>(kIdle | select | data);
  }
  bytes[n++] = kIdle;
  return bytes;
}

}  // namespace vm316::frontend_bus
