// The time base and the shape of a record. The converters run on one of three fixed clocks
// (20, 10, 4 MHz) or on the interval timer's counter 0 dividing 4 MHz, or 40 kHz through the
// /100 prescaler of counter 1. Counter 2 of the same timer drives the square-wave output.
#include <cmath>
#include <cstdint>

#include "instrument/interval_timer.h"
#include "instrument/rounding.h"
#include "instrument/vmx16.h"

namespace vm316 {

namespace {

// The board's clocks.
constexpr long double kFastClock = 20000000.0L;
constexpr long double kHalfClock = 10000000.0L;
constexpr long double kTimerInputClock = 4000000.0L;
constexpr std::uint16_t kPrescalerDivisor = 100;
constexpr long double kPrescaledClock = kTimerInputClock / kPrescalerDivisor;  // 40 kHz

// The fastest rate of counter 0: the 8254 divides by 2 at least.
constexpr long double kHighestDividedRate = kTimerInputClock / 2;
// From 62 Hz up counter 0 divides 4 MHz directly (4 MHz / 62 Hz = 64 516.1 fits 16 bits);
// below it the /100 prescaler of counter 1 joins the chain.
constexpr long double kLowestDirectRate = 62.0L;
constexpr std::uint16_t kLargestCount = 0xFFFF;
// A divisor of 3 in square-wave mode would give uneven pulses.
constexpr std::uint16_t kRateGeneratorCount = 3;
// The slowest rate the divisor chain reaches. A request at or below 40 000 / 65 535.5 Hz, or
// one that is no positive finite number at all, is clamped to it instead of computing a
// divisor that does not fit.
constexpr long double kLowestRate = kPrescaledClock / kLargestCount;
constexpr long double kLowestRoundableRate = kPrescaledClock / (kLargestCount + 0.5L);

// Each clock routine owns its fields of the timer select register and keeps the other's.
constexpr std::uint8_t kSampleClockKeep = kSquareWaveEnable;
constexpr std::uint8_t kSquareWaveKeep = kClockSourceMask;

// The square-wave output's band; a request within kSquareWaveOff of 0 switches it off.
constexpr long double kSquareWaveOff = 1e-9L;
constexpr long double kSquareWaveLowest = 100.0L;
constexpr long double kSquareWaveHighest = 100000.0L;

bool SampleRequestReachable(long double f) {
  return std::isfinite(f) && f > kLowestRoundableRate;
}

// The divisor of base that comes nearest to f; f lies in the divisor chain's band.
std::uint16_t TimerCount(long double base, long double f) {
  return RoundTo<std::uint16_t>(base / f);
}

std::int32_t WrappingDifference(std::int32_t a, std::int32_t b) {
  // The geometry setters accept any count; the difference wraps instead of overflowing.
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

}  // namespace

void TVMx16::ProgramSampleClock(long double& frequency) {
  if (!SampleRequestReachable(frequency)) frequency = kLowestRate;
  if (!PortAccessOk) return;
  std::uint8_t& shadow = TimerSelectShadow();

  if (frequency > kHalfClock) {
    WriteTimerSelect(Io, shadow, kSampleClockKeep, ClockSourceBits(kClockSource20MHz));
    frequency = kFastClock;
    return;
  }
  if (frequency > kTimerInputClock) {
    WriteTimerSelect(Io, shadow, kSampleClockKeep, ClockSourceBits(kClockSource10MHz));
    frequency = kHalfClock;
    return;
  }
  if (frequency > kHighestDividedRate) {
    WriteTimerSelect(Io, shadow, kSampleClockKeep, ClockSourceBits(kClockSource4MHz));
    frequency = kTimerInputClock;
    return;
  }

  const bool prescaled = frequency < kLowestDirectRate;
  const long double base = prescaled ? kPrescaledClock : kTimerInputClock;
  const std::uint16_t count = TimerCount(base, frequency);
  frequency = base / count;

  WriteTimerControl(Io, shadow, kSampleClockKeep, 0,
                    count == kRateGeneratorCount ? kSampleDivisorRateWord : kSampleDivisorWord);
  WriteTimerCount(Io, shadow, kSampleClockKeep, 0, kTimerCounter0, count);
  ClockSource source = kClockSourceCounter0;
  if (prescaled) {
    WriteTimerControl(Io, shadow, kSampleClockKeep, 0, kPrescalerWord);
    WriteTimerCount(Io, shadow, kSampleClockKeep, 0, kTimerCounter1, kPrescalerDivisor);
    source = kClockSourcePrescaledCounter0;
  }
  WriteTimerSelect(Io, shadow, kSampleClockKeep, ClockSourceBits(source));
}

void TVMx16::ProgramSquareWaveClock(long double& frequency) {
  if (!PortAccessOk) return;
  std::uint8_t& shadow = TimerSelectShadow();

  if (std::fabs(frequency) <= kSquareWaveOff) {
    WriteTimerSelect(Io, shadow, kSquareWaveKeep, kTimerControlWordAddress);
    return;
  }
  if (frequency > kSquareWaveHighest) {
    frequency = kSquareWaveHighest;
  } else if (!(frequency >= kSquareWaveLowest)) {  // also a request that is no number
    frequency = kSquareWaveLowest;
  }
  const std::uint16_t count = TimerCount(kTimerInputClock, frequency);
  frequency = kTimerInputClock / count;

  WriteTimerControl(Io, shadow, kSquareWaveKeep, kSquareWaveEnable, kSquareWaveWord);
  WriteTimerCount(Io, shadow, kSquareWaveKeep, kSquareWaveEnable, kTimerCounter2, count);
  WriteTimerSelect(Io, shadow, kSquareWaveKeep, kSquareWaveEnable | kTimerControlWordAddress);
}

long double TVMx16::SampleFreq() const {
  return DoubleRate ? ClockFrequency * 2 : ClockFrequency;
}

void TVMx16::SetSampleFrequencyValue(long double x) {
  if (x == LastSetFrequency) return;
  LastSetFrequency = x;
  ClockFrequency = x;
  DoubleRate = false;
  long double achieved = x;
  ProgramSampleClock(achieved);
  if (achieved != ClockFrequency) {
    ClockFrequency = achieved;
    LastSetFrequency = achieved;
  }
  SettingsChanged();
}

void TVMx16::SetPreSamples(std::int32_t value) {
  if (value == lPreSamples) return;
  lPreSamples = value;
  SettingsChanged();
}

void TVMx16::SetPostSamples(std::int32_t value) {
  if (value == lPostSamples) return;
  lPostSamples = value;
  SetPreSamples(WrappingDifference(lRecordLength, value));
  SettingsChanged();
}

void TVMx16::SetRecordLength(std::int32_t value) {
  if (value == lRecordLength) return;
  lRecordLength = value;
  SetPreSamples(WrappingDifference(value, lPostSamples));
  SettingsChanged();
}

void TVMx16::SetTransSampleTime(long double value) {
  if (value != rTransSampleTime) rTransSampleTime = value;
}

}  // namespace vm316
