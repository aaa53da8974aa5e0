#include "sim/front_end_bus.h"

namespace vm316::sim {
namespace {

constexpr double kDacVoltsPerStep = 5.0 / 2048.0;
constexpr std::array<std::uint8_t, 2> kDacSelect = {FrontEndBus::kDcDacSelectCh1,
                                                    FrontEndBus::kDcDacSelectCh2};

bool Rose(std::uint8_t before, std::uint8_t after, std::uint8_t line) {
  return (before & line) == 0 && (after & line) != 0;
}
bool Fell(std::uint8_t before, std::uint8_t after, std::uint8_t line) {
  return Rose(after, before, line);
}

}  // namespace

bool FrontEndBus::Write(std::uint8_t lines) {
  const std::uint8_t before = lines_;
  lines_ = lines;
  const std::uint32_t data = (lines & kSerialData) != 0 ? 1 : 0;
  bool took_over = false;

  if (Rose(before, lines, kSerialClock)) {
    // The relay shift register has no select: every clock edge moves it, and only the latch
    // decides which 20 bits reach the relays.
    relay_shift_ = (relay_shift_ << 1) | data;
    if ((lines & kTrimDacSelect) != 0) trim_shift_ = (trim_shift_ << 1) | data;
  }
  if (Fell(before, lines, kSerialClock)) {
    for (int ch = 0; ch < 2; ++ch) {
      if ((lines & kDacSelect[ch]) != 0) {
        dac_shift_[ch] = static_cast<std::uint16_t>((dac_shift_[ch] << 1) | data);
      }
    }
  }
  if (Rose(before, lines, kRelayLatch)) {
    relay_word_ = relay_shift_ & kRelayMask;
    took_over = true;
  }
  if (Fell(before, lines, kTrimDacSelect)) {
    // The last 16 bits: the first trim went in first, so it sits in the upper byte.
    trims_[0] = static_cast<std::uint8_t>(trim_shift_ >> 8);
    trims_[1] = static_cast<std::uint8_t>(trim_shift_);
    took_over = true;
  }
  for (int ch = 0; ch < 2; ++ch) {
    if (Fell(before, lines, kDacSelect[ch])) {
      dac_code_[ch] = dac_shift_[ch] & kDacMask;
      took_over = true;
    }
  }
  return took_over;
}

int FrontEndBus::DcLevelDacValue(int channel) const {
  const int code = DcLevelDacCode(channel);
  return code >= 0x800 ? code - 0x1000 : code;
}

double FrontEndBus::DcLevelDacVolts(int channel) const {
  return DcLevelDacValue(channel) * kDacVoltsPerStep;
}

}  // namespace vm316::sim
