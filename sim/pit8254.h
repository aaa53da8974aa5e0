// The board's programmable interval timer, an 8254: three 16-bit down counters programmed
// through one control-word register. The board only needs what each counter's output does (a
// periodic clock of input / N in modes 2 and 3), not the individual counts, so a counter keeps
// its divisor and the time its count was loaded, and nothing ticks.
#pragma once

#include <array>
#include <cstdint>

namespace vm316::sim {

class Pit8254 {
 public:
  static constexpr int kCounterCount = 3;
  static constexpr std::uint8_t kControlAddress = 3;

  // Control-word fields.
  static constexpr std::uint8_t kSelectShift = 6;  // bits 7-6: counter, 3 = read-back
  static constexpr std::uint8_t kAccessShift = 4;  // bits 5-4: 0 latch, 1 LSB, 2 MSB, 3 both
  static constexpr std::uint8_t kModeShift = 1;    // bits 3-1: counting mode
  static constexpr std::uint8_t kBcdBit = 0x01;    // bit 0: BCD counting
  static constexpr std::uint8_t kReadBack = 3;
  static constexpr std::uint8_t kAccessLatch = 0;
  static constexpr std::uint8_t kAccessLow = 1;
  static constexpr std::uint8_t kAccessHigh = 2;
  static constexpr std::uint8_t kAccessLowHigh = 3;
  static constexpr std::uint8_t kModeRateGenerator = 2;
  static constexpr std::uint8_t kModeSquareWave = 3;

  struct Counter {
    std::uint8_t control = 0;  // the last control word that reached this counter
    std::uint8_t mode = 0;     // 0..5
    std::uint8_t access = kAccessLowHigh;
    bool bcd = false;
    bool loaded = false;        // a complete count arrived after the last control word
    bool low_pending = false;   // low byte of a low-then-high count arrived, high byte awaited
    std::uint16_t count = 0;    // the count as written (0 stands for the largest count)
    std::uint64_t load_ns = 0;  // when the count was complete: the output starts then
  };

  // One byte to address 0..2 (a counter's count) or 3 (a control word), at board time now_ns.
  void Write(std::uint8_t address, std::uint8_t value, std::uint64_t now_ns);

  const Counter& CounterAt(int index) const { return counters_[index]; }

  // Input cycles per output period, or 0 when the counter gives no periodic output (no count
  // loaded yet, or a mode other than rate generator or square wave).
  std::uint32_t Divisor(int index) const;

  // Input cycles per period during which the output is high (the square wave's first half).
  std::uint32_t HighCycles(int index) const;

 private:
  std::array<Counter, kCounterCount> counters_{};
};

}  // namespace vm316::sim
