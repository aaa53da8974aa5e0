#include "sim/time_base.h"

#include <algorithm>
#include <limits>

namespace vm316::sim {

std::uint64_t SampleClock::FirstEdgeAfter(std::uint64_t t_ns) const {
  if (!IsRunning()) return std::numeric_limits<std::uint64_t>::max();
  if (t_ns < origin_ns) return origin_ns;
  return origin_ns + ((t_ns - origin_ns) / period_ns + 1) * period_ns;
}

SampleClock TimeBase::CurrentSampleClock() const {
  switch (ClockSource()) {
    case kSource20MHz:
      return {k20MHzPeriodNs, 0};
    case kSource10MHz:
      return {k10MHzPeriodNs, 0};
    case kSource4MHz:
      return {k4MHzPeriodNs, 0};
    case kSourceCounter0: {
      const std::uint32_t n = pit_.Divisor(kSampleDivider);
      if (n == 0) return {};
      return {k4MHzPeriodNs * n, pit_.CounterAt(kSampleDivider).load_ns};
    }
    case kSourceCounter0Prescaled: {
      const std::uint32_t n0 = pit_.Divisor(kSampleDivider);
      const std::uint32_t n1 = pit_.Divisor(kPrescaler);
      if (n0 == 0 || n1 == 0) return {};
      return {k4MHzPeriodNs * n1 * n0,
              std::max(pit_.CounterAt(kSampleDivider).load_ns, pit_.CounterAt(kPrescaler).load_ns)};
    }
    default:
      return {};  // sources 5..7 are not wired: the recorder gets no clock
  }
}

SquareWaveOutput TimeBase::CurrentSquareWave() const {
  const std::uint32_t n = pit_.Divisor(kSquareWave);
  if ((select_ & kSquareWaveEnable) == 0 || n == 0) return {};
  return {k4MHzPeriodNs * n, k4MHzPeriodNs * pit_.HighCycles(kSquareWave),
          pit_.CounterAt(kSquareWave).load_ns};
}

}  // namespace vm316::sim
