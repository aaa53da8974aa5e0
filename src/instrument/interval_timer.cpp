#include "instrument/interval_timer.h"

namespace vm316 {

namespace {
std::uint8_t timer_select_shadow = 0;
}  // namespace

std::uint8_t& TimerSelectShadow() {
  return timer_select_shadow;
}

void WriteTimerSelect(port::PortIo& io, std::uint8_t& shadow, std::uint8_t keep,
                      std::uint8_t bits) {
  shadow = static_cast<std::uint8_t>((shadow & keep) | bits);
  io.WriteRegister(port::kControlUnit, port::kTimerSelectRegister, shadow);
}

void WriteTimerControl(port::PortIo& io, std::uint8_t& shadow, std::uint8_t keep,
                       std::uint8_t enable, std::uint8_t word) {
  WriteTimerSelect(io, shadow, keep, enable | kTimerControlWordAddress);
  io.WriteRegister(port::kControlUnit, port::kTimerDataRegister, word);
}

void WriteTimerCount(port::PortIo& io, std::uint8_t& shadow, std::uint8_t keep, std::uint8_t enable,
                     TimerAddress counter, std::uint16_t count) {
  WriteTimerSelect(io, shadow, keep, enable | counter);
  io.WriteRegister(port::kControlUnit, port::kTimerDataRegister,
                   static_cast<std::uint8_t>(count & 0xFF));
  io.WriteData(port::kControlUnit, static_cast<std::uint8_t>(count >> 8));
}

}  // namespace vm316
