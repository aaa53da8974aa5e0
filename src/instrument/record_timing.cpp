#include "instrument/record_timing.h"

#include <algorithm>
#include <cmath>

#include "platform/clock.h"

namespace vm316 {
namespace {

constexpr long double kMsPerSecond = 1000.0L;
constexpr long double kUsPerSecond = 1000000.0L;
constexpr long double kUsPerMs = 1000.0L;
// The board's crystal and the system's clock each keep time within 100 ppm; a thousandth
// covers both with room to spare.
constexpr long double kClockTolerance = 1.001L;
// Two reads of the fine clock d apart prove d - 1 us; the rest is margin.
constexpr long double kHoldOffMarginUs = 4.0L;
// The host's own steps around a record: relay settling after reprogramming, the second arm that
// follows it, the acquisition timer's cadence.
constexpr long double kRecordSlackMs = 1000.0L;
// Beyond any record (32 760 samples at the slowest clock take about 15 hours): a bound that
// keeps the microseconds far from overflow whatever clock value comes in.
constexpr long double kLongestHoldOffUs = 1.0e15L;

long double SamplesMs(long double clock_hz, long double samples) {
  return samples / clock_hz * kMsPerSecond * kClockTolerance;
}

bool UsableClock(long double clock_hz) {
  return std::isfinite(clock_hz) && clock_hz > 0.0L;
}

}  // namespace

bool TimeOutForces(long double timeout_s) {
  return timeout_s >= 0.0L && timeout_s < kNeverForceTimeOut;
}

std::uint64_t HoldOffUs(long double clock_hz, std::int32_t pre_samples) {
  if (pre_samples <= 0 || !UsableClock(clock_hz)) return 0;
  const long double us =
      std::ceil(SamplesMs(clock_hz, pre_samples + 1.0L) * kUsPerMs) + kHoldOffMarginUs;
  return static_cast<std::uint64_t>(std::min(us, kLongestHoldOffUs));
}

std::uint64_t SoonestCompletionUs(long double clock_hz, std::int32_t count) {
  if (count <= 0 || !UsableClock(clock_hz)) return 0;
  const long double us = std::floor(count / clock_hz * kUsPerSecond / kClockTolerance);
  return static_cast<std::uint64_t>(std::min(us, kLongestHoldOffUs));
}

long double RecordBoundMs(long double clock_hz, std::int32_t pre_samples, std::int32_t post_samples,
                          long double timeout_s) {
  if (!UsableClock(clock_hz)) return kRecordSlackMs;
  long double bound = HoldOffUs(clock_hz, pre_samples) / kUsPerMs + kRecordSlackMs;
  if (TimeOutForces(timeout_s)) bound += timeout_s * kMsPerSecond + platform::TickStepMs();
  const long double after_trigger =
      std::max<std::int32_t>(post_samples, 0) + kStopLatencySamples + kForcedTriggerEdges;
  return bound + SamplesMs(clock_hz, after_trigger);
}

}  // namespace vm316
