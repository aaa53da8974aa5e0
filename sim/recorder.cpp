#include "sim/recorder.h"

#include "sim/noise.h"

namespace vm316::sim {

Recorder::Recorder(SampleSource& source, bool stuck_busy, std::uint64_t memory_seed)
    : source_(source), stuck_busy_(stuck_busy) {
  // Memory comes up holding whatever the cells settled to.
  for (std::uint32_t address = 0; address < kMemorySize; ++address) {
    const std::uint64_t bits = NoiseBits(memory_seed, address);
    memory_[0][address] = static_cast<std::uint8_t>(bits);
    memory_[1][address] = static_cast<std::uint8_t>(bits >> 8);
  }
}

void Recorder::WriteMode(std::uint8_t mode, std::uint64_t now_ns) {
  mode_ = mode;
  if (mode == kModeArmed) {
    post_count_ = count_;
    primed_ = trigger_select_ == kSelectNow;
    triggered_ = false;
    stopped_ = false;
    remaining_ = 0;
    samples_recorded_ = 0;
    ++arms_;
    for (TriggerComparator& comparator : comparators_) comparator.Reset();
    next_edge_ns_ = clock_.FirstEdgeAfter(now_ns);
  } else if (mode == kModeSeekRun) {
    seek_target_ = count_ & kAddressMask;
    seek_reached_ = counter_ == seek_target_;
    next_edge_ns_ = clock_.FirstEdgeAfter(now_ns);
  }
  // Every other mode stops whatever ran.
}

void Recorder::WriteArm() {
  counter_ = kArmAddress;
  for (TriggerComparator& comparator : comparators_) comparator.Reset();
}

void Recorder::SetSampleClock(const SampleClock& clock, std::uint64_t now_ns) {
  if (clock == clock_) return;
  clock_ = clock;
  next_edge_ns_ = clock_.FirstEdgeAfter(now_ns);
}

std::uint8_t Recorder::Status() const {
  std::uint8_t status = 0;
  const bool done = (mode_ == kModeArmed && stopped_) || (mode_ == kModeSeekRun && seek_reached_);
  if (done && !stuck_busy_) status |= kStatusDone;
  if (comparators_[0].Seen()) status |= kStatusSeenUnit1;
  if (comparators_[1].Seen()) status |= kStatusSeenUnit2;
  return status;
}

RecorderState Recorder::State() const {
  switch (mode_) {
    case kModeSeekLoad:
      return RecorderState::kSeekLoad;
    case kModeSeekRun:
      return seek_reached_ ? RecorderState::kSeekReached : RecorderState::kSeeking;
    case kModeIdleLoad:
      return RecorderState::kIdleLoad;
    case kModeIdle:
      return RecorderState::kIdle;
    case kModeArmed:
      if (stopped_) return RecorderState::kComplete;
      return triggered_ ? RecorderState::kTriggered : RecorderState::kWaitingForTrigger;
    default:
      return RecorderState::kStopped;
  }
}

void Recorder::Run(std::uint64_t now_ns) {
  const std::uint64_t edges = (now_ns - next_edge_ns_) / clock_.period_ns + 1;
  if (mode_ == kModeSeekRun) {
    RunSeek(edges);
  } else {
    Record(edges);
  }
}

void Recorder::RunSeek(std::uint64_t edges) {
  const std::uint64_t distance = (seek_target_ - counter_) & kAddressMask;
  if (edges >= distance) {
    counter_ = seek_target_;
    seek_reached_ = true;
    return;
  }
  counter_ = static_cast<std::uint16_t>((counter_ + edges) & kAddressMask);
  next_edge_ns_ += edges * clock_.period_ns;
}

void Recorder::Record(std::uint64_t edges) {
  // A long wait for the trigger: search its first part sample by sample, then skip to the last
  // memory-full, which is all the memory can keep. An input that can trigger at all (a periodic
  // one) does so within the searched part unless it is very slow against the sample clock.
  if (!triggered_ && edges > kGapSearchSamples + kMemorySize) {
    edges -= RecordSamples(kGapSearchSamples);
    if (!triggered_) edges = SkipAllBut(edges, kMemorySize);
  }
  // A record that never stops keeps only its last memory-full too.
  if (stuck_busy_ && triggered_) edges = SkipAllBut(edges, kMemorySize);
  RecordSamples(edges);
}

std::uint64_t Recorder::RecordSamples(std::uint64_t edges) {
  std::uint64_t done = 0;
  while (done < edges && !stopped_) {
    RecordOne();
    ++done;
  }
  return done;
}

std::uint64_t Recorder::SkipAllBut(std::uint64_t edges, std::uint64_t keep) {
  if (edges <= keep) return edges;
  const std::uint64_t skipped = edges - keep;
  counter_ = static_cast<std::uint16_t>((counter_ + skipped) & kAddressMask);
  next_edge_ns_ += skipped * clock_.period_ns;
  samples_recorded_ += skipped;
  return keep;
}

void Recorder::RecordOne() {
  const std::uint64_t t1 = next_edge_ns_;
  const std::uint64_t t2 = unit_mode_[0] == kUnitDoubleRate ? t1 + clock_.period_ns / 2 : t1;
  next_edge_ns_ += clock_.period_ns;
  ++samples_recorded_;

  const SampleCodes codes = source_.Convert(t1, t2);
  const std::uint16_t address = counter_;
  if (unit_mode_[0] != kUnitIdle) memory_[0][address] = codes.converter1;
  if (unit_mode_[1] != kUnitIdle) memory_[1][address] = codes.converter2;
  if (unit_mode_[0] != kUnitIdle || unit_mode_[1] != kUnitIdle) written_in_arm_[address] = arms_;
  const bool fired1 = comparators_[0].Clock(codes.converter1, codes.external_high);
  const bool fired2 = comparators_[1].Clock(codes.converter2, codes.external_high);
  counter_ = (counter_ + 1) & kAddressMask;

  if (triggered_) {
    if (remaining_ > 0) --remaining_;
    if (remaining_ == 0 && !stuck_busy_) stopped_ = true;
    return;
  }
  const bool primed = primed_;
  primed_ = false;
  if (!SelectedTriggerFires(fired1, fired2)) return;
  triggered_ = true;
  trigger_address_ = address;
  remaining_ = post_count_ + (primed ? kPrimedTail : kTriggerTail);
}

bool Recorder::SelectedTriggerFires(bool fired1, bool fired2) const {
  switch (trigger_select_) {
    case kSelectUnit1:
      return fired1;
    case kSelectUnit2:
      return fired2;
    case kSelectNow:
      return true;
    case kSelectOr:
      return fired1 || fired2;
    case kSelectAnd:
      return comparators_[0].Seen() && comparators_[1].Seen();
    default:
      return false;  // codes 5..255 select nothing
  }
}

}  // namespace vm316::sim
