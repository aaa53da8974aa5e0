#include "instrument/record_timing.h"

#include <algorithm>
#include <cmath>

#include "platform/clock.h"

namespace vm316 {
namespace {

constexpr long double kMsPerSecond = 1000.0L;
// The board's crystal and the system's tick source each keep time within 100 ppm; a thousandth
// covers both with room to spare.
constexpr long double kClockTolerance = 1.001L;
constexpr std::uint32_t kHoldOffMarginMs = 1;
// The host's own steps around a record: relay settling after reprogramming, the second arm that
// follows it, the acquisition timer's cadence.
constexpr long double kRecordSlackMs = 1000.0L;
// The longest hold-off the tick counter can time: past it the wait is simply that long.
constexpr long double kLongestHoldOffMs = 4.0e9L;

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

std::uint32_t HoldOffMs(long double clock_hz, std::int32_t pre_samples) {
  if (pre_samples <= 0 || !UsableClock(clock_hz)) return 0;
  const long double ms = std::ceil(SamplesMs(clock_hz, pre_samples + 1.0L)) +
                         platform::TickStepMs() + kHoldOffMarginMs;
  return static_cast<std::uint32_t>(std::min(ms, kLongestHoldOffMs));
}

long double RecordBoundMs(long double clock_hz, std::int32_t pre_samples, std::int32_t post_samples,
                          long double timeout_s) {
  if (!UsableClock(clock_hz)) return kRecordSlackMs;
  long double bound = HoldOffMs(clock_hz, pre_samples) + kRecordSlackMs;
  if (TimeOutForces(timeout_s)) bound += timeout_s * kMsPerSecond + platform::TickStepMs();
  const long double after_trigger =
      std::max<std::int32_t>(post_samples, 0) + kStopLatencySamples + kForcedTriggerEdges;
  return bound + SamplesMs(clock_hz, after_trigger);
}

}  // namespace vm316
