#include "sim/pit8254.h"

namespace vm316::sim {
namespace {

// A BCD count of four digits; digits above 9 count as 9, as near as the part comes.
std::uint32_t FromBcd(std::uint16_t count) {
  std::uint32_t value = 0;
  for (int shift = 12; shift >= 0; shift -= 4) {
    std::uint32_t digit = (count >> shift) & 0xF;
    value = value * 10 + (digit > 9 ? 9 : digit);
  }
  return value;
}

}  // namespace

void Pit8254::Write(std::uint8_t address, std::uint8_t value, std::uint64_t now_ns) {
  if (address == kControlAddress) {
    const std::uint8_t select = value >> kSelectShift;
    const std::uint8_t access = (value >> kAccessShift) & 0x3;
    // Read-back and counter-latch commands only matter for reading counts, which this board
    // does not offer.
    if (select == kReadBack || access == kAccessLatch) return;
    Counter& counter = counters_[select];
    counter.control = value;
    counter.access = access;
    // Modes 6 and 7 are the part's aliases of modes 2 and 3.
    const std::uint8_t mode = (value >> kModeShift) & 0x7;
    counter.mode = mode >= 6 ? mode - 4 : mode;
    counter.bcd = (value & kBcdBit) != 0;
    // A new control word stops the counter until its count is complete.
    counter.loaded = false;
    counter.low_pending = false;
    return;
  }
  if (address >= kCounterCount) return;
  Counter& counter = counters_[address];
  switch (counter.access) {
    case kAccessLow:
      counter.count = value;
      break;
    case kAccessHigh:
      counter.count = static_cast<std::uint16_t>(value << 8);
      break;
    default:
      if (!counter.low_pending) {
        counter.count = (counter.count & 0xFF00) | value;
        counter.low_pending = true;
        counter.loaded = false;
        return;
      }
      counter.count = static_cast<std::uint16_t>((counter.count & 0x00FF) | (value << 8));
      counter.low_pending = false;
      break;
  }
  counter.loaded = true;
  counter.load_ns = now_ns;
}

std::uint32_t Pit8254::Divisor(int index) const {
  const Counter& counter = counters_[index];
  if (!counter.loaded) return 0;
  if (counter.mode != kModeRateGenerator && counter.mode != kModeSquareWave) return 0;
  std::uint32_t n = counter.bcd ? FromBcd(counter.count) : counter.count;
  if (n == 0) n = counter.bcd ? 10000 : 65536;
  // A count of 1 is not allowed in these modes: the output stays put.
  return n < 2 ? 0 : n;
}

std::uint32_t Pit8254::HighCycles(int index) const {
  const std::uint32_t n = Divisor(index);
  if (n == 0) return 0;
  // Mode 3 stays high one cycle longer on an odd count; mode 2 drops for one cycle per period.
  return counters_[index].mode == kModeSquareWave ? (n + 1) / 2 : n - 1;
}

}  // namespace vm316::sim
