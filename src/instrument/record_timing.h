// How long a record takes on the board: the hold-off after the arm before a trigger may come,
// and the bound within which a sound board completes a record. One rule, used by the blocking
// measurement and offered to hosts (vm316_record_bound_ms), so that no host needs a copy.
#pragma once

#include <cstdint>

namespace vm316 {

// A time-out of this many seconds or more never forces the trigger, as a negative one.
inline constexpr long double kNeverForceTimeOut = 100.0L;

// Sample clock edges from the trigger to the stop, beyond the post-trigger count: the recorder
// writes the trigger sample, two more through the trigger synchroniser and four after the
// count. A forced trigger takes the first edge after the select code reaches the board, one
// more.
inline constexpr std::int32_t kStopLatencySamples = 7;
inline constexpr std::int32_t kForcedTriggerEdges = 1;

// The longest the readout waits for the seek to the record's first sample, in milliseconds.
inline constexpr std::uint32_t kLongestSeekMs = 20;

// The longest hold-off the arming call waits out itself, in microseconds: no longer than the
// readout's own wait for the seek. A longer one ends at the next look at the board after it.
inline constexpr std::uint64_t kLongestArmWaitUs = std::uint64_t{kLongestSeekMs} * 1000;

// How long after the arm (on the fine clock, in microseconds) the pre-trigger part has
// certainly been recorded at a sample clock of clock_hz; 0 without a pre-trigger part. It covers
// one more sample than the part (the first edge comes up to a period after the arm), a
// thousandth for the board's crystal against the system's, and a few microseconds for the fine
// clock's own resolution.
std::uint64_t HoldOffUs(long double clock_hz, std::int32_t pre_samples);

// The soonest a record can be complete, in microseconds after its trigger could first have
// come: count samples (the post-trigger count) at a sample clock of clock_hz that may run a
// thousandth fast.
std::uint64_t SoonestCompletionUs(long double clock_hz, std::int32_t count);

// The longest a sound board takes to complete a record, in milliseconds from the arm: the
// hold-off, the time-out when it forces (timeout_s from 0 up to kNeverForceTimeOut), the
// post-trigger count and the stop latency in periods of the clock, and a second of slack for the
// host's own steps (relay settling, a second arm after reprogramming). With a time-out that never
// forces, the wait for the trigger is the host's choice and not included: the bound then counts
// from the moment the trigger status shows the trigger.
long double RecordBoundMs(long double clock_hz, std::int32_t pre_samples, std::int32_t post_samples,
                          long double timeout_s);

// True when a time-out of timeout_s seconds forces the trigger.
bool TimeOutForces(long double timeout_s);

}  // namespace vm316
