#include "sim/recorder.h"

#include <algorithm>

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
    unclocked_ = {};
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
  unclocked_ = {};
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
    ClockUnclocked();  // the skipped samples clock nothing
    if (!triggered_) edges = SkipAllBut(edges, kMemorySize);
  }
  // A record that never stops keeps only its last memory-full too.
  if (stuck_busy_ && triggered_) {
    ClockUnclocked();
    edges = SkipAllBut(edges, kMemorySize);
  }
  RecordSamples(edges);
}

std::uint64_t Recorder::RecordSamples(std::uint64_t edges) {
  std::uint64_t done = 0;
  while (done < edges && !stopped_) {
    UpdateUnclocked();
    std::uint64_t run = edges - done;
    // After the trigger the stop ends the run (remaining_ is at least 1 until then).
    if (triggered_ && !stuck_busy_) run = std::min<std::uint64_t>(run, remaining_);
    const std::uint64_t quiet = QuietSamples(run);
    RecordQuiet(quiet);
    done += quiet;
    if (quiet < run) {
      RecordOne();
      ++done;
    }
  }
  return done;
}

std::uint64_t Recorder::QuietSamples(std::uint64_t limit) {
  if (!triggered_) {
    // These trigger on the next sample whatever it shows.
    if (primed_ || trigger_select_ == kSelectNow) return 0;
    if (trigger_select_ == kSelectAnd && comparators_[0].Seen() && comparators_[1].Seen()) {
      return 0;
    }
  }
  for (int unit = 0; unit < 2 && limit > 0; ++unit) {
    // Once the trigger has come, a comparator that has fired can show nothing more: its status
    // bit stays set until the next arm, which starts it afresh.
    if (unclocked_[unit].active || (triggered_ && comparators_[unit].Seen())) continue;
    limit = QuietFor(unit, limit);
  }
  return limit;
}

std::uint64_t Recorder::QuietFor(int unit, std::uint64_t limit) {
  const ComparatorWatch watch = comparators_[unit].Watch();
  if (watch.kind == ComparatorWatch::Kind::kNothing) return limit;
  if (watch.kind == ComparatorWatch::Kind::kAnySample) return 0;
  Lookahead& ahead = lookahead_[unit];
  const std::uint64_t t = next_edge_ns_;
  const bool same = ahead.known && ahead.watch.kind == watch.kind &&
                    ahead.watch.below == watch.below && ahead.watch.at_least == watch.at_least &&
                    ahead.watch.external_high == watch.external_high;
  if (!same || t > ahead.until_ns || (t == ahead.until_ns && !ahead.change)) {
    // Converter 2 samples half a period later in double rate; the external input is watched at
    // converter 1's instants.
    const bool late =
        unit == 1 && unit_mode_[0] == kUnitDoubleRate && watch.kind == ComparatorWatch::Kind::kCode;
    const std::uint64_t offset = late ? clock_.period_ns / 2 : 0;
    // After the trigger the record ends within the limit: nothing beyond it is of use.
    const std::uint64_t ahead_samples =
        triggered_ && !stuck_busy_ ? limit : std::max(limit, kLookaheadSamples);
    const std::uint64_t first =
        source_.FirstTaken(watch, unit + 1, t + offset, clock_.period_ns, ahead_samples);
    ahead = {true, watch, t + first * clock_.period_ns, first < ahead_samples};
  }
  return std::min(limit, (ahead.until_ns - t) / clock_.period_ns);
}

