// The front-end serial bus: the lines that base+5 drives while register 3 of unit 1 is
// selected, and the three devices on them. The gain-trim DAC pair and the relay shift register
// take data on the rising clock edge, the DC-level DACs on the falling edge; each device takes
// over what it shifted in when its select (or the relay latch) line changes.
#pragma once

#include <array>
#include <cstdint>

namespace vm316::sim {

class FrontEndBus {
 public:
  // The bus lines, one bit each.
  static constexpr std::uint8_t kSerialData = 0x01;
  static constexpr std::uint8_t kSerialClock = 0x02;
  static constexpr std::uint8_t kDcDacSelectCh1 = 0x04;
  static constexpr std::uint8_t kDcDacSelectCh2 = 0x08;
  static constexpr std::uint8_t kRelayLatch = 0x10;
  static constexpr std::uint8_t kTrimDacSelect = 0x20;
  static constexpr std::uint8_t kIdle = 0x40;

  static constexpr int kRelayBits = 20;
  static constexpr std::uint32_t kRelayMask = (1u << kRelayBits) - 1;
  static constexpr std::uint16_t kDacMask = 0x0FFF;
  static constexpr std::uint8_t kTrimPowerOn = 127;

  // New levels of all lines at once. True when a device took over a new value.
  bool Write(std::uint8_t lines);

  std::uint32_t RelayWord() const { return relay_word_; }
  // The 12-bit code of a channel's DC-level DAC as shifted in (two's complement).
  std::uint16_t DcLevelDacCode(int channel) const { return dac_code_[channel - 1]; }
  // That code as a signed number, -2048..2047.
  int DcLevelDacValue(int channel) const;
  // The DAC's output: value x 5/2048 V.
  double DcLevelDacVolts(int channel) const;
  // The trim of converter 1 (the first value sent) or converter 2 (the second).
  std::uint8_t GainTrim(int converter) const { return trims_[converter - 1]; }

 private:
  std::uint8_t lines_ = kIdle;
  std::uint32_t relay_shift_ = 0;
  std::uint32_t relay_word_ = 0;
  std::uint32_t trim_shift_ = 0;
  std::array<std::uint8_t, 2> trims_{kTrimPowerOn, kTrimPowerOn};
  std::array<std::uint16_t, 2> dac_shift_{};
  std::array<std::uint16_t, 2> dac_code_{};
};

}  // namespace vm316::sim
