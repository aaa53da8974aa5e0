// The board's time base: the clock select register (TimerSelectRegister) and the interval timer
// behind TimerDataRegister. It decides the sample clock the recorder runs on and the square-wave
// output; both follow only from what was programmed here.
#pragma once

#include <cstdint>

#include "sim/pit8254.h"
#include "sim/signal.h"

namespace vm316::sim {

// A periodic clock: edges at origin_ns + k * period_ns. A period of 0 means no clock at all.
struct SampleClock {
  std::uint64_t period_ns = 0;
  std::uint64_t origin_ns = 0;

  bool IsRunning() const { return period_ns != 0; }
  double FrequencyHz() const { return IsRunning() ? 1e9 / static_cast<double>(period_ns) : 0.0; }
  // The first edge strictly after t_ns, or UINT64_MAX without a clock.
  std::uint64_t FirstEdgeAfter(std::uint64_t t_ns) const;
  bool operator==(const SampleClock&) const = default;
};

class TimeBase {
 public:
  // TimerSelectRegister fields.
  static constexpr std::uint8_t kTimerAddressMask = 0x03;
  static constexpr std::uint8_t kClockSourceShift = 2;
  static constexpr std::uint8_t kClockSourceMask = 0x07;
  static constexpr std::uint8_t kSquareWaveEnable = 0x20;

  // Clock sources (TimerSelectRegister bits 2-4).
  static constexpr std::uint8_t kSource20MHz = 0;
  static constexpr std::uint8_t kSource10MHz = 1;
  static constexpr std::uint8_t kSource4MHz = 2;
  static constexpr std::uint8_t kSourceCounter0 = 3;           // counter 0 counting 4 MHz
  static constexpr std::uint8_t kSourceCounter0Prescaled = 4;  // counter 0 counting counter 1

  // The crystal periods: 20 MHz, 10 MHz and the 4 MHz that feeds the interval timer.
  static constexpr std::uint64_t k20MHzPeriodNs = 50;
  static constexpr std::uint64_t k10MHzPeriodNs = 100;
  static constexpr std::uint64_t k4MHzPeriodNs = 250;

  static constexpr int kSampleDivider = 0;  // counter 0
  static constexpr int kPrescaler = 1;      // counter 1
  static constexpr int kSquareWave = 2;     // counter 2

  void WriteSelect(std::uint8_t value) { select_ = value; }
  // A byte to TimerDataRegister: it reaches the timer register that the select bits 0-1 name.
  void WriteData(std::uint8_t value, std::uint64_t now_ns) {
    pit_.Write(select_ & kTimerAddressMask, value, now_ns);
  }

  std::uint8_t Select() const { return select_; }
  std::uint8_t ClockSource() const { return (select_ >> kClockSourceShift) & kClockSourceMask; }
  const Pit8254& Pit() const { return pit_; }

  SampleClock CurrentSampleClock() const;
  // The output as board-absolute times; off unless enabled and counter 2 runs.
  SquareWaveOutput CurrentSquareWave() const;

 private:
  std::uint8_t select_ = 0;
  Pit8254 pit_;
};

}  // namespace vm316::sim