void Recorder::RecordQuiet(std::uint64_t samples) {
  if (samples == 0) return;
  Write(counter_, next_edge_ns_, samples);
  counter_ = static_cast<std::uint16_t>((counter_ + samples) & kAddressMask);
  next_edge_ns_ += samples * clock_.period_ns;
  samples_recorded_ += samples;
  if (triggered_) {
    remaining_ -= static_cast<std::uint32_t>(std::min<std::uint64_t>(samples, remaining_));
    if (remaining_ == 0 && !stuck_busy_) stopped_ = true;
  }
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

  const std::uint8_t code1 = source_.ConvertAt(1, t1);
  const std::uint8_t code2 = source_.ConvertAt(2, t2);
  const bool external_high = source_.ExternalHighAt(t1);
  const std::uint16_t address = counter_;
  Write(address, t1, 1);
  const bool fired1 = !unclocked_[0].active && comparators_[0].Clock(code1, external_high);
  const bool fired2 = !unclocked_[1].active && comparators_[1].Clock(code2, external_high);
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

void Recorder::Write(std::uint16_t address, std::uint64_t t_ns, std::uint64_t samples) {
  Span next;
  next.converter1 = unit_mode_[0] != kUnitIdle;
  next.converter2 = unit_mode_[1] != kUnitIdle;
  if (!next.converter1 && !next.converter2) return;
  next.double_rate = unit_mode_[0] == kUnitDoubleRate;
  next.period_ns = clock_.period_ns;
  next.arm = arms_;
  // The memory keeps one memory-full: of more samples only the last ones stay.
  const std::uint64_t kept = std::min<std::uint64_t>(samples, kMemorySize);
  next.address = static_cast<std::uint16_t>((address + (samples - kept)) & kAddressMask);
  next.first_ns = t_ns + (samples - kept) * next.period_ns;
  next.count = static_cast<std::uint32_t>(kept);
  if (!spans_.empty()) {
    Span& last = spans_.back();
    const bool continues = last.converter1 == next.converter1 &&
                           last.converter2 == next.converter2 &&
                           last.double_rate == next.double_rate && last.arm == next.arm &&
                           last.period_ns == next.period_ns && samples == kept &&
                           ((last.address + last.count) & kAddressMask) == next.address &&
                           last.first_ns + last.count * last.period_ns == next.first_ns;
    if (continues) {
      const std::uint64_t total = std::uint64_t{last.count} + next.count;
      const std::uint64_t drop = total > kMemorySize ? total - kMemorySize : 0;
      last.address = static_cast<std::uint16_t>((last.address + drop) & kAddressMask);
      last.first_ns += drop * last.period_ns;
      last.count = static_cast<std::uint32_t>(total - drop);
      if (drop > 0) last.id = next_span_id_++;  // it went round: its locations hold new samples
    } else {
      next.id = next_span_id_++;
      spans_.push_back(next);
    }
  } else {
    next.id = next_span_id_++;
    spans_.push_back(next);
  }
  if (spans_.size() > kMostSpans) {
    HideOverwritten();
    // What still shows of the oldest spans goes into the memory now.
    while (spans_.size() > kMostSpans) {
      MaterializeSpan(spans_.front());
      spans_.erase(spans_.begin());
    }
  }
}

void Recorder::HideOverwritten() {
  // What a span writes hides the same locations of older spans of (at most) the same
  // converters: those are cut down to what still shows, or dropped. Each record starts at the
  // arm address, so a newer one hides the start of an older one.
  for (std::size_t n = spans_.size(); n-- > 1;) {
    const Span& newer = spans_[n];
    std::size_t kept = 0;
    for (std::size_t i = 0; i < n; ++i) {
      Span older = spans_[i];
      const bool same_converters =
          (!older.converter1 || newer.converter1) && (!older.converter2 || newer.converter2);
      if (same_converters) {
        const std::uint32_t into_newer = (older.address - newer.address) & kAddressMask;
        if (into_newer < newer.count) {
          const std::uint32_t cut = std::min(older.count, newer.count - into_newer);
          older.address = static_cast<std::uint16_t>((older.address + cut) & kAddressMask);
          older.first_ns += cut * older.period_ns;
          older.count -= cut;
        }
        const std::uint32_t into_older = (newer.address - older.address) & kAddressMask;
        if (older.count > 0 && into_older < older.count &&
            into_older + std::uint64_t{newer.count} >= older.count) {
          older.count = into_older;
        }
        if (older.count == 0) continue;
      }
      spans_[kept++] = older;
    }
    // The newer spans move down over the dropped ones.
    const std::size_t dropped = n - kept;
    for (std::size_t i = n; i < spans_.size(); ++i) spans_[i - dropped] = spans_[i];
    spans_.resize(spans_.size() - dropped);
    n -= dropped;
  }
}

void Recorder::MaterializeSpan(const Span& span) const {
  for (std::uint32_t i = 0; i < span.count; ++i) {
    const auto address = static_cast<std::uint16_t>((span.address + i) & kAddressMask);
    for (int c = 1; c <= 2; ++c) {
      if (!span.Writes(c)) continue;
      if (held_span_[c - 1][address] != span.id) {
        memory_[c - 1][address] = source_.ConvertAt(c, span.TimeOf(c, i));
        held_span_[c - 1][address] = span.id;
      }
    }
    written_in_arm_[address] = span.arm;
  }
}

void Recorder::Materialize() const {
  for (const Span& span : spans_) MaterializeSpan(span);
  spans_.clear();
}

std::uint8_t Recorder::SampleByte(int converter) const {
  // The newest span that wrote this converter here holds its byte; else the memory does.
  for (auto span = spans_.rbegin(); span != spans_.rend(); ++span) {
    if (!span->Writes(converter)) continue;
    const auto offset = static_cast<std::uint32_t>((counter_ - span->address) & kAddressMask);
    if (offset >= span->count) continue;
    std::uint8_t& byte = memory_[converter - 1][counter_];
    std::uint32_t& held = held_span_[converter - 1][counter_];
    if (held != span->id) {
      byte = source_.ConvertAt(converter, span->TimeOf(converter, offset));
      held = span->id;
    }
    return byte;
  }
  return memory_[converter - 1][counter_];
}

bool Recorder::SelectLooksAt(int unit) const {
  // Whether the select code triggers on this comparator's firing (AND only on its status).
  switch (trigger_select_) {
    case kSelectUnit1:
      return unit == 0;
    case kSelectUnit2:
      return unit == 1;
    case kSelectOr:
      return true;
    default:
      return false;
  }
}

void Recorder::UpdateUnclocked() {
  for (int unit = 0; unit < 2; ++unit) {
    if (triggered_) return;  // nothing of them shows any more but the status bits
    const bool unseen = comparators_[unit].Seen() && !SelectLooksAt(unit);
    Unclocked& unclocked = unclocked_[unit];
    if (unclocked.active && !unseen) {
      ClockSince(unit);
    } else if (!unclocked.active && unseen) {
      unclocked = {true, next_edge_ns_};
    }
  }
}

void Recorder::ClockUnclocked() {
  for (int unit = 0; unit < 2; ++unit) {
    if (unclocked_[unit].active) ClockSince(unit);
  }
}

void Recorder::ClockSince(int unit) {
  Unclocked& unclocked = unclocked_[unit];
  unclocked.active = false;
  lookahead_[unit] = {};
  if (triggered_ || !clock_.IsRunning() || next_edge_ns_ <= unclocked.since_ns) return;
  const std::uint64_t period = clock_.period_ns;
  const std::uint64_t count = (next_edge_ns_ - unclocked.since_ns) / period;
  TriggerComparator& comparator = comparators_[unit];
  const ComparatorWatch deciding = comparator.Deciding();
  if (deciding.kind == ComparatorWatch::Kind::kAnySample) {
    const std::uint64_t t = unclocked.since_ns + (count - 1) * period;
    comparator.Clock(0, source_.ExternalHighAt(t));
  } else if (deciding.kind == ComparatorWatch::Kind::kCode) {
    const std::uint64_t offset = unit == 1 && unit_mode_[0] == kUnitDoubleRate ? period / 2 : 0;
    const std::uint64_t t = unclocked.since_ns + offset;
    const std::uint64_t k = source_.LastTaken(deciding, unit + 1, t, period, count);
    if (k < count) comparator.Clock(source_.ConvertAt(unit + 1, t + k * period), false);
  }
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
